#include "tools/mqtt/options.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/common/ranges.h"

namespace kmt::mqtt {

const char *const kUsage =
    "Usage: kmtv1-mqtt [OPTIONS]\n"
    "Publishes one controller's inputs to an MQTT broker and, when asked, takes commands.\n"
    "\n"
    "Broker:\n"
    "  --broker URL         mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883);\n"
    "                       default mqtt://localhost\n"
    "  --cafile FILE        certificate authorities for mqtts:// (default: the system's)\n"
    "  --cert FILE, --key FILE  client certificate and its key for mqtts://\n"
    "  --user NAME          user name\n"
    "  --password-file FILE the password, first line of FILE; else the environment\n"
    "                       variable KMTV1_MQTT_PASSWORD, else the systemd credential\n"
    "                       mqtt-password. Never on the command line.\n"
    "  --keepalive SECONDS  5..65535, default 30\n"
    "Controller:\n"
    "  --driver DRIVER      the KMT_DRIVER value for this run (sim: the simulated one)\n"
    "  -s, --serial SERIAL  full serial-number string or its serial part (default: the\n"
    "                       first controller listed)\n"
    "Bridge:\n"
    "  --rate HZ            readings a second, 0.01..50, default 2\n"
    "  --prefix TOPIC       topic prefix, default kmtv1\n"
    "  --discovery PREFIX   Home Assistant discovery prefix, default homeassistant\n"
    "  --no-discovery       publish no discovery configurations\n"
    "  --commands           take commands (read-only without it)\n"
    "  --outputs LINES      lines driven as outputs, e.g. 0,1 or 0-3 (needs --commands)\n"
    "  --counter WINDOW     also count pulses in the controller's window 0..17 each reading\n"
    "  --config FILE        read options from FILE: one per line, `name value` or\n"
    "                       `name = value` (flags: `name` or `name = yes|no`), # comments\n"
    "  -h, --help           this text\n"
    "  --version            the bridge's and the library's version\n"
    "\n"
    "Exit codes: 0 stopped by SIGINT or SIGTERM; 1 broker settings unusable; 2 wrong\n"
    "option; 3 no controller found or it could not be opened; 4 another client took over\n"
    "this bridge's client id (a second bridge for the same controller).\n";

namespace {

enum class Kind { kValue, kFlag };

struct Known {
  const char *name;
  Kind kind;
};

constexpr Known kKnown[] = {
    {"broker", Kind::kValue},    {"cafile", Kind::kValue},      {"cert", Kind::kValue},
    {"key", Kind::kValue},       {"user", Kind::kValue},        {"password-file", Kind::kValue},
    {"password", Kind::kValue},  {"keepalive", Kind::kValue},   {"driver", Kind::kValue},
    {"serial", Kind::kValue},    {"rate", Kind::kValue},        {"prefix", Kind::kValue},
    {"discovery", Kind::kValue}, {"no-discovery", Kind::kFlag}, {"commands", Kind::kFlag},
    {"outputs", Kind::kValue},   {"counter", Kind::kValue},     {"config", Kind::kValue},
    {"help", Kind::kFlag},       {"json", Kind::kFlag},         {"version", Kind::kFlag},
};

const Known *find_known(const std::string &name) {
  for (const auto &k : kKnown) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

// One option as given: its name, its value (flags: "yes" or "no"), where it came from.
struct Setting {
  std::string name, value, origin;
};

const char *const kNoPasswordHere =
    "a password given as an option is visible to other users of this machine; "
    "put it in a file named by --password-file, or in the environment variable "
    "KMTV1_MQTT_PASSWORD";

constexpr std::size_t kMaxConfigBytes = 64 * 1024;
constexpr std::size_t kMaxPasswordBytes = 4096;

std::string trim(const std::string &text) {
  const char *blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A configuration or password file, read whole with a bound: a directory, a device or
// FIFO, or a file longer than any sensible one is refused instead of read without end.
bool read_small_file(const std::string &path, std::size_t limit, const char *what,
                     std::string *text, std::string *error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    *error = std::string("cannot read ") + what + " " + path +
             (std::filesystem::exists(path, ec) ? ": not a regular file" : ": no such file");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::string("cannot read ") + what + " " + path;
    return false;
  }
  text->assign(limit + 1, '\0');
  in.read(text->data(), static_cast<std::streamsize>(limit + 1));
  text->resize(static_cast<std::size_t>(in.gcount()));
  if (text->size() > limit) {
    *error = std::string(what) + " " + path + ": longer than " + std::to_string(limit) + " bytes";
    return false;
  }
  return true;
}

bool read_config(const std::string &path, std::vector<Setting> *out, std::string *error) {
  std::string text;
  if (!read_small_file(path, kMaxConfigBytes, "configuration file", &text, error)) return false;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string origin = path + ":" + std::to_string(number);
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    std::size_t split = line.find_first_of(" \t=");
    std::string name = line.substr(0, split);
    std::string value = split == std::string::npos ? "" : trim(line.substr(split));
    if (!value.empty() && value[0] == '=') value = trim(value.substr(1));
    if (name.rfind("--", 0) == 0) name = name.substr(2);
    const Known *known = find_known(name);
    if (known == nullptr || name == "config" || name == "help" || name == "version" ||
        name == "json") {
      *error = origin + ": unknown option \"" + name + "\"";
      return false;
    }
    if (known->kind == Kind::kFlag) {
      if (value.empty() || value == "yes" || value == "true" || value == "on" || value == "1") {
        value = "yes";
      } else if (value == "no" || value == "false" || value == "off" || value == "0") {
        value = "no";
      } else {
        *error = origin + ": " + name + " takes yes or no, not \"" + value + "\"";
        return false;
      }
    } else if (value.empty()) {
      *error = origin + ": " + name + " needs a value";
      return false;
    }
    out->push_back({name, value, origin});
  }
  return true;
}

// Splits the command line into settings, reading configuration files where named.
bool collect(const std::vector<std::string> &args, std::vector<Setting> *out, std::string *error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i], name, value;
    bool has_value = false;
    if (arg == "-s") {
      name = "serial";
    } else if (arg == "-h") {
      name = "help";
    } else if (arg.rfind("--", 0) == 0) {
      name = arg.substr(2);
      std::size_t equals = name.find('=');
      if (equals != std::string::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
        has_value = true;
      }
    } else {
      *error = "unexpected argument \"" + arg + "\"";
      return false;
    }
    const Known *known = find_known(name);
    if (known == nullptr) {
      *error = "unknown option \"" + arg + "\"";
      return false;
    }
    if (known->kind == Kind::kFlag) {
      if (has_value) {
        *error = "--" + name + " takes no value";
        return false;
      }
      out->push_back({name, "yes", "the command line"});
      continue;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        *error = "--" + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (name == "config") {
      if (!read_config(value, out, error)) return false;
    } else {
      out->push_back({name, value, "the command line"});
    }
  }
  return true;
}

// A whole number written in decimal, within [min, max].
std::optional<long long> whole_number(const std::string &text, long long min, long long max) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

bool parse_broker(const std::string &url, Options *o, std::string *error) {
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    o->tls = false;
    o->port = 1883;
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    o->tls = true;
    o->port = 8883;
    rest = url.substr(8);
  } else {
    *error = "--broker takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"" + url + "\"";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (std::size_t at = rest.rfind('@'); at != std::string::npos) {
    if (rest.substr(0, at).find(':') != std::string::npos) {
      *error = kNoPasswordHere;
      return false;
    }
    o->user = rest.substr(0, at);
    rest = rest.substr(at + 1);
  }
  std::string host = rest;
  if (!rest.empty() && rest[0] == '[') {  // [IPv6]:port
    std::size_t close = rest.find(']');
    if (close == std::string::npos) {
      *error = "--broker: unclosed [ in \"" + url + "\"";
      return false;
    }
    host = rest.substr(1, close - 1);
    rest = rest.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') {
      *error = "--broker: unexpected text after the host in \"" + url + "\"";
      return false;
    }
  } else {
    std::size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    rest = colon == std::string::npos ? "" : rest.substr(colon);
  }
  if (!rest.empty()) {
    auto port = whole_number(rest.substr(1), 1, 65535);
    if (!port) {
      *error = "--broker: the port must be a number from 1 to 65535 in \"" + url + "\"";
      return false;
    }
    o->port = static_cast<int>(*port);
  }
  if (host.empty() || host.find_first_of("/?#") != std::string::npos) {
    *error = "--broker: no host name in \"" + url + "\"";
    return false;
  }
  o->host = host;
  o->broker_url = url;
  return true;
}

// The first line of a file, without its line end.
bool read_password_file(const std::string &path, std::string *password, std::string *error) {
  std::string text;
  if (!read_small_file(path, kMaxPasswordBytes, "the password file", &text, error)) return false;
  std::istringstream in(text);
  std::getline(in, *password);
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return true;
}

bool valid_topic_prefix(const std::string &text) {
  if (text.empty() || text.front() == '/' || text.back() == '/') return false;
  for (unsigned char c : text) {
    if (c == '+' || c == '#' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

double counting_window_s(int selector) {
  // The controller's counting windows in microseconds, by selector.
  static const double kWindowUs[] = {10026,  19960,  29985,   50037,   99982,   200055,
                                     300037, 500000, 1000000, 2000000, 2999356, 106950,
                                     133720, 558930, 745302,  931488,  1862976, 2795022};
  if (selector < 0 || selector > 17) return 0.0;
  return kWindowUs[selector] / 1e6;
}

std::optional<Options> parse_options(const std::vector<std::string> &args, std::string *error) {
  std::vector<Setting> settings;
  if (!collect(args, &settings, error)) return std::nullopt;
  Options o;
  std::string password_file;
  for (const Setting &s : settings) {
    auto fail = [&](const std::string &why) {
      *error = (s.origin == "the command line" ? "" : s.origin + ": ") + why;
      return std::nullopt;
    };
    const std::string &v = s.value;
    bool yes = v == "yes";
    if (s.name == "password") return fail(kNoPasswordHere);
    if (s.name == "broker") {
      std::string why;
      if (!parse_broker(v, &o, &why)) return fail(why);
    } else if (s.name == "cafile") {
      o.cafile = v;
    } else if (s.name == "cert") {
      o.certfile = v;
    } else if (s.name == "key") {
      o.keyfile = v;
    } else if (s.name == "user") {
      o.user = v;
    } else if (s.name == "password-file") {
      password_file = v;
    } else if (s.name == "keepalive") {
      auto n = whole_number(v, 5, 65535);
      if (!n) return fail("--keepalive takes whole seconds from 5 to 65535, not \"" + v + "\"");
      o.keepalive_s = static_cast<int>(*n);
    } else if (s.name == "driver") {
      o.driver = v;
    } else if (s.name == "serial") {
      o.serial = v;
    } else if (s.name == "rate") {
      std::istringstream in(v);
      in.imbue(std::locale::classic());
      double hz = 0;
      if (!(in >> hz) || !in.eof() || !(hz >= 0.01 && hz <= 50)) {
        return fail("--rate takes readings a second from 0.01 to 50, not \"" + v + "\"");
      }
      o.rate_hz = hz;
    } else if (s.name == "prefix") {
      if (!valid_topic_prefix(v)) {
        return fail(
            "--prefix must be a topic without + or #, control characters, or a "
            "leading or trailing /: \"" +
            v + "\"");
      }
      o.prefix = v;
    } else if (s.name == "discovery") {
      if (!valid_topic_prefix(v)) {
        return fail(
            "--discovery must be a topic without + or #, control characters, or a "
            "leading or trailing /: \"" +
            v + "\"");
      }
      o.discovery_prefix = v;
    } else if (s.name == "no-discovery") {
      if (yes) o.discovery_prefix.clear();
    } else if (s.name == "commands") {
      o.commands = yes;
    } else if (s.name == "outputs") {
      std::string why;
      auto lines = tools::parse_number_list(v, tools::kLine, &why);
      if (!lines) return fail("--outputs: " + why);
      o.outputs = *lines;
    } else if (s.name == "counter") {
      auto n = whole_number(v, 0, 1000);
      if (!n) return fail("--counter takes a counting window number, not \"" + v + "\"");
      if (auto problem = tools::check(tools::kCounterWindow, *n))
        return fail("--counter: " + *problem);
      o.counter = static_cast<int>(*n);
    } else if (s.name == "json") {
      // `kmtv1 --json mqtt` passes the tool's global option on: the bridge writes nothing
      // to standard output, so there is nothing to format.
    } else if (s.name == "help") {
      o.help = yes;
    } else if (s.name == "version") {
      o.version = yes;
    }
  }
  if (o.help || o.version) return o;
  if (!o.outputs.empty() && !o.commands) {
    *error = "--outputs names lines to drive on command: it needs --commands";
    return std::nullopt;
  }
  if (o.counter && counting_window_s(*o.counter) >= 1.0 / o.rate_hz) {
    *error = "--counter " + std::to_string(*o.counter) + ": its window (" +
             std::to_string(counting_window_s(*o.counter)) +
             " s) is not shorter than the reading period at --rate";
    return std::nullopt;
  }
  if (!o.tls && (!o.cafile.empty() || !o.certfile.empty() || !o.keyfile.empty())) {
    *error = "--cafile, --cert and --key are for an mqtts:// broker";
    return std::nullopt;
  }
  if (o.certfile.empty() != o.keyfile.empty()) {
    *error = "--cert and --key go together";
    return std::nullopt;
  }
  if (!password_file.empty()) {
    if (!read_password_file(password_file, &o.password, error)) return std::nullopt;
  } else if (const char *env = std::getenv("KMTV1_MQTT_PASSWORD"); env && *env) {
    o.password = env;
  } else if (const char *dir = std::getenv("CREDENTIALS_DIRECTORY"); dir && *dir) {
    // systemd's LoadCredential=mqtt-password:FILE puts it here for this service only.
    std::ifstream in(std::string(dir) + "/mqtt-password");
    if (in) std::getline(in, o.password);
  }
  if (!o.password.empty() && o.user.empty()) {
    *error = "a password was given (file or environment) but no --user";
    return std::nullopt;
  }
  return o;
}

}  // namespace kmt::mqtt
