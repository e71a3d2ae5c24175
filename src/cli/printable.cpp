// Escaping names and messages for one-line output.
#include "printable.h"

#include <algorithm>
#include <cstddef>

namespace tz::cli {

namespace {

// The length of the UTF-8 sequence `text` starts with, or 0 when it does not start with one
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8SequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8SequenceLength(text.substr(i));
        // U+0080 to U+009F are control characters too.
        const bool control =
            byte < 0x20 || byte == 0x7F ||
            (byte == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (length == 0 || (control && length == 2)) {
            for (std::size_t j = 0; j < std::max<std::size_t>(length, 1); ++j) {
                escape(static_cast<unsigned char>(text[i + j]));
            }
            i += std::max<std::size_t>(length, 1);
            continue;
        }
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (control) {
            escape(byte);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

}  // namespace tz::cli
