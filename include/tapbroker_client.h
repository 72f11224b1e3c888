// tapbroker_client: drive a programming cable through the local broker program
// (tapbroker.exe) over one lock-step TCP conversation with 127.0.0.1:4001.
//
// One Client is one conversation. Use it from one thread at a time; copies share
// the socket and the message-catalogue handle of their source.
//
// Result codes shared by the operations below: 0 for success, or one of the library's own
// failure codes, named in tapbroker::results further down.
//
// Every step is reported as a numbered message of the catalogue "tapbrokerclient"
// (msgcore/tapbrokerclient.msg): posted while Set_Debug_On is in force, written to the log
// file while Set_Log_File's file is in use. The identifiers each member reports are named
// below; a report's first argument is the client's name.
#ifndef TAPBROKER_CLIENT_H
#define TAPBROKER_CLIENT_H

// The version of this header and of the library built from it. The build takes the
// project's version from here, so the two cannot differ.
#define TAPBROKER_CLIENT_VERSION_MAJOR 2
#define TAPBROKER_CLIENT_VERSION_MINOR 0
#define TAPBROKER_CLIENT_VERSION_PATCH 0
#define TAPBROKER_CLIENT_TEXT_(x) #x
#define TAPBROKER_CLIENT_TEXT(x) TAPBROKER_CLIENT_TEXT_(x)
#define TAPBROKER_CLIENT_VERSION                                  \
  TAPBROKER_CLIENT_TEXT(TAPBROKER_CLIENT_VERSION_MAJOR)           \
  "." TAPBROKER_CLIENT_TEXT(TAPBROKER_CLIENT_VERSION_MINOR) "." \
      TAPBROKER_CLIENT_TEXT(TAPBROKER_CLIENT_VERSION_PATCH)

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

class msgManager;
class CallContext;
namespace tapbroker {
namespace protocol {
struct CommandInProgress;
}  // namespace protocol
}  // namespace tapbroker

// On Windows the class comes out of libtapbroker_client.dll: the library's own build
// exports it, everybody else imports it, and a program linking the library's objects
// directly (TAPBROKER_CLIENT_STATIC) does neither.
#if defined(_WIN32)
#if defined(TAPBROKER_CLIENT_EXPORTS)
#define TAPBROKER_CLIENT_API __declspec(dllexport)
#elif defined(TAPBROKER_CLIENT_STATIC)
#define TAPBROKER_CLIENT_API
#else
#define TAPBROKER_CLIENT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TAPBROKER_CLIENT_API __attribute__((visibility("default")))
#else
#define TAPBROKER_CLIENT_API
#endif

// The library's own result codes. Every operation returns 0 for success, or one of these
// (a command's answer from the broker comes back as it is, negative numbers included).
// Written for C++11: constants of the header, no symbols of the library.
namespace tapbroker {
namespace results {
constexpr int kSuccess = 0;
constexpr int kSendFailed = -1001;        // a socket send failed
constexpr int kReceiveFailed = -1002;     // a socket receive failed, or an acknowledgement
                                          // did not begin with "+"
constexpr int kSocketsFailed = -1003;     // the sockets library could not be started (Connect)
constexpr int kNoSocket = -1004;          // the socket could not be created (Connect)
constexpr int kUnreachable = -1005;       // the broker was still unreachable after searching
                                          // for it and starting it
constexpr int kCloseRefused = -1008;      // the broker refused the closing command (Disconnect)
constexpr int kShutdownFailed = -1009;    // the connection could not be shut down (Disconnect)
constexpr int kNoLogPath = -1016;         // no log file path is set / an empty path was given
constexpr int kNoSecondLogPath = -1017;   // no second log file path is set (Get_Log_file)
constexpr int kNoShiftData = -1020;       // a shift was given no shift data
constexpr int kNoBuffer = -1021;          // a shift's optional buffer is null while its
                                          // switch is on
constexpr int kNothingHeld = -1022;       // GetTDO: no read-back data is held
constexpr int kNoDestination = -1023;     // GetTDO: the destination is null or the library's
                                          // empty placeholder
constexpr int kNotInstalled = -1024;      // Connect: no installation directory exists to
                                          // start the broker from
constexpr int kArgumentRefused = -1025;   // an argument is outside the protocol's limits;
                                          // nothing of the command was sent
}  // namespace results
}  // namespace tapbroker

namespace tapbroker_send {

// What the variable part of Send can carry, read back by the library as an int or as a
// char or unsigned char pointer. Written for C++11, so that the header compiles for
// every application that built against it before the check existed.
template <typename T>
struct IsByte : std::integral_constant<bool, std::is_same<T, char>::value ||
                                                 std::is_same<T, signed char>::value ||
                                                 std::is_same<T, unsigned char>::value ||
#if defined(__cpp_lib_byte)
                                                 std::is_same<T, std::byte>::value ||
#endif
#if defined(__cpp_char8_t)
                                                 std::is_same<T, char8_t>::value ||
#endif
                                                 std::is_void<T>::value> {
};
template <typename T>
struct IsBytePointer : std::false_type {};
template <typename T>
struct IsBytePointer<T*> : IsByte<typename std::remove_cv<T>::type> {};

// An ellipsis promotes integers and unscoped enums no wider than an int to int; a scoped
// enum is passed as it is, so only one as wide as an int reads back whole. Strings and
// data are pointers to bytes (or to void), a null pointer of any spelling among them:
// nullptr, or NULL, whose type is an integer as wide as a pointer on some compilers.
template <typename T>
struct IsCarried
    : std::integral_constant<
          bool, ((std::is_integral<T>::value ||
                  (std::is_enum<T>::value && std::is_convertible<T, int>::value)) &&
                 sizeof(T) <= sizeof(int)) ||
                    (std::is_enum<T>::value && sizeof(T) == sizeof(int)) ||
                    IsBytePointer<T>::value || std::is_same<T, std::nullptr_t>::value ||
                    std::is_same<T, decltype(NULL)>::value> {};

// Names the argument at `Position` (the command number is argument 1) in the error.
template <std::size_t Position, typename T>
struct Argument {
  static_assert(IsCarried<T>::value,
                "Send: this argument cannot be passed; Send takes ints (or enums and "
                "integers no wider than an int), char* strings and unsigned char* data "
                "(or other byte or void pointers, or NULL); the instantiation "
                "Argument<position, type> names it");
};

template <std::size_t Position, typename... Ts>
struct Arguments {};
template <std::size_t Position, typename T, typename... Rest>
struct Arguments<Position, T, Rest...> : Argument<Position, T>,
                                         Arguments<Position + 1, Rest...> {};

}  // namespace tapbroker_send

// <winsock2.h> makes INVALID_SOCKET a macro; the member below keeps its name all the same.
#pragma push_macro("INVALID_SOCKET")
#undef INVALID_SOCKET

class TAPBROKER_CLIENT_API Client {
 public:
  // The socket handle, 64 bits wide as on the original platform.
  typedef std::uint64_t SOCKET;
  static constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};

  // A client with an empty name. Touches no network and reports nothing.
  Client();
  // A client introduced to the broker as `name` (a NUL-terminated string, not null;
  // shorter than 1024 characters). Touches no network.
  explicit Client(char* name);
  // A copy talks over the same socket and shares the message handle of `other`.
  Client(const Client& other);
  // Copies every setting of `other` into this client and shares its socket and message
  // handle; this client's previous handle is released. Returns this client.
  Client& operator=(const Client& other);
  // Releases the message handle; the last client holding it finishes it. Sends nothing and
  // does not close the socket: call Disconnect first.
  ~Client();

  // --- Connection -----------------------------------------------------------------------

  // Connects to the broker on 127.0.0.1:4001 and introduces this client by name. When the
  // connection is refused and no broker process runs, starts tapbroker.exe from
  // `installDir` (when non-null and non-empty) or the application's own directory, waits
  // five seconds and tries once more. The connection this client held before is closed
  // once the attempt is over, whatever its outcome: copies that still hold it are refused
  // from then on (-1001 / -1002). The first argument is ignored. A non-empty
  // `logFile` is passed to Set_Log_File after the introduction.
  // Returns 0, -1001, -1002, -1003, -1004, -1005, -1024, or -1025 (a name of 1024
  // characters or more, refused before anything is opened); all but -1004 and -1024 are
  // also stored in the status. Reports 1089 on entry, 1090/1091 per attempt, 1106 when the
  // first attempt is refused, 1085/1072 while looking for a running broker, 1002 (one
  // runs) or 1001 and 1107 (starting one), 1004 when the second attempt is refused,
  // 1000/1006/1007 for the other failures, 1092 before switching the log file on.
  // When the broker cannot be started, prints the reason on standard output.
  //
  // By default every receive waits until the broker answers. TAPBROKER_CLIENT_TIMEOUT=N in
  // the environment at Connect, N a whole number of seconds from 1 to 86400, bounds every
  // send and receive of this conversation (the introduction included) by N seconds: a wait
  // that runs out fails as the send or receive it was (-1001 / -1002, its usual report),
  // followed by one report 1117; from then on the connection takes no more answers, so
  // every later call of the conversation fails at once with -1002 (a send the broker does
  // not take fails with -1001 within the deadline) until Connect or Disconnect. Any other
  // value (empty, 0, negative, fractional, with a unit, above 86400) is reported as 1118
  // and ignored: the conversation then has no deadline, as without the variable.
  int Connect(char* ignored, const char* logFile, const char* installDir);
  // Sends the closing command 9999 and closes the connection.
  // Returns 0, -1008 (the broker answered -1; the socket is closed all the same) or
  // -1009 (shutdown failed; the socket is closed); both failures are stored in the status.
  // Reports 1098 on entry, the reports of Send(9999), then 1028 when closed, or 1026
  // (-1008) or 1027 (-1009). The client may Connect again afterwards.
  int Disconnect();

  // The socket's low 32 bits; -1 before the first Connect, 0 after a failed one.
  long GetClientSocket();
  // The result code of the last operation that recorded one.
  int GetClientStatus();
  // Overwrites the recorded status.
  void SetClientStatus(int value);
  // True when this client has a non-empty name (reports 1088), else false (reports 1087).
  // Tests nothing else: neither the connection nor the catalogue.
  bool ValidClient();

  // --- Commands -------------------------------------------------------------------------

  // Sends command `command` with its arguments (ints as int, strings as char*, data as
  // const unsigned char*), runs its transfer and returns the broker's integer answer.
  // A withheld command (command 2, 5 to 28, or 0 and below while the broker has not
  // granted both permissions) sends only "8888" and returns 1. Command 4 and command 33 end
  // with the broker's grant instead of an answer: 0 granted, -1 refused, or the broker's
  // own number. A null string given to command 4 goes out as the empty token.
  // On failure returns the negative code also stored in the status: -1001, -1002, a
  // transfer's own code, or -1025 when an argument is out of range (a string of 1024
  // bytes or more, more than ten values for command 4, a bit count below -14, whose byte
  // count would be negative (-14 to 0 go out as a transfer of zero bytes), null data
  // for an I2C, SSPI or pump transfer of one byte or more, a shared-application list
  // that does not fit 1024 bytes). When everything went out but
  // the final answer could not be read, the read's -1001 or -1002 is returned, never a
  // number that could pass for an answer.
  // A withheld command sends none of its arguments, so they are not looked at: it sends
  // "8888" and returns 1 whatever they are. The arguments of a command that will go out
  // are checked before anything of it is sent: a refused command sends nothing at all,
  // reports "1003" with the limit it breaks, and returns -1025, so the conversation stays
  // in step.
  //
  // Arguments after the command number, by command:
  //   1, 6, 8, 10, 11, 13, 14, 22, 24-28, 30-32, 34, 35, 38, 43, 56, 9999, others: none
  //   2, 29: one string            3, 12: two strings
  //   5, 7, 9, 15-18, 23, 37, 39, 45, 49, 53-55: one int        20, 36, 40: two ints
  //   21: int, string, int, string, int, string, int, string
  //   4: string, string, int k (0..10), then k ints (the first values of a list of ten
  //      that starts as 0,0,0,1,0,0,0,1,0,0); then the broker's grant of the first permission
  //   33: none; then the broker's grant of the second permission
  //   19 (generic shift): int shiftControl, int bitCount, int readBack,
  //      const unsigned char* shiftData ((bitCount + 7) / 8 bytes); readBack != 0 keeps
  //      the bits shifted out for GetTDO, exactly as shifted. -1020 when shiftData is
  //      null.
  //   41 (shared applications): int count, then count names (char*), each cut to 100
  //      characters; together with a ";" after each they must fit 1024 bytes.
  //   42 (pump data): const unsigned char* data, int bitCount, int mode, int readBack;
  //      readBack != 0 keeps the flash's content for GetTDO, marked beyond 1024 bytes:
  //      see the read-back markers below.
  //   44 (interface function): int code, then the code's arguments; code 12 is the JTAG
  //      shift: int shiftControl, int bitCount, int switchA, int switchB, shiftData, then
  //      bufferA when switchA != 0 and bufferB when switchB != 0 (each (bitCount + 7) / 8
  //      bytes); with bit 0 of switchA set and bit 1 of shiftControl clear the bits
  //      shifted out are kept for GetTDO, marked beyond 1024 bytes. -1020 / -1021 for
  //      null data or buffers.
  //   46-48 (I2C): int word, int addressByte, int bitCount, const unsigned char* data,
  //      int trailingWord; 46 writes, 47 reads then writes and reads, 48 writes and reads;
  //      the bytes read are kept for GetTDO, marked beyond 1024 bytes.
  //   50-52 (SSPI): int word, int bitCount, const unsigned char* data, int trailingWord;
  //      as 46-48. Read bits are kept for GetTDO, exactly as read.
  //   Read-back markers: a read-back of 42, 44/12 or 46-48 longer than 1024 bytes comes
  //      as the protocol carries it, with '+' (0x2B) in place of the first byte of every
  //      1024-byte block (bytes 0, 1024, 2048, ...), and Send and GetTDO still return 0.
  //      To have every byte as the device holds it, read at most 1024 bytes per command
  //      (one block is never marked), or take those bytes from a read of their own.
  // Reports 1093 once the command number is answered, 1008 for a withheld command,
  // 1009/1010 when the command number cannot be sent or is not answered (commands 1 and
  // 4 then reconnect once), 1012 after 34, 35 and 9999 take permissions back, 1013 for a number
  // without a meaning of its own, 1003 for a refused argument, and the reports of the
  // command's transfer and of the final Read(int&).
  int Send(int command, ...);
  // The same call with its arguments' types checked by the compiler: a type that the
  // list above does not take (a std::string, a long long, a size_t, a float, an int*...)
  // is an error naming its position, not undefined behaviour at run time. Also taken:
  // integers and enums that promote to int, pointers to signed char, std::byte or void as
  // data, and NULL. It is chosen ahead of the ellipsis and calls it: the library's
  // interface is the one above.
  template <typename... Ts>
  int Send(int command, Ts... arguments) {
    static_cast<void>(sizeof(tapbroker_send::Arguments<2, Ts...>));
    int (Client::*unchecked)(int, ...) = &Client::Send;
    return (this->*unchecked)(command, arguments...);
  }

  // Asks the broker for an answer and stores it as an integer (atoi rules: 0 when the
  // text is not a number). Returns 0, -1001 or -1002; on failure `value` is untouched and
  // the status holds the code (a successful read leaves the status as it was).
  // Reports 1096, 1019 (request sent), 1021 (answer), or 1018 / 1020 on failure.
  int Read(int& value);
  // Asks the broker for an answer and points `text` at it. The text is owned by this
  // client and stays valid until its next text read (this overload or Read()) or its
  // destruction; copying or assigning clients leaves it alone. Returns 0, -1001 or
  // -1002; on failure `text` is untouched.
  // An answer that fills all 1024 bytes without a NUL is handed out whole, terminated.
  // Reports 1094, 1015, 1017, or 1014 / 1016 on failure.
  int Read(char*& text);
  // Asks the broker for a ";"-separated answer and appends its items to `items` (an empty
  // item between two ";" is kept, a trailing empty one is not). Returns 0, -1001 or -1002.
  // Reports 1097, 1023, 1025, or 1022 / 1024 on failure.
  int Read(std::vector<std::string>& items);
  // Asks the broker for an answer and returns its text, valid as for Read(char*&).
  // On failure returns a constant empty string; the status holds -1001 or -1002.
  // Reports 1095, then as Read(char*&).
  const char* Read();

  // Copies (bitCount + 7) / 8 bytes of the data read back by the last shift into the
  // memory `tdo` points to, then forgets the data. The data are as the broker sent them:
  // beyond 1024 bytes, a read-back of commands 42, 44/12 and 46-48 holds '+' (0x2B) in
  // place of the first byte of every 1024-byte block (see Send's read-back markers). When fewer bytes are held, only those
  // are copied and the rest of the destination is left as it was. Returns 0, -1022 (no
  // data held; `tdo` then points at a constant empty string) or -1023 (`tdo` is null, or
  // that constant empty string kept from an earlier call; the data is kept). Nothing is
  // copied for a bitCount of 0 or less, but the data is forgotten all the same. Reports
  // 1104, and 1105 when no data is held.
  int GetTDO(unsigned char*& tdo, int bitCount);
  // As above, into the caller's buffer `tdo`.
  int GetTDO(char* tdo, int bitCount);

  // --- Diagnostics ----------------------------------------------------------------------

  // Reports catalogue message `id` with its arguments (const char* and int, in the order
  // the message's text consumes them): posted to the message catalogue while debugging is
  // on, appended as one line to the log file while logging is on. In both, a text
  // argument's controls (below 0x20, 0x7F, the C1 controls U+0080-U+009F, U+2028 and
  // U+2029) and every byte outside well-formed UTF-8 are written as \n, \r, \t or \xNN
  // per byte, so that one report is one line that drives no terminal; other UTF-8 text is
  // kept. With both off it costs two field tests. The text of an identifier with no
  // catalogue entry is empty.
  void PrintMessage(std::string id, ...);
  // Posts every later report to the message catalogue. Returns 0. Reports 1100, and 1035
  // when debugging was already on (both under the setting in force before the call).
  int Set_Debug_On();
  // Stops posting reports to the message catalogue. Returns 0. Reports 1101, and 1036
  // when debugging was already off.
  int Set_Debug_Off();
  // Creates (or empties) the log file at `path` (not null) and logs every later report to
  // it. Only a regular file or a character device (such as /dev/null) is taken: a report
  // never waits and never raises a signal. Returns 0; -1 when the file cannot be created
  // or opened for writing at once, or is a FIFO or a socket (logging is then off); -1016
  // for an empty path (the previous settings stay; reports 1029 and stores -1016 in the
  // status). Reports 1099 on entry. The file is opened and closed again by every report:
  // when the path has meanwhile become a FIFO or a socket, or cannot be opened, logging
  // turns off. On a device that cannot take a line at once, the line is dropped.
  int Set_Log_File(const char* path);
  // Reports both log paths (1034). Returns 0, -1016 (no log path; reports 1032) or -1017
  // (no second path; reports 1033); failures are stored in the status.
  int Get_Log_file();

 private:
  // The library's own types that work on a client's fields: a command's exchange with
  // the broker, and the diagnostic settings of one call.
  friend struct tapbroker::protocol::CommandInProgress;
  friend class CallContext;

  // Sends "8888" in place of a command that waits for both permissions.
  int withhold();
  // One request-and-answer exchange shared by the Read overloads; `ids` names the
  // overload's five messages. Returns the received byte count, or -1001 / -1002.
  int readAnswer(const char* const ids[5], char (&answer)[1025]);
  // True when a report would go anywhere; lets callers skip building arguments.
  bool reporting() const { return logHandle != nullptr || debugOn == 1; }

  // The fields, in the order the library has always declared them.
  int flagA;                 // the first permission: granted by the query ending command 4
  int flagB;                 // the second permission: granted by command 33
  std::string tdoData;       // bytes read back by the last shift, for GetTDO
  msgManager* messages;      // handle on the message catalogue, shared by copies
  std::string clientName;    // introduces this client; first argument of every report
  SOCKET socket;             // the connection to the broker
  std::string serverName;    // passed to Connect on reconnection, which ignores it; holds the
                             // text the last Read(char*&) or Read() handed out
  int status;                // result code of the last operation that recorded one
  int debugOn;               // 1: reports are posted to the catalogue
  std::string logPath;       // the log file
  std::string auxLogPath;    // a second log path, reported by Get_Log_file; never set
  FILE* logHandle;           // non-null while logging to the file is on
  unsigned int finishCode;   // handed to the catalogue when the handle is finished
  // Nothing more: programs built against these fields allocate a Client of exactly their
  // size (208 bytes on 64-bit Linux). The count of the handle's holders lives in the
  // handle's own block.
};

#pragma pop_macro("INVALID_SOCKET")

#endif  // TAPBROKER_CLIENT_H
