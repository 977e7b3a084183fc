// The import scan under a large drop: FILES import files for SCALES scales
// (FILES * SCALES command groups) queued by one ImportScan, against `cp` of
// the same bytes (the import folder copied once per scale) in the same run.
// Run by bench/run, or by hand:
//   build/bin/import_scan_bench [--files 1000] [--scales 10] [--bytes 4096]
// Prints one JSON object: the scan's seconds, cp's, their ratio, the groups
// queued, and the seconds of the scan's one flush of the queue to disk
// (included in the scan's; cp flushes nothing). The folders go to the
// system's temporary folder.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "service/import_scan.h"
#include "settings/workservicesettings.h"

namespace {

using namespace tarvo;
using BenchClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class NullLog : public LogSink {
 public:
  void LogWrite(const std::string& text, int level) override {
    if (level >= 5)
      std::fprintf(stderr, "import_scan_bench: %s\n", text.c_str());
  }
};

double SecondsSince(BenchClock::time_point since) {
  return std::chrono::duration<double>(BenchClock::now() - since).count();
}

// Writes `files` PLU files of about `bytes` bytes each, an hour old so the
// scan takes them at once.
void WriteImportFiles(const std::string& folder, int files, int bytes) {
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  std::string body;
  for (int line = 1; static_cast<int>(body.size()) < bytes; ++line)
    body += std::to_string(line) + ";Article " + std::to_string(line) + ";1.99\r\n";
  for (int i = 0; i < files; ++i) {
    const fs::path path = fs::path(folder) / ("goods" + std::to_string(i) + ".txt");
    std::ofstream(path, std::ios::binary) << body;
    fs::last_write_time(path, old);
  }
}

size_t CountFiles(const std::string& folder, const std::string& extension) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    n += entry.path().extension() == extension;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 1000, scales = 10, bytes = 4096;
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (value && std::strcmp(argv[i], "--files") == 0)
      files = std::atoi(argv[++i]);
    else if (value && std::strcmp(argv[i], "--scales") == 0)
      scales = std::atoi(argv[++i]);
    else if (value && std::strcmp(argv[i], "--bytes") == 0)
      bytes = std::atoi(argv[++i]);
    else {
      std::fprintf(std::strcmp(argv[i], "--help") == 0 ? stdout : stderr,
                   "usage: import_scan_bench [--files N] [--scales N] [--bytes N]\n");
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  if (files < 1 || scales < 1 || scales > 250 || bytes < 1)
    return 2;

  bench::TempFolder root("tarvo-import-scan-bench.");
  const std::string app = root.Sub("app");
  const std::string import = root.Sub("app/Import");
  {
    std::ofstream ini(app + "/tarvo-scale-server.ini", std::ios::binary);
    ini << "[GlobalSettings]\r\nImportInterval=1\r\n[ListScales]\r\n";
    for (int s = 1; s <= scales; ++s)
      ini << "Scale" << s << "=10.0.0." << s << "\r\n";
  }
  WriteImportFiles(import, files, bytes);

  // The baseline: the same bytes copied once per scale by cp.
  const auto cp_start = BenchClock::now();
  for (int s = 1; s <= scales; ++s) {
    const std::string command =
        "cp -r '" + import + "' '" + root.path() + "/copy" + std::to_string(s) + "'";
    if (std::system(command.c_str()) != 0)
      return 1;
  }
  const double cp_seconds = SecondsSince(cp_start);

  NullLog log;
  TSystemLog system_log(LogOptions{slDisabled}, *Clock::Real(), bench::ProcessOf(app + "/x"));
  MServiceSettings settings(app + "/tarvo-scale-server", system_log, *Clock::Real());
  settings.IniFileName = app + "/tarvo-scale-server.ini";
  settings.LoadSettings();
  settings.LoadScaleList();
  ImportScanMemory memory;
  CommandSequence sequence;
  double flush_seconds = 0;
  const auto timed_flush = [&flush_seconds](const std::string& folder, std::string* error) {
    const auto flush_start = BenchClock::now();
    const bool ok = FlushFileSystem(folder, error);
    flush_seconds += SecondsSince(flush_start);
    return ok;
  };
  const auto scan_start = BenchClock::now();
  ImportScan(settings, log, *Clock::Real(), memory, sequence, timed_flush);
  const double scan_seconds = SecondsSince(scan_start);

  const std::string query = settings.Snapshot().QueryPath;
  const size_t groups = CountFiles(query, ".cmd");
  const size_t left = CountFiles(import, ".txt");
  std::printf(
      "{\"files\": %d, \"scales\": %d, \"bytes\": %d, \"groups\": %zu, \"left\": %zu, "
      "\"scan_seconds\": %.3f, \"flush_seconds\": %.3f, \"cp_seconds\": %.3f, \"ratio\": %.2f}\n",
      files, scales, bytes, groups, left, scan_seconds, flush_seconds, cp_seconds,
      scan_seconds / cp_seconds);
  return groups == static_cast<size_t>(files) * scales && left == 0 ? 0 : 1;
}
