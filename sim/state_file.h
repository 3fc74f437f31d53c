// The simulated controllers' non-volatile memory file: one text line per controller,
// shared by every controller and every process that names the same file. Nothing in
// it is ever lost: a file that cannot be read or understood is never written, and
// each write is a locked read-modify-write of the whole file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kmt::sim {

struct NonVolatileMemory {
  std::array<std::uint8_t, 16> user_sn;
  std::array<std::uint8_t, 128> user_area;
};

class StateFile {
 public:
  explicit StateFile(std::string path) : path_(std::move(path)) {}

  // The memory of the controller with this serial-number string into *memory (untouched
  // when the file or its line is absent). False with *error when the file exists but
  // cannot be read, or has a line that does not parse.
  bool load(const std::string &serial, NonVolatileMemory *memory, std::string *error) const;

  // Replaces this controller's line (or adds it), keeping every other line as it is.
  // Holds an advisory lock (the file PATH.lock beside the file, or beside a symlink's
  // target) from the read to the rename, writes a temporary file of a name unique to
  // this process and renames it over the file, keeping the file's permissions; through
  // a symlink it is the target that is replaced. False with *error, and the file as it
  // was, when the file cannot be read or parsed, is read-only, or cannot be replaced.
  bool save(const std::string &serial, const NonVolatileMemory &memory, std::string *error) const;

 private:
  std::string path_;
};

}  // namespace kmt::sim
