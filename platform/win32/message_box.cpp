// Windows only: MessageBoxW.
#include "platform/message_box.h"

#include <windows.h>

#include "common/utf.h"

namespace pw {

namespace {

class Win32MessageBoxes final : public MessageBoxes {
 public:
  int Show(std::string_view title, std::string_view text, unsigned flags) override {
    const std::u16string t = Utf8ToUtf16(title);
    const std::u16string m = Utf8ToUtf16(text);
    return MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(m.c_str()), reinterpret_cast<const wchar_t*>(t.c_str()),
                       flags);
  }
};

}  // namespace

MessageBoxes& SystemMessageBoxes() {
  static Win32MessageBoxes boxes;
  return boxes;
}

}  // namespace pw
