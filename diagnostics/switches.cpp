// The debug switch and the log file. Each report here is made before the setting changes,
// so it follows the setting that was in force when the call came.
#include "diagnostics/reporting.h"
#include "results/codes.h"
#include "tapbroker_client.h"

int Client::Set_Debug_On() {
  PrintMessage("1100", clientName.c_str());
  if (debugOn == 1) PrintMessage("1035", clientName.c_str());
  debugOn = 1;
  return 0;
}

int Client::Set_Debug_Off() {
  PrintMessage("1101", clientName.c_str());
  if (debugOn == 0) PrintMessage("1036", clientName.c_str());
  debugOn = 0;
  return 0;
}

int Client::Set_Log_File(const char* path) {
  PrintMessage("1099", clientName.c_str());
  if (path == nullptr || *path == '\0') {
    // The file in use, if any, stays in use.
    PrintMessage("1029", clientName.c_str());
    status = tapbroker::results::kNoLogPath;
    return tapbroker::results::kNoLogPath;
  }
  logPath = path;
  // The file is created or emptied; reports append to it from now on.
  logHandle = tapbroker::diagnostics::openLogFile(logPath.c_str(), true);
  if (logHandle == nullptr) return -1;
  std::fclose(logHandle);
  return 0;
}

int Client::Get_Log_file() {
  if (logPath.empty()) {
    PrintMessage("1032", clientName.c_str());
    status = tapbroker::results::kNoLogPath;
    return tapbroker::results::kNoLogPath;
  }
  if (auxLogPath.empty()) {
    PrintMessage("1033", clientName.c_str());
    status = tapbroker::results::kNoSecondLogPath;
    return tapbroker::results::kNoSecondLogPath;
  }
  PrintMessage("1034", clientName.c_str(), logPath.c_str(), clientName.c_str(),
               auxLogPath.c_str());
  return 0;
}
