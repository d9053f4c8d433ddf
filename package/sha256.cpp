#include "package/sha256.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define SHA256_HAS_X86_PATH 1
#else
#define SHA256_HAS_X86_PATH 0
#endif

namespace {
const u32 kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

inline u32 Rotr(u32 x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(u32 state[8], const u8 block[64]) {
  u32 w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = (u32)block[4 * i] << 24 | (u32)block[4 * i + 1] << 16 | (u32)block[4 * i + 2] << 8 |
           block[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    const u32 s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const u32 s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  u32 a = state[0], b = state[1], c = state[2], d = state[3];
  u32 e = state[4], f = state[5], g = state[6], h = state[7];
  for (int i = 0; i < 64; ++i) {
    const u32 t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                   kRound[i] + w[i];
    const u32 t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

#if SHA256_HAS_X86_PATH
// The processor's SHA instructions, where it has them, hash several times
// faster: a patch hashes both the installed file and the result.
__attribute__((target("sha,sse4.1"))) void CompressWithShaInstructions(u32 state[8],
                                                                       const u8* data,
                                                                       u32 blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i_u*)&state[0]), 0xB1);
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i_u*)&state[4]), 0x1B);
  __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
  for (; blocks; --blocks, data += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i words[4];
    for (int group = 0; group < 16; ++group) {
      __m128i& current = words[group & 3];
      if (group < 4) {
        const __m128i_u* words16 = (const __m128i_u*)(data + 16 * group);
        current = _mm_shuffle_epi8(_mm_loadu_si128(words16), byteSwap);
      } else {
        const __m128i& previous = words[(group - 1) & 3];
        __m128i next = _mm_sha256msg1_epu32(current, words[(group - 3) & 3]);
        next = _mm_add_epi32(next, _mm_alignr_epi8(previous, words[(group - 2) & 3], 4));
        current = _mm_sha256msg2_epu32(next, previous);
      }
      const __m128i_u* rounds = (const __m128i_u*)&kRound[4 * group];
      __m128i message = _mm_add_epi32(current, _mm_loadu_si128(rounds));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      message = _mm_shuffle_epi32(message, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128((__m128i_u*)&state[0], _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128((__m128i_u*)&state[4], _mm_alignr_epi8(dchg, feba, 8));
}

int HasShaInstructions() {
  static int known = -1;
  if (known < 0) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    known = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 19)) && (c & (1u << 9)) &&
        __get_cpuid_count(7, 0, &a, &b, &c, &d))
      known = (b >> 29) & 1;
  }
  return known;
}
#endif

void CompressBlocks(u32 state[8], const u8* data, u32 blocks) {
#if SHA256_HAS_X86_PATH
  if (HasShaInstructions()) {
    CompressWithShaInstructions(state, data, blocks);
    return;
  }
#endif
  for (; blocks; --blocks, data += 64) Compress(state, data);
}
}  // namespace

void Sha256Begin(Sha256State* hash) {
  static const u32 kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(hash->state, kInitial, sizeof kInitial);
  hash->length = 0;
}

void Sha256Update(Sha256State* hash, const void* data, u32 length) {
  const u8* p = (const u8*)data;
  u32 pending = (u32)(hash->length & 63);
  hash->length += length;
  if (pending) {
    const u32 take = 64 - pending < length ? 64 - pending : length;
    memcpy(hash->pending + pending, p, take);
    p += take;
    length -= take;
    if (pending + take < 64) return;
    CompressBlocks(hash->state, hash->pending, 1);
  }
  CompressBlocks(hash->state, p, length / 64);
  p += length & ~63u;
  if (length & 63) memcpy(hash->pending, p, length & 63);
}

void Sha256End(Sha256State* hash, u8 digest[kSha256Size]) {
  // The tail, the 0x80 marker and the bit length fill one or two blocks.
  const u32 left = (u32)(hash->length & 63);
  u8 tail[128];
  memset(tail, 0, sizeof tail);
  memcpy(tail, hash->pending, left);
  tail[left] = 0x80;
  const u32 blocks = left + 9 > 64 ? 2 : 1;
  const u64 bits = hash->length * 8;
  for (int i = 0; i < 8; ++i) tail[blocks * 64 - 1 - i] = (u8)(bits >> (8 * i));
  CompressBlocks(hash->state, tail, blocks);
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = (u8)(hash->state[i] >> 24);
    digest[4 * i + 1] = (u8)(hash->state[i] >> 16);
    digest[4 * i + 2] = (u8)(hash->state[i] >> 8);
    digest[4 * i + 3] = (u8)hash->state[i];
  }
}

void Sha256(const void* data, u32 length, u8 digest[kSha256Size]) {
  Sha256State hash;
  Sha256Begin(&hash);
  Sha256Update(&hash, data, length);
  Sha256End(&hash, digest);
}
