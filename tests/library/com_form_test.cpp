// The progress window's life cycle through the library, on a pseudo-terminal
// whose far end the test plays: a receive that waits for the terminal is
// stopped from a second thread, as a host would, and the window's steps are
// recorded with the display flag on and off.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "library/portwick_library.h"
#include "platform/clock.h"
#include "tests/integration/pty_peer.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_boxes.h"

namespace pw::test {
namespace {

namespace fs = std::filesystem;

// Records what the library does to its window, and passes it on to the
// system's (windowless) one.
class RecordingWindow final : public ComFormWindow {
 public:
  RecordingWindow(std::unique_ptr<ComFormWindow> inner, std::vector<std::string>& steps)
      : inner_(std::move(inner)), steps_(steps) {}
  void SetCaption(const std::string& text) override { steps_.push_back("caption " + text); }
  void MoveTo(WindowPos p) override {
    steps_.push_back("move " + std::to_string(p.x) + "," + std::to_string(p.y));
    inner_->MoveTo(p);
  }
  WindowPos Position() const override { return inner_->Position(); }
  void Show(bool visible) override { steps_.push_back(visible ? "show" : "hide"); }
  void EnableTimer1(bool on) override {
    steps_.push_back(on ? "timer on" : "timer off");
    inner_->EnableTimer1(on);
  }
  void Close() override {
    steps_.push_back("close");
    inner_->Close();
  }
  void PostProgress() override {}
  void PostEnded() override { inner_->PostEnded(); }

 private:
  std::unique_ptr<ComFormWindow> inner_;
  std::vector<std::string>& steps_;
};

class RecordingHost final : public LibraryHost {
 public:
  std::unique_ptr<ComFormWindow> MakeWindow(const std::shared_ptr<TComForm>& form, std::intptr_t owner) override {
    return std::make_unique<RecordingWindow>(system.MakeWindow(form, owner), steps);
  }
  void WaitWhile(const std::function<bool()>& busy) override { system.WaitWhile(busy); }
  void Pump(std::uint32_t ms) override { system.Pump(ms); }
  void SettingsDialog(SettingsStore& s, const Alerts& a, std::intptr_t o, bool i) override {
    system.SettingsDialog(s, a, o, i);
  }
  std::optional<std::string> AskFileToSend(const std::string&, std::intptr_t) override { return std::nullopt; }

  LibraryHost& system = SystemLibraryHost();
  std::vector<std::string> steps;
};

class ComFormTest : public ::testing::TestWithParam<bool> {
 protected:
  ComFormTest() {
    fs::create_directories(settings);
    const std::string f = (folder / "").string();
    // COM1, 115200 bit/s, the display flag from the parameter, one batch.
    std::ofstream(settings / "Tarnel.cnf", std::ios::binary)
        << "010000115200" << (GetParam() ? "1" : "0") << "000000\r\n"
        << f << "\r\n"
        << f << "\r\n0\r\n00\r\n";
    registry.values[{RegistryRoot::CurrentUser, std::string(kPortwickKey) + "\\COM1", "DspX"}] = 40u;
    registry.values[{RegistryRoot::CurrentUser, std::string(kPortwickKey) + "\\COM1", "DspY"}] = 50u;
  }

  /// Receives until the terminal's side has seen the first 'C', then stops
  /// the transfer from another thread; the receive's result.
  std::int32_t ReceiveStopped(std::int32_t handle) {
    std::thread stopper([&] {
      EXPECT_EQ(peer->Receive(1, 3000), std::vector<std::uint8_t>{'C'});
      EXPECT_EQ(lib.BreakCom(handle), 0);
    });
    std::optional<PortwickLibrary::Received> got;
    const std::int32_t code = lib.Receive(handle, "", 0, 0, got);
    stopper.join();
    EXPECT_TRUE(got && got->name.empty() && got->fields.empty());
    return code;
  }

  std::unique_ptr<PtyPeer> peer = PtyPeer::Create();  // COM1 below a temporary drive
  fs::path folder = fs::path(std::getenv("PORTWICK_DRIVE")) / "Users" / "Public" / "Tessaly";
  fs::path settings = folder;
  MemoryRegistry registry;
  RecordingBoxes boxes;
  RecordingHost host;
  PortwickLibrary lib{LibraryParts{.host = host,
                                   .boxes = boxes,
                                   .registry = registry,
                                   .clock = SystemClock(),
                                   .settingsFolder = [this](const Alerts&) { return std::optional(settings); }}};
};

TEST_P(ComFormTest, TransferRunsThroughTheWindowsLifeCycle) {
  const bool display = GetParam();
  ASSERT_EQ(lib.InitPortwick(), -1);
  const std::int32_t h = lib.OpenCom(0, "com1", 115200);
  ASSERT_NE(h, -1);
  EXPECT_EQ(lib.OpenCom(0, "COM2", 9600), h);  // the open port's handle, arguments ignored
  std::vector<std::string> opened = {"timer off", "caption COM1 115200 bps", "move 1,1"};
  if (display) opened.push_back("move 40,50");  // the remembered place
  EXPECT_EQ(host.steps, opened);

  host.steps.clear();
  EXPECT_EQ(ReceiveStopped(h), 1);  // stopped while waiting for the terminal
  EXPECT_EQ(host.steps,
            (std::vector<std::string>{display ? "show" : "hide", "hide", "timer on", "timer off", "close"}));
  // The position is stored when the window closes, whether it showed or not.
  const auto key = std::string(kPortwickKey) + "\\COM1";
  EXPECT_EQ(registry.ReadDword(RegistryRoot::CurrentUser, key, "DspX"), display ? 40u : 1u);
  EXPECT_EQ(registry.ReadDword(RegistryRoot::CurrentUser, key, "DspY"), display ? 50u : 1u);

  // Idle again: the next transfer runs on the same window; a stop that comes
  // with no transfer is refused.
  EXPECT_EQ(lib.BreakCom(h), 2);
  EXPECT_EQ(ReceiveStopped(h), 1);
  EXPECT_EQ(lib.CloseCom(h + 1), 3);
  EXPECT_EQ(lib.CloseCom(h), 0);
  EXPECT_EQ(lib.CloseCom(h), 1);
  EXPECT_TRUE(boxes.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(DisplayFlag, ComFormTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Shown" : "Hidden"; });

}  // namespace
}  // namespace pw::test
