// tapbroker_client: drive a programming cable through the local broker program
// (tapbroker.exe) over one lock-step TCP conversation with 127.0.0.1:4001.
//
// One Client is one conversation. Use it from one thread at a time; copies share
// the socket and the message-catalogue handle of their source.
//
// Result codes shared by the operations below:
//      0  success
//  -1001  a socket send failed
//  -1002  a socket receive failed, or an acknowledgement did not begin with "+"
//  -1003  the sockets library could not be started (Connect)
//  -1004  the socket could not be created (Connect)
//  -1005  the broker was still unreachable after searching for it and starting it
//  -1008  the broker refused the closing command (Disconnect)
//  -1009  the connection could not be shut down (Disconnect)
//  -1016  no log file path is set / an empty path was given
//  -1017  no second log file path is set (Get_Log_file)
//  -1020  a shift was given no shift data
//  -1021  a shift's optional buffer is null while its switch is on
//  -1022  GetTDO: no read-back data is held
//  -1023  GetTDO: the destination is null
//  -1024  Connect: no installation directory exists to start the broker from
//  -1025  an argument is outside the protocol's limits; nothing of the command was sent
#ifndef TAPBROKER_CLIENT_H
#define TAPBROKER_CLIENT_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class msgManager;
class CallContext;

#if defined(__GNUC__)
#define TAPBROKER_CLIENT_API __attribute__((visibility("default")))
#else
#define TAPBROKER_CLIENT_API
#endif

class TAPBROKER_CLIENT_API Client {
 public:
  // The socket handle, 64 bits wide as on the original platform.
  typedef std::uint64_t SOCKET;
  static constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};

  // A client with an empty name. Touches no network.
  Client();
  // A client introduced to the broker as `name` (a NUL-terminated string, not null;
  // shorter than 1024 characters). Touches no network.
  explicit Client(char* name);
  // A copy talks over the same socket and shares the message handle of `other`.
  Client(const Client& other);
  // Copies every setting of `other` into this client and shares its socket and message
  // handle; this client's previous handle is released. Returns this client.
  Client& operator=(const Client& other);
  // Releases the message handle once no copy holds it. Sends nothing and does not close
  // the socket: call Disconnect first.
  ~Client();

  // --- Connection -----------------------------------------------------------------------

  // Connects to the broker on 127.0.0.1:4001 and introduces this client by name. When the
  // connection is refused and no broker process runs, starts tapbroker.exe from
  // `installDir` (when non-null and non-empty) or the application's own directory, waits
  // five seconds and tries once more. The first argument is ignored. A non-empty
  // `logFile` is passed to Set_Log_File after the introduction.
  // Returns 0, -1001, -1002, -1003, -1004, -1005, -1024, or -1025 (a name of 1024
  // characters or more, refused before anything is opened).
  int Connect(char* ignored, const char* logFile, const char* installDir);
  // Sends the closing command 9999 and closes the connection.
  // Returns 0, -1008 (the broker answered -1; the socket is closed all the same) or
  // -1009 (shutdown failed; the socket is closed).
  int Disconnect();

  // The socket's low 32 bits; -1 before the first Connect, 0 after a failed one.
  long GetClientSocket();
  // The result code of the last operation that recorded one.
  int GetClientStatus();
  // Overwrites the recorded status.
  void SetClientStatus(int value);
  // True when this client has a non-empty name. Tests nothing else.
  bool ValidClient();

  // --- Commands -------------------------------------------------------------------------

  // Sends command `command` with its arguments (ints as int, strings as char*, data as
  // const unsigned char*), runs its transfer and returns the broker's integer answer.
  // A withheld command (command 2, 5 to 28, or 0 and below while the broker has not
  // granted both flags) sends only "8888" and returns 1. Command 4 and command 33 end
  // with the broker's grant instead of an answer: 0 granted, -1 refused, or the broker's
  // own number. A null string given to command 4 goes out as the empty token.
  // On failure returns the negative code also stored in the status: -1001, -1002, a
  // transfer's own code, or -1025 when an argument is out of range (a string of 1024
  // bytes or more, more than ten values for command 4, a negative bit count, null data
  // for an I2C, SSPI or pump transfer of one byte or more, a shared-application list
  // that does not fit 1024 bytes). When everything went out but
  // the final answer could not be read, the read's -1001 or -1002 is returned, never a
  // number that could pass for an answer.
  // Arguments are checked first, before the flags are looked at: a refused command sends
  // nothing at all, not even "8888", reports "1003" with the limit it breaks, and returns
  // -1025 whatever the flags, so the conversation stays in step.
  int Send(int command, ...);

  // Asks the broker for an answer and stores it as an integer (atoi rules: 0 when the
  // text is not a number). Returns 0, -1001 or -1002; on failure `value` is untouched.
  int Read(int& value);
  // Asks the broker for an answer and points `text` at it. The text is owned by this
  // client and stays valid until its next text read (this overload or Read()) or its
  // destruction. Returns 0, -1001 or -1002; on failure `text` is untouched.
  int Read(char*& text);
  // Asks the broker for a ";"-separated answer and appends its items to `items` (an empty
  // item between two ";" is kept, a trailing empty one is not). Returns 0, -1001 or -1002.
  int Read(std::vector<std::string>& items);
  // Asks the broker for an answer and returns its text, valid as for Read(char*&).
  // On failure returns a constant empty string; the status holds -1001 or -1002.
  const char* Read();

  // Copies (bitCount + 7) / 8 bytes of the data read back by the last shift into the
  // memory `tdo` points to, then forgets the data. When fewer bytes are held, only those
  // are copied and the rest of the destination is left as it was. Returns 0, -1022 (no
  // data held; `tdo` then points at a constant empty string) or -1023 (`tdo` is null;
  // the data is kept).
  int GetTDO(unsigned char*& tdo, int bitCount);
  // As above, into the caller's buffer `tdo`.
  int GetTDO(char* tdo, int bitCount);

  // --- Diagnostics ----------------------------------------------------------------------

  // Reports catalogue message `id` with its arguments (const char* and int, in the order
  // the message's text consumes them): posted to the message catalogue while debugging is
  // on, appended as one line to the log file while logging is on.
  void PrintMessage(std::string id, ...);
  // Posts every later report to the message catalogue. Returns 0.
  int Set_Debug_On();
  // Stops posting reports to the message catalogue. Returns 0.
  int Set_Debug_Off();
  // Creates (or empties) the log file at `path` (not null) and logs every later report to
  // it. Returns 0; -1 when the file cannot be created (logging is then off); -1016 for an
  // empty path (the previous settings stay).
  int Set_Log_File(const char* path);
  // Reports both log paths. Returns 0, -1016 (no log path) or -1017 (no second path).
  int Get_Log_file();

 private:
  struct SerialShiftProfile;

  // Refuses arguments outside the protocol's limits before anything is sent: returns
  // null when the command may go out, else a text naming the limit.
  const char* refusedArgument(int command, va_list args);
  // Sends "8888" in place of a command that waits for both flags.
  int withhold();
  int sendCommand4(CallContext& context, va_list args);
  int JTAGInterfaceFunc(SOCKET& socket, va_list args);
  int sendJTAGShiftargs(SOCKET socket, va_list args);
  int sendShiftargs(SOCKET socket, va_list args);
  int sendI2CShiftargs(SOCKET& socket, int writeFlag, int readFlag, va_list args);
  int sendSSPIShiftargs(SOCKET& socket, int writeFlag, int readFlag, va_list args);
  int sendSerialShift(const SerialShiftProfile& profile, SOCKET& socket, int writeFlag,
                      int readFlag, va_list args);
  int sendPumpData(SOCKET& socket, va_list args);
  int sendSharedApps(SOCKET& socket, va_list args);
  // One request-and-answer exchange shared by the Read overloads; `ids` names the
  // overload's five messages. Returns the received byte count, or -1001 / -1002.
  int readAnswer(const char* const ids[5], char (&answer)[1025]);
  // True when a report would go anywhere; lets callers skip building arguments.
  bool reporting() const { return logHandle != nullptr || debugOn == 1; }

  // The fields, in the order the library has always declared them.
  int flagA;                 // granted by the query that ends command 4
  int flagB;                 // granted by command 33
  std::string tdoData;       // bytes read back by the last shift, for GetTDO
  msgManager* messages;      // handle on the message catalogue, shared by copies
  std::string clientName;    // introduces this client; first argument of every report
  SOCKET socket;             // the connection to the broker
  std::string serverName;    // passed to Connect on reconnection; never set
  int status;                // result code of the last operation that recorded one
  int debugOn;               // 1: reports are posted to the catalogue
  std::string logPath;       // the log file
  std::string auxLogPath;    // a second log path, reported by Get_Log_file; never set
  FILE* logHandle;           // non-null while logging to the file is on
  unsigned int finishCode;   // handed to the catalogue when the handle is finished

  // Bookkeeping that the fields above leave implicit.
  mutable unsigned* messagesShares;  // owners of `messages`; null while this is the only one
  std::string lastAnswer;    // the text handed out by Read(char*&) and Read()
};

#endif  // TAPBROKER_CLIENT_H
