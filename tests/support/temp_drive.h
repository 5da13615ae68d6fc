// A fresh temporary folder that plays the system drive for one test: it is
// made on construction, named by PORTWICK_DRIVE while the test runs, and
// removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace pw::test {

class TempDrive {
 public:
  TempDrive();
  ~TempDrive();
  TempDrive(const TempDrive&) = delete;
  TempDrive& operator=(const TempDrive&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  /// A name no other TempDrive of this run has, for keys and files.
  std::string UniqueName() const { return name_; }

 private:
  std::filesystem::path path_;
  std::string name_;
  std::string previous_;
  bool hadPrevious_ = false;
};

/// Sets an environment variable (empty value: removes it).
void SetEnv(const char* name, const std::string& value);

}  // namespace pw::test
