// The settings store: Tarnel.cnf, the registry key and the window positions.
#include "library/settings_store.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/folders.h"

namespace pw {

namespace {

namespace fs = std::filesystem;

constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr std::size_t kFileLines = 5;
constexpr std::size_t kFolderBytes = 256;

// The first five lines of the file; a line ends at CR LF, CR or LF, and
// lines missing at the end are empty.
std::vector<AnsiString> SplitLines(const std::string& text) {
  std::vector<AnsiString> lines;
  std::size_t begin = 0;
  while (begin < text.size() && lines.size() < kFileLines) {
    std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end;
    if (begin < text.size() && text[begin] == '\r') ++begin;
    if (begin < text.size() && text[begin] == '\n') ++begin;
  }
  lines.resize(kFileLines);
  return lines;
}

bool FlagAt(std::string_view line, std::size_t position) { return MidB(line, position, 1) == "1"; }

// A folder read from the file: \p n bytes from \p start, blanks removed, in UTF-8.
std::string FolderAt(std::string_view line, std::size_t start) {
  return FromAnsi(TrimB(MidB(line, start, kFolderBytes)));
}

std::string PortName(std::int32_t port) { return "COM" + std::to_string(port); }

}  // namespace

std::string WithTrailingSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != kFolderSeparator) folder += kFolderSeparator;
  return folder;
}

fs::path PathFromUtf8(std::string_view utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8FromPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool FolderExists(std::string_view folder) {
  std::error_code ec;
  return !folder.empty() && fs::is_directory(PathFromUtf8(folder), ec);
}

SettingsStore::SettingsStore(fs::path settingsFolder, Registry& registry, const Alerts& alerts)
    : folder_(std::move(settingsFolder)), registry_(registry), alerts_(alerts) {}

fs::path SettingsStore::FilePath() const { return folder_ / PathFromUtf8(kSettingsFileName); }

bool SettingsStore::ReadFile() {
  std::ifstream in(FilePath(), std::ios::binary);
  if (!in) return false;
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::vector<AnsiString> line = SplitLines(text);
  const std::string settingsFolder = Utf8FromPath(folder_);
  Settings& v = values_;

  std::int32_t port = 0;
  if (!ParseDecimal(MidB(line[0], 1, 2), port) || port < 1 || port > 9) port = 1;
  v.ComPort = port;
  v.ComName = PortName(port);
  std::int32_t speed = 0;
  if (!ParseDecimal(MidB(line[0], 3, 10), speed)) speed = 460800;
  v.ComSpeed = speed == 460800 ? 460800 : 115200;
  v.DspMode = FlagAt(line[0], 13);
  v.RcvMode = FlagAt(line[0], 14) ? 1 : 0;
  v.WrMode = FlagAt(line[0], 15) ? 1 : 0;
  v.CsvRcvDat = FlagAt(line[0], 16);
  v.DblQuoted = FlagAt(line[0], 17);
  v.LastSpace = FlagAt(line[0], 18);

  v.DefRxFolder = FolderAt(line[1], 1);
  if (v.DefRxFolder.empty()) v.DefRxFolder = settingsFolder;
  v.DefTxFolder = FolderAt(line[2], 1);
  if (v.DefTxFolder.empty()) v.DefTxFolder = settingsFolder;

  v.LogEnable = MidB(line[3], 1, 1) == "1";
  v.LogFileMode = 1;
  v.LogFolder.clear();
  if (v.LogEnable) {
    if (!ParseDecimal(MidB(line[3], 2, 1), v.LogFileMode)) v.LogFileMode = 1;
    v.LogFolder = FolderAt(line[3], 3);
    if (!FolderExists(v.LogFolder)) v.LogFolder.clear();
  }
  if (v.LogFolder.empty()) v.LogFolder = settingsFolder;

  v.Reserved = line[4];
  return true;
}

bool SettingsStore::WriteFile() {
  const Settings& v = values_;
  const auto flag = [](bool on) { return on ? '1' : '0'; };
  AnsiString text = ZeroPad(v.ComPort, 2) + ZeroPad(v.ComSpeed, 10);
  text += flag(v.DspMode);
  text += flag(v.RcvMode == 1);
  text += flag(v.WrMode == 1);
  text += flag(v.CsvRcvDat);
  text += flag(v.DblQuoted);
  text += flag(v.LastSpace);
  text += "0\r\n";
  text += ToAnsi(v.DefRxFolder) + "\r\n";
  text += ToAnsi(v.DefTxFolder) + "\r\n";
  text += v.LogEnable ? "1" + ZeroPad(v.LogFileMode, 1) + ToAnsi(v.LogFolder) : AnsiString("0");
  text += "\r\n";
  text += v.Reserved + "\r\n";

  std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
  if (out) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
  }
  if (!out) {
    alerts_.Boxes().Show(settings_text::kFileErrorTitle, settings_text::kFileErrorText,
                         kMbOk | kMbIconWarning | kMbTaskModal | kMbSetForeground);
    return false;
  }
  return true;
}

void SettingsStore::ReadRegistry() {
  const std::string_view key = kPortwickKey;
  if (!registry_.CreateKey(kUser, key)) return;
  const auto number = [&](std::string_view name, std::int32_t missing) {
    const auto value = registry_.ReadDword(kUser, key, name);
    return value ? static_cast<std::int32_t>(*value) : missing;
  };
  const auto flag = [&](std::string_view name, bool missing) {
    const auto value = registry_.ReadDword(kUser, key, name);
    return value ? *value != 0 : missing;
  };
  const std::string settingsFolder = Utf8FromPath(folder_);
  const auto folder = [&](std::string_view name) {
    std::string value = registry_.ReadString(kUser, key, name).value_or("");
    return FolderExists(value) ? value : settingsFolder;
  };
  Settings& v = values_;

  if (const auto port = registry_.ReadDword(kUser, key, "ComPort")) {
    v.ComPort = std::max(static_cast<std::int32_t>(*port), 1);
    v.ComName = PortName(v.ComPort);
  } else {
    v.ComPort = 1;
    v.ComName.clear();
  }
  v.ComSpeed = number("ComSpeed", 460800);
  v.DspMode = flag("DspMode", true);
  v.RcvMode = number("RcvMode", 1);
  v.WrMode = number("WrMode", 1);
  v.CsvRcvDat = flag("CsvRcvDat", false);
  v.DblQuoted = flag("DblQuoted", false);
  v.LastSpace = flag("LastSpace", false);
  v.DefRxFolder = folder("DefRxFolder");
  v.DefTxFolder = folder("DefTxFolder");
  v.LogEnable = flag("LogEnable", false);
  v.LogFileMode = number("LogFileMode", 1);
  v.LogFolder = folder("LogFolder");
}

bool SettingsStore::LoadAndCheck() {
  values_ = Settings{};
  if (!ReadFile()) {
    ReadRegistry();
    WriteFile();  // a failure has shown its message; the settings in memory still count
  }
  return Check();
}

bool SettingsStore::Check() {
  Settings& v = values_;
  std::string_view missing;
  if (v.LogEnable && v.LogFolder.empty())
    missing = settings_text::kSetLogFolder;
  else if (v.DefRxFolder.empty())
    missing = settings_text::kSetRxFolder;
  else if (v.DefTxFolder.empty())
    missing = settings_text::kSetTxFolder;
  if (!missing.empty()) {
    alerts_.Show(missing, kMbOk | kMbIconWarning);
    return false;
  }
  v.LogFolder = WithTrailingSeparator(std::move(v.LogFolder));
  v.DefRxFolder = WithTrailingSeparator(std::move(v.DefRxFolder));
  v.DefTxFolder = WithTrailingSeparator(std::move(v.DefTxFolder));
  v.ComName = PortName(v.ComPort);
  return true;
}

bool SettingsStore::SaveDspMode() {
  return registry_.WriteDword(kUser, kPortwickKey, "DspMode", values_.DspMode ? 1 : 0);
}

bool SettingsStore::SaveLogSettings() {
  const Settings& v = values_;
  bool ok = registry_.WriteDword(kUser, kPortwickKey, "LogEnable", v.LogEnable ? 1 : 0);
  if (v.LogEnable) {
    ok = registry_.WriteDword(kUser, kPortwickKey, "LogFileMode", static_cast<std::uint32_t>(v.LogFileMode)) && ok;
    ok = registry_.WriteString(kUser, kPortwickKey, "LogFolder", v.LogFolder) && ok;
  }
  return ok;
}

WindowPos SettingsStore::ReadWindowPos(std::string_view portName) {
  const std::string key = std::string(kPortwickKey) + "\\" + std::string(portName);
  WindowPos pos;
  if (const auto x = registry_.ReadDword(kUser, key, "DspX")) pos.x = static_cast<std::int32_t>(*x);
  if (const auto y = registry_.ReadDword(kUser, key, "DspY")) pos.y = static_cast<std::int32_t>(*y);
  return pos;
}

bool SettingsStore::WriteWindowPos(std::string_view portName, WindowPos pos) {
  const std::string key = std::string(kPortwickKey) + "\\" + std::string(portName);
  if (!registry_.CreateKey(kUser, key)) return false;
  const bool x = registry_.WriteDword(kUser, key, "DspX", static_cast<std::uint32_t>(pos.x));
  const bool y = registry_.WriteDword(kUser, key, "DspY", static_cast<std::uint32_t>(pos.y));
  return x && y;
}

std::optional<fs::path> FindSettingsFolder(const Alerts& alerts) {
  std::error_code ec;
  const fs::path pub = SystemDrive() / "Users" / "Public";
  if (!fs::is_directory(pub, ec)) {
    alerts.Error(settings_text::kNoSettingsFolder);
    return std::nullopt;
  }
  const fs::path folder = pub / "Tessaly";
  if (!fs::exists(folder, ec)) {
    fs::create_directory(folder, ec);
    if (ec) {
      alerts.Error(settings_text::kCannotMakeSettingsFolder);
      return std::nullopt;
    }
  }
  if (!fs::is_directory(folder, ec)) {  // a file of that name, or a link to nowhere
    alerts.Error(settings_text::kNoSettingsFolder);
    return std::nullopt;
  }
  return folder;
}

}  // namespace pw
