// What the tool prints: text for people or JSON for scripts, chosen by --json.
//
// Text goes to standard output as the command produces it. In JSON mode a command
// hands over one value and it is printed as one document when the command ends, so
// standard output holds exactly one JSON document per command (a live command such as
// `ai watch` prints one JSON object per line instead). Messages for people go to
// standard error in both modes; a failure in JSON mode also prints a JSON object
// {"error": {...}} on standard output so a script always has something to parse.
#pragma once

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace kmt::cli {

using nlohmann::json;

class Output {
 public:
  void set_json(bool on) { json_ = on; }
  bool json_mode() const { return json_; }

  // The command's result: text printed now (nothing when empty), or the JSON document
  // kept for finish(). A later call replaces the document.
  void result(json document, const std::string &text);
  // One reading of a live command, printed and flushed at once: a text line or a JSON
  // object on one line.
  void record(const json &document, const std::string &text);
  // Ends the command: in JSON mode prints the kept document ({} when the command gave
  // none and printed nothing of its own), then forgets it.
  void finish();
  // A failure: the message on standard error, and in JSON mode the error object on
  // standard output. Forgets any kept document.
  void failure(const std::string &message, int exit_code, int status);
  // The command printed its own output (a session, a live command): finish() adds no
  // document of its own.
  void printed_own_output() { own_output_ = true; }
  // A remark for people on standard error (hints, warnings); never on standard output.
  void note(const std::string &text);

 private:
  bool json_ = false;
  bool has_document_ = false;
  bool own_output_ = false;
  json document_;
};

// True when standard error is a terminal (progress lines are shown only then).
bool stderr_is_terminal();

// A progress line on standard error for a blocking step: appears once the step has
// taken a second, shows the seconds elapsed, and is erased when the object goes away.
// Does nothing when standard error is not a terminal.
class Progress {
 public:
  explicit Progress(std::string what);
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

 private:
  std::string what_;
  std::atomic<bool> done_{false};
  std::thread ticker_;
};

}  // namespace kmt::cli
