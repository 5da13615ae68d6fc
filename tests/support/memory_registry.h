// A registry in memory, for tests that must not touch the system's: values by
// root, key and name; every key can be made to refuse opening.
#pragma once

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <variant>

#include "platform/registry.h"

namespace pw::test {

class MemoryRegistry final : public Registry {
 public:
  using Value = std::variant<std::string, std::uint32_t>;
  using Name = std::tuple<RegistryRoot, std::string, std::string>;

  bool KeyExists(RegistryRoot root, std::string_view key) override { return keys.contains({root, std::string(key)}); }
  bool CreateKey(RegistryRoot root, std::string_view key) override {
    if (refuse) return false;
    keys.insert({root, std::string(key)});
    return true;
  }
  std::optional<std::string> ReadString(RegistryRoot root, std::string_view key, std::string_view name) override {
    return Read<std::string>(root, key, name);
  }
  std::optional<std::uint32_t> ReadDword(RegistryRoot root, std::string_view key, std::string_view name) override {
    return Read<std::uint32_t>(root, key, name);
  }
  bool WriteString(RegistryRoot root, std::string_view key, std::string_view name, std::string_view value) override {
    return Write(root, key, name, std::string(value));
  }
  bool WriteDword(RegistryRoot root, std::string_view key, std::string_view name, std::uint32_t value) override {
    return Write(root, key, name, value);
  }

  std::set<std::pair<RegistryRoot, std::string>> keys;
  std::map<Name, Value> values;
  bool refuse = false;  ///< no key can be opened or created

 private:
  template <class T>
  std::optional<T> Read(RegistryRoot root, std::string_view key, std::string_view name) {
    if (refuse) return std::nullopt;
    const auto it = values.find({root, std::string(key), std::string(name)});
    if (it == values.end() || !std::holds_alternative<T>(it->second)) return std::nullopt;
    return std::get<T>(it->second);
  }
  bool Write(RegistryRoot root, std::string_view key, std::string_view name, Value value) {
    if (!CreateKey(root, key)) return false;
    values[{root, std::string(key), std::string(name)}] = std::move(value);
    return true;
  }
};

}  // namespace pw::test
