// Writes the fuzzers' seed corpora: the sample database cut into pieces at
// section boundaries, in the form each harness takes, and the short scripts,
// hives and command lines that the tests use.
//
//   make_seeds SAMPLE_DATABASE DIR
//
// writes DIR/options, DIR/run, DIR/import, DIR/check and DIR/hive.

#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/payload.h"
#include "payload/payload_io_host.h"
#include "platform/host/controls.h"
#include "platform/host/hive_text.h"
#include "tools/drvdb/engine/program_file.h"
#include "script/script_import.h"

namespace {

void Write(const std::string& dir, int index, const std::string& bytes) {
  std::ofstream out(dir + "/seed-" + std::to_string(index),
                    std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}


// ANSI text as the UTF-16LE script the program carries (Windows-1252 bytes
// above 0x7f are kept as their own code units: close enough for a seed).
std::string Utf16(const std::string& text) {
  std::string out = "\xff\xfe";
  for (unsigned char c : text) {
    out.push_back(static_cast<char>(c));
    out.push_back('\0');
  }
  return out;
}

// Pieces of at most about size bytes, each starting at a section header.
std::vector<std::string> Pieces(const std::string& text, size_t size) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start + size;
    if (end >= text.size()) {
      end = text.size();
    } else {
      size_t header = text.rfind("\n[", end);
      end = header != std::string::npos && header > start ? header + 1 : end;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end;
  }
  return pieces;
}

const char* const kScripts[] = {
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
    "\"DriverVersion\"=dword:00000047\r\n",
    "[HKEY_CURRENT_USER\\T]\r\n\"a\"=\"say \\\"hi\\\" c:\\\\dir\"\r\n"
    "\"b\"=dword:2a \r\n\"\"=\"default\"\r\n@=\"x\"\r\n",
    "\"v\"=\"before\"\n[HKEY_CLASSES_ROOT\\.disc\\shell\n]\n\"x\"=\"1\"\n",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\U]\r\n"
    "\"a\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\t]\r\n\"A\"=hex:00\r\n",
    "[HKEY_CURRENT_USER\\t_\xe9]\n\"P\xe9\"=\"\"\n[HKEY_CURRENT_USER\\t_\xc9]\n"
    "\"P\xc9\"=dword:8\n",
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\x]\n[HKEY_USERS\\x]\n",
};

const char* const kHives[] = {
    "[HKEY_LOCAL_MACHINE]\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n[HKEY_CURRENT_USER]\n"
    "[HKEY_CURRENT_USER\\e%25%5B%5D]\n\"bin\"=hex(305419896):00,ff\n"
    "\"d\"=dword:deadbeef\n\"s\"=\"a%0D%0Ab\"\n\"\"=hex(1):61,00,62,00\n",
    "; comment\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\x\\y\\z]\n"
    "\"v\"=\"1\"\n",
};

const char* const kCommandLines[] = {
    "drvsetup.exe -ns -ne",
    "\"C:\\Program Files\\drvsetup.exe\" \"-v\"",
    "\"\x81\"\" -ne",
    "x\t-ns\r\n-v  \"-ne\" -NS --ne /v -vv",
    "\"unclosed -v",
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_seeds SAMPLE_DATABASE DIR\n";
    return 2;
  }
  if (!DecodeFileAsTheProgram(argv[1])) {
    std::cerr << "make_seeds: cannot read " << argv[1] << "\n";
    return 1;
  }
  const std::string text = ScriptText;
  FreeRunBuffers();

  const std::string dir = argv[2];
  for (const char* name : {"", "/options", "/run", "/import", "/check",
                           "/hive"})
    mkdir((dir + name).c_str(), 0755);

  int n = 0;
  for (const char* line : kCommandLines)
    for (char mode : {'\0', '\1'})
      Write(dir + "/options", n++, std::string(1, mode) + line);

  std::vector<std::string> scripts(std::begin(kScripts), std::end(kScripts));
  for (const std::string& piece : Pieces(text, 4096))
    scripts.push_back(piece);
  const std::string version = kScripts[0];
  n = 0;
  for (const std::string& script : scripts) {
    Write(dir + "/import", n, script);
    Write(dir + "/check", n, version + script);
    std::string payload = Utf16(version + script);
    const std::string container = PackProgram("", payload, false);
    Write(dir + "/run", n, std::string(1, static_cast<char>(n % 32)) + "MZ" +
                               container);
    // Signed: the container, then a table of 8 bytes that the entry names
    // whole (and, every fourth seed, damaged in one of three ways).
    const char shape = static_cast<char>((n % 4) << 6 | 7);
    Write(dir + "/run", 10000 + n,
          std::string(1, static_cast<char>(32 | n % 32 | (n % 2) << 6)) +
              shape + container + "signed!!");
    // With the integrity record: whole, or (every third seed) one bit flipped.
    Write(dir + "/run", 20000 + n,
          std::string(1, static_cast<char>(160 | n % 32 | (n % 2) << 6)) +
              std::string(1, static_cast<char>(n % 3 ? 0 : 1 + n)) + payload);
    ++n;
  }

  n = 0;
  for (const char* hive : kHives)
    Write(dir + "/hive", n++, hive);
  HostRegistryReset();
  std::vector<char> editable(text.begin(), text.end());
  editable.push_back('\0');
  ImportScript(editable.data());
  for (const std::string& piece : Pieces(HostRegistryExport(), 8192))
    Write(dir + "/hive", n++, piece);
  return 0;
}
