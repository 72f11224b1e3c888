// Output that reads well on a terminal and still reads well in a log: aligned tables, a
// progress bar that redraws in place on a terminal and prints a few milestone lines
// otherwise, and the units the summaries use.
#ifndef TOOLS_TERMINAL_H
#define TOOLS_TERMINAL_H

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace tapclient {

enum class Align { Left, Right };

class Table {
 public:
  struct Column {
    std::string header;
    Align align = Align::Left;
  };
  explicit Table(std::vector<Column> columns);
  void addRow(std::vector<std::string> cells);
  // Prints the header, a rule and the rows, each line starting with `indent` spaces.
  void print(std::FILE* out, int indent = 2) const;

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

class ProgressBar {
 public:
  // `label` names the step ("Program"); `total` is in bytes.
  ProgressBar(std::string label, std::size_t total);
  // A bar left unfinished (the work failed) ends its line, so that the error that follows
  // starts on a line of its own.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Redraws (terminal) or prints a line at each quarter passed (otherwise).
  void update(std::size_t done);
  // Completes the bar with the time taken and the throughput.
  void finish();
  // Seconds since the bar was made, or until it was finished.
  double seconds() const;

 private:
  std::string line(std::size_t done, bool final) const;

  std::string label_;
  std::size_t total_;
  bool terminal_;
  int barWidth_ = 0;
  int nextQuarter_ = 1;
  bool finished_ = false;
  double finishedSeconds_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point start);

std::string formatBytes(double bytes);                                // "192.0 KiB"
std::string formatDuration(double seconds);                           // "38 ms", "5.01 s"
std::string formatRate(double bytesPerSecond);                        // "2.4 MiB/s"
std::string hex32(std::uint32_t value);                               // "0x1A2B3C4D"
std::string hexBytes(const unsigned char* bytes, std::size_t count);  // "5A 40 10"

}  // namespace tapclient

#endif  // TOOLS_TERMINAL_H
