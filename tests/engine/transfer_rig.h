// A bench for transfer workers: workers and scripted peers take turns on one
// thread over an in-memory line, and virtual time moves one millisecond
// whenever none of them had anything to do. A 60-second wait costs nothing
// and every run is the same.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/transfer_view.h"
#include "engine/ym_thread.h"
#include "tests/content/temp_dir.h"
#include "tests/support/memory_link.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/virtual_clock.h"

namespace pw::test {

using Bytes = std::vector<std::uint8_t>;

/// Records what a transfer shows.
struct RecordingView : TransferView {
  void SetLabel(std::string_view t) override {
    labels.emplace_back(t);
    if (onLabel) onLabel(t);
  }
  void SetGaugeMax(std::int32_t m) override { gaugeMax = m; }
  void SetGaugeProgress(std::int32_t p) override { progress.push_back(p); }
  void SetButtonCaption(std::string_view c) override { buttons.emplace_back(c); }
  void TransferEnded() override { ++ended; }
  std::vector<std::string> labels, buttons;
  std::vector<std::int32_t> progress;
  std::int32_t gaugeMax = 0;
  int ended = 0;
  /// Runs on the worker, inside the pass that shows the label.
  std::function<void(std::string_view)> onLabel;
};

/// A peer played by the test on one end of the line. What arrives is cut
/// into units (a whole block that starts with SOH or STX, or one byte) and
/// handed to the handler, whose replies go out after their delays.
class ScriptPeer {
 public:
  struct Reply {
    std::uint32_t afterMs = 0;
    Bytes bytes;
  };
  using Handler = std::function<std::vector<Reply>(const Bytes& unit)>;

  ScriptPeer(MemoryLink& link, MemoryLink::End end, VirtualClock& clock, Handler handler, bool blocks = true)
      : device_(link.Device(end)), clock_(clock), handler_(std::move(handler)), blocks_(blocks) {}

  /// Sends \p bytes after \p afterMs.
  void Say(Bytes bytes, std::uint32_t afterMs = 0) {
    pending_.push_back({clock_.Elapsed() + afterMs, polls_, std::move(bytes)});
  }
  /// Forgets every reply not yet sent.
  void Hush() { pending_.clear(); }
  /// One turn; true if it read or wrote anything.
  bool Poll();
  /// Every unit received so far.
  const std::vector<Bytes>& Units() const { return units_; }

 private:
  struct Pending {
    std::uint64_t at;
    std::uint64_t poll;  // replies go out at a later turn than the one that made them
    Bytes bytes;
  };
  SerialDevice& device_;
  VirtualClock& clock_;
  Handler handler_;
  bool blocks_;
  Bytes partial_;
  std::uint64_t polls_ = 0;
  std::vector<Bytes> units_;
  std::vector<Pending> pending_;
};

class TransferRig {
 public:
  TransferRig();
  ~TransferRig() { clock.sleeper = nullptr; }

  VirtualClock clock;
  MemoryLink link{clock};
  TempDir dir;
  RecordingBoxes boxes;
  const Alerts alerts{boxes, "test"};
  RecordingView pcView, bhtView;

  /// Changes a request before its worker is made.
  using Tweak = std::function<void(TransferRequest&)>;
  /// A worker for \p request on \p end (A is the PC's end), with temporary
  /// files of its own.
  std::unique_ptr<TYmThread> Worker(TransferRequest request, MemoryLink::End end);
  /// A send of the PC file \p pcName (in the rig's folder) as \p bhtName.
  std::unique_ptr<TYmThread> Sender(const std::string& pcName, const std::string& bhtName,
                                    const std::string& fields = "", const Tweak& tweak = {});
  std::unique_ptr<TYmThread> Sender(const std::string& pcName, const std::string& bhtName, const Tweak& tweak) {
    return Sender(pcName, bhtName, "", tweak);
  }
  /// A receive into the rig's folder "rx" on the terminal's end.
  std::unique_ptr<TYmThread> Receiver(const Tweak& tweak = {});

  /// Begins \p w and lets it take its turns from now on. Any worker with
  /// Begin, Pass and Finish: the library's and the table server's.
  template <class Worker>
  void Add(Worker& w) {
    AddSlot(&w, [&w] { return w.Begin(); },
            [&w] {
              const auto r = w.Pass();
              return r == Worker::PassResult::Ended ? Step::Ended
                     : r == Worker::PassResult::Idle ? Step::Idle
                                                     : Step::Worked;
            },
            [&w] { w.Finish(); });
  }
  void Add(ScriptPeer& p) { peers_.push_back(&p); }
  /// Runs \p fn (a call from another thread, such as a forced end) while
  /// \p w takes no turns, as if it were blocked on the port's write lock.
  template <class Worker>
  void Aside(Worker& w, const std::function<void()>& fn) {
    AsideSlot(&w, fn);
  }
  /// Turns until \p done holds; false if \p limitMs of virtual time passed first.
  bool RunUntil(const std::function<bool()>& done, std::uint64_t limitMs = 3'600'000);
  /// Turns until every added worker has ended (and finished).
  bool RunToEnd(std::uint64_t limitMs = 3'600'000);

  std::filesystem::path Rx() const { return dir / "rx"; }

 private:
  enum class Step { Worked, Idle, Ended };
  struct Slot {
    const void* worker;
    std::function<Step()> pass;
    std::function<void()> finish;
    bool ended;
    bool busy = false;  // in a pass (and perhaps asleep in it)
  };
  void AsideSlot(const void* w, const std::function<void()>& fn);
  void AddSlot(const void* id, const std::function<bool()>& begin, std::function<Step()> pass,
               std::function<void()> finish);
  bool Turn();
  std::vector<Slot> workers_;
  std::vector<ScriptPeer*> peers_;
  int tmpCount_ = 0;
};

/// The handler of a terminal that receives everything well: 'C' at the
/// start, ACK for every block and EOT, then 'C' 100 ms later where the PC
/// waits for it.
ScriptPeer::Handler GoodTerminal();

/// A header block (block 0, SOH) holding \p content as its data.
Bytes HeaderBlock(const std::string& content);
/// A data block.
Bytes DataBlock(std::uint8_t start, std::uint8_t number, const Bytes& data);

}  // namespace pw::test
