// PortwickA's models: every command line against the start-up checks and what
// it hands to the transfer, the send-file rules, the field settings dialog,
// -SET through the settings dialog, and the window's closing.
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "library/com_mode_form.h"
#include "portwicka/main_form.h"
#include "portwicka/portwicka.h"
#include "portwicka/set_command.h"
#include "portwicka/set_fld_form.h"
#include "tests/library/settings_fixture.h"
#include "tests/support/idle_device.h"
#include "tests/support/virtual_clock.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

using test::IdleDevice;

// The main window as the model sees it: what was asked of it, and the
// worker's end handed over to the test's thread.
struct FakeMainWindow : MainFormWindow {
  void SetCaption(const std::string& utf8) override { caption = utf8; }
  void MoveTo(WindowPos p) override { pos = p; }
  WindowPos Position() const override { return pos; }
  void Hide() override { visible = false; }
  void Minimize() override {
    minimized = true;
    form->Minimized();
  }
  void EnableTimer0(bool on) override { timer0 = on; }
  void EnableTimer1(bool on) override { timer1 = on; }
  void EnableStopBtn(bool on) override { stopBtn = on; }
  void Close() override {
    closed = true;
    form->FormClose();
  }
  void PostProgress() override {}
  void PostEnded() override {
    std::lock_guard lock(mutex);
    ended = true;
    cv.notify_all();
  }
  bool WaitEnded() {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(10), [this] { return ended; });
  }

  TMainForm* form = nullptr;
  std::string caption;
  WindowPos pos;
  bool visible = true, minimized = false, timer0 = false, timer1 = true, stopBtn = true, closed = false;
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
};

class PortwickATest : public test::SettingsFixture {
 protected:
  PortwickATest() {
    for (const fs::path& p : {rx, tx, in}) fs::create_directories(p);
    // COM3, 115200 bit/s, display on, continuous receive, append, no conversions, no log.
    WriteCnf("0300001152001110000\r\n" + Utf8FromPath(rx) + "\r\n" + Utf8FromPath(tx) + "\r\n0\r\n00\r\n");
    clock.SetNow({2024, 5, 6, 7, 8, 9});
  }

  // A fresh program started with \p args; its refusal, if any.
  std::optional<int> Start(std::vector<std::string> args) {
    boxes.shown.clear();
    opened.clear();
    app = std::make_unique<PortwickA>(
        PortwickA::Parts{alerts, registry, clock, opener, [this] { return running; },
                         [this](const Alerts&) { return noFolder ? std::nullopt : std::optional(folder); }});
    return app->StartUp(args);
  }
  std::string Said() const { return boxes.shown.empty() ? "" : boxes.shown.back().text; }
  void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path rx = drive.Path() / "rx", tx = drive.Path() / "tx", in = drive.Path() / "in";
  std::set<std::string> busy;  // ports another program holds
  std::vector<std::string> opened;
  SerialOpener opener = [this](std::string_view name) -> std::unique_ptr<SerialDevice> {
    opened.emplace_back(name);
    if (busy.contains(std::string(name))) return nullptr;
    return std::make_unique<IdleDevice>();
  };
  bool running = false, noFolder = false;
  test::VirtualClock clock;
  std::unique_ptr<PortwickA> app;
};

TEST_F(PortwickATest, EveryCommandLineIsCheckedAndHandedToTheTransfer) {
  busy = {"COM12"};
  const std::string inText = Utf8FromPath(in) + sep;
  const std::string noFolder = Utf8FromPath(drive.Path() / "nothere");
  const std::string paramError(portwicka_text::kParameterError);
  struct Row {
    std::vector<std::string> args;
    std::string message;  // the refusal's message, empty when it starts
    AMode mode = AMode::Receive;
    std::string port;  // the port opened
    std::int64_t speed = 0;
    std::string rxFolder;  // the receive's folder
    bool continuous = true, append = true, csv = false;
    std::string file, fields;  // receive: the expected name and field list
  };
  const auto refused = [](std::vector<std::string> args, std::string_view message) {
    Row row;
    row.args = std::move(args);
    row.message = message;
    return row;
  };
  const auto starts = [](std::vector<std::string> args, AMode mode, std::string port, std::int64_t speed,
                         std::string rxFolder = "", bool continuous = true, bool append = true, bool csv = false,
                         std::string file = "", std::string fields = "") {
    return Row{std::move(args),
               "",
               mode,
               std::move(port),
               speed,
               std::move(rxFolder),
               continuous,
               append,
               csv,
               std::move(file),
               std::move(fields)};
  };
  const std::string r = Utf8FromPath(rx) + sep;
  const AMode receive = AMode::Receive, send = AMode::Send;
  const std::vector<Row> rows = {
      starts({}, receive, "COM3", 115200, r),
      starts({"-r", "com2", "9600", "0", "0"}, receive, "COM2", 9600, r, false, false),
      starts({"-R", "COM2", "19200", "7", "x"}, receive, "COM2", 19200, r),
      starts({"-R", "COM2", "fast"}, receive, "COM2", 460800, r),  // not a number: 460800
      refused({"-R", "COM2", "1200"}, portwicka_text::kBadSpeed),
      refused({"-R", "COM2", "-9600"}, portwicka_text::kBadSpeed),
      refused({"-R", "LPT1"}, port_text::kBadPortName),
      refused({"-S", "LPT1", "1200"}, port_text::kBadPortName),            // the name before the speed
      refused({"-R", "com12"}, "COM12" + std::string(port_text::kInUse)),  // only the opening refuses it
      refused({"-F", "COM2", "9600", "0", "0"}, paramError),
      starts({"-F", "COM2", "38400", "0", "1", "item.dat"}, receive, "COM2", 38400, r, false, true, false, "ITEM.DAT"),
      starts({"-F", "COM2", "57600", "1", "0", "a.dat", "8,20"}, receive, "COM2", 57600, r, true, false, false, "A.DAT",
             "8,20"),
      refused({"-FA"}, paramError),
      starts({"-FA", "item.dat", "", Utf8FromPath(in)}, receive, "COM3", 115200, inText, true, true, false, "ITEM.DAT"),
      refused({"-FA", "item.dat", "5", noFolder}, portwicka_text::kNoRxFolder),
      refused({"-FB", "B.DAT", "8,20"}, paramError),
      starts({"-FB", "B.DAT", "8,20", inText, "ignored"}, receive, "COM3", 115200, inText, false, true, true, "B.DAT",
             "8,20"),
      starts({"-s", "com4", "57600", "X.CSV", "5"}, send, "COM4", 57600, "", true, true, false, "X.CSV", "5"),
      starts({"-SA", "Y.DAT"}, send, "COM3", 115200, "", true, true, false, "Y.DAT"),
      starts({"-Set"}, AMode::Settings, "", 115200),
      refused({"-X"}, paramError),
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const std::optional<int> refused = Start(row.args);
    if (!row.message.empty()) {
      EXPECT_EQ(refused, 1);
      ASSERT_EQ(boxes.shown.size(), 1u);
      EXPECT_EQ(Said(), row.message);
      EXPECT_EQ(boxes.shown[0].title, "PortwickA.exe通信");
      continue;
    }
    ASSERT_EQ(refused, std::nullopt) << Said();
    EXPECT_TRUE(boxes.shown.empty());
    const ARun& run = app->Run();
    EXPECT_EQ(run.Mode, row.mode);
    EXPECT_EQ(run.Speed, row.speed);
    EXPECT_EQ(opened, row.port.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.port});
    EXPECT_EQ(app->Port() != nullptr, !row.port.empty());
    if (row.mode == AMode::Send) {
      EXPECT_EQ(run.File + "|" + run.FieldList, row.file + "|" + row.fields);
    }
    if (row.mode != AMode::Receive) continue;
    EXPECT_EQ(app->Caption(), row.port + " " + std::to_string(row.speed) + " bps");
    const TransferRequest q = app->ReceiveRequest();
    EXPECT_FALSE(q.TxFlag);
    EXPECT_EQ(Utf8FromPath(q.RxFolder), row.rxFolder);
    EXPECT_EQ(q.RcvMode, row.continuous);
    EXPECT_EQ(q.WriteMode, row.append);
    EXPECT_EQ(q.CsvFlg, row.csv);
    EXPECT_FALSE(q.LastSpFlg);
    EXPECT_FALSE(q.DblQuotFlg);
    EXPECT_EQ(q.ChkRcvFName, row.file);
    EXPECT_EQ(q.ChkFields, row.fields);
    EXPECT_EQ(q.Tmp1File, rx / "portwk1.tmp");
    EXPECT_EQ(q.Tmp2File, rx / "portwk2.tmp");
    EXPECT_EQ(q.LogFile.parent_path(), folder);  // no log folder set: the settings folder
  }
  // Nothing given on a command line reaches the settings file.
  EXPECT_EQ(ReadCnf().substr(0, 19), "0300001152001110000");
}

TEST_F(PortwickATest, StartUpStopsAtTheFirstRefusal) {
  running = true;
  EXPECT_EQ(Start({"-X"}), 1);
  EXPECT_EQ(Texts(), std::vector<std::string>{std::string(portwicka_text::kAlreadyRunning)});
  running = false;
  noFolder = true;  // the folder's own message stands for itself
  EXPECT_EQ(Start({"-X"}), 1);
  EXPECT_TRUE(boxes.shown.empty());
  noFolder = false;
}

TEST_F(PortwickATest, SendFileRules) {
  Write(tx / "ITEM.CSV", "a,b\r\n");
  Write(tx / "item.dat", "x");
  Write(tx / "item.fld", "  8,20 \r\nsecond line\r\n");
  Write(tx / "nofld.dat", "x");
  Write(tx / "blank.dat", "x");
  Write(tx / "blank.fld", "   \r\n");
  Write(tx / "prog.fn4", "p");
  Write(tx / "odd.p", "p");
  Write(in / "SETUP.EXE", "MZ");
  Write(in / "lib.dl", "x");
  Write(in / "DATA", "x");

  std::vector<fs::path> asked;
  std::string answer;  // what the field dialog writes, empty: cancelled
  std::optional<fs::path> picked;
  PortwickA::SendChoices choices{[&](const fs::path& folder) {
                                   EXPECT_EQ(Utf8FromPath(folder), Utf8FromPath(tx) + sep);
                                   return picked;
                                 },
                                 [&](const fs::path& pc, const fs::path& fld) {
                                   asked.push_back(pc);
                                   EXPECT_EQ(fld, fs::path(pc).replace_extension(".fld"));
                                   if (!answer.empty()) Write(fld, answer + "\r\n");
                                 }};
  const auto send = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "-SA");
    EXPECT_EQ(Start(args), std::nullopt);
    return app->SendRequest(choices);
  };

  std::optional<TransferRequest> q = send({"ITEM.CSV", "10,5"});  // no folder part: the send folder
  ASSERT_TRUE(q);
  EXPECT_TRUE(q->TxFlag);
  EXPECT_EQ(q->TxFName, tx / "ITEM.CSV");
  EXPECT_EQ(q->BhtFName, "ITEM.CSV");
  EXPECT_EQ(q->FieldsDat, "10,5");
  q = send({Utf8FromPath(tx / "item.dat")});
  ASSERT_TRUE(q);
  EXPECT_EQ(q->BhtFName, "ITEM.DAT");
  EXPECT_EQ(q->FieldsDat, "8,20") << "the field file's first line, trimmed";
  q = send({"prog.fn4"});
  ASSERT_TRUE(q);
  EXPECT_EQ(q->FieldsDat, "") << "a program file goes without a field list";
  EXPECT_TRUE(send({"odd.p"})) << "\".P\" is part of the program extensions";

  EXPECT_FALSE(send({"missing.dat"}));
  EXPECT_EQ(Said(), portwicka_text::kNoSendFile);
  EXPECT_EQ(boxes.shown.back().flags & kMbIconWarning, unsigned{kMbIconWarning});
  EXPECT_FALSE(send({"nofld.dat"}));
  EXPECT_EQ(Said(), portwicka_text::kNoFieldFile);
  EXPECT_FALSE(send({"blank.dat"}));
  EXPECT_EQ(Said(), portwicka_text::kBadFieldFile);
  EXPECT_TRUE(asked.empty()) << "a given file is not asked for";

  // Without a dialog, a given data file's missing field file may be asked for.
  choices.askForGivenFile = true;
  answer = "4,4";
  q = send({"nofld.dat"});
  ASSERT_TRUE(q);
  EXPECT_EQ(q->FieldsDat, "4,4");
  EXPECT_EQ(asked, std::vector<fs::path>{tx / "nofld.dat"});
  choices.askForGivenFile = false;
  asked.clear();

  // Picked files.
  EXPECT_FALSE(send({}));  // cancelled
  for (const char* name : {"SETUP.EXE", "lib.dl"}) {
    picked = in / name;
    EXPECT_FALSE(send({}));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "データ送信");
    EXPECT_EQ(boxes.shown[0].text, name == std::string("lib.dl") ? "拡張子.DLのファイルは送信できません"
                                                                 : "拡張子.EXEのファイルは送信できません");
    EXPECT_EQ(boxes.shown[0].flags & kMbIconError, unsigned{kMbIconError});
  }
  picked = in / "DATA";
  answer = "";
  EXPECT_FALSE(send({}));  // a data file without extension: the dialog, cancelled
  EXPECT_TRUE(boxes.shown.empty()) << "closed without a message";
  answer = "13,20,4";
  q = send({});
  ASSERT_TRUE(q);
  EXPECT_EQ(q->BhtFName, "DATA");
  EXPECT_EQ(q->FieldsDat, "13,20,4");
  EXPECT_EQ(asked, (std::vector<fs::path>{in / "DATA", in / "DATA"}));
}

TEST_F(PortwickATest, FieldDialogChecksWhatItSaves) {
  EXPECT_EQ(TSetFldForm::FldSEKeyPress(U'7'), U'7');
  EXPECT_EQ(TSetFldForm::FldSEKeyPress(U','), U',');
  EXPECT_EQ(TSetFldForm::FldSEKeyPress(U'\b'), U'\b');
  for (const char32_t key : {U'a', U' ', U'-', U'.', U'１', U'\r'}) EXPECT_EQ(TSetFldForm::FldSEKeyPress(key), 0u);

  const auto form = [&](const std::string& text) {
    boxes.shown.clear();
    auto f = std::make_unique<TSetFldForm>(boxes);
    f->SendFile = in / "ITEM.DAT";
    f->FldFile = in / "ITEM.fld";
    f->FormCreate();
    f->FormShow();
    f->FldSE = text;
    f->SetBtnClick();
    return f;
  };
  std::unique_ptr<TSetFldForm> f = form("");
  EXPECT_TRUE(f->EditFocused && !f->Closed && boxes.shown.empty());
  for (const char* bad : {",13", "13,", "13,,4", "0,5", "9000", "8193", " , "}) {
    f = form(bad);
    SCOPED_TRACE(bad);
    EXPECT_TRUE(f->EditFocused && !f->Closed);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "設定エラー");
    EXPECT_EQ(boxes.shown[0].text, "フィールド情報を再設定してください");
    EXPECT_EQ(boxes.shown[0].flags, unsigned{kMbIconError | kMbTaskModal});
    EXPECT_FALSE(fs::exists(in / "ITEM.fld"));
  }
  f = form(" 13,20,4 ");
  EXPECT_EQ(f->SendFileLB, "ITEM.DAT");
  EXPECT_TRUE(f->Closed);
  EXPECT_EQ(Read(in / "ITEM.fld"), "13,20,4\r\n");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "フィールド設定");
  EXPECT_EQ(boxes.shown[0].text, "フィールド情報を保存します。");
  EXPECT_EQ(boxes.shown[0].flags, unsigned{kMbIconInformation | kMbTaskModal});
  EXPECT_TRUE(TSetFldForm::ValidFieldList("8192,1"));

  TSetFldForm unwritable(boxes);
  unwritable.FldFile = in / "no" / "X.fld";
  unwritable.FldSE = "5";
  boxes.shown.clear();
  unwritable.SetBtnClick();
  EXPECT_FALSE(unwritable.Closed);
  EXPECT_EQ(Texts(), std::vector<std::string>{"ファイルをオープンできません。"});
  EXPECT_EQ(boxes.shown[0].title, "ファイル エラー");
}

TEST_F(PortwickATest, SetListsAndChangesTheSettingsThroughTheDialog) {
  busy = {"COM5"};
  ASSERT_EQ(Start({"-SET"}), std::nullopt);
  const std::string before = ReadCnf();
  const auto set = [&](std::vector<std::string> args, std::string& listing) {
    boxes.shown.clear();
    std::FILE* out = std::tmpfile();
    const int code = SetCommand(app->Store(), alerts, args, out, opener);
    listing.assign(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    listing.resize(std::fread(listing.data(), 1, listing.size(), out));
    std::fclose(out);
    return code;
  };
  std::string listing;
  EXPECT_EQ(set({}, listing), 0);
  EXPECT_NE(listing.find("port=COM3\t通信ポート: COM3\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("speed=115200\t通信スピード: 115.2kbps\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("write=append\t受信データ書き込み: 追加\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("rxfolder=" + Utf8FromPath(rx) + "\t"), std::string::npos) << listing;

  // Refusals write nothing: an unknown name, a bad value, an empty folder, a busy port.
  EXPECT_EQ(set({"colour=red"}, listing), 1);
  EXPECT_EQ(set({"speed=9600"}, listing), 1);
  EXPECT_EQ(set({"log=on", "logfolder="}, listing), 1);
  EXPECT_EQ(Texts(), std::vector<std::string>{std::string(com_mode_text::kEnterLogFolder)});
  EXPECT_EQ(boxes.shown[0].title, "入力エラー");
  opened.clear();
  EXPECT_EQ(set({"port=COM5"}, listing), 1);
  EXPECT_EQ(Texts(), std::vector<std::string>{"COM5" + std::string(port_text::kInUse)});
  EXPECT_EQ(ReadCnf(), before);

  opened.clear();
  EXPECT_EQ(
      set({"port=COM2", "speed=460800", "display=off", "continuous=off", "write=overwrite", "csv=on", "quote=on",
           "lastspace=on", "log=on", "logperiod=year", "logfolder=" + Utf8FromPath(in), "txfolder=" + Utf8FromPath(in)},
          listing),
      0);
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(opened, (std::vector<std::string>{"COM2", "COM2"})) << "the changed port, then the update's check";
  EXPECT_EQ(ReadCnf(), "0200004608000001110\r\n" + Utf8FromPath(rx) + sep + "\r\n" + Utf8FromPath(in) + sep + "\r\n12" +
                           Utf8FromPath(in) + sep + "\r\n00\r\n");
}

TEST_F(PortwickATest, ClosingRemovesTheTemporaryFilesAndReleasesThePort) {
  ASSERT_EQ(Start({"-R"}), std::nullopt);
  Write(rx / "portwk1.tmp", "1");
  Write(rx / "portwk2.tmp", "2");
  app->FormClose(WindowPos{40, 50});
  EXPECT_FALSE(fs::exists(rx / "portwk1.tmp") || fs::exists(rx / "portwk2.tmp"));
  EXPECT_EQ(app->Port(), nullptr);
  EXPECT_EQ(app->StoredPosition().x, 40);

  // With the display off, the position is not stored.
  WriteCnf("0300001152000110000\r\n" + Utf8FromPath(rx) + "\r\n" + Utf8FromPath(tx) + "\r\n0\r\n00\r\n");
  ASSERT_EQ(Start({"-R"}), std::nullopt);
  app->FormClose(WindowPos{70, 80});
  EXPECT_EQ(app->StoredPosition().x, 40);
}

TEST_F(PortwickATest, MainWindowRunsOneTransferAndClosesTheProgram) {
  // The position of COM2 stored at (30, 40); a receive there, stopped with the button.
  ASSERT_EQ(Start({"-R", "COM2", "9600", "0", "0"}), std::nullopt);
  app->Store().WriteWindowPos("COM2", {30, 40});
  TMainForm form(*app, SystemClock(), alerts, {});
  auto owned = std::make_unique<FakeMainWindow>();
  FakeMainWindow& w = *owned;
  w.form = &form;
  form.Attach(std::move(owned));
  EXPECT_EQ(w.caption, "COM2 9600 bps");
  EXPECT_EQ(w.pos.x, 30);
  EXPECT_EQ(w.pos.y, 40);
  EXPECT_TRUE(w.timer0);
  EXPECT_FALSE(w.timer1);
  EXPECT_FALSE(form.Busy());

  form.Timer0Timer();
  EXPECT_FALSE(w.timer0);
  EXPECT_FALSE(w.minimized) << "the display flag is on";
  EXPECT_TRUE(form.Busy());
  Write(rx / "portwk1.tmp", "1");
  w.pos = {60, 70};  // moved by the user
  form.StopBtnClick();
  ASSERT_TRUE(w.WaitEnded());
  form.WorkerEnded();
  EXPECT_FALSE(w.visible);
  EXPECT_TRUE(w.timer1);
  EXPECT_EQ(form.Result(), 1) << "a receive stopped while it waits";
  EXPECT_TRUE(form.Busy()) << "until the window closes";

  form.Timer1Timer();
  EXPECT_FALSE(w.timer1);
  EXPECT_FALSE(w.stopBtn);
  EXPECT_TRUE(w.closed);
  EXPECT_FALSE(form.Busy());
  EXPECT_FALSE(fs::exists(rx / "portwk1.tmp"));
  EXPECT_EQ(app->Port(), nullptr);
  EXPECT_EQ(app->StoredPosition().x, 60);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PortwickATest, MainWindowMinimisedOrHiddenStoresNoPositionAndASendThatCannotStartCloses) {
  // Minimised during the transfer: the display flag is off for the rest of the run.
  ASSERT_EQ(Start({"-R"}), std::nullopt);
  {
    TMainForm form(*app, SystemClock(), alerts, {});
    auto owned = std::make_unique<FakeMainWindow>();
    FakeMainWindow& w = *owned;
    w.form = &form;
    form.Attach(std::move(owned));
    form.Timer0Timer();
    form.Minimized();
    form.Restored();
    form.Minimized();
    w.pos = {90, 91};
    form.StopBtnClick();
    ASSERT_TRUE(w.WaitEnded());
    form.WorkerEnded();
    form.Timer1Timer();
    EXPECT_EQ(app->StoredPosition().x, 1);
    EXPECT_FALSE(app->Store().Values().DspMode);
  }

  // The display flag off from the settings: the program starts minimised.
  WriteCnf("0300001152000110000\r\n" + Utf8FromPath(rx) + "\r\n" + Utf8FromPath(tx) + "\r\n0\r\n00\r\n");
  ASSERT_EQ(Start({"-S", "COM3", "115200", "MISSING.CSV"}), std::nullopt);
  TMainForm form(*app, SystemClock(), alerts, {});
  auto owned = std::make_unique<FakeMainWindow>();
  FakeMainWindow& w = *owned;
  w.form = &form;
  form.Attach(std::move(owned));
  form.Timer0Timer();
  EXPECT_TRUE(w.minimized);
  EXPECT_TRUE(w.closed) << "the send file does not exist";
  EXPECT_FALSE(form.Busy());
  EXPECT_EQ(form.Result(), std::nullopt);
  EXPECT_EQ(Said(), portwicka_text::kNoSendFile);
}

}  // namespace
}  // namespace pw
