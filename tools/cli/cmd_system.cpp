// list, info, watchdog: finding controllers and what they say about themselves.
#include <sstream>

#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

std::string library_version() {
  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

void list_command(Context &ctx) {
  int32_t status = 0;
  auto found = ctx.list_controllers(&status);
  if (found.empty()) {
    std::string message = "no controller found (driver: " + ctx.driver_description();
    if (status != 0) message += "; " + driver_status_words(static_cast<uint32_t>(status));
    message +=
        ")\nhint: --driver sim (or KMT_DRIVER=sim) uses the simulated controller; "
        "`kmtv1 doctor` checks the set-up";
    throw Failure(message, kExitNotFound, status);
  }
  json list = json::array();
  std::string text;
  for (const auto &c : found) {
    list.push_back({{"serial", c.full()}, {"type", c.type}, {"number", c.serial}});
    text += c.full() + "\n";
  }
  ctx.out.result(list, text);
}

void info_command(Context &ctx) {
  uint32_t *handle = ctx.handle();
  int32_t status = 0;
  uint16_t fw[4] = {};
  SYS_GetFirmWare(handle, &fw[0], &fw[1], &fw[2], &fw[3], &status);
  ctx.check("reading the firmware words", status);
  uint8_t user_sn[kUserSerialBytes] = {};
  SYS_ReadUserSN(handle, user_sn, &status);
  ctx.check("reading the user serial number", status);
  uint32_t counter = 0;
  SYS_ReadCount(handle, &counter, &status);
  ctx.check("reading the counter", status);
  uint16_t driver_type = 0;
  SYS_GetDriverType(&driver_type);

  json doc = {
      {"serial", ctx.open_serial()},
      {"library_version", library_version()},
      {"driver_type", driver_type},
      {"driver", ctx.driver_from_environment().empty() ? "d2xx" : ctx.driver_from_environment()},
      {"firmware", {fw[0], fw[1], fw[2], fw[3]}},
      {"user_serial", to_hex(user_sn, sizeof user_sn)},
      {"counter", counter}};
  std::ostringstream text;
  text << "controller    " << ctx.open_serial() << "\n"
       << "library       " << library_version() << " (driver type " << driver_type << ")\n"
       << "driver        " << ctx.driver_description() << "\n"
       << "firmware      " << fw[0] << " " << fw[1] << " " << fw[2] << " " << fw[3] << "\n"
       << "user serial   " << to_hex(user_sn, sizeof user_sn) << "\n"
       << "counter       " << counter << " ms\n";
  ctx.out.result(doc, text.str());
}

}  // namespace

void add_system_commands(CLI::App &app, Context &ctx) {
  app.add_subcommand("list", "List the controllers found (full serial-number strings)")
      ->callback([&ctx] { list_command(ctx); });
  app.add_subcommand("info", "Library version, driver, firmware words, user serial number, counter")
      ->callback([&ctx] { info_command(ctx); });

  auto *watchdog = app.add_subcommand("watchdog", "Send the watchdog byte");
  auto byte = value<int>();
  watchdog->add_option("value", *byte, "Watchdog value, 0..255")->required()->check(in(kByte));
  watchdog->callback([&ctx, byte] {
    int32_t status = 0;
    WatchDog(ctx.handle(), static_cast<uint8_t>(*byte), &status);
    ctx.check("setting the watchdog", status);
    ctx.out.result({{"watchdog", *byte}}, "");
  });
}

static const RegisterFamily registered{10, add_system_commands};

}  // namespace kmt::cli
