// The fast passes, band by band on several threads, and the choice between the paths.
#include "resample/passes.h"

#include <algorithm>
#include <climits>
#include <thread>
#include <vector>

#include "resample/avx2.h"
#include "resample/block.h"
#include "resample/parallel.h"
#include "resample/portable.h"
#include "resample/reference.h"
#include "tz/errors.h"

namespace tz::detail {

namespace {

// Each thread owns a band of destination rows. It computes the horizontal result of only the
// source rows its band needs, block by block, into a small ring, so the intermediate picture
// never exists as a whole and stays in cache. When the lists reach so far that the bands would
// each need most of the source, the horizontal results are computed once, shared, before the
// bands run. Every byte is the one the two passes in order give.

std::size_t bytesPerRow(int width) {
    return static_cast<std::size_t>(width) * 3;
}

int blockOf(std::int32_t sourceRow) {
    return sourceRow / kBlockRows;
}

// The blocks of horizontal results a vertical list reads.
std::pair<int, int> blocksOf(std::span<const WeightPair> pairs) {
    int first = INT_MAX;
    int last = -1;
    for (const WeightPair& pair : pairs) {
        first = std::min(first, blockOf(pair.sourceIndex));
        last = std::max(last, blockOf(pair.sourceIndex));
    }
    return {first, last};
}

// What one thread needs, allocated before the threads start.
struct ThreadState {
    std::vector<std::uint8_t> scratch;      // the vector filter's grouped rows
    std::vector<float> sums;                // the portable vertical filter's row of sums
    std::vector<const std::uint8_t*> rows;  // one horizontal-result row per pair
};

// Horizontal results of source rows, by blocks of kBlockRows rows, in `capacity` slots: block b
// lives in slot b mod capacity. As long as the capacity is at least the span of a list in
// blocks, the blocks of one list never evict one another.
class FilteredRows {
  public:
    FilteredRows(int capacity, std::size_t rowBytes)
        : m_capacity(capacity),
          m_rowBytes(rowBytes),
          m_tags(static_cast<std::size_t>(capacity), -1),
          m_bytes(rowBytes * kBlockRows * static_cast<std::size_t>(capacity)) {}

    bool holds(int block) const { return m_tags[slotOf(block)] == block; }

    void fill(int block, const Bitmap& source, const WeightLists& horizontal, bool vector,
              ThreadState& state) {
        const int top = block * kBlockRows;
        const int rows = std::min(kBlockRows, source.height() - top);
        std::uint8_t* out[kBlockRows] = {};
        for (int r = 0; r < rows; ++r) {
            out[r] = rowAt(slotOf(block), r);
        }
        if (vector) {
            avx2::filterRows(source, top, rows, horizontal, out, state.scratch);
        } else {
            filterRowsPortable(source, top, rows, horizontal, out);
        }
        m_tags[slotOf(block)] = block;
    }

    const std::uint8_t* row(std::int32_t sourceRow) {
        return rowAt(slotOf(blockOf(sourceRow)), sourceRow % kBlockRows);
    }

  private:
    std::size_t slotOf(int block) const { return static_cast<std::size_t>(block % m_capacity); }
    std::uint8_t* rowAt(std::size_t slot, int r) {
        return m_bytes.data() + (slot * kBlockRows + static_cast<std::size_t>(r)) * m_rowBytes;
    }

    int m_capacity;
    std::size_t m_rowBytes;
    std::vector<int> m_tags;
    std::vector<std::uint8_t> m_bytes;
};

void resampleBand(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                  const WeightLists& vertical, bool vector, FilteredRows& filtered,
                  ThreadState& state, int firstRow, int endRow) {
    const std::size_t length = bytesPerRow(destination.width());
    for (int i = firstRow; i < endRow; ++i) {
        const std::span<const WeightPair> pairs = vertical[i];
        const auto [first, last] = blocksOf(pairs);
        for (int block = first; block <= last; ++block) {
            if (!filtered.holds(block)) {
                filtered.fill(block, source, horizontal, vector, state);
            }
        }
        state.rows.clear();
        for (const WeightPair& pair : pairs) {
            state.rows.push_back(filtered.row(pair.sourceIndex));
        }
        if (vector) {
            avx2::combineRows(pairs, vertical.exactIn(i), state.rows.data(), length,
                              destination.row(i));
        } else {
            combineRowsPortable(pairs, vertical.exactIn(i), state.rows.data(), state.sums,
                                destination.row(i));
        }
    }
}

// Below this many multiply-adds the work stays on the caller's thread: starting a thread costs
// more than it saves.
constexpr double kThreadWorthwhile = 2.0e6;

int threadsFor(const ResampleOptions& options, double multiplyAdds, int units) {
    int threads = options.threads;
    if (threads <= 0) {
        threads = multiplyAdds < kThreadWorthwhile
                      ? 1
                      : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    }
    return std::clamp(threads, 1, std::max(units, 1));
}

void resampleFast(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                  const WeightLists& vertical, const ResampleOptions& options) {
    const bool vector = options.path == ResamplePath::Automatic && avx2::available();
    const int blocks = (source.height() + kBlockRows - 1) / kBlockRows;
    int span = 1;
    std::size_t longestList = 0;
    for (int i = 0; i < vertical.size(); ++i) {
        const auto [first, last] = blocksOf(vertical[i]);
        span = std::max(span, last - first + 1);
        longestList = std::max(longestList, vertical[i].size());
    }
    const double multiplyAdds =
        3.0 * (static_cast<double>(horizontal.pairCount()) * source.height() +
               static_cast<double>(vertical.pairCount()) * destination.width());
    const int threads = threadsFor(options, multiplyAdds, vertical.size());
    const bool shared = threads > 1 && 2 * span > blocks;

    const std::size_t rowBytes = bytesPerRow(destination.width());
    const int rings = shared ? 1 : threads;
    const int capacity = shared ? blocks : span;
    ensureAllocatable(rowBytes * kBlockRows * static_cast<std::size_t>(capacity) *
                          static_cast<std::size_t>(rings),
                      destination.width(), source.height());
    std::vector<FilteredRows> filtered;
    filtered.reserve(static_cast<std::size_t>(rings));
    for (int r = 0; r < rings; ++r) {
        filtered.emplace_back(capacity, rowBytes);
    }
    std::vector<ThreadState> states(static_cast<std::size_t>(threads));
    for (ThreadState& state : states) {
        state.scratch.resize(vector ? avx2::rowScratchBytes(source.width(), destination.width())
                                    : 0);
        state.sums.resize(vector ? 0 : rowBytes);
        state.rows.reserve(longestList);
    }

    if (shared) {
        // Threads fill disjoint blocks; the bands then only read them.
        inParallel(threads, blocks, [&](int t, int first, int end) {
            for (int block = first; block < end; ++block) {
                filtered[0].fill(block, source, horizontal, vector,
                                 states[static_cast<std::size_t>(t)]);
            }
        });
    }
    inParallel(threads, vertical.size(), [&](int t, int first, int end) {
        const auto index = static_cast<std::size_t>(t);
        resampleBand(source, destination, horizontal, vertical, vector,
                     filtered[shared ? 0 : index], states[index], first, end);
    });
}

}  // namespace

bool vectorPathAvailable() {
    return avx2::available();
}

namespace {

bool indicesWithin(const WeightLists& lists, int extent) {
    for (int i = 0; i < lists.size(); ++i) {
        for (const WeightPair& pair : lists[i]) {
            if (pair.sourceIndex < 0 || pair.sourceIndex >= extent) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

void resampleWithLists(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options) {
    if (source.format() != PixelFormat::Bits24 || destination.format() != PixelFormat::Bits24 ||
        destination.width() != horizontal.size() || destination.height() != vertical.size() ||
        !indicesWithin(horizontal, source.width()) || !indicesWithin(vertical, source.height())) {
        throw Error("Weight lists do not fit the bitmaps");
    }
    if (horizontal.size() == 0 || vertical.size() == 0) {
        return;
    }
    if (options.path == ResamplePath::Reference) {
        resampleReference(source, destination, horizontal, vertical);
    } else {
        resampleFast(source, destination, horizontal, vertical, options);
    }
}

}  // namespace tz::detail
