// mem: the controller's user serial number (16 bytes) and user area (128 bytes).
#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

// Bytes from hex arguments or from a file; exactly `size` of them.
std::vector<uint8_t> memory_bytes(const std::vector<std::string> &hex, const std::string &file,
                                  std::size_t size) {
  if (hex.empty() == file.empty()) {
    throw Failure("give the bytes as hex or with --file, one of the two", kExitUsage);
  }
  std::vector<uint8_t> data = file.empty() ? hex_arguments(hex) : read_file_bytes(file, size);
  if (data.size() != size) {
    throw Failure("exactly " + std::to_string(size) + " bytes needed, " +
                      std::to_string(data.size()) + " given",
                  kExitUsage);
  }
  return data;
}

void add_pair(CLI::App *mem, Context &ctx, const std::string &name, const std::string &what,
              std::size_t size, bool user_serial) {
  {
    auto *sub = mem->add_subcommand(name, "Read the " + what + " (hex, or --out FILE)");
    auto out = value<std::string>();
    sub->add_option("-o,--out", *out, "Write the bytes to FILE (- for standard output)")
        ->type_name("FILE");
    sub->callback([&ctx, out, what, size, user_serial] {
      std::vector<uint8_t> data(size);
      int32_t status = 0;
      if (user_serial) {
        SYS_ReadUserSN(ctx.handle(), data.data(), &status);
      } else {
        SYS_ReadUserArea(ctx.handle(), data.data(), &status);
      }
      ctx.check("reading the " + what, status);
      if (!out->empty()) write_file_bytes(*out, data);
      ctx.out.result({{"data", to_hex(data)}}, out->empty() ? to_hex(data) : "");
    });
  }
  {
    auto *sub =
        mem->add_subcommand(name + "-write", "Write the " + what + " (" + std::to_string(size) +
                                                 " bytes as hex, or --file FILE)");
    auto hex = value<std::vector<std::string>>();
    auto file = value<std::string>();
    sub->add_option("bytes", *hex, "Bytes as hex");
    sub->add_option("-f,--file", *file, "Take the bytes from FILE")->type_name("FILE");
    sub->callback([&ctx, hex, file, what, size, user_serial] {
      auto data = memory_bytes(*hex, *file, size);
      int32_t status = 0;
      if (user_serial) {
        SYS_WriteUserSN(ctx.handle(), data.data(), &status);
      } else {
        SYS_WriteUserArea(ctx.handle(), data.data(), &status);
      }
      ctx.check("writing the " + what, status);
      ctx.out.result({{"written", to_hex(data)}}, "");
    });
  }
}

}  // namespace

void add_mem_commands(CLI::App &app, Context &ctx) {
  auto *mem = family(app, "mem", "User serial number (16 bytes) and user area (128 bytes)");
  add_pair(mem, ctx, "serial", "user serial number", kUserSerialBytes, true);
  add_pair(mem, ctx, "area", "user area", kUserAreaBytes, false);
}

static const RegisterFamily registered{80, add_mem_commands};

}  // namespace kmt::cli
