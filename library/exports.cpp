// The exported C functions. Each checks its pointers (a data pointer that a count of 0
// leaves unused may be null; a null one in use stores 4 into a valid status), then hands
// over under the library lock (library/abi.h): discovery and connection to the session
// (protocol/), every other function to the device function of the same name in the
// source file of its family (device/). Discovery strings cross in the platform's string
// type (library/text.h).
#include <cstring>
#include <string>

#include "device/functions.h"
#include "kmtv1.h"
#include "library/abi.h"
#include "library/text.h"

using kmt::Library;
using kmt::abi::guarded;
using kmt::abi::if_used;
using kmt::abi::present;
using kmt::abi::refused;
using kmt::abi::serialised;
namespace device = kmt::device;

namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionBuild = 43;

}  // namespace

extern "C" {

KMT_API void KMT_CALL KMT_SendComm(uint32_t *handle, uint16_t frame_prefix, uint8_t group,
                                   uint8_t command, int32_t response_delay_ms, uint8_t *buffer,
                                   uint16_t *length, int32_t *status) {
  if (refused(status, handle, buffer, length)) return;
  guarded(status, [&](Library &lib) {
    lib.session.send_comm(handle, frame_prefix, group, command, response_delay_ms, buffer, length,
                          status);
  });
}

KMT_API void KMT_CALL KMT_CreateListDevs(kmt_text_in type_name, int32_t *count, int32_t *status) {
  if (refused(status, count)) return;
  guarded(status, [&](Library &lib) {
    lib.session.create_list_devs(kmt::abi::text_in(type_name), count, status);
  });
}

KMT_API void KMT_CALL KMT_GetTypeAndSNbyIndex(int32_t index, kmt_text_out type_out,
                                              kmt_text_out serial_out, int32_t *status) {
  if (refused(status, type_out, serial_out)) return;
  guarded(status, [&](Library &lib) {
    std::string type, serial;
    lib.session.get_type_and_sn_by_index(index, &type, &serial, status);
    kmt::abi::text_out(type, type_out);
    kmt::abi::text_out(serial, serial_out);
  });
}

KMT_API void KMT_CALL KMT_InitBySN(uint32_t *handle, kmt_text_in serial, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status,
          [&](Library &lib) { lib.session.init_by_sn(handle, kmt::abi::text_in(serial), status); });
}

KMT_API void KMT_CALL KMT_Close(uint32_t *handle, uint32_t /*unused*/) {
  if (!present(handle)) return;
  guarded(nullptr, [&](Library &lib) { lib.session.close(handle); });
}

KMT_API void KMT_CALL KMT_GetDriverVersion(int32_t *major, int32_t *minor, int32_t *build) {
  if (!present(major, minor, build)) return;
  serialised([&] {
    *major = kVersionMajor;
    *minor = kVersionMinor;
    *build = kVersionBuild;
  });
}

KMT_API void KMT_CALL SYS_GetDriverType(uint16_t *driver_type) {
  if (!present(driver_type)) return;
  serialised([&] { device::SYS_GetDriverType(driver_type); });
}

KMT_API void KMT_CALL SYS_GetFirmWare(uint32_t *handle, uint16_t *firmware1, uint16_t *firmware2,
                                      uint16_t *firmware3, uint16_t *firmware4, int32_t *status) {
  if (refused(status, handle, firmware1, firmware2, firmware3, firmware4)) return;
  guarded(status, [&](Library &lib) {
    device::SYS_GetFirmWare(lib, handle, firmware1, firmware2, firmware3, firmware4, status);
  });
}

KMT_API void KMT_CALL SYS_WriteUserSN(uint32_t *handle, const uint8_t *user_sn, int32_t *status) {
  if (refused(status, handle, user_sn)) return;
  guarded(status, [&](Library &lib) { device::SYS_WriteUserSN(lib, handle, user_sn, status); });
}

KMT_API void KMT_CALL SYS_ReadUserSN(uint32_t *handle, uint8_t *user_sn, int32_t *status) {
  if (refused(status, handle, user_sn)) return;
  guarded(status, [&](Library &lib) { device::SYS_ReadUserSN(lib, handle, user_sn, status); });
}

KMT_API void KMT_CALL SYS_WriteUserArea(uint32_t *handle, const uint8_t *user_area,
                                        int32_t *status) {
  if (refused(status, handle, user_area)) return;
  guarded(status, [&](Library &lib) { device::SYS_WriteUserArea(lib, handle, user_area, status); });
}

KMT_API void KMT_CALL SYS_ReadUserArea(uint32_t *handle, uint8_t *user_area, int32_t *status) {
  if (refused(status, handle, user_area)) return;
  guarded(status, [&](Library &lib) { device::SYS_ReadUserArea(lib, handle, user_area, status); });
}

KMT_API void KMT_CALL WatchDog(uint32_t *handle, uint8_t value, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::WatchDog(lib, handle, value, status); });
}

KMT_API void KMT_CALL SYS_ReadCount(uint32_t *handle, uint32_t *count, int32_t *status) {
  if (refused(status, handle, count)) return;
  guarded(status, [&](Library &lib) { device::SYS_ReadCount(lib, handle, count, status); });
}

KMT_API void KMT_CALL DIO_SetBitMode(uint32_t *handle, uint8_t bit, uint8_t mode, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::DIO_SetBitMode(lib, handle, bit, mode, status); });
}

KMT_API void KMT_CALL DIO_WriteBit(uint32_t *handle, uint8_t bit, uint8_t value, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::DIO_WriteBit(lib, handle, bit, value, status); });
}

KMT_API void KMT_CALL DIO_ReadPort(uint32_t *handle, uint8_t port, uint8_t *value,
                                   int32_t *status) {
  if (refused(status, handle, value)) return;
  guarded(status, [&](Library &lib) { device::DIO_ReadPort(lib, handle, port, value, status); });
}

KMT_API void KMT_CALL DIO_WritePort(uint32_t *handle, uint8_t port, uint8_t value,
                                    int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::DIO_WritePort(lib, handle, port, value, status); });
}

KMT_API void KMT_CALL DIO_SetPortMode(uint32_t *handle, uint8_t port, uint8_t mode,
                                      int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::DIO_SetPortMode(lib, handle, port, mode, status); });
}

KMT_API void KMT_CALL DIO_WriteMask(uint32_t *handle, const uint8_t *line_codes,
                                    const uint8_t *line_values, int32_t *status) {
  if (refused(status, handle, line_codes, line_values)) return;
  guarded(status, [&](Library &lib) {
    device::DIO_WriteMask(lib, handle, line_codes, line_values, status);
  });
}

KMT_API void KMT_CALL AI_SimpleRead(uint32_t *handle, double *volts1, double *volts2,
                                    double *volts3, double *volts4, int32_t *status) {
  if (refused(status, handle, volts1, volts2, volts3, volts4)) return;
  guarded(status, [&](Library &lib) {
    device::AI_SimpleRead(lib, handle, volts1, volts2, volts3, volts4, status);
  });
}

KMT_API void KMT_CALL AI_SimpleReadTimer(uint32_t *handle, double *volts1, double *volts2,
                                         double *volts3, double *volts4, uint32_t *timer,
                                         int32_t *status) {
  if (refused(status, handle, volts1, volts2, volts3, volts4, timer)) return;
  guarded(status, [&](Library &lib) {
    device::AI_SimpleReadTimer(lib, handle, volts1, volts2, volts3, volts4, timer, status);
  });
}

KMT_API void KMT_CALL AI_ReadCh4(uint32_t *handle, uint8_t channel, double *volts,
                                 int32_t *status) {
  if (refused(status, handle, volts)) return;
  guarded(status, [&](Library &lib) { device::AI_ReadCh4(lib, handle, channel, volts, status); });
}

KMT_API void KMT_CALL AI_ReadCh4Timer(uint32_t *handle, uint8_t channel, double *volts,
                                      uint32_t *timer, int32_t *status) {
  if (refused(status, handle, volts, timer)) return;
  guarded(status, [&](Library &lib) {
    device::AI_ReadCh4Timer(lib, handle, channel, volts, timer, status);
  });
}

KMT_API void KMT_CALL AO_SimpleWrite(uint32_t *handle, uint8_t channel, double volts,
                                     int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status,
          [&](Library &lib) { device::AO_SimpleWrite(lib, handle, channel, volts, status); });
}

KMT_API void KMT_CALL AO_SetDACDivider(uint32_t *handle, uint16_t divider, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::AO_SetDACDivider(lib, handle, divider, status); });
}

KMT_API void KMT_CALL I2C_Init(uint32_t *handle, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::I2C_Init(lib, handle, status); });
}

KMT_API void KMT_CALL I2C_Start(uint32_t *handle, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::I2C_Start(lib, handle, status); });
}

KMT_API void KMT_CALL I2C_Stop(uint32_t *handle, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::I2C_Stop(lib, handle, status); });
}

KMT_API void KMT_CALL I2C_Write(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                                int32_t *status) {
  if (refused(status, handle, rx_byte)) return;
  guarded(status, [&](Library &lib) { device::I2C_Write(lib, handle, tx_byte, rx_byte, status); });
}

KMT_API void KMT_CALL I2C_Read(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                               int32_t *status) {
  if (refused(status, handle, rx_byte)) return;
  guarded(status, [&](Library &lib) { device::I2C_Read(lib, handle, tx_byte, rx_byte, status); });
}

KMT_API void KMT_CALL I2C_SetTimeClock(uint32_t *handle, uint8_t clock_selector, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status,
          [&](Library &lib) { device::I2C_SetTimeClock(lib, handle, clock_selector, status); });
}

KMT_API void KMT_CALL SPI_Init(uint32_t *handle, const uint8_t *setting, int32_t *status) {
  if (refused(status, handle, setting)) return;
  guarded(status, [&](Library &lib) { device::SPI_Init(lib, handle, setting, status); });
}

KMT_API void KMT_CALL SPI_Byte(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                               int32_t *status) {
  if (refused(status, handle, rx_byte)) return;
  guarded(status, [&](Library &lib) { device::SPI_Byte(lib, handle, tx_byte, rx_byte, status); });
}

KMT_API void KMT_CALL SPI_SetTimeClock(uint32_t *handle, uint8_t clock_selector, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status,
          [&](Library &lib) { device::SPI_SetTimeClock(lib, handle, clock_selector, status); });
}

KMT_API void KMT_CALL SPI_Bit(uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte,
                              int32_t *status) {
  if (refused(status, handle, rx_byte)) return;
  guarded(status, [&](Library &lib) { device::SPI_Bit(lib, handle, tx_byte, rx_byte, status); });
}

KMT_API void KMT_CALL UART_Init(uint32_t *handle, uint16_t config_word, uint8_t config_byte1,
                                uint8_t config_byte2, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) {
    device::UART_Init(lib, handle, config_word, config_byte1, config_byte2, status);
  });
}

KMT_API void KMT_CALL UART_Interrupt(uint32_t *handle, uint8_t interrupt_setting, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status,
          [&](Library &lib) { device::UART_Interrupt(lib, handle, interrupt_setting, status); });
}

KMT_API void KMT_CALL UART_Close(uint32_t *handle, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::UART_Close(lib, handle, status); });
}

KMT_API void KMT_CALL UART_SetTimeOut(uint32_t *handle, uint16_t time_out, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::UART_SetTimeOut(lib, handle, time_out, status); });
}

KMT_API void KMT_CALL UART_Read(uint32_t *handle, uint16_t *count, uint8_t *data,
                                uint8_t *trailer_byte1, uint8_t *trailer_byte2, int32_t *status) {
  if (refused(status, handle, count, data, trailer_byte1, trailer_byte2)) return;
  guarded(status, [&](Library &lib) {
    device::UART_Read(lib, handle, count, data, trailer_byte1, trailer_byte2, status);
  });
}

KMT_API void KMT_CALL UART_Write(uint32_t *handle, uint16_t count, const uint8_t *data,
                                 int32_t *status) {
  if (refused(status, handle) || refused(status, if_used(count != 0, data))) return;
  guarded(status, [&](Library &lib) { device::UART_Write(lib, handle, count, data, status); });
}

KMT_API void KMT_CALL WR1_Init(uint32_t *handle, uint8_t *reply, int32_t *status) {
  if (refused(status, handle, reply)) return;
  guarded(status, [&](Library &lib) { device::WR1_Init(lib, handle, reply, status); });
}

KMT_API void KMT_CALL WR1_Read(uint32_t *handle, uint8_t *value, int32_t *status) {
  if (refused(status, handle, value)) return;
  guarded(status, [&](Library &lib) { device::WR1_Read(lib, handle, value, status); });
}

KMT_API void KMT_CALL WR1_Write(uint32_t *handle, uint8_t value, uint8_t *reply, int32_t *status) {
  if (refused(status, handle, reply)) return;
  guarded(status, [&](Library &lib) { device::WR1_Write(lib, handle, value, reply, status); });
}

KMT_API void KMT_CALL WR1_WriteSome(uint32_t *handle, uint16_t count, uint8_t *data,
                                    int32_t *status) {
  if (refused(status, handle) || refused(status, if_used(count != 0, data))) return;
  guarded(status, [&](Library &lib) { device::WR1_WriteSome(lib, handle, count, data, status); });
}

KMT_API void KMT_CALL WR1_SearchRom(uint32_t *handle, uint8_t *search_result, uint8_t *rom,
                                    int32_t *status) {
  if (refused(status, handle, search_result, rom)) return;
  guarded(status,
          [&](Library &lib) { device::WR1_SearchRom(lib, handle, search_result, rom, status); });
}

KMT_API void KMT_CALL WR1_ReadSome(uint32_t *handle, uint16_t count, uint8_t *data,
                                   int32_t *status) {
  if (refused(status, handle) || refused(status, if_used(count != 0, data))) return;
  guarded(status, [&](Library &lib) { device::WR1_ReadSome(lib, handle, count, data, status); });
}

KMT_API void KMT_CALL Gen_Generate(uint32_t *handle, uint16_t value1, uint16_t value2,
                                   uint16_t value3, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status,
          [&](Library &lib) { device::Gen_Generate(lib, handle, value1, value2, value3, status); });
}

KMT_API void KMT_CALL exp1_Init(uint32_t *handle, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) { device::exp1_Init(lib, handle, status); });
}

KMT_API void KMT_CALL hc595_Write(uint32_t *handle, uint8_t count, const uint8_t *data,
                                  int32_t *status) {
  if (refused(status, handle) || refused(status, if_used(count != 0, data))) return;
  guarded(status, [&](Library &lib) { device::hc595_Write(lib, handle, count, data, status); });
}

KMT_API void KMT_CALL hc165_Read(uint32_t *handle, uint8_t *count, uint8_t *data, int32_t *status) {
  if (refused(status, handle, count) || refused(status, if_used(*count != 0, data))) return;
  guarded(status, [&](Library &lib) { device::hc165_Read(lib, handle, count, data, status); });
}

KMT_API void KMT_CALL CountImp(uint32_t *handle, uint16_t selector, uint16_t *pulse_count,
                               int32_t *status) {
  if (refused(status, handle, pulse_count)) return;
  guarded(status,
          [&](Library &lib) { device::CountImp(lib, handle, selector, pulse_count, status); });
}

KMT_API void KMT_CALL AI_Read(uint32_t *handle, uint8_t channel_enable1, uint8_t channel_enable2,
                              uint8_t channel_enable3, uint8_t channel_enable4, uint8_t aux_byte1,
                              uint8_t aux_byte2, uint16_t sample_delay, uint16_t aux_word1,
                              uint16_t aux_word2, uint16_t sample_count, double threshold,
                              uint8_t *trailer_byte, uint32_t *trailer_value, uint16_t *samples1,
                              uint16_t *samples2, uint16_t *samples3, uint16_t *samples4,
                              int32_t *channel_count, double *duration, int32_t *status) {
  if (refused(status, handle, trailer_byte, trailer_value, channel_count, duration)) return;
  guarded(status, [&](Library &lib) {
    device::AI_Read(lib, handle, channel_enable1, channel_enable2, channel_enable3, channel_enable4,
                    aux_byte1, aux_byte2, sample_delay, aux_word1, aux_word2, sample_count,
                    threshold, trailer_byte, trailer_value, samples1, samples2, samples3, samples4,
                    channel_count, duration, status);
  });
}

KMT_API void KMT_CALL DIO_ScanPort(uint32_t *handle, uint8_t aux_byte1, uint8_t aux_byte2,
                                   uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2,
                                   uint16_t sample_count, uint8_t *trailer_byte,
                                   uint8_t *port_samples, double *sample_period, int32_t *status) {
  if (refused(status, handle, trailer_byte, port_samples, sample_period)) return;
  guarded(status, [&](Library &lib) {
    device::DIO_ScanPort(lib, handle, aux_byte1, aux_byte2, sample_delay, aux_word1, aux_word2,
                         sample_count, trailer_byte, port_samples, sample_period, status);
  });
}

KMT_API void KMT_CALL DO_WaveOut(uint32_t *handle, uint16_t wave_length, uint16_t wave_mode,
                                 const uint8_t *wave_data, int32_t *status) {
  if (refused(status, handle)) return;
  guarded(status, [&](Library &lib) {
    device::DO_WaveOut(lib, handle, wave_length, wave_mode, wave_data, status);
  });
}

}  // extern "C"
