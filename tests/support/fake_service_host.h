// The service as its TCP servers see it, for server tests: a settings record
// over an INI file in a temporary folder, a manual clock, live-log queues, and
// every log line recorded.
#ifndef TARVO_TESTS_SUPPORT_FAKE_SERVICE_HOST_H_
#define TARVO_TESTS_SUPPORT_FAKE_SERVICE_HOST_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "net/service_host.h"
#include "support/temp_dir.h"
#include "support/worker_harness.h"

namespace tarvo::testing {

class FakeServiceHost : public ServiceHost {
 public:
  // 7 December 2026, 14:02:00.
  static DateTime StartTime() { return DateTime::FromParts({2026, 12, 7, 14, 2, 0, 0}); }

  FakeServiceHost()
      : clock(StartTime()),
        system_log_(LogOptions{slTime}, clock, LogProcessInfo()),
        settings_(dir.File("tarvo-scale-server"), system_log_, clock) {
    settings_.IniFileName = dir.File("tarvo-scale-server.ini");
    settings_.LoadSettings();
    settings_.LoadScaleList();
    settings_.LoadFieldsConfig();
    system_log_.SetMinLevel(5);
  }

  // The log file as written.
  std::string LogFile() const { return dir.Read("Log/tarvo-scale-server.log"); }

  MServiceSettings& ServiceSettings() override { return settings_; }
  const Clock& ServiceClock() const override { return clock; }
  std::string ExecutableFile() const override { return ""; }
  LogClients& LogClientList() override { return clients; }
  // Both the service's log entry and the direct write are recorded; the
  // first also goes the service's way to the log file (which takes level 5
  // only) and the live-log queues.
  void LogWrite(const std::string& text, int level) override {
    log.Record(text, level);
    tarvo::LogWrite(system_log_, &clients, clock, text, level);
  }
  void WriteLogEvent(const std::string& text, int level) override { log.Record(text, level); }
  int32_t RetryQueryCount() const override { return retry_query_count; }

  TempDir dir;
  ManualClock clock;
  LogRecorder log;
  LogClients clients;
  std::atomic<int32_t> retry_query_count{0};

 private:
  TSystemLog system_log_;
  MServiceSettings settings_;
};

}  // namespace tarvo::testing

#endif  // TARVO_TESTS_SUPPORT_FAKE_SERVICE_HOST_H_
