// Tablink's start-up, port and window model.
#include "tablink/tablink.h"

#include <array>
#include <system_error>
#include <thread>

#include "content/history_log.h"
#include "platform/codepage.h"
#include "platform/folders.h"
#include "frontend/program_alerts.h"

namespace pw::tablink {

namespace fs = std::filesystem;
using namespace tablink_text;

namespace {

fs::path PathFromAnsi(std::string_view ansi) {
  const std::string utf8 = FromAnsi(ansi);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

/// \p folder with a separator at its end.
fs::path AsFolder(fs::path folder) {
  if (!folder.empty() && !folder.has_filename()) return folder;
  return folder / "";
}

bool IsFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

}  // namespace

std::string_view SpeedText(std::int32_t speed) {
  switch (speed) {
    case 9600: return " 9.6k";
    case 19200: return " 19.2k";
    case 38400: return " 38.4k";
    case 57600: return " 57.6k";
    case 115200: return " 115.2k";
    case 460800: return " 460.8k";
    default: return " ####";
  }
}

std::string_view StoreKindName(std::int32_t saveType) { return saveType == kSaveExcel ? "Excel" : "Access"; }

bool IsConnectionString(std::string_view dataSource) {
  const AnsiString lower = LowerAscii(TrimB(dataSource));
  return lower.starts_with("dsn=") || lower.starts_with("driver=");
}

std::unique_ptr<SerialDevice> OpenServerPort(std::string_view name, std::uint32_t speed, const Alerts& alerts,
                                             const SerialOpener& open) {
  const std::string cannotOpen = std::string(kCannotOpenPort1) + std::string(name) + std::string(kCannotOpenPort2);
  std::unique_ptr<SerialDevice> device = open(name);
  if (!device) {
    alerts.Error(kPortErrorTitle, std::string(name) + std::string(port_text::kInUse));
    alerts.Error(cannotOpen);
    return nullptr;
  }
  std::string_view failure;
  if (!device->SetQueueSizes(kInputQueueSize, kOutputQueueSize)) failure = kQueueSizes;
  else if (!device->SetEventMask(false)) failure = port_text::kEventMask;
  else if (!device->SetTimeouts(0)) failure = port_text::kTimeouts;
  if (!failure.empty()) {
    device.reset();  // closed before the boxes are shown
    alerts.Error(kPortSetupTitle, failure);
    alerts.Error(cannotOpen);
    return nullptr;
  }
  if (!device->SetLine(speed)) {
    device.reset();
    alerts.Error(kPortSetupTitle, port_text::kLineSettings);
    return nullptr;
  }
  device->Purge();
  return device;
}

Tablink::Tablink(Parts parts) : parts_(std::move(parts)) {}

Tablink::~Tablink() = default;

std::optional<int> Tablink::Refuse(std::string_view text) {
  parts_.alerts.Error(text);
  return 1;
}

std::optional<int> Tablink::StartUp() {
  const std::optional<OsVersion> os = parts_.osVersion();
  if (!os) return Refuse(kNoOsVersion);
  if (!IsNtAtLeast(*os, 5, 1)) return Refuse(kOldOs);
  if (parts_.alreadyRunning && parts_.alreadyRunning()) return Refuse(kAlreadyRunning);
  if (!CheckDefinitions()) return 1;
  MakeWorkFolder();
  if (!CheckDataSource()) return 1;

  portName_ = "COM" + std::to_string(header_.ComPort + 1);
  DspFlag = !header_.HideForm;
  port_ = OpenServerPort(portName_, static_cast<std::uint32_t>(header_.ComSpeed), parts_.alerts, parts_.open);
  if (!port_) return 1;

  const fs::path logFolder = header_.LogFolder.empty() ? workFolder_ : AsFolder(PathFromAnsi(header_.LogFolder));
  settings_.Definitions = definitionPath_;
  settings_.SaveLog = header_.SaveLog;
  settings_.LogFile = LogFileName(logFolder, portName_, header_.LogFileMode, parts_.clock.Now(), "TlnkExe");
  settings_.Store.SaveType = header_.SaveType;
  settings_.Store.Append = header_.WriteMode != 0;
  // Instances on different ports run side by side: each has a temporary
  // file of its own.
  settings_.Store.TmpFile = workFolder_ / ("SerawinExeTmpFile1_" + portName_ + ".Tmp");
  if (header_.SaveType == kSaveExcel || header_.SaveType == kSaveAccess) {
    if (header_.DataSource.empty() || (!IsConnectionString(header_.DataSource) && !IsFile(dataSourcePath_))) {
      port_.reset();
      parts_.alerts.Error(kSettingErrorTitle, std::string(StoreKindName(header_.SaveType)) +
                                                  std::string(kNoDataSourceSetting));
      return 1;
    }
    settings_.Store.DsFolder = IsConnectionString(header_.DataSource) ? workFolder_
                                                                       : AsFolder(dataSourcePath_.parent_path());
  } else {
    settings_.Store.DsFolder = header_.DataSource.empty() ? workFolder_ : AsFolder(PathFromAnsi(header_.DataSource));
  }
  return std::nullopt;
}

bool Tablink::CheckDefinitions() {
  definitionPath_ = parts_.definitions.empty() ? LocateDefinitionFile(parts_.registry) : parts_.definitions;
  std::error_code ec;
  if (!fs::exists(definitionPath_, ec)) return !Refuse(kNoFile);
  DefinitionFile file;
  if (!file.OpenRead(definitionPath_)) return !Refuse(kNoAccess);
  Record r{};
  if (file.RecordCount() < 2 || !file.ReadRecord(0, r)) return !Refuse(kNoData);
  bool matched = false;
  header_ = DecodeHeader(r, MarkerRule::Server, matched);
  if (!matched) return !Refuse(kOldVersion);
  return true;
}

void Tablink::MakeWorkFolder() {
  std::error_code ec;
  const fs::path temp = TempFolder();
  if (temp.empty()) {
    workFolder_ = AsFolder(ProgramFolder());
    return;
  }
  const fs::path sub = temp / "Serawin";
  workFolder_ = AsFolder(IsFolder(sub) || fs::create_directory(sub, ec) ? sub : temp);
}

bool Tablink::CheckDataSource() {
  const std::string source = FromAnsi(header_.DataSource);
  if (header_.SaveType == kSaveExcel || header_.SaveType == kSaveAccess) {
    if (header_.DataSource.empty()) return !Refuse(kNoDataSource);
    if (IsConnectionString(header_.DataSource)) return true;  // checked by connecting
    const fs::path path = PathFromAnsi(header_.DataSource);
    dataSourcePath_ = path.has_parent_path() ? path : workFolder_ / path;
    const fs::path folder = dataSourcePath_.parent_path();
    if (!IsFolder(folder)) return !Refuse(Utf8(folder) + "\r\n" + std::string(kNoDataSourceFolder));
    if (!IsFile(dataSourcePath_))
      return !Refuse(Utf8(dataSourcePath_.filename()) + "\r\n" + std::string(kNoDataSourceFile));
    return true;
  }
  if (header_.DataSource.empty()) return !Refuse(kNoSaveFolderSetting);
  if (!IsFolder(PathFromAnsi(header_.DataSource))) return !Refuse(source + "\r\n" + std::string(kNoSaveFolder));
  return true;
}

bool Tablink::CreateDataObjects() {
  const int missing = parts_.adoObjects ? parts_.adoObjects() : 0;
  if (missing == 0) return true;
  parts_.alerts.Error(kMdacTitle, missing == 1 ? kNoMdac : kMdacError);
  return false;
}

bool Tablink::Connect() {
  if (header_.SaveType != kSaveExcel && header_.SaveType != kSaveAccess) return true;
  const std::string path =
      IsConnectionString(header_.DataSource) ? FromAnsi(header_.DataSource) : Utf8(dataSourcePath_);
  if (parts_.connect) connection_ = parts_.connect(header_.SaveType, path);
  if (connection_) return true;
  parts_.alerts.Error(std::string(StoreKindName(header_.SaveType)) + std::string(kConnectFailed));
  return false;
}

std::string Tablink::Caption() const {
  return std::string(kTablinkTitle) + " " + portName_ + std::string(SpeedText(header_.ComSpeed));
}

Tablink::Position Tablink::StoredPosition() {
  const std::string key = std::string(kTablinkExeKey) + "\\" + portName_;
  Position pos;
  if (const auto x = parts_.registry.ReadDword(RegistryRoot::CurrentUser, key, "DspX"))
    pos.x = static_cast<std::int32_t>(*x);
  if (const auto y = parts_.registry.ReadDword(RegistryRoot::CurrentUser, key, "DspY"))
    pos.y = static_cast<std::int32_t>(*y);
  return pos;
}

bool Tablink::StopBtnClick(TransferWorker& server) {
  if (!server.ChkRcvWait()) {
    server.StopCom();
    return false;
  }
  server.EndCom();
  parts_.clock.Sleep(100);
  server.WaitFor();
  return true;
}

void Tablink::FormClose(std::optional<Position> position) {
  if (position && DspFlag) {
    const std::string key = std::string(kTablinkExeKey) + "\\" + portName_;
    parts_.registry.WriteDword(RegistryRoot::CurrentUser, key, "DspX", static_cast<std::uint32_t>(position->x));
    parts_.registry.WriteDword(RegistryRoot::CurrentUser, key, "DspY", static_cast<std::uint32_t>(position->y));
  }
  port_.reset();
  if (connection_) {
    connection_->GetTable().Close();
    if (connection_->InTransaction()) connection_->RollbackTrans();
  }
  connection_.reset();
}

}  // namespace pw::tablink
