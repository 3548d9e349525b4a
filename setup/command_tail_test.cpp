#include "setup/command_tail.h"

#include <gtest/gtest.h>

#include "setup/code_page_host.h"

TEST(CommandTail, FromCommandLine) {
  struct Case {
    const char* commandLine;
    const char* tail;
  };
  const Case cases[] = {
      {"drvsetup.exe", ""},
      {"drvsetup.exe -ns -ne", "-ns -ne"},
      {"drvsetup.exe\t \t-v", "-v"},
      {"\"C:\\Program Files\\drvsetup.exe\" -v", "-v"},
      {"\"C:\\Program Files\\drvsetup.exe\"-v", "-v"},
      {"\"unterminated -v", ""},
      {"\"\" -ne", "-ne"},
      {"a.exe \x01\x1f -ns", "-ns"},        // every code from 1 to 32 goes
      {"a.exe \xa0-ns", "\xa0-ns"},         // compared unsigned: 0xA0 stays
      {"a\xe9.exe -v", "-v"},               // name bytes above 0x7F count
      {"a.exe\r\n-v", "-v"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.commandLine)));
    EXPECT_STREQ(CommandTailFromCommandLine(c.commandLine), c.tail);
  }
}

TEST(CommandTail, FromArguments) {
  const char* none[] = {"drvsetup"};
  EXPECT_EQ(CommandTailFromArguments(1, none), "");
  const char* some[] = {"drvsetup", "-ns", "-ne"};
  EXPECT_EQ(CommandTailFromArguments(3, some), "-ns -ne");
  const char* spaced[] = {"drvsetup", "\"-v\"", "a b"};
  EXPECT_EQ(CommandTailFromArguments(3, spaced), "\"-v\" a b");
}

TEST(CommandTail, DoubleByteTrailNeverClosesTheName) {
  // In a double-byte code page 0x81 0x22 is one character whose second byte
  // looks like a quote.
  const char commandLine[] = "\"C:\\\x81\"x.exe\" -v";
  EXPECT_STREQ(CommandTailFromCommandLine(commandLine), "x.exe\" -v");
  HostSetLeadBytes(0x81, 0x9f);
  EXPECT_STREQ(CommandTailFromCommandLine(commandLine), "-v");
  // A lead byte at the very end does not run past the terminator.
  EXPECT_STREQ(CommandTailFromCommandLine("\"a\x81"), "");
  HostSetLeadBytes(1, 0);
}
