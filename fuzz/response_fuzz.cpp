// Feeds arbitrary controller responses to every device function and to the raw
// exchange. Under AddressSanitizer any read or write outside a buffer fails the run.
// The input: byte 0 picks the function, bytes 1..8 its arguments, the rest is what
// the controller sends, cut into reads at every 0xA5 0x5A marker.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "device/functions.h"
#include "library/instance.h"
#include "tests/support/scripted_driver.h"

using namespace kmt;
using namespace kmt::device;

namespace {

// Caller buffers of exactly the documented size, on the heap so overruns are caught.
template <class T>
std::unique_ptr<T[]> exact(std::size_t n) {
  return std::unique_ptr<T[]>(new T[n]());
}

void run(Library &lib, std::uint32_t *h, std::uint8_t which, const std::uint8_t *a) {
  std::int32_t st = 0;
  std::uint16_t w1 = static_cast<std::uint16_t>(a[1] | a[2] << 8);
  std::uint16_t w2 = static_cast<std::uint16_t>(a[3] | a[4] << 8);
  double volts = static_cast<std::int8_t>(a[5]) / 7.0;
  std::uint8_t b = 0, b2 = 0;
  std::uint16_t u16[4] = {};
  std::uint32_t u32 = 0;
  double d[5] = {};
  switch (which % 56) {
    case 0:
      SYS_GetFirmWare(lib, h, &u16[0], &u16[1], &u16[2], &u16[3], &st);
      break;
    case 1: {
      auto sn = exact<std::uint8_t>(16);
      SYS_ReadUserSN(lib, h, sn.get(), &st);
      break;
    }
    case 2: {
      auto sn = exact<std::uint8_t>(16);
      SYS_WriteUserSN(lib, h, sn.get(), &st);
      break;
    }
    case 3: {
      auto area = exact<std::uint8_t>(128);
      SYS_ReadUserArea(lib, h, area.get(), &st);
      break;
    }
    case 4: {
      auto area = exact<std::uint8_t>(128);
      SYS_WriteUserArea(lib, h, area.get(), &st);
      break;
    }
    case 5:
      WatchDog(lib, h, a[0], &st);
      break;
    case 6:
      SYS_ReadCount(lib, h, &u32, &st);
      break;
    case 7:
      DIO_SetBitMode(lib, h, a[0], a[1], &st);
      break;
    case 8:
      DIO_WriteBit(lib, h, a[0], a[1], &st);
      break;
    case 9:
      DIO_ReadPort(lib, h, a[0], &b, &st);
      break;
    case 10:
      DIO_WritePort(lib, h, a[0], a[1], &st);
      break;
    case 11:
      DIO_SetPortMode(lib, h, a[0], a[1], &st);
      break;
    case 12: {
      auto codes = exact<std::uint8_t>(16), values = exact<std::uint8_t>(16);
      std::memcpy(codes.get(), a, 8);
      DIO_WriteMask(lib, h, codes.get(), values.get(), &st);
      break;
    }
    case 13:
      AI_SimpleRead(lib, h, &d[0], &d[1], &d[2], &d[3], &st);
      break;
    case 14:
      AI_SimpleReadTimer(lib, h, &d[0], &d[1], &d[2], &d[3], &u32, &st);
      break;
    case 15:
      AI_ReadCh4(lib, h, a[0], &d[0], &st);
      break;
    case 16:
      AI_ReadCh4Timer(lib, h, a[0], &d[0], &u32, &st);
      break;
    case 17:
      AO_SimpleWrite(lib, h, a[0] % 3, volts * 1e300 * (a[6] & 1), &st);
      break;
    case 18:
      AO_SetDACDivider(lib, h, w1, &st);
      break;
    case 19:
      I2C_Init(lib, h, &st);
      break;
    case 20:
      I2C_Start(lib, h, &st);
      break;
    case 21:
      I2C_Stop(lib, h, &st);
      break;
    case 22:
      I2C_Write(lib, h, a[0], &b, &st);
      break;
    case 23:
      I2C_Read(lib, h, a[0], &b, &st);
      break;
    case 24:
      I2C_SetTimeClock(lib, h, a[0], &st);
      break;
    case 25:
      SPI_Init(lib, h, &a[0], &st);
      break;
    case 26:
      SPI_Byte(lib, h, a[0], &b, &st);
      break;
    case 27:
      SPI_SetTimeClock(lib, h, a[0], &st);
      break;
    case 28:
      SPI_Bit(lib, h, a[0], &b, &st);
      break;
    case 29:
      UART_Init(lib, h, w1, a[3], a[4], &st);
      break;
    case 30:
      UART_Interrupt(lib, h, a[0], &st);
      break;
    case 31:
      UART_Close(lib, h, &st);
      break;
    case 32:
      UART_SetTimeOut(lib, h, w1, &st);
      break;
    case 33: {
      auto data = exact<std::uint8_t>(64);
      std::uint16_t n = w1;
      UART_Read(lib, h, &n, data.get(), &b, &b2, &st);
      break;
    }
    case 34: {
      std::uint16_t n = w1 % 80;
      auto data = exact<std::uint8_t>(n > 64 ? 64 : n + 1);
      UART_Write(lib, h, n, data.get(), &st);
      break;
    }
    case 35:
      WR1_Init(lib, h, &b, &st);
      break;
    case 36:
      WR1_Read(lib, h, &b, &st);
      break;
    case 37:
      WR1_Write(lib, h, a[0], &b, &st);
      break;
    case 38: {
      std::uint16_t n = w1 % 80;
      auto data = exact<std::uint8_t>(n > 64 ? 64 : n + 1);
      WR1_WriteSome(lib, h, n, data.get(), &st);
      break;
    }
    case 39: {
      auto rom = exact<std::uint8_t>(8);
      WR1_SearchRom(lib, h, &b, rom.get(), &st);
      break;
    }
    case 40: {
      std::uint16_t n = w1 % 80;
      auto data = exact<std::uint8_t>(n > 64 ? 64 : n + 1);
      WR1_ReadSome(lib, h, n, data.get(), &st);
      break;
    }
    case 41:
      Gen_Generate(lib, h, w1, w2, static_cast<std::uint16_t>(a[5] << 4), &st);
      break;
    case 42:
      exp1_Init(lib, h, &st);
      break;
    case 43: {
      std::uint8_t n = a[0] % 80;
      auto data = exact<std::uint8_t>(n > 64 ? 64 : n + 1);
      hc595_Write(lib, h, n, data.get(), &st);
      break;
    }
    case 44: {
      auto data = exact<std::uint8_t>(64);
      std::uint8_t n = a[0];
      hc165_Read(lib, h, &n, data.get(), &st);
      break;
    }
    case 45:
      CountImp(lib, h, w1, &u16[0], &st);
      break;
    case 46: {
      std::uint16_t count = w2 % 2100;
      std::size_t n = (count > 2000 ? 2000 : count) + 1u;
      auto s1 = exact<std::uint16_t>(n), s2 = exact<std::uint16_t>(n), s3 = exact<std::uint16_t>(n),
           s4 = exact<std::uint16_t>(n);
      std::int32_t channels = 0;
      AI_Read(lib, h, a[0] & 1, a[0] >> 1 & 1, a[0] >> 2 & 1, a[0] >> 3 & 1, a[6], a[7], w1, w1, w1,
              count, volts, &b, &u32, s1.get(), s2.get(), s3.get(), s4.get(), &channels, &d[4],
              &st);
      break;
    }
    case 47: {
      std::uint16_t count = w2 % 4100;
      auto samples = exact<std::uint8_t>((count > 4000 ? 4000 : count) + 1u);
      DIO_ScanPort(lib, h, a[6], a[7], w1, w1, w1, count, &b, samples.get(), &d[4], &st);
      break;
    }
    case 48: {
      std::uint16_t n = w1 % 2100;
      auto data = exact<std::uint8_t>(n > 2000 ? 2000 : n + 1);
      DO_WaveOut(lib, h, n, w2, data.get(), &st);
      break;
    }
    default: {
      // The raw exchange with any group, command and request length.
      std::vector<std::uint8_t> buffer(Session::kPayloadSize);
      std::uint16_t length = w1;
      lib.session.send_comm(h, 0x0010, a[0], a[1], 0, buffer.data(), &length, &st);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 9) return 0;
  testing::ScriptedDriverState state;
  testing::RecordingPlatform platform;
  Library lib(std::make_unique<testing::ScriptedDriver>(state), platform);
  std::uint32_t handle = 0;
  std::int32_t status = 0;
  lib.session.init_by_sn(&handle, "KMTC0002TEST01", &status);

  testing::queue_reads_split_at_markers(state, data + 9, size - 9);
  run(lib, &handle, data[0], data + 1);
  return 0;
}
