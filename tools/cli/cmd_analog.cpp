// ai, ao: the four analog inputs (numbered 1..4) and the two analog outputs (0, 1).
#include "kmtv1.h"
#include "tools/cli/commands.h"

namespace kmt::cli {

namespace {

// One reading: every input (input 0) or one input, with the controller's timer if asked.
struct AnalogReading {
  std::vector<double> volts;
  uint32_t timer = 0;
};

AnalogReading read_inputs(Context &ctx, int input, bool with_timer) {
  AnalogReading r;
  int32_t status = 0;
  if (input == 0) {
    r.volts.assign(4, 0.0);
    if (with_timer) {
      AI_SimpleReadTimer(ctx.handle(), &r.volts[0], &r.volts[1], &r.volts[2], &r.volts[3], &r.timer,
                         &status);
    } else {
      AI_SimpleRead(ctx.handle(), &r.volts[0], &r.volts[1], &r.volts[2], &r.volts[3], &status);
    }
    ctx.check("reading the analog inputs", status);
  } else {
    r.volts.assign(1, 0.0);
    // The controller numbers the inputs from 0 in its channel byte.
    auto channel = static_cast<uint8_t>(input - 1);
    if (with_timer) {
      AI_ReadCh4Timer(ctx.handle(), channel, &r.volts[0], &r.timer, &status);
    } else {
      AI_ReadCh4(ctx.handle(), channel, &r.volts[0], &status);
    }
    ctx.check("reading analog input " + std::to_string(input), status);
  }
  return r;
}

json reading_json(const AnalogReading &r, int input, bool with_timer) {
  json doc = input == 0 ? json{{"volts", r.volts}} : json{{"input", input}, {"volts", r.volts[0]}};
  if (with_timer) doc["timer"] = r.timer;
  return doc;
}

std::string reading_text(const AnalogReading &r, int input, bool with_timer) {
  std::string text;
  for (std::size_t i = 0; i < r.volts.size(); ++i) {
    if (i) text += "  ";
    text += std::to_string(input == 0 ? static_cast<int>(i) + 1 : input) + ": " +
            fixed(r.volts[i], 4) + " V";
  }
  if (with_timer) text += "  timer: " + std::to_string(r.timer);
  return text;
}

void add_input_options(CLI::App *sub, const std::shared_ptr<int> &input,
                       const std::shared_ptr<bool> &timer) {
  sub->add_option("input", *input, "Input 1..4 (default: all four)")->check(in(kAnalogInput));
  sub->add_flag("-t,--timer", *timer, "Also read the controller's timer");
}

}  // namespace

void add_analog_commands(CLI::App &app, Context &ctx) {
  auto *ai = family(app, "ai", "Analog inputs 1..4, in volts");
  {
    auto *sub = ai->add_subcommand("read", "Read all inputs, or one, in volts");
    auto input = value<int>(0);
    auto timer = value<bool>(false);
    add_input_options(sub, input, timer);
    sub->callback([&ctx, input, timer] {
      auto r = read_inputs(ctx, *input, *timer);
      ctx.out.result(reading_json(r, *input, *timer), reading_text(r, *input, *timer));
    });
  }
  {
    auto *sub = ai->add_subcommand("watch", "Read the inputs every interval, one line each");
    auto input = value<int>(0);
    auto timer = value<bool>(false);
    auto interval = value<int>(500);
    auto count = value<long long>(0);
    add_input_options(sub, input, timer);
    add_watch_options(sub, interval, count);
    sub->callback([&ctx, input, timer, interval, count] {
      watch_loop(ctx, *interval, *count, [&](double seconds) {
        auto r = read_inputs(ctx, *input, *timer);
        json doc = reading_json(r, *input, *timer);
        doc["time_s"] = seconds;
        ctx.out.record(doc, fixed(seconds, 3) + " s  " + reading_text(r, *input, *timer));
      });
    });
  }

  auto *ao = family(app, "ao", "Analog outputs 0 and 1, 0..5 V");
  {
    auto *sub = ao->add_subcommand("write", "Set an output's voltage");
    auto output = value<int>();
    auto volts = value<double>();
    sub->add_option("output", *output, "Output 0 or 1")->required()->check(in(kAnalogOutput));
    sub->add_option("volts", *volts, "Volts, 0 to 5")->required();
    sub->callback([&ctx, output, volts] {
      refuse_if(check_output_volts(*volts));
      int32_t status = 0;
      AO_SimpleWrite(ctx.handle(), static_cast<uint8_t>(*output), *volts, &status);
      ctx.check("setting analog output " + std::to_string(*output), status);
      ctx.out.result({{"output", *output}, {"volts", *volts}}, "");
    });
  }
  {
    auto *sub = ao->add_subcommand("divider", "Send the outputs' divider word");
    auto divider = value<int>();
    sub->add_option("value", *divider, "Divider 0..65535")->required()->check(in(kWord));
    sub->callback([&ctx, divider] {
      int32_t status = 0;
      AO_SetDACDivider(ctx.handle(), static_cast<uint16_t>(*divider), &status);
      ctx.check("setting the divider", status);
      ctx.out.result({{"divider", *divider}}, "");
    });
  }
}

static const RegisterFamily registered{30, add_analog_commands};

}  // namespace kmt::cli
