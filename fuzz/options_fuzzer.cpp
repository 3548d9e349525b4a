// The command line: the tail rule (program name, then characters 1 to 32,
// skipped) and the option words, against a plain model of the rules. The
// first byte picks the code page: with double-byte lead bytes or without.

#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "setup/code_page_host.h"
#include "setup/command_tail.h"
#include "setup/setup_run.h"

namespace {

RunFlags Model(const std::string& tail) {
  RunFlags flags = {true, false, true, true};
  std::vector<std::string> tokens(1);
  for (char c : tail) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
      tokens.emplace_back();
    else
      tokens.back().push_back(c);
  }
  for (const std::string& t : tokens) {
    if (t == "-v" || t == "\"-v\"")
      flags.showVersion = true;
    if (t == "-ns" || t == "\"-ns\"")
      flags.showSuccess = false;
    if (t == "-ne" || t == "\"-ne\"")
      flags.showErrors = false;
  }
  if (flags.showVersion)
    flags = {false, true, false, false};
  return flags;
}

// The program name: a quoted run up to its closing quote (in a double-byte
// code page, never the second byte of a character), or else a run of
// characters above the space; then every character from 1 to 32.
size_t ModelTail(const std::string& line, bool doubleByte) {
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    for (i = 1; i < line.size() && line[i] != '"'; ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      if (doubleByte && c >= 0x81 && c <= 0xfe && i + 1 < line.size())
        ++i;
    }
    if (i < line.size())
      ++i;
  } else {
    while (i < line.size() && static_cast<unsigned char>(line[i]) > 32)
      ++i;
  }
  while (i < line.size() && line[i] >= 1 && line[i] <= 32)
    ++i;
  return i;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  if (data[0] & 1)
    HostSetLeadBytes(0x81, 0xfe);
  else
    HostSetLeadBytes(1, 0);
  // A command line holds no NUL: it ends at the first.
  std::string line(reinterpret_cast<const char*>(data) + 1, size - 1);
  line = line.substr(0, strlen(line.c_str()));

  const char* tail = CommandTailFromCommandLine(line.c_str());
  FUZZ_CHECK(tail == line.c_str() + ModelTail(line, data[0] & 1));
  unsigned char first = static_cast<unsigned char>(*tail);
  FUZZ_CHECK(first == 0 || first > 32);

  const std::string before = tail;
  RunFlags flags = ParseOptions(tail);
  FUZZ_CHECK(before == tail);  // the tail is left as it was
  RunFlags expected = Model(before);
  FUZZ_CHECK(flags.install == expected.install);
  FUZZ_CHECK(flags.showVersion == expected.showVersion);
  FUZZ_CHECK(flags.showErrors == expected.showErrors);
  FUZZ_CHECK(flags.showSuccess == expected.showSuccess);
  return 0;
}
