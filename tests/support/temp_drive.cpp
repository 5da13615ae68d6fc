// Temporary system drives for tests.
#include "tests/support/temp_drive.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>

namespace pw::test {

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) unsetenv(name);
  else setenv(name, value.c_str(), 1);
#endif
}

TempDrive::TempDrive() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  name_ = "pwt" + std::to_string(rd()) + "_" + std::to_string(counter++);
  path_ = std::filesystem::temp_directory_path() / name_;
  std::filesystem::create_directories(path_);
  if (const char* p = std::getenv("PORTWICK_DRIVE")) {
    previous_ = p;
    hadPrevious_ = true;
  }
  SetEnv("PORTWICK_DRIVE", path_.string());
}

TempDrive::~TempDrive() {
  SetEnv("PORTWICK_DRIVE", hadPrevious_ ? previous_ : std::string());
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace pw::test
