// packreg: appends a registry script to a built setup program.
//
//   packreg IMAGE SCRIPT OUTPUT
//
// OUTPUT becomes IMAGE, then SCRIPT's bytes unchanged (UTF-16LE with its
// byte-order mark, as the registry editor exports it), then their count as
// four bytes little-endian. OUTPUT is written to a temporary file beside it
// and renamed into place, so it is never left half-written, and it keeps
// IMAGE's permission bits.

#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tools/write_file.h"

namespace {

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  bytes->assign(std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: packreg IMAGE SCRIPT OUTPUT\n";
    return 2;
  }
  std::string image, script;
  if (!ReadFile(argv[1], &image)) {
    std::cerr << "packreg: cannot read " << argv[1] << "\n";
    return 1;
  }
  if (!ReadFile(argv[2], &script)) {
    std::cerr << "packreg: cannot read " << argv[2] << "\n";
    return 1;
  }
  if (script.size() > 0xffffffffu - image.size() - 4) {
    std::cerr << "packreg: " << argv[2] << " is too large\n";
    return 1;
  }
  if (script.size() < 2 || static_cast<unsigned char>(script[0]) != 0xff ||
      static_cast<unsigned char>(script[1]) != 0xfe)
    std::cerr << "packreg: warning: " << argv[2]
              << " does not start with a UTF-16LE byte-order mark; its first "
                 "character will be lost\n";

  uint32_t size = static_cast<uint32_t>(script.size());
  const char trailer[4] = {static_cast<char>(size), static_cast<char>(size >> 8),
                           static_cast<char>(size >> 16),
                           static_cast<char>(size >> 24)};
  std::string packed = image + script + std::string(trailer, 4);
  return WriteFileAtomically("packreg", argv[3], packed, argv[1]) ? 0 : 1;
}
