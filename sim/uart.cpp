// The UART bridge of the simulated controller: a loopback through a bounded receive
// buffer. Reads and writes are refused while the UART is not initialised.
#include "sim/uart.h"

#include <algorithm>

namespace kmt::sim {
namespace {

constexpr std::uint8_t kGroup = 17;

enum : std::uint8_t {
  kInit = 0,
  kInterrupt = 1,
  kClose = 2,
  kSetTimeOut = 3,
  kRead = 4,
  kWrite = 5,
};

std::uint16_t word_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

}  // namespace

Uart::Uart(Controller &controller) {
  // Receive buffer size from the option uart_buffer (1 to 65536 bytes).
  double size = controller.options().number("uart_buffer", kDefaultCapacity);
  capacity = size >= 1 && size <= 65536 ? static_cast<std::size_t>(size) : kDefaultCapacity;
}

void install_uart(Controller &controller) {
  Uart *uart = &controller.part<Uart>();

  controller.on(kGroup, kInit, [uart](std::span<const std::uint8_t> request) {
    if (request.size() < 4) return refuse();
    uart->config_word = word_at(request, 0);
    uart->config_byte1 = request[2];
    uart->config_byte2 = request[3];
    uart->open = true;
    uart->received.clear();
    uart->overflowed = false;
    return Reply{};
  });

  controller.on(kGroup, kInterrupt, [uart](std::span<const std::uint8_t> request) {
    if (request.empty()) return refuse();
    uart->interrupt_setting = request[0];
    return Reply{};
  });

  controller.on(kGroup, kClose, [uart](std::span<const std::uint8_t>) {
    uart->open = false;
    uart->received.clear();
    uart->overflowed = false;
    return Reply{};
  });

  controller.on(kGroup, kSetTimeOut, [uart](std::span<const std::uint8_t> request) {
    if (request.size() < 2) return refuse();
    uart->time_out_ms = word_at(request, 0);
    return Reply{};
  });

  controller.on(kGroup, kRead, [uart](std::span<const std::uint8_t> request) {
    if (!uart->open || request.size() < 2) return refuse();
    const std::size_t wanted = std::min<std::size_t>(word_at(request, 0), Uart::kBlockLimit);
    const std::size_t n = std::min(wanted, uart->received.size());
    Reply reply;
    reply.payload.assign(uart->received.begin(),
                         uart->received.begin() + static_cast<std::ptrdiff_t>(n));
    uart->received.erase(uart->received.begin(),
                         uart->received.begin() + static_cast<std::ptrdiff_t>(n));
    // Trailing bytes: what still waits (at most 255), then the flags, which this read
    // reports and clears.
    reply.payload.push_back(
        static_cast<std::uint8_t>(std::min<std::size_t>(uart->received.size(), 255)));
    reply.payload.push_back(uart->overflowed ? Uart::kFlagOverflow : 0);
    uart->overflowed = false;
    // Fewer bytes than asked for: the controller waits out its time-out for more
    // before answering (none can come on a loopback).
    if (n < wanted) reply.busy_us = static_cast<std::uint64_t>(uart->time_out_ms) * 1000;
    return reply;
  });

  controller.on(kGroup, kWrite, [uart](std::span<const std::uint8_t> request) {
    if (!uart->open || request.size() < 2) return refuse();
    const std::size_t n = word_at(request, 0);
    if (request.size() < 2 + n) return refuse();
    for (std::size_t i = 0; i < n; ++i) {
      if (uart->received.size() < uart->capacity) {
        uart->received.push_back(request[2 + i]);
      } else {
        uart->overflowed = true;
        ++uart->lost;
      }
    }
    return Reply{};
  });
}

}  // namespace kmt::sim
