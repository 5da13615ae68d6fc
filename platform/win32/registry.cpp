// Windows only: the registry.
#include "platform/registry.h"

#include <windows.h>

#include "common/utf.h"

namespace pw {

namespace {

std::wstring Wide(std::string_view s) {
  const std::u16string w = Utf8ToUtf16(s);
  return std::wstring(w.begin(), w.end());
}

HKEY RootKey(RegistryRoot root) { return root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

class Key {
 public:
  Key(RegistryRoot root, std::string_view key, bool create, REGSAM access) {
    if (!ValidRegistryKey(key)) return;
    const std::wstring path = Wide(key);
    const LONG rc = create ? RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr, 0, access, nullptr, &h_, nullptr)
                           : RegOpenKeyExW(RootKey(root), path.c_str(), 0, access, &h_);
    if (rc != ERROR_SUCCESS) h_ = nullptr;
  }
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

class Win32Registry final : public Registry {
 public:
  bool KeyExists(RegistryRoot root, std::string_view key) override {
    return Key(root, key, false, KEY_READ).get() != nullptr;
  }

  bool CreateKey(RegistryRoot root, std::string_view key) override {
    return Key(root, key, true, KEY_ALL_ACCESS).get() != nullptr;
  }

  std::optional<std::string> ReadString(RegistryRoot root, std::string_view key, std::string_view name) override {
    Key k(root, key, false, KEY_READ);
    if (!k.get()) return std::nullopt;
    const std::wstring n = Wide(name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), n.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
      return std::nullopt;
    std::u16string value(size / sizeof(char16_t) + 1, u'\0');
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(char16_t));
    if (RegQueryValueExW(k.get(), n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) !=
        ERROR_SUCCESS)
      return std::nullopt;
    value.resize(bytes / sizeof(char16_t));
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    return Utf16ToUtf8(value);
  }

  std::optional<std::uint32_t> ReadDword(RegistryRoot root, std::string_view key, std::string_view name) override {
    Key k(root, key, false, KEY_READ);
    if (!k.get()) return std::nullopt;
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExW(k.get(), Wide(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
      return std::nullopt;
    return value;
  }

  bool WriteString(RegistryRoot root, std::string_view key, std::string_view name, std::string_view value) override {
    Key k(root, key, true, KEY_ALL_ACCESS);
    if (!k.get()) return false;
    const std::u16string v = Utf8ToUtf16(value);
    return RegSetValueExW(k.get(), Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                          static_cast<DWORD>((v.size() + 1) * sizeof(char16_t))) == ERROR_SUCCESS;
  }

  bool WriteDword(RegistryRoot root, std::string_view key, std::string_view name, std::uint32_t value) override {
    Key k(root, key, true, KEY_ALL_ACCESS);
    if (!k.get()) return false;
    const DWORD v = value;
    return RegSetValueExW(k.get(), Wide(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) ==
           ERROR_SUCCESS;
  }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace pw
