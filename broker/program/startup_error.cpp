#include "broker/program/startup_error.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "broker/common/version.h"

namespace broker {

bool leaveStartupError(const std::string& message) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char when[32] = "";
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  std::ofstream file(std::filesystem::path(startupErrorPath()), std::ios::trunc);
  file << when << " " << kProgramName << " did not start: " << message << "\n";
  return static_cast<bool>(file.flush());
}

}  // namespace broker
