// Trace recording and replay (format in trace.h).
#include "transport/trace.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
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
  TraceDriver(std::ofstream file, std::unique_ptr<Driver> inner)
      : file_(std::move(file)), inner_(std::move(inner)), start_(std::chrono::steady_clock::now()) {
    file_ << "# kmtv1 trace 1\n"
             "# seconds op arguments = driver status; > host to controller, < controller to host\n";
    file_.flush();
  }

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
    // Flushed line by line so a trace of a crashing program is complete up to the crash.
    file_ << stamp << what << " = " << status << '\n';
    file_.flush();
    return status;
  }

  std::ofstream file_;
  std::unique_ptr<Driver> inner_;
  std::chrono::steady_clock::time_point start_;
};

struct Record {
  char direction;  // '>' written, '<' read
  std::vector<unsigned char> bytes;
};

class ReplayDriver final : public Driver {
 public:
  ReplayDriver(std::vector<std::string> serials, std::vector<FT_STATUS> open_status,
               std::vector<Record> frames)
      : serials_(std::move(serials)),
        open_status_(std::move(open_status)),
        frames_(std::move(frames)) {}

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
    auto it = std::find(serials_.begin(), serials_.end(), static_cast<const char *>(arg));
    if (it == serials_.end()) return FT_DEVICE_NOT_FOUND;
    auto index = static_cast<std::size_t>(it - serials_.begin());
    if (open_status_[index] != FT_OK) return open_status_[index];
    *handle = reinterpret_cast<FT_HANDLE>(index + 1);
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
    const auto *bytes = static_cast<const unsigned char *>(buffer);
    for (std::size_t i = position_; i < frames_.size(); ++i) {
      if (frames_[i].direction != '>' ||
          !std::equal(frames_[i].bytes.begin(), frames_[i].bytes.end(), bytes, bytes + n)) {
        continue;
      }
      for (position_ = i + 1; position_ < frames_.size() && frames_[position_].direction == '<';
           ++position_) {
        pending_.insert(pending_.end(), frames_[position_].bytes.begin(),
                        frames_[position_].bytes.end());
      }
      return FT_OK;
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
  std::size_t position_ = 0;
  std::deque<unsigned char> pending_;
  bool reported_ = false;
};

bool parse_hex(std::istringstream &in, std::vector<unsigned char> *bytes) {
  std::string word;
  while (in >> word && word != "=") {
    if (word.size() != 2 || !std::isxdigit(static_cast<unsigned char>(word[0])) ||
        !std::isxdigit(static_cast<unsigned char>(word[1]))) {
      return false;
    }
    bytes->push_back(static_cast<unsigned char>(std::stoi(word, nullptr, 16)));
  }
  return word == "=";
}

}  // namespace

std::unique_ptr<Driver> make_trace_driver(const std::string &path, std::unique_ptr<Driver> inner,
                                          std::string *error) {
  std::ofstream file(path, std::ios::trunc);
  if (!file) {
    if (error) *error = "cannot write the trace file " + path;
    return nullptr;
  }
  return std::make_unique<TraceDriver>(std::move(file), std::move(inner));
}

std::unique_ptr<Driver> make_replay_driver(const std::string &path, std::string *error) {
  std::ifstream file(path);
  if (!file) {
    if (error) *error = "cannot read the trace file " + path;
    return nullptr;
  }
  std::vector<std::string> serials;
  std::vector<FT_STATUS> open_status;
  std::vector<Record> frames;
  auto add_serial = [&](const std::string &serial, FT_STATUS status, bool is_open) {
    auto it = std::find(serials.begin(), serials.end(), serial);
    if (it == serials.end()) {
      serials.push_back(serial);
      open_status.push_back(is_open ? status : FT_OK);
    } else if (is_open && status == FT_OK) {
      open_status[static_cast<std::size_t>(it - serials.begin())] = FT_OK;
    }
  };
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    std::string time, op;
    // Every line ends in " = STATUS", the driver's status as a decimal number.
    auto equals = line.rfind(" = ");
    bool ok = static_cast<bool>(in >> time >> op) && equals != std::string::npos &&
              equals + 3 < line.size() &&
              line.find_first_not_of("0123456789", equals + 3) == std::string::npos;
    if (ok && (op == ">" || op == "<")) {
      Record record{op[0], {}};
      ok = parse_hex(in, &record.bytes);
      if (ok) frames.push_back(std::move(record));
    } else if (ok && (op == "list" || op == "open")) {
      // The serial string runs up to " = STATUS".
      std::istringstream fields(line.substr(0, equals));
      std::string skip, serial;
      fields >> skip >> skip;
      if (op == "list") fields >> skip;
      std::getline(fields >> std::ws, serial);
      unsigned long status = std::strtoul(line.c_str() + equals + 3, nullptr, 10);
      if (ok && !serial.empty()) add_serial(serial, static_cast<FT_STATUS>(status), op == "open");
    }
    if (!ok) {
      if (error) *error = path + ":" + std::to_string(number) + ": not a trace line";
      return nullptr;
    }
  }
  return std::make_unique<ReplayDriver>(std::move(serials), std::move(open_status),
                                        std::move(frames));
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
