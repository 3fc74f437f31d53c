// gen, count, shift: the signal generator, the pulse counter and the shift-register chain.
#include <cmath>

#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

void add_gen_commands(CLI::App &app, Context &ctx) {
  {
    auto *sub = app.add_subcommand(
        "gen", "Start the signal generator at a frequency (0.01 Hz .. 27.8 kHz)");
    auto hz = value<double>();
    auto duty = value<int>(500);
    sub->add_option("hz", *hz, "Frequency in hertz")->required();
    sub->add_option("-d,--duty", *duty, "High time in per mille, 0..1000")
        ->check(in(kGenDuty))
        ->capture_default_str();
    sub->callback([&ctx, hz, duty] {
      refuse_if(check_generator_hz(*hz));
      GenDividers d = generator_dividers(*hz);
      int32_t status = 0;
      Gen_Generate(ctx.handle(), static_cast<uint16_t>(d.value1), static_cast<uint16_t>(d.value2),
                   static_cast<uint16_t>(*duty), &status);
      ctx.check("starting the generator", status);
      ctx.out.result({{"hz", d.hz}, {"value1", d.value1}, {"value2", d.value2}, {"duty", *duty}},
                     "generating " + fixed(d.hz, 4) + " Hz (1 MHz / " + std::to_string(d.value1) +
                         " / " + std::to_string(d.value2) + ")");
    });
  }
  {
    auto *sub = app.add_subcommand("count", "Count pulses during one of the controller's windows");
    auto selector = value<int>(8);
    sub->add_option("selector", *selector, "Counting window 0..17 (the controller's table)")
        ->check(in(kCounterWindow))
        ->capture_default_str();
    sub->callback([&ctx, selector] {
      uint16_t pulses = 0;
      int32_t status = 0;
      {
        Progress progress("counting");
        CountImp(ctx.handle(), static_cast<uint16_t>(*selector), &pulses, &status);
      }
      ctx.check("counting pulses", status);
      ctx.out.result({{"selector", *selector}, {"count", pulses}}, std::to_string(pulses));
    });
  }

  auto *shift = family(app, "shift", "Shift-register chain: 595 outputs, 165 inputs");
  shift->add_subcommand("init", "Clear the chain's outputs")->callback([&ctx] {
    int32_t status = 0;
    exp1_Init(ctx.handle(), &status);
    ctx.check("initialising the chain", status);
    ctx.out.result(json::object(), "");
  });
  {
    auto *sub = shift->add_subcommand("write", "Shift bytes out to the 595 chain");
    auto bytes = value<std::vector<std::string>>();
    sub->add_option("bytes", *bytes, "Bytes as hex, at most 64")->required();
    sub->callback([&ctx, bytes] {
      auto data = hex_arguments(*bytes);
      refuse_if(check(kTransferBytes, static_cast<long long>(data.size())));
      int32_t status = 0;
      hc595_Write(ctx.handle(), static_cast<uint8_t>(data.size()), data.data(), &status);
      ctx.check("writing the chain", status);
      ctx.out.result({{"written", to_hex(data)}}, "");
    });
  }
  {
    auto *sub = shift->add_subcommand("read", "Read COUNT bytes from the 165 chain");
    auto count = value<int>(1);
    sub->add_option("count", *count, "Bytes, 1..64")->check(in(kTransferBytes));
    sub->callback([&ctx, count] {
      auto n = static_cast<uint8_t>(*count);
      uint8_t data[64] = {};
      int32_t status = 0;
      hc165_Read(ctx.handle(), &n, data, &status);
      ctx.check("reading the chain", status);
      ctx.out.result({{"data", to_hex(data, n)}}, to_hex(data, n));
    });
  }
}

static const RegisterFamily registered{70, add_gen_commands};

}  // namespace kmt::cli
