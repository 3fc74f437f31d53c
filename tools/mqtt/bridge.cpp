#include "tools/mqtt/bridge.h"

#include <chrono>
#include <vector>

#include "kmtv1.h"
#include "tools/common/ranges.h"
#include "tools/common/words.h"

namespace kmt::mqtt {

namespace {

using Clock = std::chrono::steady_clock;

// How often a controller that stopped answering is tried again.
constexpr auto kRetryInterval = std::chrono::seconds(2);
// Commands waiting for the controller; more are refused rather than kept without bound.
constexpr std::size_t kMostPending = 64;

double unix_now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// A payload quoted for a message: printable, at most 40 characters.
std::string quoted(const std::string &payload) {
  std::string text;
  for (unsigned char c : payload.substr(0, 40)) text += (c < 0x20 || c >= 0x7f) ? '?' : char(c);
  return "\"" + text + (payload.size() > 40 ? "...\"" : "\"");
}

}  // namespace

Bridge::~Bridge() {
  if (handle_open_) KMT_Close(&handle_, 0);
}

bool Bridge::open(std::string *error) {
  int32_t count = 0, status = 0;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  struct Listed {
    std::string type, serial;
  };
  std::vector<Listed> found;
  for (int32_t i = 0; i < count; ++i) {
    char type[KMT_STRING_SIZE] = {}, serial[KMT_STRING_SIZE] = {};
    int32_t ignored = 0;
    KMT_GetTypeAndSNbyIndex(i, type, serial, &ignored);
    found.push_back({type, serial});
  }
  // As the command-line tool chooses: the full string as listed, or the serial part
  // alone when only one controller has it; a string not listed is tried as given.
  std::string wanted = options_.serial, type_code;
  if (wanted.empty()) {
    if (found.empty()) {
      *error = "no controller found (driver status " + std::to_string(status) +
               ")\nhint: --driver sim (or KMT_DRIVER=sim) uses the simulated controller; "
               "`kmtv1 doctor` checks the set-up";
      return false;
    }
    wanted = found.front().type + found.front().serial;
    type_code = found.front().type;
  } else {
    std::vector<const Listed *> matches;
    for (const auto &c : found) {
      if (c.type + c.serial == wanted) {
        matches = {&c};
        break;
      }
      if (c.serial == wanted) matches.push_back(&c);
    }
    if (matches.size() > 1) {
      *error = "serial " + wanted + " is not unique; give the full string:";
      for (const auto *m : matches) *error += " " + m->type + m->serial;
      return false;
    }
    if (matches.size() == 1) {
      wanted = matches.front()->type + matches.front()->serial;
      type_code = matches.front()->type;
    } else {
      type_code = wanted.substr(0, 8);
    }
  }
  identity_.full_serial = wanted;
  identity_.type_code = type_code;
  std::string why;
  if (!open_handle(&why)) {
    *error = "cannot open controller " + wanted + ": " + why;
    return false;
  }
  uint16_t words[4] = {};
  SYS_GetFirmWare(&handle_, &words[0], &words[1], &words[2], &words[3], &status);
  if (status != KMT_STATUS_OK) {
    *error = "controller " + wanted + " does not answer: " + tools::status_words(status);
    return false;
  }
  identity_.firmware = std::to_string(words[0]) + "." + std::to_string(words[1]) + "." +
                       std::to_string(words[2]) + "." + std::to_string(words[3]);
  controller_ok_ = true;
  return true;
}

bool Bridge::open_handle(std::string *why) {
  if (handle_open_) {
    KMT_Close(&handle_, 0);
    handle_open_ = false;
  }
  int32_t status = 0;
  KMT_InitBySN(&handle_, identity_.full_serial.c_str(), &status);
  if (status != KMT_STATUS_OK) {
    *why = "not connected, or in use by another program";
    return false;
  }
  handle_open_ = true;
  // The lines named as outputs drive their latches; a controller found again may have
  // restarted with every line an input, so this is done on every open.
  for (int line : options_.outputs) {
    DIO_SetBitMode(&handle_, static_cast<uint8_t>(line), 1, &status);
    if (status != KMT_STATUS_OK) {
      *why =
          "setting line " + std::to_string(line) + " as an output: " + tools::status_words(status);
      return false;
    }
  }
  return true;
}

bool Bridge::read(Reading *r, std::string *why) {
  int32_t status = 0;
  r->wall_time_s = unix_now();
  AI_SimpleReadTimer(&handle_, &r->volts[0], &r->volts[1], &r->volts[2], &r->volts[3],
                     &r->controller_us, &status);
  if (status != KMT_STATUS_OK) {
    *why = "reading the analog inputs: " + tools::status_words(status);
    return false;
  }
  for (uint8_t port = 0; port < 2; ++port) {
    DIO_ReadPort(&handle_, port, &r->ports[port], &status);
    if (status != KMT_STATUS_OK) {
      *why = "reading digital port " + std::to_string(port) + ": " + tools::status_words(status);
      return false;
    }
  }
  if (options_.counter) {
    uint16_t pulses = 0;
    CountImp(&handle_, static_cast<uint16_t>(*options_.counter), &pulses, &status);
    if (status != KMT_STATUS_OK) {
      *why = "counting pulses: " + tools::status_words(status);
      return false;
    }
    r->pulses = pulses;
  }
  return true;
}

void Bridge::publish_status() {
  std::lock_guard lock(status_mutex_);
  broker_->publish({topics_->status(), controller_ok_ ? "online" : "offline", true, 1});
}

void Bridge::publish_error(const std::string &text) {
  broker_->publish({topics_->error(), text, false, 1});
}

void Bridge::on_connected() {
  if (options_.commands) broker_->subscribe(topics_->commands_filter(), 1);
  for (const Message &m : topics_->discovery(identity_)) broker_->publish(m);
  publish_status();
  republish_ = true;  // every per-value topic again with the next reading
}

void Bridge::on_message(const std::string &topic, const std::string &payload, bool retained) {
  const std::string head = topics_->base() + "/set/";
  if (topic.rfind(head, 0) != 0) return;
  std::string suffix = topic.substr(head.size());
  std::string what = "set/" + suffix + " " + quoted(payload);
  if (retained) {
    // A command kept by the broker would be carried out again on every reconnection.
    publish_error(what + ": retained commands are not carried out; publish without retain");
    return;
  }
  std::string why;
  auto command = parse_command(suffix, payload, options_.outputs, &why);
  if (!command) {
    publish_error(what + ": " + why);
    return;
  }
  {
    std::lock_guard lock(pending_mutex_);
    if (pending_.size() < kMostPending) {
      pending_.push_back({what, *command});
      pending_changed_.notify_all();
      return;
    }
  }
  publish_error(what + ": " + std::to_string(kMostPending) +
                " commands are already waiting for the controller");
}

void Bridge::carry_out(const Pending &p) {
  if (!controller_ok_) {
    publish_error(p.what + ": the controller is not answering; nothing sent");
    return;
  }
  int32_t status = 0;
  if (const auto *line = std::get_if<SetLine>(&p.command)) {
    DIO_WriteBit(&handle_, static_cast<uint8_t>(line->line), static_cast<uint8_t>(line->level),
                 &status);
  } else if (const auto *out = std::get_if<SetAnalogOutput>(&p.command)) {
    AO_SimpleWrite(&handle_, static_cast<uint8_t>(out->output), out->volts, &status);
    if (status == KMT_STATUS_OK) {
      broker_->publish({topics_->analog_output(out->output), json_number(out->volts), true, 1});
    }
  } else if (const auto *gen = std::get_if<SetGenerator>(&p.command)) {
    tools::GenDividers d = tools::generator_dividers(gen->hz);
    Gen_Generate(&handle_, static_cast<uint16_t>(d.value1), static_cast<uint16_t>(d.value2), 500,
                 &status);
    if (status == KMT_STATUS_OK)
      broker_->publish({topics_->generator(), json_number(d.hz), true, 1});
  }
  if (status != KMT_STATUS_OK) publish_error(p.what + ": " + tools::status_words(status));
}

void Bridge::controller_lost(const std::string &why) {
  controller_ok_ = false;
  std::string text = "controller " + identity_.full_serial + " stopped answering: " + why +
                     "; trying again every 2 s";
  log_line(text);
  publish_status();
  publish_error(text);
}

void Bridge::publish_reading(const Reading &r) {
  broker_->publish({topics_->state(), topics_->state_payload(r), false, 0});
  bool all = republish_.exchange(false);
  // Per-value topics are retained, so a new subscriber has every value at once; they
  // are published when they change (and all of them after each connection).
  for (Message &m : topics_->value_messages(r)) {
    auto &last = published_values_[m.topic];
    if (!all && last == m.payload) continue;
    last = m.payload;
    broker_->publish(m);
  }
}

int Bridge::run(const std::atomic<bool> &stop) {
  topics_ = std::make_unique<Topics>(options_, identity_.full_serial);
  Broker::Events events;
  events.connected = [this] { on_connected(); };
  events.message = [this](const std::string &t, const std::string &p, bool r) {
    on_message(t, p, r);
  };
  broker_ = std::make_unique<Broker>(options_, "kmtv1-mqtt-" + topic_safe(identity_.full_serial),
                                     Message{topics_->status(), "offline", true, 1}, events);
  std::string error;
  if (!broker_->start(&error)) {
    log_line(error);
    return kExitFailure;
  }
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / options_.rate_hz));
  auto next_reading = Clock::now();
  auto next_retry = Clock::now();
  while (!stop && !broker_->taken_over()) {
    // Commands are carried out as they come, while no reading is under way.
    std::unique_lock lock(pending_mutex_);
    auto wake = std::min(next_reading, Clock::now() + std::chrono::milliseconds(100));
    pending_changed_.wait_until(lock, wake, [&] { return !pending_.empty(); });
    std::deque<Pending> commands;
    commands.swap(pending_);
    lock.unlock();
    for (const Pending &p : commands) carry_out(p);
    auto now = Clock::now();
    if (now < next_reading) continue;
    next_reading += period;
    if (next_reading < now) next_reading = now + period;  // an overrun skips, never bunches
    if (!broker_->connected()) continue;
    std::string why;
    Reading reading;
    if (!controller_ok_) {
      if (now < next_retry) continue;
      next_retry = now + kRetryInterval;
      if (!open_handle(&why) || !read(&reading, &why)) continue;
      log_line("controller " + identity_.full_serial + " answers again");
      controller_ok_ = true;
      republish_ = true;
      publish_status();
    } else if (!read(&reading, &why)) {
      controller_lost(why);
      next_retry = Clock::now() + kRetryInterval;
      continue;
    }
    publish_reading(reading);
  }
  bool taken_over = broker_->taken_over();
  // A bridge that was replaced leaves the status to its successor.
  if (!taken_over) broker_->stop({topics_->status(), "offline", true, 1});
  broker_.reset();
  return taken_over ? kExitTakenOver : kExitOk;
}

}  // namespace kmt::mqtt
