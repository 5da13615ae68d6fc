// Linux only: pw_demo, one transfer through the engine, for the demo script.
//
//   pw_demo send    --port COMn --file PATH [--as NAME] [--fields W,W,...] [options]
//   pw_demo receive --port COMn --dir DIR [--csv] [--append] [--continuous] [options]
//
// It opens the port as the library does, runs one TYmThread (a send of one
// file, or the receive of one batch, or of batch after batch) from the
// frontend's runner, shows the progress bar on standard error when that is a
// terminal, and prints one line with the outcome. SIGINT and SIGTERM act as
// the stop button. The exit status is the transfer's result code (0 normal
// end), or 100 when the command line is wrong or the port does not open.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "common/ansi_string.h"
#include "content/result_codes.h"
#include "engine/com_port.h"
#include "engine/ym_thread.h"
#include "frontend/command_line.h"
#include "frontend/program_alerts.h"
#include "frontend/terminal_bar.h"
#include "frontend/transfer_progress.h"
#include "frontend/transfer_runner.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsageStatus = 100;

constexpr std::string_view kUsage =
    R"(usage: pw_demo send --port COMn --file PATH [--as NAME] [--fields W,W,...] [--quote] [options]
       pw_demo receive --port COMn --dir DIR [--csv] [--append] [--continuous]
                       [--expect NAME [--expect-fields W,W,...]] [--last-space] [--quote] [options]

One transfer with a BHT terminal through the transfer engine.
send     sends PATH under NAME (default: its file name in upper case). A
         data file (any extension other than a program, image or sound one)
         needs --fields; a .CSV file goes as fixed-length records.
receive  receives one batch into DIR; data files are stored with their
         records as lines, .CSV ones (or all of them with --csv) as
         comma-separated values.
Receive options:
  --csv                 store every data file as comma-separated values
  --append              append received lines to an existing file
  --continuous          receive batch after batch until stopped
  --expect NAME         accept only the data file NAME (else result 19)
  --expect-fields W,W   with --expect: the field list it must carry (else result 20)
  --last-space          keep the trailing blanks of received values
Options:
  --quote         values are enclosed in double quotes (send and receive)
  --speed BPS     line speed (default 115200)
  --log FILE      append the history-log line(s) to FILE (Shift-JIS)
  --timeout SEC   end the transfer by force after SEC seconds (default 60)
SIGINT or SIGTERM stops the transfer as the stop button does: a receive that
still waits for the terminal ends with result 1 and sends nothing; a transfer
under way is cancelled on the line (result 2). A second one ends it by force.
The exit status is the result code (0 normal end); 100 for a usage or port error.
)";

struct Args {
  bool send = false;
  std::string port;
  std::uint32_t speed = 115200;
  fs::path file, dir, log;
  std::string as, fields, expect, expectFields;
  bool csv = false, append = false, continuous = false, lastSpace = false, quote = false;
  std::uint32_t timeoutSec = 60;
};

void Describe(pw::cli::OptionTable& t, Args& a) {
  using namespace pw::cli;
  t.Commands(a.send, {{"send", true}, {"receive", false}});
  t.Add("--port", Text(a.port)).Required();
  t.Add("--speed", Number(a.speed, 1, 999999999));
  t.Add("--timeout", Number(a.timeoutSec, 1, 999999999));
  t.Add("--log", Path(a.log));
  t.Add("--file", Path(a.file)).RequiredFor("send");
  t.Add("--as", Text(a.as));
  t.Add("--fields", Text(a.fields));
  t.Add("--dir", Path(a.dir)).RequiredFor("receive");
  t.Add("--csv", Flag(a.csv));
  t.Add("--append", Flag(a.append)).Only({"receive"});
  t.Add("--continuous", Flag(a.continuous)).Only({"receive"});
  t.Add("--expect", Text(a.expect)).Only({"receive"});
  t.Add("--expect-fields", Text(a.expectFields)).Only({"receive"}).Needs("--expect");
  t.Add("--last-space", Flag(a.lastSpace)).Only({"receive"});
  t.Add("--quote", Flag(a.quote));
}

// The two temporary files of a receive, in a folder of their own that goes
// with this object, however the transfer ended.
class TempFolder {
 public:
  TempFolder() {
    std::error_code ec;
    path_ = fs::temp_directory_path(ec) / ("pw_demo." + std::to_string(getpid()));
    fs::create_directories(path_, ec);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

pw::TransferRequest Request(const Args& a, const TempFolder& temp) {
  pw::TransferRequest q;
  q.TxFlag = a.send;
  q.LogFlag = !a.log.empty();
  q.LogFile = a.log;
  q.DblQuotFlg = a.quote;
  if (a.send) {
    q.TxFName = a.file;
    q.BhtFName = pw::UpperAscii(pw::ToAnsi(a.as.empty() ? a.file.filename().string() : a.as));
    q.FieldsDat = a.fields;
  } else {
    q.RxFolder = a.dir;
    q.CsvFlg = a.csv;
    q.WriteMode = a.append;
    q.RcvMode = a.continuous;
    q.ChkRcvFName = pw::UpperAscii(pw::ToAnsi(a.expect));
    q.ChkFields = a.expectFields;
    q.LastSpFlg = a.lastSpace;
    q.Tmp1File = temp.Path() / "portwk1.tmp";
    q.Tmp2File = temp.Path() / "portwk2.tmp";
  }
  return q;
}

std::string Utf8(std::string_view ansi) { return pw::FromAnsi(ansi); }

}  // namespace

int main(int argc, char** argv) {
  Args a;
  pw::cli::OptionTable table;
  Describe(table, a);
  if (const auto status = pw::cli::ParseMain(table, argc, argv, "pw_demo", kUsage, kUsageStatus)) return *status;

  // From here on SIGINT and SIGTERM stop the transfer instead of the program.
  pw::TransferRunner runner;
  const pw::Alerts alerts = pw::ProgramAlerts(pw::kPortwickATitle);
  std::string portName;
  if (!pw::CheckPortSettings(a.port, a.speed, alerts, portName)) return kUsageStatus;
  const auto device = pw::OpenPortDevice(portName, a.speed, alerts);
  if (!device) return kUsageStatus;

  const TempFolder temp;
  const pw::TransferRequest request = Request(a, temp);
  pw::TransferProgress progress;
  progress.OnEnd([&runner] { runner.Ended(); });
  pw::RunOutcome outcome;
  pw::AnsiString rcvFile, fieldList;
  {
    const pw::TerminalBar bar(progress);
    pw::TYmThread t(*device, pw::SystemClock(), progress, alerts, request);
    outcome = runner.Run(t, std::chrono::seconds(a.timeoutSec));
    rcvFile = t.RcvFile();
    fieldList = t.ReceivedFieldList();
  }

  const std::int32_t code = outcome.errorNo;
  std::string line = a.send ? "send " + Utf8(request.BhtFName) : std::string("receive");
  line += ": result " + std::to_string(code) + " " + std::string(pw::ResultLogText(code));
  if (outcome.timedOut)
    line += " (ended after " + std::to_string(a.timeoutSec) + " s)";
  else if (outcome.stopped)
    line += " (stopped)";
  if (!a.send && code == 0) {
    line += rcvFile.empty() ? std::string(", nothing stored") : ", stored " + Utf8(rcvFile);
    if (!fieldList.empty()) line += ", fields " + Utf8(fieldList);
  }
  std::printf("%s\n", line.c_str());
  return code;
}
