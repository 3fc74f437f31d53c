#include "sim/state_file.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kmt::sim {
namespace {

namespace fs = std::filesystem;

std::string to_hex(const std::uint8_t *bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0xF]);
  }
  return text;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly n bytes from 2n hex digits.
template <std::size_t N>
bool from_hex(const std::string &text, std::array<std::uint8_t, N> *bytes) {
  if (text.size() != 2 * N) return false;
  for (std::size_t i = 0; i < N; ++i) {
    const int high = hex_digit(text[2 * i]), low = hex_digit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    (*bytes)[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

// One controller's line: serial, user serial number and user area in hex, single spaces.
bool parse_line(const std::string &line, std::string *serial, NonVolatileMemory *memory) {
  const std::size_t first = line.find(' ');
  if (first == std::string::npos || first == 0) return false;
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string::npos) return false;
  NonVolatileMemory parsed;
  if (!from_hex(line.substr(first + 1, second - first - 1), &parsed.user_sn) ||
      !from_hex(line.substr(second + 1), &parsed.user_area)) {
    return false;
  }
  *serial = line.substr(0, first);
  *memory = parsed;
  return true;
}

std::string format_line(const std::string &serial, const NonVolatileMemory &memory) {
  return serial + ' ' + to_hex(memory.user_sn.data(), memory.user_sn.size()) + ' ' +
         to_hex(memory.user_area.data(), memory.user_area.size());
}

// The file's lines, every one checked. An absent file has none; a file that exists but
// cannot be read, or a line that does not parse, is an error: such a file is never
// taken as erased memory, nor written over.
bool read_lines(const fs::path &path, std::vector<std::string> *lines, std::string *error) {
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (status.type() == fs::file_type::not_found) return true;
  if (code || status.type() != fs::file_type::regular) {
    *error = "state file " + path.string() + " cannot be read (not a regular file)";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "state file " + path.string() + " cannot be read";
    return false;
  }
  std::string line;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    std::string serial;
    NonVolatileMemory memory;
    if (!parse_line(line, &serial, &memory)) {
      *error = "state file " + path.string() + ": line " + std::to_string(number) +
               " is damaged (expected SERIAL, 32 and 256 hex digits)";
      return false;
    }
    lines->push_back(line);
  }
  if (in.bad()) {
    *error = "state file " + path.string() + " cannot be read";
    return false;
  }
  return true;
}

// The file a path finally names: symlinks followed (a dangling one to the file it
// would create), so that a write replaces the target and leaves the links alone.
fs::path final_target(fs::path path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code code;
    if (!fs::is_symlink(fs::symlink_status(path, code))) return path;
    const fs::path next = fs::read_symlink(path, code);
    if (code) return path;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return path;
}

bool writable(const fs::path &path) {
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (status.type() == fs::file_type::not_found) return true;
  // No write permission for anyone is a read-only file, also for a user whom the
  // system would let write it anyway.
  constexpr auto kAnyWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if ((status.permissions() & kAnyWrite) == fs::perms::none) return false;
#if defined(_WIN32)
  return true;
#else
  return ::access(path.c_str(), W_OK) == 0;
#endif
}

unsigned long process_id() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(::getpid());
#endif
}

// An exclusive advisory lock on PATH.lock, held while the object lives. Every writer
// of this format takes it, in this process or any other.
class FileLock {
 public:
  explicit FileLock(const fs::path &path) {
    const std::string name = path.string() + ".lock";
#if defined(_WIN32)
    handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole{};
    locked_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
#else
    fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    int result;
    do {
      result = ::flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    locked_ = result == 0;
#endif
  }
  ~FileLock() {
#if defined(_WIN32)
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);  // releases the lock
#else
    if (fd_ >= 0) ::close(fd_);  // releases the lock
#endif
  }
  FileLock(const FileLock &) = delete;
  FileLock &operator=(const FileLock &) = delete;
  bool locked() const {
    return locked_;
  }

 private:
#if defined(_WIN32)
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
#endif
  bool locked_ = false;
};

}  // namespace

bool StateFile::load(const std::string &serial, NonVolatileMemory *memory,
                     std::string *error) const {
  std::vector<std::string> lines;
  if (!read_lines(final_target(path_), &lines, error)) return false;
  for (const std::string &line : lines) {
    std::string owner;
    NonVolatileMemory parsed;
    if (parse_line(line, &owner, &parsed) && owner == serial) *memory = parsed;
  }
  return true;
}

bool StateFile::save(const std::string &serial, const NonVolatileMemory &memory,
                     std::string *error) const {
  const fs::path target = final_target(path_);
  FileLock lock(target);
  if (!lock.locked()) {
    *error =
        "state file " + target.string() + ": cannot take the lock " + target.string() + ".lock";
    return false;
  }
  std::vector<std::string> lines;
  if (!read_lines(target, &lines, error)) return false;
  if (!writable(target)) {
    *error = "state file " + target.string() + " is read-only";
    return false;
  }
  // This controller's line replaced where it stands, or added at the end.
  const std::string own = format_line(serial, memory);
  bool replaced = false;
  for (std::string &line : lines) {
    if (line.compare(0, serial.size() + 1, serial + ' ') == 0) {
      line = own;
      replaced = true;
    }
  }
  if (!replaced) lines.push_back(own);

  // Written whole beside the file, then renamed over it: a reader (or a restart after
  // a crash) sees the old file or the new one, never a part of one. The standard
  // library offers no flush to the disk itself, so this protects against a crashed
  // process, not against a power cut.
  static std::atomic<unsigned> sequence{0};
  const fs::path temporary =
      target.string() + ".tmp." + std::to_string(process_id()) + "." + std::to_string(sequence++);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const std::string &line : lines) out << line << '\n';
    out.flush();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      *error = "state file " + target.string() + ": cannot write " + temporary.string();
      return false;
    }
  }
  // The new file takes the old one's permissions (a new inode has the defaults).
  std::error_code absent, code;
  const fs::file_status before = fs::status(target, absent);
  if (before.type() == fs::file_type::regular) {
    fs::permissions(temporary, before.permissions(), fs::perm_options::replace, code);
  }
  if (!code) fs::rename(temporary, target, code);
  if (code) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    *error = "state file " + target.string() + " cannot be replaced: " + code.message();
    return false;
  }
  return true;
}

}  // namespace kmt::sim
