// dio: the twelve digital lines (port 0: lines 0..7, port 1: lines 8..11).
#include <bitset>

#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

const std::map<std::string, int> kModeNames{{"input", 0}, {"output", 1}, {"pullup", 2}};

uint8_t read_port(Context &ctx, int port) {
  uint8_t value = 0;
  int32_t status = 0;
  DIO_ReadPort(ctx.handle(), static_cast<uint8_t>(port), &value, &status);
  ctx.check("reading port " + std::to_string(port), status);
  return value;
}

std::string port_text(int port, uint8_t value) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02x", value);
  // Port 1 has four lines; its upper bits read 0.
  std::string bits = std::bitset<8>(value).to_string();
  if (port == 1) bits = bits.substr(4);
  return "port " + std::to_string(port) + ": " + hex + " = " + bits;
}

void add_mode_option(CLI::App *sub, const std::shared_ptr<int> &mode) {
  sub->add_option("mode", *mode, "input (0), output (1) or pullup (2)")
      ->required()
      ->transform(CLI::CheckedTransformer(kModeNames, CLI::ignore_case));
}

}  // namespace

void add_dio_commands(CLI::App &app, Context &ctx) {
  auto *dio = family(app, "dio", "Digital lines and ports: modes, levels, masks, watching");

  {
    auto *sub = dio->add_subcommand("mode", "Set one line's mode");
    auto line = value<int>(), mode = value<int>();
    sub->add_option("line", *line, "Line 0..11")->required()->check(in(kLine));
    add_mode_option(sub, mode);
    sub->callback([&ctx, line, mode] {
      int32_t status = 0;
      DIO_SetBitMode(ctx.handle(), static_cast<uint8_t>(*line), static_cast<uint8_t>(*mode),
                     &status);
      ctx.check("setting the mode of line " + std::to_string(*line), status);
      ctx.out.result({{"line", *line}, {"mode", *mode}}, "");
    });
  }
  {
    auto *sub = dio->add_subcommand("write", "Set one line's output level");
    auto line = value<int>(), level = value<int>();
    sub->add_option("line", *line, "Line 0..11")->required()->check(in(kLine));
    sub->add_option("level", *level, "0 or 1")->required()->check(in(kBit));
    sub->callback([&ctx, line, level] {
      int32_t status = 0;
      DIO_WriteBit(ctx.handle(), static_cast<uint8_t>(*line), static_cast<uint8_t>(*level),
                   &status);
      ctx.check("writing line " + std::to_string(*line), status);
      ctx.out.result({{"line", *line}, {"level", *level}}, "");
    });
  }
  {
    auto *sub = dio->add_subcommand("read", "Read one line's level (0 or 1)");
    auto line = value<int>();
    sub->add_option("line", *line, "Line 0..11")->required()->check(in(kLine));
    sub->callback([&ctx, line] {
      int port = *line / 8;
      int level = (read_port(ctx, port) >> (*line % 8)) & 1;
      ctx.out.result({{"line", *line}, {"level", level}}, std::to_string(level));
    });
  }
  {
    auto *sub = dio->add_subcommand("port-mode", "Set the mode of every line of a port");
    auto port = value<int>(), mode = value<int>();
    sub->add_option("port", *port, "Port 0 (lines 0..7) or 1 (lines 8..11)")
        ->required()
        ->check(in(kPort));
    add_mode_option(sub, mode);
    sub->callback([&ctx, port, mode] {
      int32_t status = 0;
      DIO_SetPortMode(ctx.handle(), static_cast<uint8_t>(*port), static_cast<uint8_t>(*mode),
                      &status);
      ctx.check("setting the mode of port " + std::to_string(*port), status);
      ctx.out.result({{"port", *port}, {"mode", *mode}}, "");
    });
  }
  {
    auto *sub = dio->add_subcommand("port-write", "Set a port's output levels from a byte");
    auto port = value<int>(), byte = value<int>();
    sub->add_option("port", *port, "Port 0 or 1")->required()->check(in(kPort));
    sub->add_option("value", *byte, "Byte, bit i is the port's line i (0x.. for hex)")
        ->required()
        ->check(in(kByte));
    sub->callback([&ctx, port, byte] {
      int32_t status = 0;
      DIO_WritePort(ctx.handle(), static_cast<uint8_t>(*port), static_cast<uint8_t>(*byte),
                    &status);
      ctx.check("writing port " + std::to_string(*port), status);
      ctx.out.result({{"port", *port}, {"value", *byte}}, "");
    });
  }
  {
    auto *sub = dio->add_subcommand("port-read", "Read a port's levels as a byte");
    auto port = value<int>();
    sub->add_option("port", *port, "Port 0 or 1")->required()->check(in(kPort));
    sub->callback([&ctx, port] {
      uint8_t byte = read_port(ctx, *port);
      ctx.out.result({{"port", *port}, {"value", byte}}, port_text(*port, byte));
    });
  }
  {
    auto *sub = dio->add_subcommand(
        "mask", "Set all twelve output levels at once: a pattern of 0 and 1, line 0 first");
    auto pattern = value<std::string>();
    auto values = value<std::vector<std::string>>();
    sub->add_option("pattern", *pattern, "Twelve characters 0 or 1, line 0 first")->required();
    sub->add_option("--value", *values,
                    "LINE=BYTE: send this byte for the line instead of its pattern level")
        ->type_name("LINE=BYTE");
    sub->callback([&ctx, pattern, values] {
      uint8_t codes[16] = {}, bytes[16] = {};
      if (pattern->size() != 12 || pattern->find_first_not_of("01") != std::string::npos) {
        throw Failure("the pattern needs twelve characters 0 or 1, line 0 first", kExitUsage);
      }
      for (int i = 0; i < 12; ++i) codes[i] = static_cast<uint8_t>((*pattern)[i] - '0');
      json given = json::object();
      for (const auto &item : *values) {
        auto eq = item.find('=');
        int line = -1;
        long byte = -1;
        try {
          if (eq != std::string::npos) {
            line = std::stoi(item.substr(0, eq));
            byte = std::stol(item.substr(eq + 1), nullptr, 0);
          }
        } catch (const std::exception &) {
          line = -1;
        }
        if (line < 0 || line > 11 || byte < 0 || byte > 255) {
          throw Failure("--value wants LINE=BYTE with line 0..11 and byte 0..255: " + item,
                        kExitUsage);
        }
        codes[line] = 2;
        bytes[line] = static_cast<uint8_t>(byte);
        given[std::to_string(line)] = byte;
      }
      int32_t status = 0;
      DIO_WriteMask(ctx.handle(), codes, bytes, &status);
      ctx.check("writing the line mask", status);
      ctx.out.result({{"pattern", *pattern}, {"values", given}}, "");
    });
  }
  {
    auto *sub = dio->add_subcommand("watch", "Read both ports every interval, one line each");
    auto interval = value<int>(500);
    auto count = value<long long>(0);
    add_watch_options(sub, interval, count);
    sub->callback([&ctx, interval, count] {
      watch_loop(ctx, *interval, *count, [&ctx](double seconds) {
        uint8_t p0 = read_port(ctx, 0), p1 = read_port(ctx, 1);
        ctx.out.record({{"time_s", seconds}, {"port0", p0}, {"port1", p1}},
                       fixed(seconds, 3) + " s  " + port_text(0, p0) + "  " + port_text(1, p1));
      });
    });
  }
}

static const RegisterFamily registered{20, add_dio_commands};

}  // namespace kmt::cli
