// raw: one request frame and its response, payloads as hex.
#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

void add_raw_commands(CLI::App &app, Context &ctx) {
  auto *sub = app.add_subcommand(
      "raw", "Send one request frame, print the response payload as hex (nothing when empty)");
  auto group = value<int>(), command = value<int>(), delay = value<int>(0);
  auto payload = value<std::vector<std::string>>();
  sub->add_option("group", *group, "Group byte 0..255 (8: the short request)")
      ->required()
      ->check(in(kByte));
  sub->add_option("command", *command, "Command byte 0..255")->required()->check(in(kByte));
  sub->add_option("payload", *payload, "Request payload as hex, e.g. 01 ff or 01ff");
  sub->add_option("-d,--delay", *delay, "Milliseconds to wait before reading the response")
      ->check(in(kResponseDelay));
  sub->callback([&ctx, group, command, delay, payload] {
    const std::vector<uint8_t> request = hex_arguments(*payload);
    if (request.size() >= KMT_PAYLOAD_SIZE) {
      throw Failure("the payload holds at most " + std::to_string(KMT_PAYLOAD_SIZE - 1) + " bytes",
                    kExitUsage);
    }
    std::vector<uint8_t> buffer(KMT_PAYLOAD_SIZE);
    std::copy(request.begin(), request.end(), buffer.begin());
    auto length = static_cast<uint16_t>(request.size());
    int32_t status = 0;
    KMT_SendComm(ctx.handle(), 0x0010, static_cast<uint8_t>(*group), static_cast<uint8_t>(*command),
                 *delay, buffer.data(), &length, &status);
    ctx.check("exchange " + std::to_string(*group) + "/" + std::to_string(*command), status);
    std::string response = to_hex(buffer.data(), length);
    ctx.out.result(
        {{"group", *group}, {"command", *command}, {"response", response}, {"length", length}},
        response);
  });
}

static const RegisterFamily registered{100, add_raw_commands};

}  // namespace kmt::cli
