// Recomputes the sample database's figures from data/drives.reg and installs
// it into the stand-in the way the shipped program does.

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "payload/payload_io_host.h"
#include "setup/setup_run.h"
#include "tests/test_support.h"

namespace {

// The script after its byte-order mark, in UTF-8.
std::string DecodeToUtf8(const std::string& bytes) {
  std::string out;
  for (char16_t unit : Utf16Units(bytes).substr(1)) {
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else if (unit < 0x800) {
      out += static_cast<char>(0xc0 | unit >> 6);
      out += static_cast<char>(0x80 | (unit & 0x3f));
    } else {
      out += static_cast<char>(0xe0 | unit >> 12);
      out += static_cast<char>(0x80 | ((unit >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (unit & 0x3f));
    }
  }
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
  return s;
}

struct Section {
  std::string key;  // as written
  std::vector<std::string> valueLines;
};

}  // namespace

TEST(SampleDatabase, Figures) {
  const std::string bytes = SampleDatabaseBytes();
  ASSERT_EQ(bytes.size(), 491300u);
  EXPECT_EQ(bytes.substr(0, 2), "\xff\xfe");
  const std::string text = DecodeToUtf8(bytes);

  std::vector<std::string> lines;
  size_t lf = 0, crlf = 0;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos) << "last line without its line end";
    ++lf;
    ASSERT_TRUE(end > 0 && text[end - 1] == '\r') << "line " << lf;
    ++crlf;
    lines.push_back(text.substr(pos, end - 1 - pos));
    pos = end + 1;
  }
  EXPECT_EQ(crlf, 7766u);
  EXPECT_EQ(lines[0], "Windows Registry Editor Version 5.00");
  EXPECT_EQ(lines[2], "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]");
  EXPECT_EQ(lines[3], "\"DriverVersion\"=dword:00000047");

  std::vector<Section> sections;
  size_t valueLines = 0, blankAfterQuote = 0, bracketless = 0, timesSign = 0,
         capitalised = 0, dwords = 0;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '[') {
      sections.push_back({line.substr(1, line.find(']') - 1), {}});
      capitalised += line.find("\\SOFTWARE\\Morvelan\\") != std::string::npos;
      timesSign += line.find("\xc3\x97") != std::string::npos;
    } else if (!line.empty() && line[0] == '"') {
      ++valueLines;
      ASSERT_FALSE(sections.empty());
      sections.back().valueLines.push_back(line);
      blankAfterQuote += line.back() == ' ';
      if (line.find("\"=dword:") != std::string::npos)
        ++dwords;
      else
        EXPECT_NE(line.find("\"=\""), std::string::npos) << line;
      EXPECT_EQ(line.find('\\'), std::string::npos) << "an escape: " << line;
    } else if (line.rfind("HKEY_", 0) == 0) {
      ++bracketless;
    } else {
      EXPECT_TRUE(line.empty() || &line == &lines[0]) << line;
    }
  }
  EXPECT_EQ(sections.size(), 1814u);
  EXPECT_EQ(valueLines, 4131u);
  EXPECT_EQ(dwords, 1u);
  EXPECT_EQ(blankAfterQuote, 2u);
  EXPECT_EQ(bracketless, 1u);
  EXPECT_EQ(timesSign, 2u);
  EXPECT_EQ(capitalised, 29u);

  // Distinct keys, with the repeats told apart from the case-only variant.
  std::set<std::string> exact, folded;
  size_t repeats = 0, caseOnly = 0;
  for (const Section& s : sections) {
    bool newExact = exact.insert(s.key).second;
    bool newFolded = folded.insert(Upper(s.key)).second;
    // A capitalised Morvelan spelling is the same key too; only names count.
    if (!newFolded)
      (newExact ? caseOnly : repeats)++;
  }
  EXPECT_EQ(folded.size(), 1810u);
  EXPECT_EQ(repeats, 3u);
  EXPECT_EQ(caseOnly, 1u);

  const std::string base = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MORVELAN\\DRIVER2\\";
  std::map<std::string, std::vector<std::string>> values;  // folded key
  for (const Section& s : sections) {
    auto& v = values[Upper(s.key)];
    v.insert(v.end(), s.valueLines.begin(), s.valueLines.end());
  }
  auto count = [&](const std::string& prefix) {
    size_t n = 0;
    for (const auto& entry : values)
      n += entry.first.rfind(base + prefix, 0) == 0;
    return n;
  };
  auto has = [](const std::vector<std::string>& v, const std::string& name) {
    return std::any_of(v.begin(), v.end(), [&](const std::string& line) {
      return line.rfind("\"" + name + "\"=", 0) == 0;
    });
  };
  EXPECT_EQ(values[base + "FALLBACKS"].size(), 24u);
  EXPECT_EQ(count("SETS\\"), 88u);
  EXPECT_EQ(count("MAPPINGS\\"), 1718u);
  size_t mappingHeaders = 0;
  for (const Section& s : sections)
    mappingHeaders += Upper(s.key).rfind(base + "MAPPINGS\\", 0) == 0;
  EXPECT_EQ(mappingHeaders, 1722u);

  size_t device = 0, load1 = 0, eightLoads = 0, load2 = 0, bareLoad = 0,
         bareNames = 0, padded = 0;
  for (const auto& entry : values) {
    const std::vector<std::string>& v = entry.second;
    if (entry.first.rfind(base + "SETS\\", 0) == 0) {
      device += has(v, "Device");
      load1 += has(v, "load1");
      eightLoads += has(v, "load1") && has(v, "load8");
    } else if (entry.first.rfind(base + "MAPPINGS\\", 0) == 0) {
      load2 += has(v, "load2");
      bareLoad += has(v, "load");
      std::string name = entry.first.substr(base.size() + 9);
      if (name.size() > 8 && name.find(' ') < 8 &&
          name.find_first_not_of(' ', name.find(' ')) == 8)
        ++padded;  // vendor filled out to eight characters with spaces
      bareNames += name.find(' ') == std::string::npos;
    }
  }
  EXPECT_EQ(device, 75u);
  EXPECT_EQ(load1, 77u);
  EXPECT_EQ(eightLoads, 1u);
  EXPECT_EQ(load2, 9u);
  EXPECT_EQ(bareLoad, 2u);
  EXPECT_GT(padded, 1000u);
  EXPECT_GE(bareNames, 3u);
  EXPECT_LE(bareNames, 10u);
}

TEST(SampleDatabase, InstallsEveryKeyAndValue) {
  HostRegistryReset();
  HostSetPlatformId(VER_PLATFORM_WIN32_NT);
  HostSetModuleImage("/opt/drvsetup", PackedImage(SampleDatabaseBytes()));
  EXPECT_EQ(SetupRun("-ns -ne"), 0);
  HostClearModuleImage();
  size_t keys = 0, values = 0;
  ASSERT_TRUE(HostRegistryCount(HKEY_LOCAL_MACHINE, "Software\\morvelan\\DRIVER2",
                                &keys, &values));
  EXPECT_EQ(keys, 1810u);
  EXPECT_EQ(values, 4131u);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, "Software\\morvelan\\DRIVER2",
                      "DriverVersion"),
            Dword(71));
}
