// GIF LZW decoding into frame rows and LZW encoding with a hashed string table.
#include "gif/lzw.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tz/bitmap.h"
#include "tz/errors.h"

namespace tz::gif {

namespace {

constexpr int kMaxCodeWidth = 12;
constexpr int kTableSize = 1 << kMaxCodeWidth;
// The encoder resets its table instead of letting the next free code pass this.
constexpr int kEncoderLastNextCode = 4094;

// First storage for a frame's indices: natural pictures compress to about half, so four
// indices per byte of data usually fit at once, while a tiny file announcing a huge frame
// costs little until its data turns out to reach further.
constexpr std::size_t kFirstStorage = std::size_t{1} << 16;
constexpr std::size_t kIndicesPerDataByte = 4;

// Strings are copied in 16-byte steps, which may write up to 15 bytes past their end.
constexpr std::size_t kCopyStep = 16;

struct InterlacePass {
    int start;
    int step;
};
constexpr std::array<InterlacePass, 4> kInterlacePasses{{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};

// Reads codes least significant bit first from the data of consecutive sub-blocks.
class CodeReader {
  public:
    explicit CodeReader(const SubBlocks& blocks)
        : m_bytes(blocks.bytes()), m_position(blocks.start()), m_blockEnd(blocks.start()) {}

    // The next code of `width` bits, or -1 when the data has run out.
    int read(int width) {
        if (m_bitCount < width) {
            refill();
            if (m_bitCount < width) {
                return -1;
            }
        }
        const int code = static_cast<int>(m_bits & ((std::uint64_t{1} << width) - 1));
        m_bits >>= width;
        m_bitCount -= width;
        return code;
    }

  private:
    void refill() {
        if (m_blockEnd - m_position >= sizeof(std::uint64_t)) {
            // Whole bytes up to 63 bits in one load, the usual case inside a sub-block.
            std::uint64_t word;
            std::memcpy(&word, m_bytes.data() + m_position, sizeof word);
            m_bits |= word << m_bitCount;
            m_position += static_cast<std::size_t>(63 - m_bitCount) >> 3;
            m_bitCount |= 56;
            return;
        }
        while (m_bitCount <= 56) {
            if (m_position == m_blockEnd && !enterNextBlock()) {
                return;
            }
            m_bits |= static_cast<std::uint64_t>(m_bytes[m_position++]) << m_bitCount;
            m_bitCount += 8;
        }
    }

    bool enterNextBlock() {
        if (m_ended || m_position >= m_bytes.size()) {
            m_ended = true;
            return false;
        }
        const std::size_t size = m_bytes[m_position++];
        m_blockEnd = std::min(m_position + size, m_bytes.size());
        m_ended = m_position == m_blockEnd;
        return !m_ended;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position;
    std::size_t m_blockEnd;
    bool m_ended = false;
    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
};

// Storage for decoded indices in stream order, grown as the data reaches further.
class IndexStorage {
  public:
    IndexStorage(ByteBuffer& buffer, std::size_t limit, std::size_t firstCapacity, int width,
                 int height)
        : m_buffer(buffer), m_limit(limit), m_width(width), m_height(height) {
        grow(std::min(limit, std::max(firstCapacity, kFirstStorage)));
    }

    std::uint8_t* data() { return m_buffer.data(); }
    std::size_t capacity() const { return m_capacity; }
    std::size_t limit() const { return m_limit; }

    // Room for at least `needed` indices (at most the limit), keeping those written.
    void grow(std::size_t needed) {
        const std::size_t capacity = std::min(m_limit, std::max(needed, m_capacity * 2));
        // A buffer this size can only be asked for by a frame whose data reaches that far.
        ensureAllocatable(capacity, m_width, m_height);
        m_buffer.resize(capacity + kCopyStep);
        m_capacity = capacity;
    }

  private:
    ByteBuffer& m_buffer;
    std::size_t m_limit;
    std::size_t m_capacity = 0;
    int m_width;
    int m_height;
};

// Appends `count` indices found at `source`, which lie wholly before `target`, in 16-byte steps
// that may write up to 15 bytes past the end.
inline void copyString(std::uint8_t* target, const std::uint8_t* source, std::size_t count) {
    for (std::size_t done = 0; done < count; done += kCopyStep) {
        // Loaded whole before stored: bytes past the string's end may be the target's own.
        std::array<std::uint8_t, kCopyStep> step;
        std::memcpy(step.data(), source + done, kCopyStep);
        std::memcpy(target + done, step.data(), kCopyStep);
    }
}

// Every literal index in order, with room for a 16-byte copy step past the last.
constexpr auto kLiterals = [] {
    std::array<std::uint8_t, 256 + kCopyStep> literals{};
    for (std::size_t i = 0; i < 256; ++i) {
        literals[i] = static_cast<std::uint8_t>(i);
    }
    return literals;
}();

// A table entry: where its string is, in the output or among the literals, and its length
// (0 for the clear and end codes).
struct Entry {
    const std::uint8_t* source;
    std::uint32_t length;
};

// Every string the table holds was written out before, so a table entry is a place in the
// output: expanding a code is one short copy, with no walk along a chain of prefixes. Literal
// codes point at a fixed list, so literal and table codes take the same path. The output's
// state is kept in locals, which stores of indices cannot alias.
// How decoding ended and how many indices it wrote.
struct Decoded {
    LzwEnd end;
    std::size_t count;
};

Decoded decodeLinear(const SubBlocks& blocks, int minCodeSize, IndexStorage& storage) {
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    std::array<Entry, kTableSize> table;
    for (int code = 0; code < clearCode; ++code) {
        table[static_cast<std::size_t>(code)] = {kLiterals.data() + code, 1};
    }
    table[static_cast<std::size_t>(clearCode)] = {nullptr, 0};
    table[static_cast<std::size_t>(endCode)] = {nullptr, 0};
    CodeReader reader(blocks);
    int width = minCodeSize + 1;
    int nextCode = endCode + 1;
    bool tableEmpty = true;
    std::size_t previousStart = 0;
    std::uint32_t previousLength = 0;
    std::uint8_t* out = storage.data();
    std::size_t size = 0;
    std::size_t capacity = storage.capacity();
    const std::size_t limit = storage.limit();
    // Makes room for `count` more indices as far as the frame's end and returns how many fit.
    // Table entries follow the output when it moves.
    const auto makeRoom = [&](std::size_t count) {
        const std::size_t fitting = std::min<std::size_t>(count, limit - size);
        if (size + fitting > capacity) {
            const auto oldOut = reinterpret_cast<std::uintptr_t>(out);
            storage.grow(size + fitting);
            out = storage.data();
            capacity = storage.capacity();
            for (int code = endCode + 1; code < nextCode; ++code) {
                Entry& entry = table[static_cast<std::size_t>(code)];
                entry.source = out + (reinterpret_cast<std::uintptr_t>(entry.source) - oldOut);
            }
        }
        return fitting;
    };
    // Each pass reads at least one bit, so the data's length bounds the loop.
    for (;;) {
        const int code = reader.read(width);
        if (code < 0) {
            return {LzwEnd::DataExhausted, size};
        }
        std::uint32_t length = 0;
        if (code < nextCode && table[static_cast<std::size_t>(code)].length != 0) {
            length = table[static_cast<std::size_t>(code)].length;
            if (size + length > capacity && makeRoom(length) < length) {
                std::memmove(out + size, table[static_cast<std::size_t>(code)].source,
                             limit - size);
                size = limit;
                return {LzwEnd::FrameComplete, size};
            }
            copyString(out + size, table[static_cast<std::size_t>(code)].source, length);
        } else if (code == clearCode) {
            width = minCodeSize + 1;
            nextCode = endCode + 1;
            tableEmpty = true;
            continue;
        } else if (code == endCode) {
            return {LzwEnd::EndCode, size};
        } else if (code == nextCode && !tableEmpty) {
            // The string of the previous code followed by its own first index.
            length = previousLength + 1;
            if (makeRoom(length) < length) {
                std::memmove(out + size, out + previousStart, limit - size);
                size = limit;
                return {LzwEnd::FrameComplete, size};
            }
            copyString(out + size, out + previousStart, previousLength);
            out[size + previousLength] = out[previousStart];
        } else {
            throw GifError("Invalid GIF data");
        }
        if (!tableEmpty && nextCode < kTableSize) {
            // The previous string and the first index of this one, which follows it directly.
            table[static_cast<std::size_t>(nextCode)] = {out + previousStart, previousLength + 1};
            ++nextCode;
            if (nextCode == (1 << width) && width < kMaxCodeWidth) {
                ++width;
            }
        }
        tableEmpty = false;
        previousStart = size;
        previousLength = length;
        size += length;
        if (size == limit) {
            return {LzwEnd::FrameComplete, size};
        }
    }
}

// Moves rows decoded in interlaced order to their places. Storage reaches the lowest row
// the data reached; rows between that it never reached stay index 0.
void placeInterlaced(const ByteBuffer& decoded, std::size_t count, std::size_t width, int height,
                     ByteBuffer& pixels) {
    const std::size_t rows = (count + width - 1) / width;
    if (rows == 0) {
        pixels.clear();
        return;
    }
    std::vector<int> targets = rowOrder(height, true);
    targets.resize(rows);
    const int lowest = *std::max_element(targets.begin(), targets.end());
    pixels.assign(static_cast<std::size_t>(lowest + 1) * width, 0);
    for (std::size_t row = 0; row < rows; ++row) {
        const std::size_t begin = row * width;
        const std::size_t length = std::min(width, count - begin);
        std::memcpy(pixels.data() + static_cast<std::size_t>(targets[row]) * width,
                    decoded.data() + begin, length);
    }
}

}  // namespace

std::vector<int> rowOrder(int height, bool interlaced) {
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(std::max(height, 0)));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) {
            order.push_back(y);
        }
        return order;
    }
    for (const InterlacePass& pass : kInterlacePasses) {
        for (int y = pass.start; y < height; y += pass.step) {
            order.push_back(y);
        }
    }
    return order;
}

SubBlocks::SubBlocks(std::span<const std::uint8_t> bytes, std::size_t position)
    : m_bytes(bytes), m_start(std::min(position, bytes.size())), m_end(m_start) {
    while (m_end < m_bytes.size()) {
        const std::size_t size = m_bytes[m_end++];
        if (size == 0) {
            break;
        }
        const std::size_t available = std::min(size, m_bytes.size() - m_end);
        m_dataSize += available;
        m_end += available;
    }
}

LzwEnd lzwDecodeFrame(const SubBlocks& blocks, int minCodeSize, int width, int height,
                      bool interlaced, ByteBuffer& pixels) {
    if (minCodeSize < 1 || minCodeSize > 8) {
        throw GifError("Invalid GIF data");
    }
    pixels.clear();
    const auto rowLength = static_cast<std::size_t>(std::max(width, 0));
    const std::size_t total = rowLength * static_cast<std::size_t>(std::max(height, 0));
    if (total == 0) {
        return LzwEnd::FrameComplete;
    }
    ByteBuffer interlacedOrder;
    ByteBuffer& decoded = interlaced ? interlacedOrder : pixels;
    IndexStorage storage(decoded, total, blocks.dataSize() * kIndicesPerDataByte, width, height);
    const auto [end, count] = decodeLinear(blocks, minCodeSize, storage);
    if (interlaced) {
        placeInterlaced(decoded, count, rowLength, height, pixels);
        return end;
    }
    // Whole rows: the rest of the last one reached is index 0.
    // The storage grew by whole indices, not rows, so the last row may reach past it.
    const std::size_t stored = (count + rowLength - 1) / rowLength * rowLength;
    pixels.resize(stored);
    std::fill(pixels.begin() + static_cast<std::ptrdiff_t>(count), pixels.end(), std::uint8_t{0});
    return end;
}

namespace {

// Packs codes least significant bit first.
class CodeWriter {
  public:
    explicit CodeWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

    void write(int code, int width) {
        m_bits |= static_cast<std::uint64_t>(code) << m_bitCount;
        m_bitCount += width;
        while (m_bitCount >= 8) {
            m_out.push_back(static_cast<std::uint8_t>(m_bits));
            m_bits >>= 8;
            m_bitCount -= 8;
        }
    }

    void flush() {
        if (m_bitCount > 0) {
            m_out.push_back(static_cast<std::uint8_t>(m_bits));
            m_bits = 0;
            m_bitCount = 0;
        }
    }

  private:
    std::vector<std::uint8_t>& m_out;
    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
};

// The encoder's string table: (prefix code, index) -> code, open addressing. A slot packs the
// key (plus one, so 0 marks a free slot) above the 12-bit code: one 32 KB array that stays in
// the first-level cache, which is what bounds the encoder's speed.
class EncoderTable {
  public:
    static constexpr std::size_t kSlots = 8192;  // twice the codes: short probe chains

    EncoderTable() : m_slots(kSlots, 0) {}

    void clear() { std::fill(m_slots.begin(), m_slots.end(), 0u); }

    // The slot of the key: either holding it or the free slot where it belongs. Keys are
    // below 4094 << 8, so key + 1 fits the 20 bits above the code.
    std::size_t find(std::uint32_t key) const {
        const std::uint32_t tag = key + 1;
        std::size_t slot = (key * 0x9E3779B1u) >> 19;
        while (m_slots[slot] != 0 && (m_slots[slot] >> kCodeBits) != tag) {
            slot = (slot + 1) & (kSlots - 1);
        }
        return slot;
    }
    bool holds(std::size_t slot) const { return m_slots[slot] != 0; }
    int code(std::size_t slot) const { return static_cast<int>(m_slots[slot] & kCodeMask); }
    void insert(std::size_t slot, std::uint32_t key, int code) {
        m_slots[slot] = ((key + 1) << kCodeBits) | static_cast<std::uint32_t>(code);
    }

  private:
    static constexpr int kCodeBits = 12;
    static constexpr std::uint32_t kCodeMask = (1u << kCodeBits) - 1;
    static_assert((static_cast<std::uint64_t>(kEncoderLastNextCode) << 8) + 1 <=
                      (1u << (32 - kCodeBits)),
                  "key + 1 must fit above the code");

    std::vector<std::uint32_t> m_slots;
};

}  // namespace

std::vector<std::uint8_t> lzwEncode(std::span<const std::uint8_t> indices, int minCodeSize) {
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    std::vector<std::uint8_t> out;
    out.reserve(indices.size() / 2 + 16);
    CodeWriter writer(out);
    EncoderTable table;
    int width = minCodeSize + 1;
    int nextCode = endCode + 1;
    writer.write(clearCode, width);
    if (!indices.empty()) {
        int prefix = indices[0];
        for (std::size_t i = 1; i < indices.size(); ++i) {
            const std::uint8_t index = indices[i];
            const std::uint32_t key = (static_cast<std::uint32_t>(prefix) << 8) | index;
            const std::size_t slot = table.find(key);
            if (table.holds(slot)) {
                prefix = table.code(slot);
                continue;
            }
            writer.write(prefix, width);
            // Reset at 4094 rather than filling the table to 4095: existing outputs are
            // byte-for-byte what this rule gives.
            if (nextCode + 1 > kEncoderLastNextCode) {
                writer.write(clearCode, width);
                table.clear();
                width = minCodeSize + 1;
                nextCode = endCode + 1;
            } else {
                table.insert(slot, key, nextCode);
                ++nextCode;
                if (nextCode > (1 << width) && width < kMaxCodeWidth) {
                    ++width;
                }
            }
            prefix = index;
        }
        writer.write(prefix, width);
    }
    // The decoder adds an entry after the last code as well, which may widen the end code.
    if (!indices.empty() && nextCode + 1 > (1 << width) && width < kMaxCodeWidth) {
        ++width;
    }
    writer.write(endCode, width);
    writer.flush();
    return out;
}

}  // namespace tz::gif
