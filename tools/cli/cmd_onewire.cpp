// onewire: the 1-Wire master: bus reset, ROM search, byte reads and writes.
#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

// CRC-8 of 1-Wire ROM codes: polynomial x^8 + x^5 + x^4 + 1, least significant bit first.
uint8_t rom_crc(const uint8_t *bytes, std::size_t n) {
  uint8_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    uint8_t byte = bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      bool mix = ((crc ^ byte) & 1) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (mix) crc ^= 0x8C;
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

// Common family codes (the ROM code's first byte).
const char *family_name(uint8_t code) {
  switch (code) {
    case 0x01:
      return "serial number";
    case 0x10:
    case 0x22:
    case 0x28:
    case 0x3B:
    case 0x42:
      return "temperature sensor";
    case 0x12:
    case 0x29:
    case 0x3A:
      return "switch";
    case 0x14:
    case 0x23:
    case 0x2D:
    case 0x43:
      return "EEPROM";
    case 0x20:
      return "A/D converter";
    case 0x26:
      return "battery monitor";
    default:
      return "unknown family";
  }
}

}  // namespace

void add_onewire_commands(CLI::App &app, Context &ctx) {
  auto *ow = family(app, "onewire", "1-Wire master: reset, ROM search, reads and writes");
  ow->add_subcommand("reset", "Reset the bus; says whether a device answered")->callback([&ctx] {
    uint8_t presence = 0;
    int32_t status = 0;
    WR1_Init(ctx.handle(), &presence, &status);
    ctx.check("resetting the 1-Wire bus", status);
    ctx.out.result({{"presence", presence != 0}, {"reply", presence}},
                   presence ? "device present" : "no device answered");
  });
  ow->add_subcommand("search", "List every device's ROM code with its family and CRC check")
      ->callback([&ctx] {
        json devices = json::array();
        std::string text;
        // One pass finds one device; 64 passes bound a bus that keeps answering.
        for (int pass = 0; pass < 64; ++pass) {
          uint8_t result = 0, rom[8] = {};
          int32_t status = 0;
          WR1_SearchRom(ctx.handle(), &result, rom, &status);
          ctx.check("searching the 1-Wire bus", status);
          if (result == 0) break;  // nobody answered
          bool crc_ok = rom_crc(rom, 7) == rom[7];
          std::string code = to_hex(rom, 8);
          devices.push_back({{"rom", code},
                             {"family", rom[0]},
                             {"family_name", family_name(rom[0])},
                             {"crc_ok", crc_ok}});
          char family[8];
          std::snprintf(family, sizeof family, "%02x", rom[0]);
          text += code + "  family " + family + " (" + family_name(rom[0]) + ")  CRC " +
                  (crc_ok ? "ok" : "WRONG") + "\n";
          if (result != 1) break;  // 2: that was the last one
        }
        if (devices.empty()) text = "no 1-Wire device found\n";
        ctx.out.result({{"devices", devices}}, text);
      });
  {
    auto *sub = ow->add_subcommand("read", "Read COUNT bytes (default 1)");
    auto count = value<int>(1);
    sub->add_option("count", *count, "Bytes, 1..64")->check(in(kTransferBytes));
    sub->callback([&ctx, count] {
      std::vector<uint8_t> data(static_cast<std::size_t>(*count));
      int32_t status = 0;
      if (*count == 1) {
        WR1_Read(ctx.handle(), &data[0], &status);
      } else {
        WR1_ReadSome(ctx.handle(), static_cast<uint16_t>(*count), data.data(), &status);
      }
      ctx.check("reading the 1-Wire bus", status);
      ctx.out.result({{"data", to_hex(data)}}, to_hex(data));
    });
  }
  {
    auto *sub = ow->add_subcommand("write", "Write bytes; prints the bus's answer to each");
    auto bytes = value<std::vector<std::string>>();
    sub->add_option("bytes", *bytes, "Bytes as hex, at most 64")->required();
    sub->callback([&ctx, bytes] {
      auto data = hex_arguments(*bytes);
      refuse_if(check(kTransferBytes, static_cast<long long>(data.size())));
      std::vector<uint8_t> sent = data;
      int32_t status = 0;
      if (data.size() == 1) {
        WR1_Write(ctx.handle(), sent[0], &data[0], &status);
      } else {
        WR1_WriteSome(ctx.handle(), static_cast<uint16_t>(data.size()), data.data(), &status);
      }
      ctx.check("writing the 1-Wire bus", status);
      ctx.out.result({{"sent", to_hex(sent)}, {"answer", to_hex(data)}}, to_hex(data));
    });
  }
}

static const RegisterFamily registered{60, add_onewire_commands};

}  // namespace kmt::cli
