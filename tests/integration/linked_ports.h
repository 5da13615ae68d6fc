// Two COM ports joined by a line: what COM1 writes, COM2 reads, and the other
// way round. On Linux they are two pseudo-terminals whose master sides a
// relay thread joins, linked as COM1 and COM2 under a temporary
// PORTWICK_DRIVE. Under Wine the test runner has already mapped COM1 and COM2
// onto two linked pseudo-terminals.
#pragma once

#include <memory>

namespace pw::test {

class LinkedPorts {
 public:
  static std::unique_ptr<LinkedPorts> Create();
  virtual ~LinkedPorts() = default;
};

}  // namespace pw::test
