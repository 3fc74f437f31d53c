// i2c, spi: the controller's bus masters, a byte at a time.
#include <sstream>

#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

// The controller answers every I2C byte written with the acknowledge bit: 0 when the
// target acknowledged.
bool i2c_write_byte(Context &ctx, uint8_t byte, const std::string &what) {
  uint8_t ack = 1;
  int32_t status = 0;
  I2C_Write(ctx.handle(), byte, &ack, &status);
  ctx.check(what, status);
  return ack == 0;
}

void i2c_condition(Context &ctx, bool start) {
  int32_t status = 0;
  if (start) {
    I2C_Start(ctx.handle(), &status);
  } else {
    I2C_Stop(ctx.handle(), &status);
  }
  ctx.check(start ? "I2C start" : "I2C stop", status);
}

std::string address_text(int address) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", address);
  return text;
}

// Addresses a target for writing (read false) or reading; false when nobody answers.
bool i2c_address(Context &ctx, int address, bool read) {
  i2c_condition(ctx, true);
  return i2c_write_byte(ctx, static_cast<uint8_t>(address << 1 | (read ? 1 : 0)),
                        "addressing " + address_text(address));
}

void add_clock_command(CLI::App *group, Context &ctx, const Range &range, bool i2c) {
  auto *sub = group->add_subcommand("clock", std::string("Choose the bus clock by selector ") +
                                                 std::to_string(range.min) + ".." +
                                                 std::to_string(range.max));
  auto selector = value<int>();
  sub->add_option("selector", *selector, "Clock selector")->required()->check(in(range));
  sub->callback([&ctx, selector, i2c] {
    int32_t status = 0;
    if (i2c) {
      I2C_SetTimeClock(ctx.handle(), static_cast<uint8_t>(*selector), &status);
    } else {
      SPI_SetTimeClock(ctx.handle(), static_cast<uint8_t>(*selector), &status);
    }
    ctx.check("setting the clock", status);
    ctx.out.result({{"clock", *selector}}, "");
  });
}

}  // namespace

void add_bus_commands(CLI::App &app, Context &ctx) {
  auto *i2c = family(app, "i2c", "I2C master: set-up, clock, writes, reads, bus scan");
  i2c->add_subcommand("init", "Initialise the I2C master")->callback([&ctx] {
    int32_t status = 0;
    I2C_Init(ctx.handle(), &status);
    ctx.check("initialising I2C", status);
    ctx.out.result(json::object(), "");
  });
  add_clock_command(i2c, ctx, kI2cClock, true);
  {
    auto *sub =
        i2c->add_subcommand("write", "Write bytes to a target: start, address, bytes, stop");
    auto address = value<int>();
    auto bytes = value<std::vector<std::string>>();
    sub->add_option("address", *address, "7-bit address (0x50 for hex)")
        ->required()
        ->check(in(kI2cAddress));
    sub->add_option("bytes", *bytes, "Bytes as hex")->required();
    sub->callback([&ctx, address, bytes] {
      const std::vector<uint8_t> data = hex_arguments(*bytes);
      bool ack = i2c_address(ctx, *address, false);
      std::size_t acknowledged = 0;
      for (std::size_t i = 0; ack && i < data.size(); ++i) {
        ack = i2c_write_byte(ctx, data[i], "writing to " + address_text(*address));
        if (ack) ++acknowledged;
      }
      i2c_condition(ctx, false);
      if (!ack) {
        throw Failure(
            address_text(*address) + " did not acknowledge " +
                (acknowledged == 0 && data.size() > 0 ? std::string("its address or first byte")
                                                      : "byte " + std::to_string(acknowledged)),
            kExitFailure);
      }
      ctx.out.result({{"address", *address}, {"written", to_hex(data)}}, "");
    });
  }
  {
    auto *sub = i2c->add_subcommand(
        "read", "Read bytes from a target (with --register: write it first, then read)");
    auto address = value<int>();
    auto count = value<int>(1);
    auto reg = value<std::string>();
    sub->add_option("address", *address, "7-bit address")->required()->check(in(kI2cAddress));
    sub->add_option("count", *count, "Bytes to read, 1..64")->check(in(kTransferBytes));
    sub->add_option("-r,--register", *reg, "Bytes as hex written before the read");
    sub->callback([&ctx, address, count, reg] {
      if (!reg->empty()) {
        auto pointer = hex_argument(*reg);
        bool ack = i2c_address(ctx, *address, false);
        for (std::size_t i = 0; ack && i < pointer.size(); ++i) {
          ack = i2c_write_byte(ctx, pointer[i], "writing the register");
        }
        if (!ack) {
          i2c_condition(ctx, false);
          throw Failure(address_text(*address) + " did not acknowledge", kExitFailure);
        }
      }
      if (!i2c_address(ctx, *address, true)) {
        i2c_condition(ctx, false);
        throw Failure(address_text(*address) + " did not acknowledge", kExitFailure);
      }
      std::vector<uint8_t> data(static_cast<std::size_t>(*count));
      for (int i = 0; i < *count; ++i) {
        int32_t status = 0;
        // The master acknowledges every byte but the last.
        I2C_Read(ctx.handle(), i + 1 < *count ? 0 : 1, &data[static_cast<std::size_t>(i)], &status);
        ctx.check("reading from " + address_text(*address), status);
      }
      i2c_condition(ctx, false);
      ctx.out.result({{"address", *address}, {"data", to_hex(data)}}, to_hex(data));
    });
  }
  i2c->add_subcommand("scan", "List the 7-bit addresses that acknowledge (0x08..0x77)")
      ->callback([&ctx] {
        json found = json::array();
        std::string text;
        for (int address = 0x08; address <= 0x77; ++address) {
          bool ack = i2c_address(ctx, address, false);
          i2c_condition(ctx, false);
          if (!ack) continue;
          found.push_back(address);
          text += address_text(address) + "\n";
        }
        if (found.empty()) text = "no I2C target answered\n";
        ctx.out.result({{"addresses", found}}, text);
      });

  auto *spi = family(app, "spi", "SPI master: set-up, clock, byte and bit transfers");
  {
    auto *sub = spi->add_subcommand("init", "Initialise the SPI master with a setting byte");
    auto setting = value<int>(0);
    sub->add_option("setting", *setting, "Setting byte (the controller's meaning)")
        ->check(in(kByte));
    sub->callback([&ctx, setting] {
      auto byte = static_cast<uint8_t>(*setting);
      int32_t status = 0;
      SPI_Init(ctx.handle(), &byte, &status);
      ctx.check("initialising SPI", status);
      ctx.out.result({{"setting", *setting}}, "");
    });
  }
  add_clock_command(spi, ctx, kSpiClock, false);
  {
    auto *sub = spi->add_subcommand("transfer", "Send bytes, print the bytes received");
    auto bytes = value<std::vector<std::string>>();
    sub->add_option("bytes", *bytes, "Bytes as hex")->required();
    sub->callback([&ctx, bytes] {
      const std::vector<uint8_t> sent = hex_arguments(*bytes);
      std::vector<uint8_t> received;
      for (uint8_t byte : sent) {
        uint8_t answer = 0;
        int32_t status = 0;
        SPI_Byte(ctx.handle(), byte, &answer, &status);
        ctx.check("SPI transfer", status);
        received.push_back(answer);
      }
      ctx.out.result({{"sent", to_hex(sent)}, {"received", to_hex(received)}}, to_hex(received));
    });
  }
  {
    auto *sub = spi->add_subcommand("bit", "Send one bit, print the bit received");
    auto bit = value<int>();
    sub->add_option("bit", *bit, "0 or 1")->required()->check(in(kBit));
    sub->callback([&ctx, bit] {
      uint8_t answer = 0;
      int32_t status = 0;
      SPI_Bit(ctx.handle(), static_cast<uint8_t>(*bit), &answer, &status);
      ctx.check("SPI bit transfer", status);
      ctx.out.result({{"sent", *bit}, {"received", answer}}, std::to_string(answer));
    });
  }
}

static const RegisterFamily registered{40, add_bus_commands};

}  // namespace kmt::cli
