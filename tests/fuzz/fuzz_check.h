// What a fuzz target does when an invariant breaks: say which, and abort, so
// that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace pw::fuzz {

inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace pw::fuzz
