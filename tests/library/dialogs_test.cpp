// The settings dialog and the folder picker, through their models: filling,
// validating and applying the controls, ports in use, and the picker's rules.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "library/com_mode_form.h"
#include "library/folder_form.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/temp_drive.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
constexpr const char* kTitle = "PortwickA.exe通信";
const std::string kSep(1, kFolderSeparator);

// A port that opens and does nothing.
struct IdleDevice : SerialDevice {
  bool SetQueueSizes(std::uint32_t, std::uint32_t) override { return true; }
  bool SetEventMask() override { return true; }
  bool SetTimeouts(std::uint32_t) override { return true; }
  bool SetLine(std::uint32_t) override { return true; }
  bool Purge() override { return true; }
  bool PurgeInput() override { return true; }
  std::int32_t BytesWaiting() override { return 0; }
  std::int32_t OutputQueued() override { return 0; }
  std::int32_t Read(std::uint8_t*, std::int32_t) override { return 0; }
  std::int32_t Write(const std::uint8_t*, std::int32_t count) override { return count; }
  void ClearError() override {}
  bool WaitForInput(std::uint32_t) override { return false; }
};

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() { fs::create_directories(folder); }

  void WriteCnf(const std::string& bytes) { std::ofstream(store.FilePath(), std::ios::binary) << bytes; }
  std::string ReadCnf() {
    std::ifstream in(store.FilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  test::TempDrive drive;
  fs::path folder = drive.Path() / "Users" / "Public" / "Tessaly";
  std::string folderText = Utf8FromPath(folder);
  test::MemoryRegistry registry;
  test::RecordingBoxes boxes;
  Alerts alerts{boxes, kTitle};
  SettingsStore store{folder, registry, alerts};
  std::set<std::string> busy;  // ports another program holds
  std::vector<std::string> opened;
  TSetComModeForm form{store, alerts, [this](std::string_view name) {
                         opened.emplace_back(name);
                         return busy.contains(std::string(name)) ? nullptr : std::make_unique<IdleDevice>();
                       }};
};

TEST_F(DialogTest, ControlsAreFilledAndAppliedByTheirRules) {
  const std::string file = "0200001152000101010\r\nR\\\r\nT\\\r\n0\r\nkept\r\n";
  WriteCnf(file);
  form.FormCreate();
  EXPECT_EQ(form.ComPortCB.index, 1);
  EXPECT_EQ(form.ComSpeedCB.index, 0);
  EXPECT_EQ(form.DspRG.index, 1);
  EXPECT_TRUE(form.RcvModeChk.checked);
  EXPECT_EQ(form.WrModeCB.index, 0);
  EXPECT_TRUE(form.CsvCheck.checked);
  EXPECT_FALSE(form.DblQuotedChk.checked);
  EXPECT_TRUE(form.LastSpaceCheck.checked);
  EXPECT_FALSE(form.LogCheck.checked);
  EXPECT_FALSE(form.LogPanel.visible);
  EXPECT_EQ(form.LogFileCombo.index, 1);
  EXPECT_EQ(form.LogFileFolder.text, folderText);
  EXPECT_EQ(form.RxFolder.text, "R\\");
  EXPECT_TRUE(form.CancelBtn.enabled);
  EXPECT_TRUE(opened.empty());

  // Typed characters change nothing in the lists.
  for (char32_t key : {U'a', U'4', U'\r', U'あ'}) EXPECT_EQ(TSetComModeForm::KeyPress0(key), 0u);

  form.LogCheck.checked = true;
  form.LogCheckClick();
  EXPECT_TRUE(form.LogPanel.visible);
  form.LogFileFolder.text = "D:\\LOG";
  form.LogFileCombo.index = 2;
  form.ComSpeedCB.index = 1;
  form.WrModeCB.index = 1;
  form.DspRG.index = 0;
  form.RcvModeChk.checked = false;
  form.DblQuotedChk.checked = true;
  form.TxFolder.text = "送信";
  form.UpDateBtnClick();
  EXPECT_TRUE(form.Closed);
  EXPECT_EQ(opened, std::vector<std::string>{"COM2"});
  const Settings& v = store.Values();
  EXPECT_EQ(v.LogFolder, "D:\\LOG" + kSep);
  EXPECT_EQ(v.DefTxFolder, "送信" + kSep);
  EXPECT_EQ(v.DefRxFolder, "R\\" + std::string(kSep == "\\" ? "" : kSep));
  EXPECT_EQ(ReadCnf(), "0200004608001011110\r\nR\\" + (kSep == "\\" ? "" : kSep) + "\r\n\x91\x97\x90\x4D" + kSep +
                           "\r\n12D:\\LOG" + kSep + "\r\nkept\r\n");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DialogTest, IncompleteSettingsCanOnlyBeLeftThroughUpdate) {
  // No file and no registry: the settings in memory are shown as they are.
  registry.refuse = true;
  store.Values().DefRxFolder = "R";
  form.FormCreate();
  EXPECT_FALSE(form.CancelBtn.enabled);
  form.CancelBtnClick();
  EXPECT_FALSE(form.Closed);
  EXPECT_FALSE(form.FormCloseQuery());

  // The folders are checked in order; the failing edit gets the focus.
  form.LogCheck.checked = true;
  form.LogFileFolder.text = "\\";
  form.TxFolder.text = kSep;
  form.UpDateBtnClick();
  EXPECT_EQ(form.ActiveControl, TSetComModeForm::Focus::LogFileFolder);
  form.LogCheck.checked = false;
  form.UpDateBtnClick();
  EXPECT_EQ(form.ActiveControl, TSetComModeForm::Focus::TxFolder);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, "通信履歴保存フォルダ名を入力してください。");
  EXPECT_EQ(boxes.shown[1].text, "送信デフォルトフォルダ名を入力してください。");
  EXPECT_EQ(boxes.shown[1].title, "入力エラー");
  EXPECT_EQ(boxes.shown[1].flags, 0x30u | 0x2000u | 0x10000u);
  EXPECT_FALSE(form.Closed);
  EXPECT_FALSE(fs::exists(store.FilePath()));
  EXPECT_EQ(store.Values().DefTxFolder, "");  // nothing applied

  form.RxFolder.text = "";
  form.ChangeData();
  EXPECT_EQ(boxes.shown.back().text, "受信デフォルトフォルダ名を入力してください。");
  EXPECT_EQ(form.ActiveControl, TSetComModeForm::Focus::RxFolder);

  form.RxFolder.text = "R";
  form.TxFolder.text = "T";
  form.UpDateBtnClick();
  EXPECT_TRUE(form.Closed);
  EXPECT_TRUE(form.CancelBtn.enabled);
  EXPECT_EQ(ReadCnf().substr(19), "\r\nR" + kSep + "\r\nT" + kSep + "\r\n0\r\n00\r\n");
}

TEST_F(DialogTest, APortInUseIsReportedAndNotTaken) {
  WriteCnf("0100004608001110000\r\nR\r\nT\r\n0\r\n00\r\n");
  const std::string file = ReadCnf();
  busy = {"COM4"};
  form.FormCreate();
  form.ComPortCB.index = 3;
  form.ComPortCBChange();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "COM4 は既に使用されているか\r\n使用不可の状態です。");
  EXPECT_EQ(boxes.shown[0].title, kTitle);
  EXPECT_EQ(store.Values().ComName, "COM1");
  form.ComSpeedCB.index = 0;
  form.UpDateBtnClick();  // the message again, nothing applied, still open
  EXPECT_EQ(boxes.shown.size(), 2u);
  EXPECT_FALSE(form.Closed);
  EXPECT_EQ(store.Values().ComSpeed, 460800);
  EXPECT_EQ(ReadCnf(), file);

  // A free port is taken in memory at once; cancelling leaves the file alone.
  form.ComPortCB.index = 4;
  form.ComPortCBChange();
  EXPECT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(store.Values().ComName, "COM5");
  form.CancelBtnClick();
  EXPECT_TRUE(form.Closed);
  EXPECT_EQ(store.Values().ComPort, 1);
  EXPECT_EQ(ReadCnf(), file);
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
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].title, "ﾌｫﾙﾀﾞ設定ｴﾗｰ");
  EXPECT_EQ(boxes.shown[0].text, "ﾈｯﾄﾜｰｸ上のPCのﾌｫﾙﾀﾞは設定できません。");
  EXPECT_EQ(boxes.shown[0].flags, 0x10u | 0x10000u);
  // Only the accepted pick reaches its edit.
  EXPECT_EQ(form.RxFolder.text, "");
  EXPECT_EQ(form.TxFolder.text, "\\\\pc\\old");
  EXPECT_EQ(form.LogFileFolder.text, "/mnt/log" + kSep);
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
