// The terminal simulator's command line: what to do, on which port, and which
// misbehaviour to show on the line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw::bhtsim {

enum class Mode { kNone, kReceive, kSend, kRequest };

/// Data blocks are counted from 1 over the whole run (see Usage); 0 means
/// "no such block", so a rule with block 0 never fires.
using BlockCount = std::uint64_t;

/// The longest name a request can carry: the PC reads twelve bytes after "#D".
inline constexpr std::size_t kRequestNameMax = 12;

struct Options {
  Mode mode = Mode::kNone;
  bool help = false;

  std::string port;
  std::uint32_t speed = 115200;
  std::uint32_t timeoutSec = 60;
  std::string logPath;  ///< empty: no log

  // receive and request
  std::string dir;
  std::uint32_t batches = 1;  ///< receive only

  // request
  std::string request;  ///< the name asked for, 1 to 12 bytes

  // send
  std::string file;
  std::string as;      ///< empty: the upper-cased base name of file
  std::string fields;  ///< as given, commas between the widths; empty: no field file
  std::uint8_t fill = 0x1A;

  // misbehaviour
  BlockCount dropAck = 0;
  BlockCount corruptBlock = 0;
  std::uint32_t nakTimes = 0;
  BlockCount nakBlock = 1;
  BlockCount canAt = 0;
  bool silent = false;
  std::uint32_t noise = 0;
  BlockCount stretchBlock = 0;
  std::uint32_t stretchMs = 0;
  bool eotB0 = false;
  bool expectCancel = false;
};

/// Parses the command line (without the program name). On failure returns
/// nothing and sets \p error to a one-line reason. --help needs nothing else.
std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string& error);

/// Whether \p speed is one the serial driver can be set to.
bool IsSupportedSpeed(std::uint32_t speed);

/// The --help text.
std::string_view Usage();

}  // namespace pw::bhtsim
