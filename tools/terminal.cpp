#include "terminal.h"

#include <algorithm>
#include <cinttypes>

#include "host.h"

namespace tapclient {
namespace {

// Redrawing faster than this only costs time on a slow terminal.
constexpr auto kRedrawInterval = std::chrono::milliseconds(50);
// "  Program    " and "[]  100%  256.0 KiB  in 999 ms, 99.9 MiB/s", with a margin.
constexpr int kLongestLineWithoutBar = 13 + 2 + 41 + 2;
constexpr int kMinBarWidth = 10;
constexpr int kMaxBarWidth = 40;

std::string pad(const std::string& text, std::size_t width, Align align) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return align == Align::Left ? text + fill : fill + text;
}

std::string printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

Table::Table(std::vector<Column> columns) : columns_(std::move(columns)) {}

void Table::addRow(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

void Table::print(std::FILE* out, int indent) const {
  std::vector<std::size_t> widths;
  for (const Column& column : columns_) widths.push_back(column.header.size());
  for (const auto& row : rows_) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  const std::string margin(static_cast<std::size_t>(indent), ' ');
  auto printLine = [&](const std::vector<std::string>& cells) {
    std::string line = margin;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) line += "  ";
      // The last column is not padded on the left-aligned side: no trailing blanks.
      const bool last = i + 1 == cells.size();
      const Align align = columns_[i].align;
      line += last && align == Align::Left ? cells[i] : pad(cells[i], widths[i], align);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    std::fprintf(out, "%s\n", line.c_str());
  };
  std::vector<std::string> headers;
  for (const Column& column : columns_) headers.push_back(column.header);
  printLine(headers);
  std::size_t ruleWidth = 0;
  for (std::size_t width : widths) ruleWidth += width;
  ruleWidth += 2 * (widths.empty() ? 0 : widths.size() - 1);
  std::fprintf(out, "%s%s\n", margin.c_str(), std::string(ruleWidth, '-').c_str());
  for (const auto& row : rows_) printLine(row);
}

ProgressBar::ProgressBar(std::string label, std::size_t total)
    : label_(std::move(label)),
      total_(total),
      terminal_(stdoutIsTerminal()),
      start_(Clock::now()),
      lastDraw_(start_ - kRedrawInterval) {
  // Fixed for the bar's life, leaving room for the longest line, the final one.
  barWidth_ = std::clamp(terminalWidth() - kLongestLineWithoutBar, kMinBarWidth, kMaxBarWidth);
  if (terminal_) {
    std::fputs(line(0, false).c_str(), stdout);
    std::fflush(stdout);
  }
}

ProgressBar::~ProgressBar() {
  if (terminal_ && !finished_) {
    std::printf("\n");
    std::fflush(stdout);
  }
}

double ProgressBar::seconds() const {
  return finished_ ? finishedSeconds_ : secondsSince(start_);
}

std::string ProgressBar::line(std::size_t done, bool final) const {
  const double fraction = total_ == 0 ? 1.0 : static_cast<double>(done) / total_;
  const double elapsed = seconds();
  std::string text = "  " + pad(label_, 10, Align::Left) + " ";
  if (terminal_) {
    const int filled = static_cast<int>(fraction * barWidth_ + 0.5);
    text += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(barWidth_ - filled), '.') + "]";
  }
  text += "  " + pad(printed("%.0f%%", 100.0 * fraction), 4, Align::Right) + "  " +
          pad(formatBytes(static_cast<double>(done)), 9, Align::Right);
  if (final) {
    text += "  in " + formatDuration(elapsed);
    if (elapsed > 0) text += ", " + formatRate(static_cast<double>(total_) / elapsed);
  }
  return text;
}

void ProgressBar::update(std::size_t done) {
  if (terminal_) {
    const auto now = Clock::now();
    if (now - lastDraw_ < kRedrawInterval && done < total_) return;
    lastDraw_ = now;
    std::printf("\r%s\033[K", line(done, false).c_str());
    std::fflush(stdout);
    return;
  }
  // Without a terminal every redraw would be a line of its own: print the quarters only,
  // and leave the last one to finish().
  const std::size_t quarter = total_ / 4;
  while (nextQuarter_ < 4 && done >= quarter * static_cast<std::size_t>(nextQuarter_)) {
    std::printf("%s\n", line(quarter * static_cast<std::size_t>(nextQuarter_), false).c_str());
    ++nextQuarter_;
  }
  std::fflush(stdout);
}

void ProgressBar::finish() {
  // The time shown is the time reported afterwards.
  finishedSeconds_ = secondsSince(start_);
  finished_ = true;
  if (terminal_) {
    std::printf("\r%s\033[K\n", line(total_, true).c_str());
  } else {
    std::printf("%s\n", line(total_, true).c_str());
  }
  std::fflush(stdout);
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string formatBytes(double bytes) {
  if (bytes < 1024) return printed("%.0f B", bytes);
  if (bytes < 1024 * 1024) return printed("%.1f KiB", bytes / 1024);
  return printed("%.2f MiB", bytes / (1024 * 1024));
}

std::string formatDuration(double seconds) {
  if (seconds < 0.001) return printed("%.0f us", seconds * 1e6);
  if (seconds < 0.01) return printed("%.1f ms", seconds * 1e3);
  if (seconds < 1.0) return printed("%.0f ms", seconds * 1e3);
  return printed("%.2f s", seconds);
}

std::string formatRate(double bytesPerSecond) {
  if (bytesPerSecond < 1024 * 1024) return printed("%.0f KiB/s", bytesPerSecond / 1024);
  return printed("%.1f MiB/s", bytesPerSecond / (1024 * 1024));
}

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

std::string hexBytes(const unsigned char* bytes, std::size_t count) {
  std::string text;
  char one[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(one, sizeof one, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += one;
  }
  return text;
}

}  // namespace tapclient
