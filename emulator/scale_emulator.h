// The scale emulator: one or more networked scales that speak the scale
// protocol (docs/scale-protocol.md), each on its own address, each keeping
// its memory in memory and mirroring it into <StateDir>/<address>/.
//
// A scale starts from what its folder holds (an earlier run's mirror), so a
// restart behaves like a scale switched off and on; an empty or missing
// folder gives a fresh scale. The mirror is rewritten at start.
//
// The table mirrors (plus.tsv, messages.tsv, settings.ini, hotkeys.tsv) are
// not rewritten per request: a change marks them stale, and a writer thread
// rewrites a stale mirror once its scale has had no request for
// kMirrorIdleMs, or kMirrorLagMs after its first unwritten change while
// requests keep coming, and Stop() writes what is left. A mirror that takes
// long to write is written less often (about a tenth of the time). While
// a mirror cannot be written, requests that change the scale's tables are
// answered "cannot store the data" and change nothing. label.scr, font<N>.fnt
// and logo.bmp are written by the request that brings them.
//
// Requests are served one at a time per scale, in arrival order; any number
// of connections (up to 50 per scale) may be open. A connection that sends
// something other than a well-formed frame (wrong magic, reserved bytes set,
// an oversized length, a frame cut short, silence of kIdleTimeoutMs inside
// or between frames) is closed; nothing else changes.
#ifndef TARVO_EMULATOR_SCALE_EMULATOR_H_
#define TARVO_EMULATOR_SCALE_EMULATOR_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "scaledriver/protocol.h"

namespace tarvo::emu {

struct ScaleMemory;

// A connection that stays silent this long is closed.
constexpr int kIdleTimeoutMs = 60000;

// When stale table mirrors are written (see above).
constexpr int64_t kMirrorIdleMs = 50;
constexpr int64_t kMirrorLagMs = 250;

struct EmulatorOptions {
  std::string StateDir;                // ANSI path
  std::vector<std::string> Addresses;  // IPv4 addresses, one scale each
  // The TCP port of every scale. 0: the first address gets a free port from
  // the system and the others bind the same port.
  int Port = 5001;
  std::string Serial;                    // "" = "EMU-" + address
  std::string Version = "TarvoEmu 1.0";  // the scale version reported
  int64_t ErrorAfter = -1;               // < 0: never inject errors
  int32_t ErrorCode = 0;                 // 1..999, with ErrorAfter
  int DelayMs = 0;                       // delay before each answer
};

// Parses the command line after the program name:
//   --state DIR [--port N] [--serial TEXT] [--scale-version TEXT]
//   [--error-after N --error-code C] [--delay-ms N] IP [IP ...]
// `defaultPort` is used without --port. False with `error` set on bad usage.
bool ParseEmulatorArgs(const std::vector<std::string>& args, int defaultPort,
                       EmulatorOptions* options, std::string* error);

class ScaleEmulator {
 public:
  explicit ScaleEmulator(EmulatorOptions options);
  ~ScaleEmulator();  // Stop()
  ScaleEmulator(const ScaleEmulator&) = delete;
  ScaleEmulator& operator=(const ScaleEmulator&) = delete;

  // Loads every scale's folder, writes its mirror and starts listening on
  // every address. False with `error` set (and nothing left running) when a
  // folder cannot be read or written or an address cannot be bound.
  bool Start(std::string* error);

  // Stops listening, ends pending delays, closes every connection and waits
  // for their threads, then writes every stale mirror.
  void Stop();

  // True when every scale's mirror files show its memory: no change waits
  // to be written and no write is under way.
  bool MirrorCurrent() const;

  // The port every scale listens on (meaningful after Start).
  int Port() const { return port_; }

  // Serves `connection` as the scale at `address` (one of the addresses,
  // after Start) serves a connection accepted on its port: request after
  // request until the connection ends or sends a bad frame. For tests that
  // feed a scale without a socket. False for an unknown address.
  bool ServeConnection(const std::string& address, TcpConnection& connection);
  // A copy of what the scale at `address` holds; false for an unknown
  // address.
  bool Memory(const std::string& address, ScaleMemory* memory);
  const EmulatorOptions& options() const { return options_; }

 private:
  struct Scale;
  Scale* Find(const std::string& address);
  void Serve(Scale& scale, TcpConnection& connection);
  scale::Reply Apply(Scale& scale, uint8_t type, const std::string& payload);
  void Delay();

  // The writer thread's loop, and one scale's turn in it: writes the stale
  // mirrors when due (or at once when `now` is true) and returns when they
  // are due next (kNever when none is stale).
  void MirrorLoop();
  int64_t WriteMirrorIfDue(Scale& scale, bool now);
  void WakeMirrorWriter();

  const EmulatorOptions options_;
  int port_ = 0;
  std::vector<std::unique_ptr<Scale>> scales_;
  std::atomic<bool> stopping_{false};

  std::mutex mirror_mu_;  // guards the two flags below; never held with a Scale's mutex
  std::condition_variable mirror_cv_;
  bool mirror_wake_ = false;  // a scale's mirror became stale
  bool mirror_stop_ = false;
  std::thread mirror_writer_;
};

}  // namespace tarvo::emu

#endif  // TARVO_EMULATOR_SCALE_EMULATOR_H_
