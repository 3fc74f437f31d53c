// The panel's HTTP side: the page, its script and a small JSON interface, each request
// checked for the access token and for a Host header naming this machine (so that a web
// page elsewhere can neither read nor drive the controller, not even by DNS rebinding).
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <regex>
#include <thread>

#include "controller.h"
#include "guarded_server.h"
#include "kmtv1.h"
#include "panel.h"
#include "panel_assets.h"
#include "tools/common/ranges.h"

namespace panel {

namespace {

using nlohmann::json;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool is_wildcard(const std::string &bind) {
  return bind == "0.0.0.0" || bind == "::" || bind == "[::]" || bind.empty();
}

// The address as it appears in a URL or Host header: IPv6 literals in brackets.
std::string url_host(const std::string &address) {
  if (address.find(':') != std::string::npos && address.front() != '[') {
    return "[" + address + "]";
  }
  return address;
}

std::string random_token() {
  std::random_device source;
  std::uniform_int_distribution<int> nibble(0, 15);
  std::string token;
  for (int i = 0; i < 32; ++i) token += "0123456789abcdef"[nibble(source)];
  return token;
}

void send_json(httplib::Response &res, int status, const json &body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

void send_error(httplib::Response &res, int status, const std::string &message) {
  send_json(res, status, json{{"error", message}});
}

// Reads one whole number of a request body within the range the command line accepts
// for it; the reason in words when it is absent, not a whole number or out of range.
std::optional<int> whole(const json &body, const char *key, const kmt::tools::Range &range,
                         std::string &why) {
  auto it = body.find(key);
  if (it == body.end() || !(it->is_number_integer() || it->is_number_unsigned())) {
    why = std::string(key) + " must be a whole number";
    return std::nullopt;
  }
  // Numbers beyond the signed range are out of every range; keep them so.
  long long value = it->is_number_unsigned() ? static_cast<long long>(std::min<unsigned long long>(
                                                   it->get<unsigned long long>(), LLONG_MAX))
                                             : it->get<long long>();
  if (auto problem = kmt::tools::check(range, value)) {
    why = *problem;
    return std::nullopt;
  }
  return static_cast<int>(value);
}

// The page asks for intervals (samples less one); the tool's ranges count samples.
constexpr kmt::tools::Range intervals_of(const kmt::tools::Range &samples) {
  return {samples.min - 1, samples.max - 1, "interval count"};
}
constexpr kmt::tools::Range kBlockIntervals = intervals_of(kmt::tools::kBlockSamples);
constexpr kmt::tools::Range kScanIntervals = intervals_of(kmt::tools::kScanSamples);

json live_json(Controller &controller) {
  json body;
  body["modes"] = json::array();
  for (int mode : controller.modes()) {
    body["modes"].push_back(mode < 0 ? json(nullptr) : json(mode));
  }
  body["outputs"] = json::array();
  for (auto volts : controller.outputs()) {
    body["outputs"].push_back(volts ? json(*volts) : json(nullptr));
  }
  return body;
}

class Routes {
 public:
  Routes(Controller &controller, std::string token, std::string bind, int port)
      : c_(controller), token_(std::move(token)), bind_(std::move(bind)), port_(port) {}

  void install(GuardedServer &server) {
    body_limit_ = server.limits().body_bytes;
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "DENY"}});
    server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
      if (guard(req, res)) return httplib::Server::HandlerResponse::Unhandled;
      // A refused request's body is never read: the connection cannot carry another one.
      GuardedServer::close_after_response();
      return httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/", [this](const httplib::Request &, httplib::Response &res) { page(res); });
    for (const auto &asset : panel_assets::all) {
      if (asset.name == "index.html") continue;
      server.Get("/" + std::string(asset.name), [&asset](const httplib::Request &,
                                                         httplib::Response &res) {
        res.set_content(asset.bytes.data(), asset.bytes.size(), std::string(asset.type).c_str());
      });
    }
    server.Get("/api/info", [this](const auto &, auto &res) { info(res); });
    server.Get("/api/live", [this](const auto &, auto &res) { live(res); });
    post(server, "/api/line", &Routes::line);
    post(server, "/api/line-mode", &Routes::line_mode);
    post(server, "/api/analog-out", &Routes::analog_out);
    post(server, "/api/acquire", &Routes::acquire);
    post(server, "/api/scan", &Routes::scan);
  }

 private:
  using Action = void (Routes::*)(const json &, httplib::Response &);

  // Registers a write: POST with a JSON object body; any other method is refused. The
  // body is read here, piece by piece, so that one over the limit is refused as soon as
  // it is (whatever its framing: cpp-httplib checks Content-Length only).
  void post(httplib::Server &server, const std::string &path, Action action) {
    server.Post(path, [this, action](const httplib::Request &, httplib::Response &res,
                                     const httplib::ContentReader &read_body) {
      std::string text;
      bool too_large = false;
      bool complete = read_body([&](const char *data, std::size_t size) {
        too_large = text.size() + size > body_limit_;
        if (!too_large) text.append(data, size);
        return !too_large;
      });
      if (too_large || res.status == 413) {
        GuardedServer::close_after_response();
        return send_error(res, 413,
                          "the request body exceeds " + std::to_string(body_limit_) + " bytes");
      }
      if (!complete) {
        GuardedServer::close_after_response();
        return send_error(res, 400, "the request body could not be read");
      }
      json body = json::parse(text, nullptr, false);
      if (!body.is_object()) return send_error(res, 400, "the request body must be a JSON object");
      (this->*action)(body, res);
    });
    auto refuse = [](const httplib::Request &, httplib::Response &res) {
      res.set_header("Allow", "POST");
      send_error(res, 405, "this request changes the controller: POST only");
    };
    server.Get(path, refuse);
    server.Put(path, refuse);
    server.Delete(path, refuse);
  }

  bool guard(const httplib::Request &req, httplib::Response &res) {
    if (!host_allowed(req.get_header_value("Host"), bind_, port_)) {
      send_error(res, 403, "forbidden: this host name is not served");
      return false;
    }
    std::string given = req.has_header("X-Panel-Token") ? req.get_header_value("X-Panel-Token")
                                                        : req.get_param_value("token");
    if (!token_matches(given, token_)) {
      send_error(res, 403,
                 "forbidden: open the panel with the URL it printed (token missing "
                 "or wrong)");
      return false;
    }
    // cpp-httplib hands a form upload's parts to a receiver these handlers do not give.
    if (req.is_multipart_form_data()) {
      send_error(res, 415, "the request body must be JSON");
      return false;
    }
    // Refused before a byte of it is read (cpp-httplib would read and drop it first).
    if (req.has_header("Content-Length") &&
        std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > body_limit_) {
      send_error(res, 413, "the request body exceeds " + std::to_string(body_limit_) + " bytes");
      return false;
    }
    return true;
  }

  void page(httplib::Response &res) {
    for (const auto &asset : panel_assets::all) {
      if (asset.name != "index.html") continue;
      std::string html(asset.bytes);
      // The page names its script and style with the token, as every request must.
      for (std::size_t at; (at = html.find("{{TOKEN}}")) != std::string::npos;) {
        html.replace(at, 9, token_);
      }
      res.set_header("Content-Security-Policy",
                     "default-src 'none'; script-src 'self'; style-src 'self'; "
                     "connect-src 'self'; img-src 'self' data:; base-uri 'none'; "
                     "form-action 'none'; frame-ancestors 'none'");
      res.set_content(html, std::string(asset.type).c_str());
    }
  }

  void info(httplib::Response &res) {
    json body{{"controller", c_.listed_name()}};
    int32_t major = 0, minor = 0, build = 0;
    KMT_GetDriverVersion(&major, &minor, &build);
    body["library"] =
        std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
    body["limits"] = {{"output_min", kmt::tools::kOutputMinVolts},
                      {"output_max", kmt::tools::kOutputMaxVolts},
                      {"max_sample_delay", kmt::tools::kSampleDelay.max},
                      {"max_acquire_count", kBlockIntervals.max},
                      {"max_scan_count", kScanIntervals.max}};
    uint16_t words[4] = {};
    if (auto r = c_.firmware(words); r.ok()) {
      body["firmware"] = {words[0], words[1], words[2], words[3]};
    } else {
      body["firmware_error"] = r.error;
    }
    send_json(res, 200, body);
  }

  void live(httplib::Response &res) {
    Live live;
    auto r = c_.read_live(live);
    json body = live_json(c_);
    if (!r.ok()) {
      body["error"] = r.error;
      return send_json(res, r.http_status, body);
    }
    body["inputs"] = live.inputs;
    body["ports"] = live.ports;
    json levels = json::array();
    for (int line = 0; line < kLines; ++line) {
      uint8_t port = line < 8 ? live.ports[0] : live.ports[1];
      levels.push_back((port >> (line % 8)) & 1);
    }
    body["levels"] = levels;
    send_json(res, 200, body);
  }

  void line(const json &body, httplib::Response &res) {
    std::string why;
    auto line = whole(body, "line", kmt::tools::kLine, why);
    auto level = line ? whole(body, "level", kmt::tools::kBit, why) : std::nullopt;
    if (!level) return send_error(res, 400, why);
    reply(res, c_.write_line(*line, *level));
  }

  void line_mode(const json &body, httplib::Response &res) {
    std::string why;
    auto line = whole(body, "line", kmt::tools::kLine, why);
    auto mode = line ? whole(body, "mode", kmt::tools::kLineMode, why) : std::nullopt;
    if (!mode) return send_error(res, 400, why);
    reply(res, c_.set_line_mode(*line, *mode));
  }

  void analog_out(const json &body, httplib::Response &res) {
    std::string why;
    auto output = whole(body, "output", kmt::tools::kAnalogOutput, why);
    if (!output) return send_error(res, 400, why);
    auto volts = body.find("volts");
    if (volts == body.end() || !volts->is_number()) {
      return send_error(res, 400, "volts must be a number");
    }
    if (auto problem = kmt::tools::check_output_volts(volts->get<double>())) {
      return send_error(res, 400, *problem);
    }
    reply(res, c_.write_output(*output, volts->get<double>()));
  }

  void acquire(const json &body, httplib::Response &res) {
    auto inputs = body.find("inputs");
    bool enabled[4] = {};
    bool any = false;
    if (inputs == body.end() || !inputs->is_array() || inputs->size() != 4) {
      return send_error(res, 400, "inputs must be four true/false values");
    }
    for (int i = 0; i < 4; ++i) {
      if (!(*inputs)[i].is_boolean()) {
        return send_error(res, 400, "inputs must be four true/false values");
      }
      enabled[i] = (*inputs)[i].get<bool>();
      any = any || enabled[i];
    }
    if (!any) return send_error(res, 400, "choose at least one input");
    std::string why;
    auto delay = whole(body, "sample_delay", kmt::tools::kSampleDelay, why);
    auto count = delay ? whole(body, "sample_count", kBlockIntervals, why) : std::nullopt;
    if (!count) return send_error(res, 400, why);
    Acquisition a;
    if (auto r = c_.acquire(enabled, *delay, *count, a); !r.ok()) return reply(res, r);
    send_json(res, 200,
              json{{"inputs", a.inputs},
                   {"volts", a.volts},
                   {"interval_s", a.interval_s},
                   {"duration_s", a.duration_s},
                   {"trailer_byte", a.trailer_byte},
                   {"trailer_value", a.trailer_value}});
  }

  void scan(const json &body, httplib::Response &res) {
    std::string why;
    auto delay = whole(body, "sample_delay", kmt::tools::kSampleDelay, why);
    auto count = delay ? whole(body, "sample_count", kScanIntervals, why) : std::nullopt;
    if (!count) return send_error(res, 400, why);
    Scan s;
    if (auto r = c_.scan(*delay, *count, s); !r.ok()) return reply(res, r);
    send_json(res, 200,
              json{{"port", s.port}, {"period_s", s.period_s}, {"last_byte", s.last_byte}});
  }

  void reply(httplib::Response &res, const Outcome &r) {
    if (!r.ok()) return send_error(res, r.http_status, r.error);
    send_json(res, 200, live_json(c_));
  }

  Controller &c_;
  std::string token_, bind_;
  int port_;
  std::size_t body_limit_ = 0;
};

}  // namespace

bool host_allowed(const std::string &host_header, const std::string &bind, int port) {
  std::string host = lower(host_header);
  std::string suffix = ":" + std::to_string(port);
  if (host.size() <= suffix.size() ||
      host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  std::string name = host.substr(0, host.size() - suffix.size());
  if (name == "127.0.0.1" || name == "localhost" || name == "[::1]") return true;
  if (!is_wildcard(bind)) return name == lower(url_host(bind));
  // Listening on every address: any address literal is this machine's; a name could be
  // anybody's (DNS rebinding), so none but localhost is accepted.
  static const std::regex ipv4(R"((\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3}))");
  static const std::regex ipv6(R"(\[[0-9a-f:.]+\])");
  return std::regex_match(name, ipv4) || std::regex_match(name, ipv6);
}

bool token_matches(const std::string &given, const std::string &expected) {
  if (given.size() != expected.size() || expected.empty()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < given.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
  }
  return difference == 0;
}

void serve(const PanelOptions &options) {
  Controller controller(options.serial);
  if (auto r = controller.open(); !r.ok()) throw PanelError(r.error);
  // The server's threads inherit a mask with the stop signals blocked, so that this
  // thread alone takes them (sigwait) and stops the server outside any signal handler.
  sigset_t stop_signals, previous;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
  struct RestoreMask {
    sigset_t mask;
    ~RestoreMask() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{previous};

  GuardedServer server;
  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.bind);
  } else if (!server.bind_to_port(options.bind, port)) {
    port = -1;
  }
  if (port <= 0) {
    throw PanelError("cannot listen on " + options.bind + " port " + std::to_string(options.port));
  }
  server.widen_backlog();
  std::string token = options.token.empty() ? random_token() : options.token;
  Routes routes(controller, token, options.bind, port);
  routes.install(server);

  std::string shown = is_wildcard(options.bind) ? "127.0.0.1" : url_host(options.bind);
  std::string url = "http://" + shown + ":" + std::to_string(port) + "/?token=" + token;
  if (options.on_ready) {
    options.on_ready(url, controller.listed_name());
  } else {
    std::printf("Panel of controller %s: open %s\nStop with Ctrl+C.\n",
                controller.listed_name().c_str(), url.c_str());
    std::fflush(stdout);
  }

  std::atomic<bool> stopping{false};
  std::thread serving([&server, &stopping] {
    server.listen_after_bind();
    // The server ended on its own (not by stop()): wake the waiting thread.
    if (!stopping) kill(getpid(), SIGTERM);
  });
  int received = 0;
  sigwait(&stop_signals, &received);
  stopping = true;
  server.stop();
  serving.join();
  // A second Ctrl+C during the shutdown is answered by this one: take it off, so that
  // restoring the signal mask does not end the process with it.
  timespec no_wait{0, 0};
  while (sigtimedwait(&stop_signals, nullptr, &no_wait) > 0) {
  }
}

int run_panel(const PanelOptions &options) {
  try {
    serve(options);
    return 0;
  } catch (const PanelError &e) {
    std::fprintf(stderr, "kmtv1 panel: %s\n", e.what());
    return 1;
  }
}

}  // namespace panel
