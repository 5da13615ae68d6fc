// The history log's texts of the server's result codes.
#include "tablink/result_texts.h"

#include <array>
#include <utility>

namespace pw::tablink {

std::string_view ResultText(std::int32_t code) {
  static constexpr std::array<std::pair<std::int32_t, std::string_view>, 29> kTexts{{
      {0, "正常終了"},
      {2, "中断"},
      {6, "送信ファイルが無い"},
      {7, "送信フィールドデータエラー"},
      {12, "ファイルアクセスエラー"},
      {13, "タイムアウト"},
      {14, "リトライエラー"},
      {15, "受信ﾌｨｰﾙﾄﾞﾃﾞｰﾀｴﾗｰ"},
      {16, "受信データエラー"},
      {17, "受信ﾊﾞｯﾌｧ読み取りｴﾗｰ"},
      {18, "送信ﾊﾞｯﾌｧ書き込みｴﾗｰ"},
      {19, "受信不可ファイル"},
      {20, "送信不可ファイル"},
      {21, "受信ﾌｧｲﾙとして登録されていない"},
      {22, "送信ﾌｧｲﾙとして登録されていない"},
      {23, "送信フィールド情報異常"},
      {24, "テーブルをオープンできません"},
      {25, "レコード追加機能がない"},
      {26, "レコード変更機能がない"},
      {27, "レコード削除機能がない"},
      {28, "レコード編集ができない"},
      {29, "レコード追加エラー"},
      {30, "レコード変更エラー"},
      {31, "レコード更新エラー"},
      {32, "テーブルをクローズできません"},
      {33, "テーブルを更新できません"},
      {34, "レコード移動エラー"},
      {35, "テーブルのデータクリアエラー"},
      {36, "テーブルのデータエラー"},
  }};
  for (const auto& [c, text] : kTexts)
    if (c == code && !text.empty()) return text;
  return "想定外のエラー";
}

}  // namespace pw::tablink
