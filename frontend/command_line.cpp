#include "frontend/command_line.h"

#include <algorithm>
#include <cstdio>

#include "common/ansi_string.h"

namespace pw::cli {

namespace {

bool Contains(const std::vector<std::string>& list, std::string_view word) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

std::string Joined(const std::vector<std::string>& words, std::string_view last) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 == words.size() ? last : std::string_view(", ");
    out += words[i];
  }
  return out;
}

}  // namespace

Value Flag(bool& field) {
  return Value{false, [&field](std::string_view) {
                 field = true;
                 return std::string();
               }};
}

Value Flag(std::function<void()> action) {
  return Value{false, [action = std::move(action)](std::string_view) {
                 action();
                 return std::string();
               }};
}

Value Text(std::string& field, bool emptyAllowed) {
  return Value{true, [&field, emptyAllowed](std::string_view text) {
                 if (text.empty() && !emptyAllowed) return std::string("the value is empty");
                 field = text;
                 return std::string();
               }};
}

Value Path(std::filesystem::path& field) {
  return Value{true, [&field](std::string_view text) {
                 if (text.empty()) return std::string("the path is empty");
                 field = std::filesystem::path(text);
                 return std::string();
               }};
}

Value Number(std::function<void(std::uint64_t)> store, std::function<bool(std::uint64_t)> accept, std::string what) {
  return Value{true,
               [store = std::move(store), accept = std::move(accept), what = std::move(what)](std::string_view text) {
                 std::uint64_t v = 0;
                 if (!ParseDecimal(text, v) || !accept(v)) return std::string(text) + " is not " + what;
                 store(v);
                 return std::string();
               }};
}

OptionTable::Option& OptionTable::Option::Only(std::initializer_list<std::string_view> commands) {
  for (std::string_view c : commands) only_.emplace_back(c);
  return *this;
}

OptionTable::Option& OptionTable::Option::Required() {
  required_ = true;
  return *this;
}

OptionTable::Option& OptionTable::Option::RequiredFor(std::string_view command) {
  requiredFor_.emplace_back(command);
  return *this;
}

OptionTable::Option& OptionTable::Option::Needs(std::string_view other) {
  needs_ = other;
  return *this;
}

OptionTable::Option& OptionTable::Add(std::string_view name, Value value) {
  Option& o = options_.emplace_back();
  o.name_ = name;
  o.value_ = std::move(value);
  return o;
}

std::string OptionTable::CommandList() const { return Joined(commandNames_, " or "); }

OptionTable::Result OptionTable::Parse(const std::vector<std::string_view>& args, std::string& error) {
  error.clear();
  const auto fail = [&error](std::string why) {
    error = std::move(why);
    return Result::kError;
  };
  if (std::any_of(args.begin(), args.end(), [](std::string_view a) { return a == "--help" || a == "-h"; }))
    return Result::kHelp;

  std::size_t i = 0;
  std::string command;
  if (!commandNames_.empty()) {
    if (args.empty() || args[0].substr(0, 1) == "-") return fail("say " + CommandList());
    const auto it = std::find(commandNames_.begin(), commandNames_.end(), args[0]);
    if (it == commandNames_.end())
      return fail("the first word must be " + CommandList() + ", not " + std::string(args[0]));
    command = *it;
    setCommand_(static_cast<std::size_t>(it - commandNames_.begin()));
    i = 1;
  }

  std::vector<const Option*> given;
  for (; i < args.size(); ++i) {
    std::string_view name = args[i];
    if (name.substr(0, 1) != "-") {
      if (!words_) return fail("unexpected word " + std::string(name));
      words_->emplace_back(name);
      continue;
    }
    std::optional<std::string_view> value;
    if (const std::size_t eq = name.find('='); name.substr(0, 2) == "--" && eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    const auto option =
        std::find_if(options_.begin(), options_.end(), [&](const Option& o) { return o.name_ == name; });
    if (option == options_.end()) return fail("unknown option " + std::string(name));
    if (!option->value_.takesValue && value) return fail(std::string(name) + " takes no value");
    if (option->value_.takesValue && !value) {
      if (i + 1 >= args.size()) return fail(std::string(name) + " needs a value");
      value = args[++i];
    }
    if (std::string why = option->value_.read(value.value_or("")); !why.empty())
      return fail(std::string(name) + ": " + why);
    given.push_back(&*option);
  }

  const auto wasGiven = [&given](std::string_view name) {
    return std::any_of(given.begin(), given.end(), [&](const Option* o) { return o->name_ == name; });
  };
  for (const Option* o : given) {
    if (!o->only_.empty() && !Contains(o->only_, command))
      return fail(o->name_ + " is for " + Joined(o->only_, " and ") + " only");
    if (!o->needs_.empty() && !wasGiven(o->needs_)) return fail(o->name_ + " needs " + o->needs_);
  }
  for (const Option& o : options_) {
    if (wasGiven(o.name_)) continue;
    if (o.required_) return fail(o.name_ + " is needed");
    if (Contains(o.requiredFor_, command)) return fail(command + " needs " + o.name_);
  }
  return Result::kRun;
}

std::vector<std::string_view> Arguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string_view>(argv + 1, argv + argc) : std::vector<std::string_view>();
}

std::optional<int> ParseMain(OptionTable& table, int argc, char** argv, std::string_view program,
                             std::string_view usage, int errorStatus) {
  std::string error;
  switch (table.Parse(Arguments(argc, argv), error)) {
    case OptionTable::Result::kRun:
      return std::nullopt;
    case OptionTable::Result::kHelp:
      std::fwrite(usage.data(), 1, usage.size(), stdout);
      return 0;
    case OptionTable::Result::kError:
      break;
  }
  const std::string name(program);
  std::fprintf(stderr, "%s: %s (see %s --help)\n", name.c_str(), error.c_str(), name.c_str());
  return errorStatus;
}

}  // namespace pw::cli
