// kmtv1: the controller from the command line, through the library's exported
// functions only. Every subcommand opens the controller, does one thing, closes it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kmtv1.h"

namespace {

struct Listed {
  std::string type, serial;
};

std::vector<Listed> list_controllers(int32_t *status) {
  int32_t count = 0;
  KMT_CreateListDevs("KMTCV1", &count, status);
  std::vector<Listed> found;
  for (int32_t i = 0; i < count; ++i) {
    char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
    int32_t ignored = 0;
    KMT_GetTypeAndSNbyIndex(i, type, serial, &ignored);
    found.push_back({type, serial});
  }
  return found;
}

[[noreturn]] void fail(const std::string &what, int32_t status) {
  std::fprintf(stderr, "kmtv1: %s failed (status %d)\n", what.c_str(), static_cast<int>(status));
  std::exit(1);
}

// Opens the controller with the given full serial-number string, or the first one found.
uint32_t open_controller(const std::string &wanted) {
  std::string serial = wanted;
  int32_t status = 0;
  if (serial.empty()) {
    auto found = list_controllers(&status);
    if (found.empty()) fail("finding a controller", status);
    serial = found[0].type + found[0].serial;
  }
  uint32_t handle = 0;
  KMT_InitBySN(&handle, serial.c_str(), &status);
  if (status != KMT_STATUS_OK) fail("opening " + serial, status);
  return handle;
}

void check(const char *what, int32_t status) {
  if (status != KMT_STATUS_OK) fail(what, status);
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"Drive a KMTC I/O controller. KMT_DRIVER=sim uses the simulated controller."};
  app.require_subcommand(1);
  std::string serial;
  app.add_option("-s,--serial", serial, "Full serial-number string (default: first found)");

  auto *list = app.add_subcommand("list", "List the controllers found");
  auto *firmware = app.add_subcommand("firmware", "Show the controller's firmware words");

  auto *send = app.add_subcommand("send", "Raw exchange: send a request, print the response");
  int group = 0, command = 0, delay = 0;
  std::vector<int> payload;
  send->add_option("group", group, "Group byte")->required()->check(CLI::Range(0, 255));
  send->add_option("command", command, "Command byte")->required()->check(CLI::Range(0, 255));
  send->add_option("payload", payload, "Request payload bytes")->check(CLI::Range(0, 255));
  send->add_option("-d,--delay", delay, "Milliseconds to wait before reading the response");

  auto *port_read = app.add_subcommand("port-read", "Read a digital port");
  int port = 0, value = 0, line = 0;
  port_read->add_option("port", port, "Port 0 or 1")->required()->check(CLI::Range(0, 1));
  auto *port_write = app.add_subcommand("port-write", "Write a digital port");
  port_write->add_option("port", port, "Port 0 or 1")->required()->check(CLI::Range(0, 1));
  port_write->add_option("value", value, "Byte")->required()->check(CLI::Range(0, 255));
  auto *bit_write = app.add_subcommand("bit-write", "Write one digital line");
  bit_write->add_option("line", line, "Line 0..11")->required()->check(CLI::Range(0, 11));
  bit_write->add_option("value", value, "0 or 1")->required()->check(CLI::Range(0, 1));

  auto *analog_read = app.add_subcommand("analog-read", "Read the four analog inputs (V)");
  auto *analog_write = app.add_subcommand("analog-write", "Set an analog output (V)");
  int output = 0;
  double volts = 0;
  analog_write->add_option("output", output, "Output 0 or 1")->required()->check(CLI::Range(0, 1));
  analog_write->add_option("volts", volts, "Volts")->required()->check(CLI::Range(0.0, 5.0));

  auto *counter = app.add_subcommand("counter", "Read the controller's 32-bit counter");

  CLI11_PARSE(app, argc, argv);

  int32_t status = 0;
  if (*list) {
    for (const auto &c : list_controllers(&status)) {
      std::printf("%s %s\n", c.type.c_str(), c.serial.c_str());
    }
    return status == 0 ? 0 : 1;
  }

  uint32_t handle = open_controller(serial);
  if (*firmware) {
    uint16_t w[4] = {};
    SYS_GetFirmWare(&handle, &w[0], &w[1], &w[2], &w[3], &status);
    check("firmware query", status);
    std::printf("%u %u %u %u\n", w[0], w[1], w[2], w[3]);
  } else if (*send) {
    std::vector<uint8_t> buffer(KMT_PAYLOAD_SIZE);
    for (std::size_t i = 0; i < payload.size() && i < buffer.size(); ++i) {
      buffer[i] = static_cast<uint8_t>(payload[i]);
    }
    auto length = static_cast<uint16_t>(payload.size());
    KMT_SendComm(&handle, 0x0010, static_cast<uint8_t>(group), static_cast<uint8_t>(command), delay,
                 buffer.data(), &length, &status);
    check("exchange", status);
    for (uint16_t i = 0; i < length; ++i) std::printf(i ? " %u" : "%u", buffer[i]);
    std::printf("\n");
  } else if (*port_read) {
    uint8_t byte = 0;
    DIO_ReadPort(&handle, static_cast<uint8_t>(port), &byte, &status);
    check("port read", status);
    std::printf("%u\n", byte);
  } else if (*port_write) {
    DIO_WritePort(&handle, static_cast<uint8_t>(port), static_cast<uint8_t>(value), &status);
    check("port write", status);
  } else if (*bit_write) {
    DIO_WriteBit(&handle, static_cast<uint8_t>(line), static_cast<uint8_t>(value), &status);
    check("line write", status);
  } else if (*analog_read) {
    double v[4] = {};
    AI_SimpleRead(&handle, &v[0], &v[1], &v[2], &v[3], &status);
    check("analog read", status);
    std::printf("%.4f %.4f %.4f %.4f\n", v[0], v[1], v[2], v[3]);
  } else if (*analog_write) {
    AO_SimpleWrite(&handle, static_cast<uint8_t>(output), volts, &status);
    check("analog write", status);
  } else if (*counter) {
    uint32_t count = 0;
    SYS_ReadCount(&handle, &count, &status);
    check("counter read", status);
    std::printf("%u\n", count);
  }
  KMT_Close(&handle, 0);
  return 0;
}
