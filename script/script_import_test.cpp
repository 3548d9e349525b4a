#include "script/script_import.h"

#include <algorithm>
#include <string>
#include <vector>

#include "script/script_fault.h"
#include "script/script_scan.h"
#include "tests/test_support.h"

namespace {

const char kKey[] = "SOFTWARE\\morvelan\\T";
const char kHeader[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T]\r\n";

struct Expect {
  const char* name;
  StoredValue value;
};

class ImportTest : public RegistryTest {};

bool Import(const std::string& script) {
  std::vector<char> text(script.begin(), script.end());
  text.push_back('\0');
  return ImportScript(text.data());
}

}  // namespace

// One value line in a section, and what it leaves in the key.
TEST_F(ImportTest, ValueLines) {
  struct Case {
    const char* line;
    bool ok;
    const char* name;
    StoredValue value;  // "missing" when nothing may be written
  };
  const Case cases[] = {
      {"\"a\"=\"text\"", true, "a", Sz("text")},
      {"\"a\"=\"\"", true, "a", Sz("")},
      {"\"a\"=\"", false, "a", StoredValue()},
      {"\"a\" \t= \t\"x\"", true, "a", Sz("x")},
      {"\"a=b\"=\"x\"", true, "a=b", Sz("x")},
      {"\"a\"junk=\"x\"", true, "a", Sz("x")},    // skipped unexamined
      {"\"a\"=\"x\" ", true, "a", Sz("x")},
      {"\"a\"=\"x\"\t \t", true, "a", Sz("x")},
      {"\"a\"=\"x\" ;note", false, "a", StoredValue()},
      {"\"a\"=\"x\"y", false, "a", StoredValue()},
      {"\"a\"=\"say \\\"hi\\\"\"", true, "a", Sz("say \"hi\"")},
      {"\"a\"=\"c:\\\\dir\"", true, "a", Sz("c:\\dir")},
      {"\"a\"=\"line\\n\"", true, "a", Sz("linen")},
      {"\"a\"=\"x\\\"", false, "a", StoredValue()},  // escaped closing quote
      {"\"a\"=\"x\\", false, "a", StoredValue()},
      {"\"a\"=\"unclosed", false, "a", StoredValue()},
      {"\"a\"=dword:0000002A", true, "a", Dword(42)},
      {"\"a\"=DWORD:2a", true, "a", Dword(42)},
      {"\"a\"=dword:2a \t", true, "a", Dword(42)},
      {"\"a\"=dword:123456789", true, "a", Dword(0x23456789)},
      {"\"a\"=dword: 2a", false, "a", StoredValue()},
      {"\"a\"=dword:", false, "a", StoredValue()},
      {"\"a\"=dword:2a;", false, "a", StoredValue()},
      {"\"a\"=dword:2ag", false, "a", StoredValue()},
      {"\"a\"=hex:01,02", false, "a", StoredValue()},
      {"\"a\"=hex(2):41,00", false, "a", StoredValue()},
      {"\"a\"=hex(7):41,00", false, "a", StoredValue()},
      {"\"a\"=x", false, "a", StoredValue()},
      {"\"a\"", false, "a", StoredValue()},
      {"\"a\"\"x\"", false, "a", StoredValue()},     // no equals sign
      {"\"unclosed=\"x", false, "unclosed=", StoredValue()},
      {"\"\"=\"default\"", true, "", Sz("default")},
      {"@=\"ignored\"", true, "", StoredValue()},
      {"; \"a\"=\"x\"", true, "a", StoredValue()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    HostRegistryReset();
    EXPECT_EQ(Import(std::string(kHeader) + c.line + "\r\n"), c.ok);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kKey, c.name), c.value);
  }
}

// Whole scripts: headers, roots and line handling.
TEST_F(ImportTest, Scripts) {
  struct Case {
    const char* script;
    bool ok;
    std::vector<Expect> values;  // under kKey
  };
  const Case cases[] = {
      {"", true, {}},
      {"Windows Registry Editor Version 5.00\r\n\r\n\"a\"=\"before\"\r\n",
       true,
       {{"a", StoredValue()}}},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T] trailing text\r\n"
       "\"a\"=\"1\"\r\n",
       true,
       {{"a", Sz("1")}}},
      {"  [hkey_local_machine\\SOFTWARE\\MORVELAN\\t]\n  \"a\"=\"1\"\n", true,
       {{"a", Sz("1")}}},
      // Lone LF, CR LF, and a last line without LF all end cleanly.
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T]\n\"a\"=\"1\"\n"
       "\"b\"=\"2\"\r\n\"c\"=dword:3",
       true,
       {{"a", Sz("1")}, {"b", Sz("2")}, {"c", Dword(3)}}},
      // A CR inside the line is part of it.
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T]\n\"a\"=\"x\ry\"\n", true,
       {{"a", Sz("x\ry")}}},
      // The later of two equal names wins, even across repeated headers.
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T]\r\n\"a\"=\"1\"\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MORVELAN\\T]\r\n\"A\"=\"2\"\r\n",
       true,
       {{"a", Sz("2")}}},
      // A header without its opening bracket is ignored: its values land in
      // the key before it.
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T]\r\n"
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\U]\r\n\"a\"=\"1\"\r\n",
       true,
       {{"a", Sz("1")}}},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T]\r\n\"a\"=\"1\"\r\n"
       "\"b\"=bad\r\n\"c\"=\"3\"\r\n",
       false,
       {{"a", Sz("1")}, {"b", StoredValue()}, {"c", StoredValue()}}},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T", false, {}},
      {"[HKEY_LOCAL_MACHINE]\r\n", false, {}},
      {"[HKEY_USERS\\x]\r\n", false, {}},
      {"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\T]\r\n", false, {}},
      {"[HKEY_LOCAL_MACHINE\\]\r\n", true, {}},  // HKLM itself opens
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.script)));
    HostRegistryReset();
    EXPECT_EQ(Import(c.script), c.ok);
    for (const Expect& e : c.values)
      EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kKey, e.name), e.value) << e.name;
  }
}

TEST_F(ImportTest, RootsAndKeyNames) {
  ASSERT_TRUE(Import(
      "[HKEY_CURRENT_USER\\Software\\T]\r\n\"u\"=\"1\"\r\n"
      "[HKEY_CLASSES_ROOT\\.disc]\r\n\"c\"=\"2\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\  TEAC    CD-W552E ]\r\n"
      "\"d\"=\"3\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\split\r\nname]\r\n\"e\"=\"4\"\r\n"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, "Software\\T", "u"), Sz("1"));
  // HKEY_CLASSES_ROOT shows HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.disc", "c"),
            Sz("2"));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\  TEAC    CD-W552E ",
                      "d"),
            Sz("3"));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\split\r\nname", "e"),
            Sz("4"));
}

TEST_F(ImportTest, EditsTheTextInPlace) {
  char text[] =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"n\"=\"a\\\\b\"\r\n";
  ASSERT_TRUE(ImportScript(text));
  const char expected[] =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\0\r\n\"n\0=\"a\\b\0\0\0\n";
  EXPECT_EQ(std::string(text, sizeof(text) - 1),
            std::string(expected, sizeof(expected) - 1));
}

TEST_F(ImportTest, FailsWhenTheRegistryRefuses) {
  // A key that cannot be created: new keys may not go directly under
  // HKEY_LOCAL_MACHINE.
  EXPECT_FALSE(Import("[HKEY_LOCAL_MACHINE\\NEWROOT]\r\n"));
  MakeKey(HKEY_LOCAL_MACHINE, kKey);
  ASSERT_TRUE(HostRegistryDenyAccess(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_FALSE(Import(std::string(kHeader) + "\"a\"=\"1\"\r\n"));
  // A value name longer than the registry allows.
  HostRegistryReset();
  EXPECT_FALSE(Import(std::string(kHeader) + "\"" + std::string(16384, 'n') +
                      "\"=\"1\"\r\n"));
  EXPECT_TRUE(Import(std::string(kHeader) + "\"" + std::string(16383, 'n') +
                     "\"=\"1\"\r\n"));
}

// One create call a header, in script order; a later spelling of a key
// opens the first one, which keeps its spelling.
TEST_F(ImportTest, CreatesKeysInScriptOrder) {
  HostRegistryTraceCalls(true);
  ASSERT_TRUE(Import(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\m\\D]\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\m\\D\\MAPPINGS\\x]\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\M\\d\\mappings\\X]\r\n"));
  std::vector<std::string> creates;
  for (const HostRegistryCall& call : HostRegistryCalls())
    creates.push_back((call.created ? "made " : "opened ") + call.stored);
  HostRegistryTraceCalls(false);
  std::vector<std::string> expected = {
      "made HKEY_LOCAL_MACHINE\\SOFTWARE\\m\\D",
      "made HKEY_LOCAL_MACHINE\\SOFTWARE\\m\\D\\MAPPINGS\\x",
      "opened HKEY_LOCAL_MACHINE\\SOFTWARE\\m\\D\\MAPPINGS\\x",
  };
  EXPECT_EQ(creates, expected);
}

// Where a failing import stops and why, as positions in the text as written:
// escapes removed before the stop must not shift it.
TEST_F(ImportTest, ReportsWhereItStopped) {
  struct Case {
    std::string script;
    ScriptFault fault;
    std::string at;  // the text from the stop on
  };
  const std::string h = kHeader;
  const Case cases[] = {
      {h + "\"a\"=\"x\\\\y\\\"z\" junk\r\n", kFaultStringTrailing, "junk\r\n"},
      {h + "\"a\"=\"\\\\\\\\\\\\\r\n", kFaultStringUnclosed, "\"\\\\"},
      {h + "\"a\"=\"\r\n", kFaultStringEmpty, "\"\r\n"},
      {h + "\"a\"=hex:00\r\n", kFaultUnsupportedType, "hex:00"},
      {h + "\"a\"=dword:\r\n", kFaultDwordNoDigit, "\r\n"},
      {h + "\"a\"=dword:12 x\r\n", kFaultDwordTrailing, "x\r\n"},
      {h + "\"a\"\"x\"\r\n", kFaultNoEquals, "\"x\"\r\n"},
      {h + "\"a\"=\"1\"\r\n\"b\r\n", kFaultNameUnclosed, "\"b"},
      {h + "[HKEY_USERS\\x]\r\n", kFaultUnknownRoot, "HKEY_USERS"},
      {h + "[HKEY_LOCAL_MACHINE\\new]\r\n", kFaultKeyNotCreated,
       "HKEY_LOCAL_MACHINE\\new"},
      {h + "\"v\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\x", kFaultHeaderUnclosed,
       "[HKEY_LOCAL_MACHINE\\x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.script));
    HostRegistryReset();
    std::vector<char> text(c.script.begin(), c.script.end());
    text.push_back('\0');
    EXPECT_FALSE(ImportScript(text.data()));
    EXPECT_EQ(LastScriptStop.fault, c.fault);
    ASSERT_NE(LastScriptStop.at, nullptr);
    size_t offset = static_cast<size_t>(LastScriptStop.at - text.data());
    EXPECT_EQ(c.script.substr(offset, c.at.size()), c.at);
  }
}

// The database key's DriverVersion is written after everything else,
// however the script spells the key, and leaves what the import in order
// would have left: the last line's value under the first line's spelling.
TEST_F(ImportTest, WritesTheVersionLast) {
  struct Case {
    const char* what;
    std::string script;
    const char* stored;   // the version's name as the registry keeps it, or
                          // "" when the version is no database key's
    StoredValue version;
  };
  const std::string more =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\A]\r\n"
      "\"load1\"=\"x\"\r\n[HKEY_CURRENT_USER\\Software\\after]\r\n"
      "\"v\"=\"1\"\r\n";
  const Case cases[] = {
      {"as exported",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:00000047\r\n" + more,
       "DriverVersion", Dword(0x47)},
      {"another letter case",
       "[hkey_local_machine\\software\\MORVELAN\\driver2]\r\n"
       "\"driverversion\"=dword:47\r\n" + more,
       "driverversion", Dword(0x47)},
      {"a trailing backslash",
       "[HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2\\]\r\n"
       "\"DriverVersion\"=dword:47\r\n" + more,
       "DriverVersion", Dword(0x47)},
      {"a doubled backslash",
       "[HKEY_LOCAL_MACHINE\\Software\\\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:47\r\n" + more,
       "DriverVersion", Dword(0x47)},
      {"twice: the last value, the first spelling",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
       "\"DRIVERVERSION\"=dword:47\r\n" + more +
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
           "\"DriverVersion\"=\"48\"\r\n\"other\"=\"1\"\r\n",
       "DRIVERVERSION", Sz("48")},
      {"a key below it of the same name, in order",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\driver2\\]\r\n"
       "\"DriverVersion\"=dword:47\r\n" + more,
       "", StoredValue()},
      {"a longer name that ends like it, in order",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\XDRIVER2]\r\n"
       "\"DriverVersion\"=dword:47\r\n" + more,
       "", StoredValue()},
      {"in another key, in order",
       "[HKEY_CURRENT_USER\\Software\\morvelan\\DRIVER2]\r\n"
       "\"DriverVersion\"=dword:47\r\n" + more,
       "", StoredValue()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostRegistryReset();
    HostRegistryTraceCalls(true);
    ASSERT_TRUE(Import(c.script));
    std::vector<std::string> sets;
    for (const HostRegistryCall& call : HostRegistryCalls())
      if (call.kind == HostRegistryCall::kSetValue)
        sets.push_back(call.stored);
    HostRegistryTraceCalls(false);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\DRIVER2",
                        "DriverVersion"),
              c.version);
    ASSERT_FALSE(sets.empty());
    if (*c.stored) {
      EXPECT_EQ(sets.back(), c.stored) << "the version is not written last";
      EXPECT_EQ(std::count(sets.begin(), sets.end(), c.stored), 1);
    } else {
      EXPECT_EQ(sets.front(), "DriverVersion") << "written where it stands";
    }
  }
}
