#include "tools/cli/output.h"

#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>

#if defined(_WIN32)
#include <io.h>
#define KMT_ISATTY _isatty
#define KMT_FILENO _fileno
#else
#include <unistd.h>
#define KMT_ISATTY isatty
#define KMT_FILENO fileno
#endif

namespace kmt::cli {

void Output::result(json document, const std::string &text) {
  if (json_) {
    document_ = std::move(document);
    has_document_ = true;
    return;
  }
  if (!text.empty()) {
    std::cout << text;
    if (text.back() != '\n') std::cout << '\n';
    std::cout.flush();
  }
}

void Output::record(const json &document, const std::string &text) {
  own_output_ = true;
  if (json_) {
    std::cout << document.dump() << '\n';
  } else {
    std::cout << text << '\n';
  }
  std::cout.flush();
}

void Output::finish() {
  if (json_ && (has_document_ || !own_output_)) {
    std::cout << (has_document_ ? document_ : json::object()).dump(2) << '\n';
    std::cout.flush();
  }
  has_document_ = false;
  own_output_ = false;
  document_ = nullptr;
}

void Output::failure(const std::string &message, int exit_code, int status) {
  std::cout.flush();
  std::cerr << "kmtv1: " << message << '\n';
  std::cerr.flush();
  has_document_ = false;
  own_output_ = false;
  document_ = nullptr;
  if (json_) {
    // status is always there: null says no library call failed (a usage error).
    json error = {{"message", message},
                  {"exit_code", exit_code},
                  {"status", status >= 0 ? json(status) : json(nullptr)}};
    std::cout << json{{"error", error}}.dump(2) << '\n';
    std::cout.flush();
  }
}

void Output::note(const std::string &text) {
  std::cerr << text << '\n';
  std::cerr.flush();
}

bool stderr_is_terminal() {
  return KMT_ISATTY(KMT_FILENO(stderr)) != 0;
}

namespace {
std::mutex progress_mutex;
std::condition_variable progress_wake;
}  // namespace

Progress::Progress(std::string what) : what_(std::move(what)) {
  if (!stderr_is_terminal()) return;
  ticker_ = std::thread([this] {
    using namespace std::chrono;
    auto start = steady_clock::now();
    bool shown = false;
    std::unique_lock<std::mutex> lock(progress_mutex);
    while (!done_) {
      progress_wake.wait_for(lock, milliseconds(200), [this] { return done_.load(); });
      double seconds = duration<double>(steady_clock::now() - start).count();
      if (done_ || seconds < 1.0) continue;
      std::fprintf(stderr, "\r%s ... %.1f s ", what_.c_str(), seconds);
      std::fflush(stderr);
      shown = true;
    }
    if (shown) {
      // Erase the line so the command's own output starts clean.
      std::fprintf(stderr, "\r%*s\r", static_cast<int>(what_.size() + 20), "");
      std::fflush(stderr);
    }
  });
}

Progress::~Progress() {
  if (!ticker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(progress_mutex);
    done_ = true;
  }
  progress_wake.notify_all();
  ticker_.join();
}

}  // namespace kmt::cli
