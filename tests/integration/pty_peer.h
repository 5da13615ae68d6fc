// The far end of a real serial line for tests: COM1 is the port under test,
// and the peer writes into it and reads what it sends.
//
// On Linux the peer makes a pseudo-terminal (openpty), links COM1 to its
// slave side under a temporary PORTWICK_DRIVE and holds the master side. Under
// Wine the test runner has mapped COM1 and COM2 onto two linked
// pseudo-terminals, and the peer is COM2.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace pw::test {

class PtyPeer {
 public:
  static std::unique_ptr<PtyPeer> Create();
  virtual ~PtyPeer() = default;
  /// Sends bytes to the port under test.
  virtual void Send(const std::vector<std::uint8_t>& bytes) = 0;
  /// Receives exactly \p count bytes from the port under test, or fewer when
  /// \p timeoutMs passes first.
  virtual std::vector<std::uint8_t> Receive(std::size_t count, std::uint32_t timeoutMs) = 0;
  /// True where a second open of a held port is refused by the system.
  virtual bool EnforcesExclusiveOpen() const = 0;
};

}  // namespace pw::test
