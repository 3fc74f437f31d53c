// The simulated controller in its own process behind pseudo-terminals
// (`kmtv1 simulate --pty`), for host tests that reach it as a host program reaches a
// real controller. Linux only.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "kmtv1.h"

namespace kmt::test {

// The simulator's process: its standard input stays open (it serves until that ends),
// its first line of output is the KMT_DRIVER value.
class Simulator {
 public:
  explicit Simulator(const std::string &command) {
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string w; in >> w;) words.push_back(w);
    int to_child[2], from_child[2];
    if (words.empty() || ::pipe(to_child) != 0 || ::pipe(from_child) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(to_child[0], 0);
      ::dup2(from_child[1], 1);
      ::close(to_child[1]);
      ::close(from_child[0]);
      std::vector<char *> argv;
      for (std::string &w : words) argv.push_back(w.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    stdin_ = to_child[1];
    // The first line, waited for at most 5 s.
    pollfd pfd{from_child[0], POLLIN, 0};
    char c = 0;
    while (::poll(&pfd, 1, 5000) > 0 && ::read(from_child[0], &c, 1) == 1 && c != '\n') {
      first_line_ += c;
    }
    ::close(from_child[0]);
  }
  ~Simulator() { stop(); }

  const std::string &first_line() const { return first_line_; }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    ::close(stdin_);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  std::string first_line_;
};

// One call of each function family; each must come back answered.
inline void call_every_family(uint32_t *handle) {
  uint16_t w[4] = {};
  double v[4] = {};
  uint8_t byte = 0, rom[8] = {}, trailer = 0;
  uint16_t samples[2] = {}, pulses = 0;
  uint32_t trailer_value = 0;
  int32_t channels = 0;
  double duration = 0;
  struct Call {
    const char *family;
    std::function<void(int32_t *)> run;
  } calls[] = {
      {"system", [&](int32_t *s) { SYS_GetFirmWare(handle, &w[0], &w[1], &w[2], &w[3], s); }},
      {"digital", [&](int32_t *s) { DIO_ReadPort(handle, 0, &byte, s); }},
      {"analog", [&](int32_t *s) { AI_SimpleRead(handle, &v[0], &v[1], &v[2], &v[3], s); }},
      {"I2C and SPI", [&](int32_t *s) { I2C_Init(handle, s); }},
      {"UART", [&](int32_t *s) { UART_Init(handle, 9600, 0, 0, s); }},
      {"1-Wire", [&](int32_t *s) { WR1_SearchRom(handle, &byte, rom, s); }},
      {"generator and counter", [&](int32_t *s) { CountImp(handle, 0, &pulses, s); }},
      {"block acquisition",
       [&](int32_t *s) {
         AI_Read(handle, 1, 0, 0, 0, 0, 0, 100, 10, 0, 1, 2.5, &trailer, &trailer_value, samples,
                 nullptr, nullptr, nullptr, &channels, &duration, s);
       }},
  };
  for (const Call &call : calls) {
    int32_t status = -1;
    call.run(&status);
    EXPECT_EQ(status, 0) << call.family;
  }
  EXPECT_EQ(w[0], 1) << "firmware words";
}

}  // namespace kmt::test
