// The simulated terminal's send batch.
#include "tools/bhtsim/batch.h"

#include <limits>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "engine/ymodem_block.h"

namespace pw::bhtsim {
namespace {

bool FitsHeader(std::string_view name, std::size_t size) {
  return !name.empty() && name.find('\0') == std::string_view::npos &&
         name.size() + 1 + std::to_string(size).size() + 1 <= ymodem::kSmallData;
}

}  // namespace

std::string LineName(std::string_view path, std::string_view as) {
  if (!as.empty()) return std::string(as);
  const std::size_t slash = path.find_last_of('/');
  return UpperAscii(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FieldFileName(std::string_view name) {
  const std::size_t dot = name.find_last_of('.');
  return std::string(name.substr(0, dot)) + ".FLD";
}

std::optional<std::string> FieldFileText(std::string_view name, const Bytes& content, std::string_view fields,
                                         std::string& error) {
  const AnsiString widths = CommasToBlanks(fields);
  FieldLayout layout;
  const std::int32_t record = ParseFieldList(widths, layout);
  if (record == 0) {
    error = "bad field list " + std::string(fields);
    return std::nullopt;
  }
  const auto r = static_cast<std::size_t>(record);
  const bool crlf = content.size() >= r + 2 && content[r] == '\r' && content[r + 1] == '\n';
  const std::size_t unit = crlf ? r + 2 : r;
  if (content.empty() || content.size() % unit != 0) {
    error =
        std::to_string(content.size()) + " bytes are not a whole number of " + std::to_string(unit) + "-byte records";
    return std::nullopt;
  }
  return FieldHeader(name, static_cast<std::int32_t>(content.size()), static_cast<std::int32_t>(content.size() / unit),
                     layout.iNFields, widths);
}

std::optional<std::vector<BatchFile>> BuildBatch(const Options& options, Bytes content, std::string& error) {
  const std::string name = LineName(options.file, options.as);
  if (content.empty()) {
    error = options.file + " is empty";
    return std::nullopt;
  }
  if (content.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    error = options.file + " is too large";
    return std::nullopt;
  }
  if (!FitsHeader(name, content.size())) {
    error = "the name " + name + " does not fit a header block";
    return std::nullopt;
  }
  std::vector<BatchFile> batch;
  if (!options.fields.empty()) {
    const auto text = FieldFileText(name, content, options.fields, error);
    if (!text) return std::nullopt;
    const std::string fldName = FieldFileName(name);
    if (!FitsHeader(fldName, text->size())) {
      error = "the name " + fldName + " does not fit a header block";
      return std::nullopt;
    }
    batch.push_back({fldName, Bytes(text->begin(), text->end())});
  }
  batch.push_back({name, std::move(content)});
  return batch;
}

Bytes RequestBlock(std::string_view name) {
  const std::string text = "#D" + FitB(name, kRequestNameMax);
  Bytes block(ymodem::kSmallBlock);
  ymodem::BuildBlock(block.data(), ymodem::SOH, 0, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return block;
}

}  // namespace pw::bhtsim
