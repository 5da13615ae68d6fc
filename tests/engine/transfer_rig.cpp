// The transfer bench.
#include "tests/engine/transfer_rig.h"

#include <algorithm>

#include "engine/ymodem_block.h"

namespace pw::test {

using namespace ymodem;

bool ScriptPeer::Poll() {
  bool worked = false;
  ++polls_;
  std::uint8_t buf[4096];
  const std::int32_t n = device_.Read(buf, sizeof buf);
  if (n > 0) {
    worked = true;
    partial_.insert(partial_.end(), buf, buf + n);
  }
  // Cut what has arrived into units.
  while (!partial_.empty()) {
    std::size_t len = 1;
    if (blocks_ && (partial_[0] == SOH || partial_[0] == STX)) {
      len = partial_[0] == SOH ? kSmallBlock : kLargeBlock;
      if (partial_.size() < len) break;
    }
    Bytes unit(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(len));
    partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(len));
    units_.push_back(unit);
    for (Reply& r : handler_(unit)) Say(std::move(r.bytes), r.afterMs);
  }
  // Replies that are due, in order.
  while (!pending_.empty()) {
    auto due = std::min_element(pending_.begin(), pending_.end(),
                                [](const Pending& a, const Pending& b) { return a.at < b.at; });
    if (due->at > clock_.Elapsed() || due->poll >= polls_) break;
    if (!due->bytes.empty()) device_.Write(due->bytes.data(), static_cast<std::int32_t>(due->bytes.size()));
    pending_.erase(due);
    worked = true;
  }
  return worked;
}

TransferRig::TransferRig() {
  std::filesystem::create_directories(Rx());
  // A worker that sleeps lets the others go on, as on separate threads.
  clock.sleeper = [this](std::uint32_t ms) {
    for (std::uint32_t i = 0; i < ms; ++i) {
      clock.Advance(1);
      Turn();
    }
  };
}

std::unique_ptr<TYmThread> TransferRig::Worker(TransferRequest request, MemoryLink::End end) {
  const std::string n = std::to_string(tmpCount_++);
  if (request.Tmp1File.empty()) request.Tmp1File = dir / ("portwk1_" + n + ".tmp");
  if (request.Tmp2File.empty()) request.Tmp2File = dir / ("portwk2_" + n + ".tmp");
  return std::make_unique<TYmThread>(link.Device(end), clock, end == MemoryLink::A ? pcView : bhtView, alerts,
                                     std::move(request));
}

std::unique_ptr<TYmThread> TransferRig::Sender(const std::string& pcName, const std::string& bhtName,
                                               const std::string& fields, const Tweak& tweak) {
  TransferRequest r;
  r.TxFlag = true;
  r.TxFName = dir / pcName;
  r.BhtFName = bhtName;
  r.FieldsDat = fields;
  if (tweak) tweak(r);
  return Worker(std::move(r), MemoryLink::A);
}

std::unique_ptr<TYmThread> TransferRig::Receiver(const Tweak& tweak) {
  TransferRequest r;
  r.RxFolder = Rx();
  if (tweak) tweak(r);
  return Worker(std::move(r), MemoryLink::B);
}

void TransferRig::AddSlot(const void* id, const std::function<bool()>& begin, std::function<Step()> pass,
                          std::function<void()> finish) {
  workers_.push_back({id, std::move(pass), std::move(finish), false, true});
  const std::size_t i = workers_.size() - 1;
  const bool running = begin();
  if (!running) workers_[i].finish();
  workers_[i].ended = !running;
  workers_[i].busy = false;
}

void TransferRig::AsideSlot(const void* w, const std::function<void()>& fn) {
  auto slot = std::find_if(workers_.begin(), workers_.end(), [&](const Slot& s) { return s.worker == w; });
  const bool wasBusy = slot != workers_.end() && slot->busy;
  if (slot != workers_.end()) slot->busy = true;
  fn();
  if (slot != workers_.end()) slot->busy = wasBusy;
}

bool TransferRig::Turn() {
  bool worked = false;
  for (std::size_t i = 0; i < workers_.size(); ++i) {
    if (workers_[i].ended || workers_[i].busy) continue;
    workers_[i].busy = true;
    const Step r = workers_[i].pass();
    if (r == Step::Ended) workers_[i].finish();
    workers_[i].busy = false;
    workers_[i].ended = r == Step::Ended;
    worked = worked || r != Step::Idle;
  }
  for (ScriptPeer* p : peers_) worked = p->Poll() || worked;
  return worked;
}

bool TransferRig::RunUntil(const std::function<bool()>& done, std::uint64_t limitMs) {
  const std::uint64_t start = clock.Elapsed();
  while (!done()) {
    if (clock.Elapsed() - start > limitMs) return false;
    if (!Turn()) clock.Advance(1);
  }
  return true;
}

bool TransferRig::RunToEnd(std::uint64_t limitMs) {
  return RunUntil([this] { return std::all_of(workers_.begin(), workers_.end(), [](const Slot& s) { return s.ended; }); },
                  limitMs);
}

ScriptPeer::Handler GoodTerminal() {
  return [](const Bytes& u) -> std::vector<ScriptPeer::Reply> {
    if (u[0] == SOH && u[1] == 0 && u.size() == kSmallBlock) {
      if (u[3] == 0) return {{0, {ACK}}};
      return {{0, {ACK}}, {100, {kC}}};
    }
    if (u[0] == SOH || u[0] == STX) return {{0, {ACK}}};
    if (u[0] == EOT) return {{0, {ACK}}, {100, {kC}}};
    return {};
  };
}

Bytes HeaderBlock(const std::string& content) {
  Bytes data(content.begin(), content.end());
  data.resize(kSmallData, 0);
  return DataBlock(SOH, 0, data);
}

Bytes DataBlock(std::uint8_t start, std::uint8_t number, const Bytes& data) {
  Bytes out(kLargeBlock);
  out.resize(BuildBlock(out.data(), start, number, data.data(), data.size()));
  return out;
}

}  // namespace pw::test
