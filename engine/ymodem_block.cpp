// YMODEM blocks.
#include "engine/ymodem_block.h"

#include <cstring>
#include <string>

#include "engine/com_port.h"

namespace pw::ymodem {

std::uint16_t CalcCrc16(const std::uint8_t* bytes, std::size_t count, const CrcTable& table) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < count; ++i) crc = ((crc << 8) ^ table[((crc >> 8) ^ bytes[i]) & 0xFF]) & 0xFFFF;
  return static_cast<std::uint16_t>(crc);
}

std::size_t BuildBlock(std::uint8_t* out, std::uint8_t start, std::uint8_t number, const std::uint8_t* data,
                       std::size_t length) {
  const std::size_t dataSize = start == SOH ? kSmallData : kLargeData;
  if (length > dataSize) length = dataSize;
  out[0] = start;
  out[1] = number;
  out[2] = static_cast<std::uint8_t>(255 - number);
  if (length > 0) std::memmove(out + 3, data, length);
  std::memset(out + 3 + length, 0, dataSize - length);
  const std::uint16_t crc = CalcCrc16(out + 3, dataSize);
  out[3 + dataSize] = static_cast<std::uint8_t>(crc >> 8);
  out[4 + dataSize] = static_cast<std::uint8_t>(crc & 0xFF);
  return dataSize + kFraming;
}

bool BuildHeaderBlock(std::uint8_t* out, std::string_view ansiName, std::int32_t size) {
  if (ansiName.empty() || size < 0 || ansiName.find('\0') != std::string_view::npos) return false;
  const std::string digits = std::to_string(size);
  if (ansiName.size() + 1 + digits.size() + 1 > kSmallData) return false;
  std::uint8_t data[kSmallData] = {};
  std::memcpy(data, ansiName.data(), ansiName.size());
  std::memcpy(data + ansiName.size() + 1, digits.data(), digits.size());
  BuildBlock(out, SOH, 0, data, kSmallData);
  return true;
}

void BuildEndOfBatchBlock(std::uint8_t* out) { BuildBlock(out, SOH, 0, nullptr, 0); }

std::size_t BuildDataBlock(std::uint8_t* out, std::int32_t blockNo, const std::uint8_t* data, std::size_t length) {
  return BuildBlock(out, STX, static_cast<std::uint8_t>(blockNo & 0xFF), data, length);
}

BlockVerdict CheckBlock(std::uint8_t number, std::uint8_t complement, std::uint8_t expected, bool crcOk,
                        bool dataBlock) {
  if (number == expected && complement == static_cast<std::uint8_t>(255 - expected) && crcOk)
    return BlockVerdict::Accept;
  const auto previous = static_cast<std::uint8_t>(expected - 1);
  if (dataBlock && number == previous && complement == static_cast<std::uint8_t>(255 - previous))
    return BlockVerdict::Repeat;
  return BlockVerdict::Refuse;
}

bool TimedOut(std::uint32_t now, std::uint32_t& tw, std::uint32_t tmr) {
  if (now < tw) tw = 0;
  return now - tw >= tmr;
}

void SendCancel(ComPort& port) {
  port.WriteComByte(CAN);
  port.GetClock().Sleep(kCancelPauseMs);
  port.WriteComByte(CAN);
}

}  // namespace pw::ymodem
