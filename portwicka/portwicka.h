// PortwickA without its windows: the start-up checks, the command line, and
// what the main window hands to the transfer. A program is one PortwickA: it
// runs StartUp, then (modes receive and send) builds the transfer's request,
// runs the worker on the open port, and ends with FormClose. The Windows view
// and the Linux front end drive the same steps; every message goes through
// the program's alerts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/com_port.h"
#include "engine/transfer_request.h"
#include "library/settings_store.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "platform/serial_device.h"

namespace pw {

/// Texts of PortwickA (UTF-8).
namespace portwicka_text {
inline constexpr std::string_view kAlreadyRunning = "既にこのプログラムは起動しています。";
inline constexpr std::string_view kSetConditions = "通信条件を設定してください！！";
inline constexpr std::string_view kParameterError = "パラメータ設定エラーです。";
inline constexpr std::string_view kNoRxFolder = "指定受信フォルダがありません。";
inline constexpr std::string_view kBadSpeed = "通信スピードが不良です。";
inline constexpr std::string_view kNoSendFile = "送信ファイルが存在しません。";
inline constexpr std::string_view kExtensionPrefix = "拡張子";
inline constexpr std::string_view kExtensionSuffix = "のファイルは送信できません";
inline constexpr std::string_view kDataSendTitle = "データ送信";
inline constexpr std::string_view kNoFieldFile = "送信ファイルのフィールドファイル(.fld)がありしません。";
inline constexpr std::string_view kBadFieldFile = "送信ファイルのフィールドファイル(.fld)が異常です。";
/// The main window's class, which the single-instance check looks for.
inline constexpr std::string_view kMainWindowClass = "TMainForm";
}  // namespace portwicka_text

/// What the program does once started.
enum class AMode : std::int32_t { Receive = 0, Send = 1, Settings = 2 };

/// The program's state, filled by the start-up and the command line.
struct ARun {
  AMode Mode = AMode::Receive;
  std::string PortName;      ///< from the settings, or the command line (upper-cased)
  std::int64_t Speed = 0;    ///< from the settings, or the command line as read
  std::string File;          ///< send: the PC file; receive: the expected terminal name (UTF-8)
  std::string FieldList;     ///< send: the file's field list; receive: the list the expected file must carry
  std::string RxFolder;      ///< the receive folder given (with its separator), or empty
  bool AsCommaText = false;  ///< "-FB": this run receives as comma-separated text
};

/// The speed parameter: decimal, with an optional sign; anything else counts as 460800.
std::int64_t SpeedParameter(std::string_view text);

/// The extension tests of a send (each a substring test of the upper-cased
/// extension with its dot, as the system makes them).
bool RefusedForSending(std::string_view upperExtension);
bool SentAsDataFile(std::string_view upperExtension);
bool SentWithoutFieldList(std::string_view upperExtension);

/// The field file beside a PC file: the same path with the extension ".fld".
std::filesystem::path FieldFileOf(const std::filesystem::path& pcFile);

class PortwickA {
 public:
  struct Parts {
    const Alerts& alerts;
    Registry& registry;
    Clock& clock;
    SerialOpener open = OpenSerialDevice;
    /// True when another instance's main window exists (Windows; nothing on Linux).
    std::function<bool()> alreadyRunning;
    std::function<std::optional<std::filesystem::path>(const Alerts&)> settingsFolder = FindSettingsFolder;
  };

  explicit PortwickA(Parts parts);
  ~PortwickA();
  PortwickA(const PortwickA&) = delete;
  PortwickA& operator=(const PortwickA&) = delete;

  /// The start-up, steps 1 to 7, with \p args the parameters after the
  /// program's name. Returns the exit code of a refusal (its message shown),
  /// or nothing when the main window is to run; the port is then open for
  /// modes receive and send.
  std::optional<int> StartUp(const std::vector<std::string>& args);

  ARun& Run() { return run_; }
  const ARun& Run() const { return run_; }
  SettingsStore& Store() { return *store_; }
  /// The open port (modes receive and send, after StartUp), else null.
  SerialDevice* Port() { return port_.get(); }

  // ---- The main window ----
  /// Its caption, "COM1 115200 bps".
  std::string Caption() const;
  /// Where it appears: the port's stored position, whatever the display flag.
  WindowPos StoredPosition();
  /// The receive's request (Timer0Timer in mode receive).
  TransferRequest ReceiveRequest() const;

  /// Shows the send file dialog in the default send folder: the chosen file, or nothing when cancelled.
  using FilePicker = std::function<std::optional<std::filesystem::path>(const std::filesystem::path& folder)>;
  /// Shows the field settings dialog for a PC file and its field file.
  using FieldDialog = std::function<void(const std::filesystem::path& pcFile, const std::filesystem::path& fldFile)>;
  struct SendChoices {
    FilePicker pick;        ///< a send without a file
    FieldDialog askFields;  ///< a picked data file without its field file
    /// Also ask for a command-line data file that has no field file and no
    /// field list (a front end without a file dialog).
    bool askForGivenFile = false;
  };
  /// The send's request (Timer0Timer in mode send), or nothing when the
  /// window closes instead (a message may have been shown).
  std::optional<TransferRequest> SendRequest(const SendChoices& choices);

  /// The window closes: the temporary files go, the position is stored when
  /// the display flag is on and \p position is given, the port is closed.
  void FormClose(std::optional<WindowPos> position);

 private:
  std::optional<int> EvaluateCommandLine(const std::vector<std::string>& args);
  std::optional<int> CheckAndOpen();
  TransferRequest BaseRequest() const;

  Parts parts_;
  std::unique_ptr<SettingsStore> store_;
  ARun run_;
  std::unique_ptr<SerialDevice> port_;
};

}  // namespace pw
