// The library's windows, opened for real under Wine and Xvfb: the test's
// thread runs them, a second thread reads and presses their controls through
// window messages, as a user's clicks would.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>

#include "library/folder_form.h"
#include "library/portwick_library.h"
#include "library/win32/progress_window.h"
#include "library/win32/views.h"
#include "tests/library/settings_fixture.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
namespace cid = com_mode_id;

// The visible top-level window of this class and caption, waited for up to 10 s.
HWND WaitWindow(const wchar_t* cls, std::string_view caption) {
  const std::wstring c = Wide(caption);
  for (int i = 0; i < 200; ++i) {
    const HWND w = FindWindowW(cls, c.c_str());
    if (w != nullptr && IsWindowVisible(w)) return w;
    Sleep(50);
  }
  return nullptr;
}

// Waits up to 10 s for \p window to be gone or hidden.
bool WaitGone(HWND window) {
  for (int i = 0; i < 200 && IsWindow(window) && IsWindowVisible(window); ++i) Sleep(50);
  return !IsWindow(window) || !IsWindowVisible(window);
}

// The descendant of \p root with the control id \p id.
HWND Control(HWND root, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  struct Each {
    static BOOL CALLBACK Match(HWND w, LPARAM p) {
      auto* s = reinterpret_cast<Search*>(p);
      if (GetDlgCtrlID(w) != s->id) return TRUE;
      s->found = w;
      return FALSE;
    }
  };
  EnumChildWindows(root, &Each::Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string Text(HWND w) { return Utf8(WindowText(w)); }

// The texts of every control of \p root, in the order of the Tab key, "|" after each.
std::string ControlTexts(HWND root) {
  struct Each {
    static BOOL CALLBACK Add(HWND w, LPARAM p) {
      *reinterpret_cast<std::string*>(p) += Text(w) + "|";
      return TRUE;
    }
  };
  std::string texts;
  EnumChildWindows(root, &Each::Add, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// The items of a drop-down list, "," between them.
std::string Items(HWND list) {
  std::string items;
  const auto n = SendMessageW(list, CB_GETCOUNT, 0, 0);
  for (WPARAM i = 0; i < static_cast<WPARAM>(n); ++i) {
    std::wstring item(static_cast<std::size_t>(SendMessageW(list, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
    item.resize(static_cast<std::size_t>(SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()))));
    items += (i ? "," : "") + Utf8(item);
  }
  return items;
}

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }
std::string ClientSize(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  return Size(r.right, r.bottom);
}
std::string OuterSize(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return Size(r.right - r.left, r.bottom - r.top);
}

// The text of the tree's selected item.
std::string TreeSelection(HWND tree) {
  wchar_t text[MAX_PATH] = {};
  TVITEMW item{};
  item.mask = TVIF_TEXT;
  item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  item.pszText = text;
  item.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return Utf8(text);
}

void Click(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }
// A click whose handler opens a modal window: the sender does not wait for it.
void ClickLater(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

// Runs \p run on this thread (the windows' thread) while \p drive runs on a
// second one. When the driver could not finish (it returns false), a WM_QUIT
// ends the modal window it left open, and is taken from the queue again.
template <class Run, class Drive>
void Driven(Run run, Drive drive) {
  const DWORD self = GetCurrentThreadId();
  std::thread driver([&] {
    if (!drive()) PostThreadMessageW(self, WM_QUIT, 0, 0);
  });
  run();
  driver.join();
  MSG m;
  while (PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

class ViewsTest : public test::SettingsFixture {
 protected:
  ViewsTest() {
    fs::create_directories(rx);
    fs::create_directories(log);
    v.ComSpeed = 115200;
    v.DefRxFolder = Utf8FromPath(rx);
    v.DefTxFolder = "T:\\";
  }

  fs::path rx = drive.Path() / PathFromUtf8("受信");
  fs::path log = drive.Path() / "log";
  std::map<std::string, std::string> seen;  // what the driver saw, by what
};

TEST_F(ViewsTest, SettingsDialogShowsEditsAndWritesTheSettings) {
  // No file, no registry: the settings in memory are shown, incomplete
  // without a send folder, so only "更新" leaves the dialog.
  registry.refuse = true;
  v.DefTxFolder.clear();

  Driven([&] { RunComModeDialog(store, alerts, nullptr); },
         [&] {
           const HWND dlg = WaitWindow(L"TSetComModeForm", com_mode_text::kCaption);
           if (dlg == nullptr) return false;
           const auto item = [dlg](int id) { return Control(dlg, id); };
           seen["client"] = ClientSize(dlg);
           seen["texts"] = ControlTexts(dlg);
           seen["lists"] = Items(item(cid::ComPortCB)) + "/" + Items(item(cid::ComSpeedCB)) + "/" +
                           Items(item(cid::WrModeCB)) + "/" + Items(item(cid::LogFileCombo));

           // Incomplete settings: no cancelling, no closing.
           seen["cancel enabled"] = std::to_string(IsWindowEnabled(item(cid::CancelBtn)));
           SendMessageW(dlg, WM_CLOSE, 0, 0);
           Click(item(cid::CancelBtn));
           seen["open after closing"] = std::to_string(IsWindowVisible(dlg));

           // A typed character does not choose in a list.
           SendMessageW(item(cid::ComSpeedCB), WM_CHAR, L'4', 0);
           seen["speed after typing"] = Text(item(cid::ComSpeedCB));

           const HWND port = item(cid::ComPortCB);
           SendMessageW(port, CB_SETCURSEL, 1, 0);
           SendMessageW(GetParent(port), WM_COMMAND, MAKEWPARAM(cid::ComPortCB, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(port));

           seen["log panel"] = std::to_string(IsWindowVisible(item(cid::LogPanel)));
           Click(item(cid::LogCheck));
           seen["log panel"] += std::to_string(IsWindowVisible(item(cid::LogPanel)));

           // The send folder's picker, cancelled: the edit keeps its text.
           ClickLater(item(cid::TxSanshouBtn));
           HWND picker = WaitWindow(L"TSetFolderForm", folder_text::kTxCaption);
           if (picker == nullptr) return false;
           seen["picker"] = OuterSize(picker) + " " + TreeSelection(Control(picker, folder_id::ShellTreeView1));
           Click(Control(picker, folder_id::CancellButton));
           WaitGone(picker);
           seen["tx after cancel"] = Text(item(cid::TxFolder));

           // The receive folder's picker opens at that folder; "ＯＫ" takes it.
           ClickLater(item(cid::RxSanshouBtn));
           picker = WaitWindow(L"TSetFolderForm", folder_text::kRxCaption);
           if (picker == nullptr) return false;
           seen["rx picker"] = TreeSelection(Control(picker, folder_id::ShellTreeView1));
           Click(Control(picker, folder_id::OkButton));
           WaitGone(picker);
           seen["rx after ok"] = Text(item(cid::RxFolder));

           // Logging without a log folder is refused; the folder gets the focus.
           SetWindowTextW(item(cid::TxFolder), L"T:\\送信");
           Click(item(cid::UpDateBtn));
           GUITHREADINFO gui{};
           gui.cbSize = sizeof gui;
           GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gui);
           seen["focus"] = std::to_string(gui.hwndFocus == item(cid::LogFileFolder));
           SetWindowTextW(item(cid::LogFileFolder), Wide(Utf8FromPath(log)).c_str());
           Click(item(cid::UpDateBtn));
           seen["closed"] = std::to_string(WaitGone(dlg));
           return WaitGone(dlg);
         });

  EXPECT_EQ(seen["client"], "386x343");
  EXPECT_EQ(seen["texts"],
            std::string(
                "通信ポート|COM1|通信スピード|115.2kbps|通信状態表示|表示する|表示しない|ｶﾝﾏ区切りﾃﾞｰﾀ受信|"
                "ｶﾝﾏ区切り受信末尾ｽﾍﾟｰｽをﾃﾞｰﾀとする|ｶﾝﾏ区切りﾃﾞｰﾀを引用符（”）で括る|連続受信|受信データ書き込み|追加|"
                "|通信履歴を保存する||保存ファイル名|月ごとに別名で保存|保存フォルダ|"
                "|参照|受信デフォルトフォルダ|") +
                Utf8FromPath(rx) + "|参照|送信デフォルトフォルダ||参照|更新|キャンセル|");
  EXPECT_EQ(seen["lists"],
            "COM1,COM2,COM3,COM4,COM5,COM6,COM7,COM8,COM9/115.2kbps,460.8kbps/上書き,追加/"
            "日ごとに別名で保存,月ごとに別名で保存,年ごとに別名で保存");
  EXPECT_EQ(seen["cancel enabled"], "0");
  EXPECT_EQ(seen["open after closing"], "1");
  EXPECT_EQ(seen["speed after typing"], "115.2kbps");
  EXPECT_EQ(seen["log panel"], "01");
  EXPECT_EQ(seen["picker"], "517x318 Tessaly");  // an empty folder offers the settings folder
  EXPECT_EQ(seen["tx after cancel"], "");
  EXPECT_EQ(seen["rx picker"], "受信");
  EXPECT_EQ(seen["rx after ok"], Utf8FromPath(rx) + "\\");
  EXPECT_EQ(seen["focus"], "1");
  EXPECT_EQ(seen["closed"], "1");
  ASSERT_EQ(Texts(), std::vector<std::string>{com_mode_text::kEnterLogFolder.data()});

  SettingsStore written(folder, registry, alerts);
  ASSERT_TRUE(written.ReadFile());
  const Settings& w = written.Values();
  EXPECT_EQ(v.ComName, "COM2");  // at once, by the list's change
  EXPECT_EQ(w.ComPort, 2);
  EXPECT_EQ(w.ComSpeed, 115200);
  EXPECT_TRUE(w.LogEnable);
  EXPECT_EQ(w.LogFolder + "|" + w.DefRxFolder + "|" + w.DefTxFolder,
            Utf8FromPath(log) + "\\|" + Utf8FromPath(rx) + "\\|T:\\送信\\");
}

TEST_F(ViewsTest, FolderPickerCancelledChoosesNothing) {
  FolderChoice choice{1, ""};
  Driven([&] { RunFolderDialog(choice, folderText, alerts, nullptr); },
         [&] {
           const HWND picker = WaitWindow(L"TSetFolderForm", folder_text::kLogCaption);
           if (picker == nullptr) return false;
           const LONG style = GetWindowLongW(picker, GWL_STYLE);
           seen["frame"] = std::to_string((style & WS_THICKFRAME) != 0) + std::to_string((style & WS_SYSMENU) != 0);
           seen["buttons"] =
               Text(Control(picker, folder_id::OkButton)) + "|" + Text(Control(picker, folder_id::CancellButton));
           Click(Control(picker, folder_id::CancellButton));
           return WaitGone(picker);
         });
  EXPECT_EQ(seen["frame"], "10");  // resizable, no title-bar buttons
  EXPECT_EQ(seen["buttons"], "ＯＫ|キャンセル");
  EXPECT_EQ(choice.PickedFolder, "");
  EXPECT_TRUE(boxes.shown.empty());
}

// The progress window of a receive that waits for the terminal on COM1;
// its button stops the receive.
TEST_F(ViewsTest, ProgressWindowShowsTheReceiveAndStopsIt) {
  ASSERT_TRUE(store.WriteFile());
  LibraryParts parts{SystemLibraryHost(), boxes, registry, SystemClock()};
  parts.settingsFolder = [this](const Alerts&) { return std::optional<fs::path>(folder); };
  PortwickLibrary library(parts);
  ASSERT_EQ(library.InitPortwick(), -1);
  const std::int32_t handle = library.OpenCom(0, "COM1", 115200);
  ASSERT_NE(handle, -1);

  std::int32_t result = -1;
  Driven(
      [&] {
        std::optional<PortwickLibrary::Received> received;
        result = library.Receive(handle, "", 0, 0, received);
      },
      [&] {
        const HWND window = WaitWindow(L"TComForm", "COM1 115200 bps");
        if (window == nullptr) {
          library.BreakCom(handle);  // the receive ends all the same
          return true;
        }
        seen["client"] = ClientSize(window);
        const LONG style = GetWindowLongW(window, GWL_STYLE), ex = GetWindowLongW(window, GWL_EXSTYLE);
        seen["frame"] = std::to_string((style & WS_CAPTION) == WS_CAPTION) + std::to_string((style & WS_SYSMENU) != 0) +
                        std::to_string((style & WS_THICKFRAME) != 0) + std::to_string((ex & WS_EX_TOPMOST) != 0);
        seen["texts"] = ControlTexts(window);
        Click(Control(window, progress_id::StopBtn));
        seen["closed"] = std::to_string(WaitGone(window));
        return true;
      });
  EXPECT_EQ(seen["client"], "204x42");
  EXPECT_EQ(seen["frame"], "1001");
  EXPECT_EQ(seen["texts"], "受信待ち||終了|");
  EXPECT_EQ(seen["closed"], "1");
  EXPECT_EQ(result, 1);  // stopped while waiting for the terminal
  EXPECT_EQ(library.CloseCom(handle), 0);
  EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace pw
