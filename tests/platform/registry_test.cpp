// Registry values survive a round trip, keep their types, and a key path can
// never reach outside the registry.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include "tests/support/temp_drive.h"

namespace pw {
namespace {

constexpr const char* kKey = "Software\\PortwickTests\\Registry";

TEST(Registry, ValuesRoundTripWithTheirTypes) {
  test::TempDrive drive;
  Registry& reg = SystemRegistry();
  const std::string key = std::string(kKey) + "\\" + drive.UniqueName();
  EXPECT_FALSE(reg.KeyExists(RegistryRoot::CurrentUser, key));
  EXPECT_FALSE(reg.ReadString(RegistryRoot::CurrentUser, key, "Missing"));
  ASSERT_TRUE(reg.WriteString(RegistryRoot::CurrentUser, key, "LogFolder", "C:\\Users\\Public\\Tessaly\\\r\nﾛｸﾞ"));
  ASSERT_TRUE(reg.WriteDword(RegistryRoot::CurrentUser, key, "DspX", 4294967295u));
  ASSERT_TRUE(reg.WriteDword(RegistryRoot::CurrentUser, key, "DspY", 12));
  EXPECT_TRUE(reg.KeyExists(RegistryRoot::CurrentUser, key));
  EXPECT_EQ(reg.ReadString(RegistryRoot::CurrentUser, key, "LogFolder"), "C:\\Users\\Public\\Tessaly\\\r\nﾛｸﾞ");
  EXPECT_EQ(reg.ReadDword(RegistryRoot::CurrentUser, key, "DspX"), 4294967295u);
  EXPECT_EQ(reg.ReadDword(RegistryRoot::CurrentUser, key, "DspY"), 12u);
  // A value of the other type reads as missing.
  EXPECT_FALSE(reg.ReadDword(RegistryRoot::CurrentUser, key, "LogFolder"));
  EXPECT_FALSE(reg.ReadString(RegistryRoot::CurrentUser, key, "DspX"));
  // Overwriting replaces; the machine's keys are apart from the user's.
  ASSERT_TRUE(reg.WriteDword(RegistryRoot::CurrentUser, key, "DspY", 13));
  EXPECT_EQ(reg.ReadDword(RegistryRoot::CurrentUser, key, "DspY"), 13u);
  ASSERT_TRUE(reg.CreateKey(RegistryRoot::CurrentUser, key + "\\COM1"));
  EXPECT_TRUE(reg.KeyExists(RegistryRoot::CurrentUser, key + "\\COM1"));
  EXPECT_EQ(reg.ReadDword(RegistryRoot::CurrentUser, key, "DspY"), 13u);
}

TEST(Registry, KeyPathsThatCouldEscapeAreRefused) {
  test::TempDrive drive;
  Registry& reg = SystemRegistry();
  for (const char* key : {"", "Software\\..\\..\\x", "Software\\\\x", "Software/x", "..", "Software\\"})
    EXPECT_FALSE(reg.WriteDword(RegistryRoot::CurrentUser, key, "v", 1)) << key;
}

}  // namespace
}  // namespace pw
