// Tablink.exe from outside, as a user meets it: each case writes the working
// definition file where the program looks for it (the machine's WorkFolder
// names C:\), starts the program copied beside this test, finds its main
// window and message boxes, presses its stop button through window messages,
// and checks its exit code and what it left behind: the terminal's files
// (PW_WINE_TERMINAL, the simulator on the other end of COM1), the stored
// text file, the history log, the stored window position.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "content/history_log.h"
#include "frontend/program_alerts.h"
#include "library/settings_store.h"
#include "library/win32/progress_window.h"
#include "library/win32/views.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "tablink/definition_file.h"
#include "tablink/tablink.h"
#include "tests/wine/program_window.h"

namespace pw::tablink {
namespace {

namespace fs = std::filesystem;
using test::Control;
using test::Read;
using test::Text;

constexpr char kCaption[] = "Tablink通信 COM1 115.2k";

struct Program : test::Program {
  Program() : test::Program(L"Tablink.exe", L"") {}

  static bool Waits(HWND main) {
    return Text(Control(main, progress_id::LabelFName)) == "受信待ち" &&
           Text(Control(main, progress_id::StopBtn)) == "終了";
  }
  // The main window once the server waits for the terminal (\p main, or the
  // window found by its caption); null when it does not come. A click before
  // the server's first wait would find nothing to stop.
  HWND Waiting(HWND main = nullptr) {
    if (main == nullptr) main = Window(L"TMainForm", kCaption);
    if (main == nullptr) return nullptr;
    for (int i = 0; i < 200 && !Waits(main); ++i) Sleep(50);
    Sleep(500);
    return Waits(main) ? main : nullptr;
  }
};
const std::string kPositionKey = std::string(kTablinkExeKey) + "\\COM1";

Definition Def(const char* name, std::int32_t vector, const char* saveName, std::vector<std::int32_t> map,
               const char* widths) {
  Definition d;
  d.BhtFile = name;
  d.Vector = vector;
  d.SaveName = saveName;
  d.FieldCount = static_cast<std::int32_t>(map.size());
  for (std::size_t i = 0; i < map.size(); ++i) d.FieldMap[i] = map[i];
  d.FieldWidths = widths;
  d.Delimiter = 1;  // comma
  return d;
}

class TablinkExe : public ::testing::Test {
 protected:
  TablinkExe() {
    fs::remove_all(pc);
    fs::create_directories(logs);
    Registry& registry = SystemRegistry();
    EXPECT_TRUE(registry.WriteString(RegistryRoot::LocalMachine, kMachineKey, "WorkFolder", "C:\\"));
    EXPECT_TRUE(registry.WriteDword(RegistryRoot::CurrentUser, kPositionKey, "DspX", 1));
    EXPECT_TRUE(registry.WriteDword(RegistryRoot::CurrentUser, kPositionKey, "DspY", 1));
    // Records go out of ITEM.CSV (a number of 5 and a text of 4) and come
    // back into CSV.TXT by the same layout.
    std::ofstream(pc / "ITEM.CSV", std::ios::binary) << "+12,AB\r\n12,\"C,D\"\r\n";
    Definitions({Def("ITEM.DAT", kToBht, "ITEM.CSV", {1, 0}, "5 4"), Def("CSV.DAT", kToPc, "CSV.TXT", {1, 0}, "")});
  }

  // The working file: COM1 at 115200 bit/s, text files in pc, a log a month
  // in \p logFolder.
  void Definitions(const std::vector<Definition>& defs, const fs::path& logFolder = {}, bool hide = false) {
    DefinitionHeader h;
    h.VerStr = std::string(kVersionMarker);
    h.SaveType = kSaveText;
    h.DataSource = ToAnsi(Utf8FromPath(pc));
    h.ComPort = 0;
    h.ComSpeed = 115200;
    h.HideForm = hide;
    h.WriteMode = 1;
    h.SaveLog = true;
    h.LogFileMode = 1;
    h.LogFolder = ToAnsi(Utf8FromPath(logFolder.empty() ? logs : logFolder));
    std::ofstream out(LocateDefinitionFile(SystemRegistry()), std::ios::binary | std::ios::trunc);
    const auto add = [&out](const Record& r) { out.write(reinterpret_cast<const char*>(r.data()), r.size()); };
    add(EncodeHeader(h));
    for (const Definition& d : defs) add(EncodeDefinition(d));
  }

  std::string Log() const {
    std::string all;
    for (const auto& e : fs::directory_iterator(logs)) all += Read(e.path());
    return FromAnsi(all);
  }

  static std::optional<std::uint32_t> Stored(const char* name) {
    return SystemRegistry().ReadDword(RegistryRoot::CurrentUser, kPositionKey, name);
  }

  fs::path pc = fs::temp_directory_path() / "tablink";  // in this run's own Wine prefix
  fs::path logs = pc / "logs";
};

// With PW_WINE_BHTSIM="request ITEM.DAT --dir . | send --file ITEM.DAT --as CSV.DAT --fields 5,4".
TEST_F(TablinkExe, ServesARequestAndStoresAReceivedFile) {
  const char* terminal = std::getenv("PW_WINE_TERMINAL");
  ASSERT_NE(terminal, nullptr);
  const fs::path bht = PathFromUtf8(std::string("Z:") + terminal);

  Program p;
  const HWND main = p.Window(L"TMainForm", kCaption);
  ASSERT_NE(main, nullptr);
  for (int i = 0; i < 1200 && Log().find("CSV.DAT") == std::string::npos; ++i) Sleep(50);

  EXPECT_EQ(Read(bht / "ITEM.DAT"), "+0012AB  \r\n00012C,D \r\n");
  EXPECT_EQ(Read(pc / "CSV.TXT"), "12,\"AB\"\r\n12,\"C,D\"\r\n");
  const std::string log = Log();
  EXPECT_NE(log.find("ITEM.DAT" + std::string(6, ' ') + "2件" + std::string(9, ' ') + "送信  正常終了"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("CSV.DAT" + std::string(7, ' ') + "2件" + std::string(9, ' ') + "受信  正常終了"),
            std::string::npos)
      << log;

  // Once the batch has ended the server waits again, and the button ends the program.
  ASSERT_NE(p.Waiting(main), nullptr);
  PostMessageW(Control(main, progress_id::StopBtn), BM_CLICK, 0, 0);
  EXPECT_EQ(p.Exit(10000), 0);
}

// With COM1 linked to a silent COM2, under Xvfb.
TEST_F(TablinkExe, MainWindowWaitsAndItsStopButtonEndsTheProgram) {
  Program p;
  const HWND main = p.Window(L"TMainForm", kCaption);
  ASSERT_NE(main, nullptr);
  RECT client{};
  GetClientRect(main, &client);
  EXPECT_EQ(client.right, 199);
  EXPECT_EQ(client.bottom, 41);
  EXPECT_EQ(GetWindowLongW(main, GWL_STYLE) & WS_SYSMENU, 0) << "no system menu";
  ASSERT_NE(p.Waiting(main), nullptr) << Text(Control(main, progress_id::LabelFName)) << " / "
                                      << Text(Control(main, progress_id::StopBtn));

  SetWindowPos(main, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  PostMessageW(Control(main, progress_id::StopBtn), BM_CLICK, 0, 0);
  EXPECT_EQ(p.Exit(10000), 0);
  EXPECT_EQ(Stored("DspX"), 50u);
  EXPECT_EQ(Stored("DspY"), 60u);
}

// A hidden form starts minimised and keeps no position; restored, it does.
TEST_F(TablinkExe, HiddenFormStartsMinimisedAndRestoringKeepsItsPosition) {
  Definitions({Def("CSV.DAT", kToPc, "CSV.TXT", {1, 0}, "")}, {}, true);
  for (const bool restore : {false, true}) {
    Program p;
    const HWND main = p.Waiting();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(IsIconic(main));
    if (restore) {
      ShowWindow(main, SW_RESTORE);
      SetWindowPos(main, nullptr, 70, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    PostMessageW(Control(main, progress_id::StopBtn), BM_CLICK, 0, 0);
    EXPECT_EQ(p.Exit(10000), 0);
    EXPECT_EQ(Stored("DspX"), restore ? 70u : 1u) << (restore ? "restored" : "minimised");
    EXPECT_EQ(Stored("DspY"), restore ? 80u : 1u) << (restore ? "restored" : "minimised");
  }
}

TEST_F(TablinkExe, AnotherStartingInstanceIsRefused) {
  // A main window of the program's class under the title alone: an instance
  // that has not yet reached its start timer.
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TMainForm";
  RegisterClassW(&wc);
  const HWND other = CreateWindowExW(0, L"TMainForm", Wide(kTablinkTitle).c_str(), WS_POPUP, 0, 0, 10, 10, nullptr,
                                     nullptr, wc.hInstance, nullptr);
  ASSERT_NE(other, nullptr);
  Program p;
  EXPECT_EQ(p.Box(kTablinkTitle), tablink_text::kAlreadyRunning);
  EXPECT_EQ(p.Exit(), 1);
  DestroyWindow(other);
}

// The server cannot open its log: it shows why and ends, and the program with it.
TEST_F(TablinkExe, ServerThatCannotRunEndsTheProgramWithTwo) {
  Definitions({Def("CSV.DAT", kToPc, "CSV.TXT", {1, 0}, "")}, pc / "missing");
  Program p;
  EXPECT_NE(p.Box(kLogOpenErrorCaption).find("の通信履歴保存ファイル作成／アクセスできません。"), std::string::npos);
  EXPECT_EQ(p.Exit(10000), 2);
}

}  // namespace
}  // namespace pw::tablink
