// Writes the scripts over which two builds of drvdb are compared
// (scripts/compare_builds.sh): each file of the given folders (ANSI text,
// as the fuzzers' seeds are) as a UTF-16LE script with its byte-order mark,
// as the program carries it, and the differential test's generated scripts
// for the seeds asked for.
//
//   comparison_inputs OUT FIRST_SEED COUNT [FOLDER...]

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/host/cp1252.h"
#include "tests/script_generator.h"

namespace {

std::string Utf16(const std::string& ansi) {
  std::string out = "\xff\xfe";
  for (unsigned char c : ansi) {
    const char16_t unit = Cp1252ToWide(c);
    out.push_back(static_cast<char>(unit & 0xff));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

bool Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.')
        names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: comparison_inputs OUT FIRST_SEED COUNT [FOLDER...]\n";
    return 2;
  }
  const std::string out = argv[1];
  const uint32_t first = static_cast<uint32_t>(std::stoul(argv[2]));
  const uint32_t count = static_cast<uint32_t>(std::stoul(argv[3]));
  bool ok = true;
  for (uint32_t seed = first; seed < first + count; ++seed)
    ok = Write(out + "/generated-" + std::to_string(seed) + ".reg",
               Utf16(GenerateScript(seed).text)) && ok;
  for (int i = 4; i < argc; ++i) {
    const std::string folder = argv[i];
    const std::string tag = folder.substr(folder.find_last_of('/') + 1);
    for (const std::string& name : Files(folder)) {
      std::ifstream in(folder + "/" + name, std::ios::binary);
      const std::string ansi((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      ok = Write(out + "/" + tag + "-" + name + ".reg", Utf16(ansi)) && ok;
    }
  }
  return ok ? 0 : 1;
}
