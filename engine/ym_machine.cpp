// Names of the protocol states.
#include "engine/ym_machine.h"

#include <array>

namespace pw {

namespace {

constexpr std::array<std::string_view, 34> kStateNames = {"BN0", "BN1", "BN2", "BN3", "BN4", "SS0", "SS1", "S00", "S01",
                                                          "S02", "S03", "S04", "S05", "S06", "S07", "S10", "S11", "S12",
                                                          "S13", "S14", "S15", "S16", "S20", "S21", "S22", "S23", "S24",
                                                          "S30", "S31", "S32", "S33", "S40", "S41", "S42"};

}  // namespace

std::string_view StateName(TYmComStat s) {
  const auto i = static_cast<std::size_t>(s);
  return i < kStateNames.size() ? kStateNames[i] : "?";
}

}  // namespace pw
