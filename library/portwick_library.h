// The library's state and the algorithms of its 25 exports, in UTF-8 text.
// The exports (exports.cpp) convert the host's text and call one instance of
// it; tests make their own instances over fakes.
//
// Threads: the host calls from one thread; BreakCom and CloseCom may also come
// from another (Linux hosts stop a transfer that way). A lock guards the state;
// it is never held while a call waits for a transfer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ansi_string.h"
#include "engine/com_port.h"
#include "library/com_form.h"
#include "library/settings_store.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/registry.h"

namespace pw {

/// Library texts (UTF-8).
namespace library_text {
inline constexpr std::string_view kNoOsVersion = "Windowsﾊﾞｰｼﾞｮﾝ情報を取得できません！！";
inline constexpr std::string_view kOsNotSupported = "お使いのOSでは本ソフトウェアはご利用できません。";
inline constexpr std::string_view kTemp1NoName = "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ1が作成できません";
inline constexpr std::string_view kTemp2NoName = "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ2が作成できません";
inline constexpr std::string_view kTemp1Access = "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ1にｱｸｾｽできません";
inline constexpr std::string_view kTemp2Access = "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ2にｱｸｾｽできません";
inline constexpr std::string_view kLogAccess = "通信履歴保存ﾌｧｲﾙにｱｸｾｽできません";
}  // namespace library_text

/// What the library needs of the system where it runs: its windows, the wait
/// of the host's thread, and its dialogs. Windows and Linux each have one.
class LibraryHost {
 public:
  virtual ~LibraryHost() = default;
  /// The progress window of \p form, owned by \p ownerWnd.
  virtual std::unique_ptr<ComFormWindow> MakeWindow(const std::shared_ptr<TComForm>& form,
                                                    std::intptr_t ownerWnd) = 0;
  /// On the host's thread: runs the window's events until \p busy is false.
  virtual void WaitWhile(const std::function<bool()>& busy) = 0;
  /// On the host's thread: runs the window's events for about \p ms.
  virtual void Pump(std::uint32_t ms) = 0;
  /// The settings dialog, modal; returns when it has closed. Where no dialog
  /// can open, tells \p why through \p alerts and reads the settings again.
  virtual void SettingsDialog(SettingsStore& store, const Alerts& alerts, std::intptr_t ownerWnd,
                              bool incomplete) = 0;
  /// The open-file dialog of Send; the chosen file (UTF-8), or nothing when
  /// cancelled or where no dialog can open.
  virtual std::optional<std::string> AskFileToSend(const std::string& startFolder, std::intptr_t ownerWnd) = 0;
};

/// The platform's host (Win32 windows, or none on Linux).
LibraryHost& SystemLibraryHost();

struct LibraryParts {
  LibraryHost& host;
  MessageBoxes& boxes;
  Registry& registry;
  Clock& clock;
  SerialOpener open = OpenSerialDevice;
  /// The settings folder, or nothing after its message.
  std::function<std::optional<std::filesystem::path>(const Alerts&)> settingsFolder = FindSettingsFolder;
};

class PortwickLibrary {
 public:
  explicit PortwickLibrary(LibraryParts parts);
  ~PortwickLibrary();
  PortwickLibrary(const PortwickLibrary&) = delete;
  PortwickLibrary& operator=(const PortwickLibrary&) = delete;

  std::int32_t InitPortwick();
  static std::string Version();
  std::int32_t OpenCom(std::intptr_t hostWnd, const std::string& port, std::int32_t speed);
  std::int32_t OpenComA(std::intptr_t hostWnd);
  /// -1 with the port name in \p out; 0 when not initialised.
  std::int32_t GetComPort(std::string& out);
  std::int32_t SetVisible(std::int32_t show, std::int32_t save);
  std::int32_t SetSaveLog(std::int32_t enable, std::int32_t mode, const std::string& folder, std::int32_t save);
  std::int32_t SetDefFolder(const std::string& folder, std::int32_t kind, std::int32_t save);
  std::int32_t GetDefFolder(std::int32_t kind, std::string& out);
  std::int32_t SetComMode(std::intptr_t hostWnd);
  std::int32_t BreakCom(std::int32_t handle);
  std::int32_t CloseCom(std::int32_t handle);

  std::int32_t Send(std::int32_t handle, const std::string& pcFile, const std::string& bhtName,
                    const std::string& fields);
  std::int32_t SendA(const std::string& pcFile);
  /// What a receive gives back once it has run: the last file's name
  /// (UTF-8) and its field list, both empty after a failed receive.
  struct Received {
    std::string name, fields;
  };
  std::int32_t Receive(std::int32_t handle, const std::string& folder, std::int32_t continuous, std::int32_t append,
                       std::optional<Received>& received);
  std::int32_t ReceiveA(std::optional<Received>& received);
  /// \p fields: in, the list the file must carry; out, the received list when it came in empty.
  std::int32_t RcvFileChk(std::int32_t handle, const std::string& folder, std::int32_t continuous,
                          std::int32_t append, const std::string& expectName, std::string& fields);
  std::int32_t RcvFileChkA(const std::string& expectName, std::string& fields);

  /// The unloading of the library: the forced end of a running transfer,
  /// 100 ms, the port closed. Never waits for a thread. When the process
  /// ends, no window is touched.
  void Unload(bool processEnding);

  /// For tests: the open port's handle as the interface gives it, or -1.
  std::int32_t Handle() const;

 private:
  struct Port;
  using Lock = std::unique_lock<std::recursive_mutex>;

  std::int32_t OpenComPort(std::intptr_t hostWnd, const std::string& name, std::int32_t speed);
  /// Names the temporary files and makes them empty; false with the failure's message.
  bool PrepareTempFiles(TComForm& form, std::string_view& failure);
  void ClosePort();
  /// 1, 3 or 4 for a transfer call that cannot run now (handle checks unless
  /// \p anyHandle); 0 when it may.
  std::int32_t CheckTransferCall(std::int32_t handle, bool anyHandle) const;
  /// Send and SendA after their first checks: the PC file, the terminal's
  /// name, the field list; then the transfer.
  std::int32_t SendChecked(Lock& lock, const std::string& pcFile, const std::string& bhtName, bool fieldsFromFile);
  std::int32_t ReceiveChecked(Lock& lock, const std::string& folder, std::int32_t rxMd, std::int32_t wrMd);
  /// Shows or hides the window, starts the transfer and waits for its end.
  std::int32_t RunTransfer(Lock& lock, bool send);
  bool Busy() const { return shared_.Busy.load() != 0; }

  LibraryParts parts_;
  Alerts alerts_;
  mutable std::recursive_mutex mutex_;
  bool initialised_ = false;
  std::unique_ptr<SettingsStore> settings_;
  TransferShared shared_;
  std::unique_ptr<Port> port_;
  std::shared_ptr<TComForm> form_;  // the port's progress window
  struct {
    bool byA = false;
    std::string name;
    std::int32_t speed = 0;
  } LastOpen;
};

}  // namespace pw
