// harness: measures the setup program against its peers and the floor, on
// the host and under Wine, and prints the figures, the targets and a chart.
// bench/run.sh prepares its inputs and calls it; see there.
//
//   harness WORK SCALES REPETITIONS [UPDATE_SCALES]
//
// WORK holds, for each scale S of SCALES (comma-separated): db-S.reg,
// db-old-S.reg, del-S.reg, drvsetup-S (native), drvsetup-S.exe and
// drvsetup-old-S.exe (win64), floor-S.tbl; and core, floor.exe, empty.exe,
// empty_crt.exe, empty_manifest.exe, remove.exe, delete-only.reg. It writes
// WORK/results.md and WORK/results.svg.

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/process_support.h"

namespace {

std::string g_work;
std::string g_prefix;
std::vector<std::string> g_failed;  // failed runs, left out of the medians
const char kWine[] = "/usr/lib/wine/wine64";
const char kServer[] = "/usr/lib/wine/wineserver";

// Runs argv in folder (output captured when asked); the exit status. The
// tests' one process helper, waiting without a time limit, so that the
// time of each run is exact and no other process is counted in it.
int Run(const std::vector<std::string>& argv, const std::string& folder = "",
        std::string* output = nullptr, double* seconds = nullptr) {
  RunOptions options;
  options.timeoutSeconds = 0;
  options.folder = folder;
  options.peakMemory = false;
  Process p = RunProcessWith(argv, options);
  if (output)
    *output = p.out + p.err;
  if (seconds)
    *seconds = p.seconds;
  return p.status;
}

double Timed(const std::vector<std::string>& argv, int* status,
             const std::string& folder = "") {
  double seconds = 0;
  *status = Run(argv, folder, nullptr, &seconds);
  return seconds;
}

double Median(std::vector<double> values) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

size_t FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<size_t>(info.st_size)
                                        : 0;
}

std::string Fixed(double value, int digits) {
  char text[32];
  snprintf(text, sizeof(text), "%.*f", digits, value);
  return text;
}

// ---- Wine ---------------------------------------------------------------------

const char* const kHiveFiles[] = {"system.reg", "user.reg", "userdef.reg"};

void Shell(const std::string& command) {
  if (system(command.c_str()) != 0)
    fprintf(stderr, "harness: failed: %s\n", command.c_str());
}

void StartServer() {
  Run({kServer, "-p"});
  int status;
  Timed({kWine, g_work + "/empty.exe"}, &status, g_work);  // services up
}

// Stops the server the gentle way, which saves the registry and also ends
// the prefix's own processes (a killed server leaves them running).
void StopServer() {
  Run({kServer, "-k"});
  Run({kServer, "-w"});
}

// Copies the registry's files between the prefix and a copy saved under a
// name, while the server is stopped (it writes them when it stops).
void CopyRegistry(const std::string& name, bool save) {
  StopServer();
  for (const char* file : kHiveFiles) {
    std::string live = "'" + g_prefix + "/" + file + "'";
    std::string saved = "'" + g_work + "/" + name + "-" + file + "'";
    Shell("cp " + (save ? live + " " + saved : saved + " " + live));
  }
  StartServer();
}

// Saves the registry as it stands under a name.
void Snapshot(const std::string& name) {
  CopyRegistry(name, true);
}

// Brings a saved registry back, under a server started afresh: deleting a
// large tree through the registry itself takes Wine longer than any run
// measured here.
void Restore(const std::string& name) {
  CopyRegistry(name, false);
}

struct Contender {
  std::string name;
  std::vector<std::string> argv;
  std::string state;  // the snapshot each run starts from, or "" for none
  int expect = 0;     // the exit status of a run that went as meant
};

// Alternates the contenders, each repetition in turn; medians in seconds of
// the runs that succeeded (a failed run is reported, not counted).
std::map<std::string, double> Race(const std::string& what,
                                   const std::vector<Contender>& contenders,
                                   int repetitions) {
  std::map<std::string, std::vector<double>> times;
  for (int r = 0; r < repetitions; ++r) {
    for (const Contender& c : contenders) {
      if (!c.state.empty())
        Restore(c.state);
      int status;
      double t = Timed(c.argv, &status, g_work);
      if (status != c.expect) {
        fprintf(stderr, "harness: %s exited with %d\n", c.name.c_str(), status);
        g_failed.push_back(what + ", " + c.name + ": exit status " +
                           std::to_string(status));
        continue;
      }
      times[c.name].push_back(t);
    }
    fprintf(stderr, ".");
  }
  fprintf(stderr, "\n");
  std::map<std::string, double> medians;
  for (const auto& t : times)
    medians[t.first] = Median(t.second);
  return medians;
}

// ---- Output -------------------------------------------------------------------

struct Figures {
  size_t scriptBytes = 0;
  double coreNs = 0, coreIrPerByte = 0;
  double nativeFirst = 0, nativeSecond = 0;
  double nativeCheck = 0;  // the integrity check alone, in-process
  double wineCheck = 0;    // the same on the win64 program, under Wine
  long nativeRss = 0, nativeRssSecond = 0;
  std::map<std::string, double> install, update;
};

const char* const kSeries[] = {"ours", "regedit /s", "reg import", "floor"};

// The chart's frame: both axes logarithmic, from the figures' extremes.
struct Chart {
  double lowX = 1e300, highX = 0, lowY = 1e300, highY = 0;
  const double w = 640, h = 400, left = 70, bottom = 50, right = 150, up = 40;
  double X(double bytes) const {
    return left + (w - left - right) * std::log10(bytes / lowX) /
                      std::log10(highX / lowX);
  }
  double Y(double seconds) const {
    return h - bottom - (h - bottom - up) * std::log10(seconds / lowY) /
                            std::log10(highY / lowY);
  }
};

// The grid: a line at every power of ten of the time, and at every scale.
void SvgGrid(const Chart& c, const std::vector<int>& scales,
             const std::map<int, Figures>& figures, std::ostream& svg) {
  for (double t = c.lowY; t <= c.highY * 1.001; t *= 10) {
    svg << "<line x1=\"" << c.left << "\" y1=\"" << c.Y(t) << "\" x2=\""
        << c.w - c.right << "\" y2=\"" << c.Y(t) << "\" stroke=\"#dddddd\"/>\n"
        << "<text x=\"" << c.left - 6 << "\" y=\"" << c.Y(t) + 4
        << "\" text-anchor=\"end\">" << (t < 1 ? Fixed(t * 1000, 0) + " ms"
                                             : Fixed(t, 0) + " s")
        << "</text>\n";
  }
  for (int s : scales) {
    double bytes = static_cast<double>(figures.at(s).scriptBytes);
    svg << "<line x1=\"" << c.X(bytes) << "\" y1=\"" << c.up << "\" x2=\""
        << c.X(bytes) << "\" y2=\"" << c.h - c.bottom
        << "\" stroke=\"#dddddd\"/>\n"
        << "<text x=\"" << c.X(bytes) << "\" y=\"" << c.h - c.bottom + 18
        << "\" text-anchor=\"middle\">" << s << "x, "
        << Fixed(bytes / 1e6, bytes < 1e6 ? 2 : 1) << " MB</text>\n";
  }
}

// One line per contender, and its key.
void SvgLines(const Chart& c, const std::vector<int>& scales,
              const std::map<int, Figures>& figures, std::ostream& svg) {
  const char* const colours[] = {"#d62728", "#1f77b4", "#2ca02c", "#555555"};
  const char* const dashes[] = {"none", "6,3", "2,3", "10,4"};
  for (int k = 0; k < 4; ++k) {
    std::ostringstream points;
    for (int s : scales)
      if (figures.at(s).install.count(kSeries[k]))
        points << c.X(static_cast<double>(figures.at(s).scriptBytes)) << ","
               << c.Y(figures.at(s).install.at(kSeries[k])) << " ";
    double ly = c.up + 20 + 20 * k;
    svg << "<polyline fill=\"none\" stroke=\"" << colours[k]
        << "\" stroke-width=\"2\" stroke-dasharray=\"" << dashes[k]
        << "\" points=\"" << points.str() << "\"/>\n"
        << "<line x1=\"" << c.w - c.right + 10 << "\" y1=\"" << ly - 4
        << "\" x2=\"" << c.w - c.right + 40 << "\" y2=\"" << ly - 4
        << "\" stroke=\"" << colours[k] << "\" stroke-width=\"2\" "
        << "stroke-dasharray=\"" << dashes[k] << "\"/>\n"
        << "<text x=\"" << c.w - c.right + 46 << "\" y=\"" << ly << "\">"
        << kSeries[k] << "</text>\n";
  }
}

// The chart: median time of a first install against script size, both on
// logarithmic scales, for ours, the peers and the floor.
std::string Svg(const std::vector<int>& scales,
                const std::map<int, Figures>& figures) {
  Chart c;
  for (int s : scales) {
    c.lowX = std::min(c.lowX, static_cast<double>(figures.at(s).scriptBytes));
    c.highX = std::max(c.highX, static_cast<double>(figures.at(s).scriptBytes));
    for (const char* name : kSeries)
      if (figures.at(s).install.count(name)) {
        c.lowY = std::min(c.lowY, figures.at(s).install.at(name));
        c.highY = std::max(c.highY, figures.at(s).install.at(name));
      }
  }
  if (c.highY <= 0 || c.highX <= c.lowX)
    return "";
  c.lowY = std::pow(10, std::floor(std::log10(c.lowY)));
  c.highY = std::pow(10, std::ceil(std::log10(c.highY)));
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << c.w
      << "\" height=\"" << c.h
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << c.w / 2 << "\" y=\"20\" text-anchor=\"middle\">"
      << "First install under Wine: median time against script size "
      << "(both scales logarithmic)</text>\n";
  SvgGrid(c, scales, figures, svg);
  SvgLines(c, scales, figures, svg);
  svg << "</svg>\n";
  return svg.str();
}

// The figures that the chart needs, one line per scale and contender, so
// that the chart can be drawn again without measuring again.
void SaveFigures(const std::string& path, const std::vector<int>& scales,
                 const std::map<int, Figures>& figures) {
  std::ofstream out(path);
  for (int s : scales)
    for (const auto& i : figures.at(s).install)
      out << s << "\t" << figures.at(s).scriptBytes << "\t" << i.first << "\t"
          << i.second << "\n";
}

std::map<int, Figures> LoadFigures(const std::string& path,
                                   std::vector<int>* scales) {
  std::map<int, Figures> figures;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string scale, bytes, name, seconds;
    std::getline(fields, scale, '\t');
    std::getline(fields, bytes, '\t');
    std::getline(fields, name, '\t');
    std::getline(fields, seconds, '\t');
    int s = atoi(scale.c_str());
    if (!figures.count(s))
      scales->push_back(s);
    figures[s].scriptBytes = strtoul(bytes.c_str(), nullptr, 10);
    figures[s].install[name] = atof(seconds.c_str());
  }
  return figures;
}

// The median time of the integrity check alone, in seconds, as the check
// timer run by argv prints it (0 when it fails).
double CheckSeconds(std::vector<std::string> argv) {
  argv.push_back("31");
  std::string out;
  Run(argv, "", &out);
  const char* check = strstr(out.c_str(), "check ");
  return check ? atof(check + 6) / 1e9 : 0;
}

// The host figures at one scale: the core (time, and instructions under
// callgrind) and the native program's runs with their peak memory.
void MeasureHost(int s, int repetitions, Figures* figures) {
  Figures& f = *figures;
  std::string db = g_work + "/db-" + std::to_string(s) + ".reg";
  f.scriptBytes = FileSize(db);
  std::string out;
  Run({g_work + "/core", db, "11"}, "", &out);
  const char* ns = strstr(out.c_str(), "core ");
  f.coreNs = ns ? atof(ns + 5) : 0;
  Run({"valgrind", "--tool=callgrind", "--toggle-collect=ProbeAndImport",
       "--callgrind-out-file=" + g_work + "/callgrind.out",
       g_work + "/core", db, "1"},
      "", &out);
  const char* collected = strstr(out.c_str(), "Collected : ");
  if (collected)
    f.coreIrPerByte = atof(collected + 12) / static_cast<double>(f.scriptBytes);

  std::string program = g_work + "/drvsetup-" + std::to_string(s);
  f.nativeCheck = CheckSeconds({g_work + "/check", program});
  std::string hive = g_work + "/bench.hive";
  setenv("DRVSETUP_HIVE", hive.c_str(), 1);
  std::vector<double> first, second;
  for (int r = 0; r < std::max(repetitions, 15); ++r) {
    unlink(hive.c_str());
    int status;
    first.push_back(Timed({program, "-ns", "-ne"}, &status));
    second.push_back(Timed({program, "-ns", "-ne"}, &status));
  }
  f.nativeFirst = Median(first);
  f.nativeSecond = Median(second);
  unlink(hive.c_str());
  for (long* peak : {&f.nativeRss, &f.nativeRssSecond}) {
    // -q: the second run exits 1, which time would note before the figure
    Run({"/usr/bin/time", "-q", "-f", "%M", "-o", g_work + "/rss.txt",
         program, "-ns", "-ne"});
    std::ifstream rss(g_work + "/rss.txt");
    rss >> *peak;
  }
  unlink(hive.c_str());
  fprintf(stderr, "host %dx done\n", s);
}

// Two copies of a program that the check refuses (-1): one whose record's
// digest is wrong, which the check reads whole before it refuses it, and
// one without a record and with a trailer past the file's start, refused
// before anything is read. Their difference is the integrity check.
void DamagedCopies(const std::string& program, const std::string& checked,
                   const std::string& unchecked) {
  std::ifstream in(program, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)),
                    std::istreambuf_iterator<char>());
  // The last marker is the record's; the image holds the word as well.
  size_t record = bytes.rfind("DRVSETUP");
  if (record == std::string::npos) {
    fprintf(stderr, "harness: %s carries no record\n", program.c_str());
    exit(1);
  }
  std::string refused = bytes;
  refused[record + 16] ^= 1;  // the digest
  std::ofstream(checked, std::ios::binary) << refused;
  refused = bytes;
  refused.replace(record, 8, 8, '\0');
  refused.replace(refused.size() - 4, 4, "\xf0\xff\xff\x7f");
  std::ofstream(unchecked, std::ios::binary) << refused;
}

// The Wine figures, in one fresh prefix with one persistent server: first
// installs at every scale, updates at the update scales.
void MeasureWine(const std::vector<int>& scales,
                 const std::vector<int>& updateScales, int repetitions,
                 std::map<int, Figures>* figures) {
  char pattern[] = "/tmp/drvsetup-bench-XXXXXX";
  g_prefix = mkdtemp(pattern);
  setenv("WINEPREFIX", g_prefix.c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("DISPLAY", "", 1);
  Run({kServer, "-p"});
  Shell("bash -c '. tests/wine_prefix.sh && boot_wine_prefix'");
  Snapshot("clean");
  for (int s : scales) {
    std::string n = std::to_string(s);
    std::string db = g_work + "/db-" + n + ".reg";
    Shell("cp '" + g_work + "/floor-" + n + ".tbl' '" + g_work +
          "/floor.tbl'");
    const std::string checked = g_work + "/checked-" + n + ".exe";
    const std::string unchecked = g_work + "/unchecked-" + n + ".exe";
    DamagedCopies(g_work + "/drvsetup-" + n + ".exe", checked, unchecked);
    (*figures)[s].wineCheck = CheckSeconds(
        {kWine, g_work + "/check.exe", g_work + "/drvsetup-" + n + ".exe"});
    std::vector<Contender> first = {
        {"ours", {kWine, g_work + "/drvsetup-" + n + ".exe", "-ns", "-ne"}, "clean"},
        {"regedit /s", {kWine, "regedit", "/s", db}, "clean"},
        {"reg import", {kWine, "reg", "import", db}, "clean"},
        {"floor", {kWine, g_work + "/floor.exe"}, "clean"},
        {"empty", {kWine, g_work + "/empty.exe"}, ""},
        {"empty with msvcrt", {kWine, g_work + "/empty_crt.exe"}, ""},
        {"empty with manifest", {kWine, g_work + "/empty_manifest.exe"}, ""},
        {"checked, refused", {kWine, checked, "-ns", "-ne"}, "",
         ExitStatusOf(kOutcomePayloadUnreadable)},
        {"unchecked, refused", {kWine, unchecked, "-ns", "-ne"}, "",
         ExitStatusOf(kOutcomePayloadUnreadable)},
    };
    fprintf(stderr, "wine %dx first install ", s);
    (*figures)[s].install = Race(n + "x first install", first, repetitions);
    if (std::find(updateScales.begin(), updateScales.end(), s) ==
        updateScales.end())
      continue;
    Restore("clean");
    int status;
    Timed({kWine, g_work + "/drvsetup-old-" + n + ".exe", "-ns", "-ne"},
          &status, g_work);
    Snapshot("old");
    std::vector<Contender> update = {
        {"ours", {kWine, g_work + "/drvsetup-" + n + ".exe", "-ns", "-ne"}, "old"},
        {"regedit /s", {kWine, "regedit", "/s", g_work + "/del-" + n + ".reg"}, "old"},
        {"our removal", {kWine, g_work + "/remove.exe"}, "old"},
        {"regedit's removal",
         {kWine, "regedit", "/s", g_work + "/delete-only.reg"}, "old"},
    };
    fprintf(stderr, "wine %dx update ", s);
    (*figures)[s].update = Race(n + "x update", update, repetitions);
  }
  StopServer();
  Shell("rm -rf '" + g_prefix + "'");
}

// The host figures as a Markdown table.
void HostTable(const std::vector<int>& scales, std::map<int, Figures>& figures,
               std::ostream& md) {
  md << "| size | script bytes | core ns/byte | core instructions/byte | "
        "native first install | native second run | native peak memory "
        "(first, second run) | integrity check (share of a first install) "
        "|\n"
     << "|---|---|---|---|---|---|---|---|\n";
  for (int s : scales) {
    const Figures& f = figures[s];
    md << "| " << s << "x | " << f.scriptBytes << " | "
       << Fixed(f.coreNs / static_cast<double>(f.scriptBytes), 2) << " | "
       << Fixed(f.coreIrPerByte, 1) << " | " << Fixed(f.nativeFirst * 1000, 1)
       << " ms | " << Fixed(f.nativeSecond * 1000, 1) << " ms | "
       << Fixed(static_cast<double>(f.nativeRss) / 1024, 1) << " MB, "
       << Fixed(static_cast<double>(f.nativeRssSecond) / 1024, 1) << " MB | "
       << Fixed(f.nativeCheck * 1000, 2) << " ms ("
       << Fixed(f.nativeCheck / f.nativeFirst * 100, 1) << " %) |\n";
  }
}

// First installs under Wine, and the integrity check's share of them.
void WineInstallTables(const std::vector<int>& scales, int repetitions,
                       std::map<int, Figures>& figures, std::ostream& md) {
  md << "\nUnder Wine (medians of " << repetitions
     << ", wall time of the whole process):\n\n"
     << "| size | ours | regedit /s | reg import | floor | empty program "
        "(with msvcrt, with our manifest) | ours / floor | ours / regedit "
        "|\n"
        "|---|---|---|---|---|---|---|---|\n";
  for (int s : scales) {
    const auto& i = figures[s].install;
    md << "| " << s << "x | " << Fixed(i.at("ours") * 1000, 0) << " ms | "
       << Fixed(i.at("regedit /s") * 1000, 0) << " ms | "
       << Fixed(i.at("reg import") * 1000, 0) << " ms | "
       << Fixed(i.at("floor") * 1000, 0) << " ms | "
       << Fixed(i.at("empty") * 1000, 0) << " ms ("
       << Fixed(i.at("empty with msvcrt") * 1000, 0) << " ms, "
       << Fixed(i.at("empty with manifest") * 1000, 0) << " ms) | "
       << Fixed(i.at("ours") / i.at("floor"), 3) << " | "
       << Fixed(i.at("ours") / i.at("regedit /s"), 3) << " |\n";
  }
  md << "\nThe integrity check under Wine: alone, in-process (the program's "
        "own reader and file calls), and as a whole copy refused after the "
        "check less one refused before it; each against our first install:"
        "\n\n| size | the check alone | share of a first install | refused "
        "after the check | refused before it | difference |\n"
        "|---|---|---|---|---|---|\n";
  for (int s : scales) {
    const auto& i = figures[s].install;
    double check = figures[s].wineCheck;
    md << "| " << s << "x | " << Fixed(check * 1000, 2) << " ms | "
       << Fixed(check / i.at("ours") * 100, 2) << " % | "
       << Fixed(i.at("checked, refused") * 1000, 1) << " ms | "
       << Fixed(i.at("unchecked, refused") * 1000, 1) << " ms | "
       << Fixed((i.at("checked, refused") - i.at("unchecked, refused")) * 1000,
                1)
       << " ms |\n";
  }
}

// Updates under Wine, each removal set apart.
void WineUpdateTable(const std::vector<int>& scales,
                     std::map<int, Figures>& figures, std::ostream& md) {
  bool any = false;
  for (int s : scales) {
    const auto& u = figures[s].update;
    if (u.empty())
      continue;
    if (!any)
      md << "\nUpdate over an older database, under Wine:\n\n"
         << "| size | ours | regedit /s with [-DRIVER2] | our removal "
            "(SHDeleteKeyA) | regedit's removal | ours without removal | "
            "regedit without removal |\n|---|---|---|---|---|---|---|\n";
    any = true;
    double empty = figures[s].install.at("empty");
    double ours = u.at("ours") - (u.at("our removal") - empty);
    double theirs = u.at("regedit /s") - (u.at("regedit's removal") - empty);
    md << "| " << s << "x | " << Fixed(u.at("ours") * 1000, 0) << " ms | "
       << Fixed(u.at("regedit /s") * 1000, 0) << " ms | "
       << Fixed((u.at("our removal") - empty) * 1000, 0) << " ms | "
       << Fixed((u.at("regedit's removal") - empty) * 1000, 0) << " ms | "
       << Fixed(ours * 1000, 0) << " ms | " << Fixed(theirs * 1000, 0)
       << " ms |\n";
  }
}

// The figures as Markdown tables, with the failed runs.
std::string Report(const std::vector<int>& scales, int repetitions, bool wine,
                   std::map<int, Figures>& figures) {
  std::ostringstream md;
  HostTable(scales, figures, md);
  if (wine) {
    WineInstallTables(scales, repetitions, figures, md);
    WineUpdateTable(scales, figures, md);
  }
  if (!g_failed.empty()) {
    md << "\nFailed runs, left out of the medians:\n\n";
    for (const std::string& f : g_failed)
      md << "- " << f << "\n";
  }
  return md.str();
}

// Says whether a figure met its target, or by how much it missed.
void Target(std::ostream& targets, const std::string& what, double value,
            double limit, const std::string& unit) {
  targets << "- " << what << ": " << Fixed(value, 3) << unit << " (target "
          << Fixed(limit, 3) << unit << ") "
          << (value <= limit
                  ? "met"
                  : "missed by " + Fixed((value / limit - 1) * 100, 1) + "%")
          << "\n";
}

// The targets of one scale.
void ScaleTargets(int s, bool wine, const Figures& f, std::ostream& targets) {
  const std::string n = std::to_string(s);
  Target(targets, n + "x core instructions per script byte", f.coreIrPerByte,
         20, "");
  if (!wine)
    return;
  Target(targets, n + "x first install / floor",
         f.install.at("ours") / f.install.at("floor"), 1.03, "");
  Target(targets, n + "x integrity check under Wine, share of a first install",
         f.wineCheck / f.install.at("ours") * 100, 2, " %");
  if (f.update.empty())
    return;
  double empty = f.install.at("empty");
  Target(targets, n + "x update without removal / regedit's",
         (f.update.at("ours") - f.update.at("our removal") + empty) /
             (f.update.at("regedit /s") - f.update.at("regedit's removal") +
              empty),
         1.0, "");
}

// The targets, met or by how much not.
std::string Targets(const std::vector<int>& scales, bool wine,
                    std::map<int, Figures>& figures) {
  std::ostringstream targets;
  for (int s : scales)
    ScaleTargets(s, wine, figures[s], targets);
  const Figures& small = figures[scales.front()];
  const Figures& large = figures[scales.back()];
  if (scales.size() > 1) {
    const double payload =
        static_cast<double>(large.scriptBytes - small.scriptBytes);
    Target(targets,
           "native peak memory per payload byte beyond a constant, first "
           "install",
           static_cast<double>(large.nativeRss - small.nativeRss) * 1024 /
               payload,
           3, "");
    Target(targets,
           "native peak memory per payload byte beyond a constant, second "
           "run",
           static_cast<double>(large.nativeRssSecond - small.nativeRssSecond) *
               1024 / payload,
           3, "");
  }
  Target(targets, "core time per byte, largest / smallest",
         (large.coreNs / static_cast<double>(large.scriptBytes)) /
             (small.coreNs / static_cast<double>(small.scriptBytes)),
         1.2, "");
  Target(targets, "core instructions per byte, largest / smallest",
         large.coreIrPerByte / small.coreIrPerByte, 1.2, "");
  if (wine)
    Target(targets, "first install time per byte under Wine, largest / smallest",
           (large.install.at("ours") / static_cast<double>(large.scriptBytes)) /
               (small.install.at("ours") / static_cast<double>(small.scriptBytes)),
           1.2, "");
  Target(targets, "native first install, " + std::to_string(scales.front()) + "x",
         small.nativeFirst * 1000, 10, " ms");
  Target(targets, "native second run, " + std::to_string(scales.front()) + "x",
         small.nativeSecond * 1000, 5, " ms");
  return "\nTargets:\n\n" + targets.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--chart") {
    // Draws the chart again from the figures of the last measurement.
    g_work = argv[2];
    std::vector<int> scales;
    std::map<int, Figures> figures = LoadFigures(g_work + "/results.tsv", &scales);
    std::ofstream(g_work + "/results.svg") << Svg(scales, figures);
    return scales.empty() ? 1 : 0;
  }
  if (argc < 4) {
    fprintf(stderr, "usage: harness WORK SCALES REPETITIONS [UPDATE_SCALES]\n"
                    "       harness --chart WORK\n");
    return 2;
  }
  g_work = argv[1];
  std::vector<int> scales, updateScales;
  for (std::string s : {std::string(argv[2]), std::string(argc > 4 ? argv[4] : "")}) {
    std::vector<int>& list = scales.empty() ? scales : updateScales;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ','))
      if (!item.empty())
        list.push_back(atoi(item.c_str()));
  }
  const int repetitions = atoi(argv[3]);
  std::map<int, Figures> figures;
  for (int s : scales)
    MeasureHost(s, repetitions, &figures[s]);
  const bool wine = getenv("BENCH_NO_WINE") == nullptr;
  if (wine)
    MeasureWine(scales, updateScales, repetitions, &figures);
  std::string md = Report(scales, repetitions, wine, figures) +
                   Targets(scales, wine, figures);
  printf("%s", md.c_str());
  std::ofstream(g_work + "/results.md") << md;
  if (wine) {
    SaveFigures(g_work + "/results.tsv", scales, figures);
    std::ofstream(g_work + "/results.svg") << Svg(scales, figures);
  }
  return 0;
}
