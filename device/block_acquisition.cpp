#include <algorithm>
#include <cstring>

#include "device/analog_io.h"
#include "device/functions.h"
#include "protocol/byte_blocks.h"
#include "protocol/bytes.h"

namespace kmt::device {

namespace {

constexpr std::uint8_t kGroupBlock = 20;
constexpr std::uint8_t kGroupWave = 200;
constexpr std::uint16_t kMaxBlockSamples = 2000;
constexpr std::uint16_t kMaxScanSamples = 4000;
constexpr std::uint16_t kMaxWaveLength = 2000;
constexpr std::uint16_t kMaxTiming = 3000;
constexpr std::uint16_t kMinAuxWord1 = 10;
constexpr std::uint16_t kTimingOffset = 6;
constexpr std::uint16_t kWaveMode = 7;
constexpr std::size_t kBlockTrailer = 5;
// The threshold's scale differs from CountsToVolts: 1024 counts per 5 V.
constexpr double kThresholdCountsPer5V = 1024.0;

void put_word(std::uint8_t *p, std::uint16_t word) {
  p[0] = low_byte(word);
  p[1] = high_byte(word);
}

// The timing fields shared by the block and scan requests, with their clamps.
struct Timing {
  std::uint16_t sample_delay;  // clamped, before the offset
  std::uint16_t aux_word1;
  std::uint16_t aux_word2;  // clamped, before the offset
};

Timing clamp_timing(std::uint16_t sample_delay, std::uint16_t aux_word1, std::uint16_t aux_word2) {
  return Timing{std::min(sample_delay, kMaxTiming),
                std::max(std::min(aux_word1, kMaxTiming), kMinAuxWord1),
                std::min(aux_word2, kMaxTiming)};
}

// The six bytes both block requests end with: the auxiliary word, the two auxiliary
// bytes, and the second timing word with its offset.
void put_aux_fields(std::uint8_t *p, const Timing &timing, std::uint8_t aux_byte1,
                    std::uint8_t aux_byte2) {
  put_word(p, timing.aux_word1);
  p[2] = aux_byte1;
  p[3] = aux_byte2;
  put_word(p + 4, timing.aux_word2 + kTimingOffset);
}

// The response length as far as the payload buffer reaches; the exchange never
// announces more, this only keeps every index below inside the buffer regardless.
std::size_t response_length(const Exchange &ex) {
  return std::min<std::size_t>(ex.payload_length, Exchange::kPayloadSize);
}

}  // namespace

void AI_Read(Exchange &ex, uint32_t *handle, uint8_t channel_enable1, uint8_t channel_enable2,
             uint8_t channel_enable3, uint8_t channel_enable4, uint8_t aux_byte1, uint8_t aux_byte2,
             uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2, uint16_t sample_count,
             double threshold, uint8_t *trailer_byte, uint32_t *trailer_value, uint16_t *samples1,
             uint16_t *samples2, uint16_t *samples3, uint16_t *samples4, int32_t *channel_count,
             double *duration, int32_t *status) {
  const std::int32_t channels =
      channel_enable1 + channel_enable2 + channel_enable3 + channel_enable4;
  uint16_t *const arrays[4] = {samples1, samples2, samples3, samples4};
  // A null array that would be written: the call has no effect but status 4, as every
  // export does for a null pointer it would use.
  for (std::int32_t k = 0; k < channels && channels <= 4; ++k) {
    if (arrays[k] == nullptr) {
      *status = kStatusOutOfRange;
      return;
    }
  }
  *status = kStatusOk;
  *channel_count = channels;
  *duration = 0.0;
  if (channels < 1) return;

  const std::uint16_t samples = std::min(sample_count, kMaxBlockSamples);
  const Timing timing = clamp_timing(sample_delay, aux_word1, aux_word2);
  const std::uint16_t delay_sent = timing.sample_delay + kTimingOffset;

  std::uint8_t *p = ex.payload();
  p[0] = channel_enable1;
  p[1] = channel_enable2;
  p[2] = channel_enable3;
  p[3] = channel_enable4;
  put_word(p + 4, delay_sent);
  put_word(p + 6, samples);
  put_word(p + 8, VoltsToCode(threshold, kThresholdCountsPer5V));
  put_aux_fields(p + 10, timing, aux_byte1, aux_byte2);
  ex.payload_length = 16;
  ex.exchange(handle, kGroupBlock, 0, 1, status);
  if (*status != kStatusOk) return;

  const std::size_t length = response_length(ex);
  // A response too short for its trailer is malformed: it counts as a bad response,
  // with every output that comes from the response left as it was.
  if (length < kBlockTrailer) {
    *status = kStatusBadResponse;
    return;
  }

  // One sampling interval in microseconds, times the intervals, plus the block's
  // fixed 4 us, in seconds; evaluated left to right in double precision.
  *duration = ((channels * 108.7663 + 19.2327 + delay_sent) * samples + 4) / 1000000;

  const std::uint8_t *response = ex.response();
  const std::uint8_t *trailer = response + length - kBlockTrailer;
  *trailer_byte = trailer[0];
  *trailer_value = MakeLong(MakeWord(trailer[1], trailer[2]), MakeWord(trailer[3], trailer[4]));

  if (channels > 4) return;  // an enable byte above 1: positions mean nothing here
  // At most 4 words x 2001 groups = 16008 bytes: always inside the payload buffer.
  spread_words(response, static_cast<std::size_t>(samples) + 1, static_cast<std::size_t>(channels),
               arrays);
}

void DIO_ScanPort(Exchange &ex, uint32_t *handle, uint8_t aux_byte1, uint8_t aux_byte2,
                  uint16_t sample_delay, uint16_t aux_word1, uint16_t aux_word2,
                  uint16_t sample_count, uint8_t *trailer_byte, uint8_t *port_samples,
                  double *sample_period, int32_t *status) {
  const std::uint16_t samples = std::min(sample_count, kMaxScanSamples);
  const Timing timing = clamp_timing(sample_delay, aux_word1, aux_word2);

  // Time per sample in seconds: 19.996 us plus the delay per sample, plus 7.236 us per
  // block spread over the samples. With no interval at all the block is taken as one
  // interval long, so the period stays finite and nothing divides by zero.
  const double intervals = samples == 0 ? 1.0 : samples;
  *sample_period = ((timing.sample_delay + 19.996) * intervals + 7.236) / intervals * 0.000001;

  std::uint8_t *p = ex.payload();
  put_word(p + 0, timing.sample_delay + kTimingOffset);
  put_word(p + 2, samples);
  put_aux_fields(p + 4, timing, aux_byte1, aux_byte2);
  ex.payload_length = 10;
  ex.exchange(handle, kGroupBlock, 1, 1, status);
  if (*status != kStatusOk) return;

  const std::size_t length = response_length(ex);
  // An empty response has no last byte: a bad response, outputs left as they were.
  if (length == 0) {
    *status = kStatusBadResponse;
    return;
  }
  const std::uint8_t *response = ex.response();
  *trailer_byte = response[length - 1];
  std::memcpy(port_samples, response, static_cast<std::size_t>(samples) + 1);
}

void DO_WaveOut(Exchange &ex, uint32_t *handle, uint16_t wave_length, uint16_t /*wave_mode*/,
                const uint8_t *wave_data, int32_t *status) {
  if (wave_length == 0) return;
  if (wave_data == nullptr) {
    *status = kStatusOutOfRange;
    return;
  }
  // The controller knows one wave mode; whatever the caller asks for, 7 is sent.
  std::uint8_t *p = ex.payload();
  put_word(p, kWaveMode);
  const std::uint16_t length = std::min(wave_length, kMaxWaveLength);
  std::memcpy(p + 2, wave_data, length);
  ex.payload_length = length + 2;
  ex.exchange(handle, kGroupWave, 0, 0, status);
}

}  // namespace kmt::device
