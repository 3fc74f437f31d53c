#include "tools/cli/context.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "kmtv1.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kmt::cli {

const char *const kExitCodesHelp =
    "Exit codes:\n"
    "  0    success\n"
    "  1    a file could not be read or written, or a bus target did not answer\n"
    "  2    wrong command line (unknown command, argument out of range)\n"
    "  3    no controller found, or it could not be opened\n"
    "  11   status 1: controller not open, or the driver refused the request\n"
    "  12   status 2: no response from the controller (or a corrupt or refused one)\n"
    "  13   status 3: unknown device type name\n"
    "  14   status 4: argument out of the controller's range, nothing sent\n";

void refuse_if(const std::optional<std::string> &problem) {
  if (problem) throw Failure(*problem, kExitUsage);
}

std::string driver_form_problem(const std::string &driver) {
  auto starts_with = [&driver](const char *prefix) { return driver.rfind(prefix, 0) == 0; };
  const bool drive_letter_path = driver.size() > 2 &&
                                 std::isalpha(static_cast<unsigned char>(driver[0])) != 0 &&
                                 driver[1] == ':' && (driver[2] == '\\' || driver[2] == '/');
  if (driver.empty() || driver == "d2xx" || driver == "tty" || driver == "sim" ||
      starts_with("tty:") || starts_with("sim:") || starts_with("/") || drive_letter_path) {
    return "";
  }
  if (starts_with("replay:") && driver.size() > 7) return "";
  if (starts_with("trace:")) {
    // trace:FILE:INNER, FILE possibly a Windows path with its drive letter's colon.
    const std::string rest = driver.substr(6);
    const bool drive = rest.size() > 2 && rest[1] == ':' && (rest[2] == '\\' || rest[2] == '/');
    const auto colon = rest.find(':', drive ? 2 : 0);
    if (colon == 0 || rest.empty()) return "trace: needs a file name (trace:FILE:INNER)";
    return colon == std::string::npos ? "" : driver_form_problem(rest.substr(colon + 1));
  }
  return "unknown driver \"" + driver +
         "\": expected d2xx, tty, tty:PATH=SERIAL, sim, sim:OPTIONS, trace:FILE:INNER, "
         "replay:FILE or an absolute path";
}

std::string Context::driver_from_environment() const {
  const char *env = std::getenv("KMT_DRIVER");
  return env ? env : "";
}

std::string Context::driver_description() const {
  std::string driver_text = driver_from_environment();
  if (driver_text == "d2xx") return "d2xx (the FTDI D2XX driver)";
#if defined(__linux__)
  if (driver_text.empty()) return "the default: the FTDI D2XX driver, else the kernel's (tty)";
#endif
  return driver_text.empty() ? "d2xx (the FTDI D2XX driver, the default)" : driver_text;
}

namespace {
#if defined(_WIN32)
// The Windows DLL takes its discovery strings as VARIANTs holding BSTRs, converted in
// the ANSI code page (README: Windows), where the other builds take plain text.
class TextIn {
 public:
  explicit TextIn(const std::string &text) {
    VariantInit(&variant_);
    int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (bstr == nullptr) return;  // the empty string: the call then fails cleanly
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bstr, length);
    V_VT(&variant_) = VT_BSTR;
    V_BSTR(&variant_) = bstr;
  }
  ~TextIn() { VariantClear(&variant_); }
  TextIn(const TextIn &) = delete;
  TextIn &operator=(const TextIn &) = delete;
  VARIANT *get() { return &variant_; }

 private:
  VARIANT variant_;
};

class TextOut {
 public:
  TextOut() { VariantInit(&variant_); }
  ~TextOut() { VariantClear(&variant_); }
  TextOut(const TextOut &) = delete;
  TextOut &operator=(const TextOut &) = delete;
  VARIANT *get() { return &variant_; }
  std::string str() const {
    if (V_VT(&variant_) != VT_BSTR || V_BSTR(&variant_) == nullptr) return {};
    const BSTR wide = V_BSTR(&variant_);
    int wide_length = static_cast<int>(SysStringLen(wide));
    int length = WideCharToMultiByte(CP_ACP, 0, wide, wide_length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, wide_length, text.data(), length, nullptr, nullptr);
    return text;
  }

 private:
  VARIANT variant_;
};
#else
class TextIn {
 public:
  explicit TextIn(const std::string &text) : text_(text) {}
  const char *get() const { return text_.c_str(); }

 private:
  std::string text_;
};

class TextOut {
 public:
  char *get() { return buffer_; }
  std::string str() const { return buffer_; }

 private:
  char buffer_[KMT_STRING_SIZE] = {};
};
#endif

void set_environment(const char *name, const std::string &value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}
}  // namespace

namespace {

// The largest trace the library replays (kReplayMaxBytes in transport/trace.h).
constexpr std::uintmax_t kReplayMaxBytes = std::uintmax_t{16} << 20;

// "FILE:INNER" split as the library splits it: at the first colon that is not a drive
// letter's ("C:\...").
std::pair<std::string, std::string> split_trace(const std::string &text) {
  std::size_t from = text.size() > 2 && std::isalpha(static_cast<unsigned char>(text[0])) &&
                             text[1] == ':' && (text[2] == '\\' || text[2] == '/')
                         ? 2
                         : 0;
  auto colon = text.find(':', from);
  if (colon == std::string::npos) return {text, ""};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

Failure file_failure(const std::string &path, const std::string &why) {
  return Failure(path + ": " + why, kExitFailure);
}

// A trace to record must go to a regular file that can be written (created here when
// missing; the library truncates it when it starts).
void check_trace_output(const std::string &path) {
  std::error_code error;
  auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    throw file_failure(path, "a trace is written to a regular file only");
  }
  errno = 0;
  std::FILE *file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    throw file_failure(path, std::string("cannot write the trace: ") + std::strerror(errno));
  }
  std::fclose(file);
}

// A trace to replay: a regular file within the library's limit.
void check_trace_input(const std::string &path) {
  std::error_code error;
  auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) throw file_failure(path, "no such trace file");
  if (!std::filesystem::is_regular_file(status)) {
    throw file_failure(path, "a trace is read from a regular file only");
  }
  if (std::filesystem::file_size(path, error) > kReplayMaxBytes) {
    throw file_failure(path, "the trace is larger than 16 MiB, the most replay reads");
  }
}

}  // namespace

int Context::check_traces(int exit_code) {
  if (!library_used_) return exit_code;
  for (const auto &path : trace_files_) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error) ||
        std::filesystem::file_size(path, error) == 0) {
      out.failure(path + ": the trace was not written completely (the reason is above)",
                  kExitFailure, -1);
      if (exit_code == kExitOk) exit_code = kExitFailure;
    }
  }
  return exit_code;
}

void Context::prepare() {
  if (library_used_) {
    if (options.driver != used_with_.driver || options.trace != used_with_.trace ||
        options.serial != used_with_.serial) {
      throw Failure(
          "--driver, --serial and --trace hold for the whole session; give them "
          "before the session starts",
          kExitUsage);
    }
    return;
  }
  std::string driver_text = options.driver.empty() ? driver_from_environment() : options.driver;
  if (!options.trace.empty()) driver_text = "trace:" + options.trace + ":" + driver_text;
  // The trace files the driver will write or read are checked here, so that a file
  // problem is reported as one (exit code 1), not as a controller that cannot be found.
  trace_files_.clear();
  for (std::string rest = driver_text;
       rest.rfind("trace:", 0) == 0 || rest.rfind("replay:", 0) == 0;) {
    if (rest.rfind("replay:", 0) == 0) {
      check_trace_input(rest.substr(7));
      break;
    }
    auto [file, inner] = split_trace(rest.substr(6));
    check_trace_output(file);
    trace_files_.push_back(file);
    rest = inner;
  }
  if (!options.driver.empty() || !options.trace.empty()) set_environment("KMT_DRIVER", driver_text);
}

std::vector<ListedController> Context::list_controllers(int32_t *status) {
  library_used_ = true;
  used_with_ = options;
  int32_t count = 0;
  TextIn type_name("KMTCV1");
  KMT_CreateListDevs(type_name.get(), &count, status);
  std::vector<ListedController> found;
  for (int32_t i = 0; i < count; ++i) {
    TextOut type, serial;
    int32_t ignored = 0;
    KMT_GetTypeAndSNbyIndex(i, type.get(), serial.get(), &ignored);
    found.push_back({type.str(), serial.str()});
  }
  return found;
}

void Context::fail_not_found(const std::string &what, uint32_t driver_status,
                             int32_t status) const {
  std::string message = what + " (driver: " + driver_description();
  if (driver_status != 0) message += "; " + driver_status_words(driver_status);
  message +=
      ")\nhint: --driver sim (or KMT_DRIVER=sim) uses the simulated controller; "
      "`kmtv1 doctor` checks the set-up";
  throw Failure(message, kExitNotFound, status);
}

uint32_t *Context::handle() {
  if (open_) return &handle_;
  int32_t status = 0;
  auto found = list_controllers(&status);
  std::string wanted = options.serial;
  if (wanted.empty()) {
    if (found.empty()) fail_not_found("no controller found", static_cast<uint32_t>(status), status);
    wanted = found.front().full();
  } else {
    // The full string as listed, or the serial part alone when only one has it; a
    // string that is not listed at all is tried as given.
    std::vector<std::string> matches;
    for (const auto &c : found) {
      if (c.full() == wanted) {
        matches = {wanted};
        break;
      }
      if (c.serial == wanted) matches.push_back(c.full());
    }
    if (matches.size() > 1) {
      std::string list;
      for (const auto &m : matches) list += " " + m;
      throw Failure("serial " + wanted + " is not unique; give the full string:" + list,
                    kExitUsage);
    }
    if (matches.size() == 1) wanted = matches.front();
  }
  TextIn serial(wanted);
  KMT_InitBySN(&handle_, serial.get(), &status);
  if (status != KMT_STATUS_OK) {
    fail_not_found("cannot open controller " + wanted +
                       (found.empty() ? std::string(" (none listed)") : std::string()) +
                       ": not connected, or in use by another program",
                   0, status);
  }
  open_ = true;
  open_serial_ = wanted;
  return &handle_;
}

void Context::check(const std::string &what, int32_t status) const {
  if (status == KMT_STATUS_OK) return;
  throw Failure(what + ": " + status_words(status), kExitStatusBase + status, status);
}

void Context::close() {
  if (!open_) return;
  KMT_Close(&handle_, 0);
  open_ = false;
  open_serial_.clear();
}

namespace {
std::atomic<bool> interrupt_flag{false};
extern "C" void on_interrupt(int) {
  interrupt_flag = true;
}
}  // namespace

void Context::watch_interrupts() {
  interrupt_flag = false;
  std::signal(SIGINT, on_interrupt);
}

bool Context::interrupted() const {
  return interrupt_flag;
}

}  // namespace kmt::cli
