// A release as administrators deploy it, under Wine: signed programs
// (packed by drvdb, signed by a signing tool with a certificate made here,
// verified, and run with Wine's real registry), and the guide's batch
// example run by Wine's cmd.

#include <unistd.h>

#include <algorithm>
#include <string>

#include "tools/drvdb/front/exit_status.h"
#include "tests/runners.h"
#include "tools/drvdb/engine/program_file.h"

namespace {

const char kMorvelan[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan";

// A small database whose script is `extra` bytes longer than the shortest:
// every second byte a character more, an odd byte (which the program
// ignores) for odd lengths.
std::string ScriptOfLength(int extra) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
      "\"DriverVersion\"=dword:00000047\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\MAPPINGS\\HL-DT-ST]\r\n"
      "\"load1\"=\"MMC-Writer" + std::string(extra / 2, 'x') + "\"\r\n";
  std::string bytes = EncodeUtf16Script(text);
  if (extra % 2)
    bytes.push_back('\x41');
  return bytes;
}

}  // namespace

// For every length modulo eight: the signed program verifies, installs (0),
// then finds itself current (1), and writes the unsigned program's tree.
// The sample database alone happens to pack to a multiple of eight.
TEST(UnderWine, SignedProgramsInstallLikeUnsignedOnes) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  if (!Have("osslsigncode") || !Have("openssl"))
    GTEST_SKIP() << "osslsigncode or openssl is not installed";
  WineRunner runner;
  const std::string dir = runner.Folder();
  Signer signer(dir);
  const std::string unsignedExe = dir + "/unsigned.exe";
  const std::string signedExe = dir + "/signed.exe";
  for (int extra = 0; extra < 8; ++extra) {
    SCOPED_TRACE("script of " + std::to_string(extra) + " more bytes");
    WriteFile(dir + "/db.reg", ScriptOfLength(extra));
    Process pack = RunProcess({DRVDB_PROGRAM, "pack", "--quiet",
                               runner.Image(), dir + "/db.reg", unsignedExe},
                              {});
    ASSERT_EQ(pack.status, Code(Exit::kOk)) << pack.err;
    const std::string packed = ReadBinaryFile(unsignedExe);

    runner.Prepare("");
    EXPECT_EQ(runner.RunProgram(unsignedExe, "", "").status, ExitStatusOf(kOutcomeUpdated));
    const std::string expected = runner.Dump({kMorvelan});

    Process sign = signer.Sign(unsignedExe, signedExe);
    ASSERT_EQ(sign.status, 0) << sign.err;
    Process verify = signer.Verify(signedExe);
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    // No padding before the table, and the payload exactly as packed.
    const std::string signedBytes = ReadBinaryFile(signedExe);
    EXPECT_EQ(FindCertificateTable(signedBytes).at, packed.size());
    const size_t imageSize = ReadBinaryFile(runner.Image()).size();
    EXPECT_EQ(signedBytes.compare(imageSize, packed.size() - imageSize, packed,
                                  imageSize, packed.size() - imageSize),
              0);

    runner.Prepare("");
    EXPECT_EQ(runner.RunProgram(signedExe, "", "").status, ExitStatusOf(kOutcomeUpdated));
    EXPECT_EQ(runner.Dump({kMorvelan}), expected);
    EXPECT_EQ(runner.RunProgram(signedExe, "", "").status, ExitStatusOf(kOutcomeAlreadyCurrent));
  }

  // A damaged entry: the program reads from the file's real end, where the
  // table's last bytes stand as its length, and changes nothing.
  const std::string good = ReadBinaryFile(signedExe);
  const CertificateTable table = FindCertificateTable(good);
  const uint32_t at = static_cast<uint32_t>(table.at);
  const uint32_t size = static_cast<uint32_t>(table.size);
  const uint32_t fileSize = static_cast<uint32_t>(good.size());
  struct Damage {
    const char* what;
    uint32_t at, size;
  };
  const Damage damages[] = {
      {"no entry", 0, 0},
      {"an entry past the end", at, size + 8},
      {"a table that ends before the end", at, size - 8},
      {"an offset and size that overflow", 0xfffffff0u, fileSize + 0x10},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::string file = good;
    ASSERT_TRUE(SetCertificateEntry(&file, d.at, d.size));
    const int expected = OutcomeByTheRules(file);
    EXPECT_TRUE(expected == -1 || expected == -2) << expected;
    runner.Prepare("");
    const std::string before = runner.Dump({kMorvelan});
    EXPECT_EQ(runner.RunBytes(file, "").status, expected & 0xff);
    EXPECT_EQ(runner.Dump({kMorvelan}), before) << "the registry changed";
  }
}

// The administrators' batch file, taken from their guide itself, run by
// Wine's cmd beside each kind of program: it ends with 0 for both
// successes and with the program's own code for every failure, and says
// which.
TEST(UnderWine, GuideBatchFileTellsSuccessFromFailure) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  const std::string guide = ReadBinaryFile(std::string(DRVSETUP_SOURCE_DIR) +
                                           "/docs/deploying.md");
  const std::string marker = "<!-- file: install.cmd -->\n```bat\n";
  const size_t open = guide.find(marker);
  ASSERT_NE(open, std::string::npos) << "no batch file in the guide";
  const size_t start = open + marker.size();
  const std::string example =
      guide.substr(start, guide.find("```", start) - start);
  std::string batch;
  for (char c : example)
    batch += c == '\n' ? std::string("\r\n") : std::string(1, c);

  WineRunner runner;
  const std::string dir = runner.Folder();
  WriteFile(dir + "/deploy.cmd", batch);
  std::string windowsPath = "Z:" + dir + "/deploy.cmd";
  std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
  const std::string image = ReadBinaryFile(runner.Image());
  std::string corrupt = PackedImage(ScriptFor(Payload::kShipped), image);
  corrupt.replace(corrupt.size() - 4, 4, std::string("\xf0\xff\xff\x7f", 4));
  struct Step {
    const char* what;
    std::string program;
    const char* says;
    int status;
  };
  const Step steps[] = {
      {"a failing import", PackedImage(ScriptFor(Payload::kFailingImport), image),
       "drive database failed (exit code -3)",
       ExitStatusOf(kOutcomeInstallFailed)},
      {"a first install", ReadBinaryFile(runner.Shipped()),
       "drive database updated (exit code 0)", 0},
      {"a second run", ReadBinaryFile(runner.Shipped()),
       "drive database already current (exit code 1)", 0},
      {"a damaged program", corrupt, "drive database failed (exit code -1)",
       ExitStatusOf(kOutcomePayloadUnreadable)},
      {"no version line", PackedImage(ScriptFor(Payload::kNoVersionLine), image),
       "drive database failed (exit code -2)",
       ExitStatusOf(kOutcomeVersionInvalid)},
  };
  runner.Prepare("");
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    WriteFile(dir + "/drvsetup.exe", step.program, true);
    Process p = runner.Wine({"cmd", "/c", windowsPath});
    EXPECT_EQ(p.out, std::string(step.says) + "\r\n") << p.err;
    EXPECT_EQ(p.status, step.status) << p.out << p.err;
  }
}

// From the registry editor's export of an installed database to the next
// release and back: the export passes the gate with --werror, a raised
// version packs against the shipped program, installs under Wine, and the
// editor then exports exactly the raised script.
TEST(UnderWine, RegistryEditorExportRoundTrips) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  WineRunner runner;
  const std::string dir = runner.Folder();
  auto exportTo = [&](const std::string& name) {
    unlink((dir + "/" + name).c_str());
    std::string path = "Z:" + dir + "/" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    Process p = runner.Wine({"regedit", "/e", path,
                             "HKEY_LOCAL_MACHINE\\Software\\morvelan\\DRIVER2"});
    EXPECT_EQ(p.status, 0) << p.err;
    return ReadBinaryFile(dir + "/" + name);
  };
  runner.Prepare("");
  ASSERT_EQ(runner.RunProgram(runner.Shipped(), "", "").status, ExitStatusOf(kOutcomeUpdated));
  const std::string exported = exportTo("export.reg");
  Process check = RunProcess({DRVDB_PROGRAM, "check", "--werror",
                              dir + "/export.reg"}, {});
  EXPECT_EQ(check.status, Code(Exit::kOk)) << check.out << check.err;

  const std::string from = EncodeUtf16Script("\"DriverVersion\"=dword:00000047")
                               .substr(2);
  const std::string to = EncodeUtf16Script("\"DriverVersion\"=dword:00000048")
                             .substr(2);
  std::string raised = exported;
  const size_t at = raised.find(from);
  ASSERT_NE(at, std::string::npos) << "no version line in the export";
  raised.replace(at, from.size(), to);
  WriteFile(dir + "/raised.reg", raised);
  Process pack = RunProcess(
      {DRVDB_PROGRAM, "pack", "--newer-than", runner.Shipped(), runner.Image(),
       dir + "/raised.reg", dir + "/raised.exe"},
      {});
  ASSERT_EQ(pack.status, Code(Exit::kOk)) << pack.err;
  EXPECT_NE(pack.err.find("version 71 (dword:00000047) -> 72 "
                          "(dword:00000048)"),
            std::string::npos) << pack.err;
  EXPECT_EQ(runner.RunProgram(dir + "/raised.exe", "", "").status, ExitStatusOf(kOutcomeUpdated));
  EXPECT_TRUE(exportTo("again.reg") == raised)
      << "the second export differs from the raised script";
}

// The non-NT family: Wine reports Windows 98 to the program alone (its
// AppDefaults entry), so that Wine's own tools still run as the NT family.
// The program then takes its ANSI module path, opens its file with sharing
// 3 and removes the database with RegDeleteKeyA.
//
// Wine's RegDeleteKeyA differs from the non-NT family's here: it deletes
// the subkeys recursively, but sets its name buffer's size once before its
// loop, so it stops at the first subkey whose name is longer than the one
// before it (in the registry's order) and leaves that one and the rest.
// Names that never grow longer all go.
TEST(UnderWine, NonNtFamily) {
  if (!WineAvailable())
    GTEST_SKIP() << "no win64 build given";
  WineRunner runner;
  const std::string dir = runner.Folder();
  const std::string program = dir + "/win98.exe";
  runner.ReportWindows98To("win98.exe");
  const std::string shipped = ReadBinaryFile(runner.Shipped());
  auto run = [&](const std::string& bytes) {
    WriteFile(program, bytes, true);
    return runner.RunProgram(program, "", "").status;
  };

  runner.Prepare("");
  ASSERT_EQ(runner.RunProgram(runner.Shipped(), "", "").status, ExitStatusOf(kOutcomeUpdated));
  const std::string ntTree = runner.Dump({kMorvelan});
  runner.Prepare("");
  EXPECT_EQ(run(shipped), 0);
  EXPECT_EQ(runner.Dump({kMorvelan}), ntTree) << "the trees differ";
  EXPECT_EQ(run(shipped), 1);
  std::string corrupt = shipped;
  corrupt.replace(corrupt.size() - 4, 4, std::string("\xf0\xff\xff\x7f", 4));
  EXPECT_EQ(run(corrupt), ExitStatusOf(kOutcomePayloadUnreadable));

  // An update over an older database, on trees built to show Wine's rule,
  // by a small database (Wine deletes a large tree slowly).
  const std::string small = PackedImage(
      EncodeUtf16Script("[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
                        "\"DriverVersion\"=dword:00000047\r\n"),
      ReadBinaryFile(runner.Image()));
  struct Stale {
    const char* what;
    std::vector<std::string> names;  // below DRIVER2, in the registry's order
    std::vector<std::string> left;   // what Wine's deletion leaves
  };
  const Stale cases[] = {
      {"names that never grow longer", {"AAAA", "BBB", "CC", "D"}, {}},
      {"a nested tree", {"STALE\\SUB", "STALE\\SUB\\X"}, {}},
      {"a longer name stops it", {"AA", "B", "CCCC"}, {"CCCC"}},
  };
  for (const Stale& c : cases) {
    SCOPED_TRACE(c.what);
    std::string old =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2]\r\n"
        "\"DriverVersion\"=dword:00000046\r\n";
    for (const std::string& name : c.names)
      old += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\morvelan\\DRIVER2\\" + name +
             "]\r\n\"stale\"=\"1\"\r\n";
    for (bool nonNt : {true, false}) {
      runner.Prepare(old);
      EXPECT_EQ(nonNt ? run(small) : runner.RunBytes(small, "").status,
              ExitStatusOf(kOutcomeUpdated));
      std::string tree = runner.Dump({kMorvelan});
      for (const std::string& name : c.names) {
        std::string line = std::string("[") + kMorvelan + "\\DRIVER2\\" +
                           name + "]\n";
        bool leftByWine = nonNt && std::find(c.left.begin(), c.left.end(),
                                             name) != c.left.end();
        EXPECT_EQ(tree.find(line) != std::string::npos, leftByWine)
            << name << (nonNt ? " (non-NT)" : " (NT)");
      }
    }
  }
}
