// What travels on the line: control bytes, blocks, the CRC, block numbers,
// the timeouts and retry limits, and the cancel sequence.
//
// A block is: SOH (128 data bytes) or STX (1024), the block number n, its
// complement 255 - n, the data, and the CRC-16 of the data, high byte first.
// Block 0 is a file header (name, 0x00, size in decimal, 0x00 fill); an empty
// header ends the batch. Data blocks are numbered from 1, modulo 256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pw {

class ComPort;

namespace ymodem {

// Control bytes.
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t CAN = 0x18;
inline constexpr std::uint8_t kC = 0x43;  ///< 'C': the receiver asks for a header or data, CRC mode
/// Some terminals end a file's data with this byte; the receiver takes it as
/// EOT, but only where it waits for the EOT after the last data block.
inline constexpr std::uint8_t kEotAlt = 0xB0;

// Sizes.
inline constexpr std::size_t kSmallData = 128;
inline constexpr std::size_t kLargeData = 1024;
inline constexpr std::size_t kFraming = 5;  ///< start byte, number, complement, two CRC bytes
inline constexpr std::size_t kSmallBlock = kSmallData + kFraming;  ///< 133
inline constexpr std::size_t kLargeBlock = kLargeData + kFraming;  ///< 1029
inline constexpr std::size_t kTxBufSize = 2048;

// Timeouts (ms) and limits.
inline constexpr std::uint32_t kHeaderRepeatMs = 1000;  ///< receiver: 'C' again while no header starts
inline constexpr std::uint32_t kAnswerMs = 3000;        ///< waiting for an answer or the next block
inline constexpr std::uint32_t kBlockDeadlineMs = 400;  ///< a block's rest, from its first byte
inline constexpr std::uint32_t kFirstCMs = 60000;       ///< sender: the terminal's first 'C'
inline constexpr std::int32_t kMaxRetries = 10;         ///< the tenth failure in a row ends the transfer
inline constexpr std::uint32_t kCancelPauseMs = 100;    ///< between the two CAN bytes
inline constexpr std::uint32_t kAckToCMs = 100;         ///< receiver: between a header's ACK and its 'C'
inline constexpr std::uint32_t kAfterFileMs = 50;       ///< receiver: after each received file

using CrcTable = std::array<std::uint16_t, 256>;

/// The CRC-16 table: polynomial 0x1021, most significant bit first.
constexpr CrcTable MakeCrcTable() {
  CrcTable table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t v = i << 8;
    for (int k = 0; k < 8; ++k) v = (v & 0x8000) ? ((v << 1) ^ 0x1021) & 0xFFFF : (v << 1) & 0xFFFF;
    table[i] = static_cast<std::uint16_t>(v);
  }
  return table;
}

inline constexpr CrcTable kCrcTable = MakeCrcTable();

/// CRC-16/XMODEM (initial 0, no reflection, no final XOR) of \p count bytes.
std::uint16_t CalcCrc16(const std::uint8_t* bytes, std::size_t count, const CrcTable& table = kCrcTable);

/// Builds a block in \p out: \p start (SOH or STX), \p number and its
/// complement, \p length bytes of \p data filled with 0x00 to the block's
/// data size, and the CRC. \p length must not exceed the data size. Returns
/// the block's length, 133 or 1029.
std::size_t BuildBlock(std::uint8_t* out, std::uint8_t start, std::uint8_t number, const std::uint8_t* data,
                       std::size_t length);

/// Builds the header block of a file (block 0, SOH) in \p out: the name's
/// bytes, 0x00, \p size in decimal, 0x00 fill. False, with \p out untouched,
/// when the name is empty, holds a 0x00 byte, \p size is negative, or name and
/// size with their zero bytes do not fit in 128 bytes.
bool BuildHeaderBlock(std::uint8_t* out, std::string_view ansiName, std::int32_t size);

/// Builds the empty header that ends a batch: 128 zero bytes, CRC 0x0000.
void BuildEndOfBatchBlock(std::uint8_t* out);

/// Builds an STX data block in \p out from up to 1024 bytes of \p data; the
/// block number is the low byte of \p blockNo. Returns 1029.
std::size_t BuildDataBlock(std::uint8_t* out, std::int32_t blockNo, const std::uint8_t* data, std::size_t length);

/// How a receiver treats a block that arrived whole.
enum class BlockVerdict {
  Accept,  ///< the expected block with a good CRC
  Repeat,  ///< the block before the expected one again (its ACK was lost): ACK, drop the data
  Refuse,  ///< anything else: NAK
};

/// Applies the acceptance rules to a received block: \p number and
/// \p complement as received, \p expected the expected block number, \p crcOk
/// whether the received CRC matches the data. Only data blocks can be
/// repetitions (\p dataBlock).
BlockVerdict CheckBlock(std::uint8_t number, std::uint8_t complement, std::uint8_t expected, bool crcOk,
                        bool dataBlock);

/// The timeout test, made each time a poll finds no bytes. When \p now is
/// below \p tw the tick counter has wrapped, and \p tw restarts at 0; the
/// timeout has occurred when now - tw reaches \p tmr.
bool TimedOut(std::uint32_t now, std::uint32_t& tw, std::uint32_t tmr);

/// The cancel sequence the PC sends when it ends a transfer: CAN, 100 ms, CAN.
void SendCancel(ComPort& port);

}  // namespace ymodem
}  // namespace pw
