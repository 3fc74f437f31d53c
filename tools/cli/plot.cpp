#include "tools/cli/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kmt::cli {

namespace {

constexpr double kWidth = 800, kHeight = 420;
constexpr double kLeft = 70, kRight = 20, kTop = 40, kBottom = 55;
const char *const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};

std::string num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string label(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
  return text;
}

std::string escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else
      out += c;
  }
  return out;
}

struct Frame {
  double x0, x1, y0, y1;  // data ranges
  double px(double x) const { return kLeft + (x - x0) / (x1 - x0) * (kWidth - kLeft - kRight); }
  double py(double y) const {
    return kHeight - kBottom - (y - y0) / (y1 - y0) * (kHeight - kTop - kBottom);
  }
};

std::string header(const std::string &title) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
         num(kWidth) + "\" height=\"" + num(kHeight) + "\" viewBox=\"0 0 " + num(kWidth) + " " +
         num(kHeight) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n"
         "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
         "<text x=\"" +
         num(kWidth / 2) + "\" y=\"22\" text-anchor=\"middle\" font-size=\"15\">" + escape(title) +
         "</text>\n";
}

// The time axis: ticks, grid, labels and its title.
std::string time_axis(const Frame &f) {
  std::string svg = "<g class=\"time-axis\" stroke=\"#ccc\">\n";
  std::string labels = "<g class=\"time-labels\" text-anchor=\"middle\">\n";
  for (double t : ticks(f.x0, f.x1, 8)) {
    svg += "<line x1=\"" + num(f.px(t)) + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(f.px(t)) +
           "\" y2=\"" + num(kHeight - kBottom) + "\"/>\n";
    labels += "<text x=\"" + num(f.px(t)) + "\" y=\"" + num(kHeight - kBottom + 16) + "\">" +
              label(t) + "</text>\n";
  }
  svg += "</g>\n" + labels + "</g>\n";
  svg += "<text x=\"" + num((kLeft + kWidth - kRight) / 2) + "\" y=\"" + num(kHeight - 12) +
         "\" text-anchor=\"middle\">time (s)</text>\n";
  svg += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(kHeight - kBottom) + "\" x2=\"" +
         num(kWidth - kRight) + "\" y2=\"" + num(kHeight - kBottom) + "\" stroke=\"black\"/>\n";
  return svg;
}

double time_end(const std::vector<double> &seconds) {
  double end = seconds.empty() ? 0.0 : seconds.back();
  return end > 0 ? end : 1e-3;
}

}  // namespace

std::vector<double> ticks(double lo, double hi, int wanted) {
  std::vector<double> out;
  if (!(hi > lo) || wanted < 1) return out;
  double raw = (hi - lo) / wanted;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
  for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1) {
    out.push_back(k * step);
  }
  return out;
}

std::string analog_svg(const std::string &title, const std::vector<double> &seconds,
                       const std::vector<Trace> &traces) {
  double lo = 0.0, hi = 5.0;
  for (const auto &t : traces) {
    for (double v : t.values) {
      if (std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    }
  }
  Frame f{0.0, time_end(seconds), lo, hi};
  std::string svg = header(title);
  svg += "<g class=\"volt-axis\" stroke=\"#ccc\">\n";
  std::string labels = "<g class=\"volt-labels\" text-anchor=\"end\">\n";
  for (double v : ticks(lo, hi, 5)) {
    svg += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(f.py(v)) + "\" x2=\"" +
           num(kWidth - kRight) + "\" y2=\"" + num(f.py(v)) + "\"/>\n";
    labels += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(f.py(v) + 4) + "\">" + label(v) +
              "</text>\n";
  }
  svg += "</g>\n" + labels + "</g>\n";
  svg += "<text transform=\"translate(18 " + num((kTop + kHeight - kBottom) / 2) +
         ") rotate(-90)\" text-anchor=\"middle\">voltage (V)</text>\n";
  svg += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(kLeft) +
         "\" y2=\"" + num(kHeight - kBottom) + "\" stroke=\"black\"/>\n";
  svg += time_axis(f);
  for (std::size_t i = 0; i < traces.size(); ++i) {
    const char *colour = kColours[i % 8];
    svg += "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"" + std::string(colour) +
           "\" points=\"";
    for (std::size_t k = 0; k < traces[i].values.size() && k < seconds.size(); ++k) {
      if (k) svg += ' ';
      svg += num(f.px(seconds[k])) + "," + num(f.py(traces[i].values[k]));
    }
    svg += "\"><title>" + escape(traces[i].name) + "</title></polyline>\n";
    double lx = kLeft + 10 + 110 * static_cast<double>(i);
    svg += "<text x=\"" + num(lx + 24) + "\" y=\"" + num(kTop - 6) + "\" fill=\"" + colour + "\">" +
           escape(traces[i].name) + "</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

std::string timing_svg(const std::string &title, const std::vector<double> &seconds,
                       const std::vector<uint8_t> &port, int line_count) {
  // Each line gets a lane; high sits near the top of its lane, low near the bottom.
  Frame f{0.0, time_end(seconds), 0.0, static_cast<double>(line_count)};
  std::string svg = header(title);
  svg += time_axis(f);
  svg += "<g class=\"line-labels\" text-anchor=\"end\">\n";
  for (int line = 0; line < line_count; ++line) {
    svg += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(f.py(line_count - line - 0.5) + 4) +
           "\">line " + std::to_string(line) + "</text>\n";
  }
  svg += "</g>\n";
  for (int line = 0; line < line_count; ++line) {
    double lane = line_count - line - 1;  // line 0 at the top
    auto y = [&](int level) { return num(f.py(lane + (level ? 0.8 : 0.2))); };
    svg += "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"" +
           std::string(kColours[line % 8]) + "\" points=\"";
    int previous = -1;
    for (std::size_t k = 0; k < port.size() && k < seconds.size(); ++k) {
      int level = (port[k] >> line) & 1;
      if (previous >= 0 && level != previous)
        svg += " " + num(f.px(seconds[k])) + "," + y(previous);
      if (k) svg += ' ';
      svg += num(f.px(seconds[k])) + "," + y(level);
      previous = level;
    }
    svg += "\"><title>line " + std::to_string(line) + "</title></polyline>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace kmt::cli
