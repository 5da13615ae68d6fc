// POSIX only: the registry as files. Each key is one text file,
// PORTWICK_DRIVE/registry/HKCU/<key path>.reg (HKLM for the machine), holding
// one value per line: name=sz:text or name=dword:number. Text is escaped
// (\\, \n, \r) so that every value stays on its line. A write replaces the
// whole file through a rename, so a reader never sees half a key.
#include "platform/registry.h"

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/folders.h"

namespace pw {

namespace {

namespace fs = std::filesystem;

struct Value {
  bool isDword = false;
  std::string text;
  std::uint32_t number = 0;
};

using Values = std::map<std::string, Value>;

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      ++i;
      out += s[i] == 'n' ? '\n' : s[i] == 'r' ? '\r' : s[i];
    } else {
      out += s[i];
    }
  }
  return out;
}

bool ValidName(std::string_view name) {
  return name.find_first_of("=\n\r") == std::string_view::npos;
}

class FileRegistry final : public Registry {
 public:
  bool KeyExists(RegistryRoot root, std::string_view key) override {
    std::error_code ec;
    const auto file = KeyFile(root, key);
    return file && fs::is_regular_file(*file, ec);
  }

  bool CreateKey(RegistryRoot root, std::string_view key) override {
    std::lock_guard lock(mutex_);
    const auto file = KeyFile(root, key);
    if (!file) return false;
    std::error_code ec;
    if (fs::is_regular_file(*file, ec)) return true;
    return Store(*file, Values{});
  }

  std::optional<std::string> ReadString(RegistryRoot root, std::string_view key, std::string_view name) override {
    std::lock_guard lock(mutex_);
    const auto v = Find(root, key, name);
    if (!v || v->isDword) return std::nullopt;
    return v->text;
  }

  std::optional<std::uint32_t> ReadDword(RegistryRoot root, std::string_view key, std::string_view name) override {
    std::lock_guard lock(mutex_);
    const auto v = Find(root, key, name);
    if (!v || !v->isDword) return std::nullopt;
    return v->number;
  }

  bool WriteString(RegistryRoot root, std::string_view key, std::string_view name, std::string_view value) override {
    Value v;
    v.text = value;
    return Write(root, key, name, v);
  }

  bool WriteDword(RegistryRoot root, std::string_view key, std::string_view name, std::uint32_t value) override {
    Value v;
    v.isDword = true;
    v.number = value;
    return Write(root, key, name, v);
  }

 private:
  // The file of a key, or nothing when the key path is not a valid one.
  static std::optional<fs::path> KeyFile(RegistryRoot root, std::string_view key) {
    if (!ValidRegistryKey(key)) return std::nullopt;
    std::string relative(key);
    for (char& c : relative)
      if (c == '\\') c = '/';
    fs::path file = SystemDrive() / "registry" / (root == RegistryRoot::CurrentUser ? "HKCU" : "HKLM") / relative;
    file += ".reg";
    return file;
  }

  static std::optional<Values> Load(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    Values values;
    std::string line;
    while (std::getline(in, line)) {
      const auto eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string name = line.substr(0, eq);
      const std::string_view rest = std::string_view(line).substr(eq + 1);
      Value v;
      if (rest.starts_with("sz:")) {
        v.text = Unescape(rest.substr(3));
      } else if (rest.starts_with("dword:")) {
        const auto digits = rest.substr(6);
        v.isDword = true;
        if (std::from_chars(digits.data(), digits.data() + digits.size(), v.number).ec != std::errc{}) continue;
      } else {
        continue;
      }
      values[name] = v;
    }
    return values;
  }

  static bool Store(const fs::path& file, const Values& values) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) return false;
    std::ostringstream text;
    for (const auto& [name, v] : values) {
      if (v.isDword) text << name << "=dword:" << v.number << '\n';
      else text << name << "=sz:" << Escape(v.text) << '\n';
    }
    fs::path temp = file;
    temp += ".tmp" + std::to_string(getpid());
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << text.str();
      out.flush();
      if (!out) {
        fs::remove(temp, ec);
        return false;
      }
    }
    fs::rename(temp, file, ec);
    if (ec) fs::remove(temp, ec);
    return !ec;
  }

  std::optional<Value> Find(RegistryRoot root, std::string_view key, std::string_view name) {
    const auto file = KeyFile(root, key);
    if (!file) return std::nullopt;
    const auto values = Load(*file);
    if (!values) return std::nullopt;
    const auto it = values->find(std::string(name));
    if (it == values->end()) return std::nullopt;
    return it->second;
  }

  bool Write(RegistryRoot root, std::string_view key, std::string_view name, const Value& v) {
    if (!ValidName(name)) return false;
    std::lock_guard lock(mutex_);
    const auto file = KeyFile(root, key);
    if (!file) return false;
    Values values = Load(*file).value_or(Values{});
    values[std::string(name)] = v;
    return Store(*file, values);
  }

  std::mutex mutex_;
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace pw
