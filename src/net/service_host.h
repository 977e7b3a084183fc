// What the service's TCP servers need of the service object: its control
// flags, its client counters, its settings, its log and the state of its
// workers. The service object implements this; the servers hold a reference
// and never outlive it.
#ifndef TARVO_NET_SERVICE_HOST_H_
#define TARVO_NET_SERVICE_HOST_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "log/logoperations.h"
#include "platform/clock.h"
#include "settings/workservicesettings.h"

namespace tarvo {

class ServiceHost : public LogSink {
 public:
  ~ServiceHost() override = default;

  // The settings record; the servers read and replace it under its Lock.
  virtual MServiceSettings& ServiceSettings() = 0;
  // The clock that stamps new scale list entries.
  virtual const Clock& ServiceClock() const = 0;
  // The executable whose file version "Version" reports.
  virtual std::string ExecutableFile() const = 0;
  // The queues of the live-log clients, which LogWrite fills.
  virtual LogClients& LogClientList() = 0;
  // Writes to the log object only: the live-log clients do not get it.
  virtual void WriteLogEvent(const std::string& text, int level) = 0;
  // The workers whose failed send waits for its retry.
  virtual int32_t RetryQueryCount() const = 0;

  // Control flags: set by any thread, read and cleared by the main loop,
  // which carries each request out on its next pass.
  std::atomic<bool> TerminateLoop{false};
  std::atomic<bool> ReloadSettingsRequested{false};
  std::atomic<bool> ImportScanRequested{false};
  std::atomic<bool> ShutdownRequested{false};
  std::atomic<bool> DeleteSendQueriesRequested{false};
  std::atomic<bool> RestartQueryThreadsRequested{false};
  std::atomic<bool> RestartTCPServersRequested{false};

  // Connected clients of the four servers, each kept by its server.
  std::atomic<int32_t> LogClientCount{0};
  std::atomic<int32_t> StatClientCount{0};
  std::atomic<int32_t> CmdClientCount{0};
  std::atomic<int32_t> CmdStatClientCount{0};

  // When the main loop began, as a day number; 0 until then.
  std::atomic<double> ExecuteStartTime{0.0};
};

// Decrements `counter` unless it is already 0 or below.
inline void DecrementClientCount(std::atomic<int32_t>& counter) {
  int32_t value = counter.load();
  while (value > 0 && !counter.compare_exchange_weak(value, value - 1)) {
  }
}

}  // namespace tarvo

#endif  // TARVO_NET_SERVICE_HOST_H_
