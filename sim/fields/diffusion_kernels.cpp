#include "sim/fields/diffusion_kernels.h"

#include <cstring>
#include <initializer_list>
#include <limits>

#include "sim/fields/exact_diffusion.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace diffusion_kernels {

namespace {

// The loop of both plain updates: for every cell, `update(around, centre, seed, v)`
// gives the result v from the units of the nine cells, of the cell itself and its
// draw, and whether it holds; then the row's extremes and, when kFlagged, its redo
// flags. Without flags every cell's rows are exact and anyRedo says only whether
// some update did not hold.
template <bool kFlagged, typename Update>
void UpdateCells(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count, Update update)
{
    // Byte stores may alias anything, so every pointer is held apart from `in` and `out`.
    const std::int64_t* __restrict upAcross = in.upAcross;
    const std::int64_t* __restrict midAcross = in.midAcross;
    const std::int64_t* __restrict downAcross = in.downAcross;
    const std::int64_t* __restrict centre = in.centre;
    const std::uint8_t* __restrict upExact = in.upExact;
    const std::uint8_t* __restrict midExact = in.midExact;
    const std::uint8_t* __restrict downExact = in.downExact;
    const std::uint32_t* __restrict seeds = in.seeds;
    double* __restrict result = out.result;
    std::uint8_t* __restrict redo = out.redo;
    double rowMax = -std::numeric_limits<double>::infinity();
    double rowMin = std::numeric_limits<double>::infinity();
    std::uint8_t anyRedo = 0;
    for (std::int32_t c = 0; c < count; ++c) {
        double v;
        const bool done = update(upAcross[c] + midAcross[c] + downAcross[c], centre[c], seeds[c], v);
        result[c] = v;
        rowMax = v > rowMax ? v : rowMax;
        rowMin = v < rowMin ? v : rowMin;
        if constexpr (kFlagged) {
            redo[c] = !(upExact[c] & midExact[c] & downExact[c] & done);
            anyRedo |= redo[c];
        } else {
            anyRedo |= !done;
        }
    }
    out.rowMax = rowMax;
    out.rowMin = rowMin;
    out.anyRedo = anyRedo != 0;
}

// The inputs of a row from column c on.
[[maybe_unused]] UpdateRowInputs InputsFrom(const UpdateRowInputs& in, std::int32_t c)
{
    return {in.upAcross + c, in.midAcross + c, in.downAcross + c, in.centre + c, in.upExact + c,
            in.midExact + c, in.downExact + c,  in.seeds + c,      in.noiseUnits};
}

// The outputs of a row whose first columns went through vector lanes, with the
// lanes' extremes laneMax[0, lanes) and laneMin[0, lanes), and whose rest gave
// `tail` (no result is NaN or -0.0, so the order of the joins does not matter).
[[maybe_unused]] void JoinLanes(UpdateRowOutputs& out, const UpdateRowOutputs& tail, const double* laneMax, const double* laneMin,
               int lanes, bool lanesRedo)
{
    out.rowMax = tail.rowMax;
    out.rowMin = tail.rowMin;
    for (int i = 0; i < lanes; ++i) {
        out.rowMax = laneMax[i] > out.rowMax ? laneMax[i] : out.rowMax;
        out.rowMin = laneMin[i] < out.rowMin ? laneMin[i] : out.rowMin;
    }
    out.anyRedo = tail.anyRedo || lanesRedo;
}

template <bool kFlagged>
void IntegerUpdateCells(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
    const std::int64_t noiseUnits = in.noiseUnits;
    UpdateCells<kFlagged>(in, out, count,
                          [noiseUnits](std::int64_t around, std::int64_t centre, std::uint32_t seed, double& v) {
                              return exact_diffusion::Update(around - centre, centre, seed, noiseUnits, v);
                          });
}

template <bool kFlagged>
void ScaledUnitUpdateCells(const UpdateRowInputs& in, double noise, UpdateRowOutputs& out, std::int32_t count)
{
    const long double scaledNoise = static_cast<long double>(noise) * 0x1p26L;
    UpdateCells<kFlagged>(in, out, count,
                          [scaledNoise](std::int64_t around, std::int64_t centre, std::uint32_t seed, double& v) {
                              // mean + old = (around - centre + 8 * centre) units, exact below 2^63.
                              const long double product = static_cast<long double>(seed) * scaledNoise;
                              v = static_cast<double>(static_cast<long double>(around + 7 * centre) + product) *
                                  0x1p-58;
                              return true;
                          });
}

}  // namespace

void IntegerUpdateRowPortable(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
    IntegerUpdateCells<true>(in, out, count);
}

void IntegerUpdateExactRowPortable(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
    IntegerUpdateCells<false>(in, out, count);
}

bool ToUnitsRowPortable(const double* __restrict values, std::int64_t* __restrict units, std::int32_t count)
{
    bool all = true;
    for (std::int32_t c = 0; c < count; ++c) all &= exact_diffusion::ToUnits(values[c], units[c]);
    return all;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)  // target_clones needs ifunc
__attribute__((target_clones("avx2", "default")))
#endif
void SumsAcross(const std::int64_t* __restrict units, std::int64_t* __restrict across, std::int32_t count)
{
    if (count <= 0) return;
    const std::int32_t last = count - 1;
    across[0] = units[last] + units[0] + units[count > 1 ? 1 : 0];
    for (std::int32_t c = 1; c < last; ++c) across[c] = units[c - 1] + units[c] + units[c + 1];
    if (count > 1) across[last] = units[last - 1] + units[last] + units[0];
}

bool ScaledNoiseFits(double noise)
{
    const double magnitude = noise < 0 ? -noise : noise;
    // False for NaN and infinities; nothing is exact without a 64-bit mantissa.
    return exact_diffusion::kAvailable && magnitude > 0x1p-900 && magnitude < 0x1p64;
}

void ScaledUnitUpdateRow(const UpdateRowInputs& in, double noise, UpdateRowOutputs& out, std::int32_t count)
{
    ScaledUnitUpdateCells<true>(in, noise, out, count);
}

void ScaledUnitUpdateExactRow(const UpdateRowInputs& in, double noise, UpdateRowOutputs& out, std::int32_t count)
{
    ScaledUnitUpdateCells<false>(in, noise, out, count);
}

#if defined(__SSE2__)

namespace {

std::uint16_t Load16(const std::uint8_t* p)
{
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store16(std::uint8_t* p, std::uint16_t v)
{
    std::memcpy(p, &v, sizeof v);
}

// Lanes whose 64 bits all equal `bits`, all ones (SSE2 compares 32 bits at a time).
__m128i Equal64(__m128i a, __m128i bits)
{
    const __m128i halves = _mm_cmpeq_epi32(a, bits);
    return _mm_and_si128(halves, _mm_shuffle_epi32(halves, _MM_SHUFFLE(2, 3, 0, 1)));
}

// The nearest double to each signed 64-bit lane, ties to even, as a conversion of
// one integer rounds: the high half (signed) times 2^32 and the low half (unsigned)
// are exact doubles, and their sum rounds once.
__m128d ToDouble(__m128i x)
{
    const __m128i high = _mm_shuffle_epi32(x, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128d highPart = _mm_mul_pd(_mm_cvtepi32_pd(high), _mm_set1_pd(0x1p32));
    const __m128i low = _mm_and_si128(x, _mm_set1_epi64x(0xFFFFFFFFLL));
    // 2^52 + low as the bits of a double, less 2^52: low exactly.
    const __m128d lowPart = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(low, _mm_set1_epi64x(0x4330000000000000LL))),
                                       _mm_set1_pd(0x1p52));
    return _mm_add_pd(highPart, lowPart);
}

// Two cells' redo flags, a byte each (0 or 1), taken two at a time: set where the
// rows were exact and the sum declined (sign bits of `declinedPair`).
std::uint16_t PairRedoFlags(__m128i declinedPair, const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down)
{
    const int declined = _mm_movemask_pd(_mm_castsi128_pd(declinedPair));
    const std::uint16_t exact = Load16(up) & Load16(mid) & Load16(down);
    const std::uint16_t done = static_cast<std::uint16_t>((declined & 1) | ((declined & 2) << 7)) ^ 0x0101;
    return (exact & done) ^ 0x0101;
}

// The cells from `c` on one at a time, then the pairs' extremes joined with theirs.
template <bool kFlagged>
void FinishPairs(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t c, std::int32_t count, __m128d laneMax,
                 __m128d laneMin, bool anyRedo)
{
    UpdateRowOutputs tail = out;
    tail.result = out.result + c;
    tail.redo = kFlagged ? out.redo + c : out.redo;
    IntegerUpdateCells<kFlagged>(InputsFrom(in, c), tail, count - c);
    double lanes[4];
    _mm_storeu_pd(lanes, laneMax);
    _mm_storeu_pd(lanes + 2, laneMin);
    JoinLanes(out, tail, lanes, lanes + 2, 2, anyRedo);
}

// The integer update two cells at a time; with kFlagged the cells' redo flags,
// without it (every cell's rows exact) only whether some cell declined.
template <bool kFlagged>
void IntegerUpdatePairs(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
    // |q| < 2^31: the product of a 32-bit seed and |q| is an unsigned 32 x 32 multiply.
    const bool negative = in.noiseUnits < 0;
    const __m128i q = _mm_set1_epi64x(negative ? -in.noiseUnits : in.noiseUnits);
    const __m128i zero = _mm_setzero_si128();
    const __m128i smallest = _mm_set1_epi64x(std::numeric_limits<std::int64_t>::min());
    __m128d laneMax = _mm_set1_pd(-std::numeric_limits<double>::infinity());
    __m128d laneMin = _mm_set1_pd(std::numeric_limits<double>::infinity());
    // Byte stores may alias anything, so every pointer is held apart from `in` and `out`.
    const std::int64_t* __restrict upAcross = in.upAcross;
    const std::int64_t* __restrict midAcross = in.midAcross;
    const std::int64_t* __restrict downAcross = in.downAcross;
    const std::int64_t* __restrict centres = in.centre;
    const std::uint8_t* __restrict upExact = in.upExact;
    const std::uint8_t* __restrict midExact = in.midExact;
    const std::uint8_t* __restrict downExact = in.downExact;
    const std::uint32_t* __restrict seedList = in.seeds;
    double* __restrict result = out.result;
    std::uint8_t* __restrict redoList = out.redo;
    int anyRedo = 0;
    __m128i declinedLanes = zero;
    std::int32_t c = 0;
    for (; c + 2 <= count; c += 2) {
        const auto load = [c](const std::int64_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + c)); };
        const __m128i centre = load(centres);
        const __m128i mean =
            _mm_sub_epi64(_mm_add_epi64(_mm_add_epi64(load(upAcross), load(midAcross)), load(downAcross)), centre);
        const __m128i a = _mm_add_epi64(mean, _mm_slli_epi64(centre, 3));
        const __m128i seeds = _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(seedList + c)), zero);
        __m128i b = _mm_mul_epu32(seeds, q);
        if (negative) b = _mm_sub_epi64(zero, b);
        const __m128i sum = _mm_add_epi64(a, b);
        // Overflow: a and b of one sign, the sum of the other.
        const __m128i overflow = _mm_and_si128(_mm_xor_si128(a, sum), _mm_xor_si128(b, sum));
        const __m128i declinedPair = _mm_or_si128(overflow, Equal64(sum, smallest));  // sign bits
        const __m128d v = _mm_mul_pd(ToDouble(sum), _mm_set1_pd(0x1p-58));
        _mm_storeu_pd(result + c, v);
        laneMax = _mm_max_pd(v, laneMax);  // no result is NaN or -0.0
        laneMin = _mm_min_pd(v, laneMin);
        if constexpr (kFlagged) {
            const std::uint16_t redo = PairRedoFlags(declinedPair, upExact + c, midExact + c, downExact + c);
            Store16(redoList + c, redo);
            anyRedo |= redo;
        } else {
            declinedLanes = _mm_or_si128(declinedLanes, declinedPair);
        }
    }
    if constexpr (!kFlagged) anyRedo = _mm_movemask_pd(_mm_castsi128_pd(declinedLanes));
    FinishPairs<kFlagged>(in, out, c, count, laneMax, laneMin, anyRedo != 0);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define LANDUSE_AVX2_KERNEL 1

// The unflagged integer update four cells at a time, for processors with AVX2
// (chosen at run time), in the same steps as the pairs above: integer sums, the
// same conversion to double, and the pairs' loop for the cells left over.
__attribute__((target("avx2"))) void IntegerUpdateQuads(const UpdateRowInputs& in, UpdateRowOutputs& out,
                                                         std::int32_t count)
{
    const bool negative = in.noiseUnits < 0;
    const __m256i q = _mm256_set1_epi64x(negative ? -in.noiseUnits : in.noiseUnits);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i smallest = _mm256_set1_epi64x(std::numeric_limits<std::int64_t>::min());
    const __m256i lowHalf = _mm256_set1_epi64x(0xFFFFFFFFLL);
    const __m256i exponent52 = _mm256_set1_epi64x(0x4330000000000000LL);
    const __m256i highHalves = _mm256_setr_epi32(1, 3, 5, 7, 1, 3, 5, 7);
    __m256d laneMax = _mm256_set1_pd(-std::numeric_limits<double>::infinity());
    __m256d laneMin = _mm256_set1_pd(std::numeric_limits<double>::infinity());
    __m256i declinedLanes = zero;
    std::int32_t c = 0;
    for (; c + 4 <= count; c += 4) {
        // (A lambda would not carry the function's target, so the loads are spelt out.)
        const __m256i centre = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.centre + c));
        const __m256i up = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.upAcross + c));
        const __m256i mid = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.midAcross + c));
        const __m256i down = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.downAcross + c));
        const __m256i mean = _mm256_sub_epi64(_mm256_add_epi64(_mm256_add_epi64(up, mid), down), centre);
        const __m256i a = _mm256_add_epi64(mean, _mm256_slli_epi64(centre, 3));
        const __m256i seeds =
            _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in.seeds + c)));
        __m256i b = _mm256_mul_epu32(seeds, q);
        if (negative) b = _mm256_sub_epi64(zero, b);
        const __m256i sum = _mm256_add_epi64(a, b);
        const __m256i overflow = _mm256_and_si256(_mm256_xor_si256(a, sum), _mm256_xor_si256(b, sum));
        declinedLanes = _mm256_or_si256(declinedLanes, _mm256_or_si256(overflow, _mm256_cmpeq_epi64(sum, smallest)));
        // The high halves (signed) times 2^32 plus the low halves (unsigned), rounded once.
        const __m128i high = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(sum, highHalves));
        const __m256d highPart = _mm256_mul_pd(_mm256_cvtepi32_pd(high), _mm256_set1_pd(0x1p32));
        const __m256d lowPart =
            _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(_mm256_and_si256(sum, lowHalf), exponent52)),
                          _mm256_set1_pd(0x1p52));
        const __m256d v = _mm256_mul_pd(_mm256_add_pd(highPart, lowPart), _mm256_set1_pd(0x1p-58));
        _mm256_storeu_pd(out.result + c, v);
        laneMax = _mm256_max_pd(v, laneMax);  // no result is NaN or -0.0
        laneMin = _mm256_min_pd(v, laneMin);
    }
    UpdateRowOutputs tail = out;
    tail.result = out.result + c;
    IntegerUpdatePairs<false>(InputsFrom(in, c), tail, count - c);
    double lanes[8];
    _mm256_storeu_pd(lanes, laneMax);
    _mm256_storeu_pd(lanes + 4, laneMin);
    JoinLanes(out, tail, lanes, lanes + 4, 4, _mm256_movemask_pd(_mm256_castsi256_pd(declinedLanes)) != 0);
}

// ToUnits four values at a time: a value with a biased exponent e of 1020 to 1026
// is its mantissa, with the hidden bit, shifted left by e - 1020 (v * 2^55), then
// given the value's sign; any other value gives 0, and holds only as +0.0.
__attribute__((target("avx2"))) bool ToUnitsQuads(const double* values, std::int64_t* units, std::int32_t count)
{
    const __m256i mantissa = _mm256_set1_epi64x(0xFFFFFFFFFFFFFLL);
    const __m256i hiddenBit = _mm256_set1_epi64x(0x10000000000000LL);
    const __m256i exponentMask = _mm256_set1_epi64x(0x7FF);
    const __m256i lowest = _mm256_set1_epi64x(1020);
    const __m256i zero = _mm256_setzero_si256();
    __m256i all = _mm256_set1_epi64x(-1);
    std::int32_t c = 0;
    for (; c + 4 <= count; c += 4) {
        const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + c));
        const __m256i exponent = _mm256_and_si256(_mm256_srli_epi64(bits, 52), exponentMask);
        const __m256i inRange = _mm256_andnot_si256(_mm256_cmpgt_epi64(lowest, exponent),
                                                    _mm256_cmpgt_epi64(_mm256_set1_epi64x(1027), exponent));
        const __m256i magnitude = _mm256_sllv_epi64(_mm256_or_si256(_mm256_and_si256(bits, mantissa), hiddenBit),
                                                    _mm256_sub_epi64(exponent, lowest));
        const __m256i negative = _mm256_cmpgt_epi64(zero, bits);
        const __m256i signedUnits = _mm256_sub_epi64(_mm256_xor_si256(magnitude, negative), negative);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(units + c), _mm256_and_si256(signedUnits, inRange));
        all = _mm256_and_si256(all, _mm256_or_si256(inRange, _mm256_cmpeq_epi64(bits, zero)));
    }
    const bool rest = ToUnitsRowPortable(values + c, units + c, count - c);
    return rest && _mm256_movemask_pd(_mm256_castsi256_pd(all)) == 0xF;
}

#endif

}  // namespace

bool ToUnitsRow(const double* values, std::int64_t* units, std::int32_t count)
{
#ifdef LANDUSE_AVX2_KERNEL
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return ToUnitsQuads(values, units, count);
#endif
    return ToUnitsRowPortable(values, units, count);
}

void IntegerUpdateRow(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
    IntegerUpdatePairs<true>(in, out, count);
}

void IntegerUpdateExactRow(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
#ifdef LANDUSE_AVX2_KERNEL
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return IntegerUpdateQuads(in, out, count);
#endif
    IntegerUpdatePairs<false>(in, out, count);
}

#else

void IntegerUpdateRow(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
    IntegerUpdateRowPortable(in, out, count);
}

void IntegerUpdateExactRow(const UpdateRowInputs& in, UpdateRowOutputs& out, std::int32_t count)
{
    IntegerUpdateExactRowPortable(in, out, count);
}

bool ToUnitsRow(const double* values, std::int64_t* units, std::int32_t count)
{
    return ToUnitsRowPortable(values, units, count);
}

#endif

}  // namespace diffusion_kernels
