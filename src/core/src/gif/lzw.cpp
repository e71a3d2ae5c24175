// GIF LZW decoding into frame rows and LZW encoding with a hashed string table.
#include "gif/lzw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "tz/bitmap.h"
#include "tz/errors.h"

namespace tz::gif {

namespace {

constexpr int kMaxCodeWidth = 12;
constexpr int kTableSize = kMaxCode + 1;
// The encoder resets its table instead of letting the next free code pass this.
constexpr int kEncoderLastNextCode = 4094;
// First growth step of a frame's storage when the data outruns it.
constexpr std::size_t kFirstStorage = std::size_t{1} << 16;

struct InterlacePass {
    int start;
    int step;
};
constexpr std::array<InterlacePass, 4> kInterlacePasses{{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};

}  // namespace

FrameRows::FrameRows(std::vector<std::uint8_t>& pixels, int width, int height, bool interlaced)
    : m_pixels(pixels),
      m_width(static_cast<std::size_t>(std::max(width, 0))),
      m_total(m_width * static_cast<std::size_t>(std::max(height, 0))),
      m_interlaced(interlaced),
      m_height(std::max(height, 0)),
      m_done(m_total == 0) {
    m_pixels.clear();
}

void FrameRows::startRow() {
    const std::size_t needed = (static_cast<std::size_t>(m_y) + 1) * m_width;
    if (m_pixels.size() < needed) {
        // Grow geometrically, by whole rows, never past the frame.
        std::size_t size = std::max({needed, m_pixels.size() * 2, kFirstStorage});
        size = std::min(size, m_total);
        size -= size % m_width;
        ensureAllocatable(size, static_cast<int>(m_width), m_height);
        m_pixels.resize(size, 0);
    }
    m_row = m_pixels.data() + static_cast<std::size_t>(m_y) * m_width;
}

void FrameRows::nextRow() {
    m_row = nullptr;
    m_x = 0;
    if (!m_interlaced) {
        ++m_y;
        m_done = m_y >= m_height;
        return;
    }
    m_y += kInterlacePasses[static_cast<std::size_t>(m_pass)].step;
    while (m_y >= m_height) {
        ++m_pass;
        if (m_pass >= static_cast<int>(kInterlacePasses.size())) {
            m_done = true;
            return;
        }
        m_y = kInterlacePasses[static_cast<std::size_t>(m_pass)].start;
    }
}

bool FrameRows::put(const std::uint8_t* indices, std::size_t count) {
    while (count > 0 && !m_done) {
        if (m_row == nullptr) {
            startRow();
        }
        const std::size_t take = std::min(count, m_width - m_x);
        std::memcpy(m_row + m_x, indices, take);
        m_x += take;
        indices += take;
        count -= take;
        if (m_x == m_width) {
            nextRow();
        }
    }
    return !m_done;
}

namespace {

// Reads codes least significant bit first from joined sub-block data.
class CodeReader {
  public:
    explicit CodeReader(std::span<const std::uint8_t> data) : m_data(data) {}

    // The next code of `width` bits, or -1 when the data has run out.
    int read(int width) {
        while (m_bitCount < width) {
            if (m_position == m_data.size()) {
                return -1;
            }
            m_bits |= static_cast<std::uint32_t>(m_data[m_position++]) << m_bitCount;
            m_bitCount += 8;
        }
        const int code = static_cast<int>(m_bits & ((1u << width) - 1));
        m_bits >>= width;
        m_bitCount -= width;
        return code;
    }

  private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_position = 0;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
};

class DecoderTable {
  public:
    explicit DecoderTable(int clearCode) : m_clearCode(clearCode) {
        for (int code = 0; code < clearCode; ++code) {
            m_prefix[static_cast<std::size_t>(code)] = 0;
            m_suffix[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
            m_first[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
            m_length[static_cast<std::size_t>(code)] = 1;
        }
    }

    std::uint8_t first(int code) const { return m_first[static_cast<std::size_t>(code)]; }

    void add(int code, int prefix, std::uint8_t suffix) {
        const auto at = static_cast<std::size_t>(code);
        m_prefix[at] = static_cast<std::uint16_t>(prefix);
        m_suffix[at] = suffix;
        m_first[at] = m_first[static_cast<std::size_t>(prefix)];
        m_length[at] = static_cast<std::uint16_t>(
            std::min<int>(m_length[static_cast<std::size_t>(prefix)] + 1, kTableSize + 1));
    }

    // Writes the string of `code` into `out`, returning its length.
    std::size_t expand(int code, std::array<std::uint8_t, kTableSize + 1>& out) const {
        const std::size_t length = m_length[static_cast<std::size_t>(code)];
        if (length > kTableSize) {
            throw GIFException("Circular decoder table entry");
        }
        std::size_t position = length;
        int current = code;
        while (position > 1) {
            if (current < m_clearCode) {
                throw GIFException("Circular decoder table entry");
            }
            out[--position] = m_suffix[static_cast<std::size_t>(current)];
            current = m_prefix[static_cast<std::size_t>(current)];
        }
        if (current >= m_clearCode) {
            throw GIFException("Circular decoder table entry");
        }
        out[0] = static_cast<std::uint8_t>(current);
        return length;
    }

  private:
    int m_clearCode;
    std::array<std::uint16_t, kTableSize> m_prefix{};
    std::array<std::uint8_t, kTableSize> m_suffix{};
    std::array<std::uint8_t, kTableSize> m_first{};
    std::array<std::uint16_t, kTableSize> m_length{};
};

}  // namespace

LzwEnd lzwDecode(std::span<const std::uint8_t> data, int minCodeSize, FrameRows& rows) {
    if (minCodeSize < 1 || minCodeSize > 8) {
        throw GIFException("Invalid GIF data");
    }
    if (rows.complete()) {
        return LzwEnd::FrameComplete;
    }
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    auto table = std::make_unique<DecoderTable>(clearCode);
    auto buffer = std::make_unique<std::array<std::uint8_t, kTableSize + 1>>();
    CodeReader reader(data);
    int width = minCodeSize + 1;
    int nextCode = endCode + 1;
    int previous = -1;
    // Each pass reads at least one bit, so the data's length bounds the loop.
    for (;;) {
        const int code = reader.read(width);
        if (code < 0) {
            return LzwEnd::DataExhausted;
        }
        if (code == clearCode) {
            width = minCodeSize + 1;
            nextCode = endCode + 1;
            previous = -1;
            continue;
        }
        if (code == endCode) {
            return LzwEnd::EndCode;
        }
        if (previous < 0) {
            if (code > endCode) {
                throw GIFException("Invalid GIF data");
            }
            const auto literal = static_cast<std::uint8_t>(code);
            if (!rows.put(&literal, 1)) {
                return LzwEnd::FrameComplete;
            }
            previous = code;
            continue;
        }
        std::size_t length = 0;
        if (code < nextCode) {
            length = table->expand(code, *buffer);
        } else if (code == nextCode) {
            // The string of the previous code followed by its own first index.
            length = table->expand(previous, *buffer);
            (*buffer)[length++] = table->first(previous);
        } else {
            throw GIFException("Invalid GIF data");
        }
        if (nextCode < kTableSize) {
            table->add(nextCode, previous, (*buffer)[0]);
            ++nextCode;
            if (nextCode == (1 << width) && width < kMaxCodeWidth) {
                ++width;
            }
        }
        previous = code;
        if (!rows.put(buffer->data(), length)) {
            return LzwEnd::FrameComplete;
        }
    }
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
