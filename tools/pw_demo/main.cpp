// Linux only: pw_demo, one transfer through the engine, for the demo script.
//
//   pw_demo send    --port COMn --file PATH [--as NAME] [--fields W,W,...] [options]
//   pw_demo receive --port COMn --dir DIR [--csv] [options]
//
// It opens the port as the library does, runs one TYmThread (a send of one
// file, or the receive of one batch), shows the progress on standard error
// when that is a terminal, and prints one line with the outcome. The exit
// status is the transfer's result code (0 normal end), or 100 when the
// command line is wrong or the port does not open.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "common/ansi_string.h"
#include "content/result_codes.h"
#include "engine/com_port.h"
#include "engine/transfer_view.h"
#include "engine/ym_thread.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/message_box.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsageStatus = 100;
constexpr const char* kTitle = "pw_demo";

constexpr std::string_view kUsage = R"(usage: pw_demo send --port COMn --file PATH [--as NAME] [--fields W,W,...] [options]
       pw_demo receive --port COMn --dir DIR [--csv] [options]

One transfer with a BHT terminal through the transfer engine.
send     sends PATH under NAME (default: its file name in upper case). A
         data file (any extension other than a program, image or sound one)
         needs --fields; a .CSV file goes as fixed-length records.
receive  receives one batch into DIR; data files are stored with their
         records as lines, .CSV ones (or all of them with --csv) as
         comma-separated values.
Options:
  --speed BPS     line speed (default 115200)
  --log FILE      append the history-log line(s) to FILE (Shift-JIS)
  --timeout SEC   end the transfer by force after SEC seconds (default 60)
The exit status is the result code (0 normal end); 100 for a usage or port error.
)";

struct Args {
  bool send = false;
  std::string port;
  std::uint32_t speed = 115200;
  fs::path file, dir, log;
  std::string as, fields;
  bool csv = false;
  std::uint32_t timeoutSec = 60;
};

std::optional<std::uint32_t> Number(std::string_view s) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  return static_cast<std::uint32_t>(std::stoul(std::string(s)));
}

std::optional<Args> Parse(const std::vector<std::string_view>& argv, std::string& error) {
  Args a;
  if (argv.empty() || (argv[0] != "send" && argv[0] != "receive")) {
    error = "say send or receive";
    return std::nullopt;
  }
  a.send = argv[0] == "send";
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string_view name = argv[i];
    if (name == "--csv") {
      a.csv = true;
      continue;
    }
    if (i + 1 >= argv.size()) {
      error = std::string(name) + " needs a value";
      return std::nullopt;
    }
    const std::string_view v = argv[++i];
    if (name == "--port") {
      a.port = v;
    } else if (name == "--speed" || name == "--timeout") {
      const auto n = Number(v);
      if (!n || *n == 0) {
        error = "bad value " + std::string(v) + " for " + std::string(name);
        return std::nullopt;
      }
      (name == "--speed" ? a.speed : a.timeoutSec) = *n;
    } else if (name == "--file") {
      a.file = v;
    } else if (name == "--dir") {
      a.dir = v;
    } else if (name == "--log") {
      a.log = v;
    } else if (name == "--as") {
      a.as = v;
    } else if (name == "--fields") {
      a.fields = v;
    } else {
      error = "unknown option " + std::string(name);
      return std::nullopt;
    }
  }
  if (a.port.empty()) error = "--port is needed";
  else if (a.send && a.file.empty()) error = "send needs --file";
  else if (!a.send && a.dir.empty()) error = "receive needs --dir";
  if (!error.empty()) return std::nullopt;
  return a;
}

// The progress as one line on a terminal: the label, a bar and the count.
class LineView : public pw::TransferView {
 public:
  explicit LineView(bool show) : show_(show) {}
  void SetLabel(std::string_view text) override { Update([&] { label_ = text; }); }
  void SetGaugeMax(std::int32_t max) override { Update([&] { max_ = max; }); }
  void SetGaugeProgress(std::int32_t progress) override { Update([&] { progress_ = progress; }); }
  void SetButtonCaption(std::string_view) override {}
  void TransferEnded() override {
    std::lock_guard lock(mutex_);
    if (show_ && drawn_) std::fputs("\r\033[K", stderr);
  }

 private:
  template <class F>
  void Update(F change) {
    std::lock_guard lock(mutex_);
    change();
    if (!show_) return;
    constexpr int kWidth = 30;
    const int filled = max_ > 0 ? static_cast<int>(std::clamp<std::int64_t>(
                                      std::int64_t{progress_} * kWidth / max_, 0, kWidth))
                                : 0;
    std::fprintf(stderr, "\r\033[K%s [%s%s] %d/%d", label_.c_str(), std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), progress_, max_);
    std::fflush(stderr);
    drawn_ = true;
  }

  bool show_;
  std::mutex mutex_;
  std::string label_;
  std::int32_t max_ = 100, progress_ = 0;
  bool drawn_ = false;
};

std::string Utf8(std::string_view ansi) { return pw::FromAnsi(ansi); }

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> words(argv + 1, argv + argc);
  for (const std::string_view w : words) {
    if (w == "--help" || w == "-h") {
      std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
      return 0;
    }
  }
  std::string error;
  const auto parsed = Parse(words, error);
  if (!parsed) {
    std::fprintf(stderr, "pw_demo: %s (see pw_demo --help)\n", error.c_str());
    return kUsageStatus;
  }
  const Args& a = *parsed;

  const pw::Alerts alerts(pw::SystemMessageBoxes(), kTitle);
  std::string portName;
  if (!pw::CheckPortSettings(a.port, a.speed, alerts, portName)) return kUsageStatus;
  const auto device = pw::OpenPortDevice(portName, a.speed, alerts);
  if (!device) return kUsageStatus;

  // The two temporary files of a receive live in a folder of their own.
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec) / ("pw_demo." + std::to_string(getpid()));
  fs::create_directories(temp, ec);

  LineView view(isatty(STDERR_FILENO) != 0);
  std::int32_t code = 0;
  pw::AnsiString rcvFile, fieldList, name;
  bool forced = false;
  {
    pw::TransferRequest q;
    q.TxFlag = a.send;
    q.LogFlag = !a.log.empty();
    q.LogFile = a.log;
    if (a.send) {
      q.TxFName = a.file;
      name = pw::UpperAscii(a.as.empty() ? a.file.filename().string() : a.as);
      q.BhtFName = name;
      q.FieldsDat = a.fields;
    } else {
      q.RxFolder = a.dir;
      q.CsvFlg = a.csv;
      q.Tmp1File = temp / "portwk1.tmp";
      q.Tmp2File = temp / "portwk2.tmp";
    }
    pw::TYmThread t(*device, pw::SystemClock(), view, alerts, q);
    t.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(a.timeoutSec);
    while (!t.Ended() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!t.Ended()) {
      forced = true;
      t.EndCom();
    }
    t.WaitFor();
    code = t.ErrorNo();
    rcvFile = t.RcvFile();
    fieldList = t.ReceivedFieldList();
  }
  fs::remove_all(temp, ec);

  std::string line = a.send ? "send " + Utf8(name) : std::string("receive");
  line += ": result " + std::to_string(code) + " " + std::string(pw::ResultLogText(code));
  if (forced) line += " (ended after " + std::to_string(a.timeoutSec) + " s)";
  if (!a.send && code == 0) {
    line += rcvFile.empty() ? std::string(", nothing stored") : ", stored " + Utf8(rcvFile);
    if (!fieldList.empty()) line += ", fields " + Utf8(fieldList);
  }
  std::printf("%s\n", line.c_str());
  return code;
}
