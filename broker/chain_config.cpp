#include "broker/chain_config.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <cmath>

namespace broker {
namespace {

constexpr int kMaxNameLength = 64;

// A whole number within 0 to `limit`, from a JSON number or a decimal or 0x text.
bool readUnsigned(const QJsonValue& value, quint64 limit, quint64& out) {
  if (value.isDouble()) {
    const double number = value.toDouble();
    if (!(number >= 0 && number <= static_cast<double>(limit)) ||
        std::floor(number) != number) {
      return false;
    }
    out = static_cast<quint64>(number);
    return true;
  }
  if (value.isString()) {
    bool ok = false;
    out = value.toString().trimmed().toULongLong(&ok, 0);  // base 0: decimal or 0x
    return ok && out <= limit;
  }
  return false;
}

bool fail(std::string& error, int index, const std::string& what) {
  error = "devices[" + std::to_string(index) + "]: " + what;
  return false;
}

bool readDevice(const QJsonValue& entry, int index, DeviceDescription& device,
                std::string& error) {
  if (!entry.isObject()) return fail(error, index, "must be an object");
  const QJsonObject object = entry.toObject();

  const QString name = object.value("name").toString();
  if (name.isEmpty() || name.size() > kMaxNameLength) {
    return fail(error, index, "\"name\" must be a text of 1 to 64 characters");
  }
  for (QChar c : name) {
    // Names travel in ";"-separated list answers.
    if (c == ';' || c.unicode() < 0x20 || c.unicode() > 0x7E) {
      return fail(error, index, "\"name\" may hold printable ASCII but no \";\"");
    }
  }
  device.name = name.toStdString();

  quint64 number = 0;
  if (!readUnsigned(object.value("irLength"), 32, number) || number < 2) {
    return fail(error, index, "\"irLength\" must be a whole number from 2 to 32");
  }
  device.irLength = static_cast<int>(number);
  const quint64 bypass = (quint64{1} << device.irLength) - 1;

  const QJsonValue idcode = object.value("idcode");
  device.hasIdcode = !(idcode.isUndefined() || idcode.isNull());
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
    const QJsonValue value = object.value(opcode.key);
    if (value.isUndefined()) continue;
    if (!readUnsigned(value, bypass - 1, number)) {
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

bool parseChain(const QByteArray& json, std::vector<DeviceDescription>& chain,
                std::string& error) {
  QJsonParseError parseError{};
  const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    error = "not JSON: " + parseError.errorString().toStdString() + " at offset " +
            std::to_string(parseError.offset);
    return false;
  }
  const QJsonValue devices = document.object().value("devices");
  if (!document.isObject() || !devices.isArray()) {
    error = "the top level must be an object with a \"devices\" array";
    return false;
  }
  const QJsonArray list = devices.toArray();
  if (list.isEmpty() || list.size() > kMaxDevices) {
    error = "\"devices\" must hold 1 to " + std::to_string(kMaxDevices) + " devices";
    return false;
  }
  std::vector<DeviceDescription> read;
  for (int i = 0; i < list.size(); ++i) {
    DeviceDescription device;
    if (!readDevice(list.at(i), i, device, error)) return false;
    read.push_back(device);
  }
  chain = std::move(read);
  return true;
}

bool loadChainFile(const QString& path, std::vector<DeviceDescription>& chain,
                   std::string& error) {
  QFile file(path);
  // A chain description is a few lines; anything far bigger is not one.
  constexpr qint64 kMaxFileSize = 1 << 20;
  if (!file.open(QIODevice::ReadOnly)) {
    error = path.toStdString() + ": " + file.errorString().toStdString();
    return false;
  }
  if (file.size() > kMaxFileSize) {
    error = path.toStdString() + ": larger than a chain description can be";
    return false;
  }
  if (!parseChain(file.readAll(), chain, error)) {
    error = path.toStdString() + ": " + error;
    return false;
  }
  return true;
}

}  // namespace broker
