// The whole run on arbitrary executable bytes, through the host file seam.
// The first byte picks the machine (no database, an older one or a newer
// one; NT or not; shell library or not), whether "-v" is given and whether
// the file is a signed one, or one packed with its integrity record (and
// maybe damaged by one flipped bit); the rest is the program's file, or its
// script. After each run:
//   - the outcome is one of the five, and no key is left open;
//   - the run's three buffers are freed;
//   - on 1, -1 and -2, and with "-v", the registry is untouched;
//   - after -3 no installed DriverVersion is left;
//   - the removal deleted nothing outside DRIVER2, and no key that the
//     script does not name changed;
//   - the registry survives the hive's text form;
//   - a whole program with its record reads (no -1), and one with a bit
//     flipped where the record guards it answers -1.

#include <map>
#include <set>

#include "fuzz/fuzz_support.h"
#include "payload/container.h"
#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/cp1252.h"
#include "platform/host/platform.h"
#include "platform/registry.h"
#include "setup/message_box_host.h"
#include "setup/setup_run.h"
#include "tools/drvdb/engine/program_file.h"

namespace {

const char kDriver2[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MORVELAN\\DRIVER2";

void SetValue(HKEY root, const char* path, const char* name, DWORD type,
              const void* data, DWORD size) {
  HKEY key;
  FUZZ_CHECK(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr) == ERROR_SUCCESS);
  FUZZ_CHECK(RegSetValueExA(key, name, 0, type,
                            static_cast<const BYTE*>(data), size) ==
             ERROR_SUCCESS);
  RegCloseKey(key);
}

void Prepare(unsigned machine) {
  HostRegistryReset();
  SetValue(HKEY_CURRENT_USER, "Other", "keep", REG_SZ, "yes", 4);
  SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\OTHER", "keep", REG_SZ,
           "yes", 4);
  if (machine == 0)
    return;
  const DWORD version = machine == 1 ? 1 : 0xffffffffu;
  SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\DRIVER2", "DriverVersion",
           REG_DWORD, &version, 4);
  SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\OLD",
           "load1", REG_SZ, "x", 2);
}

// Whether a key reads back the same: its name and its values, each with
// its name, type and data.
bool Same(const HiveKey& a, const HiveKey& b) {
  if (a.path != b.path || a.values.size() != b.values.size())
    return false;
  for (auto x = a.values.begin(), y = b.values.begin(); x != a.values.end();
       ++x, ++y)
    if (x->second.name != y->second.name || x->second.type != y->second.type ||
        x->second.data != y->second.data)
      return false;
  return true;
}

// A program packed with its integrity record: PE headers (PE32+ with bit
// 64 of the mode), the record, the script (the bytes after the next one)
// and its length. The next byte, when not 0, flips one bit of the file;
// where is said back, as the offset or npos.
std::string RecordedFile(const uint8_t* data, size_t size, unsigned mode,
                         size_t* flipped) {
  std::string file = PackProgram(
      MinimalPeHeaders(mode & 64),
      std::string(reinterpret_cast<const char*>(data) + 1, size - 1), true,
      true);
  *flipped = std::string::npos;
  if (data[0]) {
    *flipped = static_cast<size_t>(data[0] * 2654435761u % file.size());
    file[*flipped] = static_cast<char>(file[*flipped] ^ (1 << (data[0] & 7)));
  }
  return file;
}

// Whether a flip at offset leaves a recorded program readable by design:
// in the record's marker (then read as a program without one), or in a
// field that signing changes.
bool FlipMayPass(const std::string& intact, size_t offset) {
  PayloadContainer c;
  PayloadFile opened = OpenPayloadBytes(intact);
  LocateContainer(opened, &c);
  ClosePayloadFile(opened);
  auto within = [&](uint64_t at, uint64_t size) {
    return offset >= at && offset < at + size;
  };
  return within(c.recordAt, 8) || within(c.checkSumAt, 4) ||
         within(c.tableEntryAt, 8);
}

// With bit 32 of the mode, the file is PE headers (PE32+ with bit 64), then
// the bytes after the next one, whose last bytes a certificate entry names
// as the table: the next byte gives the table's size and whether the entry
// is whole (the program reads before the table) or damaged in one of the
// ways that make it read from the file's end.
std::string ProgramFile(const uint8_t* data, size_t size, unsigned mode) {
  if (!(mode & 32) || size < 2)
    return std::string(reinterpret_cast<const char*>(data), size);
  std::string file = MinimalPeHeaders(mode & 64);
  file.append(reinterpret_cast<const char*>(data) + 1, size - 1);
  const unsigned shape = data[0];
  uint32_t tableSize = 1 + shape % 64;
  if (tableSize > size - 1)
    return file;  // no room for a table: the entry stays empty
  uint32_t at = static_cast<uint32_t>(file.size()) - tableSize;
  switch (shape >> 6) {
    case 1:  // reaches past the end
      ++tableSize;
      break;
    case 2:  // ends before the end
      --tableSize;
      break;
    case 3:  // wraps round to the file's end in 32 bits
      tableSize += 0x80000000u;
      at += 0x80000000u;
      break;
  }
  FUZZ_CHECK(SetCertificateEntry(&file, at, tableSize));
  return file;
}

// The program's file for an input, made the module image. For a recorded
// program, flipped says where one bit was flipped (npos: none), and
// mayPass whether the record lets that pass by design.
struct Program {
  bool recorded = false;
  size_t flipped = std::string::npos;
  bool mayPass = true;
};

Program MakeProgram(const uint8_t* data, size_t size, unsigned mode) {
  Program p;
  // Bit 128 with bit 32: a program with its record, maybe damaged.
  p.recorded = (mode & 160) == 160 && size >= 1;
  if (!p.recorded) {
    HostSetModuleImage("/fuzz/drvsetup.exe", ProgramFile(data, size, mode));
    return p;
  }
  std::string file = RecordedFile(data, size, mode, &p.flipped);
  if (p.flipped != std::string::npos) {
    std::string intact(reinterpret_cast<const char*>(data), size);
    intact[0] = 0;
    size_t none;
    p.mayPass = FlipMayPass(
        RecordedFile(reinterpret_cast<const uint8_t*>(intact.data()),
                     intact.size(), mode, &none),
        p.flipped);
  }
  HostSetModuleImage("/fuzz/drvsetup.exe", file);
  return p;
}

// Only DRIVER2's tree may go, and only the keys the script names (and the
// keys on their paths) may change.
void CheckWhatChanged(const HiveTree& before) {
  std::set<std::string> named;
  for (const HostRegistryCall& call : HostRegistryCalls()) {
    if (call.kind == HostRegistryCall::kDeleteKey)
      FUZZ_CHECK(HostKeyIsUnder(call.stored, kDriver2));
    if (call.kind != HostRegistryCall::kCreateKey || call.result != 0)
      continue;
    // The key and every key on its path.
    const std::string path = HostFoldName(call.stored);
    for (size_t end = path.size(); end && end != std::string::npos;
         end = path.rfind('\\', end - 1))
      named.insert(path.substr(0, end));
  }
  const HiveTree after = HostRegistryTree();
  for (const auto& key : before) {
    if (HostKeyIsUnder(key.first, kDriver2) || named.count(key.first))
      continue;
    auto now = after.find(key.first);
    FUZZ_CHECK(now != after.end() && Same(now->second, key.second));
  }
  for (const auto& key : after)
    FUZZ_CHECK(before.count(key.first) || named.count(key.first));
}

// After -3 no installed DriverVersion is left.
void CheckNoVersion() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\morvelan\\DRIVER2", 0,
                    KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    FUZZ_CHECK(RegQueryValueExA(key, "DriverVersion", nullptr, nullptr,
                                nullptr, nullptr) != ERROR_SUCCESS);
    RegCloseKey(key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  HostEchoMessageBoxes(false);  // "-v" shows a box: keep stderr for findings
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  const unsigned mode = data[0];
  Prepare(mode % 3);
  HostSetPlatformId(mode & 4 ? VER_PLATFORM_WIN32_WINDOWS
                             : VER_PLATFORM_WIN32_NT);
  HostSetShellLibraryPresent(!(mode & 8));
  const bool version = mode & 16;
  const Program program = MakeProgram(data + 1, size - 1, mode);
  const HiveTree before = HostRegistryTree();
  const uint64_t generation = HostRegistryGeneration();
  HostRegistryTraceCalls(true);

  RunOutcome outcome = SetupRun(version ? "-v -ns -ne" : "-ns -ne");

  HostClearModuleImage();
  FUZZ_CHECK(outcome == 1 || outcome == 0 || outcome == -1 || outcome == -2 ||
             outcome == -3);
  // A whole recorded program reads; one damaged where the record guards it
  // does not.
  const bool damaged = program.flipped != std::string::npos;
  if (program.recorded && !damaged)
    FUZZ_CHECK(outcome != -1);
  if (program.recorded && damaged && !program.mayPass)
    FUZZ_CHECK(outcome == -1);
  FUZZ_CHECK(HostRegistryOpenHandles() == 0);
  FUZZ_CHECK(!ModulePathW && !ModulePathA && !ScriptText);
  if (outcome == 1 || outcome == -1 || outcome == -2 || version)
    FUZZ_CHECK(HostRegistryGeneration() == generation);
  if (outcome == -3)
    CheckNoVersion();
  CheckWhatChanged(before);

  HostRegistryTraceCalls(false);
  CheckHiveRoundTrip();
  HostClearMessageBoxes();
  EndInput();
  return 0;
}
