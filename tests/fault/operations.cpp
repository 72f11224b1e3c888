#include "tests/fault/operations.h"

#include <set>

namespace fault {

const char kClientName[] = "fault";

namespace {

const std::string kPlus("+\0", 2);

std::string tok(const std::string& text) { return text + '\0'; }
std::string tok(int value) { return tok(std::to_string(value)); }

// Recognisable bytes that never read as a line break or as the 0xEE with which the
// harness fills GetTDO's destination.
std::string pattern(int n, int seed) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>((i * 7 + seed * 13) & 0xFF);
    if (c == 0xEE || c == '\n' || c == '\r') c = 0x11;
    out += static_cast<char>(c);
  }
  return out;
}

std::string mirroredBytes(const std::string& data) {
  std::string out;
  for (unsigned char byte : data) {
    unsigned char m = 0;
    for (int i = 0; i < 8; ++i)
      if (byte & (1u << i)) m = static_cast<unsigned char>(m | (0x80u >> i));
    out += static_cast<char>(m);
  }
  return out;
}

const unsigned char* data(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

const std::string kShift2("\x12\x34", 2);
const std::string kBufferA2("\x56\x78", 2);
const std::string kRead2("\xAB\xCD", 2);
const std::string kRead3("\xAB\xCD\xEF", 3);
// 1030 bytes: two blocks, the second of 6 bytes.
constexpr int kBigBits = 8 * 1030;
const std::string kBig = pattern(1030, 1);
const std::string kBigA = pattern(1030, 2);
// A multi-block read-back as a broker sends it: each block begins with "+".
const std::string kBlock0 = "+" + pattern(1023, 3);
const std::string kBlock1 = "+" + pattern(6, 4);

// The command token and the broker's reply to it.
void command(Conversation& c, int number) {
  c.token(std::to_string(number), "1009").loose(kPlus, "1010");
}
// Send's closing read of the command's integer answer.
void finalRead(Conversation& c, int value) { c.sends(kPlus, "1018").loose(tok(value), "1020"); }
void strictTokens(Conversation& c, std::initializer_list<int> values, const char* sendId,
                  const char* ackId) {
  for (int value : values) c.token(std::to_string(value), sendId).strict(ackId);
}
// The flag query that ends commands 4 and 33: the answer is read in at most 2 bytes.
void flagQuery(Conversation& c) { c.sends(kPlus, "1073").receives(tok(1), 2, false, "1074"); }
// A multi-block read-back: each block answered by the request token.
void readBackBlocks(Conversation& c, bool checked, const char* sendId, const char* receiveId) {
  c.receives(kBlock0, 1024, checked, receiveId).clearingTdo().appending(kAppendAll);
  c.sends(kPlus, sendId);
  c.receives(kBlock1, 1024, checked, receiveId).appending(kAppendAll);
  c.sends(kPlus, sendId);
}

Observation result(int value) {
  Observation o;
  o.result = value;
  return o;
}

// --- the generic transfers and the dispatcher ---------------------------------------------

Operation commandAlone() {
  Conversation c;
  command(c, 30);
  finalRead(c, 5);
  return {"command_alone", Setup::Connected, Yields::FinalInteger, c,
          [](Client& client) { return result(client.Send(30)); }};
}

Operation unlistedCommand() {
  Conversation c;
  command(c, 77);
  finalRead(c, 6);
  return {"unlisted_command", Setup::Connected, Yields::FinalInteger, c,
          [](Client& client) { return result(client.Send(77)); }};
}

Operation integers() {
  Conversation c;
  command(c, 36);
  strictTokens(c, {7, -1}, "1060", "1062");
  finalRead(c, 7);
  return {"integers", Setup::Connected, Yields::FinalInteger, c,
          [](Client& client) { return result(client.Send(36, 7, -1)); }};
}

Operation strings() {
  Conversation c;
  command(c, 12);
  c.token("ab", "1064").strict("1066").token("", "1064").strict("1066");
  finalRead(c, 8);
  return {"strings", Setup::Granted, Yields::FinalInteger, c, [](Client& client) {
            return result(client.Send(12, const_cast<char*>("ab"), const_cast<char*>("")));
          }};
}

Operation stringsAnyAcknowledgement() {
  Conversation c;
  command(c, 3);
  c.token("x", "1056").loose(kPlus, "1058").token("yz", "1056").loose(kPlus, "1058");
  finalRead(c, 9);
  return {"strings_any_ack", Setup::Connected, Yields::FinalInteger, c, [](Client& client) {
            return result(client.Send(3, const_cast<char*>("x"), const_cast<char*>("yz")));
          }};
}

Operation pairs() {
  Conversation c;
  command(c, 21);
  for (const char* value : {"1", "a", "2", "b", "3", "c", "4", "d"})
    c.token(value, "1068").strict("1070");
  finalRead(c, 10);
  return {"pairs", Setup::Granted, Yields::FinalInteger, c, [](Client& client) {
            char a[] = "a", b[] = "b", cc[] = "c", d[] = "d";
            return result(client.Send(21, 1, a, 2, b, 3, cc, 4, d));
          }};
}

Operation command4() {
  Conversation c;
  command(c, 4);
  c.token("u", "1009").loose(kPlus, "1010").token("p", "1009").loose(kPlus, "1010");
  for (int value : {9, 8, 0, 1, 0, 0, 0, 1, 0, 0})
    c.token(std::to_string(value), "1009").loose(kPlus, "1010");
  flagQuery(c);
  c.endingHere();
  // A command token that does not get through makes the client connect once more.
  const int reconnect = c.size();
  c.token(kClientName, "").onNewConnection().loose(kPlus, "").endingHere();
  c.setFailureTarget(0, reconnect);
  c.setFailureTarget(1, reconnect);
  return {
      "command_4", Setup::Connected, Yields::Grant, c, [](Client& client) {
        return result(client.Send(4, const_cast<char*>("u"), const_cast<char*>("p"), 2, 9, 8));
      }};
}

Operation command33() {
  Conversation c;
  command(c, 33);
  flagQuery(c);
  return {"command_33", Setup::Connected, Yields::Grant, c,
          [](Client& client) { return result(client.Send(33)); }};
}

Operation withheldCommand() {
  Conversation c;
  c.token("8888", "1009").loose(kPlus, "1010");
  return {"withheld", Setup::Connected, Yields::Withheld, c,
          [](Client& client) { return result(client.Send(5, 7)); }};
}

Operation disconnect() {
  Conversation c;
  command(c, 9999);
  finalRead(c, 0);
  return {"disconnect", Setup::Connected, Yields::Disconnect, c,
          [](Client& client) { return result(client.Disconnect()); }};
}

Operation connect() {
  Conversation c;
  c.token(kClientName, "1006").onNewConnection().loose(kPlus, "1007");
  return {"connect", Setup::Fresh, Yields::Connect, c,
          [](Client& client) { return result(client.Connect(nullptr, nullptr, nullptr)); }};
}

// --- the scan transfers -------------------------------------------------------------------

Operation genericShift(bool multiBlock, int readBack) {
  Conversation c;
  command(c, 19);
  const std::string& shift = multiBlock ? kBig : kShift2;
  const int bits = multiBlock ? kBigBits : 16;
  strictTokens(c, {0, bits, static_cast<int>(shift.size()), readBack}, "1037", "1038");
  if (!multiBlock) {
    c.sends(shift, "1037").clearingTdo();
    c.loose(kRead2, "1038").appending(readBack ? 2 : kNoAppend);
  } else {
    c.sends(shift.substr(0, 1024), "1037").strict("1038");
    c.sends(shift.substr(1024), "1037").strict("1038");
    if (readBack)
      readBackBlocks(c, false, "1037", "1038");
    else
      c.strict("1038");
  }
  finalRead(c, 11);
  std::string name = std::string("generic_shift_") + (multiBlock ? "multi" : "single") +
                     (readBack ? "_read_back" : "");
  return {name, Setup::Granted, Yields::FinalInteger, c, [=](Client& client) {
            return result(client.Send(19, 0, bits, readBack, data(shift)));
          }};
}

Operation jtagShift(bool multiBlock, bool readBack) {
  Conversation c;
  command(c, 44);
  c.token("12", "1060").strict("1062");
  const int bits = multiBlock ? kBigBits : 16;
  // Without read-back the single-block shift sends bufferB instead, to cover that path.
  const int switchA = readBack ? 1 : 0;
  const int switchB = !readBack && !multiBlock ? 1 : 0;
  strictTokens(c, {0, bits, switchA, switchB}, "1039", "1040");
  if (!multiBlock) {
    c.sends(kShift2 + '\0', "1039").clearingTdo().loose(kPlus, "1040");
    c.sends(kBufferA2 + '\0', "1039").loose(kPlus, "1040");
  } else {
    auto blocks = [&](const std::string& buffer) {
      c.sends(buffer.substr(0, 1024), "1039").strict("1040");
      c.sends(buffer.substr(1024) + std::string(1024 - 6, '\0'), "1039").strict("1040");
    };
    blocks(kBig);
    if (readBack) blocks(kBigA);
  }
  // The result fills the whole answer buffer, as a broker must send it before a read-back.
  c.sends(kPlus, "1039").loose(readBack ? tok(3) + std::string(1022, '\0') : tok(0), "1040");
  if (readBack && !multiBlock)
    c.loose(kRead3, "").clearingTdo().appending(2);  // this failure has no report of its own
  if (readBack && multiBlock) readBackBlocks(c, true, "1039", "1040");
  finalRead(c, 13);
  std::string name = std::string("jtag_shift_") + (multiBlock ? "multi" : "single") +
                     (readBack ? "_read_back" : "_buffer_b");
  return {name, Setup::Connected, Yields::FinalInteger, c, [=](Client& client) {
            const std::string& shift = multiBlock ? kBig : kShift2;
            const std::string& second = multiBlock ? kBigA : kBufferA2;
            return result(
                client.Send(44, 12, 0, bits, switchA, switchB, data(shift), data(second)));
          }};
}

// Interface functions other than the shift: one whose three parts all go out whatever
// became of the earlier ones, and the two that carry a number as floating-point text.
Operation interfaceFunction(int code) {
  Conversation c;
  command(c, 44);
  c.token(std::to_string(code), "1060").strict("1062");
  if (code == 30) {
    const int first = c.size();
    c.token("7", "1060").strict("1062");
    c.failuresFrom(first, c.size());
    const int second = c.size();
    c.token("s", "1064").strict("1066");
    c.failuresFrom(second, c.size());
    c.token("9", "1060").strict("1062");
  } else if (code == 36) {
    std::string block = "5.000000";
    block.resize(1024, '\0');
    c.sends(block, "").receives(kPlus, 2, false, "");  // failures here report nothing
  } else {
    c.token("3.000000", "1054").strict("1055");
  }
  finalRead(c, 17);
  return {"interface_function_" + std::to_string(code), Setup::Connected, Yields::FinalInteger,
          c, [code](Client& client) {
            if (code == 30) return result(client.Send(44, 30, 7, const_cast<char*>("s"), 9));
            return result(client.Send(44, code, code == 36 ? 5 : 3));
          }};
}

// I2C (46 to 48) and SSPI (50 to 52); `passes` lists (writeFlag, readFlag) per pass.
Operation serialShift(bool i2c, int commandNumber, bool multiBlock) {
  const char* sendId = i2c ? "1049" : "1046";
  const char* receiveId = i2c ? "1051" : "1048";
  const int bits = multiBlock ? kBigBits : 16;
  const std::string& shift = multiBlock ? kBig : kShift2;
  const std::string wireData = i2c ? mirroredBytes(shift) : shift;
  std::vector<std::pair<int, int>> passes;
  switch (commandNumber % 4) {
    case 2:  // 46, 50
      passes = {{1, 0}};
      break;
    case 3:  // 47, 51
      passes = {{0, 1}, {1, 1}};
      break;
    default:  // 48, 52
      passes = {{1, 1}};
      break;
  }
  Conversation c;
  command(c, commandNumber);
  for (std::size_t pass = 0; pass < passes.size(); ++pass) {
    const int passStart = c.size();
    if (i2c)
      strictTokens(c, {1, 128, bits, 2}, sendId, receiveId);  // header byte 0x01 mirrored
    else
      strictTokens(c, {1, bits, 2}, sendId, receiveId);
    const auto [writeFlag, readFlag] = passes[pass];
    if (writeFlag && !multiBlock) c.sends(wireData, sendId);
    if (writeFlag && multiBlock) {
      c.sends(wireData.substr(0, 1024), sendId).strict(receiveId);
      c.sends(wireData.substr(1024), sendId).strict(receiveId);
    }
    if (!readFlag)
      c.strict(receiveId);
    else if (!multiBlock)
      c.loose(kRead2, receiveId).clearingTdo().appending(2);
    else
      readBackBlocks(c, i2c, sendId, receiveId);
    // A first pass that fails does not stop the second.
    if (pass + 1 < passes.size()) c.failuresFrom(passStart, c.size());
  }
  finalRead(c, 14);
  std::string name = std::string(i2c ? "i2c_" : "sspi_") + std::to_string(commandNumber) +
                     (multiBlock ? "_multi" : "");
  return {name, Setup::Connected, Yields::FinalInteger, c, [=](Client& client) {
            const std::string& bytes = multiBlock ? kBig : kShift2;
            if (i2c) return result(client.Send(commandNumber, 1, 0x01, bits, data(bytes), 2));
            return result(client.Send(commandNumber, 1, bits, data(bytes), 2));
          }};
}

Operation pump(bool multiBlock, int readBack) {
  Conversation c;
  command(c, 42);
  const int bits = multiBlock ? kBigBits : 16;
  const std::string& shift = multiBlock ? kBig : kShift2;
  strictTokens(c, {bits, 5, readBack}, "1043", "1045");
  if (!multiBlock) {
    c.sends(shift, "1043").clearingTdo();
    c.loose(kRead2, "1045").appending(readBack ? 2 : kNoAppend);
  } else {
    c.sends(shift.substr(0, 1024), "1043").strict("1045");
    c.sends(shift.substr(1024), "1043").strict("1045");
    if (readBack)
      readBackBlocks(c, true, "1043", "1045");
    else
      c.strict("1045");
  }
  finalRead(c, 15);
  std::string name =
      std::string("pump_") + (multiBlock ? "multi" : "single") + (readBack ? "_read_back" : "");
  return {name, Setup::Connected, Yields::FinalInteger, c, [=](Client& client) {
            return result(client.Send(42, data(shift), bits, 5, readBack));
          }};
}

Operation sharedApplications() {
  Conversation c;
  command(c, 41);
  std::string block = "alpha;beta;";
  block.resize(1024, '\0');
  c.sends(block, "1052").receives(kPlus, 2, false, "1053");
  finalRead(c, 16);
  return {"shared_applications", Setup::Connected, Yields::FinalInteger, c, [](Client& client) {
            return result(
                client.Send(41, 2, const_cast<char*>("alpha"), const_cast<char*>("beta")));
          }};
}

// --- the Read overloads -------------------------------------------------------------------

Operation readOverload(const char* name, Yields yields, const char* sendId,
                       const char* receiveId, const std::string& answer,
                       std::function<Observation(Client&)> run) {
  Conversation c;
  c.sends(kPlus, sendId).loose(answer, receiveId);
  return {name, Setup::Connected, yields, c, std::move(run)};
}

std::vector<Operation> makeOperations() {
  std::vector<Operation> all = {
      connect(),         commandAlone(), unlistedCommand(),
      integers(),        strings(),      stringsAnyAcknowledgement(),
      pairs(),           command4(),     command33(),
      withheldCommand(), disconnect(),
  };
  for (bool multi : {false, true})
    for (int readBack : {0, 1}) all.push_back(genericShift(multi, readBack));
  for (bool multi : {false, true})
    for (bool readBack : {false, true}) all.push_back(jtagShift(multi, readBack));
  for (int code : {30, 36, 69}) all.push_back(interfaceFunction(code));
  for (bool i2c : {true, false}) {
    const int base = i2c ? 46 : 50;
    for (int number : {base, base + 1, base + 2})
      all.push_back(serialShift(i2c, number, false));
    all.push_back(serialShift(i2c, base + 2, true));
  }
  for (bool multi : {false, true})
    for (int readBack : {0, 1}) all.push_back(pump(multi, readBack));
  all.push_back(sharedApplications());

  all.push_back(readOverload("read_integer", Yields::ReadInteger, "1018", "1020", tok(42),
                             [](Client& client) {
                               int value = 99;
                               Observation o = result(client.Read(value));
                               o.value = std::to_string(value);
                               return o;
                             }));
  all.push_back(readOverload("read_text", Yields::ReadText, "1014", "1016", tok("hello"),
                             [](Client& client) {
                               static char untouched[] = "untouched";
                               char* text = untouched;
                               Observation o = result(client.Read(text));
                               o.value = text;
                               return o;
                             }));
  all.push_back(readOverload("read_returned_text", Yields::ReadReturnedText, "1014", "1016",
                             tok("hello"), [](Client& client) {
                               Observation o;
                               o.value = client.Read();
                               return o;
                             }));
  all.push_back(readOverload("read_list", Yields::ReadList, "1022", "1024", tok("a;;b;"),
                             [](Client& client) {
                               std::vector<std::string> items = {"kept"};
                               Observation o = result(client.Read(items));
                               for (std::size_t i = 0; i < items.size(); ++i)
                                 o.value += (i ? "|" : "") + items[i];
                               return o;
                             }));
  return all;
}

}  // namespace

const std::vector<Operation>& operations() {
  static const std::vector<Operation> all = makeOperations();
  return all;
}

Conversation setupConversation(Setup setup) {
  Conversation c;
  if (setup == Setup::Fresh) return c;
  c.token(kClientName, "1006").onNewConnection().loose(kPlus, "1007");
  if (setup == Setup::Granted) {
    command(c, 4);
    c.token("u", "1009").loose(kPlus, "1010").token("p", "1009").loose(kPlus, "1010");
    for (int value : {0, 0, 0, 1, 0, 0, 0, 1, 0, 0})
      c.token(std::to_string(value), "1009").loose(kPlus, "1010");
    flagQuery(c);
    command(c, 33);
    flagQuery(c);
  }
  // Known bytes in tdoData, so that what an operation leaves there shows.
  command(c, 42);
  strictTokens(c, {32, 0, 1}, "1043", "1045");
  c.sends("SEED", "1043").clearingTdo().loose("SEED", "1045").appending(4);
  finalRead(c, 0);
  return c;
}

bool runSetup(Setup setup, Client& client) {
  if (setup == Setup::Fresh) return true;
  if (client.Connect(nullptr, nullptr, nullptr) != 0) return false;
  if (setup == Setup::Granted &&
      (client.Send(4, const_cast<char*>("u"), const_cast<char*>("p"), 0) != 0 ||
       client.Send(33) != 0))
    return false;
  return client.Send(42, data("SEED"), 32, 0, 1) == 0;
}

bool isFailureReport(const std::string& id) {
  static const std::set<std::string> ids = {
      "1006", "1007", "1009", "1010", "1014", "1016", "1018", "1020", "1022",
      "1024", "1026", "1027", "1037", "1038", "1039", "1040", "1043", "1045",
      "1046", "1048", "1049", "1051", "1052", "1053", "1054", "1055", "1056",
      "1058", "1060", "1062", "1064", "1066", "1068", "1070", "1073", "1074"};
  return ids.count(id) != 0;
}

}  // namespace fault
