// "portwicka -SET" without a window: the communication settings dialog's
// model driven from the command line. Without further parameters it lists the
// settings in the dialog's terms, one "name=value" line each; with
// "name=value" parameters it sets the dialog's controls, runs its checks and
// writes the settings file only when they all pass.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "engine/com_port.h"
#include "library/settings_store.h"
#include "platform/message_box.h"

namespace pw {

/// The names -SET takes, with their values, for the help text.
inline constexpr std::string_view kSetNamesHelp =
    R"(  port=COM1..COM9            通信ポート
  speed=115200|460800        通信スピード (115.2kbps, 460.8kbps)
  display=on|off             通信状態表示 (表示する, 表示しない)
  continuous=on|off          連続受信
  write=overwrite|append     受信データ書き込み (上書き, 追加)
  csv=on|off                 ｶﾝﾏ区切りﾃﾞｰﾀ受信
  lastspace=on|off           ｶﾝﾏ区切り受信末尾ｽﾍﾟｰｽをﾃﾞｰﾀとする
  quote=on|off               ｶﾝﾏ区切りﾃﾞｰﾀを引用符（”）で括る
  log=on|off                 通信履歴を保存する
  logperiod=day|month|year   保存ファイル名 (日ごと, 月ごと, 年ごと)
  logfolder=FOLDER           保存フォルダ
  rxfolder=FOLDER            受信デフォルトフォルダ
  txfolder=FOLDER            送信デフォルトフォルダ
)";

/// Runs -SET with \p args (the parameters after "-SET"); the listing goes to
/// \p out, messages through \p alerts. Returns the exit code: 0, or 1 when a
/// parameter or a check was refused (nothing written).
int SetCommand(SettingsStore& store, const Alerts& alerts, const std::vector<std::string>& args, std::FILE* out,
               const SerialOpener& open = OpenSerialDevice);

}  // namespace pw
