// The field settings dialog's model.
#include "portwicka/set_fld_form.h"

#include <fstream>

#include "common/ansi_string.h"
#include "library/settings_store.h"
#include "platform/codepage.h"

namespace pw {

void TSetFldForm::FormShow() { SendFileLB = Utf8FromPath(SendFile.filename()); }

char32_t TSetFldForm::FldSEKeyPress(char32_t key) {
  const bool digit = key >= U'0' && key <= U'9';
  return digit || key == U',' || key == U'\b' ? key : 0;
}

bool TSetFldForm::ValidFieldList(std::string_view text) {
  if (text.empty() || text.front() == ',' || text.back() == ',') return false;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = text.find(',', begin);
    const std::string_view item = text.substr(begin, comma == std::string_view::npos ? text.npos : comma - begin);
    std::int32_t width = 0;
    if (!ParseDecimal(item, width) || width < 1 || width > kMaxWidth) return false;
    if (comma == std::string_view::npos) return true;
    begin = comma + 1;
  }
}

void TSetFldForm::SetBtnClick() {
  if (FldSE.empty()) {
    EditFocused = true;
    return;
  }
  const AnsiString text = TrimB(ToAnsi(FldSE));
  if (!ValidFieldList(text)) {
    boxes_.Show(set_fld_text::kSetErrorTitle, set_fld_text::kSetAgain, kMbOk | kMbIconError | kMbTaskModal);
    EditFocused = true;
    return;
  }
  std::ofstream out(FldFile, std::ios::binary | std::ios::trunc);
  if (out) out << text << "\r\n";
  if (!out || !out.flush()) {
    boxes_.Show(set_fld_text::kFileErrorTitle, set_fld_text::kCannotOpen, kMbOk | kMbIconError | kMbTaskModal);
    return;
  }
  out.close();
  Closed = true;
  boxes_.Show(set_fld_text::kCaption, set_fld_text::kSaved, kMbOk | kMbIconInformation | kMbTaskModal);
}

}  // namespace pw
