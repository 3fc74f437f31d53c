// The few things the library needs from the operating system, behind one header:
// sleeping, showing an error report, loading a shared library at run time.
// One source file per platform implements them (posix.cpp, windows.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kmt {

// Time and error reporting as the library core sees them; tests inject their own.
class Platform {
 public:
  virtual ~Platform() = default;
  // Blocks the calling thread for ms milliseconds.
  virtual void sleep_ms(std::uint32_t ms) = 0;
  // Shows a driver error report to the user: a modal error box where the platform
  // has one, otherwise one line on standard error.
  virtual void show_error(std::string_view text) = 0;
};

// The operating system's own implementation.
Platform &system_platform();

namespace platform {

// Opaque handle of a loaded shared library.
using LibraryHandle = void *;

// Loads a shared library; null on failure with *error describing why.
LibraryHandle load_library(const std::string &path, std::string *error);
// Looks a symbol up; null when it is missing.
void *find_symbol(LibraryHandle library, const char *name);
// The file name of the vendor's driver library on this platform.
const char *vendor_driver_name();
// Reports a set-up problem (a driver that KMT_DRIVER names but that cannot be had) as
// one line on standard error, never in a box: it is not a driver failure.
void write_diagnostic(std::string_view text);

}  // namespace platform
}  // namespace kmt
