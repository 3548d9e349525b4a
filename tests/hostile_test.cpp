// Hostile payloads, end to end: one table, run by the native program and by
// the Windows program under Wine. Each case ends with the outcome the rules
// give, no crash and no hang, and no registry change beyond what the rules
// allow; the time and peak memory of every run are printed.
//
// Where Wine's registry differs from the documented one, the table gives
// each side its own outcome and says why. A file shorter than its trailer
// cannot be started by either loader; the payload reader's own test covers
// it.

#include <stdio.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "payload/container.h"
#include "payload/payload_io_host.h"
#include "setup/message_box_host.h"
#include "setup/setup_run.h"
#include "tests/runners.h"
#include "tools/drvdb/engine/program_file.h"

namespace {

const char kHostile[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan";
const char kVersionSection[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
    "\"DriverVersion\"=dword:00000047\r\n";
const char kHeader[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\H";
const char kDriver2[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2";
const char kH[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\H";

std::string Utf16(const std::string& ascii, bool mark = true) {
  std::string bytes = mark ? "\xff\xfe" : "";
  AppendUtf16(&bytes, ascii);
  return bytes;
}

std::string Packed(const std::string& image, const std::string& script) {
  return PackProgram(image, script, false);
}

// A packed program whose trailer then says length.
std::string WithLength(const std::string& image, uint32_t length) {
  std::string file = Packed(image, Utf16(kVersionSection));
  for (int i = 0; i < 4; ++i)
    file[file.size() - 4 + i] = static_cast<char>(length >> (8 * i));
  return file;
}

std::string Levels(size_t count, const std::string& name) {
  std::string path;
  for (size_t i = 0; i < count; ++i)
    path += "\\" + name;
  return path;
}

// The outcome as the program's own logic gives it on a fresh stand-in.
const int kByTheRules = 1000;

struct Hostile {
  const char* name;
  std::string (*build)(const std::string& image);
  int native;  // expected outcome, or kByTheRules
  int wine;
  const char* why;  // when the two differ
  // What must hold afterwards: a key, a value in it ("" for the key alone),
  // and what ValueSize finds; key "" when only the outcome's own rule
  // applies.
  const char* key;
  const char* value;
  const char* found;
  uint32_t length = 0;  // without build: the packed version section, with
                        // a trailer saying this length
};

const Hostile kCases[] = {
    {"N = 0", [](const std::string& image) { return Packed(image, ""); },
     -2, -2, nullptr, "", "", ""},
    {"N = 1", [](const std::string& image) { return Packed(image, "\xff"); },
     -2, -2, nullptr, "", "", ""},
    {"N = 2", [](const std::string& image) { return Packed(image, "\xff\xfe"); },
     -2, -2, nullptr, "", "", ""},
    {"N = 3", [](const std::string& image) {
       return Packed(image, "\xff\xfe[");
     }, -2, -2, nullptr, "", "", ""},
    {"N odd", [](const std::string& image) {
       return Packed(image, Utf16(kVersionSection) + "\x41");
     }, 0, 0, nullptr, kDriver2, "DriverVersion", "4"},
    {"N + 4 is the file size", [](const std::string& image) {
       return WithLength(image, static_cast<uint32_t>(
                                    image.size() + Utf16(kVersionSection).size()));
     }, kByTheRules, kByTheRules, nullptr, "", "", ""},
    {"N + 4 one past the file size", [](const std::string& image) {
       return WithLength(image, static_cast<uint32_t>(
                                    image.size() + Utf16(kVersionSection).size() + 1));
     }, -1, -1, nullptr, "", "", ""},
    {"N = 2^31 - 4", nullptr, -1, -1, nullptr, "", "", "", 0x7ffffffcu},
    {"N = 2^31", nullptr, -1, -1, nullptr, "", "", "", 0x80000000u},
    {"N = 2^32 - 4", nullptr, -1, -1, nullptr, "", "", "", 0xfffffffcu},
    {"N = 2^32 - 1", nullptr, -1, -1, nullptr, "", "", "", 0xffffffffu},
    // The first unit is dropped whatever it holds: here the W of the first
    // line, which nothing reads.
    {"no byte-order mark", [](const std::string& image) {
       return Packed(image, Utf16("Windows Registry Editor Version 5.00\r\n" +
                                  std::string(kVersionSection), false));
     }, 0, 0, nullptr, kDriver2, "DriverVersion", "4"},
    {"big-endian mark", [](const std::string& image) {
       std::string le = Utf16(kVersionSection), be;
       for (size_t i = 0; i + 1 < le.size(); i += 2)
         be += std::string{le[i + 1], le[i]};
       return Packed(image, be);
     }, -2, -2, nullptr, "", "", ""},
    {"a NUL unit in the middle", [](const std::string& image) {
       return Packed(image, Utf16(kVersionSection) + std::string(2, '\0') +
                                Utf16(std::string(kHeader) +
                                      "]\r\n\"after\"=\"x\"\r\n", false));
     }, 0, 0, nullptr, kH, "", "no key"},
    {"a 50 MB script", [](const std::string& image) {
       std::string text = kVersionSection;
       std::string comment = "; " + std::string(250, 'c') + "\r\n";
       while (text.size() < 25u * 1000 * 1000)
         text += comment;
       return Packed(image, Utf16(text + kHeader + "]\r\n\"last\"=\"1\"\r\n"));
     }, 0, 0, nullptr, kH, "last", "2"},
    {"a single 10 MB line", [](const std::string& image) {
       return Packed(image, Utf16(std::string(kVersionSection) + kHeader +
                                  "]\r\n\"big\"=\"" +
                                  std::string(5000000, 'x') + "\"\r\n"));
     }, 0, 0, nullptr, kH, "big", "5000001"},
    {"1,000,000 escapes in one value", [](const std::string& image) {
       std::string escapes;
       for (int i = 0; i < 1000000; ++i)
         escapes += "\\\\";
       return Packed(image, Utf16(std::string(kVersionSection) + kHeader +
                                  "]\r\n\"esc\"=\"" + escapes + "\"\r\n"));
     }, 0, 0, nullptr, kH, "esc", "1000001"},
    // Outside the database, so that no later removal has to delete them
    // (Wine deletes keys in time quadratic in their number).
    {"200,000 sections", [](const std::string& image) {
       std::string text = kVersionSection;
       char name[16];
       for (int i = 0; i < 200000; ++i) {
         snprintf(name, sizeof(name), "%06d", i);
         text += std::string("[HKEY_CURRENT_USER\\DRVSETUP-HOSTILE\\") + name +
                 "]\r\n\"v\"=\"1\"\r\n";
       }
       return Packed(image, Utf16(text));
     }, 0, 0, nullptr, "HKEY_CURRENT_USER\\DRVSETUP-HOSTILE\\199999", "v", "2"},
    {"a key name of 255 characters", [](const std::string& image) {
       return Packed(image, Utf16(std::string(kVersionSection) +
                                  "[HKEY_CURRENT_USER\\" +
                                  std::string(255, 'k') + "]\r\n"));
     }, 0, 0, nullptr, "", "", ""},
    {"a key name of 256 characters", [](const std::string& image) {
       return Packed(image, Utf16(std::string(kVersionSection) +
                                  "[HKEY_CURRENT_USER\\" +
                                  std::string(256, 'k') + "]\r\n"));
     }, 0, 0,
     "Windows documents 255 as the limit; the stand-in follows Wine, which "
     "takes 256", "", "", ""},
    {"a key name of 257 characters", [](const std::string& image) {
       return Packed(image, Utf16(std::string(kVersionSection) +
                                  "[HKEY_CURRENT_USER\\" +
                                  std::string(257, 'k') + "]\r\n"));
     }, -3, -3, nullptr, "", "", ""},
    {"a key path of 100,000 characters", [](const std::string& image) {
       return Packed(image, Utf16(std::string(kVersionSection) + kHeader +
                                  Levels(500, std::string(199, 'p')) +
                                  "]\r\n"));
     }, -3, -3,
     "the stand-in refuses more than 32 new levels at once, as documented; "
     "Wine refuses ANSI subkey paths over 260 characters", "", "", ""},
    {"600 levels", [](const std::string& image) {
       // Thirty levels a header, as far as the registry goes.
       std::string text = kVersionSection, path = kHeader;
       for (int i = 0; i < 20; ++i) {
         path += Levels(30, "L");
         text += path + "]\r\n";
       }
       return Packed(image, Utf16(text));
     }, -3, -3,
     "the stand-in stops at level 513, as documented; Wine stops where the "
     "ANSI subkey path passes 260 characters", "", "", ""},
    {"a new key directly under HKEY_LOCAL_MACHINE", [](const std::string& image) {
       return Packed(image, Utf16(std::string(kVersionSection) +
                                  "[HKEY_LOCAL_MACHINE\\DRVSETUP-HOSTILE]\r\n"));
     }, -3, 0,
     "documented to fail; Wine allows it", "", "", ""},
    // An integrity record that does not match: each -1, nothing touched.
    {"a record whose digest does not match", [](const std::string& image) {
       std::string file = PackProgram(image, Utf16(kVersionSection), true, true);
       file[image.size() + kRecordDigestAt] ^= 1;
       return file;
     }, -1, -1, nullptr, "", "", ""},
    {"a record whose end is not the file's", [](const std::string& image) {
       return PackProgram(image, Utf16(kVersionSection), true, true) + "x";
     }, -1, -1, nullptr, "", "", ""},
    {"a record whose length is not the trailer's", [](const std::string& image) {
       std::string file = PackProgram(image, Utf16(kVersionSection), true, true);
       file[image.size() + 12] ^= 2;
       return file;
     }, -1, -1, nullptr, "", "", ""},
    {"random bytes", [](const std::string& image) {
       std::mt19937 random(20261208);
       std::string bytes = image;
       for (int i = 0; i < 65536; ++i)
         bytes.push_back(static_cast<char>(random()));
       return bytes;
     }, kByTheRules, kByTheRules, nullptr, "", "", ""},
    {"random script", [](const std::string& image) {
       std::mt19937 random(8121962);
       std::string script = "\xff\xfe";
       for (int i = 0; i < 65536; ++i)
         script.push_back(static_cast<char>(random()));
       return Packed(image, script);
     }, kByTheRules, kByTheRules, nullptr, "", "", ""},
};

std::string ValueSize(Runner* runner, const Hostile& c) {
  std::string dump = runner->Dump({c.key});
  std::string key = std::string("[") + c.key + "]\n";
  if (dump.compare(0, key.size(), key) != 0)
    return "no key";
  if (!*c.value)
    return "key";
  size_t line = dump.find("\"" + std::string(c.value) + "\"=");
  size_t next = dump.find("\n[", 1);
  if (line == std::string::npos || (next != std::string::npos && line > next))
    return "no value";
  size_t colon = dump.find("):", line) + 2;
  size_t end = dump.find('\n', colon);
  return std::to_string((end - colon + 1) / 3);  // "xx," per byte
}

void RunTable(Runner* runner) {
  const std::string image = ReadBinaryFile(runner->Image());
  for (const Hostile& c : kCases) {
    SCOPED_TRACE(c.name);
    runner->Prepare("");
    std::string file = c.build ? c.build(image) : WithLength(image, c.length);
    int expected = runner->UnderWine() ? c.wine : c.native;
    if (expected == kByTheRules)
      expected = OutcomeByTheRules(file);
    std::string before = runner->Dump({kHostile});
    Process p = runner->RunBytes(file, "-ns -ne");
    printf("  %-45s %s: exit %4d  %7.2f s  %7ld KB  (file %zu bytes)\n",
           c.name, runner->UnderWine() ? "wine  " : "native", p.status,
           p.seconds, p.maxRssKb, file.size());
    fflush(stdout);
    EXPECT_EQ(p.status, expected & 0xff) << p.err;
    if (expected == -1 || expected == -2 || expected == 1) {
      EXPECT_TRUE(runner->Dump({kHostile}) == before)
          << "the registry changed";
    } else if (expected == -3) {
      EXPECT_EQ(runner->Dump({kHostile}).find("\"DriverVersion\"="),
                std::string::npos)
          << "a failed run left its version";
    }
    if (*c.key && expected == 0) {
      EXPECT_EQ(ValueSize(runner, c), c.found);
    }
  }
  if (runner->UnderWine()) {
    static_cast<WineRunner*>(runner)->RegDump(
        {"delete", "HKEY_LOCAL_MACHINE\\DRVSETUP-HOSTILE",
         "HKEY_CURRENT_USER\\" + std::string(255, 'k'),
         "HKEY_CURRENT_USER\\" + std::string(256, 'k')});
  }
  runner->Prepare("");
}

// ---- Damaged copies ------------------------------------------------------------

// A program file as packed, with where its parts are.
struct Copy {
  std::string bytes;
  size_t imageEnd;
  size_t scriptAt;  // the script's first byte
};

Copy Parts(const std::string& bytes) {
  uint64_t end = 0;
  FindImageEnd(bytes, &end);
  AppendedPayload payload = ReadAppendedPayload(bytes);
  return Copy{bytes, static_cast<size_t>(end),
              bytes.size() - 4 - payload.length -
                  (payload.table.state == CertificateTable::kAtEnd
                       ? payload.table.size
                       : 0)};
}

struct DamageCase {
  const char* what;
  bool needsSigning;  // PE files only: ELF programs are not signed
  // Damages a copy (signed first when needsSigning); false when it cannot.
  std::function<bool(Copy*)> damage;
  int today;  // what a copy without the record (today's) ends with
  int now;    // and with the record
  const char* note;
};

const DamageCase kDamages[] = {
    {"one bit of the image that nothing reads (icon pixels, or ELF's "
     "compiler note)", false,
     [](Copy* c) {
       // The first icon image's pixels, after its header and palette.
       const std::string icon =
           ReadBinaryFile(DRVSETUP_SOURCE_DIR "/setup/drvsetup.ico");
       const size_t image = static_cast<unsigned char>(icon[18]) |
                            static_cast<unsigned char>(icon[19]) << 8;
       size_t at = c->bytes.find(icon.substr(image + 40 + 64 + 64, 16));
       if (at == std::string::npos)
         at = c->bytes.find("GCC: (");  // not loaded by the ELF loader
       if (at == std::string::npos || at >= c->imageEnd)
         return false;
       c->bytes[at + 3] ^= 0x20;
       return true;
     },
     0, -1, ""},
    {"one bit of the script (a letter of a drive's key name)", false,
     [](Copy* c) {
       std::string mappings;
       AppendUtf16(&mappings, "\\MAPPINGS\\");
       size_t at = c->bytes.find(mappings, c->scriptAt);
       if (at == std::string::npos)
         return false;
       c->bytes[at + mappings.size()] ^= 0x01;
       return true;
     },
     0, -1, ""},
    {"one bit of the record's digest", false,
     [](Copy* c) {
       if (c->bytes.compare(c->imageEnd, 8, kRecordMarker) != 0)
         return true;  // today's copy has no record to damage
       c->bytes[c->imageEnd + kRecordDigestAt] ^= 0x40;
       return true;
     },
     0, -1, "today's copy has no record: it stays whole"},
    {"one bit of the record's marker", false,
     [](Copy* c) {
       if (c->bytes.compare(c->imageEnd, 8, kRecordMarker) == 0)
         c->bytes[c->imageEnd + 2] ^= 0x01;
       return true;
     },
     0, 0, "read as a copy without a record: the intact script installs"},
    {"one bit of the length", false,
     [](Copy* c) {
       c->bytes[c->bytes.size() - 4] ^= 0x02;
       return true;
     },
     0, -1, ""},
    {"cut by one byte", false,
     [](Copy* c) {
       c->bytes.pop_back();
       return true;
     },
     -1, -1, ""},
    {"cut into a signed program's certificate table", true,
     [](Copy* c) {
       c->bytes.resize(c->bytes.size() - 100);
       return true;
     },
     -1, -1, ""},
    {"cut in half", false,
     [](Copy* c) {
       c->bytes.resize(c->bytes.size() / 2);
       return true;
     },
     -1, -1, ""},
};

// Each damage, to a copy with the record and to one without it, on a
// machine with an older database: the copy with the record ends -1 and
// leaves the registry as it was.
void RunDamages(Runner* runner) {
  const std::string shipped = ReadBinaryFile(runner->Shipped());
  const Copy withRecord = Parts(shipped);
  ASSERT_EQ(withRecord.bytes.compare(withRecord.imageEnd, 8, kRecordMarker), 0)
      << "the shipped program carries no record";
  const std::string script = shipped.substr(
      withRecord.scriptAt, shipped.size() - 4 - withRecord.scriptAt);
  const std::string image = shipped.substr(0, withRecord.imageEnd);
  const Copy today = Parts(PackProgram(image, script, true));
  std::unique_ptr<Signer> signer;
  if (runner->UnderWine() && Have("osslsigncode") && Have("openssl"))
    signer.reset(new Signer(runner->Folder()));
  auto sign = [&](Copy copy) {
    WriteFile(runner->Folder() + "/unsigned.exe", copy.bytes);
    Process p = signer->Sign(runner->Folder() + "/unsigned.exe",
                             runner->Folder() + "/signed.exe");
    EXPECT_EQ(p.status, 0) << p.err;
    return Parts(ReadBinaryFile(runner->Folder() + "/signed.exe"));
  };
  printf("  %-62s %s: %5s %5s\n", "damage", runner->UnderWine() ? "wine  " : "native",
         "today", "now");
  for (const DamageCase& d : kDamages) {
    SCOPED_TRACE(d.what);
    if (d.needsSigning && !signer) {
      printf("  %-62s %s: not signed here%s\n", d.what,
             runner->UnderWine() ? "wine  " : "native",
             runner->UnderWine() ? " (no osslsigncode)" : " (an ELF program)");
      continue;
    }
    int outcome[2];
    for (int record = 0; record < 2; ++record) {
      Copy copy = record ? withRecord : today;
      if (d.needsSigning)
        copy = sign(copy);
      ASSERT_TRUE(d.damage(&copy));
      runner->Prepare(kOlderDatabase);
      const std::string before = runner->Dump({kHostile});
      Process p = runner->RunBytes(copy.bytes, "-ns -ne");
      // A crash or a hang shows as -999, never as one of the outcomes.
      outcome[record] = p.status < 0 ? -999 : static_cast<int8_t>(p.status);
      if (record && d.now == -1) {
        EXPECT_TRUE(runner->Dump({kHostile}) == before)
            << "a damaged copy changed the registry";
      }
    }
    printf("  %-62s %s: %5d %5d  %s\n", d.what,
           runner->UnderWine() ? "wine  " : "native", outcome[0], outcome[1],
           d.note);
    EXPECT_EQ(outcome[0], d.today);
    EXPECT_EQ(outcome[1], d.now);
  }
  runner->Prepare("");
}

}  // namespace

TEST(Hostile, DamagedCopiesOfTheNativeProgram) {
  HostRunner runner;
  RunDamages(&runner);
}

TEST(UnderWine, DamagedCopies) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  WineRunner runner;
  RunDamages(&runner);
}

TEST(Hostile, NativeProgram) {
  HostRunner runner;
  RunTable(&runner);
}

TEST(Hostile, WindowsProgramUnderWine) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  WineRunner runner;
  RunTable(&runner);
}
