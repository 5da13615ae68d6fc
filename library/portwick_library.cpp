#include "library/portwick_library.h"

#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#include "content/field_file.h"
#include "content/history_log.h"
#include "platform/codepage.h"
#include "platform/folders.h"
#include "platform/os_version.h"

#ifndef PW_VERSION
#define PW_VERSION "0.0.0"
#endif

namespace pw {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kCloseComLimitMs = 10000;
constexpr std::uint32_t kCloseComPumpMs = 100;
constexpr std::size_t kMaxBhtName = 12;
constexpr std::size_t kMaxBhtExtension = 4;

std::string CurrentFolder() {
  std::error_code ec;
  return Utf8FromPath(fs::current_path(ec));
}

/// The folder part (with its separator) and the name part of a PC file's path.
std::pair<std::string, std::string> SplitPath(const std::string& utf8) {
  std::size_t cut = utf8.find_last_of(kFolderSeparator == '\\' ? "\\/:" : "/");
  if (cut == std::string::npos) return {std::string(), utf8};
  return {utf8.substr(0, cut + 1), utf8.substr(cut + 1)};
}

/// The extension with its dot, or empty.
std::string_view ExtensionOf(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

/// The kinds that travel unchanged, without a field list.
bool TravelsUnchanged(std::string_view upperExtension) {
  for (std::string_view e : {".PD3", ".PD4", ".FN3", ".BMP", ".JPG", ".WAV", ".LCS", ".ZIP"})
    if (upperExtension == e) return true;
  return false;
}

/// Code 8 unless \p bht is a name the terminal takes (ANSI bytes, upper case).
bool BadBhtName(const AnsiString& bht) {
  return bht.empty() || bht.size() > kMaxBhtName || ExtensionOf(bht).size() > kMaxBhtExtension;
}

bool RewriteEmpty(const fs::path& file) {
  std::ofstream out(file, std::ios::trunc);
  return static_cast<bool>(out);
}

std::size_t Utf8Length(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

/// The open port.
struct PortwickLibrary::Port {
  std::unique_ptr<SerialDevice> device;
  std::string name;  ///< "COM1"
};

PortwickLibrary::PortwickLibrary(LibraryParts parts)
    : parts_(std::move(parts)), alerts_(parts_.boxes, "Portwick.dll通信") {}

PortwickLibrary::~PortwickLibrary() {
  form_.reset();
  port_.reset();
}

std::string PortwickLibrary::Version() {
#if defined(_WIN64)
  return "Portwick " PW_VERSION " (x64)";
#elif defined(_WIN32)
  return "Portwick " PW_VERSION " (x86)";
#else
  return "Portwick " PW_VERSION " (Linux x86_64)";
#endif
}

std::int32_t PortwickLibrary::Handle() const {
  Lock lock(mutex_);
  if (!port_) return -1;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(port_->device->NativeHandle()));
}

// ---------------------------------------------------------------------------
// Start, settings

std::int32_t PortwickLibrary::InitPortwick() {
  Lock lock(mutex_);
  if (initialised_) return -1;
  const std::optional<OsVersion> os = GetOsVersion();
  if (!os) {
    alerts_.Error(library_text::kNoOsVersion);
    return 0;
  }
  if (!IsNtAtLeast(*os, 5, 1)) {
    alerts_.Error(library_text::kOsNotSupported);
    return 0;
  }
  const std::optional<fs::path> folder = parts_.settingsFolder(alerts_);
  if (!folder) return 0;
  initialised_ = true;
  settings_ = std::make_unique<SettingsStore>(*folder, parts_.registry, alerts_);
  if (!settings_->LoadAndCheck()) parts_.host.SettingsDialog(*settings_, alerts_, 0, true);
  return -1;
}

std::int32_t PortwickLibrary::GetComPort(std::string& out) {
  Lock lock(mutex_);
  if (!initialised_) return 0;
  out = port_ ? port_->name : std::string();
  return -1;
}

std::int32_t PortwickLibrary::SetVisible(std::int32_t show, std::int32_t save) {
  Lock lock(mutex_);
  if (!initialised_) return 0;
  settings_->Values().DspMode = show != 0;
  if (save != 0) settings_->SaveDspMode();
  return -1;
}

std::int32_t PortwickLibrary::SetSaveLog(std::int32_t enable, std::int32_t mode, const std::string& folder,
                                         std::int32_t save) {
  Lock lock(mutex_);
  if (!initialised_) return 1;
  Settings& s = settings_->Values();
  if (enable == 0) {
    s.LogEnable = false;
  } else {
    if (mode < 0 || mode > 2) return 2;
    const std::string f = folder.empty() ? CurrentFolder() : folder;
    const std::string root(1, kFolderSeparator), root2(2, kFolderSeparator);
    if (f == root || f == root2 || !FolderExists(f)) return 3;
    s.LogEnable = true;
    s.LogFileMode = mode;
    s.LogFolder = WithTrailingSeparator(f);
  }
  if (save != 0) settings_->SaveLogSettings();
  return 0;
}

std::int32_t PortwickLibrary::SetDefFolder(const std::string& folder, std::int32_t kind, std::int32_t save) {
  Lock lock(mutex_);
  if (!initialised_) return 1;
  const std::string f = folder.empty() ? CurrentFolder() : folder;
  if (!FolderExists(f)) return 2;
  (kind == 0 ? settings_->Values().DefRxFolder : settings_->Values().DefTxFolder) = WithTrailingSeparator(f);
  if (save != 0 && !settings_->WriteFile()) return 2;
  return 0;
}

std::int32_t PortwickLibrary::GetDefFolder(std::int32_t kind, std::string& out) {
  Lock lock(mutex_);
  if (!initialised_) return 0;
  out = kind != 0 ? settings_->Values().DefTxFolder : settings_->Values().DefRxFolder;
  return -1;
}

// ---------------------------------------------------------------------------
// The port

std::int32_t PortwickLibrary::OpenCom(std::intptr_t hostWnd, const std::string& port, std::int32_t speed) {
  Lock lock(mutex_);
  if (!initialised_) return -1;
  if (port_) return Handle();
  std::string name;
  if (!CheckPortSettings(port, static_cast<std::uint32_t>(speed), alerts_, name)) return -1;
  LastOpen.byA = false;
  LastOpen.name = name;
  LastOpen.speed = speed;
  return OpenComPort(hostWnd, name, speed);
}

std::int32_t PortwickLibrary::OpenComA(std::intptr_t hostWnd) {
  Lock lock(mutex_);
  if (!initialised_) return -1;
  if (port_) return Handle();
  LastOpen.byA = true;
  const Settings& s = settings_->Values();
  return OpenComPort(hostWnd, s.ComName, s.ComSpeed);
}

std::int32_t PortwickLibrary::OpenComPort(std::intptr_t hostWnd, const std::string& name, std::int32_t speed) {
  std::unique_ptr<SerialDevice> device =
      OpenPortDevice(name, static_cast<std::uint32_t>(speed), alerts_, parts_.open);
  if (!device) return -1;
  auto form = std::make_shared<TComForm>(*device, parts_.clock, alerts_, *settings_, shared_, name);
  form->Attach(parts_.host.MakeWindow(form, hostWnd));
  ComFormWindow& window = form->Window();
  window.SetCaption(name + " " + std::to_string(speed) + " bps");
  window.MoveTo({1, 1});
  if (settings_->Values().DspMode) window.MoveTo(settings_->ReadWindowPos(name));

  const Settings& s = settings_->Values();
  form->LogFile = LogFileName(PathFromUtf8(s.LogFolder), name, s.LogFileMode, parts_.clock.Now());
  std::string_view failure;
  if (!PrepareTempFiles(*form, failure)) {
  } else if (s.LogEnable && !std::ofstream(form->LogFile, std::ios::app)) {
    failure = library_text::kLogAccess;
  }
  if (!failure.empty()) {
    alerts_.Error(failure);
    return -1;  // the window and the device close here
  }
  form_ = std::move(form);
  port_ = std::make_unique<Port>(Port{std::move(device), name});
  return Handle();
}

bool PortwickLibrary::PrepareTempFiles(TComForm& form, std::string_view& failure) {
  std::error_code ec;
  fs::path temp = TempFolder();
  if (!temp.empty()) {
    const fs::path sub = temp / "Serawin";
    if (fs::is_directory(sub, ec) || fs::create_directory(sub, ec)) temp = sub;
    form.Tmp1File = temp / "portwk1.tmp";
    form.Tmp2File = temp / "portwk2.tmp";
  }
  if (form.Tmp1File.empty()) failure = library_text::kTemp1NoName;
  else if (form.Tmp2File.empty()) failure = library_text::kTemp2NoName;
  else if (!RewriteEmpty(form.Tmp1File)) failure = library_text::kTemp1Access;
  else if (!RewriteEmpty(form.Tmp2File)) failure = library_text::kTemp2Access;
  return failure.empty();
}

void PortwickLibrary::ClosePort() {
  form_.reset();
  port_.reset();
}

std::int32_t PortwickLibrary::SetComMode(std::intptr_t hostWnd) {
  Lock lock(mutex_);
  if (!initialised_ || Busy()) return 0;
  const std::int32_t oldHandle = Handle();
  const bool reopen = port_ != nullptr;
  ClosePort();
  parts_.host.SettingsDialog(*settings_, alerts_, hostWnd, false);
  if (reopen) {
    const std::int32_t h = LastOpen.byA ? OpenComA(hostWnd) : OpenComPort(hostWnd, LastOpen.name, LastOpen.speed);
    // The system may give the closed handle's value again; the host must see
    // that its old handle is gone.
    if (h != -1 && h == oldHandle) port_->device->RenewHandle();
  }
  return -1;
}

std::int32_t PortwickLibrary::BreakCom(std::int32_t handle) {
  Lock lock(mutex_);
  if (!initialised_) return 3;
  if (!port_ || handle == -1) return 1;
  if (handle != Handle()) return 3;
  if (!Busy()) return 2;
  form_->StopBtnClick();
  return 0;
}

std::int32_t PortwickLibrary::CloseCom(std::int32_t handle) {
  Lock lock(mutex_);
  if (!initialised_) return 3;
  if (!port_ || handle == -1) return 1;
  if (handle != Handle()) return 3;
  const std::uint32_t start = parts_.clock.TickCount();
  std::uint32_t from = start;
  while (Busy()) {
    const std::uint32_t now = parts_.clock.TickCount();
    if (now < from) from = now;  // the tick counter wrapped
    if (now - from >= kCloseComLimitMs) break;
    form_->EndCom();
    parts_.host.Pump(kCloseComPumpMs);
  }
  if (Busy()) return 2;
  ClosePort();
  return 0;
}

void PortwickLibrary::Unload(bool processEnding) {
  // A thread that the ending process has stopped may hold the lock.
  Lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return;
  if (port_) {
    if (Busy()) {
      form_->EndCom();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const bool running = form_->Running();
    if (!running) port_.reset();  // closes the port
    if (processEnding || running) {
      // The window is the system's to take down now; a worker that still
      // runs keeps what it uses.
      (void)new std::shared_ptr<TComForm>(std::move(form_));
      (void)port_.release();
    }
    ClosePort();
  }
  initialised_ = false;
}

// ---------------------------------------------------------------------------
// Transfers

std::int32_t PortwickLibrary::CheckTransferCall(std::int32_t handle, bool anyHandle) const {
  if (!initialised_) return 4;
  if (!anyHandle) {
    if (!port_ || handle == -1) return 1;
    if (handle != Handle()) return 3;
  } else if (!port_) {
    return 1;
  }
  if (Busy()) return 4;
  return 0;
}

std::int32_t PortwickLibrary::RunTransfer(Lock& lock, bool send) {
  std::shared_ptr<TComForm> form = form_;
  form->Window().Show(settings_->Values().DspMode);
  if (send) form->Send0();
  else form->Receive0();
  lock.unlock();
  parts_.host.WaitWhile([this] { return Busy(); });
  lock.lock();
  return shared_.TransferResult;
}

std::int32_t PortwickLibrary::Send(std::int32_t handle, const std::string& pcFile, const std::string& bhtName,
                                   const std::string& fields) {
  Lock lock(mutex_);
  if (const std::int32_t refused = CheckTransferCall(handle, false)) return refused;
  shared_.FieldList = ToAnsi(fields);
  return SendChecked(lock, pcFile, bhtName, false);
}

std::int32_t PortwickLibrary::SendA(const std::string& pcFile) {
  const std::string name = SplitPath(pcFile).second;
  if (Utf8Length(ExtensionOf(name)) > kMaxBhtExtension || Utf8Length(name) > kMaxBhtName) return 8;
  Lock lock(mutex_);
  if (const std::int32_t refused = CheckTransferCall(0, true)) return refused;
  shared_.FieldList.clear();
  return SendChecked(lock, pcFile, std::string(), true);
}

std::int32_t PortwickLibrary::SendChecked(Lock& lock, const std::string& pcFile, const std::string& bhtName,
                                          bool fieldsFromFile) {
  TComForm& form = *form_;
  auto [folder, name] = SplitPath(pcFile);
  std::string txFile = pcFile;
  const bool dialog = name.empty();
  if (dialog) {
    const std::string start = folder.empty() ? settings_->Values().DefTxFolder : folder;
    std::optional<std::string> chosen = parts_.host.AskFileToSend(start, 0);
    if (!chosen) return 1;
    txFile = *chosen;
    name = SplitPath(txFile).second;
    fieldsFromFile = true;
  } else {
    if (folder.empty()) {
      folder = WithTrailingSeparator(settings_->Values().DefTxFolder);
      txFile = folder + name;
    }
    if (!FolderExists(folder)) return 5;
    std::error_code ec;
    if (!fs::is_regular_file(PathFromUtf8(txFile), ec)) return 6;
  }
  form.TxFile = PathFromUtf8(txFile);
  form.BhtFile = UpperAscii(ToAnsi(bhtName.empty() ? name : bhtName));
  if (BadBhtName(form.BhtFile)) return 8;
  if (TravelsUnchanged(ExtensionOf(form.BhtFile))) {
    shared_.FieldList.clear();
  } else {
    if (fieldsFromFile || shared_.FieldList.empty()) shared_.FieldList = ReadFldFile(form.TxFile);
    if (shared_.FieldList.empty()) return 7;
  }
  if (!dialog && !std::ifstream(form.TxFile)) return 12;
  return RunTransfer(lock, true);
}

std::int32_t PortwickLibrary::ReceiveChecked(Lock& lock, const std::string& folder, std::int32_t rxMd,
                                             std::int32_t wrMd) {
  form_->RxFolder0 = PathFromUtf8(WithTrailingSeparator(folder));
  form_->RxMd = rxMd;
  form_->WrMd = wrMd;
  return RunTransfer(lock, false);
}

std::int32_t PortwickLibrary::Receive(std::int32_t handle, const std::string& folder, std::int32_t continuous,
                                      std::int32_t append, std::optional<Received>& received) {
  Lock lock(mutex_);
  if (const std::int32_t refused = CheckTransferCall(handle, false)) return refused;
  const std::string f = folder.empty() ? settings_->Values().DefRxFolder : folder;
  if (!FolderExists(f)) return 5;
  shared_.ExpectName.clear();
  shared_.FieldList.clear();
  const std::int32_t code = ReceiveChecked(lock, f, continuous != 0 ? 1 : 0, append != 0 ? 1 : 0);
  received = Received{FromAnsi(shared_.RcvName), shared_.FieldList};
  return code;
}

std::int32_t PortwickLibrary::ReceiveA(std::optional<Received>& received) {
  Lock lock(mutex_);
  if (const std::int32_t refused = CheckTransferCall(0, true)) return refused;
  shared_.ExpectName.clear();
  shared_.FieldList.clear();
  const Settings& s = settings_->Values();
  const std::int32_t code = ReceiveChecked(lock, s.DefRxFolder, s.RcvMode, s.WrMode);
  received = Received{FromAnsi(shared_.RcvName), shared_.FieldList};
  return code;
}

std::int32_t PortwickLibrary::RcvFileChk(std::int32_t handle, const std::string& folder, std::int32_t continuous,
                                         std::int32_t append, const std::string& expectName, std::string& fields) {
  Lock lock(mutex_);
  if (const std::int32_t refused = CheckTransferCall(handle, false)) return refused;
  const std::string f = folder.empty() ? settings_->Values().DefRxFolder : folder;
  if (!FolderExists(f)) return 5;
  if (expectName.empty()) return 19;
  shared_.ExpectName = UpperAscii(ToAnsi(expectName));
  shared_.FieldList = ToAnsi(fields);
  const std::int32_t code = ReceiveChecked(lock, f, continuous != 0 ? 1 : 0, append != 0 ? 1 : 0);
  if (fields.empty()) fields = shared_.FieldList;
  return code;
}

std::int32_t PortwickLibrary::RcvFileChkA(const std::string& expectName, std::string& fields) {
  Lock lock(mutex_);
  if (const std::int32_t refused = CheckTransferCall(0, true)) return refused;
  if (expectName.empty()) return 19;
  shared_.ExpectName = UpperAscii(ToAnsi(expectName));
  shared_.FieldList = ToAnsi(fields);
  const Settings& s = settings_->Values();
  const std::int32_t code = ReceiveChecked(lock, s.DefRxFolder, s.RcvMode, s.WrMode);
  if (fields.empty()) fields = shared_.FieldList;
  return code;
}

}  // namespace pw
