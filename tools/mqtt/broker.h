// The broker connection: libmosquitto with a network thread of its own, so that a
// controller call that takes long (a silent controller takes tens of seconds to give up)
// never delays keepalives, commands or reconnection.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "tools/mqtt/options.h"
#include "tools/mqtt/topics.h"

struct mosquitto;
struct mosquitto_message;

namespace kmt::mqtt {

// Writes one line to standard error, whole, whichever thread calls.
void log_line(const std::string &text);

class Broker {
 public:
  struct Events {
    // On the network thread after each accepted connection (subscribe, republish here).
    std::function<void()> connected;
    // On the network thread for each message received; `retained` is true for a
    // message the broker kept from before the subscription.
    std::function<void(const std::string &topic, const std::string &payload, bool retained)>
        message;
  };

  // `will` is published by the broker when the connection dies without a goodbye.
  Broker(const Options &options, std::string client_id, Message will, Events events);
  ~Broker();
  Broker(const Broker &) = delete;
  Broker &operator=(const Broker &) = delete;

  // Applies the settings (TLS files are checked here) and starts the network thread,
  // which connects and reconnects with back-off. False with the reason on a setting
  // that cannot work.
  bool start(std::string *error);
  // Any thread. Dropped while not connected (the next connection republishes).
  void publish(const Message &message);
  void subscribe(const std::string &filter, int qos);
  bool connected() const { return connected_; }
  // Another client connected with this client id and the broker dropped this one (as
  // it said, or as it keeps doing right after accepting it).
  bool taken_over() const { return taken_over_; }
  // Publishes `last` (QoS 1), waits up to 2 s for the broker to take it, says goodbye
  // (so the will is not published) and ends the network thread.
  void stop(const Message &last);

 private:
  void run();
  void schedule_retry(const std::string &why);
  static void on_connect(mosquitto *, void *self, int reason);
  static void on_disconnect(mosquitto *, void *self, int reason);
  static void on_publish(mosquitto *, void *self, int mid);
  static void on_message(mosquitto *, void *self, const mosquitto_message *message);

  const Options &options_;
  std::string client_id_;
  Message will_;
  Events events_;
  mosquitto *mosq_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stopping_{false}, leaving_{false}, connected_{false}, socket_open_{false},
      taken_over_{false};
  std::mutex acked_mutex_;
  std::condition_variable acked_changed_;
  int last_acked_mid_ = -1;
  bool goodbye_done_ = false;
  double retry_delay_s_;  // network thread only
  std::chrono::steady_clock::time_point next_attempt_, connected_at_;
  int quick_drops_ = 0;
};

}  // namespace kmt::mqtt
