// The resampler's vector passes: the same sums in the same order as the extended-precision
// algorithm, eight at a time in single precision with fused multiply-adds. A fused step rounds
// the exact value · weight + sum once; that equals the extended result stored as single for
// every list that exactArithmetic() does not mark ExactIn::Nothing (the proof is there). Lists
// so marked are summed in extended precision here too.
#include "resample_avx2.h"

#include <immintrin.h>

#include <algorithm>

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

// Rows top … top + 7 of the source (rows past `rows` read as 0) into `grouped`, where byte
// position p of row r lands at grouped[p·8 + r].
TZ_VECTOR void group(const Bitmap& source, int top, int rows, std::uint8_t* grouped) {
    const std::size_t length = static_cast<std::size_t>(source.width()) * 3;
    const std::uint8_t* in[kRows] = {};
    for (int r = 0; r < rows; ++r) {
        in[r] = source.row(top + r);
    }
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

// The inverse of group(): grouped bytes back into rows top … top + rows − 1 of `work`.
TZ_VECTOR void ungroup(const std::uint8_t* grouped, Bitmap& work, int top, int rows) {
    const std::size_t length = static_cast<std::size_t>(work.width()) * 3;
    std::uint8_t* out[kRows] = {};
    for (int r = 0; r < rows; ++r) {
        out[r] = work.row(top + r);
    }
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
    const std::uint8_t* pixel = groupedPixel(grouped, pair.SourceIndex);
    const __m256 weight = _mm256_set1_ps(pair.Weight);
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
            sum = accumulate(sum, groupedPixel(grouped, pair.SourceIndex)[lane], pair.Weight);
        }
        out[lane] = toByte(sum);
    }
}

TZ_VECTOR void filterBlock(const WeightLists& lists, const std::uint8_t* grouped,
                           std::uint8_t* results) {
    const auto outputOf = [&](int i) { return results + static_cast<std::size_t>(i) * 3 * kRows; };
    const auto fused = [&](int i) { return lists.exactIn(i) != ExactIn::Nothing; };
    int i = 0;
    while (i < lists.size()) {
        if (!fused(i)) {
            filterColumnExtended(lists[i], grouped, outputOf(i));
            i += 1;
        } else if (i + 1 < lists.size() && fused(i + 1)) {
            filterTwoColumns(lists[i], lists[i + 1], grouped, outputOf(i));
            i += 2;
        } else {
            filterOneColumn(lists[i], grouped, outputOf(i));
            i += 1;
        }
    }
}

// --- Vertical pass: one destination row, lanes along the row. ---

// Bytes [x, x + 64) of destination row `out`: eight chains of eight lanes.
TZ_VECTOR inline void filterSpan64(const Bitmap& work, std::span<const WeightPair> pairs,
                                   std::size_t x, std::uint8_t* out) {
    __m256 sums[8];
    for (__m256& sum : sums) {
        sum = _mm256_setzero_ps();
    }
    for (const WeightPair& pair : pairs) {
        const std::uint8_t* in = work.row(pair.SourceIndex) + x;
        const __m256 weight = _mm256_set1_ps(pair.Weight);
        for (std::size_t v = 0; v < 8; ++v) {
            sums[v] = _mm256_fmadd_ps(loadValues(in + 8 * v), weight, sums[v]);
        }
    }
    storeBytes(out + x, toIntegers(sums[0]), toIntegers(sums[1]), toIntegers(sums[2]),
               toIntegers(sums[3]));
    storeBytes(out + x + 32, toIntegers(sums[4]), toIntegers(sums[5]), toIntegers(sums[6]),
               toIntegers(sums[7]));
}

TZ_VECTOR inline void filterSpan8(const Bitmap& work, std::span<const WeightPair> pairs,
                                  std::size_t x, std::uint8_t* out) {
    __m256 sum = _mm256_setzero_ps();
    for (const WeightPair& pair : pairs) {
        sum = _mm256_fmadd_ps(loadValues(work.row(pair.SourceIndex) + x),
                              _mm256_set1_ps(pair.Weight), sum);
    }
    storeBytes(out + x, toIntegers(sum));
}

TZ_VECTOR inline void filterByte(const Bitmap& work, std::span<const WeightPair> pairs,
                                 std::size_t x, std::uint8_t* out) {
    __m128 sum = _mm_setzero_ps();
    for (const WeightPair& pair : pairs) {
        const float value = work.row(pair.SourceIndex)[x];
        sum = _mm_fmadd_ss(_mm_set_ss(value), _mm_set_ss(pair.Weight), sum);
    }
    out[x] = toByte(_mm_cvtss_f32(sum));
}

void filterRowExtended(const Bitmap& work, std::span<const WeightPair> pairs, std::size_t length,
                       std::uint8_t* out) {
    for (std::size_t x = 0; x < length; ++x) {
        float sum = 0.0f;
        for (const WeightPair& pair : pairs) {
            sum = accumulate(sum, work.row(pair.SourceIndex)[x], pair.Weight);
        }
        out[x] = toByte(sum);
    }
}

}  // namespace

bool available() {
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
}

std::size_t horizontalScratchBytes(int sourceWidth, int destinationWidth) {
    return (static_cast<std::size_t>(sourceWidth) + static_cast<std::size_t>(destinationWidth)) *
           3 * kRows;
}

TZ_VECTOR void horizontalBlocks(const Bitmap& source, Bitmap& work, const WeightLists& lists,
                                int firstBlock, int endBlock, std::span<std::uint8_t> scratch) {
    std::uint8_t* grouped = scratch.data();
    std::uint8_t* results = grouped + static_cast<std::size_t>(source.width()) * 3 * kRows;
    for (int block = firstBlock; block < endBlock; ++block) {
        const int top = block * kBlockRows;
        const int rows = std::min(kBlockRows, source.height() - top);
        group(source, top, rows, grouped);
        filterBlock(lists, grouped, results);
        ungroup(results, work, top, rows);
    }
}

TZ_VECTOR void verticalRows(const Bitmap& work, Bitmap& destination, const WeightLists& lists,
                            int firstRow, int endRow) {
    const std::size_t length = static_cast<std::size_t>(work.width()) * 3;
    for (int i = firstRow; i < endRow; ++i) {
        const std::span<const WeightPair> pairs = lists[i];
        std::uint8_t* out = destination.row(i);
        if (lists.exactIn(i) == ExactIn::Nothing) {
            filterRowExtended(work, pairs, length, out);
            continue;
        }
        std::size_t x = 0;
        for (; x + 64 <= length; x += 64) {
            filterSpan64(work, pairs, x, out);
        }
        for (; x + 8 <= length; x += 8) {
            filterSpan8(work, pairs, x, out);
        }
        for (; x < length; ++x) {
            filterByte(work, pairs, x, out);
        }
    }
}

}  // namespace tz::detail::avx2
