// Tablink without its window: the start-up checks, the port, the values the
// server is given, the main window's caption, position and stop button, and
// the close. The Windows view and the Linux service drive the same steps;
// every message goes through the program's alerts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/com_port.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/os_version.h"
#include "platform/registry.h"
#include "platform/serial_device.h"
#include "tablink/definition_file.h"
#include "tablink/server.h"
#include "tablink/table.h"

namespace pw::tablink {

/// Texts of the program (UTF-8).
namespace tablink_text {
inline constexpr std::string_view kNoOsVersion = "Windowsﾊﾞｰｼﾞｮﾝ情報を取得できません！！";
inline constexpr std::string_view kOldOs = "お使いのOSでは本ソフトウェアはご利用できません。";
inline constexpr std::string_view kAlreadyRunning = "既にこのプログラムは起動しています。";
inline constexpr std::string_view kNoFile = "設定ファイルがありません！！\r\n転送ファイル設定をしてください。";
inline constexpr std::string_view kNoAccess = "設定データにアクセスできません！！";
inline constexpr std::string_view kNoData = "設定データがありません！！\r\n転送ファイル設定をしてください。";
inline constexpr std::string_view kOldVersion = "古いバージョンの設定です。\r\n設定を更新してください。";
inline constexpr std::string_view kNoDataSource = "データソースの設定がありません。";
inline constexpr std::string_view kNoDataSourceFolder = " のフォルダが存在しません。";
inline constexpr std::string_view kNoDataSourceFile = "設定データソースが存在しません。";
inline constexpr std::string_view kNoSaveFolderSetting = "保存フォルダの設定がありません。";
inline constexpr std::string_view kNoSaveFolder = "設定フォルダがありません。";
inline constexpr std::string_view kSettingErrorTitle = "設定エラー";
inline constexpr std::string_view kNoDataSourceSetting = "ﾃﾞｰﾀｿｰｽ設定がありません。\r\n設定データを確認してください。";
inline constexpr std::string_view kConnectFailed = "ﾃﾞｰﾀｿｰｽへの接続に失敗しました。\r\nﾃﾞｰﾀｿｰｽを確認してください。";
inline constexpr std::string_view kNoMdac = "Microfoft Data Access Components(MDAC)がありません。";
inline constexpr std::string_view kMdacError = "Microfoft Data Access Components(MDAC)がエラーです。";
inline constexpr std::string_view kMdacTitle = "MDACエラー";
inline constexpr std::string_view kPortErrorTitle = "通信ポートエラー";
inline constexpr std::string_view kPortSetupTitle = "通信設定";
inline constexpr std::string_view kQueueSizes = "通信バッファ容量設定失敗";
inline constexpr std::string_view kCannotOpenPort1 = "通信ポート ";
inline constexpr std::string_view kCannotOpenPort2 = " をオープンできません。\r\n通信ポートの動作を確認してください。";
/// The main window's class, which the single-instance check looks for.
inline constexpr std::string_view kMainWindowClass = "TMainForm";
}  // namespace tablink_text

/// The window positions' key under the current user; the port name follows.
inline constexpr std::string_view kTablinkExeKey = "Software\\Orvale\\Lindra\\TablinkExe";

/// " 115.2k" for the six speeds, " ####" for any other.
std::string_view SpeedText(std::int32_t speed);

/// "Excel" or "Access" by SaveType.
std::string_view StoreKindName(std::int32_t saveType);

/// True for a data source that names a database by a connection string
/// ("DSN=..." or "Driver=..."), which is checked by connecting, not as a file.
bool IsConnectionString(std::string_view dataSource);

/// Opens \p name with the server's settings (no write time-out, no events),
/// each step's failure shown with its own box, then the box that the port
/// cannot be opened; a failure to set the line shows its own box alone.
std::unique_ptr<SerialDevice> OpenServerPort(std::string_view name, std::uint32_t speed, const Alerts& alerts,
                                             const SerialOpener& open = OpenSerialDevice);

class Tablink {
 public:
  /// Makes the connection to a sheet's or table's data source (\p path as
  /// the connection rule gives it); nothing when it fails.
  using Connector = std::function<std::unique_ptr<TableConnection>(std::int32_t saveType, const std::string& path)>;

  struct Parts {
    const Alerts& alerts;
    Registry& registry;
    Clock& clock;
    SerialOpener open = OpenSerialDevice;
    std::function<std::optional<OsVersion>()> osVersion = GetOsVersion;
    /// True when another instance is still starting (Windows; nothing elsewhere).
    std::function<bool()> alreadyRunning;
    /// The definition file to use instead of the one the location rule finds.
    std::filesystem::path definitions;
    /// The table stores; without one, a sheet or table cannot be connected.
    Connector connect;
    /// Whether the data objects can be made: 0 yes, 1 not the connection
    /// object, 2 not the table object (AdoObjectsAvailable on Windows).
    /// Without it nothing is checked.
    std::function<int()> adoObjects;
  };
  explicit Tablink(Parts parts);
  ~Tablink();
  Tablink(const Tablink&) = delete;
  Tablink& operator=(const Tablink&) = delete;

  /// The start-up, in order: the system, another instance, the definition
  /// file and its header, the data source, the work folder, the port, the
  /// log's name. Returns the exit code (1) after a refusal with its message,
  /// or nothing when the window is to run; the port is then open.
  std::optional<int> StartUp();

  /// The main window's creation: the data objects (false after the MDAC
  /// message: the program ends).
  bool CreateDataObjects();

  /// The start timer: for a sheet or table, the connection (false after its
  /// message: the program ends).
  bool Connect();

  const DefinitionHeader& Header() const { return header_; }
  const std::string& PortName() const { return portName_; }
  /// "Tablink通信 COM1 115.2k".
  std::string Caption() const;
  /// Shown at the start, unless the header hides it; minimising clears it,
  /// restoring sets it again.
  bool DspFlag = true;
  struct Position {
    std::int32_t x = 1, y = 1;
  };
  Position StoredPosition();
  /// What the server is given.
  const ServerSettings& Settings() const { return settings_; }
  SerialDevice* Port() { return port_.get(); }
  TableConnection* Connection() { return connection_.get(); }
  const std::filesystem::path& WorkFolder() const { return workFolder_; }

  /// The stop button: while the server waits it ends the program (true: the
  /// caller closes the window once the server has ended), during a transfer
  /// it aborts the transfer.
  bool StopBtnClick(TransferWorker& server);
  /// The window closes: the position stored when DspFlag is on and given,
  /// the port, the table and the connection closed.
  void FormClose(std::optional<Position> position);

 private:
  std::optional<int> Refuse(std::string_view text);
  bool CheckDefinitions();
  bool CheckDataSource();
  void MakeWorkFolder();

  Parts parts_;
  std::filesystem::path definitionPath_;
  DefinitionHeader header_;
  std::string portName_;
  std::filesystem::path workFolder_, dataSourcePath_;
  ServerSettings settings_;
  std::unique_ptr<SerialDevice> port_;
  std::unique_ptr<TableConnection> connection_;
};

}  // namespace pw::tablink
