// The programs' command lines, declared as a table of options bound to the
// fields they fill:
//
//   cli::OptionTable table;
//   table.Commands(o.mode, {{"receive", Mode::kReceive}, {"send", Mode::kSend}});
//   table.Add("--port", cli::Text(o.port)).Required();
//   table.Add("--speed", cli::Number(o.speed, 1, 460800));
//   table.Add("--dir", cli::Path(o.dir)).Only({"receive"}).RequiredFor("receive");
//   table.Add("--csv", cli::Flag(o.csv));
//
// An option is "--name VALUE" or "--name=VALUE", or a flag without a value;
// any may be repeated (each value is read in turn). "--help" or "-h" anywhere
// asks for the help text. When the table has commands, the first word must be
// one of them; other words that are not options go to Words, if the table
// takes any. Every mistake is one line, for example
// "--speed: 12x is not a number from 1 to 460800".
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pw::cli {

/// How an option reads its value into its field.
struct Value {
  bool takesValue = true;
  /// Stores \p text; on refusal returns why, as it follows "--name: "
  /// ("12x is not a number from 1 to 460800"). A flag gets an empty text.
  std::function<std::string(std::string_view text)> read;
};

/// A flag: sets \p field.
Value Flag(bool& field);
/// A flag that does \p action.
Value Flag(std::function<void()> action);
/// Text as given; empty text is refused unless \p emptyAllowed.
Value Text(std::string& field, bool emptyAllowed = false);
/// A path; empty is refused.
Value Path(std::filesystem::path& field);
/// Decimal digits only, read into 64 bits and stored through \p store when
/// \p accept takes the number; \p what names the accepted numbers.
Value Number(std::function<void(std::uint64_t)> store, std::function<bool(std::uint64_t)> accept, std::string what);

/// A whole number from \p min to \p max.
template <class T>
Value Number(T& field, std::uint64_t min, std::uint64_t max) {
  return Number([&field](std::uint64_t v) { field = static_cast<T>(v); },
                [min, max](std::uint64_t v) { return v >= min && v <= max; },
                "a number from " + std::to_string(min) + " to " + std::to_string(max));
}
/// A whole number that \p accept takes, described by \p what ("a supported speed").
template <class T>
Value Number(T& field, std::function<bool(std::uint64_t)> accept, std::string what) {
  return Number([&field](std::uint64_t v) { field = static_cast<T>(v); }, std::move(accept), std::move(what));
}
/// One of the given words, each standing for a value of \p field.
template <class T>
Value Choice(T& field, std::vector<std::pair<std::string_view, T>> words) {
  std::string names;
  for (const auto& [word, value] : words) names += (names.empty() ? "" : ", ") + std::string(word);
  return Value{true, [&field, words, names](std::string_view text) -> std::string {
                 for (const auto& [word, value] : words) {
                   if (word == text) {
                     field = value;
                     return {};
                   }
                 }
                 return std::string(text) + " is not one of " + names;
               }};
}

class OptionTable {
 public:
  class Option {
   public:
    /// Only allowed with these commands.
    Option& Only(std::initializer_list<std::string_view> commands);
    /// Must be given ("--port is needed").
    Option& Required();
    /// Must be given with \p command ("receive needs --dir").
    Option& RequiredFor(std::string_view command);
    /// Allowed only together with \p other ("--expect-fields needs --expect").
    Option& Needs(std::string_view other);

   private:
    friend class OptionTable;
    std::string name_;
    Value value_;
    std::vector<std::string> only_, requiredFor_;
    bool required_ = false;
    std::string needs_;
  };

  /// The first word names what to do: one of \p words, each standing for a
  /// value of \p field.
  template <class T>
  void Commands(T& field, std::vector<std::pair<std::string_view, T>> words) {
    commandNames_.clear();
    for (const auto& [word, value] : words) commandNames_.emplace_back(word);
    setCommand_ = [&field, words](std::size_t i) { field = words[i].second; };
  }
  /// Adds an option; the reference stays valid while the table lives.
  Option& Add(std::string_view name, Value value);
  /// Words that are neither the command nor options go to \p words.
  void Words(std::vector<std::string>& words) { words_ = &words; }

  enum class Result { kRun, kHelp, kError };
  /// Reads \p args (without the program's name) into the fields. On kError,
  /// \p error says why in one line and the fields may be half filled.
  Result Parse(const std::vector<std::string_view>& args, std::string& error);

 private:
  std::string CommandList() const;

  std::deque<Option> options_;
  std::vector<std::string> commandNames_;
  std::function<void(std::size_t)> setCommand_;
  std::vector<std::string>* words_ = nullptr;
};

/// The arguments of main() after the program's name.
std::vector<std::string_view> Arguments(int argc, char** argv);

/// For a program's main(): parses \p argc / \p argv with \p table. On --help
/// writes \p usage to standard output and returns 0; on a mistake writes
/// "program: why (see program --help)" to standard error and returns
/// \p errorStatus; returns nothing when the program is to run.
std::optional<int> ParseMain(OptionTable& table, int argc, char** argv, std::string_view program,
                             std::string_view usage, int errorStatus);

}  // namespace pw::cli
