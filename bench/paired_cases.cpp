// Library against baseline. Each iteration runs the library's operation and the
// baseline's, in alternating order, each timed on its own; the medians are compared, so
// that a hiccup of the shared machine lands on both sides alike.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <sched.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cases.h"
#include "fast_broker.h"
#include "summary.h"

extern char** environ;

char kClientName[] = "bench";
const char* const kNoInstallation = "/nonexistent/tapbroker-bench";

namespace {

char kGrantFirst[] = "bench";
char kGrantSecond[] = "flags";
constexpr int kMiB = 1024 * 1024;
constexpr int kJtagBits = 8192;  // one full 1024-byte block, the largest single block

const std::vector<unsigned char>& pattern() {
  static const std::vector<unsigned char> bytes = [] {
    std::vector<unsigned char> data(kMiB);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
    return data;
  }();
  return bytes;
}

template <class Operation>
bool timed(Operation& operation, double& ns) {
  auto start = std::chrono::steady_clock::now();
  bool ok = operation();
  ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
           .count();
  return ok;
}

void fail(benchmark::State& state, const std::string& what) {
  Summary::get().fail(what);
  state.SkipWithError(what.c_str());
}

template <class Library, class Baseline>
void alternate(benchmark::State& state, PairedFigure figure, Library library,
               Baseline baseline) {
  std::vector<double> libraryNs;
  std::vector<double> baselineNs;
  bool libraryFirst = true;
  for (auto _ : state) {
    double a = 0;
    double b = 0;
    bool libraryOk;
    bool baselineOk;
    if (libraryFirst) {
      libraryOk = timed(library, a);
      baselineOk = timed(baseline, b);
    } else {
      baselineOk = timed(baseline, b);
      libraryOk = timed(library, a);
    }
    libraryFirst = !libraryFirst;
    if (!libraryOk || !baselineOk) {
      fail(state, figure.name + ": " + (libraryOk ? "the baseline" : "the library") +
                      " got a wrong answer");
      return;
    }
    libraryNs.push_back(a);
    baselineNs.push_back(b);
  }
  figure.libraryNs = median(libraryNs);
  figure.baselineNs = median(baselineNs);
  figure.pairs = static_cast<long>(libraryNs.size());
  state.counters["library_us"] = figure.libraryNs / 1e3;
  state.counters["baseline_us"] = figure.baselineNs / 1e3;
  state.counters["ratio"] = figure.libraryNs / figure.baselineNs;
  if (figure.bytes > 0) {
    state.counters["library_MiBps"] = figure.bytes / kMiB / (figure.libraryNs / 1e9);
    state.counters["baseline_MiBps"] = figure.bytes / kMiB / (figure.baselineNs / 1e9);
  }
  Summary::get().put(figure);
}

// Before timing, both clients run the operation once and must hold the same read-back.
bool sameReadBack(Conversations& c, int bitCount) {
  std::vector<char> library((bitCount + 7) / 8);
  if (c.library.GetTDO(library.data(), bitCount) != 0) return false;
  const std::vector<unsigned char>& baseline = c.baseline.readBack();
  return baseline.size() == library.size() &&
         std::memcmp(baseline.data(), library.data(), library.size()) == 0;
}

void sendIntCase(benchmark::State& state) {
  Conversations c;
  if (std::string why = c.open(); !why.empty()) return fail(state, why);
  alternate(
      state, PairedFigure{"Send(5, 7), both flags granted", 0, 0, 0, 1.05},
      [&] { return c.library.Send(5, 7) == 0 && c.library.GetClientStatus() == 0; },
      [&] { return c.baseline.sendInt(5, 7) == 0; });
}

// The method's own resolution: the baseline against a second baseline connection, with
// everything else as in the Send(5, 7) case. A ratio away from 1 here is noise or bias of
// the measurement, not of the library.
void calibrationCase(benchmark::State& state) {
  Conversations c;
  if (std::string why = c.open(); !why.empty()) return fail(state, why);
  BareClient second;
  if (!second.connect(kClientName) || !second.grantFlags(kGrantFirst, kGrantSecond)) {
    return fail(state, "calibration: the second baseline could not connect");
  }
  alternate(
      state, PairedFigure{"calibration: Send(5, 7) baseline against baseline", 0, 0, 0, 0},
      [&] { return second.sendInt(5, 7) == 0; }, [&] { return c.baseline.sendInt(5, 7) == 0; });
  second.disconnect();
}

void jtagShiftCase(benchmark::State& state) {
  Conversations c;
  if (std::string why = c.open(); !why.empty()) return fail(state, why);
  const unsigned char* data = pattern().data();
  const unsigned char* bufferA = data + 4096;
  auto library = [&] {
    return c.library.Send(44, 12, 0, kJtagBits, 1, 0, data, bufferA) == 0 &&
           c.library.GetClientStatus() == 0;
  };
  auto baseline = [&] { return c.baseline.jtagShift(0, kJtagBits, data, bufferA) == 0; };
  if (!library() || !baseline() || !sameReadBack(c, kJtagBits)) {
    return fail(state, "JTAG shift: the library's read-back differs from the baseline's");
  }
  alternate(state,
            PairedFigure{"JTAG shift Send(44, 12, ...), 1 block of 1024 bytes, read-back", 0, 0,
                         0, 1.05},
            library, baseline);
}

void genericShiftCase(benchmark::State& state) {
  Conversations c;
  if (std::string why = c.open(); !why.empty()) return fail(state, why);
  const unsigned char* data = pattern().data();
  auto library = [&] {
    return c.library.Send(19, 0, 8 * kMiB, 1, data) == 0 && c.library.GetClientStatus() == 0;
  };
  auto baseline = [&] { return c.baseline.genericShift(0, 8 * kMiB, 1, data) == 0; };
  if (!library() || !baseline() || !sameReadBack(c, 8 * kMiB)) {
    return fail(state, "generic shift: the library's read-back differs from the baseline's");
  }
  alternate(state,
            PairedFigure{"generic shift Send(19, ...), 1 MiB, read-back", 0, 0, kMiB, 1.05},
            library, baseline);
}

void pumpCase(benchmark::State& state) {
  Conversations c;
  if (std::string why = c.open(); !why.empty()) return fail(state, why);
  const unsigned char* data = pattern().data();
  auto library = [&] {
    return c.library.Send(42, data, 8 * kMiB, 0, 1) == 0 && c.library.GetClientStatus() == 0;
  };
  auto baseline = [&] { return c.baseline.pump(data, 8 * kMiB, 0, 1) == 0; };
  if (!library() || !baseline() || !sameReadBack(c, 8 * kMiB)) {
    return fail(state, "pump: the library's read-back differs from the baseline's");
  }
  alternate(state, PairedFigure{"pump Send(42, ...), 1 MiB, read-back", 0, 0, kMiB, 1.05},
            library, baseline);
}

void readListCase(benchmark::State& state) {
  Conversations c;
  if (std::string why = c.open(); !why.empty()) return fail(state, why);
  std::vector<std::string> libraryItems;
  std::vector<std::string> baselineItems;
  auto library = [&] {
    libraryItems.clear();
    return c.library.Read(libraryItems) == 0 && libraryItems.size() == 111;
  };
  auto baseline = [&] {
    baselineItems.clear();
    return c.baseline.readList(baselineItems) == 0 && baselineItems.size() == 111;
  };
  if (!library() || !baseline() || libraryItems != baselineItems) {
    return fail(state, "Read(list): the library's items differ from the baseline's");
  }
  alternate(state, PairedFigure{"Read(std::vector<std::string>&), 1000-byte list", 0, 0, 0, 0},
            library, baseline);
}

void connectCase(benchmark::State& state) {
  Client library(kClientName);
  BareClient baseline;
  alternate(
      state, PairedFigure{"Connect + Disconnect", 0, 0, 0, 0},
      [&] {
        return library.Connect(nullptr, nullptr, kNoInstallation) == 0 &&
               library.Disconnect() == 0;
      },
      [&] { return baseline.connect(kClientName) && baseline.disconnect(); });
}

// --- tapbroker.exe against the minimal broker -------------------------------------------
// The same library calls go to tapbroker.exe, with its simulated cable, and to the
// suite's minimal broker: the ratio is what the simulation and its serving cost. Both run
// as processes of their own, so that both sides pay the same for waking another process.
// Both listen on the one fixed port: the suite's in-process broker lends it to the
// minimal broker's process, which gives it up once the library has connected, and takes
// it back when both have gone.

FastBroker* minimalBroker = nullptr;
constexpr int kIdcodeBytes = 8;  // the built-in chain's two IDCODE registers, 64 bits

bool portAccepts(int port = FastBroker::kPort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return accepted;
}

// Waits up to five seconds for the port to accept connections (or to stop accepting).
bool portBecomes(bool accepting, int port = FastBroker::kPort) {
  for (int i = 0; i < 200; ++i) {
    if (portAccepts(port) == accepting) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

// Starts `path` with `arguments`; 0 when it could not start.
pid_t spawn(std::string path, std::vector<std::string> arguments) {
  std::vector<char*> argv{path.data()};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  return ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid
                                                                                        : 0;
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

// Where the machine has two CPUs or more, both brokers run on one and the client on
// another: then neither broker gains or loses by where the scheduler happens to put it.
class Placement {
 public:
  Placement() {
    ::sched_getaffinity(0, sizeof saved_, &saved_);
    for (int cpu = 0; cpu < CPU_SETSIZE && (client_ < 0 || brokers_ < 0); ++cpu) {
      if (!CPU_ISSET(cpu, &saved_)) continue;
      (client_ < 0 ? client_ : brokers_) = cpu;
    }
  }
  ~Placement() { ::sched_setaffinity(0, sizeof saved_, &saved_); }
  // The programs started from now on, until forClient(), run on the brokers' CPU.
  void forBrokers() const { runOn(brokers_); }
  void forClient() const { runOn(client_); }

 private:
  void runOn(int cpu) const {
    if (brokers_ < 0) return;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(cpu, &only);
    ::sched_setaffinity(0, sizeof only, &only);
  }

  cpu_set_t saved_;
  int client_ = -1;
  int brokers_ = -1;
};

struct BrokerPair {
  Placement placement;
  Client viaBroker{kClientName};
  Client viaMinimal{kClientName};
  pid_t broker = 0;
  pid_t minimal = 0;

  static bool openCable(Client& client) {
    return client.Send(4, kGrantFirst, kGrantSecond, 0) == 0 && client.Send(33) == 0;
  }

  // Connect would take a refusal for "no broker" and wait five seconds for one, so each
  // broker is seen listening before the library connects to it.
  std::string open() {
    minimalBroker->releasePort();
    placement.forBrokers();
    minimal = spawn("/proc/self/exe", {FastBroker::kProcessOption});
    if (minimal == 0 || !portBecomes(true)) return "the minimal broker's process did not start";
    if (viaMinimal.Connect(nullptr, nullptr, kNoInstallation) != 0 || !openCable(viaMinimal)) {
      return "the library could not open a conversation with the minimal broker";
    }
    ::kill(minimal, SIGUSR1);
    if (!portBecomes(false)) return "the minimal broker's process kept the port";
    broker = spawn(TAPBROKER_EXE, {"--port", "4001", "--idle-exit", "0"});
    if (broker == 0 || !portBecomes(true)) return "tapbroker.exe did not start";
    placement.forClient();
    if (viaBroker.Connect(nullptr, nullptr, kNoInstallation) != 0 || !openCable(viaBroker)) {
      return "the library could not open a conversation with tapbroker.exe";
    }
    return {};
  }

  ~BrokerPair() {
    viaBroker.Disconnect();
    viaMinimal.Disconnect();
    stop(broker);
    stop(minimal);
    minimalBroker->retakePort(std::chrono::seconds(10));
  }
};

// The read-back of the last shift: `bytes` long.
std::vector<unsigned char> readBack(Client& client, int bytes) {
  std::vector<unsigned char> data(static_cast<std::size_t>(bytes));
  client.GetTDO(reinterpret_cast<char*>(data.data()), 8 * bytes);
  return data;
}

void brokerSendIntCase(benchmark::State& state) {
  BrokerPair pair;
  if (std::string why = pair.open(); !why.empty()) return fail(state, why);
  alternate(
      state, PairedFigure{"tapbroker.exe / minimal broker: Send(5, 7)", 0, 0, 0, 1.25},
      [&] { return pair.viaBroker.Send(5, 7) == 7; },
      [&] { return pair.viaMinimal.Send(5, 7) == 0; });
}

void brokerGenericShiftCase(benchmark::State& state) {
  BrokerPair pair;
  if (std::string why = pair.open(); !why.empty()) return fail(state, why);
  const unsigned char* data = pattern().data();
  auto shift = [data](Client& client) {
    return client.Send(19, 0, 8 * kMiB, 1, data) == 0 && client.GetClientStatus() == 0;
  };
  // The chain is a delay line: the IDCODEs come out first, then the data shifted in.
  if (!shift(pair.viaBroker)) return fail(state, "tapbroker.exe refused the generic shift");
  const std::vector<unsigned char> tdo = readBack(pair.viaBroker, kMiB);
  if (!std::equal(tdo.begin() + kIdcodeBytes, tdo.end(), data)) {
    return fail(state, "generic shift: tapbroker.exe's read-back is not the data shifted in");
  }
  alternate(state,
            PairedFigure{"tapbroker.exe / minimal broker: generic shift 1 MiB, read-back", 0, 0,
                         kMiB, 1.25},
            [&] { return shift(pair.viaBroker); }, [&] { return shift(pair.viaMinimal); });
}

void brokerPumpCase(benchmark::State& state) {
  BrokerPair pair;
  if (std::string why = pair.open(); !why.empty()) return fail(state, why);
  const unsigned char* data = pattern().data();
  auto pump = [data](Client& client) {
    return client.Send(15, 0) == 0 && client.Send(42, data, 8 * kMiB, 0, 1) >= 0 &&
           client.GetClientStatus() == 0;
  };
  // The flash keeps what was programmed; each block's first byte is the "+" marker.
  if (!pump(pair.viaBroker)) return fail(state, "tapbroker.exe refused the pump");
  const std::vector<unsigned char> flash = readBack(pair.viaBroker, kMiB);
  for (int i = 0; i < kMiB; ++i) {
    if (i % 1024 != 0 && flash[static_cast<std::size_t>(i)] != data[i]) {
      return fail(state, "pump: tapbroker.exe's read-back is not the flash programmed");
    }
  }
  alternate(state,
            PairedFigure{"tapbroker.exe / minimal broker: pump 1 MiB, read-back", 0, 0, kMiB,
                         1.25},
            [&] { return pump(pair.viaBroker); }, [&] { return pump(pair.viaMinimal); });
}

// --- Recording: the same shift recorded and unrecorded ----------------------------------
// A recorded conversation keeps about a megabyte of its text and spills the rest beside
// the transcript; what that costs a 1 MiB shift, in the library and in tapbroker.exe.

// A directory of the case's own for the transcript, removed with it.
class RecordTarget {
 public:
  RecordTarget() {
    char pattern[] = "/tmp/tapbroker-bench-XXXXXX";
    if (::mkdtemp(pattern)) directory_ = pattern;
    path = directory_ + "/transcript.txt";
  }
  ~RecordTarget() {
    ::unlink(path.c_str());
    ::rmdir(directory_.c_str());
  }
  double sizeMiB() const {
    struct stat file;
    return ::stat(path.c_str(), &file) == 0 ? static_cast<double>(file.st_size) / kMiB : 0;
  }

  std::string path;

 private:
  std::string directory_;
};

// A line "FIELD: N kB" of /proc/PID/status, in KiB; -1 when it cannot be read.
long statusKiB(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + (pid ? std::to_string(pid) : std::string("self")) +
                       "/status");
  const std::string wanted = std::string(field) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(wanted, 0) == 0) return std::stol(line.substr(wanted.size()));
  }
  return -1;
}

void recordedLibraryShiftCase(benchmark::State& state) {
  RecordTarget target;
  Client recorded(kClientName);
  ::setenv("TAPBROKER_CLIENT_RECORD", target.path.c_str(), 1);
  const bool connected = recorded.Connect(nullptr, nullptr, kNoInstallation) == 0;
  ::unsetenv("TAPBROKER_CLIENT_RECORD");
  Conversations plain;
  if (!connected || !BrokerPair::openCable(recorded)) {
    return fail(state, "the recorded library could not open a conversation");
  }
  if (std::string why = plain.open(); !why.empty()) return fail(state, why);
  const unsigned char* data = pattern().data();
  auto shift = [data](Client& client) {
    return client.Send(19, 0, 8 * kMiB, 1, data) == 0 && client.GetClientStatus() == 0;
  };
  const long before = statusKiB(0, "VmRSS");
  alternate(state,
            PairedFigure{"recorded / unrecorded library: generic shift 1 MiB, read-back", 0, 0,
                         kMiB, 1.10},
            [&] { return shift(recorded); }, [&] { return shift(plain.library); });
  // What the recorded conversation holds, however long it has grown.
  state.counters["resident_growth_KiB"] = static_cast<double>(statusKiB(0, "VmRSS") - before);
  const auto start = std::chrono::steady_clock::now();
  recorded.Disconnect();
  state.counters["disconnect_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  state.counters["block_MiB"] = target.sizeMiB();
}

void recordedBrokerShiftCase(benchmark::State& state) {
  constexpr int kRecordedPort = 4011, kPlainPort = 4012;
  RecordTarget target;
  const pid_t recorded = spawn(TAPBROKER_EXE, {"--port", std::to_string(kRecordedPort),
                                               "--idle-exit", "0", "--record", target.path});
  const pid_t plain = spawn(TAPBROKER_EXE, {"--port", std::to_string(kPlainPort),
                                            "--idle-exit", "0"});
  struct Stopped {
    pid_t a, b;
    ~Stopped() {
      stop(a);
      stop(b);
    }
  } stopped{recorded, plain};
  if (!recorded || !plain || !portBecomes(true, kRecordedPort) ||
      !portBecomes(true, kPlainPort)) {
    return fail(state, "the two tapbroker.exe did not start");
  }
  BareClient viaRecorded, viaPlain;
  if (!viaRecorded.connect(kClientName, kRecordedPort) ||
      !viaRecorded.grantFlags(kGrantFirst, kGrantSecond) ||
      !viaPlain.connect(kClientName, kPlainPort) ||
      !viaPlain.grantFlags(kGrantFirst, kGrantSecond)) {
    return fail(state, "the bare client could not open a conversation with tapbroker.exe");
  }
  const unsigned char* data = pattern().data();
  alternate(state,
            PairedFigure{"recorded / unrecorded tapbroker.exe: generic shift 1 MiB, read-back",
                         0, 0, kMiB, 1.10},
            [&] { return viaRecorded.genericShift(0, 8 * kMiB, 1, data) == 0; },
            [&] { return viaPlain.genericShift(0, 8 * kMiB, 1, data) == 0; });
  state.counters["recorded_peak_KiB"] = static_cast<double>(statusKiB(recorded, "VmHWM"));
  state.counters["unrecorded_peak_KiB"] = static_cast<double>(statusKiB(plain, "VmHWM"));
  // The recorded conversation ends, and its block goes into the file while a newcomer
  // asks for its first answer.
  viaRecorded.disconnect();
  const auto start = std::chrono::steady_clock::now();
  BareClient newcomer;
  const bool answered = newcomer.connect(kClientName, kRecordedPort) &&
                        newcomer.sendInt(5, 7) >= 0;
  state.counters["newcomer_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!answered) return fail(state, "tapbroker.exe did not answer a newcomer");
  newcomer.disconnect();
  stop(recorded);
  stopped.a = 0;
  state.counters["block_MiB"] = target.sizeMiB();
}

}  // namespace

Conversations::Conversations(char* name) : name(name), library(name) {}

Conversations::~Conversations() {
  if (opened) {
    library.Disconnect();
    baseline.disconnect();
  }
}

std::string Conversations::open() {
  int code = library.Connect(nullptr, nullptr, kNoInstallation);
  if (code != 0) return "library Connect returned " + std::to_string(code);
  opened = true;
  if ((code = library.Send(4, kGrantFirst, kGrantSecond, 0)) != 0) {
    return "library Send(4, ...) returned " + std::to_string(code);
  }
  if ((code = library.Send(33)) != 0)
    return "library Send(33) returned " + std::to_string(code);
  if (!baseline.connect(name) || !baseline.grantFlags(kGrantFirst, kGrantSecond)) {
    return "the baseline could not connect";
  }
  return {};
}

void registerPairedCases(const SuiteOptions& options) {
  auto add = [](const char* name, void (*function)(benchmark::State&)) {
    return benchmark::RegisterBenchmark(name, function)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
  };
  add("paired/calibration_Send_5_7_baseline_twice", calibrationCase);
  add("paired/Send_5_7", sendIntCase);
  add("paired/JTAG_shift_1_block_readback", jtagShiftCase);
  for (auto* transfer : {add("paired/generic_shift_1MiB_readback", genericShiftCase),
                         add("paired/pump_1MiB_readback", pumpCase)}) {
    transfer->Unit(benchmark::kMillisecond);
    if (options.transferMinTime > 0) transfer->MinTime(options.transferMinTime);
  }
  add("paired/Read_list_1000_bytes", readListCase);
  add("paired/Connect_Disconnect", connectCase)->Iterations(options.connectIterations);
  for (auto* transfer : {add("recording/library_generic_shift_1MiB_readback",
                             recordedLibraryShiftCase),
                         add("recording/broker_generic_shift_1MiB_readback",
                             recordedBrokerShiftCase)}) {
    transfer->Unit(benchmark::kMillisecond);
    if (options.transferMinTime > 0) transfer->MinTime(options.transferMinTime);
  }
  minimalBroker = options.minimalBroker;
  if (!minimalBroker) return;
  add("broker/Send_5_7", brokerSendIntCase);
  for (auto* transfer : {add("broker/generic_shift_1MiB_readback", brokerGenericShiftCase),
                         add("broker/pump_1MiB_readback", brokerPumpCase)}) {
    transfer->Unit(benchmark::kMillisecond);
    if (options.transferMinTime > 0) transfer->MinTime(options.transferMinTime);
  }
}
