// I2C and SPI masters of the simulated controller and the devices on their buses.
#include "sim/i2c_spi.h"
#include <algorithm>

#include <cmath>

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroup = 16;

enum : std::uint8_t {
  kI2cInit = 9,
  kI2cStart = 10,
  kI2cStop = 11,
  kI2cWrite = 12,
  kI2cRead = 13,
  kI2cSetClock = 14,
  kSpiInit = 15,
  kSpiByte = 16,
  kSpiSetClock = 17,
  kSpiBit = 18,
};

constexpr double kDefaultCelsius = 23.5;
constexpr double kMinCelsius = -55;
constexpr double kMaxCelsius = 125;

Reply answer(std::uint8_t byte) {
  Reply reply;
  reply.payload = {byte};
  return reply;
}

}  // namespace

void I2cEeprom::select(bool read) {
  expecting_address_ = !read;
}

bool I2cEeprom::receive(std::uint8_t byte) {
  if (expecting_address_) {
    pointer = byte;
    expecting_address_ = false;
    pending_.clear();
    return true;
  }
  // One entry per address: a host that never sends a stop cannot make it grow past a page.
  auto same = std::find_if(pending_.begin(), pending_.end(),
                           [&](const auto &entry) { return entry.first == pointer; });
  if (same != pending_.end()) {
    same->second = byte;
  } else {
    pending_.emplace_back(pointer, byte);
  }
  // The pointer rolls over inside the page while writing.
  const auto page = static_cast<std::uint8_t>(pointer & ~(kPageSize - 1));
  pointer = static_cast<std::uint8_t>(page | ((pointer + 1) & (kPageSize - 1)));
  return true;
}

std::uint8_t I2cEeprom::transmit() {
  return memory[pointer++];
}

void I2cEeprom::end(bool with_stop) {
  // Only a stop starts the write; a transaction abandoned otherwise writes nothing.
  if (with_stop) {
    for (const auto &[at, byte] : pending_) memory[at] = byte;
  }
  pending_.clear();
  expecting_address_ = false;
}

I2cTemperatureSensor::I2cTemperatureSensor(double celsius) {
  // Half-degree resolution in the top nine bits, within the sensor's range.
  if (!(celsius >= kMinCelsius)) celsius = kMinCelsius;
  if (celsius > kMaxCelsius) celsius = kMaxCelsius;
  const auto halves = static_cast<std::int16_t>(std::lround(celsius * 2));
  registers[0] = static_cast<std::uint16_t>(halves * 128);
  registers[1] = 0;
  registers[2] = 75 * 256;
  registers[3] = 80 * 256;
}

void I2cTemperatureSensor::select(bool read) {
  expecting_pointer_ = !read;
  position_ = 0;
}

bool I2cTemperatureSensor::receive(std::uint8_t byte) {
  if (expecting_pointer_) {
    if (byte >= registers.size()) return false;
    pointer = byte;
    expecting_pointer_ = false;
    position_ = 0;
    return true;
  }
  if (pointer == 0) return false;  // the temperature is read only
  std::uint16_t &reg = registers[pointer];
  if (pointer == 1) {
    reg = byte;
  } else if (position_ % 2 == 0) {
    reg = static_cast<std::uint16_t>(byte << 8 | (reg & 0xFF));
  } else {
    reg = static_cast<std::uint16_t>((reg & 0xFF00) | byte);
  }
  ++position_;
  return true;
}

std::uint8_t I2cTemperatureSensor::transmit() {
  const std::uint16_t reg = registers[pointer];
  if (pointer == 1) return static_cast<std::uint8_t>(reg);
  // Most significant byte first, then repeating.
  return static_cast<std::uint8_t>(position_++ % 2 == 0 ? reg >> 8 : reg & 0xFF);
}

I2cSpi::I2cSpi(Controller &controller)
    : sensor(controller.options().number("temperature", kDefaultCelsius)) {}

void install_i2c_spi(Controller &controller) {
  I2cSpi *s = &controller.part<I2cSpi>();

  // Ends the transaction in progress, if any, and leaves the bus in `next`.
  auto finish = [s](bool with_stop, I2cSpi::Bus next) {
    if (s->selected != nullptr) s->selected->end(with_stop);
    s->selected = nullptr;
    s->bus = next;
  };

  controller.on(kGroup, kI2cInit, [finish](std::span<const std::uint8_t>) {
    finish(false, I2cSpi::Bus::kIdle);
    return Reply{};
  });
  controller.on(kGroup, kI2cStart, [finish](std::span<const std::uint8_t>) {
    // A repeated start abandons the transaction in progress without a stop.
    finish(false, I2cSpi::Bus::kAddress);
    return Reply{};
  });
  controller.on(kGroup, kI2cStop, [finish](std::span<const std::uint8_t>) {
    finish(true, I2cSpi::Bus::kIdle);
    return Reply{};
  });

  controller.on(kGroup, kI2cWrite, [s](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    const std::uint8_t byte = request[0];
    if (s->bus == I2cSpi::Bus::kAddress) {
      const auto address = static_cast<std::uint8_t>(byte >> 1);
      const bool read = (byte & 1) != 0;
      for (I2cTarget *target :
           {static_cast<I2cTarget *>(&s->eeprom), static_cast<I2cTarget *>(&s->sensor)}) {
        if (target->address() != address) continue;
        target->select(read);
        s->selected = target;
        s->bus = read ? I2cSpi::Bus::kReading : I2cSpi::Bus::kWriting;
        return answer(I2cSpi::kAck);
      }
      s->bus = I2cSpi::Bus::kReleased;  // nobody answered: the bus waits for a start
      return answer(I2cSpi::kNack);
    }
    if (s->bus == I2cSpi::Bus::kWriting) {
      return answer(s->selected->receive(byte) ? I2cSpi::kAck : I2cSpi::kNack);
    }
    // No target listens: outside a transaction, or one that is reading.
    return answer(I2cSpi::kNack);
  });

  controller.on(kGroup, kI2cRead, [s](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    if (s->bus != I2cSpi::Bus::kReading) return answer(I2cSpi::kIdleBus);
    const std::uint8_t byte = s->selected->transmit();
    // The request byte is the master's acknowledge: non-zero (not-acknowledge) ends
    // the target's transmission.
    if (request[0] != 0) s->bus = I2cSpi::Bus::kReleased;
    return answer(byte);
  });

  controller.on(kGroup, kI2cSetClock, [s](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    s->i2c_clock = request[0];
    return Reply{};
  });

  controller.on(kGroup, kSpiInit, [s](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    s->spi_setting = request[0];
    s->spi_shift_register = 0;
    return Reply{};
  });

  controller.on(kGroup, kSpiSetClock, [s](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    s->spi_clock = request[0];
    return Reply{};
  });

  // The shift register's MSB goes out on MISO while MOSI enters at its LSB: a byte
  // comes back one transfer later.
  controller.on(kGroup, kSpiByte, [s](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    const std::uint8_t out = s->spi_shift_register;
    s->spi_shift_register = request[0];
    return answer(out);
  });

  controller.on(kGroup, kSpiBit, [s](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    const auto out = static_cast<std::uint8_t>(s->spi_shift_register >> 7);
    s->spi_shift_register =
        static_cast<std::uint8_t>(s->spi_shift_register << 1 | (request[0] & 1));
    return answer(out);
  });
}

}  // namespace kmt::sim
