// The settings dialog and the folder picker, through their models: filling,
// validating and applying the controls, ports in use, and the picker's rules.
#include <set>

#include "library/com_mode_form.h"
#include "library/folder_form.h"
#include "tests/library/settings_fixture.h"
#include "tests/support/idle_device.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

using test::IdleDevice;

class DialogTest : public test::SettingsFixture {
 protected:
  std::set<std::string> busy;  // ports another program holds
  std::vector<std::string> opened;
  TSetComModeForm form{store, alerts, [this](std::string_view name) {
                         opened.emplace_back(name);
                         return busy.contains(std::string(name)) ? nullptr : std::make_unique<IdleDevice>();
                       }};

  // The lists' indexes and the boxes' states (checked, visible, enabled), in the dialog's order.
  std::string State() const {
    std::string state;
    for (int x : {form.ComPortCB.index, form.ComSpeedCB.index, int{form.RcvModeChk.checked}, form.WrModeCB.index,
                  form.DspRG.index, int{form.CsvCheck.checked}, int{form.LastSpaceCheck.checked},
                  int{form.DblQuotedChk.checked}, int{form.LogCheck.checked}, int{form.LogPanel.visible},
                  form.LogFileCombo.index, int{form.CancelBtn.enabled}})
      state += std::to_string(x);
    return state;
  }
};

TEST_F(DialogTest, ControlsAreFilledAndAppliedByTheirRules) {
  const std::string file = "0200001152000101010\r\nR\\\r\nT\\\r\n0\r\nkept\r\n";
  WriteCnf(file);
  form.FormCreate();
  EXPECT_EQ(State(), "101011100011");
  EXPECT_EQ(form.LogFileFolder.text + "|" + form.RxFolder.text, folderText + "|R\\");
  EXPECT_TRUE(opened.empty());

  // Typed characters change nothing in the lists.
  for (char32_t key : {U'a', U'4', U'\r', U'あ'}) EXPECT_EQ(TSetComModeForm::KeyPress0(key), 0u);

  form.LogCheck.checked = true;
  form.LogCheckClick();
  form.LogFileFolder.text = "D:\\LOG";
  form.LogFileCombo.index = 2;
  form.ComSpeedCB.index = form.WrModeCB.index = 1;
  form.DspRG.index = 0;
  form.RcvModeChk.checked = false;
  form.DblQuotedChk.checked = true;
  form.TxFolder.text = "送信";
  EXPECT_EQ(State(), "110101111121");
  form.UpDateBtnClick();
  EXPECT_TRUE(form.Closed);
  EXPECT_EQ(opened, std::vector<std::string>{"COM2"});
  EXPECT_EQ(v.LogFolder + v.DefTxFolder, "D:\\LOG" + sep + "送信" + sep);
  EXPECT_EQ(ReadCnf(), "0200004608001011110\r\nR\\" + (sep == "\\" ? "" : sep) + "\r\n\x91\x97\x90\x4D" + sep +
                           "\r\n12D:\\LOG" + sep + "\r\nkept\r\n");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DialogTest, IncompleteSettingsCanOnlyBeLeftThroughUpdate) {
  // No file and no registry: the settings in memory are shown as they are.
  registry.refuse = true;
  v.DefRxFolder = "R";
  form.FormCreate();
  form.CancelBtnClick();
  EXPECT_FALSE(form.Closed || form.FormCloseQuery() || form.CancelBtn.enabled);

  // The folders are checked in order; the failing edit gets the focus.
  form.LogCheck.checked = true;
  form.LogFileFolder.text = "\\";
  form.TxFolder.text = sep;
  form.UpDateBtnClick();
  EXPECT_EQ(form.ActiveControl, TSetComModeForm::Focus::LogFileFolder);
  form.LogCheck.checked = false;
  form.UpDateBtnClick();
  EXPECT_EQ(form.ActiveControl, TSetComModeForm::Focus::TxFolder);
  form.RxFolder.text = "";
  EXPECT_FALSE(form.ChangeData());
  EXPECT_EQ(form.ActiveControl, TSetComModeForm::Focus::RxFolder);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"通信履歴保存フォルダ名を入力してください。",
                                               "送信デフォルトフォルダ名を入力してください。",
                                               "受信デフォルトフォルダ名を入力してください。"}));
  EXPECT_EQ(boxes.shown[1].title, "入力エラー");
  EXPECT_EQ(boxes.shown[1].flags, 0x30u | 0x2000u | 0x10000u);
  EXPECT_FALSE(form.Closed || fs::exists(store.FilePath()));
  EXPECT_EQ(v.DefTxFolder, "");  // nothing applied

  form.RxFolder.text = "R";
  form.TxFolder.text = "T";
  form.UpDateBtnClick();
  EXPECT_TRUE(form.Closed);
  EXPECT_TRUE(form.CancelBtn.enabled);
  EXPECT_EQ(ReadCnf().substr(19), "\r\nR" + sep + "\r\nT" + sep + "\r\n0\r\n00\r\n");
}

TEST_F(DialogTest, APortInUseIsReportedAndNotTaken) {
  WriteCnf("0100004608001110000\r\nR\r\nT\r\n0\r\n00\r\n");
  const std::string file = ReadCnf();
  busy = {"COM4"};
  form.FormCreate();
  form.ComPortCB.index = 3;
  form.ComPortCBChange();
  EXPECT_EQ(v.ComName, "COM1");
  form.ComSpeedCB.index = 0;
  form.UpDateBtnClick();  // the message again, nothing applied, still open
  EXPECT_EQ(Texts(), std::vector<std::string>(2, "COM4 は既に使用されているか\r\n使用不可の状態です。"));
  EXPECT_EQ(boxes.shown[0].title, "PortwickA.exe通信");
  EXPECT_FALSE(form.Closed);
  EXPECT_EQ(v.ComSpeed, 460800);
  EXPECT_EQ(ReadCnf(), file);

  // A free port is taken in memory at once; cancelling leaves the file alone.
  form.ComPortCB.index = 4;
  form.ComPortCBChange();
  EXPECT_EQ(v.ComName, "COM5");
  form.CancelBtnClick();
  EXPECT_TRUE(form.Closed);
  EXPECT_EQ(v.ComPort, 1);
  EXPECT_EQ(ReadCnf(), file);
  EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST_F(DialogTest, TheFolderPickerRefusesNetworkFolders) {
  WriteCnf("0100004608001110000\r\n\r\n\r\n0\r\n00\r\n");
  form.FormCreate();
  std::vector<std::string> captions, initial;
  std::vector<bool> closed;
  std::string_view pick;  // what the user selects in the tree, empty to cancel
  form.PickFolder = [&](FolderChoice& choice) {
    TSetFolderForm picker(choice, folderText, alerts);
    picker.FormCreate();
    captions.push_back(picker.Caption);
    initial.push_back(picker.InitialSelection);
    if (!pick.empty()) {
      closed.push_back(picker.OkButtonClick(pick));
      EXPECT_EQ(picker.Closed, closed.back());
    }
    if (!picker.Closed) picker.CancellButtonClick();  // a refused pick: the user gives up
  };

  pick = "C:\\Documents and Settings\\All Users\\NetHood\\share - server";
  form.RxFolder.text = "";
  form.RxSanshouBtnClick();
  pick = "\\\\pc\\data";
  form.TxFolder.text = "\\\\pc\\old";
  form.TxSanshouBtnClick();
  pick = "/mnt/log";
  form.LogFileFolder.text = "L";
  form.LogSanshouBtnClick();
  pick = "";
  form.RxSanshouBtnClick();

  EXPECT_EQ(captions, (std::vector<std::string>{"受信デフォルトフォルダ設定", "送信デフォルトフォルダ設定",
                                                "通信履歴保存フォルダ設定", "受信デフォルトフォルダ設定"}));
  EXPECT_EQ(initial, (std::vector<std::string>{folderText, "", "L", folderText}));
  EXPECT_EQ(closed, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(Texts(), std::vector<std::string>(2, "ﾈｯﾄﾜｰｸ上のPCのﾌｫﾙﾀﾞは設定できません。"));
  EXPECT_EQ(boxes.shown[0].title, "ﾌｫﾙﾀﾞ設定ｴﾗｰ");
  EXPECT_EQ(boxes.shown[0].flags, 0x10u | 0x10000u);
  // Only the accepted pick reaches its edit.
  EXPECT_EQ(form.RxFolder.text + "|" + form.TxFolder.text + "|" + form.LogFileFolder.text,
            "|\\\\pc\\old|/mnt/log" + sep);
  EXPECT_EQ(form.Folder.FolderKind, 2);
  EXPECT_EQ(form.Folder.PickedFolder, "");
}

TEST(NetHoodPath, AShortcutStandsForItsShare) {
  const std::string hood = "C:\\Documents and Settings\\taro\\NetHood\\";
  EXPECT_EQ(NetHoodPath(hood + "share - server"), "\\\\server\\share");
  EXPECT_EQ(NetHoodPath(hood + "共有 - サーバ\\"), "\\\\サーバ\\共有");
  EXPECT_EQ(NetHoodPath(hood + "a - b - c"), "\\\\b - c\\a");
  EXPECT_EQ(NetHoodPath(hood + "share"), hood + "share");  // no " - ": unchanged
  EXPECT_EQ(NetHoodPath("C:\\Users\\taro\\NetHood\\share - server"), "C:\\Users\\taro\\NetHood\\share - server");
  EXPECT_EQ(NetHoodPath("D:\\Documents and Settings\\x"), "D:\\Documents and Settings\\x");
  // The shortcut's name counts at most 256 characters, not bytes.
  std::string share;
  for (int i = 0; i < 250; ++i) share += "あ";
  EXPECT_EQ(NetHoodPath(hood + share + " - 123456789"), "\\\\123\\" + share);
}

}  // namespace
}  // namespace pw
