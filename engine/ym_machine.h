// What the sender and the receiver have in common: the protocol state, the
// running timer, how a machine ends a file, a batch or the transfer, and what
// the history log is told of the file in transfer.
//
// A machine holds only protocol state. It reads nothing itself: its worker
// hands it what one read of the port gave (OnBytes) or tells it that a read
// found nothing (OnIdle). It writes blocks and control bytes to the port,
// shows progress on the view, and ends through its host, which alone writes
// the result code and the log.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/ansi_string.h"
#include "content/file_kind.h"

namespace pw {

/// The protocol state. BN0 to BN4 are never entered; the values are those of
/// the system's state list (0 to 33).
// clang-format off
enum class TYmComStat : std::uint8_t {
  BN0, BN1, BN2, BN3, BN4,
  SS0,  ///< a fresh wait: purge, close files, show waiting, then as SS1
  SS1,  ///< the next file of the same batch: send 'C', wait for a header
  S00, S01, S02, S03, S04, S05, S06, S07,  ///< receive: header, then the first data block
  S10, S11, S12, S13, S14, S15, S16,       ///< receive: data blocks, then EOT
  S20, S21, S22, S23, S24,                 ///< send: the field file
  S30, S31, S32, S33,                      ///< send: the data file
  S40, S41, S42,                           ///< send: EOT and the end of the batch
};
// clang-format on

/// "S00", "SS1", ...
std::string_view StateName(TYmComStat s);

/// What an ending ends.
enum class EndScope {
  File,      ///< the result of one received file; the batch goes on
  Batch,     ///< the batch: a continuous receive waits for the next one, anything else ends
  Transfer,  ///< the whole transfer
};

/// How a machine ends: the result code (none keeps the code as it is),
/// whether the history log gets a line for it, whether the cancel sequence
/// goes on the line first, and what ends.
struct Ending {
  std::optional<std::int32_t> code;
  bool log = false;
  bool cancel = false;
  EndScope scope = EndScope::Transfer;
};

/// The running timeout: Tmr milliseconds from the tick tw, which every write
/// restarts.
struct YmTimer {
  std::uint32_t tw = 0;
  std::uint32_t Tmr = 0;
  /// Milliseconds from the tick \p now until the timeout is due (0 when it
  /// is); a wrapped counter counts from 0.
  std::uint32_t Left(std::uint32_t now) const {
    const std::uint32_t elapsed = now >= tw ? now - tw : now;
    return Tmr > elapsed ? Tmr - elapsed : 0;
  }
};

/// The terminal's cancel among the bytes a machine passed over unread: two
/// CANs in a row within one read.
class CancelWatch {
 public:
  /// A new read begins.
  void NewRead() { canSeen_ = false; }
  void Passed(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
      if (b == kCancelByte && canSeen_) cancelled_ = true;
      canSeen_ = b == kCancelByte;
    }
  }
  /// True once after a cancel was seen.
  bool Take() {
    const bool c = cancelled_;
    cancelled_ = false;
    return c;
  }

 private:
  static constexpr std::uint8_t kCancelByte = 0x18;
  bool canSeen_ = false, cancelled_ = false;
};

/// What the history log says of the file in transfer.
struct FileFacts {
  AnsiString BhtFName;
  TFileType FileType = TFileType::NULL_;
  std::int32_t iRecords = 0;
  std::int32_t fSize = 0;
};

/// The worker a machine runs in.
class YmHost {
 public:
  virtual ~YmHost() = default;
  /// The one way to end (see Ending). The machine handles no more bytes of
  /// the read it is in.
  virtual void End(const Ending& ending) = 0;
  /// Bytes the machine passed over unread (the rest of a read after it
  /// answered): the terminal's cancel must not be lost in them.
  virtual void Dropped(std::span<const std::uint8_t> bytes) = 0;
};

/// What one step of a machine did with the bytes before it: how many it
/// took, or kStop when the rest of the read is dropped.
inline constexpr std::int32_t kStop = -1;

}  // namespace pw
