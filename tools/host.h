// What tapclient asks of the system it runs on: its terminal, its own directory, the
// processes named tapbroker.exe, and the environment that a broker the library starts
// inherits. host_posix.cpp answers on Linux, host_win32.cpp on Windows.
#ifndef TOOLS_HOST_H
#define TOOLS_HOST_H

#include <string>
#include <vector>

namespace tapclient {

// Whether standard output is a terminal that takes cursor movements, and how wide it is
// (80 when unknown).
bool stdoutIsTerminal();
int terminalWidth();

// The directory of the running program, where the library looks for the broker.
std::string programDirectory();

// Whether a process named tapbroker.exe runs on this machine (how the library decides
// whether to start one), and the directory it was started from and its process id when
// one does.
bool brokerProcessRunning(std::string* directory = nullptr, std::string* pid = nullptr);

// What stops process `pid` from a shell: "kill 42", "taskkill /F /PID 42".
std::string stopCommand(const std::string& pid);

// Starts `program` with `arguments`, on its own (it outlives tapclient), its standard error
// into the new file `errorFile`; false when it could not be started.
bool startDetached(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& errorFile);

// Ends process `pid` (the broker a demo started) and waits a few seconds for it to go;
// false when it could not be ended.
bool stopProcess(const std::string& pid);

// Sets a variable of this process's environment, which the programs it starts inherit.
void setEnvironment(const char* name, const std::string& value);

}  // namespace tapclient

#endif  // TOOLS_HOST_H
