// acquire, scan, wave: blocks of samples to look at (CSV and SVG) and waveform output.
#include <cmath>
#include <sstream>

#include "kmtv1.h"
#include "tools/cli/commands.h"
#include "tools/cli/plot.h"

namespace kmt::cli {

namespace {

// Analog samples are converter counts, 1023 counts for 5 V.
double counts_to_volts(uint16_t count) {
  return count / 1023.0 * 5.0;
}

struct AcquireOptions {
  std::string channels = "1-4";
  int samples = 100;
  int delay_us = 0;
  double threshold = 0.0;
  std::string csv, svg;
};

void acquire(Context &ctx, const AcquireOptions &o) {
  std::string error;
  auto inputs = parse_number_list(o.channels, kAnalogInput, &error);
  if (!inputs) throw Failure(error, kExitUsage);
  if (!std::isfinite(o.threshold)) throw Failure("the threshold must be a number", kExitUsage);
  uint8_t enable[4] = {};
  for (int input : *inputs) enable[input - 1] = 1;
  const auto intervals = static_cast<uint16_t>(o.samples - 1);
  std::vector<std::vector<uint16_t>> counts(4, std::vector<uint16_t>(o.samples));
  uint8_t trailer_byte = 0;
  uint32_t trailer_value = 0;
  int32_t channel_count = 0, status = 0;
  double duration = 0.0;
  uint32_t *handle = ctx.handle();
  {
    Progress progress("acquiring " + std::to_string(o.samples) + " samples of " +
                      std::to_string(inputs->size()) + " inputs");
    // Auxiliary values: the controller's defaults (word 1 at its least, 10).
    AI_Read(handle, enable[0], enable[1], enable[2], enable[3], 0, 0,
            static_cast<uint16_t>(o.delay_us), 10, 0, intervals, o.threshold, &trailer_byte,
            &trailer_value, counts[0].data(), counts[1].data(), counts[2].data(), counts[3].data(),
            &channel_count, &duration, &status);
  }
  ctx.check("acquiring", status);

  // The sampling instants are evenly spread over the acquisition's duration.
  std::vector<double> seconds(static_cast<std::size_t>(o.samples));
  for (int i = 0; i < o.samples; ++i) seconds[i] = intervals ? duration * i / intervals : 0.0;
  // The arrays are positional: the k-th array holds the k-th selected input.
  std::vector<Trace> traces;
  for (std::size_t k = 0; k < inputs->size(); ++k) {
    Trace t{"input " + std::to_string((*inputs)[k]), {}};
    for (uint16_t c : counts[k]) t.values.push_back(counts_to_volts(c));
    traces.push_back(std::move(t));
  }

  json files = json::array();
  if (!o.csv.empty()) {
    std::ostringstream csv;
    csv << "time_s";
    for (int input : *inputs) csv << ",input" << input << "_V";
    csv << "\n";
    for (int i = 0; i < o.samples; ++i) {
      csv << fixed(seconds[i], 7);
      for (const auto &t : traces) csv << "," << fixed(t.values[i], 4);
      csv << "\n";
    }
    write_text_file(o.csv, csv.str());
    files.push_back(o.csv);
  }
  if (!o.svg.empty()) {
    write_text_file(o.svg, analog_svg(std::to_string(inputs->size()) + " analog inputs, " +
                                          std::to_string(o.samples) + " samples",
                                      seconds, traces));
    files.push_back(o.svg);
  }

  json doc = {{"inputs", *inputs}, {"samples", o.samples},         {"duration_s", duration},
              {"time_s", seconds}, {"trailer_byte", trailer_byte}, {"trailer_value", trailer_value},
              {"files", files}};
  json volts = json::array();
  std::string text = std::to_string(inputs->size()) + " inputs x " + std::to_string(o.samples) +
                     " samples in " + fixed(duration, 6) + " s\n";
  for (const auto &t : traces) {
    volts.push_back(t.values);
    double lo = *std::min_element(t.values.begin(), t.values.end());
    double hi = *std::max_element(t.values.begin(), t.values.end());
    double sum = 0;
    for (double v : t.values) sum += v;
    text += t.name + ": min " + fixed(lo, 4) + " V  mean " + fixed(sum / t.values.size(), 4) +
            " V  max " + fixed(hi, 4) + " V\n";
  }
  doc["volts"] = volts;
  for (const auto &f : files) text += "wrote " + f.get<std::string>() + "\n";
  ctx.out.result(doc, text);
}

void scan(Context &ctx, int samples, int delay_us, const std::string &csv_path,
          const std::string &svg_path) {
  const auto intervals = static_cast<uint16_t>(samples - 1);
  std::vector<uint8_t> port(static_cast<std::size_t>(samples));
  uint8_t trailer = 0;
  double period = 0.0;
  int32_t status = 0;
  uint32_t *handle = ctx.handle();
  {
    Progress progress("scanning " + std::to_string(samples) + " samples of port 0");
    DIO_ScanPort(handle, 0, 0, static_cast<uint16_t>(delay_us), 10, 0, intervals, &trailer,
                 port.data(), &period, &status);
  }
  ctx.check("scanning port 0", status);
  std::vector<double> seconds(port.size());
  for (std::size_t i = 0; i < port.size(); ++i) seconds[i] = period * static_cast<double>(i);

  json files = json::array();
  if (!csv_path.empty()) {
    std::ostringstream csv;
    csv << "time_s,port";
    for (int line = 0; line < 8; ++line) csv << ",line" << line;
    csv << "\n";
    for (std::size_t i = 0; i < port.size(); ++i) {
      csv << fixed(seconds[i], 7) << "," << static_cast<int>(port[i]);
      for (int line = 0; line < 8; ++line) csv << "," << ((port[i] >> line) & 1);
      csv << "\n";
    }
    write_text_file(csv_path, csv.str());
    files.push_back(csv_path);
  }
  if (!svg_path.empty()) {
    write_text_file(
        svg_path, timing_svg("port 0, " + std::to_string(samples) + " samples", seconds, port, 8));
    files.push_back(svg_path);
  }
  std::string changed;
  uint8_t toggled = 0;
  for (std::size_t i = 1; i < port.size(); ++i) toggled |= port[i] ^ port[i - 1];
  for (int line = 0; line < 8; ++line) {
    if (toggled >> line & 1) changed += (changed.empty() ? "" : ", ") + std::to_string(line);
  }
  std::string text = std::to_string(samples) + " samples of port 0, one every " +
                     fixed(period * 1e6, 3) +
                     " us; lines that changed: " + (changed.empty() ? "none" : changed) + "\n";
  for (const auto &f : files) text += "wrote " + f.get<std::string>() + "\n";
  ctx.out.result({{"samples", samples},
                  {"period_s", period},
                  {"port", port},
                  {"trailer_byte", trailer},
                  {"files", files}},
                 text);
}

// Named waveforms for port 0, `length` bytes each.
std::vector<uint8_t> shape(const std::string &name, int length) {
  std::vector<uint8_t> data(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) {
    uint8_t v = 0;
    if (name == "square") {
      v = i < length / 2 ? 0x00 : 0xFF;
    } else if (name == "ramp") {
      v = static_cast<uint8_t>(i * 256 / length);
    } else if (name == "triangle") {
      int half = std::max(1, length / 2);
      v = static_cast<uint8_t>(std::min(255, (i < half ? i : length - i) * 255 / half));
    } else if (name == "walk") {
      v = static_cast<uint8_t>(1u << (i % 8));
    } else if (name == "count") {
      v = static_cast<uint8_t>(i);
    } else {
      throw Failure("unknown shape " + name + " (square, ramp, triangle, walk, count)", kExitUsage);
    }
    data[static_cast<std::size_t>(i)] = v;
  }
  return data;
}

}  // namespace

void add_acquire_commands(CLI::App &app, Context &ctx) {
  {
    auto *sub = app.add_subcommand(
        "acquire", "Sample analog inputs as a block; summary, or CSV and an SVG picture");
    auto o = value<AcquireOptions>();
    sub->add_option("-c,--channels", o->channels, "Inputs, e.g. 1,2,3,4 or 1-4")
        ->type_name("LIST")
        ->capture_default_str();
    sub->add_option("-n,--samples", o->samples, "Samples per input, 1..2001")
        ->check(in(kBlockSamples))
        ->capture_default_str();
    sub->add_option("--delay", o->delay_us, "Extra microseconds per sampling instant, 0..3000")
        ->check(in(kSampleDelay))
        ->capture_default_str();
    sub->add_option("--threshold", o->threshold,
                    "Threshold level in volts (sent to the controller)");
    sub->add_option("--csv", o->csv, "Write time_s and the volts of each input to FILE")
        ->type_name("FILE");
    sub->add_option("--svg", o->svg, "Draw the inputs against time into FILE")->type_name("FILE");
    sub->callback([&ctx, o] { acquire(ctx, *o); });
  }
  {
    auto *sub = app.add_subcommand(
        "scan", "Sample port 0 (lines 0..7) as a block; summary, or CSV and a timing diagram");
    auto samples = value<int>(100), delay = value<int>(0);
    auto csv = value<std::string>(), svg = value<std::string>();
    sub->add_option("-n,--samples", *samples, "Samples, 1..4001")
        ->check(in(kScanSamples))
        ->capture_default_str();
    sub->add_option("--delay", *delay, "Extra microseconds per sample, 0..3000")
        ->check(in(kSampleDelay))
        ->capture_default_str();
    sub->add_option("--csv", *csv, "Write time_s, the port byte and each line to FILE")
        ->type_name("FILE");
    sub->add_option("--svg", *svg, "Draw the lines' timing diagram into FILE")->type_name("FILE");
    sub->callback([&ctx, samples, delay, csv, svg] { scan(ctx, *samples, *delay, *csv, *svg); });
  }
  {
    auto *sub = app.add_subcommand(
        "wave", "Play bytes on port 0's output lines: hex, --file FILE or --shape NAME");
    auto hex = value<std::vector<std::string>>();
    auto file = value<std::string>(), shape_name = value<std::string>();
    auto length = value<int>(256);
    sub->add_option("bytes", *hex, "Bytes as hex");
    sub->add_option("-f,--file", *file, "Take the bytes from FILE")->type_name("FILE");
    sub->add_option("--shape", *shape_name, "square, ramp, triangle, walk or count");
    sub->add_option("-l,--length", *length, "Bytes of the shape, 1..2000")
        ->check(in(kWaveLength))
        ->capture_default_str();
    sub->callback([&ctx, hex, file, shape_name, length] {
      int sources = !hex->empty() + !file->empty() + !shape_name->empty();
      if (sources != 1) {
        throw Failure("give the waveform one way: hex bytes, --file or --shape", kExitUsage);
      }
      std::vector<uint8_t> data;
      if (!shape_name->empty()) {
        data = shape(*shape_name, *length);
      } else if (!file->empty()) {
        data = read_file_bytes(*file, static_cast<std::size_t>(kWaveLength.max));
      } else {
        data = hex_arguments(*hex);
      }
      refuse_if(check(kWaveLength, static_cast<long long>(data.size())));
      int32_t status = 0;
      DO_WaveOut(ctx.handle(), static_cast<uint16_t>(data.size()), 7, data.data(), &status);
      ctx.check("playing the waveform", status);
      // The playback goes on in the controller after the call returns: say it started.
      ctx.out.result({{"length", data.size()}, {"data", to_hex(data)}},
                     "playing " + std::to_string(data.size()) +
                         " bytes on port 0 (lines in output mode show them)\n");
    });
  }
}

static const RegisterFamily registered{90, add_acquire_commands};

}  // namespace kmt::cli
