// gendb: writes the sample drive database, a registry script in the form the
// setup program ships, with invented vendors, models and driver sets.
//
//   gendb [--scale N] OUTPUT
//
// The output is fully determined by this file: the same program writes the
// same bytes. --scale N writes a database of the same shape N times as large
// (for benchmarks): the drive mappings, irregularities included, come N
// times, each copy's drive names marked with its number. Its shape (sizes,
// counts and the irregularities a real, hand-maintained database carries)
// is fixed by the constants below; a test pins data/drives.reg as this
// program writes it.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/common/utf16.h"
#include "tools/common/tool_platform.h"
#include "tools/drvdb/engine/findings.h"

namespace {

const size_t kTargetBytes = 491300;
const size_t kTargetLines = 7766;
const size_t kSets = 88;
const size_t kDrives = 1718;       // distinct mapping keys
const size_t kTotalValues = 4131;  // value lines, all distinct in the registry
const size_t kCapitalisedDrives = 29;

const char kRoot[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2";
const char kCapitalisedRoot[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvelan\\DRIVER2";
const char kTimes[] = "\xc3\x97";  // U+00D7 in UTF-8

struct Value {
  std::string name;
  std::string data;  // a string value's text, or the dword line's right side
  bool dword = false;
  bool trailingBlank = false;
};

struct Section {
  std::string header;  // the line, brackets included (or not, for one)
  std::vector<Value> values;
  size_t extraBlankLines = 0;  // beyond the one that ends every section
  // Its quirk allowed where it stands: a comment "; drvdb: allow=KIND" in
  // place of the blank line before its header, so that the lines stay as
  // many.
  std::optional<Kind> allow = std::nullopt;
};

const char* const kFallbackOps[] = {
    "BeginSAO", "BeginTAO", "Write", "ModeSense", "OpenTray", "CloseTray",
    "GetCapacity", "ReadTOC"};

const char* const kSetFamilies[] = {
    "MMC-Writer", "CW-Writer", "DVD-R-Std", "DVD+R-Std", "CDR-Basic",
    "CDRW-Fast",  "BD-R-Std",  "Legacy-SCSI", "Packet-RW", "DVD-RAM-Std",
    "HD-Writer"};

const char* const kOperations[] = {
    "BeginTAO", "BeginSAO", "Write",    "ModeSense", "GetCapacity",
    "OpenTray", "CloseTray", "ReadTOC", "SetSpeed",  "FlushCache"};

const char* const kVendors[] = {
    "ACMEDSK", "BRAVURA", "CELERIS", "DISKOTK", "ELVARO", "FONTRIX",
    "GALVINE",  "HORIZEN", "IRNLAKE", "JUVATA",  "KESTRAL", "LUMIRA",
    "MAVERON",  "NOVADRV", "OPTIMAR", "PRAXON",  "QUINTEX", "RAVELIN",
    "SOLTERA",  "TAVIRO",  "ULTREX",  " VESPER", "WINDAL",  "XENOTH",
    "YARROW",   "ZEPHRA"};

const char* const kModelFamilies[] = {
    "CDW-",  "CDRW-", "DVR-", "DVDRW ", "RW-", "BDR-", "CR-", "DW-",
    "SuperWrite ", "ComboDrive ", "DRW-", "PX-"};

const char* const kMediumLimits[] = {
    "DVD+RCaps_WriteMaxSpeed", "DVD-RCaps_WriteMaxSpeed",
    "CD-ROMCaps_ReadMaxSpeed", "CD-RCaps_WriteMaxSpeed",
    "DVD+RWCaps_WriteMaxSpeed"};

const char* const kDriveExtras[] = {
    "WriteSpeed", "SetWriteOptions", "Caps_WriteREALSAO",
    "Caps_SimulateREALSAO", "Device", "ModeSense", "BeginSAO"};

std::string Pad8(const std::string& vendor) {
  std::string field = vendor;
  field.resize(8, ' ');
  return field;
}

std::vector<std::string> SetNames() {
  std::vector<std::string> names;
  for (size_t i = 0; names.size() < kSets; ++i) {
    std::string name = kSetFamilies[i % 11];
    if (i >= 11)
      name += "-" + std::to_string(i / 11 + 1);
    names.push_back(name);
  }
  return names;
}

Section DatabaseSection() {
  Section s;
  s.header = std::string("[") + kRoot + "]";
  s.values.push_back({"DriverVersion", "dword:00000047", true});
  s.extraBlankLines = 1;
  return s;
}

Section FallbackSection() {
  Section s;
  s.header = std::string("[") + kRoot + "\\FALLBACKS]";
  for (size_t i = 0; i < 24; ++i) {
    std::string name = std::string(kFallbackOps[i % 8]) +
                       std::to_string(i / 8 + 1 + (i % 3 == 0 ? 3 : 0));
    std::string data = std::to_string(i % 5 == 0 ? 1 + i % 7 : i % 2);
    s.values.push_back({name, data});
  }
  s.extraBlankLines = 1;
  return s;
}

std::vector<Section> SetSections(const std::vector<std::string>& names) {
  std::vector<Section> sections;
  sections.push_back({std::string("[") + kRoot + "\\SETS]", {}, 0});
  for (size_t i = 0; i < kSets; ++i) {
    Section s;
    s.header = std::string("[") + kRoot + "\\SETS\\" + names[i] + "]";
    if (i >= 13)
      s.values.push_back({"Device", std::to_string(1 + i % 6)});
    if (i >= 11) {
      s.values.push_back({"load1", names[i % 11]});
      if (i == 50) {
        for (int n = 2; n <= 8; ++n)
          s.values.push_back({"load" + std::to_string(n), names[(i + n) % 11]});
      }
    }
    size_t ops = 2 + (i * 7) % 5;
    for (size_t k = 0; k < ops; ++k) {
      s.values.push_back({kOperations[(i + 3 * k) % 10],
                          std::to_string((i * 3 + k) % 11)});
    }
    if (i % 4 == 0)
      s.values.push_back({"Caps_WriteSAO", "1"});
    if (i % 6 == 1)
      s.values.push_back({"Caps_WriteREALSAO", "1"});
    sections.push_back(s);
  }
  sections.back().extraBlankLines = 1;
  return sections;
}

struct Drive {
  std::string name;
  std::vector<Value> values;
};

// Spreads the values left of the budget over the drives, a stride apart,
// each drive taking names it does not have yet.
void SpreadValues(size_t valueBudget, std::vector<Drive>* drives) {
  size_t used = 0;
  for (const Drive& drive : *drives)
    used += drive.values.size();
  for (size_t step = 0; used < valueBudget; ++step) {
    Drive& drive = (*drives)[(step * 577 + 3) % drives->size()];
    size_t pick = step % 12;
    Value value;
    if (pick < 5) {
      value = {kMediumLimits[pick], std::to_string(706 * (2 + step % 20))};
    } else {
      value = {kDriveExtras[pick - 5], std::to_string(step % 3)};
    }
    bool taken = false;
    for (const Value& v : drive.values)
      taken = taken || v.name == value.name;
    if (taken)
      continue;
    drive.values.push_back(value);
    ++used;
  }
}

std::vector<Drive> Drives(const std::vector<std::string>& sets,
                          size_t valueBudget, size_t padding) {
  std::vector<Drive> drives;
  std::set<std::string> seen;
  for (size_t d = 0; drives.size() < kDrives; ++d) {
    std::string vendor = kVendors[d % 26];
    std::string family = kModelFamilies[(d / 26 + d) % 12];
    std::string model = family + std::to_string(100 + (d * 37) % 900);
    if (d % 3 == 1)
      model += "A";
    // Padding letters keep every name distinct: they follow digits or "A".
    size_t extra = padding / kDrives + (d % kDrives < padding % kDrives);
    static const char kSuffix[] = "SLBKTNEW";
    for (size_t k = 0; k < extra; ++k)
      model += kSuffix[k % 8];
    std::string name;
    if (d % 300 == 7)
      name = model;  // a bare model name, no vendor field and no blank
    else
      name = Pad8(vendor) + model;
    if (d == 400 || d == 1200)
      name += std::string(" 4") + kTimes + "4";
    std::string folded;
    for (char c : name)
      folded += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (!seen.insert(folded).second)
      continue;
    Drive drive;
    drive.name = name;
    std::string load = d == 250 || d == 900 ? "load" : "load1";
    drive.values.push_back({load, sets[(d * 7) % kSets]});
    drives.push_back(drive);
  }
  for (size_t i = 0; i < 9; ++i)
    drives[100 + i * 150].values.push_back({"load2", sets[(i * 5) % kSets]});
  for (size_t d = 0; d < drives.size(); ++d) {
    if (d % 8 != 7)
      drives[d].values.push_back(
          {"Caps_WriteMaxSpeed", std::to_string(1385 * (4 + d % 12))});
  }
  SpreadValues(valueBudget, &drives);
  return drives;
}

std::vector<Section> MappingSections(const std::vector<std::string>& sets,
                                     size_t valueBudget, size_t padding) {
  // Six of the budget go to the sections that reopen a key (four) and to the
  // header that lost its bracket (two).
  std::vector<Drive> drives = Drives(sets, valueBudget - 6, padding);
  std::vector<Section> sections;
  sections.push_back({std::string("[") + kRoot + "\\MAPPINGS]", {}, 0});
  size_t capitalised = 0;
  for (size_t d = 0; d < drives.size(); ++d) {
    bool capital = d % 59 == 20 && capitalised < kCapitalisedDrives;
    capitalised += capital;
    Section s;
    s.header = std::string("[") + (capital ? kCapitalisedRoot : kRoot) +
               "\\MAPPINGS\\" + drives[d].name + "]";
    s.values = drives[d].values;
    if (d == 333 || d == 1444)
      s.values[0].trailingBlank = true;
    // The first capitalised name: drvdb reports the spelling there, once.
    if (capital && capitalised == 1)
      s.allow = Kind::kLetterCase;
    sections.push_back(s);

    // Irregularities of a hand-kept file, each reopening an earlier key or
    // dropping a bracket, with value names the key does not have yet.
    if (d == 600 || d == 1100 || d == 1500) {
      size_t earlier = d - 500;
      Section again;
      again.header = std::string("[") + kRoot + "\\MAPPINGS\\" +
                     drives[earlier].name + "]";
      again.values.push_back({"SetWriteOptions2", std::to_string(d % 4)});
      again.allow = Kind::kRepeatedHeader;
      sections.push_back(again);
    }
    if (d == 1300) {
      std::string lower;
      for (char c : drives[1001].name)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      Section again;
      again.header = std::string("[") + kRoot + "\\MAPPINGS\\" + lower + "]";
      again.values.push_back({"WriteSpeed2", "4"});
      again.allow = Kind::kLetterCase;
      sections.push_back(again);
    }
    if (d == 800) {
      Section stray;
      stray.header = std::string(kRoot) + "\\MAPPINGS\\" + Pad8("KESTRAL") +
                     "CDW-ORPHAN]";
      stray.values.push_back({"load1B", sets[3]});
      stray.values.push_back({"Caps_WriteMaxSpeedB", "2770"});
      stray.allow = Kind::kMissingBracket;
      sections.push_back(stray);
    }
  }
  if (capitalised != kCapitalisedDrives) {
    std::cerr << "gendb: only " << capitalised << " capitalised sections\n";
  }
  return sections;
}

std::string Render(const std::vector<Section>& sections, size_t* lines) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  *lines = 2;
  for (const Section& s : sections) {
    if (s.allow) {  // the blank line before the header becomes the comment
      text.erase(text.size() - 2);
      text += std::string("; drvdb: allow=") + KindName(*s.allow) + "\r\n";
    }
    text += s.header + "\r\n";
    ++*lines;
    for (const Value& v : s.values) {
      text += "\"" + v.name + "\"=";
      text += v.dword ? v.data : "\"" + v.data + "\"";
      if (v.trailingBlank)
        text += " ";
      text += "\r\n";
      ++*lines;
    }
    for (size_t k = 0; k <= s.extraBlankLines; ++k) {
      text += "\r\n";
      ++*lines;
    }
  }
  std::string bytes = "\xff\xfe";
  AppendUtf16(&bytes, text);
  return bytes;
}

// Copy r (from 2) of a mapping section: the drive name marked " #r". Its
// quirks are allowed as the original's are, but for the capitalised name,
// whose spelling drvdb reports once, at the first.
Section Copy(Section s, size_t r) {
  size_t close = s.header.rfind(']');
  s.header.insert(close, " #" + std::to_string(r));
  if (s.header.find(kCapitalisedRoot) != std::string::npos)
    s.allow.reset();
  return s;
}

std::string Generate(size_t padding, size_t* lines, size_t scale = 1) {
  std::vector<std::string> sets = SetNames();
  std::vector<Section> sections;
  sections.push_back(DatabaseSection());
  sections.push_back(FallbackSection());
  std::vector<Section> setSections = SetSections(sets);
  sections.insert(sections.end(), setSections.begin(), setSections.end());
  size_t used = 0;
  for (const Section& s : sections)
    used += s.values.size();
  std::vector<Section> mappings =
      MappingSections(sets, kTotalValues - used, padding);
  sections.insert(sections.end(), mappings.begin(), mappings.end());
  for (size_t r = 2; r <= scale; ++r)
    for (size_t m = 1; m < mappings.size(); ++m)  // not MAPPINGS itself
      sections.push_back(Copy(mappings[m], r));
  return Render(sections, lines);
}

const char kUsage[] = "usage: gendb [--scale N] OUTPUT\n";

const char kHelp[] =
    "\n"
    "Writes the sample drive database to OUTPUT (- for standard output): a\n"
    "registry script in the form the setup program ships, UTF-16LE with its\n"
    "byte-order mark, the same bytes every time. --scale N writes one of the\n"
    "same shape N times as large, for benchmarks.\n";

}  // namespace

int ToolMain(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage << kHelp;
    return 0;
  }
  size_t scale = 1;
  if (args.size() == 3 && args[0] == "--scale") {
    scale = std::strtoul(args[1].c_str(), nullptr, 10);
    args.erase(args.begin(), args.begin() + 2);
  }
  // An argument that looks like an option is never taken for OUTPUT's name
  // (./--x names such a file).
  if (args.size() != 1 || scale < 1 ||
      (args[0].size() > 1 && args[0][0] == '-')) {
    std::cerr << kUsage;
    return 2;
  }
  // Lengthen the model names until the script has its size: each padding
  // letter adds two bytes (one per header that names the drive, mostly one).
  size_t lines = 0;
  size_t padding = 0;
  std::string bytes = Generate(padding, &lines);
  while (bytes.size() < kTargetBytes) {
    padding += (kTargetBytes - bytes.size()) / 2 / 2 + 1;
    bytes = Generate(padding, &lines);
  }
  while (bytes.size() > kTargetBytes && padding > 0) {
    --padding;
    bytes = Generate(padding, &lines);
  }
  if (bytes.size() != kTargetBytes || lines != kTargetLines) {
    std::cerr << "gendb: made " << bytes.size() << " bytes in " << lines
              << " lines, not " << kTargetBytes << " in " << kTargetLines
              << "\n";
    return 1;
  }
  if (scale > 1)
    bytes = Generate(padding, &lines, scale);
  return WriteOutput("gendb", args[0], bytes) ? 0 : 1;
}
