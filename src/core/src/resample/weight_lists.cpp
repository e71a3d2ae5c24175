// The weight lists of one axis: which source pixels each destination pixel sums, with which
// weights, and which arithmetic reproduces those sums exactly.
#include "resample/weight_lists.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "resample/parallel.h"
#include "tz/numeric.h"

namespace tz::detail {

namespace {

// floor(a − b) and ceil(a + b) of the exact real values. The extended sum of two singles can
// round when their exponents are far apart; the error term of the two-sum tells on which side
// of an integer the exact value lies.
std::int64_t exactFloorOfDifference(float a, float b) {
    const long double x = a;
    const long double y = -static_cast<long double>(b);
    const long double sum = x + y;
    const long double yPart = sum - x;
    const long double error = (x - (sum - yPart)) + (y - yPart);
    const long double floored = std::floor(sum);
    const bool below = floored == sum && error < 0;
    return static_cast<std::int64_t>(floored) - (below ? 1 : 0);
}

std::int64_t exactCeilOfSum(float a, float b) {
    const long double x = a;
    const long double y = b;
    const long double sum = x + y;
    const long double yPart = sum - x;
    const long double error = (x - (sum - yPart)) + (y - yPart);
    const long double ceiled = std::ceil(sum);
    const bool above = ceiled == sum && error > 0;
    return static_cast<std::int64_t>(ceiled) + (above ? 1 : 0);
}

// Folding is deliberately asymmetric: at the low edge pixel 0 is the mirror and is not repeated
// (−1 → 1), at the high edge the last pixel is repeated (n → n − 1). Existing outputs depend on
// it. An index the fold still leaves outside (a reach longer than the source) is clamped.
std::int32_t foldIndex(std::int64_t j, std::int64_t n) {
    std::int64_t folded = j;
    if (j < 0) {
        folded = -j;
    } else if (j >= n) {
        folded = 2 * n - 1 - j;
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(folded, 0, n - 1));
}

}  // namespace

void WeightLists::reserve(std::size_t lists, std::size_t pairs) {
    m_starts.reserve(lists + 1);
    m_exactIn.reserve(lists);
    m_pairs.reserve(pairs);
}

void WeightLists::endList() {
    const std::size_t start = m_starts.back();
    m_exactIn.push_back(exactArithmetic(std::span<const WeightPair>(m_pairs).subspan(start)));
    m_starts.push_back(m_pairs.size());
}

float scaleFactor(int destinationExtent, int sourceExtent) {
    if (sourceExtent == 1) {
        return toSingle(static_cast<long double>(destinationExtent) / sourceExtent);
    }
    // Corner alignment: the first and last destination pixels land on the first and last
    // source pixels, not pixel-area alignment.
    return toSingle(static_cast<long double>(destinationExtent - 1) / (sourceExtent - 1));
}

namespace {

// How destination pixels of one axis map onto the source.
class AxisMapping {
  public:
    // Without a reduction the full axis is the source's own, and every expression below reduces
    // to the plain corner-aligned mapping exactly (a factor of 1 changes no value).
    AxisMapping(int destinationExtent, int sourceExtent, float support, AxisReduction reduction)
        : m_factor(reduction.factor > 1 && reduction.fullExtent > 0 ? reduction.factor : 1),
          m_fullExtent(m_factor > 1 ? reduction.fullExtent : sourceExtent),
          // One destination pixel from a longer source has scale 0: it samples the source's
          // centre at scale 1 instead.
          m_centreOnly(destinationExtent == 1 && m_fullExtent > 1),
          m_fullScale(m_centreOnly ? 1.0f : scaleFactor(destinationExtent, m_fullExtent)),
          // Seen from a reduced source's blocks; the factor is a power of 2, so it is exact.
          m_scale(m_fullScale * static_cast<float>(m_factor)),
          m_shrinking(m_scale < 1.0f),
          m_reach(m_shrinking ? toSingle(support / static_cast<long double>(m_scale)) : support),
          m_widening(m_shrinking ? toSingle(1.0L / m_scale) : 1.0f) {}

    // The full axis's corner-aligned position, moved into the source's block units: a block's
    // value stands for its centre, (factor − 1) / 2 pixels into it.
    float centre(int i) const {
        const long double full =
            m_centreOnly ? (m_fullExtent - 1) / 2.0L : static_cast<long double>(i) / m_fullScale;
        return toSingle((full - (m_factor - 1) / 2.0L) / m_factor);
    }
    // The unfolded source indices around a centre that the kernel is asked about.
    std::int64_t left(float centre) const { return exactFloorOfDifference(centre, m_reach); }
    std::int64_t right(float centre) const { return exactCeilOfSum(centre, m_reach); }

    float weight(KernelFunction kernel, float centre, std::int64_t j) const {
        const long double offset = static_cast<long double>(centre) - j;
        if (!m_shrinking) {
            return kernel(toSingle(offset));
        }
        return toSingle(kernel(toSingle(offset / m_widening)) /
                        static_cast<long double>(m_widening));
    }

    float reach() const { return m_reach; }

  private:
    int m_factor;
    int m_fullExtent;
    bool m_centreOnly;
    float m_fullScale;
    float m_scale;
    bool m_shrinking;
    float m_reach;
    float m_widening;
};

// Lists first … end − 1 of an axis.
WeightLists buildListRange(const AxisMapping& axis, int sourceExtent, KernelFunction kernel,
                           int first, int end) {
    // Lists are sized by exact counting rather than a fixed room of trunc(2·w + 1) pairs, which
    // a kernel that is non-zero up to its reach could overflow (up to 2·w + 3 candidates).
    std::size_t candidates = 0;
    for (int i = first; i < end; ++i) {
        const float centre = axis.centre(i);
        const std::int64_t left = axis.left(centre);
        const std::int64_t right = axis.right(centre);
        candidates += right >= left ? static_cast<std::size_t>(right - left + 1) : 0;
    }
    WeightLists lists;
    lists.reserve(static_cast<std::size_t>(end - first), candidates);
    for (int i = first; i < end; ++i) {
        const float centre = axis.centre(i);
        const std::int64_t right = axis.right(centre);
        for (std::int64_t j = axis.left(centre); j <= right; ++j) {
            const float weight = axis.weight(kernel, centre, j);
            if (weight == 0.0f) {
                continue;
            }
            lists.append({foldIndex(j, sourceExtent), weight});
        }
        lists.endList();
    }
    return lists;
}

}  // namespace

void WeightLists::appendLists(const WeightLists& other) {
    const std::size_t base = m_pairs.size();
    m_pairs.insert(m_pairs.end(), other.m_pairs.begin(), other.m_pairs.end());
    for (std::size_t k = 1; k < other.m_starts.size(); ++k) {
        m_starts.push_back(base + other.m_starts[k]);
    }
    m_exactIn.insert(m_exactIn.end(), other.m_exactIn.begin(), other.m_exactIn.end());
}

WeightLists buildWeightLists(int destinationExtent, int sourceExtent, KernelFunction kernel,
                             float support, int threads, AxisReduction reduction) {
    if (destinationExtent <= 0 || sourceExtent <= 0) {
        return WeightLists{};
    }
    const AxisMapping axis(destinationExtent, sourceExtent, support, reduction);
    // The kernel evaluations (a sine each for Lanczos3) cost as much as a pass; threads take
    // ranges of lists, joined in order.
    const double evaluations = destinationExtent * (2.0 * axis.reach() + 3.0);
    threads = evaluations < 4000.0 ? 1 : std::clamp(threads, 1, destinationExtent);
    std::vector<WeightLists> parts(static_cast<std::size_t>(threads));
    inParallel(threads, destinationExtent, [&](int t, int first, int end) {
        parts[static_cast<std::size_t>(t)] = buildListRange(axis, sourceExtent, kernel, first, end);
    });
    WeightLists lists = std::move(parts[0]);
    for (std::size_t t = 1; t < parts.size(); ++t) {
        lists.appendLists(parts[t]);
    }
    return lists;
}

// Which fast arithmetic reproduces a list's extended-precision sums.
//
// Double and Extended: every product value · weight is a multiple of the weight's unit in the
// last place, so every sum of a list, rounded or not, is a multiple k·G of the smallest such
// unit G (rounding to a coarser grid keeps that property). Each sum is at most 255·Σ|w| times
// the growth of the roundings, (1 + 2⁻²³)ⁿ < 2 for n ≤ 2²⁰. When |k| ≤ 2⁵² every exact sum is a
// double, so the double sum rounded to single equals the extended one; when |k| ≤ 2⁶² every
// exact sum is an extended value, so the extended rounding changes nothing and a fused
// single-precision multiply-add (one rounding of the exact value) gives the same single.
//
// DoubleUnlessMidpoint: with every |w| ≥ 2⁻¹⁰⁰, G ≥ 2⁻¹²³, so a non-zero sum lies in the normal
// single range and isSingleMidpoint applies. Let x be the exact sum of a step, d its double and
// e its extended rounding. If e were a midpoint m between singles, |x − m| ≤ ½ulp₆₄(m) <
// ½ulp₅₃(m) and m is a double, so d = m. Hence when d is not a midpoint, e is not one either,
// and a value that is not a midpoint rounds to the same single as x itself (both lie between
// the same neighbouring midpoints): single(d) = single(e). When d is a midpoint and the double
// sum exact, d = x = e. Only an inexact midpoint is redone in extended precision.
ExactIn exactArithmetic(std::span<const WeightPair> pairs) {
    double total = 0.0;
    int unitExponent = 0;  // units above 1 only come with weights above 2^24; 1 is safe there
    for (const WeightPair& pair : pairs) {
        if (!std::isfinite(pair.weight) || !(std::fabs(pair.weight) >= 0x1p-100f)) {
            return ExactIn::Nothing;
        }
        int exponent = 0;
        std::frexp(pair.weight, &exponent);
        unitExponent = std::min(unitExponent, exponent - 24);
        total += std::fabs(static_cast<double>(pair.weight));
    }
    if (pairs.size() <= (std::size_t{1} << 20)) {
        const double bound = 510.0 * total;
        if (bound <= std::ldexp(1.0, unitExponent + 52)) {
            return ExactIn::Double;
        }
        if (bound <= std::ldexp(1.0, unitExponent + 62)) {
            return ExactIn::Extended;
        }
    }
    return ExactIn::DoubleUnlessMidpoint;
}

}  // namespace tz::detail
