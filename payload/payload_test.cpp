#include "payload/payload.h"

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>

#include "payload/payload_io_host.h"
#include "platform/host/faults.h"
#include "tests/test_support.h"
#include "tools/drvdb/engine/program_file.h"

namespace {

std::string Le32(uint32_t n) {
  return std::string{static_cast<char>(n), static_cast<char>(n >> 8),
                     static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
}

// Reads the payload of image as the run does; "FAIL" when it fails.
std::string ReadFromImage(const std::string& image) {
  HostSetModuleImage("/opt/drvsetup", image);
  GetModulePath();
  bool ok = ReadPayload();
  std::string text = ok ? std::string(ScriptText) : "FAIL";
  FreeRunBuffers();
  HostClearModuleImage();
  return text;
}

}  // namespace

TEST(Payload, Containers) {
  struct Case {
    const char* what;
    std::string image;
    std::string text;
  };
  const std::string bom = "\xff\xfe";
  const Case cases[] = {
      {"plain", PackedImage(bom + std::string("a\0b\0", 4)), "ab"},
      {"no image before it", PackedImage(bom + std::string("a\0", 2), ""),
       "a"},
      {"no byte-order mark", PackedImage(std::string("a\0b\0c\0", 6)), "bc"},
      {"big-endian mark decoded as little-endian",
       PackedImage(std::string("\xfe\xff\0a\0b", 6)), "??"},
      {"odd length", PackedImage(bom + std::string("a\0b", 3)), "a"},
      {"one byte", PackedImage("x"), ""},
      {"empty", PackedImage(""), ""},
      {"NUL ends the text", PackedImage(bom + std::string("a\0\0\0b\0", 6)),
       "a"},
      {"Windows-1252", PackedImage(bom + std::string("\xd7\0\xac\x20\x00\x4e\x3d\xd8\x00\xde", 10)),
       "\xd7\x80??"},
      {"too short for a trailer", "abc", "FAIL"},
      {"nothing at all", "", "FAIL"},
      {"length one past the file", "MZ" + bom + Le32(5), "FAIL"},
      {"length exactly the file", "MZ" + bom + Le32(4), "?"},
      {"length 2^31", "MZ" + bom + Le32(0x80000000u), "FAIL"},
      {"length 2^31 - 1", "MZ" + bom + Le32(0x7fffffffu), "FAIL"},
      {"length 2^32 - 1", "MZ" + bom + Le32(0xffffffffu), "FAIL"},
      {"length 2^32 - 4", "MZ" + bom + Le32(0xfffffffcu), "FAIL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ReadFromImage(c.image), c.text);
  }
}

// A signed program's certificate table follows the payload; the container
// ends where a non-empty table that ends at the end of the file begins, and
// at the end of the file otherwise.
TEST(Payload, CertificateTable) {
  const std::string script = "\xff\xfe" + std::string("a\0b\0", 4);
  // The table's last bytes, read as a length, point before the file.
  const std::string table = "certificate\xf0\xff\xff\x7f";
  const uint32_t tableSize = static_cast<uint32_t>(table.size());
  struct Case {
    const char* what;
    bool pe32plus;
    // The entry, from the table's start and size (null: left empty).
    uint32_t (*at)(uint32_t start);
    uint32_t (*size)(uint32_t tableSize);
    std::string text;
  };
  auto start = [](uint32_t at) { return at; };
  auto whole = [](uint32_t size) { return size; };
  const Case cases[] = {
      {"signed", false, start, whole, "ab"},
      {"signed, PE32+", true, start, whole, "ab"},
      {"no entry", false, nullptr, nullptr, "FAIL"},
      {"entry past the end", false, start,
       [](uint32_t size) { return size + 1; }, "FAIL"},
      {"table ends before the end", false, start,
       [](uint32_t size) { return size - 1; }, "FAIL"},
      {"table starts past the end", false,
       [](uint32_t at) { return at + 100; }, whole, "FAIL"},
      {"offset and size overflow", false,
       [](uint32_t) { return 0xffffff00u; },
       [](uint32_t) -> uint32_t { return 0; }, "FAIL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string file = PackProgram(MinimalPeHeaders(c.pe32plus), script, false);
    const uint32_t at = static_cast<uint32_t>(file.size());
    file += table;
    if (c.at) {
      uint32_t size = c.size(tableSize);
      if (size == 0)  // wraps round to the file's size in 32 bits
        size = static_cast<uint32_t>(file.size()) - c.at(at);
      ASSERT_TRUE(SetCertificateEntry(&file, c.at(at), size));
    }
    EXPECT_EQ(ReadFromImage(file), c.text);
  }
  // Fewer than five directories: there is no certificate entry.
  std::string file = PackProgram(MinimalPeHeaders(false), script, false);
  const uint32_t at = static_cast<uint32_t>(file.size());
  file += table;
  ASSERT_TRUE(SetCertificateEntry(&file, at, tableSize));
  file[0x40 + 24 + 92] = 4;
  EXPECT_EQ(ReadFromImage(file), "FAIL");
}

// The integrity record: a copy damaged anywhere that signing leaves alone
// fails to read (the run then answers -1 and touches nothing); what signing
// changes, and the record's own marker, do not count.
TEST(Payload, IntegrityRecord) {
  const std::string script = "\xff\xfe" + std::string("a\0b\0", 4);
  const uint32_t pe = 0x40 + 24;  // the optional header
  struct Case {
    const char* what;
    bool pe32plus;
    std::function<void(std::string*, uint32_t imageEnd)> damage;
    std::string text;
  };
  auto flip = [](uint32_t at) {
    return [at](std::string* file, uint32_t) { (*file)[at] ^= 0x10; };
  };
  auto flipRecord = [](uint32_t at) {
    return [at](std::string* file, uint32_t end) { (*file)[end + at] ^= 1; };
  };
  auto sign = [](std::string* file) {
    const uint32_t at = static_cast<uint32_t>(file->size());
    *file += "certificate table";
    SetCertificateEntry(file, at, 17);
  };
  const Case cases[] = {
      {"whole", false, nullptr, "ab"},
      {"whole, PE32+", true, nullptr, "ab"},
      {"a bit of the image", false, flip(0x10), "FAIL"},
      {"a bit of the headers that moves the image's end: the record is "
       "found before the script", false, flip(pe + 60), "FAIL"},
      {"a bit of the CheckSum, which signing sets", false, flip(pe + 64),
       "ab"},
      {"a bit of the CheckSum, PE32+", true, flip(pe + 64), "ab"},
      {"a bit of the record's marker: read as without one", false,
       flipRecord(3), "ab"},
      {"a bit of the record's end", false, flipRecord(8), "FAIL"},
      {"a bit of the record's length", false, flipRecord(12), "FAIL"},
      {"a bit of the record's digest", true, flipRecord(16), "FAIL"},
      {"a bit of the script", false,
       [](std::string* file, uint32_t) { (*file)[file->size() - 6] ^= 2; },
       "FAIL"},
      {"a bit of the trailer", false,
       [](std::string* file, uint32_t) { (*file)[file->size() - 4] ^= 4; },
       "FAIL"},
      {"one byte short", false,
       [](std::string* file, uint32_t) { file->pop_back(); }, "FAIL"},
      {"one byte more", false,
       [](std::string* file, uint32_t) { file->push_back('\0'); }, "FAIL"},
      {"signed after packing", true,
       [&](std::string* file, uint32_t) { sign(file); }, "ab"},
      {"signed, then cut into its certificate table", true,
       [&](std::string* file, uint32_t) {
         sign(file);
         file->resize(file->size() - 3);
       },
       "FAIL"},
      {"an image whose headers reach past the file", false,
       [&](std::string* file, uint32_t) {
         (*file)[pe + 60 + 2] = 0x40;  // SizeOfHeaders of 4 MB
       },
       "FAIL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string image = MinimalPeHeaders(c.pe32plus);
    std::string file = PackProgram(image, script, true, true);
    if (c.damage)
      c.damage(&file, static_cast<uint32_t>(image.size()));
    EXPECT_EQ(ReadFromImage(file), c.text);
  }
  // Without a record the same damage goes unnoticed, as it always did.
  std::string unchecked = PackProgram(MinimalPeHeaders(false), script, true);
  unchecked[unchecked.size() - 6] ^= 2;
  EXPECT_EQ(ReadFromImage(unchecked), "a`");
}

TEST(Payload, MissingFileFails) {
  const char16_t path[] = u"/nonexistent/drvsetup.exe";
  ModulePathW = static_cast<WCHAR*>(malloc(sizeof(path)));
  memcpy(ModulePathW, path, sizeof(path));
  HostSetPlatformId(VER_PLATFORM_WIN32_NT);
  EXPECT_FALSE(ReadPayload());
  EXPECT_EQ(ScriptText, nullptr);
  FreeRunBuffers();
}

TEST(Payload, WideToAnsi) {
  struct Case {
    std::u16string wide;
    std::string ansi;
  };
  const Case cases[] = {
      {u"", ""},
      {u"plain ASCII", "plain ASCII"},
      {u"\u00d7\u00e9\u00ff", "\xd7\xe9\xff"},
      {u"\u20ac\u2122\u0178", "\x80\x99\x9f"},
      {u"\u0081\u008d", "\x81\x8d"},     // unassigned bytes map to themselves
      {u"\u0080\u4e00\u0100", "???"},
      {u"\U0001F4BF", "?"},
  };
  for (const Case& c : cases) {
    char* ansi = WideToAnsi(reinterpret_cast<const WCHAR*>(c.wide.c_str()));
    ASSERT_NE(ansi, nullptr);
    EXPECT_EQ(std::string(ansi), c.ansi);
    free(ansi);
  }
}

TEST(Payload, FailedConversionFailsTheStage) {
  HostSetPlatformId(VER_PLATFORM_WIN32_NT);
  const std::string image = PackedImage("\xff\xfe" + std::string("a\0", 2));
  HostFaultsCount(true);
  EXPECT_EQ(ReadFromImage(image), "a");
  const std::vector<HostCallRecord> calls = HostFaultsRecord();
  HostFaultsStop();
  size_t conversions = 0;  // one asks for the size, one converts
  for (size_t call = 1; call <= calls.size(); ++call) {
    if (calls[call - 1].kind != HostCall::kConversion)
      continue;
    SCOPED_TRACE(call);
    ++conversions;
    HostFaultsCount(false);
    HostFaultsFail(call, 0);
    EXPECT_EQ(ReadFromImage(image), "FAIL");
    EXPECT_TRUE(HostFaultsHit());
    HostFaultsStop();
  }
  EXPECT_EQ(conversions, 2u);
  EXPECT_EQ(HostOpenPayloadFiles(), 0u);
}
