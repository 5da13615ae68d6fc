// The terminal simulator's command line.
#include "tools/bhtsim/options.h"

#include <algorithm>
#include <array>
#include <limits>

namespace pw::bhtsim {
namespace {

// Which modes an option belongs to.
enum Where : unsigned { kRecv = 1, kSend = 2, kBoth = 3 };

struct OptionRule {
  std::string_view name;
  bool takesValue;
  unsigned where;
};

constexpr std::array kRules{
    OptionRule{"--port", true, kBoth},
    OptionRule{"--speed", true, kBoth},
    OptionRule{"--timeout", true, kBoth},
    OptionRule{"--log", true, kBoth},
    OptionRule{"--dir", true, kRecv},
    OptionRule{"--batches", true, kRecv},
    OptionRule{"--file", true, kSend},
    OptionRule{"--as", true, kSend},
    OptionRule{"--fields", true, kSend},
    OptionRule{"--fill", true, kSend},
    OptionRule{"--drop-ack", true, kRecv},
    OptionRule{"--nak", true, kRecv},
    OptionRule{"--can-at", true, kBoth},
    OptionRule{"--silent", false, kBoth},
    OptionRule{"--noise", true, kBoth},
    OptionRule{"--corrupt-block", true, kSend},
    OptionRule{"--stretch", true, kSend},
    OptionRule{"--eot-b0", false, kSend},
    OptionRule{"--expect-cancel", false, kBoth},
};

constexpr std::array<std::uint32_t, 19> kSpeeds{50,   75,   110,  134,   150,   200,   300,    600,    1200,  1800,
                                                2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800};

// A decimal number of digits only, up to \p max.
std::optional<std::uint64_t> ParseNumber(std::string_view s, std::uint64_t max) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (v > max) return std::nullopt;
  return v;
}

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMaxBlock = std::uint64_t{1} << 40;

}  // namespace

bool IsSupportedSpeed(std::uint32_t speed) { return std::find(kSpeeds.begin(), kSpeeds.end(), speed) != kSpeeds.end(); }

std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string& error) {
  Options o;
  auto fail = [&](std::string why) {
    error = std::move(why);
    return std::nullopt;
  };
  // --help wins wherever it stands, even after a mistake.
  if (std::find_if(args.begin(), args.end(), [](std::string_view a) { return a == "--help" || a == "-h"; }) !=
      args.end()) {
    o.help = true;
    return o;
  }
  std::vector<const OptionRule*> given;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    if (i == 0 && (name == "receive" || name == "send")) {
      o.mode = name == "receive" ? Mode::kReceive : Mode::kSend;
      continue;
    }
    std::optional<std::string_view> value;
    if (const std::size_t eq = name.find('='); name.substr(0, 2) == "--" && eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    const auto rule = std::find_if(kRules.begin(), kRules.end(), [&](const OptionRule& s) { return s.name == name; });
    if (rule == kRules.end()) {
      if (i == 0) return fail("the first word must be receive or send, not " + std::string(name));
      return fail("unknown option " + std::string(name));
    }
    if (!rule->takesValue && value) return fail(std::string(name) + " takes no value");
    if (rule->takesValue && !value) {
      if (i + 1 >= args.size()) return fail(std::string(name) + " needs a value");
      value = args[++i];
    }
    given.push_back(&*rule);
    const std::string v(value.value_or(""));
    auto bad = [&] { return fail("bad value " + v + " for " + std::string(name)); };

    if (name == "--port") {
      if (v.empty()) return bad();
      o.port = v;
    } else if (name == "--speed") {
      const auto n = ParseNumber(v, kMaxU32);
      if (!n || !IsSupportedSpeed(static_cast<std::uint32_t>(*n))) return bad();
      o.speed = static_cast<std::uint32_t>(*n);
    } else if (name == "--timeout") {
      const auto n = ParseNumber(v, 24 * 3600);
      if (!n || *n == 0) return bad();
      o.timeoutSec = static_cast<std::uint32_t>(*n);
    } else if (name == "--log") {
      if (v.empty()) return bad();
      o.logPath = v;
    } else if (name == "--dir") {
      if (v.empty()) return bad();
      o.dir = v;
    } else if (name == "--batches") {
      const auto n = ParseNumber(v, 1000000);
      if (!n || *n == 0) return bad();
      o.batches = static_cast<std::uint32_t>(*n);
    } else if (name == "--file") {
      if (v.empty()) return bad();
      o.file = v;
    } else if (name == "--as") {
      if (v.empty()) return bad();
      o.as = v;
    } else if (name == "--fields") {
      if (v.empty()) return bad();
      o.fields = v;
    } else if (name == "--fill") {
      if (v == "1A" || v == "1a") {
        o.fill = 0x1A;
      } else if (v == "00") {
        o.fill = 0x00;
      } else {
        return bad();
      }
    } else if (name == "--drop-ack" || name == "--can-at" || name == "--corrupt-block") {
      const auto n = ParseNumber(v, kMaxBlock);
      if (!n || *n == 0) return bad();
      (name == "--drop-ack" ? o.dropAck : name == "--can-at" ? o.canAt : o.corruptBlock) = *n;
    } else if (name == "--nak") {
      const std::size_t at = v.find('@');
      const auto times = ParseNumber(std::string_view(v).substr(0, at), kMaxU32);
      if (!times || *times == 0) return bad();
      o.nakTimes = static_cast<std::uint32_t>(*times);
      if (at != std::string::npos) {
        const auto block = ParseNumber(std::string_view(v).substr(at + 1), kMaxBlock);
        if (!block || *block == 0) return bad();
        o.nakBlock = *block;
      }
    } else if (name == "--stretch") {
      const std::size_t colon = v.find(':');
      if (colon == std::string::npos) return bad();
      const auto block = ParseNumber(std::string_view(v).substr(0, colon), kMaxBlock);
      const auto ms = ParseNumber(std::string_view(v).substr(colon + 1), 600000);
      if (!block || *block == 0 || !ms) return bad();
      o.stretchBlock = *block;
      o.stretchMs = static_cast<std::uint32_t>(*ms);
    } else if (name == "--noise") {
      const auto n = ParseNumber(v, 1 << 20);
      if (!n) return bad();
      o.noise = static_cast<std::uint32_t>(*n);
    } else if (name == "--silent") {
      o.silent = true;
    } else if (name == "--eot-b0") {
      o.eotB0 = true;
    } else if (name == "--expect-cancel") {
      o.expectCancel = true;
    }
  }

  if (o.mode == Mode::kNone) return fail("say receive or send");
  const unsigned here = o.mode == Mode::kReceive ? kRecv : kSend;
  for (const OptionRule* s : given) {
    if (!(s->where & here))
      return fail(std::string(s->name) + " is for " + (s->where == kRecv ? "receive" : "send") + " only");
  }
  if (o.port.empty()) return fail("--port is needed");
  if (o.mode == Mode::kReceive && o.dir.empty()) return fail("receive needs --dir");
  if (o.mode == Mode::kSend && o.file.empty()) return fail("send needs --file");
  return o;
}

std::string_view Usage() {
  return R"(usage: bhtsim receive --port PATH --dir DIR [--batches N] [options]
       bhtsim send --port PATH --file F [--as NAME] [--fields W,W,...]
                   [--fill 1A|00] [options]
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

In both modes a CAN from the PC where the simulator waits for a control byte
or a block start ends the run: it prints "cancelled by peer" (after waiting
up to 1 s for the second CAN). A CAN inside a block is data. Input that is
pending when the simulator writes is discarded first, as the PC does.

Options:
  --port PATH        serial device or pseudo-terminal (required)
  --speed BPS        line speed (default 115200)
  --timeout SEC      send: longest wait for the PC's first 'C'; receive:
                     longest wait for each header; --silent: the whole run
                     (default 60)
  --log FILE         one line per event: bytes sent and received (control
                     bytes by name), blocks with number and size, waits
  --dir DIR          receive: where to store the files (must exist)
  --batches N        receive: batches to take before exiting (default 1)
  --file F           send: the file to send
  --as NAME          send: its name on the line, as given
  --fields W,W,...   send: the field widths; sends a field file first
  --fill 1A|00       send: fill byte of the last data block (default 1A)

Misbehaviour on request (any combination). Data blocks are counted from 1
over the whole run, across files and batches: a field file's blocks count;
headers, EOT, repetitions and resends do not.
  --drop-ack N       receive: no ACK for data block N (once), so the PC
                     sends it again; the repetition gets its ACK
  --nak N[@B]        receive: answer data block B (default 1) with NAK the
                     first N times it arrives
  --can-at B         send: CAN, 100 ms, CAN instead of data block B;
                     receive: CAN, 100 ms, CAN instead of the ACK of data
                     block B. The run then ends (exit 0; a run without
                     a data block B ends with exit 1)
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
through, or the cancel asked for by --can-at was sent, or with
--expect-cancel the PC cancelled); 1 it did not (the PC cancelled, a
timeout, bad data, too many retries, a port or file failure); 2 a usage
error.
)";
}

}  // namespace pw::bhtsim
