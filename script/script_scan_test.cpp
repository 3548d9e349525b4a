#include "script/script_scan.h"

#include <gtest/gtest.h>

#include <string>

TEST(ScriptScan, SkipsAndLineEnds) {
  struct Case {
    const char* text;
    size_t blanks;     // SkipBlanks stops here
    size_t tokenEnd;   // SkipToTokenEnd stops here
    size_t nextLine;   // NextLine returns this
  };
  const Case cases[] = {
      {"", 0, 0, 0},
      {"  \tx y", 3, 0, 6},
      {"abc def\n", 0, 3, 8},
      {"ab\tc", 0, 2, 4},
      {"ab\r\ncd", 0, 2, 4},
      {"\r\n", 0, 0, 2},
      {"x\ry\nz", 0, 1, 4},   // a lone CR ends no line
      {" \v\fz", 1, 0, 4},    // vertical tab and form feed are no blanks
      {"\n\n", 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(SkipBlanks(c.text) - c.text, static_cast<ptrdiff_t>(c.blanks));
    EXPECT_EQ(SkipToTokenEnd(c.text) - c.text,
              static_cast<ptrdiff_t>(c.tokenEnd));
    EXPECT_EQ(NextLine(c.text) - c.text, static_cast<ptrdiff_t>(c.nextLine));
  }
}

TEST(ScriptScan, HexDigitsAreExactlyTwentyTwo) {
  std::string digits;
  for (int c = 1; c < 256; ++c)
    if (IsHexDigit(static_cast<char>(c)))
      digits.push_back(static_cast<char>(c));
  EXPECT_EQ(digits, "0123456789ABCDEFabcdef");
}

TEST(ScriptScan, HexAccumulationWraps) {
  struct Case {
    const char* text;
    uint32_t value;
    size_t consumed;
  };
  const Case cases[] = {
      {"47\r\n", 0x47, 2},        {"0000002A", 42, 8},
      {"2a", 42, 2},              {"FFFFFFFF", 0xffffffffu, 8},
      {"100000047", 0x47, 9},     {"123456789abcdef0x", 0x9abcdef0, 16},
      {"g1", 0, 0},               {"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t value = 0;
    EXPECT_EQ(AccumulateHex(c.text, &value) - c.text,
              static_cast<ptrdiff_t>(c.consumed));
    EXPECT_EQ(value, c.value);
  }
}

TEST(ScriptScan, KeywordMatchFoldsAsciiOnly) {
  struct Case {
    const char* text;
    const char* keyword;
    bool match;
  };
  const Case cases[] = {
      {"dword:1", "dword:", true},
      {"DWORD:", "dword:", true},
      {"DwOrD:", "DWORD:", true},
      {"dword", "dword:", false},   // text ends before the keyword does
      {"dwor d:", "dword:", false},
      {"hkey_local_machine\\x", "HKEY_LOCAL_MACHINE\\", true},
      {"\xc4x", "\xe4x", false},     // no folding outside A-Z
      {"[x", "{x", false},           // '[' is not a folded '{'
      {"anything", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.keyword);
    EXPECT_EQ(MatchKeyword(c.text, c.keyword), c.match);
  }
}
