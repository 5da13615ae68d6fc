// The simulated BHT terminal: its receive and send sequences over a Channel,
// with the misbehaviour that the options ask for.
//
// Both sequences are plain blocking code: wait for a byte until a deadline,
// act, write. Everything the terminal does on the line goes through Link, which
// keeps the input that a wait has not used yet, discards input that is pending
// when the terminal writes (as the PC does), puts the requested noise in front
// of the first write, and logs each event.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/bhtsim/batch.h"
#include "tools/bhtsim/channel.h"
#include "tools/bhtsim/options.h"

namespace pw::bhtsim {

/// How a run ended.
struct Outcome {
  enum class Kind {
    kDone,           ///< the batches (receive) or the batch (send) went through
    kCancelSent,     ///< the terminal cancelled as --can-at asked
    kPeerCancelled,  ///< a CAN arrived where the terminal waited
    kFailed,         ///< timeout, too many retries, bad data, a port or file failure
  };
  Kind kind = Kind::kDone;
  int cans = 0;         ///< kPeerCancelled: CAN bytes seen, 1 or 2
  std::string message;  ///< one line for the user; empty for kDone
};

/// 0 when the run ended as expected (see Usage), else 1.
int ExitCode(const Outcome& outcome, bool expectCancel);

/// The line as the terminal's sequences see it.
class Link {
 public:
  /// \p log may be null. \p noise bytes go out just before the first write.
  Link(Channel& channel, std::FILE* log, std::uint32_t noise);

  std::uint64_t Now() { return channel_.NowMs(); }
  void Sleep(std::uint32_t ms) { channel_.Sleep(ms); }

  /// The next input byte, or nothing once \p deadline (Now() scale) has passed.
  std::optional<std::uint8_t> Get(std::uint64_t deadline);

  /// Discards pending input, then writes \p count bytes; \p what names them
  /// in the log.
  void Send(const std::uint8_t* bytes, std::size_t count, const std::string& what);
  /// One control byte, logged by its name.
  void SendByte(std::uint8_t byte);
  /// Writes without discarding input first: the rest of a block whose start
  /// has already gone out.
  void SendRest(const std::uint8_t* bytes, std::size_t count, const std::string& what);
  /// CAN, 100 ms, CAN.
  void SendCancel();

  /// One line in the log (nothing without a log).
  void Log(const std::string& line);
  /// A received byte that the current wait skips or acts on.
  void LogReceived(std::uint8_t byte, const char* note = nullptr);

 private:
  void Discard();
  void Write(const std::uint8_t* bytes, std::size_t count);

  Channel& channel_;
  std::FILE* log_;
  std::uint32_t noise_;
  std::uint64_t start_;
  std::vector<std::uint8_t> in_;  // read, not yet used
  std::size_t inPos_ = 0;
};

/// The name of a control byte ("ACK", "C", "0xB0" ...), or 0xNN.
std::string ByteName(std::uint8_t byte);

/// The noise that --noise asks for: \p count bytes from a fixed pseudo-random
/// sequence, none of them a control byte the PC acts on.
Bytes NoiseBytes(std::uint32_t count);

/// The terminal taking batches from the PC and storing them in options.dir.
class Receiver {
 public:
  /// "stored NAME SIZE" lines go to \p report.
  Receiver(Link& link, const Options& options, std::FILE* report);
  Outcome Run();
  /// Data blocks accepted so far.
  BlockCount DataBlocks() const { return accepted_; }

 private:
  struct Block;
  struct Header;
  enum class Got { kNothing, kBlock, kEot, kCan };

  /// The next block, EOT (or 0xB0 when \p b0IsEot) or CAN; other bytes are skipped.
  Got Next(std::uint64_t deadline, Block& block, bool b0IsEot);
  std::optional<Outcome> ReceiveHeader(Header& header);
  std::optional<Outcome> ReceiveData(const Header& header);
  void Store(const Header& header, const Bytes& data);

  Link& link_;
  const Options& o_;
  std::FILE* report_;
  BlockCount accepted_ = 0;  // data blocks accepted in the whole run
  std::uint32_t naksLeft_;
  std::string problem_;  // first thing that went wrong without ending the run
};

/// The terminal sending a batch to the PC.
class Sender {
 public:
  Sender(Link& link, const Options& options, const std::vector<BatchFile>& batch);
  Outcome Run();
  /// Waits for the PC's 'C' (up to --timeout) and sends \p block, a header of
  /// the terminal's own, until the PC acknowledges it. Nothing once it has.
  std::optional<Outcome> SendHeader(const Bytes& block, const std::string& what);

 private:
  std::optional<Outcome> WaitForC(std::uint32_t waitMs, int tries, const std::string& what);
  std::optional<Outcome> SendUntilAck(const Bytes& block, BlockCount count, const std::string& what);

  Link& link_;
  const Options& o_;
  const std::vector<BatchFile>& batch_;
};

/// The terminal asking the PC for options.request: the request block as
/// Sender sends a header, then one batch taken as Receiver takes it. A CAN
/// before any data block arrived is the PC refusing the request.
Outcome RunRequest(Link& link, const Options& options, std::FILE* report);

}  // namespace pw::bhtsim
