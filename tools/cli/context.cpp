#include "tools/cli/context.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

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

void Context::fail_not_found(const std::string &what, uint32_t driver_status) const {
  std::string message = what + " (driver: " + driver_description();
  if (driver_status != 0) message += "; " + driver_status_words(driver_status);
  message +=
      ")\nhint: --driver sim (or KMT_DRIVER=sim) uses the simulated controller; "
      "`kmtv1 doctor` checks the set-up";
  throw Failure(message, kExitNotFound);
}

uint32_t *Context::handle() {
  if (open_) return &handle_;
  int32_t status = 0;
  auto found = list_controllers(&status);
  std::string wanted = options.serial;
  if (wanted.empty()) {
    if (found.empty()) fail_not_found("no controller found", static_cast<uint32_t>(status));
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
                   0);
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
