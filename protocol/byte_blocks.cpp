// Wide steps without intrinsics, assembly or CPU-specific build flags. The portable
// checksum keeps 32 byte lanes that the compilers turn into vector additions at -O2
// already; modulo 256 the lanes can wrap freely, so their sum is the plain sum. The
// portable word spreading uses the compiler's generic vector types (GCC and Clang)
// where available, with the plain loop everywhere else and on big-endian hosts.
// One implementation for every processor: the block's time on the wire dwarfs the
// microsecond a processor-specific path could save.
#include "protocol/byte_blocks.h"

#include <bit>
#include <cstring>
#include <functional>

#include "protocol/bytes.h"

namespace kmt {

namespace {

void spread_plain(const std::uint8_t *data, std::size_t first, std::size_t groups,
                  std::size_t count, std::uint16_t *const *arrays) {
  for (std::size_t i = first; i < groups; ++i) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint8_t *word = data + 2 * (count * i + k);
      arrays[k][i] = MakeWord(word[0], word[1]);
    }
  }
}

#if defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector)
#define KMT_VECTOR_SHUFFLE 1
#endif
#endif

#ifdef KMT_VECTOR_SHUFFLE
// True when two of the first count arrays share an element within groups words;
// the wide paths then would write in another order than the plain loop.
bool arrays_overlap(std::size_t groups, std::size_t count, std::uint16_t *const *arrays) {
  const std::less<const std::uint16_t *> before;
  for (std::size_t a = 0; a < count; ++a) {
    for (std::size_t b = a + 1; b < count; ++b) {
      if (before(arrays[a], arrays[b] + groups) && before(arrays[b], arrays[a] + groups)) {
        return true;
      }
    }
  }
  return false;
}

// Eight 16-bit words; loads and stores go through memcpy, so no alignment is assumed.
typedef std::uint16_t Words8 __attribute__((vector_size(16)));

Words8 load(const std::uint8_t *from) {
  Words8 v;
  std::memcpy(&v, from, sizeof v);
  return v;
}
void store(std::uint16_t *to, Words8 v) {
  std::memcpy(to, &v, sizeof v);
}
// Interleaves the low (high) halves of two vectors word by word.
Words8 low_words(Words8 a, Words8 b) {
  return __builtin_shufflevector(a, b, 0, 8, 1, 9, 2, 10, 3, 11);
}
Words8 high_words(Words8 a, Words8 b) {
  return __builtin_shufflevector(a, b, 4, 12, 5, 13, 6, 14, 7, 15);
}
Words8 low_halves(Words8 a, Words8 b) {
  return __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11);
}
Words8 high_halves(Words8 a, Words8 b) {
  return __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15);
}

// Eight groups of four words at a time from group `first` on: a 4 x 8 transpose in
// three rounds of interleaving. Returns the groups done.
std::size_t spread_four(const std::uint8_t *data, std::size_t first, std::size_t groups,
                        std::uint16_t *const *out) {
  std::size_t i = first;
  for (data += 8 * first; i + 8 <= groups; i += 8, data += 64) {
    const Words8 v0 = load(data), v1 = load(data + 16), v2 = load(data + 32), v3 = load(data + 48);
    const Words8 t0 = low_words(v0, v1), t1 = high_words(v0, v1);
    const Words8 t2 = low_words(v2, v3), t3 = high_words(v2, v3);
    const Words8 u0 = low_words(t0, t1), u1 = high_words(t0, t1);
    const Words8 u2 = low_words(t2, t3), u3 = high_words(t2, t3);
    store(out[0] + i, low_halves(u0, u2));
    store(out[1] + i, high_halves(u0, u2));
    store(out[2] + i, low_halves(u1, u3));
    store(out[3] + i, high_halves(u1, u3));
  }
  return i;
}

// Eight groups of two words at a time from group `first` on.
std::size_t spread_two(const std::uint8_t *data, std::size_t first, std::size_t groups,
                       std::uint16_t *const *out) {
  std::size_t i = first;
  for (data += 4 * first; i + 8 <= groups; i += 8, data += 32) {
    const Words8 v0 = load(data), v1 = load(data + 16);
    store(out[0] + i, __builtin_shufflevector(v0, v1, 0, 2, 4, 6, 8, 10, 12, 14));
    store(out[1] + i, __builtin_shufflevector(v0, v1, 1, 3, 5, 7, 9, 11, 13, 15));
  }
  return i;
}
#endif

}  // namespace

std::uint8_t add_bytes(std::uint8_t sum, const std::uint8_t *data, std::size_t n) {
  constexpr std::size_t kLanes = 32;
  if (n >= kLanes) {
    std::uint8_t lanes[kLanes] = {};
    for (; n >= kLanes; n -= kLanes, data += kLanes) {
      for (std::size_t k = 0; k < kLanes; ++k) {
        lanes[k] = static_cast<std::uint8_t>(lanes[k] + data[k]);
      }
    }
    for (std::uint8_t lane : lanes) sum = static_cast<std::uint8_t>(sum + lane);
  }
  for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  return sum;
}

void spread_words(const std::uint8_t *data, std::size_t groups, std::size_t count,
                  std::uint16_t *const *arrays) {
  std::size_t done = 0;
  if constexpr (std::endian::native == std::endian::little) {
    if (count == 1) {
      // One word per group: the block is the array.
      std::memcpy(arrays[0], data, 2 * groups);
      return;
    }
#ifdef KMT_VECTOR_SHUFFLE
    if (!arrays_overlap(groups, count, arrays)) {
      if (count == 4) done = spread_four(data, 0, groups, arrays);
      if (count == 2) done = spread_two(data, 0, groups, arrays);
    }
#endif
  }
  spread_plain(data, done, groups, count, arrays);
}

}  // namespace kmt
