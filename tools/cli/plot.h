// SVG pictures of acquisitions: analog traces against time with labelled axes, and a
// timing diagram of digital lines. Plain SVG 1.1, one <polyline> per channel (grid and
// axes are <line> elements), so the files open in any browser and parse as XML.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmt::cli {

struct Trace {
  std::string name;            // legend, e.g. "input 1"
  std::vector<double> values;  // one per time
};

// Volts against seconds. The volt axis spans 0..5 V, widened to hold every value.
std::string analog_svg(const std::string &title, const std::vector<double> &seconds,
                       const std::vector<Trace> &traces);

// Lines 0..line_count-1 of the port bytes as a timing diagram against seconds.
std::string timing_svg(const std::string &title, const std::vector<double> &seconds,
                       const std::vector<uint8_t> &port, int line_count);

// Tick positions for an axis from lo to hi: steps of 1, 2 or 5 times a power of ten,
// about `wanted` of them.
std::vector<double> ticks(double lo, double hi, int wanted);

}  // namespace kmt::cli
