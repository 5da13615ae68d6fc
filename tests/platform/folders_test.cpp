// The folders the system uses exist and are absolute.
#include "platform/folders.h"

#include <gtest/gtest.h>

#include "tests/support/temp_drive.h"

namespace pw {
namespace {

TEST(Folders, AreAbsoluteAndTheDriveFollowsTheEnvironment) {
  EXPECT_TRUE(TempFolder().is_absolute());
  EXPECT_TRUE(std::filesystem::is_directory(TempFolder()));
  EXPECT_TRUE(std::filesystem::exists(ProgramFolder() / "platform_tests") ||
              std::filesystem::exists(ProgramFolder() / "platform_tests.exe"));
  EXPECT_TRUE(SystemDrive().is_absolute());
}

}  // namespace
}  // namespace pw
