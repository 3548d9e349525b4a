#include "tools/drvdb/engine/wording.h"

#include <stdio.h>

#include "platform/host/cp1252.h"
#include "tools/drvdb/engine/source.h"

const char kGateVerdict[] =
    ": the program would install this script, exit 0, and write ";

std::string AnsiToUtf8(const std::string& ansi, bool showControls) {
  std::u32string wide;
  for (unsigned char c : ansi)
    wide.push_back(!showControls ? Cp1252ToWide(c)
                   : c < 0x20    ? 0x2400 + c
                   : c == 0x7f   ? 0x2421
                                 : Cp1252ToWide(c));
  return ToUtf8(wide);
}

std::string VisibleName(const std::string& ansi) {
  return AnsiToUtf8(ansi, true);
}

std::string Quoted(const std::string& ansi) {
  return "\"" + AnsiToUtf8(ansi) + "\"";
}

std::string Hex8(uint32_t value) {
  char text[16];
  snprintf(text, sizeof(text), "%08x", value);
  return text;
}

std::string FaultMessage(ScriptFault fault, const std::string& text,
                         size_t at, LONG createResult) {
  std::string rest = text.substr(at, 40);
  rest = rest.substr(0, rest.find_first_of("\r\n"));
  switch (fault) {
    case kFaultNone:
    case kFaultNoVersionLine:
      break;
    case kFaultVersionNoDigit:
      return "hex digits must follow \"DriverVersion\"=dword: directly";
    case kFaultVersionTrailing:
      return "nothing may follow the version's digits on its line, not even "
             "a blank";
    case kFaultHeaderUnclosed:
      return "section header without a closing ']' anywhere after it";
    case kFaultUnknownRoot:
      if (!rest.empty() && rest[0] == '-')
        return "deletion headers ([-KEY]) are not supported";
      return "key path is not under HKEY_LOCAL_MACHINE\\, "
             "HKEY_CURRENT_USER\\ or HKEY_CLASSES_ROOT\\";
    case kFaultKeyNotCreated:
      if (createResult == ERROR_ACCESS_DENIED)
        return "the registry refuses this key (no new key may go directly "
               "under HKEY_LOCAL_MACHINE)";
      if (createResult == ERROR_BAD_PATHNAME)
        return "the registry refuses this key: its path begins with a "
               "backslash after the root";
      return "the registry refuses this key: a name over 256 characters, "
             "more than 32 new levels at once or more than 512 in all";
    case kFaultNameUnclosed:
      return "value name without its closing quote";
    case kFaultNoEquals:
      return "expected '=' after the value name";
    case kFaultStringEmpty:
      return "the line ends right after the string's opening quote";
    case kFaultStringUnclosed:
      return "string value without its closing quote (a backslash makes the "
             "next character literal, a quote included)";
    case kFaultStringTrailing:
      return "only blanks may follow a string value's closing quote";
    case kFaultUnsupportedType: {
      std::string type = rest.substr(0, rest.find(':') == std::string::npos
                                            ? rest.size()
                                            : rest.find(':') + 1);
      return "unsupported value type " + Quoted(type) +
             ": only \"text\" and dword: values can be installed";
    }
    case kFaultDwordNoDigit:
      return "hex digits must follow dword: directly";
    case kFaultDwordTrailing:
      return "only blanks may follow a dword value's digits";
    case kFaultValueNotSet:
      return "the registry refuses this value (a name over 16,383 "
             "characters)";
  }
  return "unknown failure";
}
