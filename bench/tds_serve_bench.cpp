// `dunmarrow serve` under FreeTDS's DB-Library: calls per second of a small call
// (xp_FileExists) and a large one (xp_ZCompress of a 64 KiB buffer) on one connection and on
// 16, against a plain TCP request/response loop on loopback with the same message sizes; and
// connections per second (connect, PRELOGIN, login with and without TLS, one call,
// disconnect) against plain TCP connect, one exchange, close. The message sizes of the plain
// loop are those of the real exchange, counted by the kernel on a TDS connection.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/call_driver.h"
#include "bench/served_drive.h"
#include "bench/tds_client.h"
#include "bench/wire_loop.h"

namespace tds_bench {

namespace {

constexpr double kSeconds = 2.0;
constexpr int kMany = 16;
const std::string kExistingFile = "c:\\bench-exists.txt";

enum class Kind { kFileExists, kZCompress };

// The server without TLS, with the file xp_FileExists looks for; null (and the benchmark
// skipped) when it cannot run.
ServedDrive* Server(benchmark::State& state, bool tls = false) {
  ServedDrive& server = SharedServer(tls);
  if (server.port() == 0) {
    state.SkipWithError(server.error().c_str());
    return nullptr;
  }
  std::ofstream(server.root() + "/c/bench-exists.txt") << "here\n";
  return &server;
}

// Incompressible bytes, so that the compressed value is as large as the buffer.
std::vector<uint8_t> RandomBuffer() {
  std::vector<uint8_t> bytes(64 * 1024);
  std::mt19937 random(18);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// Connections of one kind of call: each opened and prepared (the buffer made once, on the
// first); false with the benchmark skipped when one fails.
struct Calls {
  std::vector<std::unique_ptr<TdsClient>> clients;
  int handle = -1;

  bool Open(benchmark::State& state, const ServedDrive& server, Kind kind, int count) {
    for (int i = 0; i < count; ++i) {
      std::string error;
      clients.push_back(std::make_unique<TdsClient>());
      if (!clients.back()->Open(server.port(), false, error)) {
        state.SkipWithError(error.c_str());
        return false;
      }
    }
    if (kind == Kind::kZCompress) handle = clients[0]->ZCreate(RandomBuffer());
    if (kind == Kind::kZCompress && handle == -1) {
      state.SkipWithError(("xp_ZCreate failed: " + LastDbLibError()).c_str());
      return false;
    }
    return true;
  }

  bool Call(Kind kind, int worker) {
    TdsClient& client = *clients[static_cast<size_t>(worker)];
    return kind == Kind::kFileExists ? client.FileExists(kExistingFile)
                                     : client.ZCompress(handle) >= 64 * 1024;
  }

  void Close() {
    for (auto& client : clients) client->Close();
  }
};

void Failed(benchmark::State& state) {
  state.SkipWithError(("a call failed: " + LastDbLibError()).c_str());
}

void BM_TdsCalls(benchmark::State& state, Kind kind, int connections) {
  ServedDrive* server = Server(state);
  if (!server) return;
  Calls calls;
  if (!calls.Open(state, *server, kind, connections)) return;
  for (auto _ : state) {
    WireBytes before = calls.clients[0]->Bytes();
    Outcome outcome = Drive(connections, kSeconds, server->pid(),
                            [&](int worker) { return calls.Call(kind, worker); });
    WireBytes after = calls.clients[0]->Bytes();
    if (outcome.failed) return Failed(state);
    Report(state, outcome);
    double first = static_cast<double>(outcome.calls) / connections;
    state.counters["request_bytes"] = static_cast<double>(after.sent - before.sent) / first;
    state.counters["reply_bytes"] = static_cast<double>(after.received - before.received) / first;
  }
  calls.Close();
}
BENCHMARK_CAPTURE(BM_TdsCalls, FileExists_1_connection, Kind::kFileExists, 1)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_TdsCalls, ZCompress64K_1_connection, Kind::kZCompress, 1)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_TdsCalls, FileExists_16_connections, Kind::kFileExists, kMany)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_TdsCalls, ZCompress64K_16_connections, Kind::kZCompress, kMany)
    ->Iterations(1)
    ->UseManualTime();

// The plain loop: first the sizes of this call's request and reply, from a few real calls.
void BM_WireLoop(benchmark::State& state, Kind kind) {
  ServedDrive* server = Server(state);
  if (!server) return;
  Calls calls;
  if (!calls.Open(state, *server, kind, 1)) return;
  constexpr int kSamples = 20;
  calls.Call(kind, 0);
  WireBytes before = calls.clients[0]->Bytes();
  for (int i = 0; i < kSamples; ++i) {
    if (!calls.Call(kind, 0)) return Failed(state);
  }
  WireBytes after = calls.clients[0]->Bytes();
  calls.Close();
  size_t request = (after.sent - before.sent) / kSamples;
  size_t reply = (after.received - before.received) / kSamples;
  WireServer wire(request, reply);
  WireClient client(request, reply);
  if (wire.port() == 0 || !client.Connect(wire.port())) {
    state.SkipWithError("the plain loopback loop could not connect");
    return;
  }
  for (auto _ : state) {
    Outcome outcome = Drive(1, kSeconds, 0, [&](int) { return client.Exchange(); });
    if (outcome.failed) {
      state.SkipWithError("the plain loopback exchange failed");
      return;
    }
    Report(state, outcome);
  }
  client.Close();
  state.counters["request_bytes"] = static_cast<double>(request);
  state.counters["reply_bytes"] = static_cast<double>(reply);
}
BENCHMARK_CAPTURE(BM_WireLoop, FileExists_sizes, Kind::kFileExists)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_WireLoop, ZCompress64K_sizes, Kind::kZCompress)
    ->Iterations(1)
    ->UseManualTime();

// Connect, PRELOGIN, (TLS), login, one xp_FileExists, disconnect: one after the other.
void BM_TdsConnections(benchmark::State& state, bool tls) {
  ServedDrive* server = Server(state, tls);
  if (!server) return;
  std::string error;
  for (auto _ : state) {
    Outcome outcome = Drive(1, kSeconds, server->pid(), [&](int) {
      TdsClient client;
      bool ok = client.Open(server->port(), tls, error) && client.FileExists(kExistingFile);
      client.Close();
      return ok;
    });
    if (outcome.failed) return Failed(state);
    Report(state, outcome);
  }
}
BENCHMARK_CAPTURE(BM_TdsConnections, plain, false)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_TdsConnections, tls, true)->Iterations(1)->UseManualTime();

// The same without TDS: connect, one exchange of xp_FileExists's sizes, close.
void BM_WireConnections(benchmark::State& state) {
  constexpr size_t kRequest = 64, kReply = 32;
  WireServer wire(kRequest, kReply);
  for (auto _ : state) {
    Outcome outcome = Drive(1, kSeconds, 0, [&](int) {
      WireClient client(kRequest, kReply);
      bool ok = client.Connect(wire.port()) && client.Exchange();
      client.Close();
      return ok;
    });
    if (outcome.failed) {
      state.SkipWithError("the plain loopback connection failed");
      return;
    }
    Report(state, outcome);
  }
}
BENCHMARK(BM_WireConnections)->Iterations(1)->UseManualTime();

}  // namespace

}  // namespace tds_bench
