// library_bench: what a transfer costs through the library beyond the bare
// engine: the time from the worker's end to the return of the host's call.
//
// How to run (Linux; needs socat):
//   cmake --preset linux && cmake --build build/linux -j2 --target library_bench bhtsim
//   build/linux/bench/library_bench [--runs N]
//
// COM1 and the terminal simulator's device are two pseudo-terminals that
// socat joins. The same small send runs N times through the library's Send
// and N times through a TYmThread that the front end's runner waits for, as
// the programs run it. Each run notes when the worker reported its end and
// when the call (or the runner) returned; the medians and maxima are printed.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/com_port.h"
#include "engine/ym_thread.h"
#include "frontend/command_line.h"
#include "frontend/transfer_progress.h"
#include "frontend/transfer_runner.h"
#include "library/portwick_library.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "tests/integration/peer_process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using pw::test::PeerOptions;
using pw::test::PeerProcess;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The library's windows, with the moment the worker reported its end.
class TimedWindow final : public pw::ComFormWindow {
 public:
  TimedWindow(std::unique_ptr<pw::ComFormWindow> inner, Clock::time_point& ended)
      : inner_(std::move(inner)), ended_(ended) {}
  void SetCaption(const std::string& s) override { inner_->SetCaption(s); }
  void MoveTo(pw::WindowPos p) override { inner_->MoveTo(p); }
  pw::WindowPos Position() const override { return inner_->Position(); }
  void Show(bool v) override { inner_->Show(v); }
  void EnableTimer1(bool on) override { inner_->EnableTimer1(on); }
  void Close() override { inner_->Close(); }
  void PostProgress() override { inner_->PostProgress(); }
  void PostEnded() override {
    ended_ = Clock::now();
    inner_->PostEnded();
  }

 private:
  std::unique_ptr<pw::ComFormWindow> inner_;
  Clock::time_point& ended_;
};

class TimedHost final : public pw::LibraryHost {
 public:
  std::unique_ptr<pw::ComFormWindow> MakeWindow(const std::shared_ptr<pw::TComForm>& f, std::intptr_t o) override {
    return std::make_unique<TimedWindow>(system_.MakeWindow(f, o), ended);
  }
  void WaitWhile(const std::function<bool()>& busy) override { system_.WaitWhile(busy); }
  void Pump(std::uint32_t ms) override { system_.Pump(ms); }
  void SettingsDialog(pw::SettingsStore& s, const pw::Alerts& a, std::intptr_t o, bool i) override {
    system_.SettingsDialog(s, a, o, i);
  }
  std::optional<std::string> AskFileToSend(const std::string&, std::intptr_t) override { return std::nullopt; }

  Clock::time_point ended;

 private:
  pw::LibraryHost& system_ = pw::SystemLibraryHost();
};

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("| %-36s | %8.3f | %8.3f |\n", what, ms[ms.size() / 2], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t runs = 20;
  pw::cli::OptionTable table;
  table.Add("--runs", pw::cli::Number(runs, 1, 1000));
  if (const auto status = pw::cli::ParseMain(table, argc, argv, "library_bench", "usage: library_bench [--runs N]\n", 2))
    return *status;

  const fs::path root = fs::temp_directory_path() / ("library_bench." + std::to_string(getpid()));
  fs::create_directories(root / "dosdevices");
  fs::create_directories(root / "Users" / "Public" / "Tessaly");
  fs::create_directories(root / "terminal");
  setenv("PORTWICK_DRIVE", root.c_str(), 1);
  const fs::path com1 = root / "dosdevices" / "com1", term = root / "term";
  PeerOptions socat;
  socat.argv = {"socat", "pty,raw,echo=0,link=" + com1.string(), "pty,raw,echo=0,link=" + term.string()};
  PeerProcess line(socat);
  if (!pw::test::WaitForPath(com1, 5000) || !pw::test::WaitForPath(term, 5000)) {
    std::fprintf(stderr, "library_bench: socat made no pseudo-terminals\n");
    return 1;
  }
  PeerOptions bhtsim;
  bhtsim.argv = {(fs::path(PW_TOOLS_DIR) / "bhtsim").string(), "receive", "--port", term.string(), "--dir",
                 (root / "terminal").string(), "--batches", std::to_string(2 * runs)};
  PeerProcess terminal(bhtsim);
  const fs::path file = root / "DATA.PD3";
  pw::test::WriteWholeFile(file, std::string(4096, 'x'));
  // Settings: COM1 at 115200 bit/s, no window, folders in the scratch folder.
  const std::string folder = (root / "").string();
  pw::test::WriteWholeFile(root / "Users" / "Public" / "Tessaly" / "Tarnel.cnf",
                           "0100001152000000000\r\n" + folder + "\r\n" + folder + "\r\n0\r\n00\r\n");

  pw::MessageBoxes& boxes = pw::SystemMessageBoxes();
  std::vector<double> library, engine;
  {
    TimedHost host;
    pw::PortwickLibrary lib{pw::LibraryParts{.host = host,
                                             .boxes = boxes,
                                             .registry = pw::SystemRegistry(),
                                             .clock = pw::SystemClock()}};
    lib.InitPortwick();
    const std::int32_t h = lib.OpenCom(0, "COM1", 115200);
    for (std::uint32_t i = 0; i < runs && h != -1; ++i) {
      const std::int32_t code = lib.Send(h, file.string(), "", "");
      const auto returned = Clock::now();
      if (code != 0) std::fprintf(stderr, "library_bench: the library's send ended with %d\n", code);
      library.push_back(Ms(returned - host.ended));
    }
    lib.CloseCom(h);
  }
  {
    const pw::Alerts alerts(boxes, "library_bench");
    std::unique_ptr<pw::SerialDevice> device = pw::OpenPortDevice("COM1", 115200, alerts);
    for (std::uint32_t i = 0; i < runs && device; ++i) {
      pw::TransferRequest q;
      q.TxFlag = true;
      q.TxFName = file;
      q.BhtFName = "DATA.PD3";
      pw::TransferProgress progress;
      pw::TransferRunner runner;
      Clock::time_point ended;
      progress.OnEnd([&] {
        ended = Clock::now();
        runner.Ended();
      });
      pw::TYmThread worker(*device, pw::SystemClock(), progress, alerts, q);
      const pw::RunOutcome out = runner.Run(worker);
      const auto returned = Clock::now();
      if (out.errorNo != 0) std::fprintf(stderr, "library_bench: the engine's send ended with %d\n", out.errorNo);
      engine.push_back(Ms(returned - ended));
    }
  }
  terminal.WaitExit(5000);
  fs::remove_all(root);
  if (library.empty() || engine.empty()) return 1;
  std::printf("\n### From the worker's end to the call's return, %u sends of 4 KiB\n\n", runs);
  std::printf("| %-36s | %8s | %8s |\n|---|---:|---:|\n", "", "median ms", "max ms");
  Report("bare engine (front end's runner)", engine);
  Report("library (Send)", library);
  return 0;
}
