// floortable: the registry calls that importing a script makes, as a table
// for the floor program (bench/windows/floor.c), which replays them with no
// parsing at all.
//
//   floortable SCRIPT TABLE
//
// The script (UTF-16LE, as packed) is decoded and imported by the program's
// own code on the registry stand-in, which records each RegCreateKeyExA and
// RegSetValueExA. The table holds, in call order:
//   'K' root(1 byte: 0 HKLM, 1 HKCU, 2 HKCR) length(4) subkey(length, NUL
//       included)                          create a key, closing the last
//   'V' length(4) name(length, NUL included) type(4) size(4) data(size)
//   'E'                                    the end

#include <stdint.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/trace.h"
#include "tools/drvdb/engine/program_file.h"
#include "script/script_import.h"

namespace {

void Put32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out->push_back(static_cast<char>(value >> (8 * i)));
}

void PutString(std::string* out, const char* text) {
  std::string s = text;
  Put32(out, static_cast<uint32_t>(s.size() + 1));
  out->append(s);
  out->push_back('\0');
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: floortable SCRIPT TABLE\n";
    return 2;
  }
  if (!DecodeFileAsTheProgram(argv[1])) {
    std::cerr << "floortable: cannot read " << argv[1] << "\n";
    return 1;
  }
  HostRegistryTraceCalls(true);
  if (!ImportScript(ScriptText)) {
    std::cerr << "floortable: " << argv[1] << " does not import\n";
    return 1;
  }
  std::string table;
  // Each key by the create call that named it: the version, written last,
  // goes to a key opened again, which the floor creates again.
  std::map<uintptr_t, const HostRegistryCall*> creators;
  uintptr_t current = 0;
  auto create = [&](const HostRegistryCall& call) {
    table.push_back('K');
    table.push_back(call.handle == HKEY_LOCAL_MACHINE   ? 0
                    : call.handle == HKEY_CURRENT_USER ? 1
                                                        : 2);
    PutString(&table, call.argument);
    current = call.key;
  };
  for (const HostRegistryCall& call : HostRegistryCalls()) {
    if (call.kind == HostRegistryCall::kCreateKey) {
      creators.emplace(call.key, &call);
      create(call);
    } else if (call.kind == HostRegistryCall::kSetValue) {
      if (call.key != current)
        create(*creators.at(call.key));
      table.push_back('V');
      PutString(&table, call.argument);
      Put32(&table, call.type);
      Put32(&table, static_cast<uint32_t>(call.data.size()));
      table += call.data;
    }
  }
  table.push_back('E');
  FreeRunBuffers();
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(table.data(), static_cast<std::streamsize>(table.size()));
  return out ? 0 : 1;
}
