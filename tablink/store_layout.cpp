// The field table of a transfer, from a received field file or from a
// definition's widths, and the names a terminal may never ask for.
#include <algorithm>

#include "tablink/stores.h"

namespace pw::tablink {

namespace {

// A definition's map entry for field \p i (from 0), -1 beyond its fields.
std::int32_t MapEntry(const Definition& def, std::size_t i) {
  const auto mapped = static_cast<std::size_t>(std::clamp(def.FieldCount, 0, kMaxMapFields));
  return i < mapped ? def.FieldMap[i] : -1;
}

}  // namespace

StoreLayout ReceiveLayout(const FieldLayout& received, const Definition& def) {
  StoreLayout layout;
  const auto n = static_cast<std::size_t>(std::clamp(received.iNFields, 0, kMaxFields));
  for (std::size_t i = 0; i < n; ++i)
    layout.Fields.push_back({received.Field[i].Start, received.Field[i].Width, MapEntry(def, i)});
  layout.iRecSize = received.iRecSize;
  layout.iRecSize0 = received.iRecSize0;
  layout.iRecords = received.iRecords;
  return layout;
}

bool SendLayout(std::string_view fieldsDat, const Definition& def, bool useFieldCount, StoreLayout& layout) {
  layout = StoreLayout{};
  const AnsiString trimmed = TrimB(fieldsDat);
  std::string_view rest = trimmed;
  std::vector<std::int32_t> widths;
  std::int64_t total = 0;
  while (true) {
    // Split at each single blank: two blanks in a row give an empty part,
    // which reads as 0 and spoils the list.
    const std::size_t blank = rest.find(' ');
    std::int32_t width = 0;
    ParseDecimal(rest.substr(0, blank), width);
    if (width <= 0 || width > kMaxFieldWidth) return false;
    total += width;
    if (total > kMaxRecordLength) return false;
    widths.push_back(width);
    if (blank == rest.npos) break;
    rest.remove_prefix(blank + 1);
  }

  std::size_t used = widths.size();
  if (useFieldCount) used = std::min(used, static_cast<std::size_t>(std::clamp(def.FieldCount, 0, kMaxMapFields)));
  // A record without fields cannot be sent.
  if (used == 0) return false;
  std::int32_t start = 0;
  for (std::size_t i = 0; i < used; ++i) {
    layout.Fields.push_back({start, widths[i], MapEntry(def, i)});
    start += widths[i];
  }
  layout.iRecSize = start;
  layout.iRecSize0 = start + 2;  // each record is followed by CR LF
  return true;
}

bool IsRefusedSendName(std::string_view bhtName) {
  const std::size_t dot = bhtName.rfind('.');
  if (dot == bhtName.npos) return false;
  const AnsiString ext = UpperAscii(bhtName.substr(dot));
  static constexpr std::string_view kRefused[] = {".PD4", ".PD3", ".FN3", ".EX3", ".JPG", ".BNF"};
  return std::find(std::begin(kRefused), std::end(kRefused), ext) != std::end(kRefused);
}

}  // namespace pw::tablink
