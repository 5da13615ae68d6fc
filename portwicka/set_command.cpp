// -SET through the settings dialog's model.
#include "portwicka/set_command.h"

#include <array>
#include <utility>

#include "library/com_mode_form.h"

namespace pw {

namespace {

constexpr std::array<std::string_view, 2> kOnOff = {"off", "on"};
constexpr std::array<std::string_view, 2> kWrite = {"overwrite", "append"};
constexpr std::array<std::string_view, 3> kPeriods = {"day", "month", "year"};

// The index of \p value among \p words, or -1.
template <std::size_t N>
int IndexOf(const std::array<std::string_view, N>& words, std::string_view value) {
  for (std::size_t i = 0; i < N; ++i)
    if (words[i] == value) return static_cast<int>(i);
  return -1;
}

template <std::size_t N>
std::string_view WordAt(const std::array<std::string_view, N>& words, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < N ? words[static_cast<std::size_t>(index)] : "";
}

template <std::size_t N>
std::string_view ItemAt(const std::array<std::string_view, N>& items, int index) {
  return WordAt(items, index);
}

// Sets the control \p name stands for; false when the name or value is unknown.
bool Apply(TSetComModeForm& f, std::string_view name, std::string_view value) {
  const auto check = [&](CheckControl& c) {
    const int i = IndexOf(kOnOff, value);
    if (i >= 0) c.checked = i == 1;
    return i >= 0;
  };
  const auto list = [](ListControl& l, int i) {
    if (i >= 0) l.index = i;
    return i >= 0;
  };
  if (name == "port") return list(f.ComPortCB, IndexOf(com_mode_text::kComPortItems, value));
  if (name == "speed") {
    const int i = value == "115200" ? 0 : value == "460800" ? 1 : IndexOf(com_mode_text::kComSpeedItems, value);
    return list(f.ComSpeedCB, i);
  }
  if (name == "display") {
    const int i = IndexOf(kOnOff, value);
    return list(f.DspRG, i < 0 ? -1 : 1 - i);
  }
  if (name == "continuous") return check(f.RcvModeChk);
  if (name == "write") return list(f.WrModeCB, IndexOf(kWrite, value));
  if (name == "csv") return check(f.CsvCheck);
  if (name == "lastspace") return check(f.LastSpaceCheck);
  if (name == "quote") return check(f.DblQuotedChk);
  if (name == "log") return check(f.LogCheck);
  if (name == "logperiod") return list(f.LogFileCombo, IndexOf(kPeriods, value));
  EditControl* edit = name == "logfolder"  ? &f.LogFileFolder
                      : name == "rxfolder" ? &f.RxFolder
                      : name == "txfolder" ? &f.TxFolder
                                           : nullptr;
  if (edit) edit->text = std::string(value);
  return edit != nullptr;
}

void List(const TSetComModeForm& f, std::FILE* out) {
  namespace t = com_mode_text;
  const auto line = [out](std::string_view name, std::string_view value, std::string_view label,
                          std::string_view shown) {
    std::fprintf(out, "%.*s=%.*s\t%.*s: %.*s\n", static_cast<int>(name.size()), name.data(),
                 static_cast<int>(value.size()), value.data(), static_cast<int>(label.size()), label.data(),
                 static_cast<int>(shown.size()), shown.data());
  };
  const auto onOff = [](const CheckControl& c) { return kOnOff[c.checked ? 1 : 0]; };
  const auto mark = [](const CheckControl& c) { return c.checked ? std::string_view("☑") : std::string_view("☐"); };
  const std::string_view port = ItemAt(t::kComPortItems, f.ComPortCB.index);
  line("port", port, t::kComPortLabel, port);
  line("speed", f.ComSpeedCB.index == 0 ? "115200" : "460800", t::kComSpeedLabel,
       ItemAt(t::kComSpeedItems, f.ComSpeedCB.index));
  line("display", f.DspRG.index == 0 ? "on" : "off", t::kDspRG, ItemAt(t::kDspItems, f.DspRG.index));
  line("continuous", onOff(f.RcvModeChk), t::kRcvModeChk, mark(f.RcvModeChk));
  line("write", WordAt(kWrite, f.WrModeCB.index), t::kLabel5, ItemAt(t::kWrModeItems, f.WrModeCB.index));
  line("csv", onOff(f.CsvCheck), t::kCsvCheck, mark(f.CsvCheck));
  line("lastspace", onOff(f.LastSpaceCheck), t::kLastSpaceCheck, mark(f.LastSpaceCheck));
  line("quote", onOff(f.DblQuotedChk), t::kDblQuotedChk, mark(f.DblQuotedChk));
  line("log", onOff(f.LogCheck), t::kLogCheck, mark(f.LogCheck));
  line("logperiod", WordAt(kPeriods, f.LogFileCombo.index), t::kLabel2, ItemAt(t::kLogFileItems, f.LogFileCombo.index));
  line("logfolder", f.LogFileFolder.text, t::kLabel1, f.LogFileFolder.text);
  line("rxfolder", f.RxFolder.text, t::kLabel3, f.RxFolder.text);
  line("txfolder", f.TxFolder.text, t::kLabel4, f.TxFolder.text);
}

}  // namespace

int SetCommand(SettingsStore& store, const Alerts& alerts, const std::vector<std::string>& args, std::FILE* out,
               const SerialOpener& open) {
  TSetComModeForm form(store, alerts, open);
  form.FormCreate();
  if (args.empty()) {
    List(form, out);
    return 0;
  }
  const int port = form.ComPortCB.index;
  const bool logging = form.LogCheck.checked;
  for (const std::string& arg : args) {
    const std::size_t equals = arg.find('=');
    if (equals == std::string::npos ||
        !Apply(form, std::string_view(arg).substr(0, equals), std::string_view(arg).substr(equals + 1))) {
      alerts.Error("-SET: " + arg + " is not one of name=value (see portwicka --help)");
      return 1;
    }
  }
  if (form.LogCheck.checked != logging) form.LogCheckClick();
  if (form.ComPortCB.index != port) {
    const std::string before = store.Values().ComName;
    form.ComPortCBChange();
    if (store.Values().ComName == before) return 1;  // the port did not open: its message has been shown
  }
  if (!form.ChangeData()) return 1;
  return store.WriteFile() ? 0 : 1;
}

}  // namespace pw
