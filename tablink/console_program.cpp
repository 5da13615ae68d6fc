// The server on a terminal or as a service: messages on standard error, one
// line per transfer on standard output, SIGINT and SIGTERM as the stop button.
#include "tablink/console_program.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "frontend/end_wait.h"
#include "frontend/program_alerts.h"
#include "frontend/transfer_progress.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "tablink/result_texts.h"
#include "tablink/stores/data_source.h"
#include "tablink/tablink.h"

namespace pw::tablink {

namespace {

constexpr std::string_view kUsage = R"(usage: tablink [--definitions FILE]

The table transfer server: it stays on the port of the definition file's
header and serves the BHT terminal. A data file the terminal sends (behind its
field file) is stored as its definition says; a request for a file is answered
with the definition's records. The definition file is TablinkCdf.Def in
$PORTWICK_DRIVE/Users/Public/Tessaly, or FILE.

Messages are lines "Tablink通信: text" on standard error. Every transfer
prints one line on standard output:
  time, "send" or "receive", the terminal's name, records or bytes, result code and text
and, when the header keeps it, a line in the history log.

SIGINT or SIGTERM ends the server: at once while it waits, and after the
transfer in progress is cancelled on the line (result 2) otherwise.

Exit status: 0 ended by a signal; 1 refused at the start (a message says why);
2 the server ended on a failure it cannot go on from (its message says which).
)";

constexpr int kExitStopped = 0, kExitRefused = 1, kExitFailed = 2;

// A stop that finds a transfer under way aborts it; the server is ended once
// it waits again. This is how often the main thread looks.
constexpr std::int64_t kEndingPollMs = 50;

void PrintTransfer(const LogEntry& e) {
  char time[32];
  std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d", e.Time.year, e.Time.month, e.Time.day,
                e.Time.hour, e.Time.minute, e.Time.second);
  std::string line = std::string(time) + (e.Send ? " send " : " receive ") + FromAnsi(e.BhtFName);
  line += IsRecordKind(e.FileType) ? " " + std::to_string(e.iRecords) + " records"
                                   : " " + std::to_string(e.fSize) + " bytes";
  line += ": result " + std::to_string(e.Code) + " " + std::string(ResultText(e.Code));
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int RunConsoleTablink(int argc, char** argv) {
  const Alerts alerts = ProgramAlerts(kTablinkTitle);
  std::filesystem::path definitions;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(std::string(kUsage).c_str(), stdout);
      return 0;
    }
    if (arg == "--definitions" && i + 1 < argc) {
      definitions = argv[++i];
      continue;
    }
    std::fprintf(stderr, "tablink: unknown argument %s\n%s", argv[i], std::string(kUsage).c_str());
    return kExitRefused;
  }

  // From here on SIGINT and SIGTERM stop the server instead of the program.
  EndWait wait;
  Tablink app({.alerts = alerts,
               .registry = SystemRegistry(),
               .clock = SystemClock(),
               .open = OpenSerialDevice,
               .osVersion = GetOsVersion,
               .alreadyRunning = {},
               .definitions = definitions,
               .connect = [&alerts](std::int32_t saveType, const std::string& source) {
                 std::string why;
                 std::unique_ptr<TableConnection> c = ConnectDataSource(saveType, source, why);
                 if (!c) std::fprintf(stderr, "%s: %s\n", alerts.Title().c_str(), why.c_str());
                 return c;
               },
               .adoObjects = {}});
  if (const std::optional<int> refused = app.StartUp()) return *refused;
  if (!app.Connect()) {
    app.FormClose(std::nullopt);
    return kExitRefused;
  }
  std::fprintf(stderr, "%s: %s\n", std::string(kTablinkTitle).c_str(), app.Caption().c_str());

  TransferProgress progress;
  progress.OnEnd([&wait] { wait.Ended(); });
  bool stopped = false;
  {
    TablinkServer server(*app.Port(), SystemClock(), progress, alerts, app.Settings(), app.Connection(),
                         PrintTransfer);
    wait.Shelter([&server] { server.Start(); });
    for (;;) {
      const EndWait::Woken woken = wait.Wait(stopped ? kEndingPollMs : -1);
      if (woken.ended) break;
      if (woken.stops > 0 && !stopped && !server.ChkRcvWait()) {
        server.StopCom();
      } else if (woken.stops > 0 || (stopped && server.ChkRcvWait())) {
        server.EndCom();
      }
      stopped = stopped || woken.stops > 0;
    }
    server.WaitFor();
  }
  app.FormClose(std::nullopt);
  return stopped ? kExitStopped : kExitFailed;
}

}  // namespace pw::tablink
