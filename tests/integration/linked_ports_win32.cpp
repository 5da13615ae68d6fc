// Windows: COM1 and COM2 are linked by the test runner before the test starts.
#include "tests/integration/linked_ports.h"

namespace pw::test {

namespace {
class MappedPorts final : public LinkedPorts {};
}  // namespace

std::unique_ptr<LinkedPorts> LinkedPorts::Create() { return std::make_unique<MappedPorts>(); }

}  // namespace pw::test
