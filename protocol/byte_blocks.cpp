// Wide steps without intrinsics, assembly or CPU-specific build flags. The portable
// checksum keeps 32 byte lanes that the compilers turn into vector additions at -O2
// already; modulo 256 the lanes can wrap freely, so their sum is the plain sum. The
// portable word spreading uses the compiler's generic vector types (GCC and Clang)
// where available, with the plain loop everywhere else and on big-endian hosts.
//
// The wide kernels are the same generic vector code at 64 bytes, compiled for AVX-512
// through a function attribute and called only after the processor (and its operating
// system) has been found to support it at run time; every other machine keeps the
// portable code. AVX-512 VBMI is asked for because its byte permutes take one step
// where the word permutes of AVX-512 BW take three.
#include "protocol/byte_blocks.h"

#include <bit>
#include <cstring>
#include <functional>
#include <utility>

#include "protocol/bytes.h"

namespace kmt {

namespace {

std::uint8_t add_bytes_portable(std::uint8_t sum, const std::uint8_t *data, std::size_t n) {
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

#if defined(KMT_VECTOR_SHUFFLE) && (defined(__x86_64__) || defined(__i386__)) && \
    defined(__has_attribute)
#if __has_attribute(target)
#define KMT_WIDE_KERNELS 1
#endif
#endif

#ifdef KMT_WIDE_KERNELS
#define KMT_WIDE_TARGET __attribute__((target("avx512bw,avx512vbmi")))

typedef std::uint8_t Bytes64 __attribute__((vector_size(64)));
typedef std::uint64_t Quads8 __attribute__((vector_size(64)));

bool wide_supported() {
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
  }();
  return supported;
}

// Vectors travel by reference only: by value their calling convention would depend
// on the instruction set, which the compilers rightly warn about.
KMT_WIDE_TARGET std::uint8_t add_bytes_wide(std::uint8_t sum, const std::uint8_t *data,
                                            std::size_t n) {
  Bytes64 a = {}, b = {}, c = {}, d = {};  // four sums in flight, none waits for another
  for (; n >= 256; n -= 256, data += 256) {
    Bytes64 w, x, y, z;
    std::memcpy(&w, data, 64);
    std::memcpy(&x, data + 64, 64);
    std::memcpy(&y, data + 128, 64);
    std::memcpy(&z, data + 192, 64);
    a += w;
    b += x;
    c += y;
    d += z;
  }
  for (; n >= 64; n -= 64, data += 64) {
    Bytes64 w;
    std::memcpy(&w, data, 64);
    a += w;
  }
  a += b + c + d;
  std::uint8_t lanes[64];
  std::memcpy(lanes, &a, sizeof lanes);
  for (std::uint8_t lane : lanes) sum = static_cast<std::uint8_t>(sum + lane);
  // The last few bytes here too: a call into the portable code from this function can
  // be compiled as a jump that skips clearing the wide registers, which slows the
  // portable code down many times over on some processors.
  for (std::size_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  return sum;
}

// Byte J of the result: byte (word(J / 2) * 2 + J % 2) of the pair (a, b) taken as one
// array of 128 bytes, for the word map given.
template <std::size_t (*Word)(std::size_t), std::size_t... J>
[[gnu::always_inline]] inline void pick_words(Bytes64 &result, const Bytes64 &a, const Bytes64 &b,
                                              std::index_sequence<J...>) {
  result = __builtin_shufflevector(a, b, (2 * Word(J / 2) + J % 2)...);
}

// Two words per group: word k of 32 groups lies at word 2i + k of the two vectors.
constexpr std::size_t first_of_pair(std::size_t i) {
  return 2 * i;
}
constexpr std::size_t second_of_pair(std::size_t i) {
  return 2 * i + 1;
}

KMT_WIDE_TARGET std::size_t spread_two_wide(const std::uint8_t *data, std::size_t groups,
                                            std::uint16_t *const *out) {
  constexpr auto bytes = std::make_index_sequence<64>{};
  std::uint16_t *const out0 = out[0], *const out1 = out[1];
  std::size_t i = 0;
  for (; i + 32 <= groups; i += 32, data += 128) {
    Bytes64 v0, v1, a, b;
    std::memcpy(&v0, data, 64);
    std::memcpy(&v1, data + 64, 64);
    pick_words<first_of_pair>(a, v0, v1, bytes);
    pick_words<second_of_pair>(b, v0, v1, bytes);
    std::memcpy(out0 + i, &a, 64);
    std::memcpy(out1 + i, &b, 64);
  }
  return i;
}

// After the first round of spread_four_wide, 64-bit lane q of x0 holds words 0 of
// groups q and 8 + q and then words 2 of them; x2 the same for groups 16 + q and
// 24 + q. Group i's word 0 (or 2) is thus at these word positions of (x0, x2).
constexpr std::size_t word0_after_round(std::size_t i) {
  return (i >= 16 ? 32 : 0) + 4 * (i % 8) + (i / 8) % 2;
}
constexpr std::size_t word2_after_round(std::size_t i) {
  return word0_after_round(i) + 2;
}

// 32 groups of four words at a time: one round of shifts and masks that the vector
// units take on two ports, then one byte permute per array.
KMT_WIDE_TARGET std::size_t spread_four_wide(const std::uint8_t *data, std::size_t groups,
                                             std::uint16_t *const *out) {
  constexpr auto bytes = std::make_index_sequence<64>{};
  constexpr std::uint64_t kWords02 = 0x0000FFFF0000FFFF;
  const Quads8 low = {kWords02, kWords02, kWords02, kWords02,
                      kWords02, kWords02, kWords02, kWords02};
  std::uint16_t *const out0 = out[0], *const out1 = out[1];
  std::uint16_t *const out2 = out[2], *const out3 = out[3];
  std::size_t i = 0;
  for (; i + 32 <= groups; i += 32, data += 256) {
    Quads8 v0, v1, v2, v3;
    std::memcpy(&v0, data, 64);
    std::memcpy(&v1, data + 64, 64);
    std::memcpy(&v2, data + 128, 64);
    std::memcpy(&v3, data + 192, 64);
    // Words 0 and 2 of two groups side by side in each 64-bit lane, and words 1 and 3;
    // each a bit select (low words from the first), which is one ternary-logic step.
    const Quads8 q0 = ((v0 ^ (v1 << 16)) & low) ^ (v1 << 16);
    const Quads8 q1 = (((v0 >> 16) ^ v1) & low) ^ v1;
    const Quads8 q2 = ((v2 ^ (v3 << 16)) & low) ^ (v3 << 16);
    const Quads8 q3 = (((v2 >> 16) ^ v3) & low) ^ v3;
    Bytes64 x0, x1, x2, x3, a, b, c, d;
    std::memcpy(&x0, &q0, 64);
    std::memcpy(&x1, &q1, 64);
    std::memcpy(&x2, &q2, 64);
    std::memcpy(&x3, &q3, 64);
    pick_words<word0_after_round>(a, x0, x2, bytes);
    pick_words<word0_after_round>(b, x1, x3, bytes);
    pick_words<word2_after_round>(c, x0, x2, bytes);
    pick_words<word2_after_round>(d, x1, x3, bytes);
    std::memcpy(out0 + i, &a, 64);
    std::memcpy(out1 + i, &b, 64);
    std::memcpy(out2 + i, &c, 64);
    std::memcpy(out3 + i, &d, 64);
  }
  return i;
}

bool use_wide(ByteKernel kernel) {
  return kernel == ByteKernel::wide && wide_supported();
}
#else
bool wide_supported() {
  return false;
}
#endif

ByteKernel best_kernel() {
  return wide_supported() ? ByteKernel::wide : ByteKernel::portable;
}

}  // namespace

bool byte_kernel_available(ByteKernel kernel) {
  return kernel == ByteKernel::portable || wide_supported();
}

std::uint8_t add_bytes_with(ByteKernel kernel, std::uint8_t sum, const std::uint8_t *data,
                            std::size_t n) {
#ifdef KMT_WIDE_KERNELS
  if (use_wide(kernel)) return add_bytes_wide(sum, data, n);
#else
  (void)kernel;
#endif
  return add_bytes_portable(sum, data, n);
}

std::uint8_t add_bytes(std::uint8_t sum, const std::uint8_t *data, std::size_t n) {
  // Short runs (frame headers, small responses) stay on the portable path.
  constexpr std::size_t kWideFrom = 256;
  return add_bytes_with(n >= kWideFrom ? best_kernel() : ByteKernel::portable, sum, data, n);
}

void spread_words_with(ByteKernel kernel, const std::uint8_t *data, std::size_t groups,
                       std::size_t count, std::uint16_t *const *arrays) {
  std::size_t done = 0;
  if constexpr (std::endian::native == std::endian::little) {
    if (count == 1) {
      // One word per group: the block is the array.
      std::memcpy(arrays[0], data, 2 * groups);
      return;
    }
#ifdef KMT_VECTOR_SHUFFLE
    if (!arrays_overlap(groups, count, arrays)) {
#ifdef KMT_WIDE_KERNELS
      if (use_wide(kernel) && count == 4) done = spread_four_wide(data, groups, arrays);
      if (use_wide(kernel) && count == 2) done = spread_two_wide(data, groups, arrays);
#endif
      if (count == 4) done = spread_four(data, done, groups, arrays);
      if (count == 2) done = spread_two(data, done, groups, arrays);
    }
#endif
  }
  (void)kernel;
  spread_plain(data, done, groups, count, arrays);
}

void spread_words(const std::uint8_t *data, std::size_t groups, std::size_t count,
                  std::uint16_t *const *arrays) {
  spread_words_with(best_kernel(), data, groups, count, arrays);
}

}  // namespace kmt
