// Trace recording and replay (format in trace.h).
#include "transport/trace.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace kmt {

using namespace d2xx;

namespace {

std::string hex_bytes(const void *data, DWORD n) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  const auto *bytes = static_cast<const unsigned char *>(data);
  for (DWORD i = 0; i < n; ++i) {
    text += ' ';
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

class TraceDriver final : public Driver {
 public:
  TraceDriver(std::string path, std::FILE *file, std::unique_ptr<Driver> inner)
      : path_(std::move(path)),
        file_(file),
        inner_(std::move(inner)),
        start_(std::chrono::steady_clock::now()) {
    put("# kmtv1 trace 1\n"
        "# seconds op arguments = driver status; > host to controller, < controller to host\n");
  }
  ~TraceDriver() override {
    if (file_ != nullptr && std::fclose(file_) != 0) lost(std::strerror(errno));
  }
  TraceDriver(const TraceDriver &) = delete;
  TraceDriver &operator=(const TraceDriver &) = delete;

  FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags) override {
    FT_STATUS s = inner_->ListDevices(a, b, flags);
    if (flags == FT_LIST_NUMBER_ONLY && a != nullptr) {
      log("list-count " + std::to_string(s == FT_OK ? *static_cast<DWORD *>(a) : 0), s);
    } else if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) && b != nullptr) {
      auto index = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(a));
      log("list " + std::to_string(index) + " " + (s == FT_OK ? static_cast<const char *>(b) : ""),
          s);
    }
    return s;
  }
  FT_STATUS OpenEx(PVOID arg, DWORD flags, FT_HANDLE *handle) override {
    FT_STATUS s = inner_->OpenEx(arg, flags, handle);
    log(std::string("open ") + (arg != nullptr ? static_cast<const char *>(arg) : ""), s);
    return s;
  }
  FT_STATUS Close(FT_HANDLE h) override { return log("close", inner_->Close(h)); }
  FT_STATUS ResetDevice(FT_HANDLE h) override { return log("reset", inner_->ResetDevice(h)); }
  FT_STATUS Purge(FT_HANDLE h, ULONG mask) override {
    return log("purge " + std::to_string(mask), inner_->Purge(h, mask));
  }
  FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) override {
    return log("baud " + std::to_string(baud), inner_->SetBaudRate(h, baud));
  }
  FT_STATUS SetDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop, UCHAR parity) override {
    return log(
        "data " + std::to_string(bits) + " " + std::to_string(stop) + " " + std::to_string(parity),
        inner_->SetDataCharacteristics(h, bits, stop, parity));
  }
  FT_STATUS SetFlowControl(FT_HANDLE h, USHORT flow, UCHAR xon, UCHAR xoff) override {
    return log(
        "flow " + std::to_string(flow) + " " + std::to_string(xon) + " " + std::to_string(xoff),
        inner_->SetFlowControl(h, flow, xon, xoff));
  }
  FT_STATUS SetTimeouts(FT_HANDLE h, ULONG read_ms, ULONG write_ms) override {
    return log("timeouts " + std::to_string(read_ms) + " " + std::to_string(write_ms),
               inner_->SetTimeouts(h, read_ms, write_ms));
  }
  FT_STATUS Write(FT_HANDLE h, LPVOID buffer, DWORD n, LPDWORD written) override {
    FT_STATUS s = inner_->Write(h, buffer, n, written);
    // append, not ">" + ...: GCC 12 -O3 warns falsely (-Wrestrict) on the insert that makes.
    log(std::string(">").append(hex_bytes(buffer, s == FT_OK ? *written : n)), s);
    return s;
  }
  FT_STATUS Read(FT_HANDLE h, LPVOID buffer, DWORD n, LPDWORD read) override {
    FT_STATUS s = inner_->Read(h, buffer, n, read);
    DWORD got = std::min(*read, n);
    if (s != FT_OK || got > 0) log(std::string("<").append(hex_bytes(buffer, got)), s);
    return s;
  }

 private:
  FT_STATUS log(const std::string &what, FT_STATUS status) {
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.6f ", seconds);
    put(stamp + what + " = " + std::to_string(status) + "\n");
    return status;
  }

  // Flushed line by line so that a trace of a crashing program is complete up to the
  // crash. A line that cannot be written ends the recording (see lost()).
  void put(const std::string &text) {
    if (file_ == nullptr) return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
      std::string reason = errno != 0 ? std::strerror(errno) : "write failed";
      std::fclose(file_);
      file_ = nullptr;
      lost(reason);
    }
  }

  // A trace with a gap is no record: it moves aside, so that no complete-looking trace is
  // left under the name asked for (the command-line tool checks for it), and the reason
  // goes out as a diagnostic. The controller itself is still driven.
  void lost(const std::string &reason) {
    std::string aside = path_ + ".incomplete";
    std::remove(aside.c_str());
    bool moved = std::rename(path_.c_str(), aside.c_str()) == 0;
    platform::write_diagnostic(
        "trace: cannot write " + path_ + ": " + reason +
        (moved ? "; what was recorded is in " + aside : std::string("; the trace is incomplete")));
  }

  std::string path_;
  std::FILE *file_;
  std::unique_ptr<Driver> inner_;
  std::chrono::steady_clock::time_point start_;
};

struct Record {
  char direction;  // '>' written, '<' read
  std::vector<unsigned char> bytes;
};

std::string bytes_key(const void *data, std::size_t n) {
  return std::string(static_cast<const char *>(data), n);
}

class ReplayDriver final : public Driver {
 public:
  ReplayDriver(std::vector<std::string> serials,
               std::unordered_map<std::string, std::size_t> serial_index,
               std::vector<FT_STATUS> open_status, std::vector<Record> frames)
      : serials_(std::move(serials)),
        open_status_(std::move(open_status)),
        frames_(std::move(frames)),
        serial_index_(std::move(serial_index)) {
    // Indexed once, so that every call takes time independent of the trace's length
    // (give or take a logarithm).
    for (std::size_t i = 0; i < frames_.size(); ++i) {
      if (frames_[i].direction == '>') {
        writes_[bytes_key(frames_[i].bytes.data(), frames_[i].bytes.size())].push_back(i);
      }
    }
  }

  FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags) override {
    if (flags == FT_LIST_NUMBER_ONLY && a != nullptr) {
      *static_cast<DWORD *>(a) = static_cast<DWORD>(serials_.size());
      return FT_OK;
    }
    if (flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) && b != nullptr) {
      auto index = reinterpret_cast<std::uintptr_t>(a);
      if (index >= serials_.size()) return FT_DEVICE_NOT_FOUND;
      std::snprintf(static_cast<char *>(b), 64, "%s", serials_[index].c_str());
      return FT_OK;
    }
    return FT_INVALID_PARAMETER;
  }
  FT_STATUS OpenEx(PVOID arg, DWORD, FT_HANDLE *handle) override {
    if (arg == nullptr) return FT_INVALID_PARAMETER;
    auto it = serial_index_.find(static_cast<const char *>(arg));
    if (it == serial_index_.end()) return FT_DEVICE_NOT_FOUND;
    if (open_status_[it->second] != FT_OK) return open_status_[it->second];
    *handle = reinterpret_cast<FT_HANDLE>(it->second + 1);
    return FT_OK;
  }
  FT_STATUS Close(FT_HANDLE) override { return FT_OK; }
  FT_STATUS ResetDevice(FT_HANDLE) override {
    pending_.clear();
    return FT_OK;
  }
  FT_STATUS Purge(FT_HANDLE, ULONG mask) override {
    if (mask & FT_PURGE_RX) pending_.clear();
    return FT_OK;
  }
  FT_STATUS SetBaudRate(FT_HANDLE, ULONG) override { return FT_OK; }
  FT_STATUS SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) override { return FT_OK; }
  FT_STATUS SetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) override { return FT_OK; }
  FT_STATUS SetTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_OK; }
  FT_STATUS Write(FT_HANDLE, LPVOID buffer, DWORD n, LPDWORD written) override {
    *written = n;
    // The first recorded write of these bytes at or after the replay's position.
    auto same = writes_.find(bytes_key(buffer, n));
    if (same != writes_.end()) {
      auto next = std::lower_bound(same->second.begin(), same->second.end(), position_);
      if (next != same->second.end()) {
        for (position_ = *next + 1;
             position_ < frames_.size() && frames_[position_].direction == '<'; ++position_) {
          pending_.insert(pending_.end(), frames_[position_].bytes.begin(),
                          frames_[position_].bytes.end());
        }
        return FT_OK;
      }
    }
    if (!reported_) {
      reported_ = true;
      system_platform().show_error("replay: a request not in the trace gets no answer:" +
                                   hex_bytes(buffer, n));
    }
    return FT_OK;
  }
  FT_STATUS Read(FT_HANDLE, LPVOID buffer, DWORD n, LPDWORD read) override {
    DWORD count = std::min<DWORD>(n, static_cast<DWORD>(pending_.size()));
    std::copy_n(pending_.begin(), count, static_cast<unsigned char *>(buffer));
    pending_.erase(pending_.begin(), pending_.begin() + count);
    *read = count;
    return FT_OK;
  }

 private:
  std::vector<std::string> serials_;
  std::vector<FT_STATUS> open_status_;
  std::vector<Record> frames_;
  std::unordered_map<std::string, std::size_t> serial_index_;
  // Every recorded write's bytes, with the positions of its records in ascending order.
  std::unordered_map<std::string, std::vector<std::size_t>> writes_;
  std::size_t position_ = 0;
  std::deque<unsigned char> pending_;
  bool reported_ = false;
};

// The next word of `rest` (words are separated by single or repeated spaces).
std::string_view next_word(std::string_view &rest) {
  auto begin = rest.find_first_not_of(' ');
  if (begin == std::string_view::npos) {
    rest = {};
    return {};
  }
  auto end = rest.find(' ', begin);
  auto word = rest.substr(begin, end == std::string_view::npos ? rest.size() - begin : end - begin);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  return word;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex byte words up to the end of `words` (the line without its " = STATUS").
bool parse_hex(std::string_view words, std::vector<unsigned char> *bytes) {
  for (auto word = next_word(words); !word.empty(); word = next_word(words)) {
    int high = word.size() == 2 ? hex_digit(word[0]) : -1;
    int low = word.size() == 2 ? hex_digit(word[1]) : -1;
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return true;
}

// Reads the whole trace file, refusing what is not a regular file of at most
// kReplayMaxBytes (a device or FIFO might never end).
bool read_trace(const std::string &path, std::string *text, std::string *error) {
  auto fail = [&](const std::string &why) {
    if (error) *error = "cannot read the trace file " + path + ": " + why;
    return false;
  };
  std::error_code code;
  auto status = std::filesystem::status(path, code);
  if (code) return fail(code.message());
  if (std::filesystem::is_directory(status)) return fail("it is a directory");
  if (!std::filesystem::is_regular_file(status)) return fail("it is not a regular file");
  std::ifstream file(path, std::ios::binary);
  if (!file) return fail("it cannot be opened");
  text->resize(kReplayMaxBytes + 1);
  file.read(text->data(), static_cast<std::streamsize>(text->size()));
  if (file.bad()) return fail("reading failed");
  text->resize(static_cast<std::size_t>(file.gcount()));
  if (text->size() > kReplayMaxBytes) {
    return fail("it is larger than " + std::to_string(kReplayMaxBytes >> 20) + " MiB");
  }
  return true;
}

}  // namespace

std::unique_ptr<Driver> make_trace_driver(const std::string &path, std::unique_ptr<Driver> inner,
                                          std::string *error) {
  // A device (/dev/full), FIFO or the like would take the trace where nobody can read it
  // back, or block; only files are written.
  std::error_code code;
  auto status = std::filesystem::status(path, code);
  if (!code && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    if (error) *error = "cannot write the trace file " + path + ": it is not a regular file";
    return nullptr;
  }
  errno = 0;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    if (error) {
      *error = "cannot write the trace file " + path +
               (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    }
    return nullptr;
  }
  return std::make_unique<TraceDriver>(path, file, std::move(inner));
}

std::unique_ptr<Driver> make_replay_driver(const std::string &path, std::string *error) {
  std::string text;
  if (!read_trace(path, &text, error)) return nullptr;
  std::vector<std::string> serials;
  std::unordered_map<std::string, std::size_t> serial_index;
  // One record a line at most: room for all at once instead of growing step by step.
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  std::vector<FT_STATUS> open_status;
  std::vector<Record> frames;
  frames.reserve(lines);
  auto add_serial = [&](const std::string &serial, FT_STATUS status, bool is_open) {
    auto [it, added] = serial_index.emplace(serial, serials.size());
    if (added) {
      serials.push_back(serial);
      open_status.push_back(is_open ? status : FT_OK);
    } else if (is_open && status == FT_OK) {
      open_status[it->second] = FT_OK;
    }
  };
  std::string_view rest = text;
  for (int number = 1; !rest.empty(); ++number) {
    auto end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    // Lines may end in CR LF (a trace that passed through Windows).
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    // Every line ends in " = STATUS", the driver's status as a decimal number.
    auto equals = line.rfind(" = ");
    std::string_view fields = line.substr(0, equals);
    auto time = next_word(fields);
    auto op = next_word(fields);
    bool ok = !time.empty() && !op.empty() && equals != std::string_view::npos &&
              equals + 3 < line.size() &&
              line.find_first_not_of("0123456789", equals + 3) == std::string_view::npos;
    if (ok && (op == ">" || op == "<")) {
      Record record{op[0], {}};
      ok = parse_hex(fields, &record.bytes);
      if (ok) frames.push_back(std::move(record));
    } else if (ok && (op == "list" || op == "open")) {
      // The serial string runs up to " = STATUS".
      if (op == "list") next_word(fields);
      auto start = fields.find_first_not_of(' ');
      std::string serial(start == std::string_view::npos ? std::string_view()
                                                         : fields.substr(start));
      unsigned long status =
          std::strtoul(std::string(line.substr(equals + 3)).c_str(), nullptr, 10);
      if (!serial.empty()) add_serial(serial, static_cast<FT_STATUS>(status), op == "open");
    }
    if (!ok) {
      if (error) *error = path + ":" + std::to_string(number) + ": not a trace line";
      return nullptr;
    }
  }
  return std::make_unique<ReplayDriver>(std::move(serials), std::move(serial_index),
                                        std::move(open_status), std::move(frames));
}

void split_trace_argument(const std::string &driver_text, std::string *file, std::string *inner) {
  std::size_t from = 0;
  // "C:\dir\trace.txt" or "C:/dir/trace.txt": the drive letter's colon is the file's.
  if (driver_text.size() > 2 && std::isalpha(static_cast<unsigned char>(driver_text[0])) &&
      driver_text[1] == ':' && (driver_text[2] == '\\' || driver_text[2] == '/')) {
    from = 2;
  }
  auto colon = driver_text.find(':', from);
  *file = driver_text.substr(0, colon);
  *inner = colon == std::string::npos ? std::string() : driver_text.substr(colon + 1);
}

}  // namespace kmt
