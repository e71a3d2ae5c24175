// The portable fast filters: the same sums in the same order as the reference, any processor.
#include "resample/portable.h"

#include <algorithm>

#include "resample/arithmetic.h"

namespace tz::detail {

namespace {

// One destination column of a block of kBlockRows source rows (rows past `rows` repeat the
// first and are not written): the 3 · kBlockRows sums are independent, so they proceed side by
// side instead of waiting on one another.
template <float (*step)(float, std::uint8_t, float)>
void filterColumn(const std::uint8_t* const* in, std::span<const WeightPair> pairs, int rows,
                  std::size_t offset, std::uint8_t* const* out) {
    constexpr std::size_t kLanes = 3 * static_cast<std::size_t>(kBlockRows);
    float sums[kLanes] = {};
    for (const WeightPair& pair : pairs) {
        const std::size_t pixel = static_cast<std::size_t>(pair.sourceIndex) * 3;
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            sums[lane] = step(sums[lane], in[lane / 3][pixel + lane % 3], pair.weight);
        }
    }
    for (std::size_t lane = 0; lane < static_cast<std::size_t>(rows) * 3; ++lane) {
        out[lane / 3][offset + lane % 3] = toByte(sums[lane]);
    }
}

}  // namespace

void filterRowsPortable(const std::uint8_t* const* rowsIn, int rows, const WeightLists& lists,
                        std::uint8_t* const* out) {
    const std::uint8_t* in[kBlockRows] = {};
    for (int r = 0; r < kBlockRows; ++r) {
        in[r] = rowsIn[r < rows ? r : 0];
    }
    for (int i = 0; i < lists.size(); ++i) {
        const std::size_t offset = static_cast<std::size_t>(i) * 3;
        switch (lists.exactIn(i)) {
            case ExactIn::Double:
                filterColumn<accumulateDouble>(in, lists[i], rows, offset, out);
                break;
            case ExactIn::Extended:
            case ExactIn::DoubleUnlessMidpoint:
                filterColumn<accumulateChecked>(in, lists[i], rows, offset, out);
                break;
            case ExactIn::Nothing:
                filterColumn<accumulate>(in, lists[i], rows, offset, out);
                break;
        }
    }
}

namespace {

template <float (*step)(float, std::uint8_t, float)>
void addRow(const std::uint8_t* in, float weight, std::span<float> sums) {
    for (std::size_t x = 0; x < sums.size(); ++x) {
        sums[x] = step(sums[x], in[x], weight);
    }
}

}  // namespace

// Each weight applied across a whole row: every sum is still formed over the list in order.
void combineRowsPortable(std::span<const WeightPair> pairs, ExactIn exactIn,
                         const std::uint8_t* const* in, std::span<float> sums, std::uint8_t* out) {
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        switch (exactIn) {
            case ExactIn::Double:
                addRow<accumulateDouble>(in[t], pairs[t].weight, sums);
                break;
            case ExactIn::Extended:
            case ExactIn::DoubleUnlessMidpoint:
                addRow<accumulateChecked>(in[t], pairs[t].weight, sums);
                break;
            case ExactIn::Nothing:
                addRow<accumulate>(in[t], pairs[t].weight, sums);
                break;
        }
    }
    for (std::size_t x = 0; x < sums.size(); ++x) {
        out[x] = toByte(sums[x]);
    }
}

}  // namespace tz::detail
