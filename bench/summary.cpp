#include "summary.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>

#include "heap_counter.h"

namespace {

template <class Figure>
void replace(std::vector<Figure>& figures, const Figure& figure) {
  for (Figure& existing : figures) {
    if (existing.name == figure.name) {
      existing = figure;
      return;
    }
  }
  figures.push_back(figure);
}

std::string duration(double ns) {
  char text[32];
  if (ns >= 1e6) {
    std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  } else if (ns >= 1e3) {
    std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.2f ns", ns);
  }
  return text;
}

std::string rate(double bytes, double ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB/s", bytes / (1024.0 * 1024.0) / (ns / 1e9));
  return text;
}

const char* verdict(bool met) { return met ? "yes" : "**no**"; }

std::string cpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      std::string::size_type colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}

// The machine is shared: how busy it was says how far the figures can be trusted.
std::string loadAverage() {
  std::ifstream loadavg("/proc/loadavg");
  double one = 0;
  double five = 0;
  double fifteen = 0;
  if (!(loadavg >> one >> five >> fifteen)) return "unknown";
  char text[48];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
  return text;
}

}  // namespace

double median(std::vector<double>& values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

Summary& Summary::get() {
  static Summary summary;
  return summary;
}

void Summary::put(const PairedFigure& figure) { replace(paired_, figure); }
void Summary::put(const ReportFigure& figure) { replace(reports_, figure); }
void Summary::put(const AllocationFigure& figure) { replace(allocations_, figure); }

void Summary::put(const TokenFigure& figure) {
  for (TokenFigure& existing : tokens_) {
    if (existing.path == figure.path) {
      existing = figure;
      return;
    }
  }
  tokens_.push_back(figure);
}

void Summary::print(std::FILE* out) const {
  utsname host{};
  uname(&host);
  std::time_t now = std::time(nullptr);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  std::fprintf(out, "\nSummary: %s, %s %s %s, %s, %ld CPUs, load average %s\n", date,
               host.sysname, host.release, host.machine, cpuModel().c_str(),
               ::sysconf(_SC_NPROCESSORS_ONLN), loadAverage().c_str());

  if (!paired_.empty()) {
    std::fprintf(out,
                 "\nLibrary against the bare-socket baseline, same bytes, same broker "
                 "(medians of alternating pairs)\n\n"
                 "| case | library | baseline | ratio | goal | met | pairs |\n"
                 "|---|---|---|---|---|---|---|\n");
    for (const PairedFigure& f : paired_) {
      double ratio = f.libraryNs / f.baselineNs;
      std::string library = f.bytes > 0 ? rate(f.bytes, f.libraryNs) : duration(f.libraryNs);
      std::string baseline = f.bytes > 0 ? rate(f.bytes, f.baselineNs) : duration(f.baselineNs);
      char goal[16] = "-";
      const char* met = "-";
      if (f.goalRatio > 0) {
        std::snprintf(goal, sizeof goal, "<= %.2f", f.goalRatio);
        met = verdict(ratio <= f.goalRatio);
      }
      std::fprintf(out, "| %s | %s | %s | %.3f | %s | %s | %ld |\n", f.name.c_str(),
                   library.c_str(), baseline.c_str(), ratio, goal, met, f.pairs);
    }
  }

  if (!reports_.empty()) {
    std::fprintf(out,
                 "\nPrintMessage, per report (floor: the same output without the library)\n\n"
                 "| report | library | floor | goal | met | heap allocations |\n"
                 "|---|---|---|---|---|---|\n");
    for (const ReportFigure& f : reports_) {
      char goal[48] = "-";
      const char* met = "-";
      if (f.goalNs > 0) {
        std::snprintf(goal, sizeof goal, "<= %.0f ns, %.0f allocations", f.goalNs,
                      f.goalAllocations);
        met = verdict(f.libraryNs <= f.goalNs && f.allocationsPerReport <= f.goalAllocations);
      }
      char allocations[16] = "-";
      if (f.allocationsPerReport >= 0) {
        std::snprintf(allocations, sizeof allocations, "%.2f", f.allocationsPerReport);
      }
      std::fprintf(out, "| %s | %s | %s | %s | %s | %s |\n", f.name.c_str(),
                   duration(f.libraryNs).c_str(), duration(f.floorNs).c_str(), goal, met,
                   allocations);
    }
  }

  if (!allocations_.empty()) {
    std::fprintf(out, "\nHeap use per call, steady state (%s)\n\n",
                 HeapCount::coversMalloc()
                     ? "all heap allocations of the calling thread: malloc, calloc, realloc, "
                       "operator new"
                     : "sanitizer build: operator new of the calling thread only");
    std::fprintf(out,
                 "| call | sends on the wire | allocations | of them operator new | heap "
                 "bytes left behind |\n"
                 "|---|---|---|---|---|\n");
    for (const AllocationFigure& f : allocations_) {
      std::fprintf(out, "| %s | %.0f | %.2f | %.2f | %.1f |\n", f.name.c_str(), f.tokens,
                   f.allocationsPerCall, f.newCallsPerCall, f.liveBytesPerCall);
    }
  }

  if (!tokens_.empty()) {
    std::fprintf(out,
                 "\nAllocations per token (extra allocations per extra exchange on the "
                 "wire, between two calls of the same path)\n\n"
                 "| path | allocations per token | goal | met |\n|---|---|---|---|\n");
    for (const TokenFigure& f : tokens_) {
      std::fprintf(out, "| %s | %.4f | 0 | %s |\n", f.path.c_str(), f.allocationsPerToken,
                   verdict(std::fabs(f.allocationsPerToken) < 0.0005));
    }
  }

  if (hasMemory_) {
    long growth = memory_.residentAfterKiB - memory_.residentBeforeKiB;
    long privateGrowth = memory_.privateAfterKiB - memory_.privateBeforeKiB;
    std::fprintf(
        out,
        "\nResident memory (/proc/self/statm) around %ld calls of Send(5, 7); private: "
        "resident less file-backed pages\n\n"
        "| resident before | after | private before | after | heap left behind | "
        "allocations | frees | goal | met |\n|---|---|---|---|---|---|---|---|---|\n"
        "| %ld KiB | %ld KiB | %ld KiB | %ld KiB | %lld bytes | %llu | %llu | no growth "
        "| %s |\n",
        memory_.calls, memory_.residentBeforeKiB, memory_.residentAfterKiB,
        memory_.privateBeforeKiB, memory_.privateAfterKiB, memory_.liveHeapGrowthBytes,
        memory_.allocations, memory_.frees,
        verdict(growth <= 0 && privateGrowth <= 0 && memory_.liveHeapGrowthBytes <= 0));
  }

  for (const std::string& failure : failures_) {
    std::fprintf(out, "\nFAILED: %s\n", failure.c_str());
  }
  std::fflush(out);
}
