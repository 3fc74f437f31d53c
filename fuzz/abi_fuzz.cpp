// Drives the exported C functions, as a host would call them, with arguments, null
// pointers, driver failures and controller responses all taken from the input, against
// the scripted driver. Under AddressSanitizer any read or write outside a caller's
// buffer fails the run. Each input runs twice, the second time with the request
// buffer filled with a marker before every call: what reaches the driver must not
// change, or a request went out with bytes its function never wrote.
//
// The input: byte 0 the number of calls (1 to 4) and byte 1 a driver operation to fail;
// then per call 18 bytes (the export, a mask of pointers passed as null, 16 argument
// bytes); the rest is what the controller sends, cut into reads at every 0xA5 0x5A.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kmtv1.h"
#include "library/abi.h"
#include "tests/support/scripted_driver.h"

using namespace kmt;

namespace {

constexpr std::size_t kCallSize = 18;
constexpr int kExports = 56;

// Caller buffers of exactly the documented size, on the heap so overruns are caught;
// null where the input's mask says so.
class Arguments {
 public:
  Arguments(std::uint8_t null_mask, const std::uint8_t *bytes) : mask_(null_mask), a_(bytes) {}

  std::uint8_t byte(int i) const { return a_[i]; }
  std::uint16_t word(int i) const { return static_cast<std::uint16_t>(a_[i] | a_[i + 1] << 8); }
  // Pointer number k (0 to 7) of the call: a fresh buffer of n elements, or null.
  template <class T>
  T *buffer(int k, std::size_t n) {
    if ((mask_ >> k & 1) != 0) return nullptr;
    keep_.push_back(std::make_unique<std::uint8_t[]>(n * sizeof(T)));
    return reinterpret_cast<T *>(keep_.back().get());
  }

 private:
  std::uint8_t mask_;
  const std::uint8_t *a_;
  std::vector<std::unique_ptr<std::uint8_t[]>> keep_;
};

void call(int which, Arguments &x) {
  std::uint32_t *h = x.buffer<std::uint32_t>(0, 1);
  if (h != nullptr) *h = x.byte(15) < 240 ? 1 : x.byte(14);  // the token of the open device
  std::int32_t *st = x.buffer<std::int32_t>(7, 1);
  const std::uint8_t b0 = x.byte(0), b1 = x.byte(1), b2 = x.byte(2);
  const std::uint16_t w0 = x.word(0), w2 = x.word(2), w4 = x.word(4);
  const double volts = static_cast<std::int8_t>(x.byte(6)) / 7.0;
  switch (which) {
    case 0:
      KMT_SendComm(h, w0, b2, x.byte(3), x.byte(4) % 3, x.buffer<std::uint8_t>(1, KMT_PAYLOAD_SIZE),
                   x.buffer<std::uint16_t>(2, 1), st);
      break;
    case 1: {
      const char *names[] = {"KMTCV1", "kmtcv1", "KMTC0002", ""};
      KMT_CreateListDevs(names[b0 % 4], x.buffer<std::int32_t>(1, 1), st);
      break;
    }
    case 2:
      KMT_GetTypeAndSNbyIndex(static_cast<std::int32_t>(w0 | w2 << 16),
                              x.buffer<char>(1, KMT_STRING_SIZE),
                              x.buffer<char>(2, KMT_STRING_SIZE), st);
      break;
    case 3: {
      const char *serials[] = {"KMTC0002TEST01", "KMTC0002NOPE", "", nullptr};
      KMT_InitBySN(h, serials[b0 % 4], st);
      break;
    }
    case 4:
      KMT_Close(h, w0);
      break;
    case 5:
      KMT_GetDriverVersion(x.buffer<std::int32_t>(1, 1), x.buffer<std::int32_t>(2, 1),
                           x.buffer<std::int32_t>(3, 1));
      break;
    case 6:
      SYS_GetDriverType(x.buffer<std::uint16_t>(1, 1));
      break;
    case 7:
      SYS_GetFirmWare(h, x.buffer<std::uint16_t>(1, 1), x.buffer<std::uint16_t>(2, 1),
                      x.buffer<std::uint16_t>(3, 1), x.buffer<std::uint16_t>(4, 1), st);
      break;
    case 8:
      SYS_WriteUserSN(h, x.buffer<std::uint8_t>(1, 16), st);
      break;
    case 9:
      SYS_ReadUserSN(h, x.buffer<std::uint8_t>(1, 16), st);
      break;
    case 10:
      SYS_WriteUserArea(h, x.buffer<std::uint8_t>(1, 128), st);
      break;
    case 11:
      SYS_ReadUserArea(h, x.buffer<std::uint8_t>(1, 128), st);
      break;
    case 12:
      WatchDog(h, b0, st);
      break;
    case 13:
      SYS_ReadCount(h, x.buffer<std::uint32_t>(1, 1), st);
      break;
    case 14:
      DIO_SetBitMode(h, b0, b1, st);
      break;
    case 15:
      DIO_WriteBit(h, b0, b1, st);
      break;
    case 16:
      DIO_ReadPort(h, b0, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 17:
      DIO_WritePort(h, b0, b1, st);
      break;
    case 18:
      DIO_SetPortMode(h, b0, b1, st);
      break;
    case 19:
      DIO_WriteMask(h, x.buffer<std::uint8_t>(1, 16), x.buffer<std::uint8_t>(2, 16), st);
      break;
    case 20:
      AI_SimpleRead(h, x.buffer<double>(1, 1), x.buffer<double>(2, 1), x.buffer<double>(3, 1),
                    x.buffer<double>(4, 1), st);
      break;
    case 21:
      AI_SimpleReadTimer(h, x.buffer<double>(1, 1), x.buffer<double>(2, 1), x.buffer<double>(3, 1),
                         x.buffer<double>(4, 1), x.buffer<std::uint32_t>(5, 1), st);
      break;
    case 22:
      AI_ReadCh4(h, b0, x.buffer<double>(1, 1), st);
      break;
    case 23:
      AI_ReadCh4Timer(h, b0, x.buffer<double>(1, 1), x.buffer<std::uint32_t>(2, 1), st);
      break;
    case 24:
      AO_SimpleWrite(h, b0 % 3, volts * (b1 == 0xFF ? 1e300 : 1.0), st);
      break;
    case 25:
      AO_SetDACDivider(h, w0, st);
      break;
    case 26:
      I2C_Init(h, st);
      break;
    case 27:
      I2C_Start(h, st);
      break;
    case 28:
      I2C_Stop(h, st);
      break;
    case 29:
      I2C_Write(h, b0, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 30:
      I2C_Read(h, b0, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 31:
      I2C_SetTimeClock(h, b0, st);
      break;
    case 32:
      SPI_Init(h, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 33:
      SPI_Byte(h, b0, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 34:
      SPI_SetTimeClock(h, b0, st);
      break;
    case 35:
      SPI_Bit(h, b0, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 36:
      UART_Init(h, w0, b2, x.byte(3), st);
      break;
    case 37:
      UART_Interrupt(h, b0, st);
      break;
    case 38:
      UART_Close(h, st);
      break;
    case 39:
      UART_SetTimeOut(h, w0, st);
      break;
    case 40: {
      std::uint16_t *count = x.buffer<std::uint16_t>(1, 1);
      if (count != nullptr) *count = w0;
      UART_Read(h, count, x.buffer<std::uint8_t>(2, 64), x.buffer<std::uint8_t>(3, 1),
                x.buffer<std::uint8_t>(4, 1), st);
      break;
    }
    case 41:
      UART_Write(h, w0 % 80, x.buffer<std::uint8_t>(1, std::min<std::uint16_t>(w0 % 80, 64)), st);
      break;
    case 42:
      WR1_Init(h, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 43:
      WR1_Read(h, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 44:
      WR1_Write(h, b0, x.buffer<std::uint8_t>(1, 1), st);
      break;
    case 45:
      WR1_WriteSome(h, w0 % 80, x.buffer<std::uint8_t>(1, std::min<std::uint16_t>(w0 % 80, 64)),
                    st);
      break;
    case 46:
      WR1_SearchRom(h, x.buffer<std::uint8_t>(1, 1), x.buffer<std::uint8_t>(2, 8), st);
      break;
    case 47:
      WR1_ReadSome(h, w0 % 80, x.buffer<std::uint8_t>(1, std::min<std::uint16_t>(w0 % 80, 64)), st);
      break;
    case 48:
      Gen_Generate(h, w0, w2, w4, st);
      break;
    case 49:
      CountImp(h, w0, x.buffer<std::uint16_t>(1, 1), st);
      break;
    case 50:
      exp1_Init(h, st);
      break;
    case 51:
      hc595_Write(h, b0 % 80, x.buffer<std::uint8_t>(1, std::min<std::uint8_t>(b0 % 80, 64)), st);
      break;
    case 52: {
      std::uint8_t *count = x.buffer<std::uint8_t>(1, 1);
      if (count != nullptr) *count = b0;
      hc165_Read(h, count, x.buffer<std::uint8_t>(2, 64), st);
      break;
    }
    case 53: {
      // Only the enabled channels' arrays are used: min(count, 2000) + 1 words each.
      const std::uint16_t count = w4 % 2100;
      const std::size_t words = std::min<std::uint16_t>(count, 2000) + 1;
      std::uint16_t *arrays[4];
      for (int k = 0; k < 4; ++k)
        arrays[k] = (b0 >> k & 1) != 0 ? x.buffer<std::uint16_t>(1 + k, words) : nullptr;
      AI_Read(h, b0 & 1, b0 >> 1 & 1, b0 >> 2 & 1, b0 >> 3 & 1, b1, b2, w2, x.word(8), x.word(10),
              count, volts, x.buffer<std::uint8_t>(5, 1), x.buffer<std::uint32_t>(6, 1), arrays[0],
              arrays[1], arrays[2], arrays[3], x.buffer<std::int32_t>(5, 1), x.buffer<double>(6, 1),
              st);
      break;
    }
    case 54: {
      const std::uint16_t count = w4 % 4100;
      DIO_ScanPort(h, b0, b1, w2, x.word(8), x.word(10), count, x.buffer<std::uint8_t>(1, 1),
                   x.buffer<std::uint8_t>(2, std::min<std::uint16_t>(count, 4000) + 1),
                   x.buffer<double>(3, 1), st);
      break;
    }
    case 55: {
      const std::uint16_t length = w0 % 2100;
      DO_WaveOut(h, length, w2, x.buffer<std::uint8_t>(1, std::min<std::uint16_t>(length, 2000)),
                 st);
      break;
    }
    default:
      break;
  }
}

const char *const kFailable[] = {"OpenEx",      "Close",       "ResetDevice",
                                 "SetBaudRate", "SetTimeouts", "Purge 1",
                                 "Write",       "Read",        "ListDevices count"};

// Runs the input's calls on a fresh instance and returns every byte written to the
// driver. With poison set, the request payload buffer is filled with it before each
// call, which changes nothing sent as long as every request is written in full.
std::vector<std::uint8_t> run(const std::uint8_t *data, std::size_t size, std::size_t calls,
                              const std::uint8_t *poison) {
  testing::ScriptedDriverState state;
  testing::RecordingPlatform platform;
  const std::size_t failing = data[1] % 16;
  if (failing < std::size(kFailable)) state.failures[kFailable[failing]] = 1 + data[1] / 16;
  abi::replace_instance(
      std::make_unique<Library>(std::make_unique<testing::ScriptedDriver>(state), platform));
  std::uint32_t handle = 0;
  std::int32_t status = 0;
  KMT_InitBySN(&handle, "KMTC0002TEST01", &status);

  const std::size_t script = 2 + calls * kCallSize;
  testing::queue_reads_split_at_markers(state, data + script, size - script);
  for (std::size_t c = 0; c < calls; ++c) {
    const std::uint8_t *at = data + 2 + c * kCallSize;
    if (poison != nullptr) {
      std::memset(abi::instance().session.tx_payload(), *poison, KMT_PAYLOAD_SIZE);
    }
    Arguments arguments(at[1], at + 2);
    call(at[0] % kExports, arguments);
  }
  abi::replace_instance(nullptr);
  return state.written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2 + kCallSize) return 0;
  const std::size_t calls = 1 + data[0] % 4;
  if (size < 2 + calls * kCallSize) return 0;
  const std::vector<std::uint8_t> written = run(data, size, calls, nullptr);
  // A request byte a device function did not write would go out as the poison.
  const std::uint8_t poison = 0xA5;
  if (run(data, size, calls, &poison) != written) __builtin_trap();
  return 0;
}
