#include "tools/mqtt/broker.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace kmt::mqtt {

namespace {
std::mutex log_mutex;

// The first reconnection comes soon (a restarted broker is back within a second or two);
// each failure makes the wait half as long again, up to half a minute.
constexpr double kFirstRetryS = 0.25;
constexpr double kLongestRetryS = 30.0;
// Dropped this soon after being accepted, this many times in a row: taken over.
constexpr auto kQuickDrop = std::chrono::seconds(3);
constexpr int kQuickDropsForTakeOver = 3;

std::string connack_words(int reason) {
  return std::string(mosquitto_reason_string(reason)) + " (reason " + std::to_string(reason) + ")";
}
}  // namespace

void log_line(const std::string &text) {
  std::lock_guard lock(log_mutex);
  std::fprintf(stderr, "kmtv1-mqtt: %s\n", text.c_str());
  std::fflush(stderr);
}

Broker::Broker(const Options &options, std::string client_id, Message will, Events events)
    : options_(options),
      client_id_(std::move(client_id)),
      will_(std::move(will)),
      events_(std::move(events)),
      retry_delay_s_(kFirstRetryS) {}

Broker::~Broker() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

bool Broker::start(std::string *error) {
  // Clean start: commands sent while the bridge was away are not carried out later.
  mosq_ = mosquitto_new(client_id_.c_str(), true, this);
  if (mosq_ == nullptr) {
    *error = "cannot create the MQTT client";
    return false;
  }
  // Version 5, for the reason the broker gives when it drops this client (a second
  // client with the same id took over).
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_threaded_set(mosq_, true);
  mosquitto_connect_callback_set(mosq_, on_connect);
  mosquitto_disconnect_callback_set(mosq_, on_disconnect);
  mosquitto_publish_callback_set(mosq_, on_publish);
  mosquitto_message_callback_set(mosq_, on_message);
  int rc = mosquitto_will_set(mosq_, will_.topic.c_str(), static_cast<int>(will_.payload.size()),
                              will_.payload.data(), will_.qos, will_.retain);
  if (rc == MOSQ_ERR_SUCCESS && !options_.user.empty()) {
    rc = mosquitto_username_pw_set(mosq_, options_.user.c_str(),
                                   options_.password.empty() ? nullptr : options_.password.c_str());
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = std::string("MQTT client settings: ") + mosquitto_strerror(rc);
    return false;
  }
  if (options_.tls) {
    for (const std::string *file : {&options_.cafile, &options_.certfile, &options_.keyfile}) {
      if (!file->empty() && !std::ifstream(*file)) {
        *error = "cannot read " + *file;
        return false;
      }
    }
    // Without --cafile, the system's certificate authorities.
    rc = mosquitto_tls_set(mosq_, options_.cafile.empty() ? nullptr : options_.cafile.c_str(),
                           options_.cafile.empty() ? "/etc/ssl/certs" : nullptr,
                           options_.certfile.empty() ? nullptr : options_.certfile.c_str(),
                           options_.keyfile.empty() ? nullptr : options_.keyfile.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      *error = std::string("TLS settings: ") + mosquitto_strerror(rc);
      return false;
    }
  }
  next_attempt_ = std::chrono::steady_clock::now();
  thread_ = std::thread([this] { run(); });
  return true;
}

void Broker::schedule_retry(const std::string &why) {
  log_line(why + "; trying again in " + std::to_string(retry_delay_s_).substr(0, 4) + " s");
  next_attempt_ = std::chrono::steady_clock::now() +
                  std::chrono::microseconds(static_cast<long long>(retry_delay_s_ * 1e6));
  retry_delay_s_ = std::min(retry_delay_s_ * 1.5, kLongestRetryS);
}

void Broker::run() {
  bool first = true;
  while (!stopping_ && !taken_over_) {
    if (!socket_open_) {
      auto now = std::chrono::steady_clock::now();
      if (now < next_attempt_) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            next_attempt_ - now, std::chrono::milliseconds(50)));
        continue;
      }
      int rc = first ? mosquitto_connect(mosq_, options_.host.c_str(), options_.port,
                                         options_.keepalive_s)
                     : mosquitto_reconnect(mosq_);
      if (rc != MOSQ_ERR_SUCCESS) {
        std::string why = rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno))
                                               : std::string(mosquitto_strerror(rc));
        schedule_retry("cannot reach the broker " + options_.broker_url + ": " + why);
        continue;
      }
      first = false;
      socket_open_ = true;
    }
    int rc = mosquitto_loop(mosq_, 100, 1);
    if (rc != MOSQ_ERR_SUCCESS || !socket_open_) {
      bool was_connected = connected_.exchange(false);
      socket_open_ = false;
      if (stopping_ || leaving_ || taken_over_) break;
      // A broker that does not say why (mosquitto 2.0 just closes the connection) and
      // keeps dropping this client as soon as it is accepted: another client with the
      // same id is connecting each time, as two bridges for one controller do.
      bool quick = was_connected && std::chrono::steady_clock::now() - connected_at_ < kQuickDrop;
      quick_drops_ = quick ? quick_drops_ + 1 : 0;
      if (quick_drops_ >= kQuickDropsForTakeOver) {
        log_line("the broker dropped this client " + std::to_string(quick_drops_) +
                 " times right after accepting it: another client uses the id " + client_id_ +
                 " (a second bridge for this controller?). Stopping this one");
        taken_over_ = true;
        break;
      }
      schedule_retry(was_connected ? "lost the broker connection"
                                   : "the broker closed the connection");
    }
  }
  connected_ = false;
}

void Broker::on_connect(mosquitto *, void *self_pointer, int reason) {
  auto *self = static_cast<Broker *>(self_pointer);
  if (reason != 0) {
    // The broker closes the connection after a refusal; run() then backs off.
    log_line("the broker refused the connection: " + connack_words(reason));
    return;
  }
  log_line("connected to " + self->options_.broker_url + " as " + self->client_id_);
  self->retry_delay_s_ = kFirstRetryS;
  self->connected_at_ = std::chrono::steady_clock::now();
  self->connected_ = true;
  if (self->events_.connected) self->events_.connected();
}

void Broker::on_disconnect(mosquitto *, void *self_pointer, int reason) {
  auto *self = static_cast<Broker *>(self_pointer);
  // run() clears connected_ itself, after it has seen that the connection was up.
  self->socket_open_ = false;
  if (reason == MQTT_RC_SESSION_TAKEN_OVER) {
    log_line("another client connected with the id " + self->client_id_ +
             ": a second bridge for this controller? Stopping this one");
    self->taken_over_ = true;
  }
  std::lock_guard lock(self->acked_mutex_);
  self->goodbye_done_ = true;
  self->acked_changed_.notify_all();
}

void Broker::on_publish(mosquitto *, void *self_pointer, int mid) {
  auto *self = static_cast<Broker *>(self_pointer);
  std::lock_guard lock(self->acked_mutex_);
  self->last_acked_mid_ = mid;
  self->acked_changed_.notify_all();
}

void Broker::on_message(mosquitto *, void *self_pointer, const mosquitto_message *message) {
  auto *self = static_cast<Broker *>(self_pointer);
  if (!self->events_.message || message->topic == nullptr) return;
  std::string payload(
      static_cast<const char *>(message->payload),
      message->payload == nullptr ? 0 : static_cast<std::size_t>(message->payloadlen));
  self->events_.message(message->topic, payload, message->retain);
}

void Broker::publish(const Message &message) {
  if (!connected_) return;
  mosquitto_publish(mosq_, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                    message.payload.data(), message.qos, message.retain);
}

void Broker::subscribe(const std::string &filter, int qos) {
  mosquitto_subscribe(mosq_, nullptr, filter.c_str(), qos);
}

void Broker::stop(const Message &last) {
  if (thread_.joinable() && connected_) {
    int mid = -1;
    std::unique_lock lock(acked_mutex_);
    goodbye_done_ = false;
    lock.unlock();
    mosquitto_publish(mosq_, &mid, last.topic.c_str(), static_cast<int>(last.payload.size()),
                      last.payload.data(), 1, last.retain);
    lock.lock();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    acked_changed_.wait_until(lock, deadline,
                              [&] { return last_acked_mid_ == mid || goodbye_done_; });
    lock.unlock();
    leaving_ = true;  // the connection's end that follows is no loss
    mosquitto_disconnect(mosq_);
    lock.lock();
    acked_changed_.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::seconds(1),
                              [&] { return goodbye_done_; });
  }
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace kmt::mqtt
