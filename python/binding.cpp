// tapbroker_client._core: the library's Client for Python. A thin layer: send() checks its
// arguments against the command shapes that Send and the tools read, then hands them to
// Send through one of a few call shims; the library's failure codes become exceptions,
// the broker's answers stay return values; every call that waits for the broker lets
// other Python threads run.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "msgcore/msgManager.h"
#include "protocol/shapes.h"
#include "tapbroker_client.h"

namespace py = pybind11;
namespace shapes = tapbroker::protocol::shapes;
namespace results = tapbroker::results;

namespace {

// --- Failures -------------------------------------------------------------------------------

enum class Family { Other, Lost, Refused };

// The library's failure codes: the Python name of the constant, the exception's family, and
// the catalogue message that reports the failure (with its second text argument when that
// is not the client's name), else the failure in words.
struct Failure {
  int code;
  const char* name;
  Family family;
  const char* message;
  const char* words;
};
constexpr Failure kFailures[] = {
    {results::kSendFailed, "SEND_FAILED", Family::Lost, "1009", nullptr},
    {results::kReceiveFailed, "RECEIVE_FAILED", Family::Lost, "1010", nullptr},
    {results::kSocketsFailed, "SOCKETS_FAILED", Family::Other, "1000", nullptr},
    {results::kNoSocket, "NO_SOCKET", Family::Other, nullptr, "the socket could not be created"},
    {results::kUnreachable, "UNREACHABLE", Family::Other, "1004", nullptr},
    {results::kCloseRefused, "CLOSE_REFUSED", Family::Other, "1026", nullptr},
    {results::kShutdownFailed, "SHUTDOWN_FAILED", Family::Other, "1027", nullptr},
    {results::kNoLogPath, "NO_LOG_PATH", Family::Other, "1029", nullptr},
    {results::kNoSecondLogPath, "NO_SECOND_LOG_PATH", Family::Other, "1033", nullptr},
    {results::kNoShiftData, "NO_SHIFT_DATA", Family::Refused, nullptr,
     "a shift was given no shift data"},
    {results::kNoBuffer, "NO_BUFFER", Family::Refused, nullptr,
     "a shift's buffer is None while its switch is on"},
    {results::kNothingHeld, "NOTHING_HELD", Family::Other, "1105", nullptr},
    {results::kNoDestination, "NO_DESTINATION", Family::Refused, nullptr,
     "no destination for the read-back"},
    {results::kNotInstalled, "NOT_INSTALLED", Family::Other, nullptr,
     "no installation directory exists to start the broker from"},
    {results::kArgumentRefused, "ARGUMENT_REFUSED", Family::Refused, "1003",
     "an argument is outside the protocol's limits"},
};

const Failure* failureOf(int result) {
  for (const Failure& failure : kFailures)
    if (failure.code == result) return &failure;
  return nullptr;
}

// The exception classes, created with the module and kept for the process's life.
py::handle errorClasses[3];

// The catalogue's text for `failure`, its placeholders filled for `client`.
std::string describe(const Failure& failure, const std::string& client) {
  if (failure.message == nullptr) return failure.words;
  static msgManager catalogue("tapbrokerclient");
  std::string id = failure.message;
  std::string text;
  catalogue.queryMsgString(id, text);
  // The first text is the client's name, a later one the row's words when it has them;
  // numbers are the code.
  int texts = 0;
  for (std::size_t at = 0; (at = text.find("$$", at)) != std::string::npos && at + 2 < text.size();) {
    const bool isText = text[at + 2] == 's';
    const std::string value = !isText ? std::to_string(failure.code)
                              : texts++ == 0 || failure.words == nullptr ? client
                                                                         : failure.words;
    text.replace(at, 3, value);
    at += value.size();
  }
  return text;
}

[[noreturn]] void raiseFailure(const Failure& failure, int status, const std::string& client) {
  const py::handle type = errorClasses[static_cast<int>(failure.family)];
  py::object error = type(std::to_string(failure.code) + " " + failure.name + ": " +
                          describe(failure, client));
  error.attr("code") = failure.code;
  error.attr("status") = status;
  PyErr_SetObject(type.ptr(), error.ptr());
  throw py::error_already_set();
}

// --- The client -----------------------------------------------------------------------------

// What Python holds: the library's client, and the settings the class takes but does not
// give back (debug output, the log file).
struct PyClient {
  explicit PyClient(std::string clientName)
      : name(std::move(clientName)), client(name.data()) {}
  std::string name;
  Client client;
  bool debug = false;
  py::object logFile = py::none();
  bool busy = false;  // a call of another thread is under way: the class is one thread's

  // Runs `call` with the GIL released, other threads kept off this client.
  template <typename Call>
  int blocking(Call call) {
    if (busy) throw std::runtime_error("this Client is in use by another thread");
    busy = true;
    int result;
    {
      py::gil_scoped_release release;
      result = call();
    }
    busy = false;
    return result;
  }
  // `result` as Python sees it: a failure raises, anything else comes back.
  int checked(int result) {
    if (const Failure* failure = failureOf(result))
      raiseFailure(*failure, client.GetClientStatus(), name);
    return result;
  }
};

py::str utf8(std::string_view text) {
  // Bytes that are no UTF-8 come back as surrogates, so that nothing of an answer is lost.
  PyObject* value = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                         "surrogateescape");
  if (value == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(value);
}

// --- send(): shapes and call shims ----------------------------------------------------------

// Argument kinds: 'i' an int, 's' a string (str or None), 'd' data (bytes-like or None).
// The longest string list passed (commands 41 and 44/120): 1024 names fill the 1024 bytes
// the library allows even when every one is empty.
constexpr std::size_t kMaxTail = 1024;

// The kinds a command takes, for the arguments given (lists whose length an argument
// gives take it from there); the shim that passes them; where the bit count stands.
struct Layout {
  std::string kinds;
  std::string shim;
  int bitsAt = -1;
  bool tooLong = false;  // a list longer than any the protocol carries
};

bool isInt(const py::handle& value) { return PyLong_Check(value.ptr()); }

int intOr(const py::args& args, std::size_t i, int otherwise) {
  if (i >= args.size() || !isInt(args[i])) return otherwise;
  const long long value = PyLong_AsLongLong(args[i].ptr());
  if (value == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return otherwise;
  }
  return value < INT_MIN || value > INT_MAX ? otherwise : static_cast<int>(value);
}

Layout fixed(std::string kinds, int bitsAt = -1) { return {kinds, kinds, bitsAt}; }

// A list of `count` strings after `prefix`, passed by the shim `prefix` + "*". The library
// reads none for a negative count.
Layout withTail(const std::string& prefix, int count) {
  const auto strings = static_cast<std::size_t>(std::max(count, 0));
  if (strings > kMaxTail) return {prefix, prefix + "*", -1, true};
  return {prefix + std::string(strings, 's'), prefix + "*", -1};
}

Layout interfaceLayout(const py::args& args) {
  const shapes::InterfaceFunction function = shapes::interfaceFunction(intOr(args, 0, 0));
  const auto n = static_cast<std::size_t>(function.count);
  switch (function.shape) {
    case shapes::Function::Strings:
      return fixed("i" + std::string(n, 's'));
    case shapes::Function::Ints:
      return fixed("i" + std::string(n, 'i'));
    case shapes::Function::FloatBlock:
    case shapes::Function::FloatToken:
      return fixed("ii");
    case shapes::Function::IntStringInt:
      return fixed("iisi");
    case shapes::Function::CountedStringPairs: {
      const int pairs = intOr(args, 1, 0);
      return withTail("ii", pairs > INT_MAX / 2 ? -1 : 2 * pairs);
    }
    case shapes::Function::JtagShift: {
      // Buffer A and buffer B follow only when their switches are on; the shim always
      // passes both, the library reads what the switches say.
      std::string kinds = "iiiiid";
      if (intOr(args, 3, 0) != 0) kinds += 'd';
      if (intOr(args, 4, 0) != 0) kinds += 'd';
      return {kinds, "iiiiiddd", 2};
    }
    default:
      return fixed("i");
  }
}

Layout layoutOf(int command, const py::args& args) {
  const shapes::Command& row = shapes::command(command);
  const auto n = static_cast<std::size_t>(row.count);
  switch (row.transfer) {
    case shapes::Transfer::Ints:
      return fixed(std::string(n, 'i'));
    case shapes::Transfer::Strings:
    case shapes::Transfer::StringsAnyAck:
      return fixed(std::string(n, 's'));
    case shapes::Transfer::Pairs:
      return fixed("isisisis");
    case shapes::Transfer::Command4: {
      // k settings after the count; the shim always passes ten, the library reads k.
      const int k = intOr(args, 2, 0);
      const bool inRange = k >= 0 && k <= shapes::kCommand4Values;
      return {"ssi" + std::string(inRange ? static_cast<std::size_t>(k) : 0, 'i'),
              "ssiiiiiiiiiii"};
    }
    case shapes::Transfer::SharedApps:
      return withTail("i", intOr(args, 0, 0));
    case shapes::Transfer::InterfaceFunction:
      return interfaceLayout(args);
    case shapes::Transfer::GenericShift:
      return fixed("iiid", 1);
    case shapes::Transfer::PumpData:
      return fixed("diii", 1);
    case shapes::Transfer::I2CShift:
      return fixed("iiidi", 2);
    case shapes::Transfer::SSPIShift:
      return fixed("iidi", 1);
    default:
      return fixed("");
  }
}

const char* kindName(char kind) {
  return kind == 'i' ? "an int" : kind == 's' ? "a string" : "data (a bytes-like object)";
}

// One argument of the ellipsis.
struct Slot {
  int number = 0;
  const void* pointer = nullptr;
};

template <char Kind>
auto pass(const Slot& slot) {
  if constexpr (Kind == 'i') return slot.number;
  else if constexpr (Kind == 's') return static_cast<const char*>(slot.pointer);
  else return static_cast<const unsigned char*>(slot.pointer);
}

// The library's own entry point: the shims have checked what they pass.
int (Client::*const kSend)(int, ...) = &Client::Send;

template <char... Kinds, std::size_t... I>
int callWith(Client& client, int command, const Slot* slots, std::index_sequence<I...>) {
  return (client.*kSend)(command, pass<Kinds>(slots[I])...);
}
template <char... Kinds>
int callFixed(Client& client, int command, const Slot* slots) {
  return callWith<Kinds...>(client, command, slots, std::make_index_sequence<sizeof...(Kinds)>());
}
// An int prefix, then up to kMaxTail strings (nulls past the count, never read).
template <std::size_t Ints, std::size_t... I>
int callTail(Client& client, int command, const Slot* slots, std::index_sequence<I...>) {
  if constexpr (Ints == 1)
    return (client.*kSend)(command, slots[0].number, pass<'s'>(slots[1 + I])...);
  else
    return (client.*kSend)(command, slots[0].number, slots[1].number,
                           pass<'s'>(slots[2 + I])...);
}
template <std::size_t Ints>
int callWithTail(Client& client, int command, const Slot* slots) {
  return callTail<Ints>(client, command, slots, std::make_index_sequence<kMaxTail>());
}

struct Shim {
  std::string_view kinds;
  int (*call)(Client&, int, const Slot*);
};
// Every shim a layout above names.
const Shim kShims[] = {
    {"", callFixed<>},
    {"i", callFixed<'i'>},
    {"ii", callFixed<'i', 'i'>},
    {"iii", callFixed<'i', 'i', 'i'>},
    {"iiii", callFixed<'i', 'i', 'i', 'i'>},
    {"iiiiii", callFixed<'i', 'i', 'i', 'i', 'i', 'i'>},
    {"s", callFixed<'s'>},
    {"ss", callFixed<'s', 's'>},
    {"is", callFixed<'i', 's'>},
    {"iss", callFixed<'i', 's', 's'>},
    {"iisi", callFixed<'i', 'i', 's', 'i'>},
    {"isisisis", callFixed<'i', 's', 'i', 's', 'i', 's', 'i', 's'>},
    {"ssiiiiiiiiiii",
     callFixed<'s', 's', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i'>},
    {"iiid", callFixed<'i', 'i', 'i', 'd'>},
    {"diii", callFixed<'d', 'i', 'i', 'i'>},
    {"iiidi", callFixed<'i', 'i', 'i', 'd', 'i'>},
    {"iidi", callFixed<'i', 'i', 'd', 'i'>},
    {"iiiiiddd", callFixed<'i', 'i', 'i', 'i', 'i', 'd', 'd', 'd'>},
    {"i*", callWithTail<1>},
    {"ii*", callWithTail<2>},
};

// The buffers lent by data arguments, given back when the call is over.
class Views {
 public:
  explicit Views(std::size_t most) { views_.reserve(most); }  // never moved once lent
  Views(const Views&) = delete;
  Views& operator=(const Views&) = delete;
  ~Views() {
    for (Py_buffer& view : views_) PyBuffer_Release(&view);
  }
  const Py_buffer& borrow(const py::handle& object) {
    views_.emplace_back();
    if (PyObject_GetBuffer(object.ptr(), &views_.back(), PyBUF_SIMPLE) != 0) {
      views_.pop_back();
      throw py::error_already_set();
    }
    return views_.back();
  }

 private:
  std::vector<Py_buffer> views_;
};

int send(PyClient& self, int command, const py::args& args) {
  const Layout layout = layoutOf(command, args);
  const std::string& kinds = layout.kinds;
  const auto where = [&](std::size_t i) {
    return "argument " + std::to_string(i + 2) + " of command " + std::to_string(command);
  };
  for (std::size_t i = 0; i < args.size() && i < kinds.size(); ++i) {
    const py::handle value = args[i];
    const bool fits = kinds[i] == 'i'   ? isInt(value)
                      : kinds[i] == 's' ? value.is_none() || PyUnicode_Check(value.ptr())
                                        : value.is_none() || PyObject_CheckBuffer(value.ptr());
    if (!fits) throw py::type_error(where(i) + " is " + kindName(kinds[i]));
  }
  if (layout.tooLong) {
    // Refused as the library refuses what does not fit.
    self.client.SetClientStatus(results::kArgumentRefused);
    self.checked(results::kArgumentRefused);
  }
  if (args.size() != kinds.size()) {
    throw py::type_error("command " + std::to_string(command) + " takes " +
                         std::to_string(kinds.size()) + " argument(s) after its number here, " +
                         std::to_string(args.size()) + " given");
  }

  std::vector<Slot> slots(layout.shim.back() == '*' ? layout.shim.size() - 1 + kMaxTail
                                                     : layout.shim.size());
  Views views(args.size());
  const long long bits = layout.bitsAt >= 0 ? intOr(args, layout.bitsAt, 0) : 0;
  const long long needed = bits > 0 ? (bits + 7) / 8 : 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const py::handle value = args[i];
    if (kinds[i] == 'i') {
      const long long number = PyLong_AsLongLong(value.ptr());
      if ((number == -1 && PyErr_Occurred()) || number < INT_MIN || number > UINT_MAX) {
        PyErr_Clear();
        throw py::value_error(where(i) + " does not fit 32 bits");
      }
      // 0x80000000 to 0xFFFFFFFF are taken as the 32-bit patterns they spell.
      slots[i].number = static_cast<int>(static_cast<std::uint32_t>(number));
    } else if (value.is_none()) {
      slots[i].pointer = nullptr;
    } else if (kinds[i] == 's') {
      Py_ssize_t length = 0;
      const char* text = PyUnicode_AsUTF8AndSize(value.ptr(), &length);
      if (text == nullptr) throw py::error_already_set();
      if (std::strlen(text) != static_cast<std::size_t>(length))
        throw py::value_error(where(i) + " holds a NUL character");
      slots[i].pointer = text;
    } else {
      // Send reads (bitCount + 7) / 8 bytes of every buffer: a shorter one is refused here.
      const Py_buffer& view = views.borrow(value);
      if (view.len < needed) {
        throw py::value_error(where(i) + " holds " + std::to_string(view.len) +
                              " bytes; a bit count of " + std::to_string(bits) + " takes " +
                              std::to_string(needed));
      }
      slots[i].pointer = view.buf;
    }
  }
  for (const Shim& shim : kShims) {
    if (shim.kinds != layout.shim) continue;
    return self.checked(
        self.blocking([&] { return shim.call(self.client, command, slots.data()); }));
  }
  throw std::logic_error("no call shim for the kinds " + layout.shim);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The tapbroker_client library's Client, for Python (see the package).";

  errorClasses[0] = PyErr_NewExceptionWithDoc(
      "tapbroker_client.Error",
      "A failure of the library (not an answer of the broker): .code is the library's "
      "result code, .status the client's status afterwards.",
      PyExc_Exception, nullptr);
  errorClasses[1] = PyErr_NewExceptionWithDoc(
      "tapbroker_client.ConnectionLost",
      "A send or receive failed (-1001, -1002): the conversation with the broker is over.",
      errorClasses[0].ptr(), nullptr);
  errorClasses[2] = PyErr_NewExceptionWithDoc(
      "tapbroker_client.ArgumentRefused",
      "The library refused an argument before sending anything of the command.",
      errorClasses[0].ptr(), nullptr);
  m.attr("Error") = errorClasses[0];
  m.attr("ConnectionLost") = errorClasses[1];
  m.attr("ArgumentRefused") = errorClasses[2];
  m.attr("SUCCESS") = results::kSuccess;
  for (const Failure& failure : kFailures) m.attr(failure.name) = failure.code;

  py::class_<PyClient>(m, "Client", "One conversation with the broker; one thread's at a time.")
      .def(py::init<std::string>(), py::arg("name"),
           "A client introduced to the broker as `name` (shorter than 1024 bytes in UTF-8). "
           "Touches no network.")
      .def(
          "connect",
          [](PyClient& self, py::object logFile, py::object installDir) {
            const std::string log = logFile.is_none() ? "" : py::str(logFile).cast<std::string>();
            const std::string dir =
                installDir.is_none() ? "" : py::str(installDir).cast<std::string>();
            self.checked(self.blocking([&] {
              return self.client.Connect(nullptr, log.empty() ? nullptr : log.c_str(),
                                         dir.empty() ? nullptr : dir.c_str());
            }));
            if (!log.empty()) self.logFile = logFile;
          },
          py::arg("log_file") = py::none(), py::arg("install_dir") = py::none(),
          "Connects to the broker on 127.0.0.1:4001 and introduces this client. When nothing "
          "listens and no broker runs, starts tapbroker.exe from `install_dir` and tries once "
          "more. The connection held before is closed. A `log_file` is switched on after the "
          "introduction. Raises Error: -1001, -1002, -1003, -1004, -1005, -1024, -1025.")
      .def(
          "disconnect",
          [](PyClient& self) { self.checked(self.blocking([&] { return self.client.Disconnect(); })); },
          "Sends the closing command 9999 and closes the connection (closed also when this "
          "raises): -1008 when the broker refused, -1009 when the shutdown failed.")
      .def(
          "send",
          [](PyClient& self, int command, const py::args& args) { return send(self, command, args); },
          py::arg("command"),
          "Sends command `command` with its arguments (ints, str strings, bytes-like data), "
          "runs its transfer and returns the broker's integer answer, negative ones included. "
          "The arguments are checked against the command's shape first: a wrong kind or count "
          "raises TypeError, a data buffer shorter than its bit count takes raises ValueError, "
          "and nothing is sent. A withheld command (2, 5 to 28, 0 and below before both "
          "permissions) sends only \"8888\" and returns 1; commands 4 and 33 return the "
          "broker's grant (0 granted, -1 refused). A failure of the library raises Error "
          "(ConnectionLost for -1001/-1002, ArgumentRefused for -1025, -1020, -1021).\n\n"
          "Arguments after the number: 2, 29: a string; 3, 12: two strings; 5, 7, 9, 15-18, "
          "23, 37, 39, 45, 49, 53-55: an int; 20, 36, 40: two ints; 21: int, string four "
          "times; 4: cable, port, k (0..10), k ints; 19: shiftControl, bitCount, readBack, "
          "data; 41: count, count names; 42: data, bitCount, mode, readBack; 44: code, then "
          "the function's arguments (12: shiftControl, bitCount, switchA, switchB, data, "
          "buffer A when switchA, buffer B when switchB); 46-48: word, addressByte, bitCount, "
          "data, trailingWord; 50-52: word, bitCount, data, trailingWord; others: none.")
      .def(
          "get_tdo",
          [](PyClient& self, int bits) {
            const std::size_t size = bits > 0 ? (static_cast<std::size_t>(bits) + 7) / 8 : 0;
            std::string tdo(size + 1, '\0');
            self.checked(self.client.GetTDO(tdo.data(), bits));
            tdo.resize(size);
            return py::bytes(tdo);
          },
          py::arg("bits"),
          "The (bits + 7) // 8 bytes read back by the last shift (zeros past what was held), "
          "then forgets them. Raises Error -1022 when nothing is held.")
      .def(
          "read_int",
          [](PyClient& self) {
            int value = 0;
            self.checked(self.blocking([&] { return self.client.Read(value); }));
            return value;
          },
          "Asks the broker for an answer as an int (0 when the text is not a number).")
      .def(
          "read_text",
          [](PyClient& self) {
            char* text = nullptr;
            self.checked(self.blocking([&] { return self.client.Read(text); }));
            return utf8(text);
          },
          "Asks the broker for an answer as text.")
      .def(
          "read_list",
          [](PyClient& self) {
            std::vector<std::string> items;
            self.checked(self.blocking([&] { return self.client.Read(items); }));
            py::list list;
            for (const std::string& item : items) list.append(utf8(item));
            return list;
          },
          "Asks the broker for a \";\"-separated answer as a list of str (an empty item "
          "between two \";\" is kept, a trailing empty one is not).")
      .def_property(
          "status", [](PyClient& self) { return self.client.GetClientStatus(); },
          [](PyClient& self, int value) { self.client.SetClientStatus(value); },
          "The result code of the last operation that recorded one.")
      .def_property_readonly(
          "socket", [](PyClient& self) { return self.client.GetClientSocket(); },
          "The socket's low 32 bits; -1 before the first connect, 0 after a failed one.")
      .def_property(
          "debug", [](PyClient& self) { return self.debug; },
          [](PyClient& self, bool on) {
            on ? self.client.Set_Debug_On() : self.client.Set_Debug_Off();
            self.debug = on;
          },
          "True: every report is posted to the message catalogue (standard error).")
      .def_property(
          "log_file", [](PyClient& self) { return self.logFile; },
          [](PyClient& self, py::object path) {
            const std::string text = py::str(path).cast<std::string>();
            const int result = self.client.Set_Log_File(text.c_str());
            if (result == -1) throw py::value_error("cannot log to " + text);
            self.checked(result);
            self.logFile = path;
          },
          "The log file every report is appended to (None: none set). Setting it creates or "
          "empties the file; ValueError when it cannot be opened, Error -1016 for \"\".")
      .def_property_readonly("name", [](PyClient& self) { return self.name; });
}
