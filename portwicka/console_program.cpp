// PortwickA on a terminal.
#include "portwicka/console_program.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/ansi_string.h"
#include "content/result_codes.h"
#include "engine/ym_thread.h"
#include "frontend/program_alerts.h"
#include "frontend/terminal_bar.h"
#include "frontend/transfer_progress.h"
#include "frontend/transfer_runner.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "portwicka/portwicka.h"
#include "portwicka/set_command.h"
#include "portwicka/set_fld_form.h"

namespace pw {

namespace {

constexpr std::string_view kUsage = R"(usage: portwicka                                 receive with the settings
       portwicka -R [PORT [SPEED [CONT [WRITE]]]]     receive
       portwicka -F PORT SPEED CONT WRITE NAME [FIELDS]  receive the one file NAME
       portwicka -FA NAME [FIELDS [FOLDER]]           receive NAME on the settings' port
       portwicka -FB NAME FIELDS FOLDER               receive NAME as comma-separated text
       portwicka -S [PORT [SPEED [FILE [FIELDS]]]]    send FILE
       portwicka -SA [FILE [FIELDS]]                  send FILE on the settings' port
       portwicka -SET [name=value ...]                list or change the settings

One transfer with a BHT terminal over a serial line, with the settings of
Tarnel.cnf in $PORTWICK_DRIVE/Users/Public/Tessaly (shared with the Portwick
library). PORT is COM1..COM9, SPEED one of 9600, 19200, 38400, 57600, 115200,
460800; CONT 0 receives one batch, anything else batch after batch; WRITE 0
overwrites received data, anything else appends. FIELDS is a field list such
as 13,20,4; FOLDER must exist. Nothing given here is written to the settings.

A data file is sent with FIELDS, or else with the first line of its field
file (FILE with the extension .fld); when that is missing and standard input
is a terminal, the field list is asked for and the field file written. A FILE
without a folder is taken from the default send folder.

-SET alone lists the settings as the settings dialog shows them; with
name=value parameters it changes them, checks them as the dialog does
(including opening a changed port) and writes Tarnel.cnf only when every
check passes:
)";

constexpr std::string_view kUsageEnd = R"(
Messages are lines "PortwickA.exe通信: text" on standard error; while
standard error is a terminal a progress bar shows the transfer. SIGINT
(Ctrl+C) or SIGTERM stops it as the stop button does: a receive that still
waits for the terminal ends with result 1, a transfer under way is cancelled
on the line (result 2). The temporary files go and the port is released.
The result code and its text are printed on standard output.

Exit status: 0 the transfer ended with result 0 (or -SET succeeded); 1 refused
before the transfer started (a message says why); 2 the transfer ended with
another result.
)";

// TSetFldForm on the terminal: the field list is read as a line; an empty
// line or the end of input cancels.
void AskFieldList(const Alerts& alerts, const std::filesystem::path& pcFile, const std::filesystem::path& fldFile) {
  TSetFldForm form(alerts.Boxes());
  form.SendFile = pcFile;
  form.FldFile = fldFile;
  form.FormCreate();
  form.FormShow();
  while (!form.Closed) {
    std::fprintf(stderr, "%s: %s %s %s\n%s%s%s\n> ", std::string(set_fld_text::kCaption).c_str(),
                 std::string(set_fld_text::kLabel2).c_str(), form.SendFileLB.c_str(),
                 std::string(set_fld_text::kLabel1).c_str(), std::string(set_fld_text::kLabel3).c_str(),
                 std::string(set_fld_text::kLabel4).c_str(), std::string(set_fld_text::kLabel5).c_str());
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line) || line.empty()) {
      form.CancelBtnClick();
      break;
    }
    form.FldSE.clear();
    for (const char c : line)
      if (TSetFldForm::FldSEKeyPress(static_cast<unsigned char>(c)) != 0 && form.FldSE.size() < TSetFldForm::kMaxLength)
        form.FldSE += c;
    form.SetBtnClick();
  }
}

int Transfer(PortwickA& app, const Alerts& alerts, const TransferRequest& request) {
  // From here on SIGINT and SIGTERM stop the transfer instead of the program.
  TransferRunner runner;
  TransferProgress progress;
  if (request.TxFlag) progress.SetLabel(FromAnsi(request.BhtFName));
  progress.OnEnd([&runner] { runner.Ended(); });
  RunOutcome outcome;
  AnsiString stored;
  {
    const TerminalBar bar(progress);
    TYmThread worker(*app.Port(), SystemClock(), progress, alerts, request);
    outcome = runner.Run(worker);
    stored = worker.RcvFile();
  }
  app.FormClose(std::nullopt);

  const std::int32_t code = outcome.errorNo;
  std::string line = request.TxFlag ? "send " + FromAnsi(request.BhtFName) : std::string("receive");
  line += ": result " + std::to_string(code) + " " + std::string(ResultLogText(code));
  if (outcome.stopped) line += " (stopped)";
  if (!request.TxFlag && code == 0 && !stored.empty()) line += ", stored " + FromAnsi(stored);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return code == 0 ? kExitTransferred : kExitFailed;
}

}  // namespace

int RunConsolePortwickA(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::printf("%s%s%s", kUsage.data(), kSetNamesHelp.data(), kUsageEnd.data());
    return kExitTransferred;
  }

  const Alerts alerts = ProgramAlerts(kPortwickATitle);
  PortwickA app({alerts, SystemRegistry(), SystemClock(), OpenSerialDevice, {}, FindSettingsFolder});
  if (const std::optional<int> refused = app.StartUp(args)) return *refused;

  switch (app.Run().Mode) {
    case AMode::Settings:
      return SetCommand(app.Store(), alerts, {args.begin() + 1, args.end()}, stdout);
    case AMode::Receive:
      return Transfer(app, alerts, app.ReceiveRequest());
    case AMode::Send:
      break;
  }
  PortwickA::SendChoices choices;
  choices.pick = [&alerts](const std::filesystem::path&) -> std::optional<std::filesystem::path> {
    alerts.Error("a send needs a file: portwicka -S PORT SPEED FILE [FIELDS] or portwicka -SA FILE [FIELDS]");
    return std::nullopt;
  };
  choices.askFields = [&alerts](const std::filesystem::path& pc, const std::filesystem::path& fld) {
    AskFieldList(alerts, pc, fld);
  };
  choices.askForGivenFile = StandardInputIsTerminal();
  const std::optional<TransferRequest> request = app.SendRequest(choices);
  if (!request) {
    app.FormClose(std::nullopt);
    return kExitRefused;
  }
  return Transfer(app, alerts, *request);
}

}  // namespace pw
