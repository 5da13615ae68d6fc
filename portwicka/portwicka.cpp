// PortwickA's start-up, command line and transfer requests.
#include "portwicka/portwicka.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <system_error>
#include <utility>

#include "common/ansi_string.h"
#include "content/history_log.h"
#include "library/portwick_library.h"
#include "platform/codepage.h"
#include "platform/os_version.h"

namespace pw {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRefusedExtensions = ".FLD.BNF.TMP.EXE.BAT.DLL";
constexpr std::string_view kProgramExtensionsPicked = ".PD3.PD4.FN3.FN4.BMP.JPG.WAV.";
constexpr std::string_view kProgramExtensions = ".PD3.PD4.FN3.FN4.JPG.BMP.WAV";
constexpr std::array<std::int64_t, 6> kSpeeds = {9600, 19200, 38400, 57600, 115200, 460800};

// A substring test as the system makes it: an empty text is never found.
bool Within(std::string_view list, std::string_view part) {
  return !part.empty() && list.find(part) != std::string_view::npos;
}

std::string UpperExtension(const fs::path& file) { return UpperAscii(ToAnsi(Utf8FromPath(file.extension()))); }

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// The first line of a field file with blanks removed at both ends; nothing
// when it cannot be read.
std::optional<AnsiString> FieldFileList(const fs::path& fldFile) {
  std::ifstream in(fldFile, std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  return TrimB(line);
}

}  // namespace

std::int64_t SpeedParameter(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  std::int32_t value = 0;
  if (!ParseDecimal(text, value)) return 460800;
  return negative ? -std::int64_t{value} : value;
}

bool RefusedForSending(std::string_view upperExtension) { return Within(kRefusedExtensions, upperExtension); }
bool SentAsDataFile(std::string_view upperExtension) { return !Within(kProgramExtensionsPicked, upperExtension); }
bool SentWithoutFieldList(std::string_view upperExtension) { return Within(kProgramExtensions, upperExtension); }

fs::path FieldFileOf(const fs::path& pcFile) {
  fs::path fld = pcFile;
  fld.replace_extension(".fld");
#ifndef _WIN32
  // File names differ by letter case here: take the upper-case twin when only it exists.
  fs::path upper = pcFile;
  upper.replace_extension(".FLD");
  if (!Exists(fld) && Exists(upper)) return upper;
#endif
  return fld;
}

PortwickA::PortwickA(Parts parts) : parts_(std::move(parts)) {}
PortwickA::~PortwickA() = default;

std::optional<int> PortwickA::StartUp(const std::vector<std::string>& args) {
  const Alerts& alerts = parts_.alerts;
  const std::optional<OsVersion> os = GetOsVersion();
  if (!os) {
    alerts.Error(library_text::kNoOsVersion);
    return 1;
  }
  if (!IsNtAtLeast(*os, 5, 1)) {
    alerts.Error(library_text::kOsNotSupported);
    return 1;
  }
  if (parts_.alreadyRunning && parts_.alreadyRunning()) {
    alerts.Error(portwicka_text::kAlreadyRunning);
    return 1;
  }
  const std::optional<fs::path> folder = parts_.settingsFolder(alerts);
  if (!folder) return 1;
  store_ = std::make_unique<SettingsStore>(*folder, parts_.registry, alerts);
  if (!store_->LoadAndCheck()) {
    alerts.Error(portwicka_text::kSetConditions);
    return 1;
  }

  Settings& s = store_->Values();
  const std::string settingsFolder = Utf8FromPath(*folder);
  for (std::string* f : {&s.DefRxFolder, &s.DefTxFolder, &s.LogFolder})
    *f = WithTrailingSeparator(f->empty() ? settingsFolder : *f);
  port_.reset();
  run_ = ARun{AMode::Receive, s.ComName, s.ComSpeed, {}, {}, {}, false};

  if (const std::optional<int> refused = EvaluateCommandLine(args)) return refused;
  if (run_.Mode == AMode::Settings) return std::nullopt;
  return CheckAndOpen();
}

std::optional<int> PortwickA::EvaluateCommandLine(const std::vector<std::string>& args) {
  const Alerts& alerts = parts_.alerts;
  Settings& s = store_->Values();
  const std::size_t count = args.size();
  const auto has = [&](std::size_t position) { return count >= position; };  // 1-based parameter positions
  const auto arg = [&](std::size_t position) -> const std::string& { return args[position - 1]; };
  const auto refuse = [&](std::string_view text) -> std::optional<int> {
    alerts.Error(text);
    return 1;
  };
  const auto takeRxFolder = [&](std::size_t position) -> bool {
    if (!has(position) || arg(position).empty()) return true;
    run_.RxFolder = WithTrailingSeparator(arg(position));
    return FolderExists(run_.RxFolder);
  };
  const auto takeLine = [&](std::size_t first) {  // port, speed, continuous receive, write mode
    if (has(first)) run_.PortName = UpperAscii(arg(first));
    if (has(first + 1)) run_.Speed = SpeedParameter(arg(first + 1));
    if (has(first + 2)) s.RcvMode = arg(first + 2) == "0" ? 0 : 1;
    if (has(first + 3)) s.WrMode = arg(first + 3) == "0" ? 0 : 1;
  };

  if (count == 0) return std::nullopt;
  const std::string command = UpperAscii(arg(1));
  if (command == "-R") {
    takeLine(2);
  } else if (command == "-F") {
    if (!has(6)) return refuse(portwicka_text::kParameterError);
    takeLine(2);
    run_.File = arg(6);
    if (has(7)) run_.FieldList = arg(7);
  } else if (command == "-FA" || command == "-FB") {
    if (!has(command == "-FA" ? 2 : 4)) return refuse(portwicka_text::kParameterError);
    run_.File = arg(2);
    if (has(3)) run_.FieldList = arg(3);
    if (!takeRxFolder(4)) return refuse(portwicka_text::kNoRxFolder);
    if (command == "-FB") {
      run_.AsCommaText = true;
      s.RcvMode = 0;
      s.CsvRcvDat = true;
      s.LastSpace = false;
      s.DblQuoted = false;
    }
  } else if (command == "-S") {
    run_.Mode = AMode::Send;
    if (has(2)) run_.PortName = UpperAscii(arg(2));
    if (has(3)) run_.Speed = SpeedParameter(arg(3));
    if (has(4)) run_.File = arg(4);
    if (has(5)) run_.FieldList = arg(5);
  } else if (command == "-SA") {
    run_.Mode = AMode::Send;
    if (has(2)) run_.File = arg(2);
    if (has(3)) run_.FieldList = arg(3);
  } else if (command == "-SET") {
    run_.Mode = AMode::Settings;
  } else {
    return refuse(portwicka_text::kParameterError);
  }
  return std::nullopt;
}

std::optional<int> PortwickA::CheckAndOpen() {
  const Alerts& alerts = parts_.alerts;
  const Settings& s = store_->Values();
  std::string_view missing;
  if (s.LogEnable && s.LogFolder.empty())
    missing = settings_text::kSetLogFolder;
  else if (s.DefRxFolder.empty())
    missing = settings_text::kSetRxFolder;
  else if (s.DefTxFolder.empty())
    missing = settings_text::kSetTxFolder;
  if (!missing.empty()) {
    alerts.Show(missing, kMbOk | kMbIconWarning);
    return 1;
  }
  if (run_.PortName.compare(0, 3, "COM") != 0) {
    alerts.Error(port_text::kBadPortName);
    return 1;
  }
  if (std::find(kSpeeds.begin(), kSpeeds.end(), run_.Speed) == kSpeeds.end()) {
    alerts.Error(portwicka_text::kBadSpeed);
    return 1;
  }
  port_ = OpenPortDevice(run_.PortName, static_cast<std::uint32_t>(run_.Speed), alerts, parts_.open);
  if (!port_) return 1;
  return std::nullopt;
}

std::string PortwickA::Caption() const { return run_.PortName + " " + std::to_string(run_.Speed) + " bps"; }

WindowPos PortwickA::StoredPosition() { return store_->ReadWindowPos(run_.PortName); }

TransferRequest PortwickA::BaseRequest() const {
  const Settings& s = store_->Values();
  TransferRequest q;
  q.CsvFlg = s.CsvRcvDat;
  q.LastSpFlg = s.LastSpace;
  q.DblQuotFlg = s.DblQuoted;
  q.LogFlag = s.LogEnable;
  q.LogFile = LogFileName(PathFromUtf8(s.LogFolder), run_.PortName, s.LogFileMode, parts_.clock.Now());
  q.Tmp1File = PathFromUtf8(s.DefRxFolder + "portwk1.tmp");
  q.Tmp2File = PathFromUtf8(s.DefRxFolder + "portwk2.tmp");
  return q;
}

TransferRequest PortwickA::ReceiveRequest() const {
  const Settings& s = store_->Values();
  TransferRequest q = BaseRequest();
  q.TxFlag = false;
  q.RxFolder = PathFromUtf8(run_.RxFolder.empty() ? s.DefRxFolder : run_.RxFolder);
  q.RcvMode = s.RcvMode == 1;
  q.WriteMode = s.WrMode == 1;
  if (!run_.File.empty()) {
    q.ChkRcvFName = UpperAscii(ToAnsi(run_.File));
    q.ChkFields = ToAnsi(run_.FieldList);
  }
  return q;
}

std::optional<TransferRequest> PortwickA::SendRequest(const SendChoices& choices) {
  const Alerts& alerts = parts_.alerts;
  const Settings& s = store_->Values();
  fs::path pcFile;
  const bool given = !run_.File.empty();
  if (given) {
    pcFile = PathFromUtf8(run_.File);
    if (!pcFile.has_parent_path()) pcFile = PathFromUtf8(s.DefTxFolder) / pcFile;
    if (!Exists(pcFile)) {
      alerts.Show(portwicka_text::kNoSendFile, kMbOk | kMbIconWarning);
      return std::nullopt;
    }
  } else {
    const std::optional<fs::path> picked = choices.pick ? choices.pick(PathFromUtf8(s.DefTxFolder)) : std::nullopt;
    if (!picked) return std::nullopt;
    pcFile = *picked;
    const std::string extension = UpperExtension(pcFile);
    if (RefusedForSending(extension)) {
      const std::string text = std::string(portwicka_text::kExtensionPrefix) + FromAnsi(extension) +
                               std::string(portwicka_text::kExtensionSuffix);
      ShowError(alerts.Boxes(), portwicka_text::kDataSendTitle, text);
      return std::nullopt;
    }
    if (SentAsDataFile(extension)) {
      if (!Exists(FieldFileOf(pcFile)) && choices.askFields) choices.askFields(pcFile, FieldFileOf(pcFile));
      if (!Exists(FieldFileOf(pcFile))) return std::nullopt;
    }
  }

  const AnsiString bhtFile = UpperAscii(ToAnsi(Utf8FromPath(pcFile.filename())));
  AnsiString fields = ToAnsi(run_.FieldList);
  if (!SentWithoutFieldList(UpperExtension(PathFromUtf8(FromAnsi(bhtFile)))) && fields.empty()) {
    if (given && choices.askForGivenFile && choices.askFields && !Exists(FieldFileOf(pcFile)))
      choices.askFields(pcFile, FieldFileOf(pcFile));
    const std::optional<AnsiString> list = FieldFileList(FieldFileOf(pcFile));
    if (!list) {
      alerts.Error(portwicka_text::kNoFieldFile);
      return std::nullopt;
    }
    if (list->empty()) {
      alerts.Error(portwicka_text::kBadFieldFile);
      return std::nullopt;
    }
    fields = *list;
  }

  TransferRequest q = BaseRequest();
  q.TxFlag = true;
  q.TxFName = pcFile;
  q.BhtFName = bhtFile;
  q.FieldsDat = fields;
  return q;
}

void PortwickA::FormClose(std::optional<WindowPos> position) {
  if (store_) {
    const TransferRequest q = BaseRequest();
    std::error_code ec;
    for (const fs::path& tmp : {q.Tmp1File, q.Tmp2File}) fs::remove(tmp, ec);
    if (store_->Values().DspMode && position) store_->WriteWindowPos(run_.PortName, *position);
  }
  port_.reset();
}

}  // namespace pw
