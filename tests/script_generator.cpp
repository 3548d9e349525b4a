#include "tests/script_generator.h"

#include <random>
#include <vector>

const char* const kGeneratedRoots[4] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\drvdiff",
    "HKEY_CURRENT_USER\\drvdiff",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\drvdiff",
};

namespace {

// Names that collide without regard to case (é/É, œ/Œ, ÿ/Ÿ, š/Š, ž/Ž, ü/Ü
// in Windows-1252) and names with blanks, '=' and nothing at all.
const char* const kNames[] = {
    "a",       "A",      "b",      "Name",    "NAME",     "x=y",
    "",        " sp ",   "P\xe9",  "P\xc9",   "\x9cuvre", "\x8cUVRE",
    "y\xff",   "Y\x9f",  "\x9a",   "\x8a",    "\x9e",     "\x8e",
    "k\xfc",   "K\xdc",  "load1",  "LOAD1",   "t\tab",    "a;b",
};

const char* const kKeyNames[] = {
    "k",  "K",  "Key One", "key one", " lead", "trail ", "x=y",
    "\xe9t\xe9", "\xc9T\xc9", "\x9c", "\x8c", "\xff", "\x9f", "m\xfc",
    "M\xdc", "semi;colon", "MAPPINGS", "mappings",
};

const char* const kRoots[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\drvdiff",
    "HKEY_CURRENT_USER\\drvdiff",
    "HKEY_CLASSES_ROOT\\drvdiff",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2",
    "hkey_current_user\\drvdiff",
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  GeneratedScript Script() {
    GeneratedScript script;
    script.version = Below(200) + 2;
    script.hasVersion = true;
    std::string versionLine =
        "\"DriverVersion\"=dword:" + Hex(script.version, 8);
    unsigned placement = Below(20);
    if (placement == 0) {
      script.hasVersion = false;  // none
      versionLine = "\"DriverVersionX\"=dword:1";
    } else if (placement == 1) {
      script.hasVersion = false;  // malformed: a blank after the digits
      versionLine += " ";
    }
    text_ = "Windows Registry Editor Version 5.00" + End() + End();
    if (placement == 2)
      text_ += versionLine + End();  // before any header
    if (Chance(10))
      text_ += "\"stray\"=\"before the first header\"" + End();
    std::vector<std::string> headers;
    if (placement != 2 && placement != 3) {
      headers.push_back("[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]");
      text_ += headers.back() + End() + versionLine + End();
    }
    unsigned sections = 1 + Below(10);
    for (unsigned s = 0; s < sections; ++s) {
      std::string header;
      if (!headers.empty() && Chance(12)) {
        header = headers[Below(static_cast<unsigned>(headers.size()))];
        if (Chance(50))
          header = FlipCase(header);
      } else {
        header = "[" + std::string(kRoots[Below(5)]);
        for (unsigned depth = Below(4); depth > 0; --depth)
          header += "\\" + std::string(kKeyNames[Below(18)]);
        if (Chance(8))
          header += "\\";  // a trailing backslash
        header += "]";
        headers.push_back(header);
      }
      if (Chance(4))
        header = header.substr(1);  // lacks its '[': an ignored line
      else if (Chance(4))
        header.insert(header.size() - 1, End() + "more");  // ']' later
      if (Chance(8))
        header += " ; after the bracket";
      text_ += Blanks() + header + End();
      if (placement == 3 && s == sections / 2)
        text_ += versionLine + End();  // in a later section
      for (unsigned v = Below(6); v > 0; --v)
        text_ += Blanks() + ValueLine() + End();
    }
    script.text = text_;
    return script;
  }

 private:
  unsigned Below(unsigned n) { return static_cast<unsigned>(random_() % n); }
  bool Chance(unsigned percent) { return Below(100) < percent; }

  std::string End() { return Chance(85) ? "\r\n" : "\n"; }
  std::string Blanks() {
    return Chance(85) ? "" : std::string(Below(3), ' ') + (Chance(50) ? "\t" : "");
  }

  std::string Hex(uint32_t value, unsigned digits) {
    static const char kUpper[] = "0123456789ABCDEF";
    static const char kLower[] = "0123456789abcdef";
    const char* set = Chance(50) ? kUpper : kLower;
    std::string out;
    for (unsigned i = 0; i < digits; ++i)
      out.insert(out.begin(), set[(value >> (4 * (i % 8))) & 15]);
    return out;
  }

  std::string FlipCase(std::string text) {
    for (char& c : text) {
      unsigned char u = static_cast<unsigned char>(c);
      if (u >= 'a' && u <= 'z' && Chance(30))
        c = static_cast<char>(u - 32);
      else if (u >= 'A' && u <= 'Z' && Chance(30))
        c = static_cast<char>(u + 32);
    }
    return text;
  }

  std::string StringData() {
    static const char* const kPieces[] = {
        "text", "\\\\", "\\\"", "\\n", "\\x", " ", "\xe9", "=", ";", "[",
        "]",    "@",    "\t",   "1",   "0"};
    std::string data;
    for (unsigned n = Below(5); n > 0; --n)
      data += kPieces[Below(15)];
    return data;
  }

  std::string ValueLine() {
    unsigned kind = Below(100);
    if (kind < 4)
      return "@=\"default\"";
    if (kind < 7)
      return "; a comment";
    if (kind < 9)
      return "";
    std::string line = "\"" + std::string(kNames[Below(24)]) + "\"";
    line += Chance(15) ? std::string(Below(2) + 1, ' ') + "=" + " " : "=";
    if (Chance(1))
      return line + "hex:00,01";  // fails the import
    if (Chance(1))
      return line + "\"unclosed";
    if (Chance(55)) {
      line += "\"" + StringData() + "\"";
      if (Chance(1))
        line += " x";  // fails
      else if (Chance(8))
        line += " ";
    } else {
      line += Chance(50) ? "dword:" : "DWORD:";
      line += Hex(static_cast<uint32_t>(random_()), 1 + Below(10));
      if (Chance(1))
        line += "g";  // fails
      else if (Chance(8))
        line += "\t";
    }
    return line;
  }

  std::mt19937 random_;
  std::string text_;
};

}  // namespace

GeneratedScript GenerateScript(uint32_t seed) {
  return Generator(seed).Script();
}
