// The whole system under faults: the real service and five emulated scales,
// fed a seeded random stream of import files of every kind while the service
// is killed and restarted, scales go down and come back, and the workers and
// TCP servers are restarted on request. Once everything is up again, every
// scale must hold the last file of each kind addressed to it, and the import
// folder and the queue must hold nothing the service accepted.
//
//   TARVO_CHAOS_SEED=N    replays a run (every run prints its seed)
//   TARVO_CHAOS_FILES=N   import files to send (default 40; a few hundred by hand)
//   TARVO_CHAOS_KEEP=DIR  on failure, the service's folder and the scales'
//                         memory are copied to DIR
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/command_client.h"
#include "support/harness.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tarvo::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::vector<std::string> kScaleIPs = {"127.0.0.191", "127.0.0.192", "127.0.0.193",
                                            "127.0.0.194", "127.0.0.195"};
constexpr int kHotKeyCount = 224;
constexpr int kExitKilled = 128 + SIGKILL;

// ---------------------------------------------------------------------------
// The back office: import files and what each scale must hold after them.

// Files of one stream reach a scale in the order they were dropped: the next
// file of a stream is dropped only once the previous one has left the import
// folder. SetPLU and UpdatePLU share a stream, since both change the PLUs.
enum Stream { kPLUs, kSettings, kLabel, kHotKeys, kFont, kLogo, kStreamCount };

const char* const kStreamNames[kStreamCount] = {"plu",     "settings", "label",
                                                "hotkeys", "font",     "logo"};

struct ImportFile {
  Stream stream = kPLUs;
  int generation = 0;   // unique in the run; written into the content
  int target = -1;      // index into kScaleIPs; -1: every scale
  bool update = false;  // an UpdatePLU file
  std::string name;
  std::string data;
  std::map<int, std::string> plus;  // PLU number -> name
  std::map<int, int> keys;          // hot key -> value, those not 0
};

// What one scale must hold.
struct ScaleModel {
  std::map<int, std::string> plus;
  int settings = 0;  // generation of the last settings file; 0: none
  std::map<int, int> keys;
  std::string label, font, logo;

  void Apply(const ImportFile& file) {
    switch (file.stream) {
      case kPLUs:
        if (!file.update)
          plus.clear();
        for (const auto& [number, name] : file.plus)
          plus[number] = name;
        break;
      case kSettings:
        settings = file.generation;
        break;
      case kHotKeys:
        keys = file.keys;
        break;
      case kLabel:
        label = file.data;
        break;
      case kFont:
        font = file.data;
        break;
      case kLogo:
        logo = file.data;
        break;
      case kStreamCount:
        break;
    }
  }
};

std::string SettingsPassword(int generation) {
  return std::to_string(100000 + generation);
}

// Random bytes after a readable head naming the file, so that every version
// differs from every other.
std::string Blob(std::mt19937_64& rng, const std::string& head, size_t min, size_t max) {
  std::string data = head + "\n";
  const size_t size = std::uniform_int_distribution<size_t>(min, max)(rng);
  while (data.size() < size)
    data += static_cast<char>(rng() & 0xff);
  return data;
}

ImportFile MakeFile(std::mt19937_64& rng, Stream stream, int generation) {
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  ImportFile f;
  f.stream = stream;
  f.generation = generation;
  f.target = uniform(0, 9) < 3 ? uniform(0, static_cast<int>(kScaleIPs.size()) - 1) : -1;
  const std::string gen = "g" + std::to_string(generation);
  std::string stem, ext;
  switch (stream) {
    case kPLUs: {
      f.update = uniform(0, 9) < 4;
      stem = "goods_" + gen;
      ext = f.update ? ".txu" : (uniform(0, 1) ? ".plu" : ".TXT");
      const int count = uniform(1, f.update ? 4 : 8);
      while (static_cast<int>(f.plus.size()) < count) {
        const int number = uniform(1, 40);
        f.plus[number] = "G" + std::to_string(generation) + "N" + std::to_string(number);
      }
      for (const auto& [number, name] : f.plus) {
        f.data +=
            std::to_string(number) + "," + name + "," + std::to_string(uniform(1, 999)) + ".25\r\n";
      }
      break;
    }
    case kSettings:
      stem = "shop_" + gen;
      ext = ".ini";
      f.data = "[ScaleSettings]\r\nVersion=1\r\nSystemPassword=" + SettingsPassword(generation) +
               "\r\nPrintTime=" + std::to_string(generation % 2) + "\r\n";
      break;
    case kHotKeys: {
      stem = "keys_" + gen;
      ext = ".key";
      f.keys[1] = generation;
      for (int i = 0; i < 3; ++i)
        f.keys[uniform(2, kHotKeyCount)] = uniform(1, 9999);
      f.data = "[HotKeys]\r\nVersion=1\r\n";
      for (const auto& [key, value] : f.keys)
        f.data += "Key" + std::to_string(key) + "=" + std::to_string(value) + "\r\n";
      break;
    }
    case kLabel:
      stem = "label_" + gen;
      ext = ".scr";
      f.data = Blob(rng, "label " + gen, 64, 6000);
      break;
    case kFont:
      stem = "8x16_" + gen;  // font number 0
      ext = ".fnt";
      f.data = Blob(rng, "font " + gen, 256, 8192);
      break;
    case kLogo:
      stem = "logo_" + gen;
      ext = ".bmp";
      f.data = Blob(rng, "logo " + gen, 64, 12000);
      break;
    case kStreamCount:
      break;
  }
  if (f.target >= 0) {
    const std::string& ip = kScaleIPs[static_cast<size_t>(f.target)];
    stem += "#" + ip.substr(ip.rfind('.') + 1);
  }
  f.name = stem + ext;
  return f;
}

// ---------------------------------------------------------------------------
// The processes.

// The reports of a sanitizer build in a process's standard error; "" when
// there are none. A killed process has no exit code to tell of them.
std::string SanitizerReports(const std::string& stderrText) {
  for (const char* mark : {"Sanitizer", "runtime error:"}) {
    const size_t at = stderrText.find(mark);
    if (at != std::string::npos)
      return stderrText.substr(stderrText.rfind('\n', at) + 1, 2000);
  }
  return "";
}

// One emulated scale in a process of its own, so that it can go down and come
// back alone. Its memory lives in a folder that outlasts the process, as a
// real scale keeps its memory when it is switched off.
class ChaosScale {
 public:
  ChaosScale(std::string ip, std::string root) : ip_(std::move(ip)), root_(std::move(root)) {}

  const std::string& ip() const { return ip_; }
  bool up() const { return process_ != nullptr; }

  // Starts the emulator on `port` (0: a free one, then port() tells it);
  // true once it listens.
  bool Start(int port) {
    // A fresh folder per run, so that the last run's output is not taken
    // for this one's.
    const std::string cwd = root_ + "/run-" + ip_ + "-" + std::to_string(++runs_);
    fs::create_directories(cwd);
    process_ = std::make_unique<ChildProcess>(
        BinDir() + "/tarvo-scale-emu",
        std::vector<std::string>{"--state", root_ + "/state", "--port", std::to_string(port), ip_},
        cwd);
    const std::string listening = "listening on " + ip_ + ":";
    if (!process_->WaitForStdout(listening, 30000))
      return false;
    const std::string out = process_->Stdout();
    port_ = std::atoi(out.c_str() + out.find(listening) + listening.size());
    return port_ > 0;
  }

  // Ends the process with `signal`; "" when it ended as that signal makes it
  // end, else what happened.
  std::string Stop(int signal) {
    process_->Signal(signal);
    std::string problem;
    if (!process_->Wait(30000)) {
      problem = "did not end";
    } else {
      const int expected = signal == SIGKILL ? kExitKilled : 0;
      if (process_->exit_code() != expected)
        problem = "ended with " + std::to_string(process_->exit_code());
      problem += SanitizerReports(process_->Stderr());
    }
    process_.reset();
    return problem;
  }

  // True when the process ended without being told to; `code` is its exit
  // code, `reports` what a sanitizer reported.
  bool Died(int* code, std::string* reports) {
    if (process_ == nullptr || !process_->Wait(0))
      return false;
    *code = process_->exit_code();
    *reports = SanitizerReports(process_->Stderr());
    process_.reset();
    return true;
  }

  int port() const { return port_; }
  std::string File(const std::string& name) const {
    std::ifstream in(root_ + "/state/" + ip_ + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  const std::string ip_;
  const std::string root_;
  std::unique_ptr<ChildProcess> process_;
  int runs_ = 0;
  int port_ = 0;
};

// ---------------------------------------------------------------------------
// Readers of the scales' mirror files.

// Rows of a tab-separated mirror file after its header, as their columns.
std::vector<std::vector<std::string>> TsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> columns;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');)
      columns.push_back(cell);
    rows.push_back(columns);
  }
  return rows;
}

std::map<int, std::string> ScalePLUs(const ChaosScale& scale) {
  std::map<int, std::string> plus;
  for (const auto& row : TsvRows(scale.File("plus.tsv"))) {
    if (row.size() >= 2)
      plus[std::atoi(row[0].c_str())] = row[1];
  }
  return plus;
}

// The hot keys that are set (not 0); -1 maps to the number of rows when it is
// not one for every key.
std::map<int, int> ScaleHotKeys(const ChaosScale& scale) {
  std::map<int, int> keys;
  const auto rows = TsvRows(scale.File("hotkeys.tsv"));
  for (const auto& row : rows) {
    const int value = row.size() == 2 ? std::atoi(row[1].c_str()) : -1;
    if (value != 0)
      keys[std::atoi(row[0].c_str())] = value;
  }
  if (!rows.empty() && rows.size() != kHotKeyCount)
    keys[-1] = static_cast<int>(rows.size());
  return keys;
}

std::map<std::string, std::string> ScaleSettings(const ChaosScale& scale) {
  std::map<std::string, std::string> settings;
  std::istringstream in(scale.File("settings.ini"));
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      settings[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return settings;
}

// ---------------------------------------------------------------------------
// The run.

int EnvInt(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? static_cast<int>(std::strtoll(text, nullptr, 10))
                                          : static_cast<int>(fallback);
}

enum class Action {
  kKillService,         // SIGKILL
  kStopAndKillService,  // SIGTERM, then SIGKILL while it stops (workers, INI save)
  kScaleDown,           // SIGTERM or SIGKILL for one scale, back after a while
  kRestartQueryThreads,
  kRestartTCPServers,
};

struct Event {
  int after_drop = 0;  // runs once this many files were dropped ...
  int delay_ms = 0;    // ... and this much later
  Action action = Action::kKillService;
  int scale = 0;
  int signal = SIGKILL;
  int down_ms = 0;        // how long the service or scale stays down
  int kill_after_ms = 0;  // kStopAndKillService: SIGKILL this long after SIGTERM
};

class ChaosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const long long now = std::chrono::system_clock::now().time_since_epoch().count();
    seed_ = static_cast<unsigned>(EnvInt("TARVO_CHAOS_SEED", now % 1000000000));
    files_ = std::max(1, EnvInt("TARVO_CHAOS_FILES", 40));
    std::printf("chaos: TARVO_CHAOS_SEED=%u TARVO_CHAOS_FILES=%d\n", seed_, files_);
    std::fflush(stdout);
    rng_.seed(seed_);
    for (const std::string& ip : kScaleIPs)
      scales_.push_back(std::make_unique<ChaosScale>(ip, scale_root_.path()));
    models_.resize(kScaleIPs.size());
  }

  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  void Trace(const std::string& line) {
    char at[32];
    std::snprintf(at, sizeof(at), "%8.2fs ", Seconds());
    trace_ += at + line + "\n";
  }
  std::string Replay() const {
    return "replay with TARVO_CHAOS_SEED=" + std::to_string(seed_) +
           " TARVO_CHAOS_FILES=" + std::to_string(files_);
  }

  // The whole plan comes from the seed: the files of each stream in order,
  // the files of unknown kinds, and the faults with the moment each strikes.
  void Plan() {
    const int weights[kStreamCount] = {5, 2, 2, 2, 2, 2};
    std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
    for (int i = 0; i < files_; ++i) {
      const Stream stream = static_cast<Stream>(pick(rng_));
      queued_[stream].push_back(MakeFile(rng_, stream, i + 1));
    }
    for (int i = 0; i < std::max(1, files_ / 20); ++i)
      strangers_.push_back("notes_" + std::to_string(i) + ".doc");

    const auto add = [&](Action action, int count) {
      for (int i = 0; i < count; ++i) {
        Event e;
        e.action = action;
        e.after_drop = Uniform(1, files_);
        e.delay_ms = Uniform(0, 1500);
        e.scale = Uniform(0, static_cast<int>(kScaleIPs.size()) - 1);
        e.signal = Uniform(0, 1) ? SIGKILL : SIGTERM;
        e.down_ms = action == Action::kScaleDown ? Uniform(500, 15000) : Uniform(0, 1500);
        e.kill_after_ms = Uniform(0, 400);
        events_.push_back(e);
      }
    };
    const int kills = std::max(4, files_ / 8);
    add(Action::kKillService, kills - std::max(1, kills / 4));
    add(Action::kStopAndKillService, std::max(1, kills / 4));
    add(Action::kScaleDown, std::max(6, files_ / 5));
    add(Action::kRestartQueryThreads, std::max(3, files_ / 12));
    add(Action::kRestartTCPServers, std::max(2, files_ / 15));
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.after_drop < b.after_drop; });
  }

  void StartService() {
    service_.Start({{"TARVO_PORT_BASE", std::to_string(port_base_)},
                    {"TARVO_SCALE_PORT", std::to_string(scale_port_)},
                    {"TARVO_TIMER_SCALE", "0.01"}});
    service_up_ = true;
    Trace("service started");
  }

  bool ServiceAnswers() const {
    return CommandClient(port_base_).greeting() == "200 Hi, this Tarvo service!";
  }

  // A process that ended without being told to is a failure; it is started
  // again so that the run can go on and show what else went wrong.
  void CheckNoneDied() {
    if (service_up_ && service_.process().Wait(0)) {
      ADD_FAILURE() << "the service ended on its own with " << service_.process().exit_code()
                    << " at " << Seconds() << " s\n"
                    << SanitizerReports(service_.process().Stderr());
      Trace("service DIED with " + std::to_string(service_.process().exit_code()));
      StartService();
    }
    for (auto& scale : scales_) {
      int code = 0;
      std::string reports;
      if (scale->Died(&code, &reports)) {
        ADD_FAILURE() << "scale " << scale->ip() << " ended on its own with " << code << "\n"
                      << reports;
        Trace("scale " + scale->ip() + " DIED with " + std::to_string(code));
        EXPECT_TRUE(scale->Start(scale_port_));
      }
    }
  }

  void DropNext(Stream stream) {
    ImportFile file = std::move(queued_[stream].front());
    queued_[stream].erase(queued_[stream].begin());
    // Written beside the folder and moved in whole. Most files are old enough
    // to be taken at once; some are new, so the service waits for them to
    // settle.
    if (Uniform(0, 3) == 0) {
      const std::string temp = service_.dir().File(".outgoing-" + file.name);
      service_.dir().Write(".outgoing-" + file.name, file.data);
      fs::rename(temp, service_.dir().File("Import/" + file.name));
    } else {
      service_.DropImportFile(file.name, file.data);
    }
    for (size_t i = 0; i < models_.size(); ++i) {
      if (file.target < 0 || file.target == static_cast<int>(i))
        models_[i].Apply(file);
    }
    Trace("drop " + file.name + " (" + std::to_string(file.data.size()) + " bytes)");
    in_import_[stream] = file.name;
    sent_[file.name] = {file.stream, file.generation, file.target};
    ++dropped_;
  }

  void Run(const Event& e) {
    switch (e.action) {
      case Action::kKillService:
      case Action::kStopAndKillService: {
        ChildProcess& p = service_.process();
        bool stopped = false;
        if (e.action == Action::kStopAndKillService) {
          p.Signal(SIGTERM);
          stopped = p.Wait(e.kill_after_ms);
        }
        if (!stopped)
          p.Signal(SIGKILL);
        ASSERT_TRUE(p.Wait(30000)) << "the service did not end";
        EXPECT_EQ(SanitizerReports(p.Stderr()), "");
        Trace(std::string(e.action == Action::kKillService ? "service killed"
                                                           : "service stopped, then killed") +
              ", exit " + std::to_string(p.exit_code()));
        if (e.action == Action::kKillService) {
          EXPECT_EQ(p.exit_code(), kExitKilled);
        } else {
          // A stop request ends the service cleanly, unless SIGKILL came
          // first, or the request came before the service could take it (in
          // its first milliseconds the signal itself ends the process).
          const std::set<int> clean = {0, kExitKilled, 128 + SIGTERM};
          EXPECT_EQ(clean.count(p.exit_code()), 1u) << "exit code " << p.exit_code();
        }
        service_up_ = false;
        service_back_ = Clock::now() + std::chrono::milliseconds(e.down_ms);
        ++service_kills_;
        break;
      }
      case Action::kScaleDown: {
        ChaosScale& scale = *scales_[static_cast<size_t>(e.scale)];
        const std::string problem = scale.Stop(e.signal);
        EXPECT_EQ(problem, "") << "scale " << scale.ip();
        Trace("scale " + scale.ip() + (e.signal == SIGKILL ? " killed" : " stopped"));
        scale_back_[static_cast<size_t>(e.scale)] =
            Clock::now() + std::chrono::milliseconds(e.down_ms);
        ++scale_outages_;
        break;
      }
      case Action::kRestartQueryThreads:
      case Action::kRestartTCPServers: {
        const char* command =
            e.action == Action::kRestartQueryThreads ? "RestartQueryThreads" : "RestartTCPServers";
        // Refused while the service is down or its servers restart; that is fine.
        CommandClient client(port_base_);
        const std::vector<std::string> reply =
            client.ok() ? client.Exchange(command) : std::vector<std::string>{};
        Trace(std::string(command) + (reply.empty() ? " (no answer)" : " -> " + reply.back()));
        ++requests_;
        break;
      }
    }
  }

  // An event waits while its target is down; a request goes out regardless.
  bool CanRun(const Event& e) const {
    switch (e.action) {
      case Action::kKillService:
      case Action::kStopAndKillService:
        return service_up_;
      case Action::kScaleDown:
        return scales_[static_cast<size_t>(e.scale)]->up();
      default:
        return true;
    }
  }

  bool AllAccepted() const {
    for (int s = 0; s < kStreamCount; ++s) {
      if (!queued_[s].empty() || !in_import_[s].empty())
        return false;
    }
    return true;
  }

  // Import/ holds the files of unknown kinds only, and Query/ no command.
  bool QueueEmpty() const {
    std::error_code ec;
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(service_.dir().File("Import"), ec))
      left.insert(e.path().filename().string());
    if (left != std::set<std::string>(strangers_.begin(), strangers_.end()))
      return false;
    for (const auto& e : fs::directory_iterator(service_.dir().File("Query"), ec)) {
      const std::string ext = e.path().extension().string();
      if (ext == ".cmd" || ext == ".dat" || ext == ".lck")
        return false;
    }
    return true;
  }

  // What the service left behind: any file in Query/ besides its folders, and
  // temporary files anywhere in its folder.
  std::string Leftovers() const {
    std::string out;
    std::error_code ec;
    const fs::path query = service_.dir().File("Query");
    for (const auto& e : fs::recursive_directory_iterator(service_.dir().path(), ec)) {
      std::string ext = e.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if ((e.path().parent_path() == query && !e.is_directory()) || ext == ".tmp")
        out += "  " + e.path().lexically_relative(service_.dir().path()).string() + "\n";
    }
    return out;
  }

  std::string Listing(const std::string& folder) const {
    std::string out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(service_.dir().File(folder), ec))
      out += "  " + e.path().lexically_relative(service_.dir().path()).string() + "\n";
    return out;
  }

  // The send journal in the order it was written: one file a day, named
  // dd-mm-yyyy.log.
  std::vector<std::string> JournalLines() const {
    std::map<std::string, std::string> days;  // yyyymmdd -> name
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(service_.dir().File("Log"), ec)) {
      const std::string name = e.path().filename().string();
      if (name.size() == 14 && name.compare(10, 4, ".log") == 0)
        days[name.substr(6, 4) + name.substr(3, 2) + name.substr(0, 2)] = name;
    }
    std::vector<std::string> lines;
    for (const auto& [day, name] : days) {
      std::istringstream in(service_.dir().Read("Log/" + name));
      for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    }
    return lines;
  }

  // Every command reached its scale, and each scale received the files of a
  // stream in the order they were dropped (a file may arrive twice in a row,
  // when the service was killed before it could remove a command it had
  // carried out). The journal records each transfer while the scale is
  // claimed, so its order is the order of delivery.
  void CheckDeliveries() {
    const auto field = [](const std::string& line, const std::string& key) {
      const size_t at = line.find(" " + key + "=");
      if (at == std::string::npos)
        return std::string();
      const size_t start = at + key.size() + 2;
      std::string value = line.substr(start, line.find(' ', start) - start);
      if (!value.empty() && value.back() == '\r')
        value.pop_back();
      return value;
    };
    std::map<std::pair<std::string, int>, std::string> last;  // (ip, stream) -> file
    std::set<std::pair<std::string, std::string>> delivered;  // (ip, file)
    for (const std::string& line : JournalLines()) {
      if (field(line, "Status") != "0")
        continue;
      const std::string ip = field(line, "IP");
      const std::string file = field(line, "File");
      const auto it = sent_.find(file);
      if (it == sent_.end()) {
        ADD_FAILURE() << "journal names a file never sent: " << line;
        continue;
      }
      std::string& previous = last[{ip, it->second.stream}];
      if (!previous.empty() && sent_[previous].generation > it->second.generation)
        ADD_FAILURE() << ip << " received " << file << " after the newer " << previous;
      previous = file;
      delivered.insert({ip, file});
    }
    for (const auto& [file, sent] : sent_) {
      for (size_t i = 0; i < kScaleIPs.size(); ++i) {
        if (sent.target < 0 || sent.target == static_cast<int>(i)) {
          EXPECT_EQ(delivered.count({kScaleIPs[i], file}), 1u)
              << file << " never reached " << kScaleIPs[i];
        }
      }
    }
  }

  void CheckScale(size_t i) {
    const ChaosScale& scale = *scales_[i];
    const ScaleModel& model = models_[i];
    SCOPED_TRACE("scale " + scale.ip());
    EXPECT_EQ(ScalePLUs(scale), model.plus);
    std::map<std::string, std::string> settings = ScaleSettings(scale);
    EXPECT_EQ(settings.count("SystemPassword"), 1u) << "no settings mirror";
    if (model.settings > 0) {
      EXPECT_EQ(settings["SystemPassword"], SettingsPassword(model.settings));
      EXPECT_EQ(settings["PrintTime"], std::to_string(model.settings % 2));
    }
    EXPECT_EQ(ScaleHotKeys(scale), model.keys);
    EXPECT_TRUE(scale.File("label.scr") == model.label) << "label differs";
    EXPECT_TRUE(scale.File("font0.fnt") == model.font) << "font differs";
    EXPECT_TRUE(scale.File("logo.bmp") == model.logo) << "logo differs";
  }

  void TearDown() override {
    if (!HasFailure())
      return;
    std::printf("chaos: what happened (%s):\n%s", Replay().c_str(), trace_.c_str());
    const char* keep = std::getenv("TARVO_CHAOS_KEEP");
    if (keep == nullptr || *keep == '\0')
      return;
    const fs::path to = fs::path(keep) / ("seed-" + std::to_string(seed_));
    std::error_code ec;
    fs::create_directories(to, ec);
    fs::copy(service_.dir().path(), to / "service", fs::copy_options::recursive, ec);
    fs::copy(scale_root_.path() + "/state", to / "scales", fs::copy_options::recursive, ec);
    std::printf("chaos: kept in %s\n", to.c_str());
  }

  unsigned seed_ = 0;
  int files_ = 0;
  std::mt19937_64 rng_;
  Clock::time_point start_ = Clock::now();
  std::string trace_;

  TempDir scale_root_;
  std::vector<std::unique_ptr<ChaosScale>> scales_;
  std::vector<ScaleModel> models_;
  ServiceProcess service_;
  int port_base_ = 0;
  int scale_port_ = 0;

  std::vector<ImportFile> queued_[kStreamCount];
  std::string in_import_[kStreamCount];  // the stream's file not yet taken
  std::vector<std::string> strangers_;   // files of unknown kinds, never taken
  struct Sent {
    Stream stream;
    int generation;
    int target;
  };
  std::map<std::string, Sent> sent_;  // by file name
  std::vector<Event> events_;

  bool service_up_ = false;
  Clock::time_point service_back_;
  std::map<size_t, Clock::time_point> scale_back_;
  int dropped_ = 0;
  int service_kills_ = 0, scale_outages_ = 0, requests_ = 0;
};

TEST_F(ChaosTest, EveryScaleEndsWithTheLastFileOfEachKind) {
  SCOPED_TRACE(Replay());
  Plan();
  // One port for every scale, and the service's four ports, all probed free.
  scale_port_ = PrivatePortBase();
  port_base_ = PrivatePortBase();
  for (auto& scale : scales_)
    ASSERT_TRUE(scale->Start(scale_port_)) << scale->ip();
  service_.WriteIni(
      ServiceIni(kScaleIPs, {}, {"FieldNumber_Pos=1", "FieldName_Pos=2", "FieldPrice_Pos=3"}));
  fs::create_directories(service_.dir().File("Import"));
  for (const std::string& name : strangers_)
    service_.DropImportFile(name, "not for the scales\r\n");
  StartService();

  // The storm: files go in as fast as the service takes them, faults strike
  // at their planned moments, and whatever went down comes back after its
  // time.
  const auto deadline = Clock::now() + std::chrono::seconds(120 + 6 * files_);
  size_t next_event = 0;
  Clock::time_point event_at{};
  bool event_armed = false;
  while (!AllAccepted() || next_event < events_.size() || !service_up_ || !scale_back_.empty()) {
    ASSERT_TRUE(Clock::now() < deadline) << "the files were not taken in time\n"
                                         << Listing("Import") << Listing("Query");
    CheckNoneDied();
    if (!service_up_ && Clock::now() >= service_back_)
      StartService();
    for (auto it = scale_back_.begin(); it != scale_back_.end();) {
      if (Clock::now() < it->second) {
        ++it;
        continue;
      }
      ASSERT_TRUE(scales_[it->first]->Start(scale_port_)) << scales_[it->first]->ip();
      Trace("scale " + scales_[it->first]->ip() + " back");
      it = scale_back_.erase(it);
    }
    for (int s = 0; s < kStreamCount; ++s) {
      const Stream stream = static_cast<Stream>(s);
      if (!in_import_[s].empty() && !fs::exists(service_.dir().File("Import/" + in_import_[s]))) {
        Trace("taken " + in_import_[s]);
        in_import_[s].clear();
      }
      if (in_import_[s].empty() && !queued_[s].empty() && Uniform(0, 2) > 0)
        DropNext(stream);
    }
    if (next_event < events_.size() && dropped_ >= events_[next_event].after_drop) {
      const Event& e = events_[next_event];
      if (!event_armed) {
        event_at = Clock::now() + std::chrono::milliseconds(e.delay_ms);
        event_armed = true;
      }
      if (Clock::now() >= event_at && CanRun(e)) {
        ASSERT_NO_FATAL_FAILURE(Run(e));
        ++next_event;
        event_armed = false;
      }
    }
    SleepMs(Uniform(10, 100));
  }

  // Calm: everything is up; the queue empties.
  Trace("all files taken; waiting for the queue");
  ASSERT_TRUE(WaitUntil([&] { return ServiceAnswers(); }, 60000));
  const bool emptied = WaitUntil([&] { return QueueEmpty(); }, 300000);
  CheckNoneDied();
  std::printf("chaos: %d files, %d service kills, %d scale outages, %d restart requests, %.1f s\n",
              dropped_, service_kills_, scale_outages_, requests_, Seconds());
  ASSERT_TRUE(emptied) << "the queue did not empty\n" << Listing("Import") << Listing("Query");
  // A scale writes its table mirrors shortly after its last request, and
  // at the latest when it stops.
  for (auto& scale : scales_)
    EXPECT_EQ(scale->Stop(SIGTERM), "") << scale->ip();
  for (size_t i = 0; i < scales_.size(); ++i)
    CheckScale(i);
  CheckDeliveries();
  EXPECT_EQ(Leftovers(), "");
  EXPECT_EQ(service_.BadDataFiles(), 0u) << "nothing sent was bad data";
  EXPECT_FALSE(fs::exists(service_.dir().File("Query/Bad")));

  EXPECT_TRUE(service_.Stop(60000));
  EXPECT_EQ(service_.process().exit_code(), 0);
  EXPECT_EQ(SanitizerReports(service_.process().Stderr()), "");
}

}  // namespace
}  // namespace tarvo::testing
