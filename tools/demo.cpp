// `tapclient demo`: a tour of what the library does, against the simulated cable. It is
// the first thing a new user runs, so it says what it is doing, checks every answer, and
// ends with what it cost.
#include <cstdio>
#include <string>
#include <vector>

#include "bus_checks.h"
#include "chain_scan.h"
#include "commands.h"
#include "flash_programmer.h"
#include "host.h"
#include "terminal.h"
#include "tool_error.h"

namespace tapclient {
namespace {

struct Step {
  std::string name;
  double seconds;
  std::string detail;
};

class StepLog {
 public:
  void add(std::string name, double seconds, std::string detail = {}) {
    steps_.push_back({std::move(name), seconds, std::move(detail)});
  }
  // Times `work` and records it under `name`; `work` returns the detail text.
  template <typename Work>
  void time(const char* name, Work&& work) {
    const auto start = Clock::now();
    std::string detail = work();
    add(name, secondsSince(start), std::move(detail));
  }
  void print(double total) const {
    Table table({{"Step"}, {"Time", Align::Right}, {"Detail"}});
    for (const Step& step : steps_)
      table.addRow({step.name, formatDuration(step.seconds), step.detail});
    table.addRow({"Total", formatDuration(total), ""});
    table.print(stdout);
  }

 private:
  std::vector<Step> steps_;
};

std::string startDirectory(const SessionOptions& options) {
  if (!options.installDir.empty()) return options.installDir;
  return programDirectory();
}

}  // namespace

void configureDemo(CLI::App& command, CommandLine& line) {
  command
      .add_option("--size", line.size,
                  "Size of the generated flash image in KiB (1 to 256,\ndefault 192).")
      ->option_text("KiB");
  command.add_flag("--stop-broker", line.stopBroker,
                   "Stop the broker this demo started when it ends (one it\nfound running is "
                   "left alone).");
}

int runDemo(const CommandLine& line, const SessionOptions& options) {
  const std::size_t imageSize =
      static_cast<std::size_t>(numberArgument(line.size, "--size", 1, 256)) * 1024;
  const auto demoStart = Clock::now();
  StepLog steps;

  std::printf("tapclient demo: the tapbroker_client library driving the simulated cable\n\n");

  // Connect starts the broker itself when nothing answers and none runs; say so first,
  // since that takes a few seconds of silence.
  const bool brokerWasRunning = brokerProcessRunning();
  std::printf("Connecting to the broker on 127.0.0.1:4001\n");
  if (!brokerWasRunning) {
    std::printf(
        "  No tapbroker.exe is running: unless something else answers on the port,\n"
        "  the library starts one from %s and gives it 5 s to come up...\n",
        startDirectory(options).c_str());
    std::fflush(stdout);
  }
  BrokerSession session(options);
  Client& client = session.client();
  std::string identification;
  std::string brokerId;
  steps.time("Connect", [&] {
    session.connect();
    session.checked("broker identification (command 1)", client.Send(1));
    identification = session.readText("broker identification text");
    const bool started = !brokerWasRunning && brokerProcessRunning(nullptr, &brokerId);
    return started ? std::string("broker started by this demo") : std::string();
  });
  std::printf("  Connected to %s\n", identification.c_str());
  steps.time("Open cable", [&] {
    session.openCable("sim-usb", "port0");
    return std::string("sim-usb on port0");
  });
  std::printf("  Cable sim-usb open on port0, device session open\n\n");

  ChainReport chain;
  steps.time("Chain scan", [&] {
    chain = scanChain(session);
    return std::to_string(chain.devices.size()) + " devices";
  });
  printChain(chain);
  std::printf("\n");

  FlashProgrammer flash(session);
  const std::size_t flashSize = flash.flashSize();
  if (imageSize > flashSize) {
    throw ToolError("a " + formatBytes(static_cast<double>(imageSize)) +
                    " image does not fit the " + formatBytes(static_cast<double>(flashSize)) +
                    " flash");
  }
  const std::vector<std::uint8_t> image = demoImage(imageSize);
  std::printf("Flash: a generated %s image into %s of NOR flash\n",
              formatBytes(static_cast<double>(imageSize)).c_str(),
              formatBytes(static_cast<double>(flashSize)).c_str());
  steps.time("Erase", [&] {
    flash.eraseAll();
    return std::string("whole flash, blank check");
  });
  std::printf("  %-10s whole flash erased, blank check passed\n", "Erase");
  {
    ProgressBar bar("Program", image.size());
    flash.program(0, image, [&](std::size_t done) { bar.update(done); });
    bar.finish();
    steps.add("Program", bar.seconds(),
              formatRate(static_cast<double>(image.size()) / bar.seconds()));
  }
  {
    // The read-back loop takes 1 KiB a pump: a longer read-back would come with '+' in
    // place of the first byte of every 1024-byte block, as the protocol carries it.
    ProgressBar bar("Verify", image.size());
    flash.verify(0, image, [&](std::size_t done) { bar.update(done); });
    bar.finish();
    steps.add("Verify", bar.seconds(),
              "read-back 1 KiB a pump, " +
                  formatRate(static_cast<double>(image.size()) / bar.seconds()));
  }
  // The whole flash as it must now read: the image, then erased bytes.
  std::vector<std::uint8_t> expected(flashSize, 0xFF);
  std::copy(image.begin(), image.end(), expected.begin());
  const std::uint32_t wanted = crc32(expected.data(), expected.size());
  std::uint32_t crc = 0;
  steps.time("CRC-32", [&] {
    crc = flash.flashCrc();
    return hex32(crc);
  });
  if (crc != wanted) {
    throw ToolError("the broker's CRC-32 of the flash is " + hex32(crc) + ", the image gives " +
                    hex32(wanted));
  }
  std::printf("  %-10s %s over the whole flash matches the image: verified\n\n", "CRC-32",
              hex32(crc).c_str());

  std::printf("Serial buses\n");
  I2cRoundTrip i2c;
  steps.time("I2C", [&] {
    i2c = i2cRoundTrip(session);
    return std::to_string(i2c.bytes) + " bytes";
  });
  std::printf(
      "  %-10s %zu bytes written to the EEPROM at bus address 0x%02X, offset 0x%04X,\n"
      "  %-10s read back identical\n",
      "I2C", i2c.bytes, i2c.busAddress, i2c.memoryAddress, "");
  SpiIdentification spi;
  steps.time("SPI", [&] {
    spi = spiIdentify(session);
    return std::string("identification");
  });
  std::printf("  %-10s flash on chip select 0 identifies as %s (command %02X)\n\n", "SPI",
              hexBytes(spi.id.data(), spi.id.size()).c_str(), spi.command);

  steps.time("Disconnect", [&] {
    session.disconnect();
    return std::string();
  });

  std::printf("Summary\n");
  steps.print(secondsSince(demoStart));
  std::printf(
      "\nAll checks passed: %zu devices found, %s programmed and verified, "
      "I2C and SPI answered.\n",
      chain.devices.size(), formatBytes(static_cast<double>(imageSize)).c_str());
  if (!brokerId.empty() && line.stopBroker) {
    std::printf("The broker started for this demo (process %s) %s.\n", brokerId.c_str(),
                stopProcess(brokerId) ? "has been stopped" : "could not be stopped");
  } else if (!brokerId.empty()) {
    std::printf(
        "The broker started for this demo keeps running and exits by itself after "
        "5 minutes without connections; %s stops it now.\n",
        stopCommand(brokerId).c_str());
  }
  return kExitOk;
}

}  // namespace tapclient
