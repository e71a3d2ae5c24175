// The separable resampler and its table of seven reconstruction kernels.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "tz/bitmap.h"

namespace tz {

// A kernel takes a distance in source pixels and returns a weight, both single precision.
using KernelFunction = float (*)(float);

struct KernelEntry {
    const char* name;
    KernelFunction function;
    float support;  // the kernel is zero for |x| at or beyond this
};

// The kernels: pure functions evaluated in extended precision, results rounded to single.
float boxKernel(float x);  // 1 for −0.5 < x ≤ 0.5, else 0
float triangleKernel(float x);
float hermiteKernel(float x);
float bellKernel(float x);
float bSplineKernel(float x);
float lanczos3Kernel(float x);
float mitchellKernel(float x);  // Mitchell–Netravali, B = C = 1/3
float sinc(float x);            // sin(πx)/(πx), 1 at 0; only given x ≥ 0

// The kernels by index; the index is significant. Entry 5, "Lanczos3" with support 3.0, is the
// one the resize operations use.
extern const std::array<KernelEntry, 7> kKernelTable;
inline constexpr std::size_t kLanczos3Index = 5;

// The table entry with exactly this name, or nullptr.
const KernelEntry* findKernel(std::string_view name);

// How the passes are computed. Every path gives the same bytes.
enum class ResamplePath {
    Automatic,  // vector code when the processor has AVX2 and FMA, else Portable
    Portable,   // plain C++ with the same exactness argument as the vector code
    Reference,  // the plain extended-precision algorithm, one thread
};

struct ResampleOptions {
    ResamplePath path = ResamplePath::Automatic;
    // Threads for the weight lists and the passes: 0 chooses by image size and processor count;
    // 1 keeps all the work on the caller's thread.
    int threads = 0;
    // The source is a reduced decode (a JPEG decoded at 1/2, 1/4 or 1/8): each of its pixels
    // stands for a block of `sourceReduction` × `sourceReduction` pixels of a picture of
    // `reducedFrom` size. The destination then maps onto that picture's pixel centres, corner to
    // corner, as it would from the whole picture, each block's value taken at its centre. 1: the
    // source is the picture itself.
    int sourceReduction = 1;
    int reducedFromWidth = 0;
    int reducedFromHeight = 0;
};

// Scales `source` into `destination` at the destination's current size, which is never changed.
// The source is converted to 24 bits per pixel in place (a 32-bit one composed over white) and
// so is the destination (whatever it held) before it is written, unless both are 32-bit.
// `support` is the kernel's reach in source pixels at scale 1.
//
// When both are 32-bit, they stay so and alpha is kept: colour is filtered premultiplied, so
// transparent pixels lend their colour nothing (no dark fringes at transparent edges):
// 1. each source channel c becomes c·a/255 rounded to nearest (a the pixel's alpha);
// 2. the premultiplied channels, the alpha and a constant 255 go through the 24-bit passes,
//    giving C, A and O per destination pixel (O is what full opacity becomes: the kernels'
//    weights do not sum exactly to 1);
// 3. where A is 0 the pixel is 0, 0, 0, 0; elsewhere each channel is C·255/A and alpha is
//    A·255/O (255 when O is 0), both rounded to nearest with halves up and capped at 255.
// An opaque source so stays exactly opaque and a transparent region exactly transparent.
// Colour is carried premultiplied in 8 bits: a faint pixel keeps less colour precision, but
// what it shows over any background moves by at most about one level.
//
// Throws tz::Error "Source bitmap too small" when the source is less than 1 pixel wide or high,
// and tz::Error when `kernel` is null or `support` is not a finite value in 0 … 64; in these
// cases nothing is changed.
//
// Cases the algorithm leaves open, decided here:
// - a destination width or height of 0: nothing to compute; the bitmaps are only converted;
// - a destination width (height) of 1 from a wider (taller) source, where the corner-aligned
//   scale is 0: the one column (row) samples the source's centre, computed as at scale 1 with
//   the kernel centred at (n − 1) / 2 stored as single, n the source width (height);
// - a kernel reach beyond the source, where folding still leaves an index outside: the folded
//   index is clamped to the first or last pixel;
// - a sum that is not a number (only from a kernel returning one) becomes byte 0.
void resampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support);
void resampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support,
                    const ResampleOptions& options);

// A picture read row by row, top to bottom, so that it never needs to be held whole: a decoder
// that delivers 24-bit rows (blue, green, red) as it goes.
class RowReader {
  public:
    virtual ~RowReader() = default;
    // The next `count` rows (count ≥ 1, never past the picture's end), each width × 3 bytes;
    // the pointers stay valid until the next call.
    virtual std::span<const std::uint8_t* const> nextRows(int count) = 0;
};

class RowSource {
  public:
    virtual ~RowSource() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // What a reader starting at a row costs for each row before it, as a share of what reading
    // and scaling a row costs: 0 where rows are reached directly (a bitmap, a file of plain
    // rows), 1 or more where they must all be decoded first. Parts of the picture are read on
    // several threads only when this is below 1.
    virtual double skipCost() const = 0;
    // A reader whose first row is `first`. Readers may be in use at once, each on one thread.
    virtual std::unique_ptr<RowReader> readerFrom(int first) = 0;
};

// The rows of a bitmap, 24-bit, as a row source: the resampler reads them where they are.
class BitmapRows final : public RowSource {
  public:
    explicit BitmapRows(const Bitmap& bitmap24) : m_bitmap(bitmap24) {}
    int width() const override { return m_bitmap.width(); }
    int height() const override { return m_bitmap.height(); }
    double skipCost() const override { return 0.0; }
    std::unique_ptr<RowReader> readerFrom(int first) override;

  private:
    const Bitmap& m_bitmap;
};

// Scales the rows of `source` (at least 1 × 1) into the 24-bit `destination` at its size: the
// same bytes resampleBitmap gives for the whole source as a bitmap, with the same errors, but
// only the horizontal results of the rows the vertical filter needs next are ever held. A
// reader's failure is passed on once every reader has stopped.
void resampleRows(RowSource& source, Bitmap& destination, KernelFunction kernel, float support,
                  const ResampleOptions& options = {});

// The plain extended-precision algorithm (ResamplePath::Reference): the yardstick of the tests.
void resampleBitmapReference(Bitmap& source, Bitmap& destination, KernelFunction kernel,
                             float support);

}  // namespace tz
