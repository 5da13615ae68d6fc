// The stored settings of Portwick and PortwickA: the settings file Tarnel.cnf
// in the settings folder, the same values in a second form under the current
// user's registry key (read only when the file cannot be read), and the
// progress window's position for each port.
//
// Folders are held as UTF-8 text in the platform's own form; after load and
// check each one ends with the platform's separator ("\" on Windows, "/" on
// Linux), so file names are joined to them directly. In the settings file
// they are bytes of the ANSI code page.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/ansi_string.h"
#include "platform/message_box.h"
#include "platform/registry.h"

namespace pw {

/// The registry key of both programs, under the current user.
inline constexpr std::string_view kPortwickKey = "Software\\Orvale\\Lindra\\PortwickDll";
/// The settings file's name in the settings folder.
inline constexpr std::string_view kSettingsFileName = "Tarnel.cnf";

#ifdef _WIN32
inline constexpr char kFolderSeparator = '\\';
#else
inline constexpr char kFolderSeparator = '/';
#endif

/// \p folder with the platform's separator at its end (an empty text stays empty).
std::string WithTrailingSeparator(std::string folder);

/// A folder or file held as UTF-8 text, as a path, and back.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

/// True when \p folder (UTF-8) names an existing folder.
bool FolderExists(std::string_view folder);

/// Texts of the settings store (UTF-8).
namespace settings_text {
inline constexpr std::string_view kNoSettingsFolder = "設定フォルダを取得できません！！";
inline constexpr std::string_view kCannotMakeSettingsFolder = "設定フォルダを作成できません！！";
inline constexpr std::string_view kSetLogFolder = "通信履歴保存フォルダを設定してください。";
inline constexpr std::string_view kSetRxFolder = "受信デフォルトフォルダを設定してください。";
inline constexpr std::string_view kSetTxFolder = "送信デフォルトフォルダを設定してください。";
inline constexpr std::string_view kFileErrorTitle = "ファイル エラー";
inline constexpr std::string_view kFileErrorText = "フォルダまたはファイル名を変更してください。";
}  // namespace settings_text

/// The settings in memory, with their defaults.
struct Settings {
  std::int32_t ComPort = 1;      ///< 1 to 9
  std::string ComName = "COM1";  ///< "COM%d" of ComPort after load and check
  std::int32_t ComSpeed = 460800;
  bool DspMode = true;           ///< show the progress window, apply its remembered position
  std::int32_t RcvMode = 1;      ///< 1 continuous receive, 0 one batch
  std::int32_t WrMode = 1;       ///< 1 append received data, 0 overwrite
  bool CsvRcvDat = false;
  bool DblQuoted = false;
  bool LastSpace = false;
  std::string DefRxFolder;       ///< UTF-8
  std::string DefTxFolder;       ///< UTF-8
  bool LogEnable = false;
  std::int32_t LogFileMode = 1;  ///< 0 a log file a day, 1 a month, 2 a year
  std::string LogFolder;         ///< UTF-8
  AnsiString Reserved = "00";    ///< the fifth line, kept as read
};

/// A window's remembered top-left corner.
struct WindowPos {
  std::int32_t x = 1;
  std::int32_t y = 1;
};

class SettingsStore {
 public:
  /// \p settingsFolder holds Tarnel.cnf and is every folder's default.
  /// \p alerts carries the program's title for the check's messages.
  SettingsStore(std::filesystem::path settingsFolder, Registry& registry, const Alerts& alerts);

  Settings& Values() { return values_; }
  const Settings& Values() const { return values_; }
  const std::filesystem::path& SettingsFolder() const { return folder_; }
  std::filesystem::path FilePath() const;

  /// Replaces the settings in memory from the file; false (nothing changed)
  /// when it does not exist or cannot be opened.
  bool ReadFile();
  /// Rewrites the whole file from memory; false after the file-error message.
  bool WriteFile();
  /// Replaces the settings in memory from the registry key (created when
  /// missing); nothing changes when the key cannot be opened.
  void ReadRegistry();
  /// Defaults, then the file, or the registry (and then the file written from
  /// it); then Check. True when the settings are complete.
  bool LoadAndCheck();
  /// The log folder (when logging is on), the default receive folder and the
  /// default send folder must not be empty: the first that is shows its
  /// message and the result is false. Otherwise each folder gets its trailing
  /// separator and ComName is formed from ComPort.
  bool Check();

  /// SetVisible's store: the registry value DspMode from memory, nothing else.
  bool SaveDspMode();
  /// SetSaveLog's store: LogEnable, and when on also LogFileMode and LogFolder.
  bool SaveLogSettings();

  /// The progress window's position for \p portName (1, 1 where missing).
  WindowPos ReadWindowPos(std::string_view portName);
  /// Stores it in the port's subkey, creating the subkey when missing.
  bool WriteWindowPos(std::string_view portName, WindowPos pos);

 private:
  std::filesystem::path folder_;
  Registry& registry_;
  const Alerts& alerts_;
  Settings values_;
};

/// The settings folder: the system drive, "Users\Public", "Tessaly", made
/// when missing. Nothing after the message of the step that failed.
std::optional<std::filesystem::path> FindSettingsFolder(const Alerts& alerts);

}  // namespace pw
