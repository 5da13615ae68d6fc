// The terminal simulator's command line.
#include "tools/bhtsim/options.h"

#include <algorithm>
#include <array>
#include <limits>

#include "common/ansi_string.h"
#include "frontend/command_line.h"

namespace pw::bhtsim {
namespace {

constexpr std::array<std::uint32_t, 19> kSpeeds{50,   75,   110,  134,   150,   200,   300,    600,    1200,  1800,
                                                2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800};

constexpr std::uint64_t kMaxBlock = std::uint64_t{1} << 40;

// "N" or "N@B": how often, and which block (counted from 1).
std::string ReadNak(std::string_view v, Options& o) {
  const std::size_t at = v.find('@');
  std::uint64_t times = 0, block = o.nakBlock;
  if (!ParseDecimal(v.substr(0, at), times) || times == 0 || times > std::numeric_limits<std::uint32_t>::max() ||
      (at != std::string_view::npos && (!ParseDecimal(v.substr(at + 1), block) || block == 0 || block > kMaxBlock)))
    return std::string(v) + " is not N or N@B (N and B from 1)";
  o.nakTimes = static_cast<std::uint32_t>(times);
  o.nakBlock = block;
  return {};
}

// "B:MS": which block, and how long its first byte waits for the rest.
std::string ReadStretch(std::string_view v, Options& o) {
  const std::size_t colon = v.find(':');
  std::uint64_t block = 0, ms = 0;
  if (colon == std::string_view::npos || !ParseDecimal(v.substr(0, colon), block) || block == 0 || block > kMaxBlock ||
      !ParseDecimal(v.substr(colon + 1), ms) || ms > 600000)
    return std::string(v) + " is not B:MS (B from 1, MS up to 600000)";
  o.stretchBlock = block;
  o.stretchMs = static_cast<std::uint32_t>(ms);
  return {};
}

}  // namespace

bool IsSupportedSpeed(std::uint32_t speed) { return std::find(kSpeeds.begin(), kSpeeds.end(), speed) != kSpeeds.end(); }

std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string& error) {
  using namespace cli;
  Options o;
  OptionTable t;
  t.Commands(o.mode, {{"receive", Mode::kReceive}, {"send", Mode::kSend}, {"request", Mode::kRequest}});
  std::vector<std::string> words;
  t.Words(words);
  const auto supported = [](std::uint64_t v) {
    return v <= kSpeeds.back() && IsSupportedSpeed(static_cast<std::uint32_t>(v));
  };
  t.Add("--port", Text(o.port)).Required();
  t.Add("--speed", Number(o.speed, supported, "a supported speed"));
  t.Add("--timeout", Number(o.timeoutSec, 1, 24 * 3600));
  t.Add("--log", Text(o.logPath));
  t.Add("--dir", Text(o.dir)).Only({"receive", "request"}).RequiredFor("receive").RequiredFor("request");
  t.Add("--batches", Number(o.batches, 1, 1000000)).Only({"receive"});
  t.Add("--file", Text(o.file)).Only({"send"}).RequiredFor("send");
  t.Add("--as", Text(o.as)).Only({"send"});
  t.Add("--fields", Text(o.fields)).Only({"send"});
  t.Add("--fill", Choice<std::uint8_t>(o.fill, {{"1A", 0x1A}, {"1a", 0x1A}, {"00", 0x00}})).Only({"send"});
  t.Add("--drop-ack", Number(o.dropAck, 1, kMaxBlock)).Only({"receive", "request"});
  t.Add("--nak", Value{true, [&o](std::string_view v) { return ReadNak(v, o); }}).Only({"receive", "request"});
  t.Add("--can-at", Number(o.canAt, 1, kMaxBlock));
  t.Add("--silent", Flag(o.silent));
  t.Add("--noise", Number(o.noise, 0, 1 << 20));
  t.Add("--corrupt-block", Number(o.corruptBlock, 1, kMaxBlock)).Only({"send"});
  t.Add("--stretch", Value{true, [&o](std::string_view v) { return ReadStretch(v, o); }}).Only({"send"});
  t.Add("--eot-b0", Flag(o.eotB0)).Only({"send"});
  t.Add("--expect-cancel", Flag(o.expectCancel));
  switch (t.Parse(args, error)) {
    case OptionTable::Result::kHelp:
      o.help = true;
      return o;
    case OptionTable::Result::kRun:
      if (o.mode != Mode::kRequest) {
        if (words.empty()) return o;
        error = "unexpected word " + words[0];
        return std::nullopt;
      }
      if (words.size() != 1) {
        error = words.empty() ? "request needs a NAME" : "unexpected word " + words[1];
        return std::nullopt;
      }
      o.request = words[0];
      if (o.request.empty() || o.request.size() > kRequestNameMax || o.request.find('\0') != std::string::npos) {
        error = "the NAME " + o.request + " is not 1 to 12 bytes";
        return std::nullopt;
      }
      return o;
    case OptionTable::Result::kError:
      break;
  }
  return std::nullopt;
}

std::string_view Usage() {
  return R"(usage: bhtsim receive --port PATH --dir DIR [--batches N] [options]
       bhtsim send --port PATH --file F [--as NAME] [--fields W,W,...]
                   [--fill 1A|00] [options]
       bhtsim request NAME --port PATH --dir DIR [options]
       bhtsim --help

Plays the BHT terminal's side of a YMODEM batch transfer with the PC, on a
serial device or a pseudo-terminal (opened raw, 8N1, no flow control).

receive  The terminal takes files from the PC. It sends 'C' now and every
         second until a header block starts. Every block may be SOH (128 data
         bytes) or STX (1024) and is checked: number, complement, CRC-16. A
         header (block 0) holds the name up to the first 0x00 byte and the
         size in decimal after it; a good one is answered ACK, then 100 ms
         later 'C'. Data blocks numbered from 1 (mod 256) are answered ACK; the
         previous block again (its ACK was lost) is answered ACK and dropped;
         anything else NAK. EOT (or 0xB0, once all the announced data have
         arrived) is answered ACK, and 100 ms later 'C' asks for the next
         header. The empty header (first data byte 0x00) is answered
         ACK and ends the batch; after N batches (--batches, default 1) the
         simulator exits. Each file is stored in DIR under its received name
         (names holding '/' or being "." or ".." are refused with NAK), cut to
         the announced size, and reported as a line "stored NAME SIZE". A file
         that ends before its announced size is stored as it came and makes
         the run fail.
         Waits: a header up to --timeout; a data block 5 s, then 'C' again
         (first block) or NAK; inside a block, 1 s between bytes. Ten failures
         in a row end the run with CAN, 100 ms, CAN.
send     The terminal sends F to the PC as one batch. NAME is --as or else
         F's base name in upper case. Without --fields the batch is F alone.
         With --fields the batch is the field file NAME.FLD (NAME's extension
         replaced by .FLD) and then NAME. The field file is the five lines
         "* created by BHT", "file<TAB>NAME", "size<TAB>SIZE",
         "records<TAB>R", and "field<TAB>W" for one width or "fields<TAB>W W"
         with blanks between the widths, each ended by CR LF. R is SIZE
         divided by the record unit: the sum of the widths, plus 2 if F's
         first record is followed by CR LF. A SIZE that is not a whole number
         of units, an empty F or a bad width list is a usage error.
         Sequence: wait for 'C' (up to --timeout); header (SOH, block 0: name,
         0x00, size in decimal, 0x00 fill); wait ACK; wait 'C'; the data in
         STX blocks of 1024 bytes numbered from 1 (mod 256) per file, the
         last one filled with 0x1A (--fill 00: with 0x00), each waiting for
         ACK; EOT, wait ACK; for the next file wait 'C' and go on; after the
         last file wait 'C', send the empty header (128 zero bytes, CRC 0),
         wait ACK. A NAK or 3 s without ACK sends the block (or EOT) again;
         the tenth failure in a row ends the run with CAN, 100 ms, CAN.
         Waiting for 'C' within the batch: 3 s, ten times.
request  The terminal asks the PC for the file NAME (1 to 12 bytes) and
         takes it. It waits for the PC's 'C' (up to --timeout) and sends the
         request header: SOH, block 0, data "#D", NAME filled with blanks to
         12 bytes, then 0x00 to the end, CRC-16; a NAK or 3 s without ACK
         sends it again, ten times at most. Once it is acknowledged the
         terminal receives one batch as receive does (the field file, then
         the data file), storing the files in DIR. A CAN before any data
         block arrived is the PC refusing the request: it prints "request
         NAME refused: cancelled by peer" and exits with 1 (0 with
         --expect-cancel).

In every mode a CAN from the PC where the simulator waits for a control byte
or a block start ends the run: it prints "cancelled by peer" (after waiting
up to 1 s for the second CAN). A CAN inside a block is data. Input that is
pending when the simulator writes is discarded first, as the PC does.

Options:
  --port PATH        serial device or pseudo-terminal (required)
  --speed BPS        line speed (default 115200)
  --timeout SEC      send: longest wait for the PC's first 'C'; receive:
                     longest wait for each header; request: both;
                     --silent: the whole run (default 60)
  --log FILE         one line per event: bytes sent and received (control
                     bytes by name), blocks with number and size, waits
  --dir DIR          receive, request: where to store the files (must exist)
  --batches N        receive: batches to take before exiting (default 1)
  --file F           send: the file to send
  --as NAME          send: its name on the line, as given
  --fields W,W,...   send: the field widths; sends a field file first
  --fill 1A|00       send: fill byte of the last data block (default 1A)

Misbehaviour on request (any combination). Data blocks are counted from 1
over the whole run, across files and batches: a field file's blocks count;
headers, EOT, repetitions and resends do not.
  --drop-ack N       receive, request: no ACK for data block N (once), so
                     the PC sends it again; the repetition gets its ACK
  --nak N[@B]        receive, request: answer data block B (default 1) with
                     NAK the first N times it arrives
  --can-at B         send: CAN, 100 ms, CAN instead of data block B;
                     receive, request: CAN, 100 ms, CAN instead of the
                     ACK of data block B. The run then ends (exit 0; a run
                     without a data block B ends with exit 1)
  --corrupt-block N  send: the first time data block N goes out, its first
                     data byte is inverted after the CRC was computed
  --stretch B:MS     send: the first time data block B goes out, send its
                     first byte, wait MS ms, then the rest
  --eot-b0           send: end the last file's data with the byte 0xB0
                     instead of EOT (also when it is sent again)
  --noise N          send N pseudo-random bytes, none of them SOH, STX, EOT,
                     ACK, NAK, CAN, 'C' or 0xB0, just before the first byte
                     the simulator sends
  --silent           send nothing at all; read until --timeout has passed
                     (exit 1) or the PC cancels
  --expect-cancel    the run is expected to end with the PC's cancel
                     sequence: exit 0 only if two CAN bytes arrived

Exit status: 0 what was expected happened (the batches or the batch went
through, the requested batch arrived, or the cancel asked for by --can-at
was sent, or with --expect-cancel the PC cancelled); 1 it did not (the PC
cancelled or refused, a timeout, bad data, too many retries, a port or file
failure); 2 a usage error.
)";
}

}  // namespace pw::bhtsim
