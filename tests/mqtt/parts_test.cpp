// The MQTT bridge's pure parts: topic-safe names, JSON text, options and configuration
// files. The broker and the controller are covered by bridge_test.py.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tools/mqtt/options.h"
#include "tools/mqtt/topics.h"

namespace kmt::mqtt {
namespace {

TEST(TopicSafe, WildcardsSeparatorsBlanksAndControlBytesNeverReachATopic) {
  struct Case {
    std::string in, topic, id;
  } cases[] = {
      {"KMTC0002SIM00001", "KMTC0002SIM00001", "KMTC0002SIM00001"},
      {"KMTC0002+#/ x", "KMTC0002____x", "KMTC0002____x"},
      {std::string("A\0B", 3) + "\x7f\xc3\xa9", "A_B___", "A_B___"},
      {"v1.2-a_b", "v1.2-a_b", "v1_2-a_b"},
      {"", "_", "_"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(topic_safe(c.in), c.topic) << c.in;
    EXPECT_EQ(id_safe(c.in), c.id) << c.in;
  }
}

TEST(Json, StringsStayValidAndNumbersReadBackExactly) {
  EXPECT_EQ(json_string("a\"b\\c\x01\xff"), "\"a\\\"b\\\\c\\u0001\\u00ff\"");
  EXPECT_EQ(json_number(512.0 / 1023 * 5), "2.5024437927663734");
  EXPECT_EQ(json_number(0.0), "0");
  EXPECT_EQ(json_number(1.0 / 0.0), "null");
}

TEST(Commands, ParsedWithTheToolsRanges) {
  const std::vector<int> outputs = {0, 3};
  struct Case {
    std::string suffix, payload, refusal;  // refusal empty: accepted
  } cases[] = {
      {"line/3", "1", ""},
      {"line/3", " 0\n", ""},
      {"line/1", "1", "line 1 is not an output (--outputs 0,3)"},
      {"line/3", "on", "a line's level is 0 or 1"},
      {"line/x", "1", "not a line number"},
      {"ao/1", "5", ""},
      {"ao/1", "5.0001", "0 to 5 V"},
      {"ao/1", "-0.1", "0 to 5 V"},
      {"ao/1", "inf", "0 to 5 V"},
      {"ao/1", "", "not a number of volts"},
      {"ao/01x", "1", "not an analog output number"},
      {"gen", "27777", ""},
      {"gen", "0.001", "0.01 Hz to 27777 Hz"},
      {"gen/x", "1", "unknown command topic set/gen/x"},
  };
  for (const auto &c : cases) {
    std::string why;
    auto command = parse_command(c.suffix, c.payload, outputs, &why);
    if (c.refusal.empty()) {
      EXPECT_TRUE(command.has_value()) << c.suffix << " " << c.payload << ": " << why;
    } else {
      EXPECT_FALSE(command.has_value()) << c.suffix << " " << c.payload;
      EXPECT_NE(why.find(c.refusal), std::string::npos) << c.suffix << ": " << why;
    }
  }
}

TEST(Options, BrokerAddresses) {
  struct Case {
    std::string url, host;
    int port;
    bool tls;
    std::string user;
  } cases[] = {
      {"mqtt://broker", "broker", 1883, false, ""},
      {"mqtts://broker:9883/", "broker", 9883, true, ""},
      {"mqtt://me@10.0.0.1:1884", "10.0.0.1", 1884, false, "me"},
      {"mqtt://[::1]:1885", "::1", 1885, false, ""},
  };
  for (const auto &c : cases) {
    std::string error;
    auto o = parse_options({"--broker", c.url}, &error);
    ASSERT_TRUE(o.has_value()) << c.url << ": " << error;
    EXPECT_EQ(o->host, c.host);
    EXPECT_EQ(o->port, c.port);
    EXPECT_EQ(o->tls, c.tls);
    EXPECT_EQ(o->user, c.user);
  }
  for (const char *bad : {"http://broker", "mqtt://", "mqtt://broker:0", "mqtt://b:99999"}) {
    std::string error;
    EXPECT_FALSE(parse_options({"--broker", bad}, &error).has_value()) << bad;
    EXPECT_NE(error.find("--broker"), std::string::npos) << error;
  }
}

TEST(Options, ConfigurationFileThenCommandLine) {
  std::string path = ::testing::TempDir() + "mqtt-options.conf";
  {
    std::ofstream f(path);
    f << "# a comment\n"
         "broker = mqtt://from-file:1999\n"
         "rate 5\n"
         "commands\n"
         "outputs = 0-2\n"
         "discovery = ha\n";
  }
  std::string error;
  auto o = parse_options({"--config", path, "--rate", "7"}, &error);
  ASSERT_TRUE(o.has_value()) << error;
  EXPECT_EQ(o->host, "from-file");
  EXPECT_EQ(o->port, 1999);
  EXPECT_EQ(o->rate_hz, 7.0);  // the command line comes later and wins
  EXPECT_TRUE(o->commands);
  EXPECT_EQ(o->outputs, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(o->discovery_prefix, "ha");
  // `commands = no` after the file turns it off again, and outputs then need it.
  std::ofstream(path, std::ios::app) << "commands = no\n";
  EXPECT_FALSE(parse_options({"--config", path}, &error).has_value());
  EXPECT_NE(error.find("needs --commands"), std::string::npos) << error;
  std::remove(path.c_str());
}

TEST(Options, PasswordsComeFromAFileOrTheEnvironmentOnly) {
  std::string path = ::testing::TempDir() + "mqtt-password";
  std::ofstream(path) << "s3cret\r\nignored\n";
  std::string error;
  auto o = parse_options({"--user", "me", "--password-file", path}, &error);
  ASSERT_TRUE(o.has_value()) << error;
  EXPECT_EQ(o->password, "s3cret");
  setenv("KMTV1_MQTT_PASSWORD", "from-env", 1);
  o = parse_options({"--user", "me"}, &error);
  ASSERT_TRUE(o.has_value()) << error;
  EXPECT_EQ(o->password, "from-env");
  EXPECT_FALSE(parse_options({}, &error).has_value());  // a password needs a user
  unsetenv("KMTV1_MQTT_PASSWORD");
  std::string conf = ::testing::TempDir() + "mqtt-password.conf";
  std::ofstream(conf) << "password = s3cret\n";
  for (std::vector<std::string> args : {std::vector<std::string>{"--password", "x"},
                                        {"--password=x"},
                                        {"--broker", "mqtt://me:x@host"},
                                        {"--config", conf}}) {
    EXPECT_FALSE(parse_options(args, &error).has_value());
    EXPECT_NE(error.find("visible to other users"), std::string::npos) << error;
  }
  std::remove(path.c_str());
  std::remove(conf.c_str());
}

TEST(Options, FilesThatAreNotSmallRegularFilesAreRefused) {
  std::string big = ::testing::TempDir() + "mqtt-big.conf";
  std::ofstream(big) << std::string(64 * 1024 + 1, '#');
  const struct {
    std::vector<std::string> args;
    const char *reason;
  } rows[] = {
      {{"--config", ::testing::TempDir()}, "not a regular file"},
      {{"--config", "/dev/zero"}, "not a regular file"},
      {{"--config", big}, "longer than 65536 bytes"},
      {{"--config", "/nonexistent/mqtt.conf"}, "no such file"},
      {{"--user", "me", "--password-file", "/dev/urandom"}, "not a regular file"},
      {{"--user", "me", "--password-file", big}, "longer than 4096 bytes"},
  };
  for (const auto &row : rows) {
    std::string error;
    EXPECT_FALSE(parse_options(row.args, &error).has_value()) << row.args.back();
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
  }
  std::remove(big.c_str());
}

}  // namespace
}  // namespace kmt::mqtt
