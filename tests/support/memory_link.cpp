// The in-memory serial link.
#include "tests/support/memory_link.h"

#include <algorithm>

namespace pw::test {

struct MemoryLink::Side {
  struct Arrival {
    std::uint64_t at;
    std::uint8_t byte;
  };
  std::deque<Arrival> inbound;           // bytes travelling to this end
  std::vector<std::uint8_t> written;     // what this end wrote
  std::uint64_t sentCount = 0;           // bytes written, for filters
  std::uint64_t lineFreeAt = 0;          // when this end's transmitter is idle again
  std::uint32_t delay = 0;
  Filter filter;
  int reads = 0, writes = 0, failRead = 0, failWrite = 0;
  std::unique_ptr<EndDevice> device;
};

class MemoryLink::EndDevice final : public SerialDevice {
 public:
  EndDevice(MemoryLink& link, End end) : link_(link), end_(end) {}

  bool SetQueueSizes(std::uint32_t, std::uint32_t) override { return true; }
  bool SetEventMask(bool) override { return true; }
  bool SetTimeouts(std::uint32_t) override { return true; }
  bool SetLine(std::uint32_t) override { return true; }

  bool PurgeInput() override {
    std::lock_guard lock(link_.mutex_);
    auto& in = Self().inbound;
    const std::uint64_t now = link_.Now();
    while (!in.empty() && in.front().at <= now) in.pop_front();
    return true;
  }

  bool Purge() override {
    std::lock_guard lock(link_.mutex_);
    PurgeInput();
    const std::uint64_t now = link_.Now();
    // Bytes written here that have not left yet are thrown away, as a
    // driver's transmit queue is.
    auto& out = link_.sides_[1 - end_]->inbound;
    out.erase(std::remove_if(out.begin(), out.end(), [now](const auto& a) { return a.at > now; }), out.end());
    return true;
  }

  std::int32_t BytesWaiting() override {
    std::lock_guard lock(link_.mutex_);
    return static_cast<std::int32_t>(link_.Arrived(end_));
  }

  std::int32_t OutputQueued() override {
    std::lock_guard lock(link_.mutex_);
    const Side& other = *link_.sides_[1 - end_];
    const std::uint64_t now = link_.Now();
    return static_cast<std::int32_t>(
        std::count_if(other.inbound.begin(), other.inbound.end(), [now](const auto& a) { return a.at > now; }));
  }

  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    std::lock_guard lock(link_.mutex_);
    Side& self = Self();
    if (++self.reads == self.failRead) return -1;
    const std::size_t n = std::min<std::size_t>(link_.Arrived(end_), static_cast<std::size_t>(std::max(count, 0)));
    for (std::size_t i = 0; i < n; ++i) {
      buffer[i] = self.inbound.front().byte;
      self.inbound.pop_front();
    }
    return static_cast<std::int32_t>(n);
  }

  std::int32_t Write(const std::uint8_t* bytes, std::int32_t count) override {
    std::lock_guard lock(link_.mutex_);
    Side& self = Self();
    if (++self.writes == self.failWrite) return -1;
    link_.Deliver(end_, bytes, static_cast<std::size_t>(count));
    return count;
  }

  void ClearError() override {}

  bool WaitForInput(std::uint32_t ms) override {
    std::lock_guard lock(link_.mutex_);
    if (link_.Arrived(end_) > 0) return true;
    const auto& in = Self().inbound;
    const std::uint64_t now = link_.Now();
    std::uint64_t until = now + ms;
    if (!in.empty()) until = std::min(until, in.front().at);
    link_.clock_.Advance(static_cast<std::uint32_t>(until - now));
    return link_.Arrived(end_) > 0;
  }

 private:
  Side& Self() { return *link_.sides_[end_]; }
  MemoryLink& link_;
  End end_;
};

MemoryLink::MemoryLink(VirtualClock& clock) : clock_(clock) {
  for (int i = 0; i < 2; ++i) {
    sides_[i] = std::make_unique<Side>();
    sides_[i]->device = std::make_unique<EndDevice>(*this, static_cast<End>(i));
  }
}

MemoryLink::~MemoryLink() = default;

SerialDevice& MemoryLink::Device(End end) { return *sides_[end]->device; }

void MemoryLink::SetFilter(End from, Filter filter) {
  std::lock_guard lock(mutex_);
  sides_[from]->filter = std::move(filter);
}

void MemoryLink::DropByte(End from, std::uint64_t index) {
  SetFilter(from, [index](std::uint64_t i, std::uint8_t&) { return i != index; });
}

void MemoryLink::CorruptByte(End from, std::uint64_t index, std::uint8_t mask) {
  SetFilter(from, [index, mask](std::uint64_t i, std::uint8_t& b) {
    if (i == index) b ^= mask;
    return true;
  });
}

void MemoryLink::SetDelay(End from, std::uint32_t ms) {
  std::lock_guard lock(mutex_);
  sides_[from]->delay = ms;
}

void MemoryLink::SetBitRate(std::uint32_t bitsPerSecond) {
  std::lock_guard lock(mutex_);
  bitRate_ = bitsPerSecond;
}

void MemoryLink::Inject(End to, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  for (std::uint8_t b : bytes) sides_[to]->inbound.push_back({Now(), b});
}

void MemoryLink::FailRead(End end, int n) {
  std::lock_guard lock(mutex_);
  sides_[end]->failRead = sides_[end]->reads + n;
}

void MemoryLink::FailWrite(End end, int n) {
  std::lock_guard lock(mutex_);
  sides_[end]->failWrite = sides_[end]->writes + n;
}

std::vector<std::uint8_t> MemoryLink::Written(End from) const {
  std::lock_guard lock(mutex_);
  return sides_[from]->written;
}

std::size_t MemoryLink::Pending(End end) const {
  std::lock_guard lock(mutex_);
  return sides_[end]->inbound.size();
}

void MemoryLink::Deliver(End from, const std::uint8_t* bytes, std::size_t count) {
  Side& self = *sides_[from];
  Side& other = *sides_[1 - from];
  const std::uint64_t now = Now();
  // Microseconds would be finer, but a byte's time at the slowest speed the
  // system uses (9600 bit/s) is about 1 ms; rates are kept exact over a run by
  // accumulating in tenths of microseconds.
  std::uint64_t t = std::max(now * 10000, self.lineFreeAt);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t b = bytes[i];
    self.written.push_back(b);
    const int copies = self.filter ? self.filter(self.sentCount, b) : 1;
    ++self.sentCount;
    // A dropped byte still took its time on the line; each extra copy takes its own.
    for (int c = 0; c < std::max(copies, 1); ++c) {
      if (bitRate_ != 0) t += 10ull * 10000000ull / bitRate_;  // ten bit-times, in 0.1 us
      if (c < copies) other.inbound.push_back({(t + 9999) / 10000 + self.delay, b});
    }
  }
  self.lineFreeAt = t;
}

std::size_t MemoryLink::Arrived(End end) const {
  const auto& in = sides_[end]->inbound;
  const std::uint64_t now = Now();
  std::size_t n = 0;
  for (const auto& a : in) {
    if (a.at > now) break;
    ++n;
  }
  return n;
}

}  // namespace pw::test
