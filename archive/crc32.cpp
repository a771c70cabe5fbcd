#include "archive/crc32.h"

#include <zlib.h>

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define LARKSPAN_CRC32_FOLDING 1
#endif

namespace {

// How the folding works, and where its constants come from.
//
// The CRC is the remainder of the message polynomial (times x^32) modulo
// P(x) = x^32 + 0x04C11DB7, over GF(2). In the ZIP form every byte is taken
// least significant bit first, so a 16-byte block loaded little-endian into a
// 128-bit register holds its polynomial A bit-reflected: bit i is the
// coefficient of x^(127-i). Write R_w(X) for that reflected w-bit form.
//
// A carry-less multiply of two reflected operands gives a reflected product
// one bit narrower than its width: clmul(R_a(X), R_b(Y)) = R_(a+b-1)(X*Y) in
// bits 0..a+b-2. And R_w(X) read as the low w bits of a wider R_W view is
// X * x^(W-w). These two facts give every constant below.
//
// Folding a block A = H*x^64 + L forward over D bits onto a later block B:
// A*x^D = H*x^(D+64) + L*x^D, and with 32-bit reflected constants
// clmul(R_64(H), R_32(K1)) is H*K1*x^33 in the 128-bit view, so
// K1 = x^(D+31) mod P and likewise K2 = x^(D-33) mod P. The sum stays below
// degree 128 and is XORed into B.
//
// The last 128 bits A become the CRC register A*x^32 mod P in three steps:
// 128 -> 96 bits (H*x^96 through x^95 mod P, L*x^32 in place), 96 -> 64 bits
// (the top 32 coefficients through x^63 mod P), and a Barrett reduction of the
// 64-bit rest T with mu = floor(x^64 / P): q = floor(floor(T / x^32) * mu / x^32),
// remainder = T + q*P in its low 32 coefficients.
//
// Where the processor also multiplies 256-bit registers without carries
// (VPCLMULQDQ with AVX2), the bulk is folded two blocks per instruction: eight
// blocks side by side, carried over 1,024 bits, each 128-bit half with the same
// pair of constants; the eight are then folded into one as above.
//
// The constants are computed here, at compile time, from the polynomial alone.
constexpr std::uint32_t kPolynomial = 0x04C11DB7u;  // P without its x^32 term
constexpr std::uint64_t kPolynomial33 = (std::uint64_t{1} << 32) | kPolynomial;

// x^n mod P, the coefficient of x^k in bit k.
constexpr std::uint32_t PowerOfXModP(unsigned n) {
    std::uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) r = (r & 0x80000000u) != 0 ? (r << 1) ^ kPolynomial : r << 1;
    return r;
}

// floor(x^64 / P), 33 coefficients. The first quotient bit (x^32) is certain;
// what is left of x^64 after it is P's lower part times x^32.
constexpr std::uint64_t QuotientOfX64() {
    std::uint64_t quotient = std::uint64_t{1} << 32;
    std::uint64_t rest = std::uint64_t{kPolynomial} << 32;
    for (int k = 31; k >= 0; --k) {
        if (((rest >> (k + 32)) & 1) != 0) {
            quotient |= std::uint64_t{1} << k;
            rest ^= kPolynomial33 << k;
        }
    }
    return quotient;
}

// The low `width` bits in reverse order: the reflected form R_width.
constexpr std::uint64_t Reflect(std::uint64_t value, unsigned width) {
    std::uint64_t r = 0;
    for (unsigned i = 0; i < width; ++i) {
        if (((value >> i) & 1) != 0) r |= std::uint64_t{1} << (width - 1 - i);
    }
    return r;
}

// The reflected polynomial is the familiar table constant of this CRC.
static_assert(Reflect(kPolynomial, 32) == 0xEDB88320u, "polynomial or reflection wrong");

struct FoldConstants {
    std::uint64_t forHigh;  // R_32(x^(D+31) mod P): multiplies the block's first 64 bits (low qword)
    std::uint64_t forLow;   // R_32(x^(D-33) mod P): multiplies its last 64 bits (high qword)
};

constexpr FoldConstants FoldOver(unsigned bits) {
    return {Reflect(PowerOfXModP(bits + 31), 32), Reflect(PowerOfXModP(bits - 33), 32)};
}

constexpr unsigned kBlockBits = 128;
constexpr std::size_t kBlockBytes = 16;
constexpr int kLanes = 4;  // blocks folded side by side: enough to hide the multiplier's latency
constexpr std::size_t kStrideBytes = kBlockBytes * kLanes;
constexpr FoldConstants kFoldStride = FoldOver(kBlockBits * kLanes);
constexpr FoldConstants kFoldBlock = FoldOver(kBlockBits);
constexpr std::uint64_t kX95 = Reflect(PowerOfXModP(95), 32);
constexpr std::uint64_t kX63 = Reflect(PowerOfXModP(63), 32);
constexpr std::uint64_t kMu = Reflect(QuotientOfX64(), 33);
constexpr std::uint64_t kPolynomialReflected = Reflect(kPolynomial33, 33);

// Below this length the fixed cost of setting up and reducing the folds is
// larger than what they save.
constexpr std::size_t kFoldMinimum = 2 * kStrideBytes;

constexpr int kWideLanes = 4;  // 256-bit registers of two blocks each
constexpr std::size_t kWideStrideBytes = 2 * kBlockBytes * kWideLanes;
constexpr FoldConstants kFoldWideStride = FoldOver(kBlockBits * 2 * kWideLanes);
constexpr std::size_t kWideMinimum = 2 * kWideStrideBytes;

enum class Crc32Method { ZlibTable, Folding, WideFolding };

// zlib's crc32 over any length (its length argument is narrower than size_t).
std::uint32_t ZlibCrc32(std::uint32_t crc, const unsigned char* data, std::size_t length) noexcept {
    constexpr std::size_t kPiece = 1u << 30;
    uLong c = crc;
    while (length > 0) {
        const std::size_t n = length < kPiece ? length : kPiece;
        c = crc32(c, data, static_cast<uInt>(n));
        data += n;
        length -= n;
    }
    return static_cast<std::uint32_t>(c);
}

#ifdef LARKSPAN_CRC32_FOLDING

#define LARKSPAN_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

// Which 64-bit halves PCLMULQDQ multiplies: bit 0 picks the first operand's,
// bit 4 the second's (0 the low qword, 1 the high one).
constexpr int kLowByLow = 0x00;
constexpr int kHighByHigh = 0x11;
constexpr int kLowByHigh = 0x10;

LARKSPAN_CLMUL_TARGET inline __m128i Constants(const FoldConstants& k) {
    return _mm_set_epi64x(static_cast<long long>(k.forLow), static_cast<long long>(k.forHigh));
}

// `block` carried forward over the distance of `k` and added to `next`.
LARKSPAN_CLMUL_TARGET inline __m128i Fold(__m128i block, __m128i k, __m128i next) {
    const __m128i high = _mm_clmulepi64_si128(block, k, kLowByLow);
    const __m128i low = _mm_clmulepi64_si128(block, k, kHighByHigh);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

LARKSPAN_CLMUL_TARGET inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the remaining 16-byte blocks into `a` and reduces it to the CRC
// register (not inverted).
LARKSPAN_CLMUL_TARGET inline std::uint32_t FinishFold(__m128i a, const unsigned char* p, std::size_t length) {
    const __m128i block = Constants(kFoldBlock);
    while (length >= kBlockBytes) {
        a = Fold(a, block, Load(p));
        p += kBlockBytes;
        length -= kBlockBytes;
    }
    const __m128i low32 = _mm_setr_epi32(-1, 0, 0, 0);
    // 128 -> 96 bits: the first 64 bits through x^95, the last 64 times x^32 in place.
    const __m128i x95 = _mm_set_epi64x(0, static_cast<long long>(kX95));
    const __m128i s = _mm_xor_si128(_mm_clmulepi64_si128(a, x95, kLowByLow), _mm_srli_si128(a, 8));
    // 96 -> 64 bits: the first 32 bits through x^63.
    const __m128i x63 = _mm_set_epi64x(0, static_cast<long long>(kX63));
    const __m128i t = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(s, low32), x63, kLowByLow),
                                    _mm_srli_si128(s, 4));
    // Barrett: q from the first 32 bits of t, then t + q*P; the remainder is bits 32..63.
    const __m128i constants = _mm_set_epi64x(static_cast<long long>(kPolynomialReflected), static_cast<long long>(kMu));
    const __m128i q = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(t, low32), constants, kLowByLow), low32);
    const __m128i r = _mm_xor_si128(t, _mm_clmulepi64_si128(q, constants, kLowByHigh));
    return static_cast<std::uint32_t>(_mm_extract_epi32(r, 1));
}

// The CRC register (not inverted) after `length` bytes, a multiple of 16 and
// at least kFoldMinimum, starting from register `state`. The stack is
// realigned on entry: 32-bit Windows guarantees only 4 bytes, and spilled
// 128-bit values need 16.
__attribute__((target("pclmul,sse4.1"), force_align_arg_pointer)) std::uint32_t FoldedCrc32(
    std::uint32_t state, const unsigned char* p, std::size_t length) noexcept {
    // The lane loops are unrolled so that the lanes live in registers.
    __m128i lane[kLanes];
#pragma GCC unroll 8
    for (int i = 0; i < kLanes; ++i) lane[i] = Load(p + kBlockBytes * i);
    // The register so far enters as the first 32 message bits.
    lane[0] = _mm_xor_si128(lane[0], _mm_cvtsi32_si128(static_cast<int>(state)));
    p += kStrideBytes;
    length -= kStrideBytes;

    const __m128i stride = Constants(kFoldStride);
    while (length >= kStrideBytes) {
#pragma GCC unroll 8
        for (int i = 0; i < kLanes; ++i) lane[i] = Fold(lane[i], stride, Load(p + kBlockBytes * i));
        p += kStrideBytes;
        length -= kStrideBytes;
    }
    const __m128i block = Constants(kFoldBlock);
    __m128i a = lane[0];
#pragma GCC unroll 8
    for (int i = 1; i < kLanes; ++i) a = Fold(a, block, lane[i]);
    return FinishFold(a, p, length);
}

#define LARKSPAN_WIDE_TARGET __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))

LARKSPAN_WIDE_TARGET inline __m256i LoadWide(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// FoldedCrc32 with 256-bit registers, for at least kWideMinimum bytes.
__attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1"), force_align_arg_pointer)) std::uint32_t WideFoldedCrc32(
    std::uint32_t state, const unsigned char* p, std::size_t length) noexcept {
    __m256i lane[kWideLanes];
#pragma GCC unroll 8
    for (int i = 0; i < kWideLanes; ++i) lane[i] = LoadWide(p + 2 * kBlockBytes * i);
    lane[0] = _mm256_xor_si256(lane[0], _mm256_setr_epi32(static_cast<int>(state), 0, 0, 0, 0, 0, 0, 0));
    p += kWideStrideBytes;
    length -= kWideStrideBytes;

    const __m256i stride = _mm256_set_epi64x(
        static_cast<long long>(kFoldWideStride.forLow), static_cast<long long>(kFoldWideStride.forHigh),
        static_cast<long long>(kFoldWideStride.forLow), static_cast<long long>(kFoldWideStride.forHigh));
    while (length >= kWideStrideBytes) {
#pragma GCC unroll 8
        for (int i = 0; i < kWideLanes; ++i) {
            const __m256i high = _mm256_clmulepi64_epi128(lane[i], stride, kLowByLow);
            const __m256i low = _mm256_clmulepi64_epi128(lane[i], stride, kHighByHigh);
            lane[i] = _mm256_xor_si256(_mm256_xor_si256(high, low), LoadWide(p + 2 * kBlockBytes * i));
        }
        p += kWideStrideBytes;
        length -= kWideStrideBytes;
    }
    // The eight blocks, in message order, folded into one.
    const __m128i block = Constants(kFoldBlock);
    __m128i a = _mm256_castsi256_si128(lane[0]);
    a = Fold(a, block, _mm256_extracti128_si256(lane[0], 1));
#pragma GCC unroll 8
    for (int i = 1; i < kWideLanes; ++i) {
        a = Fold(a, block, _mm256_castsi256_si128(lane[i]));
        a = Fold(a, block, _mm256_extracti128_si256(lane[i], 1));
    }
    return FinishFold(a, p, length);
}

Crc32Method ChooseMethod() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return Crc32Method::ZlibTable;
    if ((ecx & bit_PCLMUL) == 0 || (ecx & bit_SSE4_1) == 0) return Crc32Method::ZlibTable;
    // 256-bit registers also need the system to save them on a thread switch
    // (XCR0 bits 1 and 2: SSE and AVX state).
    constexpr unsigned kSseAndAvxState = 0x6;
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return Crc32Method::Folding;
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & kSseAndAvxState) != kSseAndAvxState) return Crc32Method::Folding;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return Crc32Method::Folding;
    if ((ebx & bit_AVX2) == 0 || (ecx & bit_VPCLMULQDQ) == 0) return Crc32Method::Folding;
    return Crc32Method::WideFolding;
}

#else

Crc32Method ChooseMethod() noexcept { return Crc32Method::ZlibTable; }

#endif

// The method, chosen on the first call. Threads that race on the first call
// each choose and store the same value, so no lock is needed (a guarded
// static would bring in the C++ runtime's thread library).
std::atomic<int> g_chosenMethod{-1};

Crc32Method Method() noexcept {
    int chosen = g_chosenMethod.load(std::memory_order_relaxed);
    if (chosen < 0) {
        chosen = static_cast<int>(ChooseMethod());
        g_chosenMethod.store(chosen, std::memory_order_relaxed);
    }
    return static_cast<Crc32Method>(chosen);
}

}  // namespace

bool Crc32UsesCarrylessMultiply() noexcept { return Method() != Crc32Method::ZlibTable; }

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t length) noexcept {
    if (data == nullptr) return 0;
    const auto* p = static_cast<const unsigned char*>(data);
#ifdef LARKSPAN_CRC32_FOLDING
    const Crc32Method method = Method();
    if (length >= kFoldMinimum && method != Crc32Method::ZlibTable) {
        const std::size_t folded = length & ~(kBlockBytes - 1);
        const std::uint32_t state = method == Crc32Method::WideFolding && folded >= kWideMinimum
                                        ? WideFoldedCrc32(~crc, p, folded)
                                        : FoldedCrc32(~crc, p, folded);
        // The last 0..15 bytes continue from the folded register.
        return ZlibCrc32(~state, p + folded, length - folded);
    }
#endif
    return ZlibCrc32(crc, p, length);
}
