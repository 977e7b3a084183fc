// PLU import load throughput. Run by hand, never by ctest:
//   cmake --build build --target plu_load_bench && build/bin/plu_load_bench [lines] [load]
// ("load" skips the python3 and wc runs, for profiling the load alone).
//
// Writes a delimited PLU file (8 PLU fields and 2 message columns a line,
// some fields quoted, CR LF line ends; 1,000,000 lines unless told), loads it
// through LoadPLUFile with an in-process driver that answers the PLU_*_Def
// reads, and in the same run times python3's csv.reader splitting the same
// file and `wc -l` reading it. Prints lines per second, the two ratios, and
// the peak memory of the load per PLU beyond the name's own heap bytes.
//
// Targets: at least 5 times faster than the Python split, within 10 times of
// wc -l, and under 250 bytes per PLU beyond the name.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/structdefines.h"
#include "common/textnames.h"
#include "platform/automation.h"
#include "query/plu_parser.h"
#include "query/step_context.h"

namespace {

using namespace tarvo;
using BenchClock = std::chrono::steady_clock;

// A driver as cheap as a driver can be: every default is 0, the name's is
// empty, the scale is 10.0.0.1. Bound names read by id without a lookup.
class DefaultsDriver : public AutomationObject {
 public:
  Variant GetProperty(const std::string& name) override {
    if (name == "PLU_Name_Def")
      return Variant(std::string());
    if (name == "IPAddress")
      return Variant("10.0.0.1");
    return Variant(int32_t{0});
  }
  void SetProperty(const std::string&, const Variant&) override {}
  Variant Invoke(const std::string&, const std::vector<Variant>&) override { return Variant(); }

  int32_t GetIdOfName(const std::string& name) override {
    if (name == "PLU_Name_Def")
      return kName;
    return name == "IPAddress" ? kAddress : kZero;
  }
  Variant GetPropertyById(int32_t id) override {
    if (id == kZero)
      return Variant(int32_t{0});
    return id == kName ? Variant(std::string()) : Variant("10.0.0.1");
  }

 private:
  enum { kZero, kName, kAddress };
};

double Seconds(BenchClock::time_point since) {
  return std::chrono::duration<double>(BenchClock::now() - since).count();
}

// A value of /proc/self/status in bytes ("VmRSS", "VmHWM").
long long StatusBytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0)
      return std::atoll(line.c_str() + key.size() + 1) * 1024;
  }
  return -1;
}

// Starts a new peak (VmHWM) at the current resident size.
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// Writes `lines` PLU lines; returns the file size.
uintmax_t WriteFile(const std::string& path, long lines) {
  std::ofstream out(path, std::ios::binary);
  std::string buffer;
  char line[256];
  for (long i = 1; i <= lines; ++i) {
    const int n = std::snprintf(
        line, sizeof(line),
        "%ld,\"Product %07ld, fresh\",%ld,%ld.%02ld,4,%ld,0.015,%ld,\"Ingredients: milk, "
        "salt\",Keep at +2..+6 C\r\n",
        i, i, 2000000 + i, 1 + i % 500, i % 100, 1 + i % 12, 1 + i % 30);
    buffer.append(line, static_cast<size_t>(n));
    if (buffer.size() > (1 << 20)) {
      out << buffer;
      buffer.clear();
    }
  }
  out << buffer;
  out.close();
  return std::filesystem::file_size(path);
}

const char kUsage[] = "usage: plu_load_bench [LINES [load]]";

// The command line: an optional line count (1 to 100,000,000) and then an
// optional "load". False on anything else.
bool ParseArgs(int argc, char** argv, long* lines, bool* loadOnly) {
  if (argc > 3)
    return false;
  if (argc > 1) {
    const std::string text = argv[1];
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, *lines);
    if (r.ec != std::errc() || r.ptr != end || *lines < 1 || *lines > 100000000)
      return false;
  }
  if (argc > 2) {
    if (std::string(argv[2]) != "load")
      return false;
    *loadOnly = true;
  }
  return true;
}

// Runs `command` and returns its standard output.
std::string Run(const std::string& command) {
  std::string output;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe)
    return output;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), pipe.get())) > 0)
    output.append(chunk, n);
  return output;
}

}  // namespace

// The best of `rounds` runs of `run`, which returns its own time in seconds.
template <typename Run>
double Best(int rounds, Run run) {
  double best = 1e300;
  for (int i = 0; i < rounds; ++i)
    best = std::min(best, run());
  return best;
}

int main(int argc, char** argv) {
  long lines = 1000000;
  bool loadOnly = false;
  if (!ParseArgs(argc, argv, &lines, &loadOnly)) {
    const bool help =
        argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h");
    std::fprintf(help ? stdout : stderr,
                 "%s\n  LINES  lines of the generated PLU file, 1 to 100000000 (1000000)\n"
                 "  load   time the load alone, without python3 and wc -l\n",
                 kUsage);
    return help ? 0 : 2;
  }
  const int rounds = 3;  // every time is the best of three runs
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("plu_load_bench_" + std::to_string(BenchClock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "plu.dat").string();
  const uintmax_t bytes = WriteFile(path, lines);
  std::printf("file: %ld lines, %.1f MB\n", lines, bytes / 1e6);

  // wc -l first, which also brings the file into the page cache.
  const std::string wc = "wc -l < '" + path + "'";
  long wcLines = std::atol(Run(wc).c_str());
  const double wcSeconds = loadOnly ? 0 : Best(rounds, [&] {
    const BenchClock::time_point start = BenchClock::now();
    wcLines = std::atol(Run(wc).c_str());
    return Seconds(start);
  });

  const std::string python =
      "python3 -c \"import csv, sys, time\n"
      "f = open(sys.argv[1], newline='', encoding='latin-1')\n"
      "t = time.perf_counter()\n"
      "n = sum(1 for row in csv.reader(f))\n"
      "print(n, time.perf_counter() - t)\" '" +
      path + "'";
  long pythonLines = 0;
  const double pythonSeconds = loadOnly ? 0 : Best(rounds, [&] {
    double seconds = 0;
    std::sscanf(Run(python).c_str(), "%ld %lf", &pythonLines, &seconds);
    return seconds;
  });

  // The load: number, name, code, price, weight unit, department, tare and
  // shelf time, then two message lines.
  MSettingsValues settings;
  settings.ImportEncodingWindows = true;
  settings.ImportSimpleSeparator = ",";
  const int fields[] = {kFieldNumber,     kFieldName, kFieldCode, kFieldPrice,
                        kFieldWeightUnit, kFieldDep,  kFieldTare, kFieldShelfTime};
  for (int i = 0; i < 8; ++i)
    settings.FieldsConfig[fields[i]].Pos = i + 1;
  settings.FieldsConfig[kFieldMessageString1].Pos = 9;
  settings.FieldsConfig[kFieldMessageString1 + 1].Pos = 10;

  DefaultsDriver driver;
  size_t plusLoaded = 0;
  size_t messagesLoaded = 0;
  long badLines = 0;
  bool loaded = true;
  double perPLU = 0;
  double perPLUWithName = 0;
  long long peakBytes = 0;
  long long baseline = 0;
  int round = 0;
  const double loadSeconds = Best(rounds, [&] {
    std::vector<MPLUData> plus;
    MMessages messages;
    char separator = 0;
    StepContext context;
    context.Driver = &driver;
    context.DataFileName = path;
    context.Operation = kCmdSetPLU;
    context.PLUList = &plus;
    context.MessageList = &messages;
    context.FieldSeparator = &separator;
    context.AddLog = [&badLines](const std::string&, int level) { badLines += level == 5; };
    context.SetScaleState = [](int32_t) {};
    context.Terminated = [] { return false; };

    ResetPeak();
    baseline = StatusBytes("VmRSS");
    const BenchClock::time_point start = BenchClock::now();
    loaded = LoadPLUFile(context, settings) && loaded;
    const double seconds = Seconds(start);
    if (round++ == 0) {
      peakBytes = StatusBytes("VmHWM") - baseline;
      long long nameHeap = 0;
      for (const MPLUData& plu : plus) {
        if (plu.Name.OnHeap())
          nameHeap += static_cast<long long>(plu.Name.size());
      }
      if (!plus.empty()) {
        perPLU = double(peakBytes - nameHeap) / plus.size();
        perPLUWithName = double(peakBytes) / plus.size();
      }
      plusLoaded = plus.size();
      messagesLoaded = messages.size();
      // Every PLU as the file wrote it: a fast load of wrong data counts for nothing.
      char name[64];
      for (size_t i = 0; i < plus.size() && loaded; ++i) {
        const long n = static_cast<long>(i) + 1;
        std::snprintf(name, sizeof(name), "Product %07ld, fresh", n);
        const MPLUData& plu = plus[i];
        loaded = plu.Number == n && plu.Name == name && plu.AddCode == 2000000 + n &&
                 plu.ShlefTime == 1 + n % 30 && plu.Message == static_cast<int32_t>(i) &&
                 messages[i].Line(1) == "Ingredients: milk, salt" &&
                 messages[i].Line(2) == "Keep at +2..+6 C";
        if (!loaded)
          std::fprintf(stderr, "PLU %zu differs from line %ld of the file\n", i, n);
      }
    }
    return seconds;
  });

  std::printf("loaded: %s, %zu PLUs, %zu messages, %ld bad lines\n", loaded ? "yes" : "no",
              plusLoaded, messagesLoaded, badLines);
  std::printf("times are the best of %d runs\n", rounds);
  std::printf("LoadPLUFile:        %8.3f s  %12.0f lines/s\n", loadSeconds, lines / loadSeconds);
  if (!loadOnly) {
    std::printf("python3 csv.reader: %8.3f s  (%ld rows)\n", pythonSeconds, pythonLines);
    std::printf("wc -l:              %8.3f s  (%ld lines)\n", wcSeconds, wcLines);
    std::printf("python / load:      %8.2f    (target >= 5)\n", pythonSeconds / loadSeconds);
    std::printf("load / wc -l:       %8.2f    (target <= 10)\n", loadSeconds / wcSeconds);
  }
  std::printf("peak memory:        %8.1f MB over %.1f MB before the load\n", peakBytes / 1e6,
              baseline / 1e6);
  std::printf("per PLU:            %8.1f bytes beyond the name (%.1f with it; target < 250)\n",
              perPLU, perPLUWithName);

  std::filesystem::remove_all(folder);
  return loaded ? 0 : 1;
}
