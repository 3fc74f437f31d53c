// The polling loop: opens the controller through the exported functions, reads it at
// the rate asked for, publishes, and carries out commands between two readings.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tools/mqtt/broker.h"
#include "tools/mqtt/options.h"
#include "tools/mqtt/topics.h"

namespace kmt::mqtt {

class Bridge {
 public:
  explicit Bridge(const Options &options) : options_(options) {}
  ~Bridge();

  // Finds and opens the controller. False with the reason when none can be opened.
  bool open(std::string *error);
  // Connects to the broker and runs until `stop` becomes true (or another bridge takes
  // over the client id). Returns the exit code.
  int run(const std::atomic<bool> &stop);

 private:
  struct Pending {
    std::string what;  // "set/ao/0 \"2.5\"", for messages
    Command command;
  };

  bool open_handle(std::string *why);
  bool read(Reading *reading, std::string *why);
  void carry_out(const Pending &pending);
  void on_connected();
  void on_message(const std::string &topic, const std::string &payload, bool retained);
  void publish_status();
  void publish_error(const std::string &text);
  void controller_lost(const std::string &why);
  void publish_reading(const Reading &reading);

  const Options &options_;
  Identity identity_;
  uint32_t handle_ = 0;
  bool handle_open_ = false;
  std::unique_ptr<Topics> topics_;
  std::unique_ptr<Broker> broker_;

  std::atomic<bool> controller_ok_{false};
  std::atomic<bool> republish_{false};
  std::mutex status_mutex_;  // one status publication at a time, always the latest state

  std::mutex pending_mutex_;
  std::condition_variable pending_changed_;
  std::deque<Pending> pending_;

  std::map<std::string, std::string> published_values_;  // polling thread only
};

}  // namespace kmt::mqtt
