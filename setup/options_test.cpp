#include <gtest/gtest.h>

#include <string>

#include "setup/setup_run.h"

namespace {

std::string Describe(const RunFlags& f) {
  std::string s;
  s += f.install ? "I" : "-";
  s += f.showVersion ? "V" : "-";
  s += f.showErrors ? "E" : "-";
  s += f.showSuccess ? "S" : "-";
  return s;
}

}  // namespace

TEST(ParseOptions, Tails) {
  // I install, V show version, E show errors, S show success.
  struct Case {
    const char* tail;
    const char* flags;
  };
  const Case cases[] = {
      {"", "I-ES"},
      {"   ", "I-ES"},
      {"-v", "-V--"},
      {"\"-v\"", "-V--"},
      {"-ns", "I-E-"},
      {"-ne", "I--S"},
      {"\"-ne\"", "I--S"},
      {"\"-ns\"", "I-E-"},
      {"-ns -ne", "I---"},
      {"-ne\t-ns", "I---"},          // a tab separates like a space
      {"-v -ns", "-V--"},
      {"-ns -v", "-V--"},
      {"-ne -ne -ns -ns", "I---"},
      {"-V", "I-ES"},                 // option words are case-sensitive
      {"-NS -NE", "I-ES"},
      {"/v /ns", "I-ES"},
      {"--v --ns", "I-ES"},
      {"-vx -nsy", "I-ES"},
      {"-ns-ne", "I-ES"},
      {"\"-ns -ne\"", "I-ES"},        // quotes do not group words
      {"\"-ns", "I-ES"},
      {"-ns\"", "I-ES"},
      {"\"\"-ns\"\"", "I-ES"},
      {"-ns\r\n", "I-E-"},            // CR LF end the token
      {"-ns\r\n-ne", "I---"},         // and the scan goes on past them
      {"-ne\n", "I--S"},
      {"\r-v", "-V--"},
      {"x\ry -ns", "I-E-"},
      {"  -ne  ", "I--S"},
      {"-v\x0b-ns", "I-ES"},          // a vertical tab is no separator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.tail)));
    std::string before = c.tail;
    EXPECT_EQ(Describe(ParseOptions(c.tail)), c.flags);
    EXPECT_EQ(std::string(c.tail), before);
  }
}
