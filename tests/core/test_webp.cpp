// WebP reading and writing: lossy, lossless, alpha, animations built here with the library's
// animation encoder, damaged files, and Debian's dwebp as an independent decoder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/pixel_printers.h"
#include "support/support.h"
#include "tz/errors.h"
#include "tz/webp.h"

namespace tz {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};
constexpr Rgba kClear{0, 0, 0, 0};

// A smooth picture (lossy coding keeps it close); alpha varies when the format has it, with a
// fully transparent corner whose colour is not black.
Bitmap gradient(int width, int height, PixelFormat format) {
    Bitmap bitmap(width, height, format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto alpha = static_cast<std::uint8_t>(x < 4 && y < 4 ? 0 : 255 - 3 * y);
            bitmap.setRgba(x, y,
                           Rgba{static_cast<std::uint8_t>(4 * x), static_cast<std::uint8_t>(4 * y),
                                static_cast<std::uint8_t>(128 + x - y), alpha});
        }
    }
    return bitmap;
}

int largestDifference(const Bitmap& a, const Bitmap& b) {
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const Rgba p = a.rgba(x, y);
            const Rgba q = b.rgba(x, y);
            largest = std::max({largest, std::abs(p.red - q.red), std::abs(p.green - q.green),
                                std::abs(p.blue - q.blue)});
        }
    }
    return largest;
}

TEST(WebpRoundTrip, LosslessKeepsEveryPixelExactly) {
    for (const PixelFormat format : {PixelFormat::Bits24, PixelFormat::Bits32}) {
        const Bitmap bitmap = gradient(40, 30, format);
        const DecodedPicture back = decodeWebp(encodeWebp(bitmap, WebpEncoding{true}));
        EXPECT_TRUE(back.lossless);
        EXPECT_EQ(back.bitmap, bitmap);  // the colour under transparent pixels too
        EXPECT_TRUE(back.iccProfile.empty());
    }
}

TEST(WebpRoundTrip, LossyKeepsTheSizeAndAlphaAndComesClose) {
    const Bitmap opaque = gradient(40, 30, PixelFormat::Bits24);
    const DecodedPicture lossy = decodeWebp(encodeWebp(opaque));
    EXPECT_FALSE(lossy.lossless);
    ASSERT_EQ(lossy.bitmap.format(), PixelFormat::Bits24);
    ASSERT_EQ(lossy.bitmap.width(), 40);
    ASSERT_EQ(lossy.bitmap.height(), 30);
    EXPECT_LE(largestDifference(lossy.bitmap, opaque), 12);  // chroma is coded at half size

    // Alpha is coded losslessly beside the lossy colour.
    const Bitmap withAlpha = gradient(40, 30, PixelFormat::Bits32);
    const DecodedPicture back = decodeWebp(encodeWebp(withAlpha));
    ASSERT_EQ(back.bitmap.format(), PixelFormat::Bits32);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(back.bitmap.rgba(x, y).alpha, withAlpha.rgba(x, y).alpha) << x << "," << y;
        }
    }
}

TEST(WebpRoundTrip, LowerQualityGivesASmallerFile) {
    const Bitmap bitmap = gradient(64, 64, PixelFormat::Bits24);
    EXPECT_LT(encodeWebp(bitmap, WebpEncoding{false, 20}).size(), encodeWebp(bitmap).size());
}

TEST(WebpRoundTrip, AnOpaque32BitPictureIsWrittenWithoutAlpha) {
    Bitmap bitmap(5, 5, PixelFormat::Bits32);
    const DecodedPicture back = decodeWebp(encodeWebp(bitmap, WebpEncoding{true}));
    EXPECT_EQ(back.bitmap.format(), PixelFormat::Bits24);
    EXPECT_EQ(back.bitmap.color(2, 2), (Rgb{255, 255, 255}));
    EXPECT_FALSE(readWebpHeader(encodeWebp(bitmap)).alpha);
}

TEST(WebpRoundTrip, IndexedPicturesAreWrittenAsTwentyFourBits) {
    Bitmap bitmap(3, 1, PixelFormat::Bits8, {Rgb{1, 2, 3}, Rgb{200, 100, 50}});
    bitmap.setIndex(1, 0, 1);
    EXPECT_EQ(decodeWebp(encodeWebp(bitmap, WebpEncoding{true})).bitmap, bitmap.to24());
}

TEST(WebpRoundTrip, KeepsAnIccProfile) {
    const Bytes profile = {0, 0, 0, 9, 'a', 'n', 'y', 'd', 'a'};
    for (const bool lossless : {false, true}) {
        const Bytes file =
            encodeWebp(gradient(8, 8, PixelFormat::Bits32), WebpEncoding{lossless}, profile);
        const DecodedPicture back = decodeWebp(file);
        EXPECT_EQ(back.iccProfile, profile);
        EXPECT_EQ(back.lossless, lossless);
        EXPECT_EQ(back.bitmap.format(), PixelFormat::Bits32);
    }
}

TEST(WebpRoundTrip, LoadsAFileAndNamesAMissingOne) {
    test::TempDir dir;
    const Bitmap bitmap = gradient(6, 4, PixelFormat::Bits24);
    const Bytes file = encodeWebp(bitmap, WebpEncoding{true});
    test::writeFile(dir / "a.webp", file);
    EXPECT_EQ(loadWebpFile(dir / "a.webp").bitmap, bitmap);
    try {
        loadWebpFile(dir / "missing.webp");
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_THAT(error.what(), HasSubstr("missing.webp"));
    }
}

TEST(WebpWriter, RefusesWhatTheFormatCannotHold) {
    EXPECT_THROW(encodeWebp(Bitmap()), WebpError);
    EXPECT_THROW(encodeWebp(Bitmap(16384, 1)), WebpError);
    EXPECT_THROW(encodeWebp(Bitmap(2, 2), WebpEncoding{false, 101}), WebpError);
    EXPECT_THROW(encodeWebp(Bitmap(2, 2), WebpEncoding{false, -1}), WebpError);
}

// ---- Animations ------------------------------------------------------------------------------

struct AnimationEncoderDeleter {
    void operator()(WebPAnimEncoder* encoder) const { WebPAnimEncoderDelete(encoder); }
};

// An animation of 32-bit frames the size of the canvas, 100 ms each.
Bytes animation(const std::vector<Bitmap>& frames, bool lossless) {
    WebPAnimEncoderOptions options;
    EXPECT_TRUE(WebPAnimEncoderOptionsInit(&options));
    const int width = frames[0].width();
    const int height = frames[0].height();
    std::unique_ptr<WebPAnimEncoder, AnimationEncoderDeleter> encoder(
        WebPAnimEncoderNew(width, height, &options));
    WebPConfig config;
    EXPECT_TRUE(WebPConfigInit(&config));
    config.lossless = lossless ? 1 : 0;
    int timestamp = 0;
    for (const Bitmap& frame : frames) {
        WebPPicture picture;
        EXPECT_TRUE(WebPPictureInit(&picture));
        picture.width = width;
        picture.height = height;
        picture.use_argb = 1;
        EXPECT_TRUE(WebPPictureImportBGRA(&picture, frame.pixels().data(),
                                          static_cast<int>(frame.stride())));
        EXPECT_TRUE(WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config));
        WebPPictureFree(&picture);
        timestamp += 100;
    }
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr));
    WebPData data;
    WebPDataInit(&data);
    EXPECT_TRUE(WebPAnimEncoderAssemble(encoder.get(), &data));
    Bytes bytes(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    return bytes;
}

// A red square on a transparent canvas, then the whole canvas blue.
std::vector<Bitmap> redSquareThenBlue() {
    Bitmap first(12, 10, PixelFormat::Bits32);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            first.setRgba(x, y, x >= 3 && x < 7 && y >= 2 && y < 6 ? kRed : kClear);
        }
    }
    Bitmap second(12, 10, PixelFormat::Bits32);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            second.setRgba(x, y, kBlue);
        }
    }
    return {first, second};
}

TEST(WebpAnimation, GivesTheFirstFrameOnItsTransparentCanvas) {
    for (const bool lossless : {true, false}) {
        const Bytes file = animation(redSquareThenBlue(), lossless);
        const PictureHeader header = readWebpHeader(file);
        EXPECT_EQ(header.width, 12);
        EXPECT_EQ(header.height, 10);
        EXPECT_TRUE(header.alpha);
        const DecodedPicture picture = decodeWebp(file);
        EXPECT_EQ(picture.lossless, lossless);
        ASSERT_EQ(picture.bitmap.format(), PixelFormat::Bits32);
        ASSERT_EQ(picture.bitmap.width(), 12);
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 12; ++x) {
                const Rgba pixel = picture.bitmap.rgba(x, y);
                if (x >= 3 && x < 7 && y >= 2 && y < 6) {
                    EXPECT_EQ(pixel.alpha, 255) << x << "," << y;
                    EXPECT_GE(pixel.red, 240) << x << "," << y;
                    EXPECT_LE(pixel.blue, 16) << x << "," << y;
                } else {
                    EXPECT_EQ(pixel.alpha, 0) << x << "," << y;
                }
            }
        }
    }
}

// ---- Damaged files ---------------------------------------------------------------------------

Bytes lossyFile() {
    return encodeWebp(gradient(64, 48, PixelFormat::Bits24));
}

Bytes losslessFile() {
    return encodeWebp(gradient(64, 48, PixelFormat::Bits32), WebpEncoding{true});
}

// The offset of a chunk's payload in a RIFF file.
std::size_t payloadOf(const Bytes& file, const char* tag) {
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::size_t size = file[at + 4] | (file[at + 5] << 8) |
                                 (std::size_t{file[at + 6]} << 16) |
                                 (std::size_t{file[at + 7]} << 24);
        if (std::equal(tag, tag + 4, file.begin() + static_cast<std::ptrdiff_t>(at))) {
            return at + 8;
        }
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << "no " << tag << " chunk";
    return 0;
}

Bytes cut(Bytes file, std::size_t length) {
    file.resize(length);
    return file;
}

struct DamagedFile {
    const char* description;
    Bytes (*make)();
    const char* message;
};

void PrintTo(const DamagedFile& row, std::ostream* out) {
    *out << row.description;
}

class WebpDamaged : public ::testing::TestWithParam<DamagedFile> {};

TEST_P(WebpDamaged, IsRefusedWithAMessageNamingTheProblem) {
    const Bytes file = GetParam().make();
    try {
        decodeWebp(file);
        ADD_FAILURE() << "no error";
    } catch (const WebpError& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, WebpDamaged,
    ::testing::Values(
        DamagedFile{"empty", [] { return Bytes{}; }, "Not a WebP file"},
        DamagedFile{"a PNG",
                    [] { return Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}; },
                    "Not a WebP file"},
        DamagedFile{"another RIFF file",
                    [] { return Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}; },
                    "Not a WebP file"},
        DamagedFile{"RIFF header cut short", [] { return Bytes{'R', 'I', 'F', 'F', 4, 0}; },
                    "WebP file truncated"},
        DamagedFile{"lossy file cut in half",
                    [] { return cut(lossyFile(), lossyFile().size() / 2); }, "WebP file truncated"},
        DamagedFile{"lossless file cut in half",
                    [] { return cut(losslessFile(), losslessFile().size() / 2); },
                    "WebP file truncated"},
        DamagedFile{"animation cut in half",
                    [] {
                        const Bytes file = animation(redSquareThenBlue(), true);
                        return cut(file, file.size() / 2);
                    },
                    "WebP file truncated"},
        DamagedFile{"lossy frame without its start code",
                    [] {
                        Bytes file = lossyFile();
                        file[payloadOf(file, "VP8 ") + 3] ^= 0xFF;
                        return file;
                    },
                    "Invalid WebP file: corrupt data"},
        DamagedFile{"lossless stream without its signature byte",
                    [] {
                        Bytes file = losslessFile();
                        file[payloadOf(file, "VP8L")] ^= 0xFF;
                        return file;
                    },
                    "Invalid WebP file: corrupt data"},
        DamagedFile{"lossless stream damaged inside",
                    [] {
                        Bytes file = losslessFile();
                        const std::size_t start = payloadOf(file, "VP8L") + 5;
                        std::fill(file.begin() + static_cast<std::ptrdiff_t>(start),
                                  file.begin() + static_cast<std::ptrdiff_t>(start + 24), 0xFF);
                        return file;
                    },
                    "Invalid WebP file: corrupt data"},
        DamagedFile{"a huge animation canvas in a tiny file",
                    [] {
                        // A sound animation whose canvas is made 40000 × 40000.
                        Bytes file = animation(redSquareThenBlue(), true);
                        const std::size_t size = payloadOf(file, "VP8X") + 4;
                        for (const std::size_t at : {size, size + 3}) {
                            file[at] = 0x3F;  // 39999 = 0x9C3F, stored minus one
                            file[at + 1] = 0x9C;
                            file[at + 2] = 0;
                        }
                        return file;
                    },
                    "Unsupported WebP file: animation canvas larger than 16383 x 16383 pixels"}));

// ---- An independent decoder --------------------------------------------------------------------

// The picture as Debian's dwebp decodes it (red, green, blue, alpha), or nullopt without it.
std::optional<Bytes> decodeWithDwebp(const std::filesystem::path& file, const test::TempDir& dir) {
    if (!std::filesystem::exists("/usr/bin/dwebp")) {
        return std::nullopt;
    }
    const auto pam = dir / "out.pam";
    const std::string command =
        "/usr/bin/dwebp -quiet -pam '" + file.string() + "' -o '" + pam.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        return std::nullopt;
    }
    const Bytes bytes = test::readFile(pam);
    const std::string endOfHeader = "ENDHDR\n";
    const auto found =
        std::search(bytes.begin(), bytes.end(), endOfHeader.begin(), endOfHeader.end());
    if (found == bytes.end()) {
        return std::nullopt;
    }
    return Bytes(found + static_cast<std::ptrdiff_t>(endOfHeader.size()), bytes.end());
}

Bytes rgbaOf(const Bitmap& bitmap) {
    Bytes out;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            const Rgba c = bitmap.rgba(x, y);
            out.insert(out.end(), {c.red, c.green, c.blue, c.alpha});
        }
    }
    return out;
}

TEST(WebpIndependentDecoder, DwebpReadsWhatIsWrittenAsThisReaderDoes) {
    test::TempDir dir;
    for (const bool lossless : {true, false}) {
        const Bitmap bitmap = gradient(33, 17, PixelFormat::Bits32);
        const Bytes file = encodeWebp(bitmap, WebpEncoding{lossless});
        test::writeFile(dir / "a.webp", file);
        const auto decoded = decodeWithDwebp(dir / "a.webp", dir);
        if (!decoded) {
            GTEST_SKIP() << "Debian's dwebp (package webp) is not available";
        }
        EXPECT_TRUE(*decoded == rgbaOf(decodeWebp(file).bitmap)) << "lossless " << lossless;
        if (lossless) {
            EXPECT_TRUE(*decoded == rgbaOf(bitmap));
        }
    }
}

}  // namespace
}  // namespace tz
