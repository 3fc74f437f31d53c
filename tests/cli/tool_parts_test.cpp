// The command-line tool's pure parts: axis ticks, the SVG pictures, script line words.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tools/cli/plot.h"
#include "tools/cli/words.h"

namespace kmt::cli {
namespace {

TEST(PlotTicks, StepsOfOneTwoFive) {
  struct Case {
    double lo, hi;
    int wanted;
    std::vector<double> ticks;
  } cases[] = {
      {0, 5, 5, {0, 1, 2, 3, 4, 5}},
      {0, 0.0183, 8, {0, 0.005, 0.01, 0.015}},
      {0, 0.2, 8, {0, 0.05, 0.1, 0.15, 0.2}},
      {-1, 5, 5, {0, 2, 4}},
      {0, 7.5, 5, {0, 2, 4, 6}},
      {1, 1, 5, {}},  // an empty range has no ticks
  };
  for (const auto &c : cases) {
    auto got = ticks(c.lo, c.hi, c.wanted);
    ASSERT_EQ(got.size(), c.ticks.size()) << c.lo << ".." << c.hi;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.ticks[i], 1e-12);
  }
}

std::vector<std::string> polylines(const std::string &svg) {
  std::vector<std::string> points;
  std::regex polyline("<polyline[^>]* points=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), polyline);
       it != std::sregex_iterator(); ++it) {
    points.push_back((*it)[1]);
  }
  return points;
}

TEST(PlotSvg, AnalogTracesOnePolylineEachWithEveryPoint) {
  std::vector<double> t{0, 0.5, 1.0};
  std::string svg = analog_svg("a <b> & c", t, {{"input 1", {0, 2.5, 5}}, {"input 2", {1, 1, 1}}});
  auto lines = polylines(svg);
  ASSERT_EQ(lines.size(), 2u);
  // Left edge at 0 s and 0 V (bottom), right edge at 1 s and 5 V (top) of the plot area.
  EXPECT_EQ(lines[0], "70.00,365.00 425.00,202.50 780.00,40.00");
  EXPECT_NE(svg.find("a &lt;b&gt; &amp; c"), std::string::npos);
  EXPECT_NE(svg.find(">time (s)<"), std::string::npos);
  EXPECT_NE(svg.find(">voltage (V)<"), std::string::npos);
  // A value above 5 V widens the axis instead of leaving the picture.
  auto wide = polylines(analog_svg("", t, {{"x", {0, 10, 0}}}));
  EXPECT_EQ(wide[0], "70.00,365.00 425.00,40.00 780.00,365.00");
}

TEST(PlotSvg, TimingDiagramStepsAtEachChange) {
  std::vector<double> t{0, 0.5, 1.0};
  auto lines = polylines(timing_svg("", t, {0x00, 0x01, 0x01}, 2));
  ASSERT_EQ(lines.size(), 2u);
  // Line 0 (top lane) goes high at 0.5 s: a vertical step at that instant; line 1 (bottom
  // lane) stays low.
  EXPECT_EQ(lines[0], "70.00,170.00 425.00,170.00 425.00,72.50 780.00,72.50");
  EXPECT_EQ(lines[1], "70.00,332.50 425.00,332.50 780.00,332.50");
}

TEST(ScriptWords, SplitLikeAShell) {
  struct Case {
    const char *line;
    std::vector<std::string> words;
    bool error;
  } cases[] = {
      {"dio port-write 0 0x5a", {"dio", "port-write", "0", "0x5a"}, false},
      {"  uart send --text 'hello world'  ", {"uart", "send", "--text", "hello world"}, false},
      {"uart send --text \"say \\\"hi\\\"\"", {"uart", "send", "--text", "say \"hi\""}, false},
      {"a\\ b c", {"a b", "c"}, false},
      {"info # the rest is a comment", {"info"}, false},
      {"a#b", {"a#b"}, false},
      {"''", {""}, false},
      {"# only a comment", {}, false},
      {"uart send --text 'open", {"uart", "send", "--text", "open"}, true},
  };
  for (const auto &c : cases) {
    std::string error;
    EXPECT_EQ(split_words(c.line, &error), c.words) << c.line;
    EXPECT_EQ(!error.empty(), c.error) << c.line;
  }
}

}  // namespace
}  // namespace kmt::cli
