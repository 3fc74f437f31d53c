// The device functions, one per export of the same name, grouped by function family;
// each family lives in the source file of the same name in this folder:
//   system.cpp, digital_io.cpp, analog_io.cpp, block_acquisition.cpp, i2c_spi.cpp,
//   uart.cpp, one_wire.cpp, generator_counter_expansion.cpp.
// Arguments are exactly those of the exports; pointers are valid where used.
#pragma once

#include <cstdint>

#include "protocol/exchange.h"

namespace kmt::device {

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

// Driver type constant; needs no library instance and no device.
void SYS_GetDriverType(uint16_t *driver_type);
void SYS_GetFirmWare(Exchange &ex, uint32_t *handle, uint16_t *firmware1, uint16_t *firmware2,
                     uint16_t *firmware3, uint16_t *firmware4, int32_t *status);
void SYS_WriteUserSN(Exchange &ex, uint32_t *handle, const uint8_t *user_sn, int32_t *status);
void SYS_ReadUserSN(Exchange &ex, uint32_t *handle, uint8_t *user_sn, int32_t *status);
void SYS_WriteUserArea(Exchange &ex, uint32_t *handle, const uint8_t *user_area, int32_t *status);
void SYS_ReadUserArea(Exchange &ex, uint32_t *handle, uint8_t *user_area, int32_t *status);
void WatchDog(Exchange &ex, uint32_t *handle, uint8_t value, int32_t *status);
void SYS_ReadCount(Exchange &ex, uint32_t *handle, uint32_t *count, int32_t *status);
void DIO_SetBitMode(Exchange &ex, uint32_t *handle, uint8_t bit, uint8_t mode, int32_t *status);
void DIO_WriteBit(Exchange &ex, uint32_t *handle, uint8_t bit, uint8_t value, int32_t *status);
void DIO_ReadPort(Exchange &ex, uint32_t *handle, uint8_t port, uint8_t *value, int32_t *status);
void DIO_WritePort(Exchange &ex, uint32_t *handle, uint8_t port, uint8_t value, int32_t *status);
void DIO_SetPortMode(Exchange &ex, uint32_t *handle, uint8_t port, uint8_t mode, int32_t *status);
void DIO_WriteMask(Exchange &ex, uint32_t *handle, const uint8_t *line_codes,
                   const uint8_t *line_values, int32_t *status);
void AI_SimpleRead(Exchange &ex, uint32_t *handle, double *volts1, double *volts2, double *volts3,
                   double *volts4, int32_t *status);
void AI_SimpleReadTimer(Exchange &ex, uint32_t *handle, double *volts1, double *volts2,
                        double *volts3, double *volts4, uint32_t *timer, int32_t *status);
void AI_ReadCh4(Exchange &ex, uint32_t *handle, uint8_t channel, double *volts, int32_t *status);
void AI_ReadCh4Timer(Exchange &ex, uint32_t *handle, uint8_t channel, double *volts,
                     uint32_t *timer, int32_t *status);
void AO_SimpleWrite(Exchange &ex, uint32_t *handle, uint8_t channel, double volts, int32_t *status);
void AO_SetDACDivider(Exchange &ex, uint32_t *handle, uint16_t divider, int32_t *status);
void I2C_Init(Exchange &ex, uint32_t *handle, int32_t *status);
void I2C_Start(Exchange &ex, uint32_t *handle, int32_t *status);
void I2C_Stop(Exchange &ex, uint32_t *handle, int32_t *status);
void I2C_Write(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status);
void I2C_Read(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status);
void I2C_SetTimeClock(Exchange &ex, uint32_t *handle, uint8_t clock_selector, int32_t *status);
void SPI_Init(Exchange &ex, uint32_t *handle, const uint8_t *setting, int32_t *status);
void SPI_Byte(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status);
void SPI_SetTimeClock(Exchange &ex, uint32_t *handle, uint8_t clock_selector, int32_t *status);
void SPI_Bit(Exchange &ex, uint32_t *handle, uint8_t tx_byte, uint8_t *rx_byte, int32_t *status);
void UART_Init(Exchange &ex, uint32_t *handle, uint16_t config_word, uint8_t config_byte1,
               uint8_t config_byte2, int32_t *status);
void UART_Interrupt(Exchange &ex, uint32_t *handle, uint8_t interrupt_setting, int32_t *status);
void UART_Close(Exchange &ex, uint32_t *handle, int32_t *status);
void UART_SetTimeOut(Exchange &ex, uint32_t *handle, uint16_t time_out, int32_t *status);
void UART_Read(Exchange &ex, uint32_t *handle, uint16_t *count, uint8_t *data,
               uint8_t *trailer_byte1, uint8_t *trailer_byte2, int32_t *status);
void UART_Write(Exchange &ex, uint32_t *handle, uint16_t count, const uint8_t *data,
                int32_t *status);
void WR1_Init(Exchange &ex, uint32_t *handle, uint8_t *reply, int32_t *status);
void WR1_Read(Exchange &ex, uint32_t *handle, uint8_t *value, int32_t *status);
void WR1_Write(Exchange &ex, uint32_t *handle, uint8_t value, uint8_t *reply, int32_t *status);
void WR1_WriteSome(Exchange &ex, uint32_t *handle, uint16_t count, uint8_t *data, int32_t *status);
void WR1_SearchRom(Exchange &ex, uint32_t *handle, uint8_t *search_result, uint8_t *rom,
                   int32_t *status);
void WR1_ReadSome(Exchange &ex, uint32_t *handle, uint16_t count, uint8_t *data, int32_t *status);
void Gen_Generate(Exchange &ex, uint32_t *handle, uint16_t value1, uint16_t value2, uint16_t value3,
                  int32_t *status);
void exp1_Init(Exchange &ex, uint32_t *handle, int32_t *status);
void hc595_Write(Exchange &ex, uint32_t *handle, uint8_t count, const uint8_t *data,
                 int32_t *status);
void hc165_Read(Exchange &ex, uint32_t *handle, uint8_t *count, uint8_t *data, int32_t *status);
void CountImp(Exchange &ex, uint32_t *handle, uint16_t selector, uint16_t *pulse_count,
              int32_t *status);
void AI_Read(Exchange &ex, uint32_t *handle, uint8_t channel_enable1, uint8_t channel_enable2,
             uint8_t channel_enable3, uint8_t channel_enable4, uint8_t aux_byte1, uint8_t aux_byte2,
             uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2, uint16_t sample_count,
             double threshold, uint8_t *trailer_byte, uint32_t *trailer_value, uint16_t *samples1,
             uint16_t *samples2, uint16_t *samples3, uint16_t *samples4, int32_t *channel_count,
             double *duration, int32_t *status);
void DIO_ScanPort(Exchange &ex, uint32_t *handle, uint8_t aux_byte1, uint8_t aux_byte2,
                  uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2,
                  uint16_t sample_count, uint8_t *trailer_byte, uint8_t *port_samples,
                  double *sample_period, int32_t *status);
void DO_WaveOut(Exchange &ex, uint32_t *handle, uint16_t wave_length, uint16_t wave_mode,
                const uint8_t *wave_data, int32_t *status);

}  // namespace kmt::device
