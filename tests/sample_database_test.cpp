// Installs the sample database into the stand-in the way the shipped
// program does. (The regeneration test pins data/drives.reg byte for byte,
// and drvdb's tests count its lines, headers, keys and values.)

#include "payload/payload_io_host.h"
#include "setup/setup_run.h"
#include "tests/test_support.h"

TEST(SampleDatabase, InstallsEveryKeyAndValue) {
  HostRegistryReset();
  HostSetPlatformId(VER_PLATFORM_WIN32_NT);
  HostSetModuleImage("/opt/drvsetup", PackedImage(SampleDatabaseBytes()));
  EXPECT_EQ(SetupRun("-ns -ne"), 0);
  HostClearModuleImage();
  size_t keys = 0, values = 0;
  ASSERT_TRUE(CountKeys(HKEY_LOCAL_MACHINE, "Software\\morvelan\\DRIVER2",
                                &keys, &values));
  EXPECT_EQ(keys, 1810u);
  EXPECT_EQ(values, 4131u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "Software\\morvelan\\DRIVER2",
                      "DriverVersion"),
            Dword(71));
}
