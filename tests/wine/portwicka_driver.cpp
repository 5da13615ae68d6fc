// PortwickA.exe from outside, as a user meets it: each case starts the
// program (copied beside this test) with a command line, finds its windows
// and message boxes by class and caption, reads and presses them through
// window messages, and checks its exit code and what it left behind: the
// terminal's files (PW_WINE_TERMINAL, the simulator on the other end of
// COM1), the received files, the stored window position.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frontend/program_alerts.h"
#include "library/com_mode_form.h"
#include "library/settings_store.h"
#include "library/win32/progress_window.h"
#include "library/win32/views.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "portwicka/portwicka.h"
#include "portwicka/set_fld_form.h"
#include "portwicka/win32/views.h"
#include "tests/support/recording_boxes.h"
#include "tests/wine/program_window.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

constexpr char kCsv[] = "A000000001,00100\r\nB2,7\r\nC000000003,00300\r\n";

using test::Control;
using test::Read;
using test::Text;

// One run of PortwickA.exe.
struct Program : test::Program {
  explicit Program(const std::wstring& args) : test::Program(L"PortwickA.exe", args) {}
};

class PortwickAProgram : public ::testing::Test {
 protected:
  PortwickAProgram() {
    fs::remove_all(pc);
    for (const fs::path& p : {rx, tx}) fs::create_directories(p);
    const std::optional<fs::path> settings = FindSettingsFolder(alerts);
    EXPECT_TRUE(settings.has_value());
    store = std::make_unique<SettingsStore>(*settings, SystemRegistry(), alerts);
    Settings& v = store->Values();
    v.ComName = "COM1";
    v.ComSpeed = 115200;
    v.DspMode = true;
    v.RcvMode = 0;
    v.WrMode = 0;
    v.CsvRcvDat = true;
    v.DefRxFolder = Utf8FromPath(rx) + "\\";
    v.DefTxFolder = Utf8FromPath(tx) + "\\";
    EXPECT_TRUE(store->WriteFile());
    std::ofstream(tx / "ITEM.CSV", std::ios::binary) << kCsv;
  }

  test::RecordingBoxes boxes;
  Alerts alerts{boxes, std::string(kPortwickATitle)};
  fs::path pc = fs::temp_directory_path() / "portwicka";  // in this run's own Wine prefix
  fs::path rx = pc / "rx", tx = pc / "tx";
  std::unique_ptr<SettingsStore> store;
};

// With PW_WINE_BHTSIM="receive --dir . | send --file ITEM.CSV --fields 10,5".
TEST_F(PortwickAProgram, SendsToTheTerminalAndReceivesBack) {
  const char* terminal = std::getenv("PW_WINE_TERMINAL");
  ASSERT_NE(terminal, nullptr);
  const fs::path bht = PathFromUtf8(std::string("Z:") + terminal);

  {
    Program send(L"-S COM1 115200 ITEM.CSV 10,5");  // from the default send folder
    ASSERT_TRUE(send.Started());
    EXPECT_EQ(send.Exit(60000), 0);
  }
  EXPECT_EQ(Read(bht / "ITEM.FLD"), "* created by BHT\r\nfile\tITEM.CSV\r\nsize\t51\r\nrecords\t3\r\nfields\t10 5\r\n");
  EXPECT_EQ(Read(bht / "ITEM.CSV"), "A00000000100100\r\nB2        7    \r\nC00000000300300\r\n");

  {
    Program receive(L"-R COM1 115200 0 0");
    ASSERT_TRUE(receive.Started());
    EXPECT_EQ(receive.Exit(60000), 0);
  }
  EXPECT_EQ(Read(rx / "ITEM.CSV"), kCsv);
  EXPECT_FALSE(fs::exists(rx / "portwk1.tmp") || fs::exists(rx / "portwk2.tmp"));
}

// With COM1 linked to a silent COM2, under Xvfb.
TEST_F(PortwickAProgram, MainWindowShowsTheReceiveAndItsStopButtonEndsTheProgram) {
  Program p(L"-R COM1 115200 0 0");
  const HWND main = p.Window(L"TMainForm", "COM1 115200 bps");
  ASSERT_NE(main, nullptr);
  RECT client{};
  GetClientRect(main, &client);
  EXPECT_EQ(client.right, 204);
  EXPECT_EQ(client.bottom, 42);
  EXPECT_EQ(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "not on top";
  EXPECT_EQ(Text(Control(main, progress_id::LabelFName)), "受信待ち");
  EXPECT_EQ(Text(Control(main, progress_id::StopBtn)), "終了");
  SetWindowPos(main, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  {
    // A second PortwickA meanwhile sees this one and refuses to run.
    Program second(L"-R");
    EXPECT_EQ(second.Box(kPortwickATitle), portwicka_text::kAlreadyRunning);
    EXPECT_EQ(second.Exit(), 1);
  }
  // Timer0 starts the receive 100 ms after the window was made; the button stops it.
  Sleep(1500);
  PostMessageW(Control(main, progress_id::StopBtn), BM_CLICK, 0, 0);
  EXPECT_EQ(p.Exit(10000), 0);
  const WindowPos pos = store->ReadWindowPos("COM1");
  EXPECT_EQ(pos.x, 50);
  EXPECT_EQ(pos.y, 60);
}

// Minimising the main window turns the display flag off, so its position is
// not stored at the end; restoring turns it on again.
TEST_F(PortwickAProgram, MinimisingTheMainWindowTurnsTheDisplayFlagOff) {
  const WindowPos before = store->ReadWindowPos("COM1");
  for (const bool restore : {false, true}) {
    Program p(L"-R COM1 115200 0 0");
    const HWND main = p.Window(L"TMainForm", "COM1 115200 bps");
    ASSERT_NE(main, nullptr);
    Sleep(1500);  // Timer0 has started the receive
    ShowWindow(main, SW_MINIMIZE);
    if (restore) {
      ShowWindow(main, SW_RESTORE);
      SetWindowPos(main, nullptr, 70, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    PostMessageW(Control(main, progress_id::StopBtn), BM_CLICK, 0, 0);
    EXPECT_EQ(p.Exit(10000), 0);
    const WindowPos pos = store->ReadWindowPos("COM1");
    EXPECT_EQ(pos.x, restore ? 70 : before.x) << (restore ? "restored" : "minimised");
    EXPECT_EQ(pos.y, restore ? 80 : before.y) << (restore ? "restored" : "minimised");
  }
}

TEST_F(PortwickAProgram, RefusalsShowTheirMessageAndEndWithOne) {
  {
    Program p(L"-X");
    EXPECT_EQ(p.Box(kPortwickATitle), portwicka_text::kParameterError);
    EXPECT_EQ(p.Exit(), 1);
  }
  {
    Program p(L"-R COM1 1200");
    EXPECT_EQ(p.Box(kPortwickATitle), portwicka_text::kBadSpeed);
    EXPECT_EQ(p.Exit(), 1);
  }
  {
    // A main window of the program's class under its title: another instance.
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TMainForm";
    RegisterClassW(&wc);
    const HWND other = CreateWindowExW(0, L"TMainForm", Wide(kPortwickATitle).c_str(), WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, wc.hInstance, nullptr);
    ASSERT_NE(other, nullptr);
    Program p(L"-R");
    EXPECT_EQ(p.Box(kPortwickATitle), portwicka_text::kAlreadyRunning);
    EXPECT_EQ(p.Exit(), 1);
    DestroyWindow(other);
  }
}

TEST_F(PortwickAProgram, SetShowsTheSettingsDialogAsTheWholeProgram) {
  Program p(L"-SET");
  const HWND dialog = p.Window(L"TSetComModeForm", std::string(com_mode_text::kCaption).c_str());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(p.Window(L"TMainForm", nullptr, 0), nullptr);
  PostMessageW(Control(dialog, com_mode_id::CancelBtn), BM_CLICK, 0, 0);
  EXPECT_EQ(p.Exit(10000), 0);
}

// A send without a file: the file dialog, then the field dialog for a data
// file without its field file; its checks; then the send, stopped.
TEST_F(PortwickAProgram, SendDialogAndFieldDialog) {
  std::ofstream(tx / "DATA.TXT", std::ios::binary) << kCsv;
  Program p(L"-S COM1 115200");
  const HWND open = p.Window(L"#32770", nullptr);
  ASSERT_NE(open, nullptr);
  const HWND name = Control(open, 0x47C, L"Edit");  // the file name's edit, inside cmb13
  ASSERT_NE(name, nullptr);
  // The dialog may still be filling itself in: the name is given again until it takes it.
  for (int i = 0; i < 10 && IsWindow(open) && IsWindowVisible(open); ++i) {
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>((tx / "DATA.TXT").wstring().c_str()));
    PostMessageW(open, WM_COMMAND, IDOK, 0);
    for (int j = 0; j < 20 && IsWindow(open) && IsWindowVisible(open); ++j) Sleep(50);
  }

  const HWND fld = p.Window(L"TSetFldForm", std::string(set_fld_text::kCaption).c_str());
  ASSERT_NE(fld, nullptr);
  RECT client{};
  GetClientRect(fld, &client);
  EXPECT_EQ(client.right, 363);
  EXPECT_EQ(client.bottom, 196);
  EXPECT_EQ(Text(Control(fld, set_fld_id::SendFileLB)), "DATA.TXT");
  const HWND edit = Control(fld, set_fld_id::FldSE);
  for (const wchar_t c : std::wstring(L"0a,x5 ")) SendMessageW(edit, WM_CHAR, c, 0);
  EXPECT_EQ(Text(edit), "0,5") << "only digits and commas reach the edit";
  PostMessageW(Control(fld, set_fld_id::SetBtn), BM_CLICK, 0, 0);
  EXPECT_EQ(p.Box(set_fld_text::kSetErrorTitle), set_fld_text::kSetAgain);
  EXPECT_FALSE(fs::exists(tx / "DATA.fld"));
  EXPECT_TRUE(IsWindowVisible(fld));

  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"13,20,4"));
  PostMessageW(Control(fld, set_fld_id::SetBtn), BM_CLICK, 0, 0);
  EXPECT_EQ(p.Box(set_fld_text::kCaption), set_fld_text::kSaved);
  EXPECT_EQ(Read(tx / "DATA.fld"), "13,20,4\r\n");

  const HWND main = p.Window(L"TMainForm", "COM1 115200 bps");
  ASSERT_NE(main, nullptr);
  // The label shows the terminal's name of the file once the worker runs.
  const auto label = [&] { return Text(Control(main, progress_id::LabelFName)); };
  for (int i = 0; i < 100 && label().rfind("DATA.TXT ", 0) != 0; ++i) Sleep(50);
  EXPECT_EQ(label(), "DATA.TXT ﾃﾞｰﾀ送信");
  PostMessageW(Control(main, progress_id::StopBtn), BM_CLICK, 0, 0);
  EXPECT_EQ(p.Exit(30000), 0);
}

}  // namespace
}  // namespace pw
