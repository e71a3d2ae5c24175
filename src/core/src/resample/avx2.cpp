// The resampler's vector filters: the same sums in the same order as the extended-precision
// algorithm, eight lanes at a time. Lists marked ExactIn::Double or Extended use fused
// single-precision multiply-adds (one rounding of the exact value · weight + sum), lists marked
// DoubleUnlessMidpoint double steps that watch for midpoints, lists marked Nothing extended
// precision; exactArithmetic() in weight_lists.cpp proves each choice gives the extended result.
#include "resample/avx2.h"

#include <immintrin.h>

#include <algorithm>

#include "resample/arithmetic.h"

// Only these functions use the instructions; the rest of the program runs on any x86-64.
#define TZ_VECTOR __attribute__((target("avx2,fma")))

namespace tz::detail::avx2 {

namespace {

constexpr std::size_t kRows = kBlockRows;

// Eight bytes as eight singles.
TZ_VECTOR inline __m256 loadValues(const std::uint8_t* bytes) {
    const __m128i packed = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(packed));
}

// toByte() on eight sums: clamp to 0 … 255 (max returns its second operand, 0, for a sum that
// is not a number), then round to nearest with halves to even (the default rounding mode).
TZ_VECTOR inline __m256i toIntegers(__m256 sums) {
    const __m256 clamped =
        _mm256_min_ps(_mm256_max_ps(sums, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
    return _mm256_cvtps_epi32(clamped);
}

// Stores eight integers in 0 … 255 as eight bytes.
TZ_VECTOR inline void storeBytes(std::uint8_t* out, __m256i integers) {
    const __m256i lowBytes =
        _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12,
                         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i gathered = _mm256_shuffle_epi8(integers, lowBytes);
    const __m128i bytes =
        _mm_unpacklo_epi32(_mm256_castsi256_si128(gathered), _mm256_extracti128_si256(gathered, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
}

// Stores four times eight integers in 0 … 255 as 32 bytes, in order.
TZ_VECTOR inline void storeBytes(std::uint8_t* out, __m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i ab = _mm256_packs_epi32(a, b);
    const __m256i cd = _mm256_packs_epi32(c, d);
    const __m256i abcd = _mm256_packus_epi16(ab, cd);
    const __m256i ordered =
        _mm256_permutevar8x32_epi32(abcd, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), ordered);
}

// --- Transposing blocks of eight rows. ---
// One round interleaves the bytes of the registers whose indices differ in `bit`: the register
// bit moves to the lowest byte-index bit and the highest byte-index bit becomes the register
// bit. Three or four rounds turn 8 rows × 16 bytes into 16 groups of one byte per row and back.

TZ_VECTOR inline void interleaveRound(__m128i (&x)[8], int bit) {
    const int step = 1 << bit;
    for (int j = 0; j < 8; ++j) {
        if ((j & step) == 0) {
            const __m128i low = _mm_unpacklo_epi8(x[j], x[j + step]);
            const __m128i high = _mm_unpackhi_epi8(x[j], x[j + step]);
            x[j] = low;
            x[j + step] = high;
        }
    }
}

// The register that holds row r after the four rounds of ungroup().
constexpr int ungroupedRegister(int r) {
    return ((r & 1) << 2) | ((r >> 2) << 1) | ((r >> 1) & 1);
}

// Rows in[0] … in[7] of `length` bytes (rows past `rows` read as 0) into `grouped`, where byte
// position p of row r lands at grouped[p·8 + r].
TZ_VECTOR void group(const std::uint8_t* const* in, int rows, std::size_t length,
                     std::uint8_t* grouped) {
    std::size_t p = 0;
    for (; p + 16 <= length; p += 16) {
        __m128i x[8];
        for (int r = 0; r < 8; ++r) {
            x[r] = r < rows ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(in[r] + p))
                            : _mm_setzero_si128();
        }
        interleaveRound(x, 2);
        interleaveRound(x, 1);
        interleaveRound(x, 0);
        for (int j = 0; j < 8; ++j) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(grouped + p * kRows + 16 * j), x[j]);
        }
    }
    for (; p < length; ++p) {
        for (int r = 0; r < 8; ++r) {
            grouped[p * kRows + static_cast<std::size_t>(r)] = r < rows ? in[r][p] : 0;
        }
    }
}

// The inverse of group(): grouped bytes back into rows out[0] … out[rows − 1] of `length` bytes.
TZ_VECTOR void ungroup(const std::uint8_t* grouped, std::uint8_t* const* out, int rows,
                       std::size_t length) {
    std::size_t p = 0;
    for (; p + 16 <= length; p += 16) {
        __m128i x[8];
        for (int j = 0; j < 8; ++j) {
            x[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(grouped + p * kRows + 16 * j));
        }
        interleaveRound(x, 2);
        interleaveRound(x, 1);
        interleaveRound(x, 0);
        interleaveRound(x, 2);
        for (int r = 0; r < rows; ++r) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[r] + p), x[ungroupedRegister(r)]);
        }
    }
    for (; p < length; ++p) {
        for (int r = 0; r < rows; ++r) {
            out[r][p] = grouped[p * kRows + static_cast<std::size_t>(r)];
        }
    }
}

// --- Double steps that watch for midpoints (ExactIn::DoubleUnlessMidpoint). ---

// All-ones lanes where a double lies halfway between two singles (see isSingleMidpoint).
TZ_VECTOR inline __m256i midpoints(__m256d sums) {
    const __m256i dropped =
        _mm256_and_si256(_mm256_castpd_si256(sums), _mm256_set1_epi64x(0x1FFFFFFF));
    return _mm256_cmpeq_epi64(dropped, _mm256_set1_epi64x(0x10000000));
}

// Lanes where the double `sum` of a and b is a midpoint between singles and not exact.
TZ_VECTOR inline __m256i inexactMidpoints(__m256d a, __m256d b, __m256d sum) {
    const __m256i candidates = midpoints(sum);
    if (_mm256_testz_si256(candidates, candidates)) {
        return candidates;
    }
    const __m256d bPart = _mm256_sub_pd(sum, a);
    const __m256d error =
        _mm256_add_pd(_mm256_sub_pd(a, _mm256_sub_pd(sum, bPart)), _mm256_sub_pd(b, bPart));
    const __m256i inexact =
        _mm256_castpd_si256(_mm256_cmp_pd(error, _mm256_setzero_pd(), _CMP_NEQ_UQ));
    return _mm256_and_si256(candidates, inexact);
}

// sum = value · weight + sum for eight lanes in double, rounded to single (accumulateChecked);
// lanes that need the step redone in extended precision are marked in `marks`.
TZ_VECTOR inline __m256 checkedStep(__m256 sum, const std::uint8_t* bytes, __m256d weight,
                                    __m256i& marks) {
    const __m256i values =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
    const __m256d lowProduct =
        _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(values)), weight);
    const __m256d highProduct =
        _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(values, 1)), weight);
    const __m256d lowSum = _mm256_cvtps_pd(_mm256_castps256_ps128(sum));
    const __m256d highSum = _mm256_cvtps_pd(_mm256_extractf128_ps(sum, 1));
    const __m256d low = _mm256_add_pd(lowProduct, lowSum);
    const __m256d high = _mm256_add_pd(highProduct, highSum);
    marks = _mm256_or_si256(marks, _mm256_or_si256(inexactMidpoints(lowProduct, lowSum, low),
                                                   inexactMidpoints(highProduct, highSum, high)));
    return _mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low));
}

TZ_VECTOR inline bool anyMarked(__m256i marks) {
    return !_mm256_testz_si256(marks, marks);
}

// --- Horizontal pass on one grouped block: lanes are the eight rows. ---

struct PixelSums {
    __m256 blue;
    __m256 green;
    __m256 red;
};

TZ_VECTOR inline void clear(PixelSums& sums) {
    sums.blue = _mm256_setzero_ps();
    sums.green = _mm256_setzero_ps();
    sums.red = _mm256_setzero_ps();
}

// Where the three channel groups of source column `index` start.
inline const std::uint8_t* groupedPixel(const std::uint8_t* grouped, std::int32_t index) {
    return grouped + static_cast<std::size_t>(index) * 3 * kRows;
}

TZ_VECTOR inline void addPair(PixelSums& sums, const std::uint8_t* grouped, WeightPair pair) {
    const std::uint8_t* pixel = groupedPixel(grouped, pair.sourceIndex);
    const __m256 weight = _mm256_set1_ps(pair.weight);
    sums.blue = _mm256_fmadd_ps(loadValues(pixel), weight, sums.blue);
    sums.green = _mm256_fmadd_ps(loadValues(pixel + kRows), weight, sums.green);
    sums.red = _mm256_fmadd_ps(loadValues(pixel + 2 * kRows), weight, sums.red);
}

TZ_VECTOR inline void storePixel(const PixelSums& sums, std::uint8_t* out) {
    storeBytes(out, toIntegers(sums.blue));
    storeBytes(out + kRows, toIntegers(sums.green));
    storeBytes(out + 2 * kRows, toIntegers(sums.red));
}

// Two destination columns at once: six independent chains hide the latency of the fused steps.
TZ_VECTOR void filterTwoColumns(std::span<const WeightPair> first,
                                std::span<const WeightPair> second, const std::uint8_t* grouped,
                                std::uint8_t* out) {
    PixelSums a;
    PixelSums b;
    clear(a);
    clear(b);
    const std::size_t common = std::min(first.size(), second.size());
    for (std::size_t t = 0; t < common; ++t) {
        addPair(a, grouped, first[t]);
        addPair(b, grouped, second[t]);
    }
    for (std::size_t t = common; t < first.size(); ++t) {
        addPair(a, grouped, first[t]);
    }
    for (std::size_t t = common; t < second.size(); ++t) {
        addPair(b, grouped, second[t]);
    }
    storePixel(a, out);
    storePixel(b, out + 3 * kRows);
}

TZ_VECTOR void filterOneColumn(std::span<const WeightPair> pairs, const std::uint8_t* grouped,
                               std::uint8_t* out) {
    PixelSums sums;
    clear(sums);
    for (const WeightPair& pair : pairs) {
        addPair(sums, grouped, pair);
    }
    storePixel(sums, out);
}

void filterColumnExtended(std::span<const WeightPair> pairs, const std::uint8_t* grouped,
                          std::uint8_t* out) {
    for (std::size_t lane = 0; lane < 3 * kRows; ++lane) {
        float sum = 0.0f;
        for (const WeightPair& pair : pairs) {
            sum = accumulate(sum, groupedPixel(grouped, pair.sourceIndex)[lane], pair.weight);
        }
        out[lane] = toByte(sum);
    }
}

// A column of a DoubleUnlessMidpoint list; should any step land on a midpoint, the whole
// column is summed again in extended precision.
TZ_VECTOR void filterColumnChecked(std::span<const WeightPair> pairs, const std::uint8_t* grouped,
                                   std::uint8_t* out) {
    PixelSums sums;
    clear(sums);
    if (pairs.empty()) {
        storePixel(sums, out);
        return;
    }
    // The first step adds to 0: value · weight is exact, so one rounding is right.
    addPair(sums, grouped, pairs[0]);
    __m256i marks = _mm256_setzero_si256();
    for (const WeightPair& pair : pairs.subspan(1)) {
        const std::uint8_t* pixel = groupedPixel(grouped, pair.sourceIndex);
        const __m256d weight = _mm256_set1_pd(pair.weight);
        sums.blue = checkedStep(sums.blue, pixel, weight, marks);
        sums.green = checkedStep(sums.green, pixel + kRows, weight, marks);
        sums.red = checkedStep(sums.red, pixel + 2 * kRows, weight, marks);
    }
    if (anyMarked(marks)) {
        filterColumnExtended(pairs, grouped, out);
        return;
    }
    storePixel(sums, out);
}

TZ_VECTOR void filterBlock(const WeightLists& lists, const std::uint8_t* grouped,
                           std::uint8_t* results) {
    const auto outputOf = [&](int i) { return results + static_cast<std::size_t>(i) * 3 * kRows; };
    const auto fused = [&](int i) {
        return lists.exactIn(i) == ExactIn::Double || lists.exactIn(i) == ExactIn::Extended;
    };
    int i = 0;
    while (i < lists.size()) {
        if (fused(i) && i + 1 < lists.size() && fused(i + 1)) {
            filterTwoColumns(lists[i], lists[i + 1], grouped, outputOf(i));
            i += 2;
            continue;
        }
        if (fused(i)) {
            filterOneColumn(lists[i], grouped, outputOf(i));
        } else if (lists.exactIn(i) == ExactIn::DoubleUnlessMidpoint) {
            filterColumnChecked(lists[i], grouped, outputOf(i));
        } else {
            filterColumnExtended(lists[i], grouped, outputOf(i));
        }
        i += 1;
    }
}

// --- Vertical filter: one destination row, lanes along the row. ---

// Bytes [x, x + 64): eight chains of eight lanes.
TZ_VECTOR inline void combineSpan64(std::span<const WeightPair> pairs,
                                    const std::uint8_t* const* in, std::size_t x,
                                    std::uint8_t* out) {
    __m256 sums[8];
    for (__m256& sum : sums) {
        sum = _mm256_setzero_ps();
    }
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        const std::uint8_t* row = in[t] + x;
        const __m256 weight = _mm256_set1_ps(pairs[t].weight);
        for (std::size_t v = 0; v < 8; ++v) {
            sums[v] = _mm256_fmadd_ps(loadValues(row + 8 * v), weight, sums[v]);
        }
    }
    storeBytes(out + x, toIntegers(sums[0]), toIntegers(sums[1]), toIntegers(sums[2]),
               toIntegers(sums[3]));
    storeBytes(out + x + 32, toIntegers(sums[4]), toIntegers(sums[5]), toIntegers(sums[6]),
               toIntegers(sums[7]));
}

TZ_VECTOR inline void combineSpan8(std::span<const WeightPair> pairs, const std::uint8_t* const* in,
                                   std::size_t x, std::uint8_t* out) {
    __m256 sum = _mm256_setzero_ps();
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = _mm256_fmadd_ps(loadValues(in[t] + x), _mm256_set1_ps(pairs[t].weight), sum);
    }
    storeBytes(out + x, toIntegers(sum));
}

TZ_VECTOR inline void combineByte(std::span<const WeightPair> pairs, const std::uint8_t* const* in,
                                  std::size_t x, std::uint8_t* out) {
    __m128 sum = _mm_setzero_ps();
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = _mm_fmadd_ss(_mm_set_ss(in[t][x]), _mm_set_ss(pairs[t].weight), sum);
    }
    out[x] = toByte(_mm_cvtss_f32(sum));
}

template <float (*step)(float, std::uint8_t, float)>
void combineBytes(std::span<const WeightPair> pairs, const std::uint8_t* const* in,
                  std::size_t from, std::size_t to, std::uint8_t* out) {
    for (std::size_t x = from; x < to; ++x) {
        float sum = 0.0f;
        for (std::size_t t = 0; t < pairs.size(); ++t) {
            sum = step(sum, in[t][x], pairs[t].weight);
        }
        out[x] = toByte(sum);
    }
}

TZ_VECTOR void combineChecked(std::span<const WeightPair> pairs, const std::uint8_t* const* in,
                              std::size_t length, std::uint8_t* out) {
    std::size_t x = 0;
    for (; x + 8 <= length; x += 8) {
        // The first step adds to 0: value · weight is exact, so one rounding is right.
        __m256 sum = _mm256_setzero_ps();
        if (!pairs.empty()) {
            sum = _mm256_fmadd_ps(loadValues(in[0] + x), _mm256_set1_ps(pairs[0].weight), sum);
        }
        __m256i marks = _mm256_setzero_si256();
        for (std::size_t t = 1; t < pairs.size(); ++t) {
            sum = checkedStep(sum, in[t] + x, _mm256_set1_pd(pairs[t].weight), marks);
        }
        if (anyMarked(marks)) {
            combineBytes<accumulate>(pairs, in, x, x + 8, out);
        } else {
            storeBytes(out + x, toIntegers(sum));
        }
    }
    combineBytes<accumulateChecked>(pairs, in, x, length, out);
}

}  // namespace

bool available() {
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
}

std::size_t rowScratchBytes(int sourceWidth, int destinationWidth) {
    return (static_cast<std::size_t>(sourceWidth) + static_cast<std::size_t>(destinationWidth)) *
           3 * kRows;
}

TZ_VECTOR void filterRows(const std::uint8_t* const* in, int rows, int sourceWidth,
                          const WeightLists& lists, std::uint8_t* const* out,
                          std::span<std::uint8_t> scratch) {
    const std::size_t length = static_cast<std::size_t>(sourceWidth) * 3;
    std::uint8_t* grouped = scratch.data();
    std::uint8_t* results = grouped + length * kRows;
    group(in, rows, length, grouped);
    filterBlock(lists, grouped, results);
    ungroup(results, out, rows, static_cast<std::size_t>(lists.size()) * 3);
}

TZ_VECTOR void combineRows(std::span<const WeightPair> pairs, ExactIn exactIn,
                           const std::uint8_t* const* in, std::size_t length, std::uint8_t* out) {
    if (exactIn == ExactIn::Nothing) {
        combineBytes<accumulate>(pairs, in, 0, length, out);
        return;
    }
    if (exactIn == ExactIn::DoubleUnlessMidpoint) {
        combineChecked(pairs, in, length, out);
        return;
    }
    std::size_t x = 0;
    for (; x + 64 <= length; x += 64) {
        combineSpan64(pairs, in, x, out);
    }
    for (; x + 8 <= length; x += 8) {
        combineSpan8(pairs, in, x, out);
    }
    for (; x < length; ++x) {
        combineByte(pairs, in, x, out);
    }
}

}  // namespace tz::detail::avx2
