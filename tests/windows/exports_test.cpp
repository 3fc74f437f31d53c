// KMTv1dll.dll as a host that links nothing sees it: every export looked up by name
// and called through a pointer type written here from the functions' definitions
// (8- and 16-bit by-value arguments, doubles, 32-bit handles and statuses), not from
// the library's header. Two sessions: against the drop-in ftd2xx.dll beside the
// program (WithSimulatedDriver), and in a directory without any ftd2xx.dll
// (WithoutDriver); ctest runs each where it belongs. A third, through the network
// provider (OverNetwork), runs where a script has started ser2net.
#include <windows.h>
// windows.h first: the OLE headers rely on its definitions.
#include <gtest/gtest.h>
#include <oleauto.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

// The version macros alone (no declarations): what the DLL must report.
#include "kmtv1_version.h"

namespace {

using Handle = std::uint32_t;
using Status = std::int32_t;

const char *const kExports[] = {
    "KMT_SendComm",       "KMT_CreateListDevs", "KMT_GetTypeAndSNbyIndex",
    "KMT_InitBySN",       "KMT_Close",          "KMT_GetDriverVersion",
    "SYS_GetDriverType",  "SYS_GetFirmWare",    "SYS_WriteUserSN",
    "SYS_ReadUserSN",     "SYS_WriteUserArea",  "SYS_ReadUserArea",
    "WatchDog",           "SYS_ReadCount",      "DIO_SetBitMode",
    "DIO_WriteBit",       "DIO_ReadPort",       "DIO_WritePort",
    "DIO_SetPortMode",    "DIO_WriteMask",      "AI_SimpleRead",
    "AI_SimpleReadTimer", "AI_ReadCh4",         "AI_ReadCh4Timer",
    "AO_SimpleWrite",     "AO_SetDACDivider",   "I2C_Init",
    "I2C_Start",          "I2C_Stop",           "I2C_Write",
    "I2C_Read",           "I2C_SetTimeClock",   "SPI_Init",
    "SPI_Byte",           "SPI_SetTimeClock",   "SPI_Bit",
    "UART_Init",          "UART_Interrupt",     "UART_Close",
    "UART_SetTimeOut",    "UART_Read",          "UART_Write",
    "WR1_Init",           "WR1_Read",           "WR1_Write",
    "WR1_WriteSome",      "WR1_SearchRom",      "WR1_ReadSome",
    "Gen_Generate",       "exp1_Init",          "hc595_Write",
    "hc165_Read",         "CountImp",           "AI_Read",
    "DIO_ScanPort",       "DO_WaveOut",
};

HMODULE library() {
  static HMODULE module = ::LoadLibraryA("KMTv1dll.dll");
  return module;
}

template <class Function>
Function entry(const char *name) {
  return reinterpret_cast<Function>(reinterpret_cast<void *>(::GetProcAddress(library(), name)));
}

// Pointer types, one per shape of argument list.
using VersionFn = void(__stdcall *)(std::int32_t *, std::int32_t *, std::int32_t *);
using ListFn = void(__stdcall *)(VARIANT *, std::int32_t *, Status *);
using ByIndexFn = void(__stdcall *)(std::int32_t, VARIANT *, VARIANT *, Status *);
using OpenFn = void(__stdcall *)(Handle *, VARIANT *, Status *);
using CloseFn = void(__stdcall *)(Handle *, std::uint32_t);
using SendCommFn = void(__stdcall *)(Handle *, std::uint16_t, std::uint8_t, std::uint8_t,
                                     std::int32_t, std::uint8_t *, std::uint16_t *, Status *);
using HandleOnlyFn = void(__stdcall *)(Handle *, Status *);
using FourWordsFn = void(__stdcall *)(Handle *, std::uint16_t *, std::uint16_t *, std::uint16_t *,
                                      std::uint16_t *, Status *);
// The 8-bit arguments of these three are declared 32-bit here, to send garbage in the
// upper bits that the library must not read.
using TwoSlotsFn = void(__stdcall *)(Handle *, std::uint32_t, std::uint32_t, Status *);
using SlotAndByteFn = void(__stdcall *)(Handle *, std::uint32_t, std::uint8_t *, Status *);
using AnalogOutFn = void(__stdcall *)(Handle *, std::uint8_t, double, Status *);
using AnalogInFn = void(__stdcall *)(Handle *, std::uint8_t, double *, Status *);
using UartInitFn = void(__stdcall *)(Handle *, std::uint16_t, std::uint8_t, std::uint8_t, Status *);
using ByteOutFn = void(__stdcall *)(Handle *, std::uint8_t *, Status *);
using GenerateFn = void(__stdcall *)(Handle *, std::uint16_t, std::uint16_t, std::uint16_t,
                                     Status *);
using CountFn = void(__stdcall *)(Handle *, std::uint16_t, std::uint16_t *, Status *);
using BlockFn = void(__stdcall *)(Handle *, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t,
                                  std::uint8_t, std::uint8_t, std::uint16_t, std::uint16_t,
                                  std::uint16_t, std::uint16_t, double, std::uint8_t *,
                                  std::uint32_t *, std::uint16_t *, std::uint16_t *,
                                  std::uint16_t *, std::uint16_t *, std::int32_t *, double *,
                                  Status *);
using WaveFn = void(__stdcall *)(Handle *, std::uint16_t, std::uint16_t, const std::uint8_t *,
                                 Status *);

// A VARIANT that clears itself.
struct Variant {
  VARIANT v;
  Variant() { ::VariantInit(&v); }
  ~Variant() { ::VariantClear(&v); }
  static Variant text(const wchar_t *text) {
    Variant result;
    V_VT(&result.v) = VT_BSTR;
    V_BSTR(&result.v) = ::SysAllocString(text);
    return result;
  }
  static Variant number(LONG value) {
    Variant result;
    V_VT(&result.v) = VT_I4;
    V_I4(&result.v) = value;
    return result;
  }
  std::wstring str() const {
    return V_VT(&v) == VT_BSTR ? std::wstring(V_BSTR(&v), ::SysStringLen(V_BSTR(&v)))
                               : L"<not a string>";
  }
  Variant(Variant &&other) : v(other.v) { ::VariantInit(&other.v); }
  VARIANT *get() { return &v; }
};

TEST(Exports, EveryNameResolvesUndecorated) {
  ASSERT_NE(library(), nullptr) << "KMTv1dll.dll beside the program";
  for (const char *name : kExports) {
    EXPECT_NE(::GetProcAddress(library(), name), nullptr) << name;
  }
  EXPECT_EQ(::GetProcAddress(library(), "AI_Read@88"), nullptr);
  EXPECT_EQ(::GetProcAddress(library(), "_AI_Read@88"), nullptr);
}

#if defined(__i386__)
// Pushes slots[n-1] .. slots[0], calls function and answers the stack pointer after the
// call minus the one before the pushes: 0 when the function removed exactly its n
// argument slots, as __stdcall requires.
extern "C" int stack_imbalance(void *function, const std::uint32_t *slots, int n);
asm(R"(
  .text
  .globl _stack_imbalance
_stack_imbalance:
  push %ebp
  mov %esp, %ebp
  push %esi
  push %edi
  push %ebx
  mov 8(%ebp), %eax
  mov 12(%ebp), %esi
  mov 16(%ebp), %ecx
  mov %esp, %edi
1:
  test %ecx, %ecx
  jz 2f
  push -4(%esi,%ecx,4)
  dec %ecx
  jmp 1b
2:
  call *%eax
  mov %esp, %eax
  sub %edi, %eax
  mov %edi, %esp
  pop %ebx
  pop %edi
  pop %esi
  pop %ebp
  ret
)");

// Every export, called with its argument slots (one letter each: p pointer, l 32-bit,
// w 16-bit, b 8-bit, d double), removes exactly those slots. By-value 8- and 16-bit
// slots carry garbage in their upper bits; pointers point to zeroed scratch blocks.
TEST(WithSimulatedDriver, EveryExportRemovesExactlyItsArguments) {
  const struct {
    const char *name, *arguments;
  } rows[] = {
      {"KMT_SendComm", "pwbblppp"},
      {"KMT_CreateListDevs", "ppp"},
      {"KMT_GetTypeAndSNbyIndex", "lppp"},
      {"KMT_InitBySN", "ppp"},
      {"KMT_Close", "pl"},
      {"KMT_GetDriverVersion", "ppp"},
      {"SYS_GetDriverType", "p"},
      {"SYS_GetFirmWare", "pppppp"},
      {"SYS_WriteUserSN", "ppp"},
      {"SYS_ReadUserSN", "ppp"},
      {"SYS_WriteUserArea", "ppp"},
      {"SYS_ReadUserArea", "ppp"},
      {"WatchDog", "pbp"},
      {"SYS_ReadCount", "ppp"},
      {"DIO_SetBitMode", "pbbp"},
      {"DIO_WriteBit", "pbbp"},
      {"DIO_ReadPort", "pbpp"},
      {"DIO_WritePort", "pbbp"},
      {"DIO_SetPortMode", "pbbp"},
      {"DIO_WriteMask", "pppp"},
      {"AI_SimpleRead", "pppppp"},
      {"AI_SimpleReadTimer", "ppppppp"},
      {"AI_ReadCh4", "pbpp"},
      {"AI_ReadCh4Timer", "pbppp"},
      {"AO_SimpleWrite", "pbdp"},
      {"AO_SetDACDivider", "pwp"},
      {"I2C_Init", "pp"},
      {"I2C_Start", "pp"},
      {"I2C_Stop", "pp"},
      {"I2C_Write", "pbpp"},
      {"I2C_Read", "pbpp"},
      {"I2C_SetTimeClock", "pbp"},
      {"SPI_Init", "ppp"},
      {"SPI_Byte", "pbpp"},
      {"SPI_SetTimeClock", "pbp"},
      {"SPI_Bit", "pbpp"},
      {"UART_Init", "pwbbp"},
      {"UART_Interrupt", "pbp"},
      {"UART_Close", "pp"},
      {"UART_SetTimeOut", "pwp"},
      {"UART_Read", "pppppp"},
      {"UART_Write", "pwpp"},
      {"WR1_Init", "ppp"},
      {"WR1_Read", "ppp"},
      {"WR1_Write", "pbpp"},
      {"WR1_WriteSome", "pwpp"},
      {"WR1_SearchRom", "pppp"},
      {"WR1_ReadSome", "pwpp"},
      {"Gen_Generate", "pwwwp"},
      {"exp1_Init", "pp"},
      {"hc595_Write", "pbpp"},
      {"hc165_Read", "pppp"},
      {"CountImp", "pwpp"},
      {"AI_Read", "pbbbbbbwwwwdppppppppp"},
      {"DIO_ScanPort", "pbbwwwwpppp"},
      {"DO_WaveOut", "pwwpp"},
  };
  ASSERT_EQ(std::size(rows), std::size(kExports));
  static std::uint8_t scratch[12][32768];
  for (const auto &row : rows) {
    std::memset(scratch, 0, sizeof scratch);
    std::uint32_t slots[32];
    int n = 0, pointers = 0;
    for (const char *kind = row.arguments; *kind != '\0'; ++kind) {
      switch (*kind) {
        case 'p':
          slots[n++] = reinterpret_cast<std::uintptr_t>(scratch[pointers++]);
          break;
        case 'b':
          slots[n++] = 0xA5A5A500u | 3;
          break;
        case 'w':
          slots[n++] = 0x5A5A0000u | 3;
          break;
        case 'l':
          slots[n++] = 3;
          break;
        case 'd':
          slots[n++] = 0;
          slots[n++] = 0x3FF00000u;
          break;  // 1.0
      }
    }
    void *function = reinterpret_cast<void *>(::GetProcAddress(library(), row.name));
    ASSERT_NE(function, nullptr) << row.name;
    EXPECT_EQ(stack_imbalance(function, slots, n), 0) << row.name;
  }
}
#endif

TEST(WithSimulatedDriver, DiscoveryOpenEveryFamilyAndClose) {
  ASSERT_NE(library(), nullptr);
  auto list = entry<ListFn>("KMT_CreateListDevs");
  auto by_index = entry<ByIndexFn>("KMT_GetTypeAndSNbyIndex");
  auto open = entry<OpenFn>("KMT_InitBySN");
  auto close = entry<CloseFn>("KMT_Close");

  std::int32_t count = -1;
  Status status = -1;
  list(Variant::text(L"kmtcv1").get(), &count, &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(count, 1) << "ftd2xx-sim.cfg beside the drop-in lists one KMTC0002 device";
  list(Variant::number(20240607).get(), &count, &status);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(status, 3) << "a number converts to its digits, which name no type";

  // The outputs held other values before; they are released and replaced.
  Variant type = Variant::text(L"previous"), serial = Variant::number(5);
  by_index(0, &type.v, &serial.v, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(type.str(), L"KMTC0002");
  EXPECT_EQ(serial.str(), L"SIM00001");

  // The second simulated device's serial-number string is all digits: a number opens it.
  Handle handle = 0;
  open(&handle, Variant::number(20240607).get(), &status);
  EXPECT_EQ(status, 0);
  close(&handle, 0xDEADBEEF);

  open(&handle, Variant::text(L"KMTC0002SIM00001").get(), &status);
  ASSERT_EQ(status, 0);

  std::uint8_t payload[16385] = {};
  std::uint16_t length = 0;
  entry<SendCommFn>("KMT_SendComm")(&handle, 0x0010, 1, 0, 0, payload, &length, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(length, 8);

  std::uint16_t words[4] = {};
  entry<FourWordsFn>("SYS_GetFirmWare")(&handle, &words[0], &words[1], &words[2], &words[3],
                                        &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(words[2], 43);

  // Line 0 as an output, set to 1, read back on port 0; only the low 8 bits count.
  entry<TwoSlotsFn>("DIO_SetBitMode")(&handle, 0xDEAD0000u, 0xBEEF0001u, &status);
  EXPECT_EQ(status, 0);
  entry<TwoSlotsFn>("DIO_WriteBit")(&handle, 0x12345600u, 0x77777701u, &status);
  EXPECT_EQ(status, 0);
  std::uint8_t port = 0;
  entry<SlotAndByteFn>("DIO_ReadPort")(&handle, 0xABCDEF00u, &port, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(port & 1, 1);

  entry<AnalogOutFn>("AO_SimpleWrite")(&handle, 0, 2.5, &status);
  EXPECT_EQ(status, 0);
  double volts = -1;
  entry<AnalogInFn>("AI_ReadCh4")(&handle, 0, &volts, &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(volts >= 0 && volts <= 5.01) << volts;

  struct Family {
    const char *name;
    void (*call)(Handle *, Status *);
  } families[] = {
      {"I2C", [](Handle *h, Status *s) { entry<HandleOnlyFn>("I2C_Init")(h, s); }},
      {"SPI",
       [](Handle *h, Status *s) {
         std::uint8_t rx = 0;
         entry<SlotAndByteFn>("SPI_Byte")(h, 0x5A, &rx, s);
       }},
      {"UART", [](Handle *h, Status *s) { entry<UartInitFn>("UART_Init")(h, 9600, 0, 0, s); }},
      {"1-Wire",
       [](Handle *h, Status *s) {
         std::uint8_t presence = 0;
         entry<ByteOutFn>("WR1_Init")(h, &presence, s);
       }},
      {"generator",
       [](Handle *h, Status *s) { entry<GenerateFn>("Gen_Generate")(h, 100, 10, 500, s); }},
      {"counter",
       [](Handle *h, Status *s) {
         std::uint16_t pulses = 0;
         entry<CountFn>("CountImp")(h, 7, &pulses, s);
       }},
      {"block acquisition",
       [](Handle *h, Status *s) {
         std::uint16_t samples[10] = {};
         std::uint8_t trailer = 0;
         std::uint32_t trailer_value = 0;
         std::int32_t channels = 0;
         double duration = -1;
         entry<BlockFn>("AI_Read")(h, 1, 0, 0, 0, 0, 0, 100, 10, 0, 9, 2.5, &trailer,
                                   &trailer_value, samples, nullptr, nullptr, nullptr, &channels,
                                   &duration, s);
         EXPECT_EQ(channels, 1);
         EXPECT_GT(duration, 0.0);
       }},
      {"waveform output",
       [](Handle *h, Status *s) {
         const std::uint8_t wave[4] = {1, 2, 4, 8};
         entry<WaveFn>("DO_WaveOut")(h, 4, 0, wave, s);
       }},
  };
  for (const Family &family : families) {
    Status family_status = -1;
    family.call(&handle, &family_status);
    EXPECT_EQ(family_status, 0) << family.name;
  }

  close(&handle, 0);
  entry<FourWordsFn>("SYS_GetFirmWare")(&handle, &words[0], &words[1], &words[2], &words[3],
                                        &status);
  EXPECT_EQ(status, 1) << "closed";
}

TEST(WithoutDriver, LoadsAnswersTheVersionAndFindsNothing) {
  ASSERT_NE(library(), nullptr);
  std::int32_t major = 0, minor = -1, build = 0;
  entry<VersionFn>("KMT_GetDriverVersion")(&major, &minor, &build);
  EXPECT_EQ(major, KMT_VERSION_MAJOR);
  EXPECT_EQ(minor, KMT_VERSION_MINOR);
  EXPECT_EQ(build, KMT_VERSION_BUILD);

  std::int32_t count = -1;
  Status status = -1;
  entry<ListFn>("KMT_CreateListDevs")(Variant::text(L"KMTCV1").get(), &count, &status);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(status, 2) << "FT_DEVICE_NOT_FOUND";
  Handle handle = 0;
  entry<OpenFn>("KMT_InitBySN")(&handle, Variant::text(L"KMTC0002SIM00001").get(), &status);
  EXPECT_EQ(status, 1);
  std::uint8_t port = 0x5A;
  entry<SlotAndByteFn>("DIO_ReadPort")(&handle, 0, &port, &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(port, 0x5A);
  EXPECT_EQ(::GetModuleHandleA("ftd2xx.dll"), nullptr);
}

}  // namespace

// One session through the network provider: tests/windows/rfc2217_session.sh runs this
// under Wine with KMT_DRIVER naming ser2net on loopback, in front of the simulated
// controller behind a pseudo-terminal (Wine maps Winsock onto the host's sockets).
TEST(OverNetwork, DiscoveryOpenExchangesAndCloseThroughRfc2217) {
  const char *driver = std::getenv("KMT_DRIVER");
  if (driver == nullptr || std::strncmp(driver, "rfc2217:", 8) != 0) {
    GTEST_SKIP() << "needs KMT_DRIVER=rfc2217:HOST:PORT";
  }
  ASSERT_NE(library(), nullptr);
  std::int32_t count = -1;
  Status status = -1;
  entry<ListFn>("KMT_CreateListDevs")(Variant::text(L"KMTCV1").get(), &count, &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(count, 1) << "the server's signature names the controller";
  Variant type, serial;
  entry<ByIndexFn>("KMT_GetTypeAndSNbyIndex")(0, &type.v, &serial.v, &status);
  EXPECT_EQ(type.str(), L"KMTC0002");
  Handle handle = 0;
  entry<OpenFn>("KMT_InitBySN")(&handle, Variant::text((type.str() + serial.str()).c_str()).get(),
                                &status);
  ASSERT_EQ(status, 0);

  std::uint16_t words[4] = {};
  entry<FourWordsFn>("SYS_GetFirmWare")(&handle, &words[0], &words[1], &words[2], &words[3],
                                        &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(words[2], 43);
  // A 4 x 2001 block: 16 KB through the telnet layer.
  std::vector<std::uint16_t> samples(4 * 2001);
  std::uint8_t trailer = 0;
  std::uint32_t trailer_value = 0;
  std::int32_t channels = 0;
  double duration = -1;
  std::uint16_t *s = samples.data();
  entry<BlockFn>("AI_Read")(&handle, 1, 1, 1, 1, 0, 0, 100, 10, 0, 2000, 2.5, &trailer,
                            &trailer_value, s, s + 2001, s + 4002, s + 6003, &channels, &duration,
                            &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(channels, 4);

  entry<CloseFn>("KMT_Close")(&handle, 0);
  entry<FourWordsFn>("SYS_GetFirmWare")(&handle, &words[0], &words[1], &words[2], &words[3],
                                        &status);
  EXPECT_EQ(status, 1) << "closed";
}
