#include <gtest/gtest.h>

#include <string>

#include "script/script_fault.h"
#include "script/version_probe.h"

TEST(VersionProbe, Lines) {
  struct Case {
    const char* text;
    bool found;
    uint32_t version;
  };
  const Case cases[] = {
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:00000047\r\n",
       true, 71},
      {"\"DriverVersion\"=dword:00000047", true, 71},  // ends the text
      {" \t\"driverversion\"=DWORD:2A\n", true, 42},
      {"\"DRIVERVERSION\"=Dword:ffffffff\r", true, 0xffffffffu},
      {"\"DriverVersion\"=dword:100000047\r\n", true, 0x47},  // wraps
      {"x\n\"DriverVersion\"=dword:1\n\"DriverVersion\"=dword:2\n", true, 1},
      // The first matching line decides, even when it is malformed.
      {"\"DriverVersion\"=dword:zz\n\"DriverVersion\"=dword:2\n", false, 0},
      {"\"DriverVersion\" =dword:47\n", false, 0},
      {"\"DriverVersion\"= dword:47\n", false, 0},
      {"\"DriverVersion\"=dword: 47\n", false, 0},
      {"\"DriverVersion\"=dword:47 \r\n", false, 0},  // trailing blank
      {"\"DriverVersion\"=dword:47;x\n", false, 0},
      {"\"DriverVersion\"=dword:\n", false, 0},
      {"\"DriverVersion\"=\"71\"\n", false, 0},
      {"", false, 0},
      {"   \t ", false, 0},
      {"\r\n\r\n", false, 0},
      {"no version here\r\n", false, 0},
      {"x\"DriverVersion\"=dword:47\n", false, 0},  // not at a line start
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EmbeddedVersion = 12345;
    EXPECT_EQ(ProbeEmbeddedVersion(c.text), c.found);
    EXPECT_EQ(EmbeddedVersion, c.found ? c.version : 12345u);
  }
}

// Where the probe stopped: the version line, or what is wrong in it.
TEST(VersionProbe, ReportsWhereItStopped) {
  struct Case {
    std::string text;
    ScriptFault fault;
    std::string at;  // the text from the stop on; "" for no position
  };
  const Case cases[] = {
      {"x\n  \"DriverVersion\"=dword:47\n", kFaultNone,
       "\"DriverVersion\"=dword:47"},
      {"x\n\"DriverVersion\"=dword:g\n", kFaultVersionNoDigit, "g\n"},
      {"\"DriverVersion\"=dword:47 \n", kFaultVersionTrailing, " \n"},
      {"x\n", kFaultNoVersionLine, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    ProbeEmbeddedVersion(c.text.c_str());
    EXPECT_EQ(LastScriptStop.fault, c.fault);
    if (c.at.empty()) {
      EXPECT_EQ(LastScriptStop.at, nullptr);
    } else {
      ASSERT_NE(LastScriptStop.at, nullptr);
      EXPECT_EQ(std::string(LastScriptStop.at).substr(0, c.at.size()), c.at);
    }
  }
}
