#include "broker/program/chain_config.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "broker/common/input_file.h"
#include "common/printable.h"

namespace broker {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxNameLength = 64;

// A whole number within 0 to `limit`, from a JSON number or a decimal or 0x text.
bool readUnsigned(const Json& value, std::uint64_t limit, std::uint64_t& out) {
  if (value.is_number_unsigned()) {
    out = value.get<std::uint64_t>();
    return out <= limit;
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (!(number >= 0 && number <= static_cast<double>(limit)) ||
        std::floor(number) != number) {
      return false;
    }
    out = static_cast<std::uint64_t>(number);
    return true;
  }
  if (!value.is_string()) return false;  // negative integers too
  std::string_view text = value.get_ref<const std::string&>();
  text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
  text.remove_suffix(text.size() - (text.find_last_not_of(" \t") + 1));
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, out, base);
  return !text.empty() && error == std::errc() && stop == end && out <= limit;
}

bool fail(std::string& error, std::size_t index, const std::string& what) {
  error = "devices[" + std::to_string(index) + "]: " + what;
  return false;
}

// The member `key` of `object`, or null when it has none.
const Json& member(const Json& object, const char* key) {
  static const Json kAbsent;
  const auto found = object.find(key);
  return found == object.end() ? kAbsent : *found;
}

bool readDevice(const Json& entry, std::size_t index, DeviceDescription& device,
                std::string& error) {
  if (!entry.is_object()) return fail(error, index, "must be an object");

  const Json& nameValue = member(entry, "name");
  const std::string name = nameValue.is_string() ? nameValue.get<std::string>() : "";
  if (name.empty() || name.size() > kMaxNameLength) {
    return fail(error, index, "\"name\" must be a text of 1 to 64 characters");
  }
  for (const char c : name) {
    // Names travel in ";"-separated list answers.
    if (c == ';' || c < 0x20 || c > 0x7E) {
      return fail(error, index, "\"name\" may hold printable ASCII but no \";\"");
    }
  }
  device.name = name;

  std::uint64_t number = 0;
  if (!readUnsigned(member(entry, "irLength"), 32, number) || number < 2) {
    return fail(error, index, "\"irLength\" must be a whole number from 2 to 32");
  }
  device.irLength = static_cast<int>(number);
  const std::uint64_t bypass = (std::uint64_t{1} << device.irLength) - 1;

  const Json& idcode = member(entry, "idcode");
  device.hasIdcode = !idcode.is_null();
  if (device.hasIdcode) {
    if (!readUnsigned(idcode, 0xFFFFFFFFu, number) || !(number & 1u)) {
      return fail(error, index, "\"idcode\" must be a 32-bit number whose lowest bit is 1");
    }
    device.idcode = static_cast<std::uint32_t>(number);
  }

  struct Opcode {
    const char* key;
    std::uint32_t& field;
  };
  for (const Opcode& opcode : {Opcode{"idcodeInstruction", device.idcodeOpcode},
                               Opcode{"userInstruction", device.userOpcode}}) {
    if (!entry.contains(opcode.key)) continue;
    if (!readUnsigned(member(entry, opcode.key), bypass - 1, number)) {
      return fail(error, index,
                  std::string("\"") + opcode.key + "\" must fit the instruction register " +
                      "and differ from BYPASS (all ones)");
    }
    opcode.field = static_cast<std::uint32_t>(number);
  }
  if (device.hasIdcode && device.idcodeOpcode == device.userOpcode) {
    return fail(error, index, "IDCODE and USER need different instructions");
  }
  return true;
}

// A flash size, when the description gives one: a power of two from one sector to 256 MiB.
bool readFlashSize(const Json& document, const char* key, std::size_t& size,
                   std::string& error) {
  if (!document.contains(key)) return true;
  std::uint64_t number = 0;
  if (!readUnsigned(document[key], FlashSizes::kMaxFlashSize, number) ||
      number < SimulatedCable::kFlashSector || (number & (number - 1)) != 0) {
    error = std::string("\"") + key + "\" must be a power of two from 4096 to " +
            std::to_string(FlashSizes::kMaxFlashSize) + " bytes";
    return false;
  }
  size = static_cast<std::size_t>(number);
  return true;
}

}  // namespace

std::vector<DeviceDescription> defaultChain() {
  DeviceDescription fpga;
  fpga.name = "sim-fpga";
  fpga.idcode = 0x1A2B3C4D;
  fpga.irLength = 6;
  DeviceDescription cpld;
  cpld.name = "sim-cpld";
  cpld.idcode = 0x2C0FFEE1;
  cpld.irLength = 8;
  return {fpga, cpld};
}

bool parseChain(std::string_view json, std::vector<DeviceDescription>& chain, FlashSizes& flash,
                std::string& error) {
  Json document;
  try {
    document = Json::parse(json);
  } catch (const Json::parse_error& parseError) {
    // The library's message after its "[json.exception.parse_error.N] " tag; it writes
    // the bytes it quotes from the text as <U+00XX> already.
    const std::string_view what = parseError.what();
    error = "not JSON: " + printable::escaped(what.substr(what.find(']') + 2));
    return false;
  }
  if (!document.is_object() || !member(document, "devices").is_array()) {
    error = "the top level must be an object with a \"devices\" array";
    return false;
  }
  const Json& list = document["devices"];
  if (list.empty() || list.size() > kMaxDevices) {
    error = "\"devices\" must hold 1 to " + std::to_string(kMaxDevices) + " devices";
    return false;
  }
  std::vector<DeviceDescription> read;
  for (std::size_t i = 0; i < list.size(); ++i) {
    DeviceDescription device;
    if (!readDevice(list[i], i, device, error)) return false;
    read.push_back(device);
  }
  FlashSizes sizes;
  if (!readFlashSize(document, "norFlashSize", sizes.nor, error) ||
      !readFlashSize(document, "spiFlashSize", sizes.spi, error)) {
    return false;
  }
  chain = std::move(read);
  flash = sizes;
  return true;
}

bool loadChainFile(const std::string& path, std::vector<DeviceDescription>& chain,
                   FlashSizes& flash, std::string& error) {
  std::string text;
  if (!readInputFile(path, text, error) || !parseChain(text, chain, flash, error)) {
    error = printable::escaped(path) + ": " + error;
    return false;
  }
  return true;
}

}  // namespace broker
