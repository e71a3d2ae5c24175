// The fast passes, band by band on several threads, and the choice between the paths.
#include "resample/passes.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "resample/avx2.h"
#include "resample/block.h"
#include "resample/parallel.h"
#include "resample/portable.h"
#include "resample/reference.h"
#include "tz/errors.h"

namespace tz {

namespace {

class BitmapReader final : public RowReader {
  public:
    BitmapReader(const Bitmap& bitmap, int first) : m_bitmap(bitmap), m_next(first) {}
    std::span<const std::uint8_t* const> nextRows(int count) override {
        m_rows.resize(static_cast<std::size_t>(count));
        for (int r = 0; r < count; ++r) {
            m_rows[static_cast<std::size_t>(r)] = m_bitmap.row(m_next + r);
        }
        m_next += count;
        return m_rows;
    }

  private:
    const Bitmap& m_bitmap;
    int m_next;
    std::vector<const std::uint8_t*> m_rows;
};

}  // namespace

std::unique_ptr<RowReader> BitmapRows::readerFrom(int first) {
    return std::make_unique<BitmapReader>(m_bitmap, first);
}

}  // namespace tz

namespace tz::detail {

namespace {

// Each thread owns a band of destination rows and reads the source rows its band needs in
// order, from a reader of its own. It computes their horizontal results block by block into a
// small ring, so neither the source nor the intermediate picture has to exist as a whole, and
// what it keeps stays in cache. When the lists reach so far that the bands would each need most
// of a source that can be read from any row for free, the horizontal results of all its rows
// are computed once, shared, before the bands run. Every byte is the one the two passes in
// order give.

std::size_t bytesPerRow(int width) {
    return static_cast<std::size_t>(width) * 3;
}

int blockOf(std::int32_t sourceRow) {
    return sourceRow / kBlockRows;
}

// The blocks of horizontal results a vertical list reads.
struct BlockRange {
    int first = INT_MAX;
    int last = -1;
};

BlockRange blocksOf(std::span<const WeightPair> pairs) {
    BlockRange range;
    for (const WeightPair& pair : pairs) {
        range.first = std::min(range.first, blockOf(pair.sourceIndex));
        range.last = std::max(range.last, blockOf(pair.sourceIndex));
    }
    return range;
}

// What one thread needs, allocated before the threads start.
struct ThreadState {
    std::vector<std::uint8_t> scratch;      // the vector filter's grouped rows
    std::vector<float> sums;                // the portable vertical filter's row of sums
    std::vector<const std::uint8_t*> rows;  // one horizontal-result row per pair
};

// Horizontal results of source rows, by blocks of kBlockRows rows, in `capacity` slots: block b
// lives in slot b mod capacity, so the last `capacity` blocks filled are at hand.
class FilteredRows {
  public:
    FilteredRows(int capacity, std::size_t rowBytes)
        : m_capacity(capacity),
          m_rowBytes(rowBytes),
          m_bytes(rowBytes * kBlockRows * static_cast<std::size_t>(capacity)) {}

    // The horizontal results of the block's rows `in`, each `sourceWidth` pixels wide.
    void fill(int block, std::span<const std::uint8_t* const> in, int sourceWidth,
              const WeightLists& horizontal, bool vector, ThreadState& state) {
        const int rows = static_cast<int>(in.size());
        std::uint8_t* out[kBlockRows] = {};
        for (int r = 0; r < rows; ++r) {
            out[r] = rowAt(slotOf(block), r);
        }
        if (vector) {
            avx2::filterRows(in.data(), rows, sourceWidth, horizontal, out, state.scratch);
        } else {
            filterRowsPortable(in.data(), rows, horizontal, out);
        }
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
    std::vector<std::uint8_t> m_bytes;
};

// A band of destination rows and the source blocks it reads, in order.
struct Band {
    int firstRow = 0;
    int endRow = 0;
    int firstBlock = 0;
    int endBlock = 0;
    // Blocks its ring keeps: enough that no block is needed again after it was replaced.
    int capacity = 1;
    std::vector<bool> needed;  // per block from firstBlock: whether a list of the band reads it
};

Band bandOf(const std::vector<BlockRange>& ranges, int firstRow, int endRow) {
    Band band;
    band.firstRow = firstRow;
    band.endRow = endRow;
    // Row i needs blocks from the lowest first block of rows i … end on, while the blocks up to
    // the highest last block of rows first … i have been read: the ring must span those. An
    // empty list (only made up by the tests) needs nothing.
    std::vector<int> neededFrom(static_cast<std::size_t>(endRow - firstRow));
    int lowest = INT_MAX;
    for (int i = endRow - 1; i >= firstRow; --i) {
        lowest = std::min(lowest, ranges[static_cast<std::size_t>(i)].first);
        neededFrom[static_cast<std::size_t>(i - firstRow)] = lowest;
    }
    int highest = -1;
    for (int i = firstRow; i < endRow; ++i) {
        highest = std::max(highest, ranges[static_cast<std::size_t>(i)].last);
        const int from = neededFrom[static_cast<std::size_t>(i - firstRow)];
        band.capacity = std::max(band.capacity, highest - from + 1);
    }
    if (highest < 0) {
        return band;
    }
    band.firstBlock = lowest;
    band.endBlock = highest + 1;
    std::vector<int> starts(static_cast<std::size_t>(band.endBlock - band.firstBlock) + 1);
    for (int i = firstRow; i < endRow; ++i) {
        const BlockRange& range = ranges[static_cast<std::size_t>(i)];
        if (range.first <= range.last) {
            ++starts[static_cast<std::size_t>(range.first - band.firstBlock)];
            --starts[static_cast<std::size_t>(range.last + 1 - band.firstBlock)];
        }
    }
    band.needed.resize(starts.size() - 1);
    int open = 0;
    for (std::size_t b = 0; b < band.needed.size(); ++b) {
        open += starts[b];
        band.needed[b] = open > 0;
    }
    return band;
}

// Where `threads` bands over `rows` destination rows end, so that each costs about the same when
// a reader starting at a row pays `skipCost` for every row before it (rows of the source taken
// as spread evenly over the destination's).
std::vector<int> bandEnds(int threads, int rows, double skipCost) {
    // Band t covers the share x_t … x_{t+1} and costs skipCost · x_t + x_{t+1} − x_t = c.
    double total = 0.0;
    double term = 1.0;
    for (int t = 0; t < threads; ++t) {
        total += term;
        term *= 1.0 - skipCost;
    }
    std::vector<int> ends(static_cast<std::size_t>(threads));
    double share = 0.0;
    for (int t = 0; t < threads; ++t) {
        share = share * (1.0 - skipCost) + 1.0 / total;
        ends[static_cast<std::size_t>(t)] =
            t + 1 == threads ? rows : std::clamp(static_cast<int>(share * rows + 0.5), 0, rows);
    }
    return ends;
}

// A band's reader for a source that only one reader reads well (its readers would each decode
// everything before their first row): the source is read on a thread of its own, a few blocks
// ahead of the band, so that decoding runs beside the filtering. Blocks come out in the sizes
// `counts` gives, in order.
class ReadAhead final : public RowReader {
  public:
    ReadAhead(RowSource& source, int first, std::vector<int> counts, std::size_t rowBytes)
        : m_source(source), m_first(first), m_counts(std::move(counts)), m_rowBytes(rowBytes) {
        for (Slot& slot : m_slots) {
            slot.bytes.resize(rowBytes * kBlockRows);
        }
        m_thread = std::thread([this] { produce(); });
    }

    ~ReadAhead() override {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    std::span<const std::uint8_t* const> nextRows(int) override {
        std::unique_lock lock(m_mutex);
        if (m_handedOut) {
            ++m_consumed;  // the block handed out last is done with: its slot may be refilled
            m_changed.notify_all();
        }
        m_changed.wait(lock, [this] { return m_produced > m_consumed || m_failure; });
        if (m_produced == m_consumed) {
            std::rethrow_exception(m_failure);
        }
        m_handedOut = true;
        return m_slots[m_consumed % kSlots].rows;
    }

  private:
    static constexpr std::size_t kSlots = 4;

    struct Slot {
        std::vector<std::uint8_t> bytes;
        std::vector<const std::uint8_t*> rows;
    };

    void produce() {
        try {
            const std::unique_ptr<RowReader> reader = m_source.readerFrom(m_first);
            for (std::size_t block = 0; block < m_counts.size(); ++block) {
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [&] { return m_stop || block - m_consumed < kSlots; });
                    if (m_stop) {
                        return;
                    }
                }
                // The slot is the producer's alone until the block is counted as produced.
                Slot& slot = m_slots[block % kSlots];
                const auto rows = reader->nextRows(m_counts[block]);
                slot.rows.clear();
                for (std::size_t r = 0; r < rows.size(); ++r) {
                    std::uint8_t* row = slot.bytes.data() + r * m_rowBytes;
                    std::copy_n(rows[r], m_rowBytes, row);
                    slot.rows.push_back(row);
                }
                {
                    const std::lock_guard lock(m_mutex);
                    ++m_produced;
                }
                m_changed.notify_all();
            }
        } catch (...) {
            {
                const std::lock_guard lock(m_mutex);
                m_failure = std::current_exception();
            }
            m_changed.notify_all();
        }
    }

    RowSource& m_source;
    int m_first;
    std::vector<int> m_counts;
    std::size_t m_rowBytes;
    std::array<Slot, kSlots> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_produced = 0;
    std::size_t m_consumed = 0;
    bool m_handedOut = false;
    bool m_stop = false;
    std::exception_ptr m_failure;
    std::thread m_thread;  // last: it starts once everything else is set up
};

// The fast passes' shared facts.
struct Passes {
    RowSource& source;
    Bitmap& destination;
    const WeightLists& horizontal;
    const WeightLists& vertical;
    bool vector = false;
    bool readAhead = false;  // one band, its source read ahead on a thread of its own
    // The first band that failed: the bands after it stop at their next block, their work being
    // lost anyway, while those before it go on, so that the error reported is the one the rows
    // in order meet first.
    std::atomic<int> firstFailed{INT_MAX};

    void filter(FilteredRows& filtered, int block, std::span<const std::uint8_t* const> in,
                ThreadState& state) {
        filtered.fill(block, in, source.width(), horizontal, vector, state);
    }

    std::unique_ptr<RowReader> readingAhead(const Band& band) const {
        std::vector<int> counts;
        for (int block = band.firstBlock; block < band.endBlock; ++block) {
            counts.push_back(std::min(kBlockRows, source.height() - block * kBlockRows));
        }
        return std::make_unique<ReadAhead>(source, band.firstBlock * kBlockRows, std::move(counts),
                                           bytesPerRow(source.width()));
    }

    bool stopped(int part) const { return firstFailed.load(std::memory_order_relaxed) < part; }
    void noteFailure(int part) {
        int failed = firstFailed.load();
        while (part < failed && !firstFailed.compare_exchange_weak(failed, part)) {
        }
    }

    std::span<const std::uint8_t* const> readBlock(RowReader& reader, int block) {
        const int rows = std::min(kBlockRows, source.height() - block * kBlockRows);
        return reader.nextRows(rows);
    }

    void combine(int i, FilteredRows& filtered, ThreadState& state) {
        const std::span<const WeightPair> pairs = vertical[i];
        state.rows.clear();
        for (const WeightPair& pair : pairs) {
            state.rows.push_back(filtered.row(pair.sourceIndex));
        }
        if (vector) {
            avx2::combineRows(pairs, vertical.exactIn(i), state.rows.data(),
                              bytesPerRow(destination.width()), destination.row(i));
        } else {
            combineRowsPortable(pairs, vertical.exactIn(i), state.rows.data(), state.sums,
                                destination.row(i));
        }
    }

    // The band's rows, reading its blocks from the source in order (none when `shared` already
    // holds every block).
    void runBand(int part, const Band& band, FilteredRows& filtered, ThreadState& state,
                 bool shared) {
        std::unique_ptr<RowReader> reader;
        if (!shared && band.firstBlock < band.endBlock) {
            reader =
                readAhead ? readingAhead(band) : source.readerFrom(band.firstBlock * kBlockRows);
        }
        int next = band.firstBlock;
        for (int i = band.firstRow; i < band.endRow; ++i) {
            for (const int last = blocksOf(vertical[i]).last; !shared && next <= last; ++next) {
                if (stopped(part)) {
                    return;
                }
                const std::span<const std::uint8_t* const> in = readBlock(*reader, next);
                if (band.needed[static_cast<std::size_t>(next - band.firstBlock)]) {
                    filter(filtered, next, in, state);
                }
            }
            combine(i, filtered, state);
        }
    }
};

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

void resampleFast(RowSource& source, Bitmap& destination, const WeightLists& horizontal,
                  const WeightLists& vertical, const ResampleOptions& options) {
    Passes passes{source, destination, horizontal, vertical};
    passes.vector = options.path == ResamplePath::Automatic && avx2::available();
    const int blocks = (source.height() + kBlockRows - 1) / kBlockRows;
    std::vector<BlockRange> ranges(static_cast<std::size_t>(vertical.size()));
    int span = 1;
    std::size_t longestList = 0;
    for (int i = 0; i < vertical.size(); ++i) {
        const BlockRange range = blocksOf(vertical[i]);
        ranges[static_cast<std::size_t>(i)] = range;
        span = std::max(span, range.last - range.first + 1);
        longestList = std::max(longestList, vertical[i].size());
    }
    const double multiplyAdds =
        3.0 * (static_cast<double>(horizontal.pairCount()) * source.height() +
               static_cast<double>(vertical.pairCount()) * destination.width());
    const double skipCost = std::max(source.skipCost(), 0.0);
    int threads = threadsFor(options, multiplyAdds, vertical.size());
    const bool shared = threads > 1 && 2 * span > blocks && skipCost == 0.0;
    if (!shared && skipCost >= 1.0 && threads > 1) {
        // Every band would decode the whole source up to its rows: one band instead, while a
        // second thread decodes.
        threads = 1;
        passes.readAhead = true;
    }

    std::vector<Band> bands;
    int capacity = 0;
    int firstRow = 0;
    for (const int endRow : bandEnds(threads, vertical.size(), shared ? 0.0 : skipCost)) {
        bands.push_back(bandOf(ranges, firstRow, endRow));
        capacity += shared ? 0 : bands.back().capacity;
        firstRow = endRow;
    }
    const std::size_t rowBytes = bytesPerRow(destination.width());
    ensureAllocatable(rowBytes * kBlockRows * static_cast<std::size_t>(shared ? blocks : capacity),
                      destination.width(), source.height());
    std::vector<FilteredRows> filtered;
    filtered.reserve(bands.size());
    for (const Band& band : bands) {
        filtered.emplace_back(shared ? blocks : band.capacity, rowBytes);
        if (shared) {
            break;
        }
    }
    std::vector<ThreadState> states(static_cast<std::size_t>(threads));
    for (ThreadState& state : states) {
        state.scratch.resize(
            passes.vector ? avx2::rowScratchBytes(source.width(), destination.width()) : 0);
        state.sums.resize(passes.vector ? 0 : rowBytes);
        state.rows.reserve(longestList);
    }

    const auto guarded = [&](int part, const auto& work) {
        try {
            work();
        } catch (...) {
            passes.noteFailure(part);
            throw;
        }
    };
    if (shared) {
        // Threads fill disjoint blocks; the bands then only read them.
        inParallel(threads, blocks, [&](int t, int first, int end) {
            guarded(t, [&] {
                if (first == end) {
                    return;
                }
                const std::unique_ptr<RowReader> reader = source.readerFrom(first * kBlockRows);
                ThreadState& state = states[static_cast<std::size_t>(t)];
                for (int block = first; block < end && !passes.stopped(t); ++block) {
                    passes.filter(filtered[0], block, passes.readBlock(*reader, block), state);
                }
            });
        });
    }
    inParallel(threads, threads, [&](int t, int, int) {
        const auto index = static_cast<std::size_t>(t);
        guarded(t, [&] {
            passes.runBand(t, bands[index], filtered[shared ? 0 : index], states[index], shared);
        });
    });
}

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

void checkFit(int sourceWidth, int sourceHeight, const Bitmap& destination,
              const WeightLists& horizontal, const WeightLists& vertical) {
    if (destination.format() != PixelFormat::Bits24 || destination.width() != horizontal.size() ||
        destination.height() != vertical.size() || !indicesWithin(horizontal, sourceWidth) ||
        !indicesWithin(vertical, sourceHeight)) {
        throw Error("Weight lists do not fit the bitmaps");
    }
}

// The whole source as a bitmap, for the reference path.
Bitmap readWhole(RowSource& source) {
    ensureAllocatable(bitmapBytes(source.width(), source.height(), PixelFormat::Bits24),
                      source.width(), source.height());
    Bitmap bitmap(Bitmap::ForOverwrite{}, source.width(), source.height(), PixelFormat::Bits24);
    const std::unique_ptr<RowReader> reader = source.readerFrom(0);
    const std::size_t length = bytesPerRow(source.width());
    for (int top = 0; top < source.height(); top += kBlockRows) {
        const auto rows = reader->nextRows(std::min(kBlockRows, source.height() - top));
        for (std::size_t r = 0; r < rows.size(); ++r) {
            std::copy_n(rows[r], length, bitmap.row(top + static_cast<int>(r)));
        }
    }
    return bitmap;
}

}  // namespace

bool vectorPathAvailable() {
    return avx2::available();
}

void resampleWithLists(RowSource& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options) {
    checkFit(source.width(), source.height(), destination, horizontal, vertical);
    if (horizontal.size() == 0 || vertical.size() == 0) {
        return;
    }
    if (options.path == ResamplePath::Reference) {
        resampleReference(readWhole(source), destination, horizontal, vertical);
    } else {
        resampleFast(source, destination, horizontal, vertical, options);
    }
}

void resampleWithLists(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options) {
    if (source.format() != PixelFormat::Bits24) {
        throw Error("Weight lists do not fit the bitmaps");
    }
    checkFit(source.width(), source.height(), destination, horizontal, vertical);
    if (horizontal.size() == 0 || vertical.size() == 0) {
        return;
    }
    if (options.path == ResamplePath::Reference) {
        resampleReference(source, destination, horizontal, vertical);
    } else {
        BitmapRows rows(source);
        resampleFast(rows, destination, horizontal, vertical, options);
    }
}

}  // namespace tz::detail
