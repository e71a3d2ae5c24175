// The weight lists of one axis of the resampler: for each destination pixel, the source pixels
// it sums with their weights, and the cheapest arithmetic that sums them exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tz/resample.h"

namespace tz::detail {

struct WeightPair {
    std::int32_t sourceIndex;  // folded (and clamped) into the source
    float weight;              // never exactly 0
};

// The cheapest arithmetic that gives the extended-precision result for every sum of a list.
enum class ExactIn : std::uint8_t {
    Double,                // every intermediate sum is exactly representable in double
    Extended,              // ... in the 64-bit significand: a fused single-precision step is exact
    DoubleUnlessMidpoint,  // a double step is exact unless its sum lands halfway between two
                           // singles (then that step is redone in extended precision)
    Nothing,               // only extended-precision steps (a weight below 2^-100 or not finite)
};

// The weight lists of one pass: list i holds the pairs of destination column (or row) i.
class WeightLists {
  public:
    int size() const { return static_cast<int>(m_exactIn.size()); }
    std::span<const WeightPair> operator[](int i) const {
        const auto index = static_cast<std::size_t>(i);
        return std::span<const WeightPair>(m_pairs).subspan(m_starts[index],
                                                            m_starts[index + 1] - m_starts[index]);
    }
    ExactIn exactIn(int i) const { return m_exactIn[static_cast<std::size_t>(i)]; }
    std::size_t pairCount() const { return m_pairs.size(); }

    // Built list by list: reserve, then for each list its pairs followed by endList().
    void reserve(std::size_t lists, std::size_t pairs);
    void append(WeightPair pair) { m_pairs.push_back(pair); }
    void endList();
    // Appends the lists of `other` after these.
    void appendLists(const WeightLists& other);

  private:
    std::vector<std::size_t> m_starts{0};
    std::vector<WeightPair> m_pairs;
    std::vector<ExactIn> m_exactIn;
};

// The scale of one axis, stored as single: n/1 for a source of one pixel, else corner-aligned
// (destination − 1)/(source − 1). 0 for a destination of 1 pixel from a longer source.
float scaleFactor(int destinationExtent, int sourceExtent);

// A source axis decoded reduced: each source pixel the mean of `factor` pixels of an axis
// `fullExtent` long (see ResampleOptions::sourceReduction). Factor 1: no reduction.
struct AxisReduction {
    int factor = 1;
    int fullExtent = 0;
};

// The lists for destination extent d from source extent n ≥ 1 (d ≥ 0), built by up to
// `threads` threads when there are enough of them to be worth it. With a reduction, the
// destination maps corner to corner onto the full axis, and a full-axis position x onto the
// source at (x − (factor − 1) / 2) / factor, the centre of the block that holds it.
WeightLists buildWeightLists(int destinationExtent, int sourceExtent, KernelFunction kernel,
                             float support, int threads = 1, AxisReduction reduction = {});

// Which arithmetic is exact for a list (see ExactIn).
ExactIn exactArithmetic(std::span<const WeightPair> pairs);

}  // namespace tz::detail
