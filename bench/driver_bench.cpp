// PLUs per second into an in-process emulator on loopback, in batches of 100:
//   driver  the network driver as the service drives it (InitBufferPLU, 100 x
//           AddPLUToBuffer and 17 property puts, SetAllPLU), one connection
//           per batch;
//   raw     pre-framed SetPlus requests of the same 100 PLUs from a bare
//           client on one open connection: the emulator's ingest rate.
// Prints the driver/raw ratio; the target is at least 0.5.
//
// The emulator's state folder goes to /dev/shm when it exists, so that the
// figures measure the protocol path rather than the disk; TARVO_BENCH_DIR
// names another parent folder.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "emulator/scale_emulator.h"
#include "platform/datetime.h"
#include "platform/socket.h"
#include "scaledriver/scale_driver.h"

namespace tarvo {
namespace {

constexpr char kScale[] = "127.0.0.1";
constexpr int kBatch = 100;

// One emulator for the whole run.
class Bench {
 public:
  Bench() {
    const char* parent = getenv("TARVO_BENCH_DIR");
    std::string base = parent != nullptr                           ? parent
                       : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                   : "/tmp";
    std::string pattern = base + "/tarvo-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    dir_ = pattern;
    emu::EmulatorOptions options;
    options.StateDir = dir_;
    options.Addresses = {kScale};
    options.Port = 0;
    emulator_ = std::make_unique<emu::ScaleEmulator>(options);
    std::string error;
    if (!emulator_->Start(&error)) {
      std::fprintf(stderr, "emulator: %s\n", error.c_str());
      std::exit(1);
    }
  }
  ~Bench() {
    emulator_.reset();
    std::filesystem::remove_all(dir_);
  }

  int Port() const { return emulator_->Port(); }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::unique_ptr<emu::ScaleEmulator> emulator_;
};

Bench* bench = nullptr;

scale::PluRecord SamplePlu(int i) {
  scale::PluRecord r;
  r.Number = i + 1;
  r.Name = "Товар номер " + std::to_string(i + 1);
  r.AddCode = 20000 + i;
  r.BarCodeType = 7;
  r.Price = 99.9 + i;
  r.WeightUnit = 4;
  r.Dep = 1;
  r.Tare = 0.01;
  r.ShelfTime = 5;
  r.Label = 1;
  r.Rebate = 0;
  r.Message = 0;
  r.PackageType = 0;
  r.PackageWeight = 0;
  r.Tolerance = 0;
  r.ProductionDate = 45000;
  r.IcePercent = 0;
  return r;
}

void BM_Driver(benchmark::State& state) {
  ScaleDriverOptions options;
  options.Port = bench->Port();
  ScaleDriver d(options);
  d.SetProperty("IPAddress", std::string(kScale));
  std::vector<scale::PluRecord> plus;
  for (int i = 0; i < kBatch; ++i)
    plus.push_back(SamplePlu(i));
  for (auto _ : state) {
    d.Invoke("InitBufferPLU");
    for (const scale::PluRecord& r : plus) {
      d.Invoke("AddPLUToBuffer");
      d.SetProperty("PLU_Number", r.Number);
      d.SetProperty("PLU_Name", r.Name);
      d.SetProperty("PLU_AddCode", r.AddCode);
      d.SetProperty("PLU_BarCodeType", r.BarCodeType);
      d.SetProperty("PLU_Price", r.Price);
      d.SetProperty("PLU_WeightUnit", r.WeightUnit);
      d.SetProperty("PLU_Dep", r.Dep);
      d.SetProperty("PLU_Tare", r.Tare);
      d.SetProperty("PLU_ShlefTime", r.ShelfTime);
      d.SetProperty("PLU_Label", r.Label);
      d.SetProperty("PLU_Rebate", r.Rebate);
      d.SetProperty("PLU_Message", r.Message);
      d.SetProperty("PLU_PackageType", r.PackageType);
      d.SetProperty("PLU_PackageWeight", r.PackageWeight);
      d.SetProperty("PLU_Tolerance", r.Tolerance);
      d.SetProperty("PLU_ProductionDate", DateTime(r.ProductionDate));
      d.SetProperty("PLU_IcePercent", r.IcePercent);
    }
    d.Invoke("SetAllPLU");
    if (d.GetProperty("LastError").AsInt() != 0) {
      state.SkipWithError(d.GetProperty("LastErrorMessage").AsText().c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Raw(benchmark::State& state) {
  std::vector<scale::PluRecord> plus;
  for (int i = 0; i < kBatch; ++i)
    plus.push_back(SamplePlu(i));
  const std::string request =
      scale::BuildFrame(static_cast<uint8_t>(scale::Op::kSetPlus), scale::EncodePlus(plus));
  std::string error;
  auto c = TcpConnect(kScale, bench->Port(), 3000, nullptr, &error);
  if (c == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  c->SetTimeoutMillis(10000);
  scale::Frame reply;
  for (auto _ : state) {
    if (!c->WriteAll(request.data(), request.size()) ||
        scale::ReadFrame(*c, &reply) != scale::ReadStatus::kOk) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

BENCHMARK(BM_Driver)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_Raw)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

// Keeps the items-per-second figure of each benchmark for the ratio.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  RateReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end() && !run.error_occurred) {
        rates[run.benchmark_name()] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace
}  // namespace tarvo

int main(int argc, char** argv) {
  // Google Benchmark takes its --benchmark_* flags (and answers --help);
  // anything left is not understood.
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    std::fprintf(stderr, "usage: driver_bench [--benchmark_filter=REGEX] [--benchmark_*...]\n");
    return 2;
  }
  tarvo::Bench shared;
  tarvo::bench = &shared;
  std::printf("emulator state folder: %s\n", shared.dir().c_str());
  tarvo::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double driver = reporter.rates["BM_Driver/min_time:1.000/real_time"];
  double raw = reporter.rates["BM_Raw/min_time:1.000/real_time"];
  if (driver > 0 && raw > 0) {
    std::printf(
        "PLUs/s in batches of %d: driver %.0f, raw %.0f, driver/raw ratio %.2f (target >= 0.50)\n",
        tarvo::kBatch, driver, raw, driver / raw);
  }
  benchmark::Shutdown();
  return 0;
}
