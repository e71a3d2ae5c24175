// The GIF animation timeline: waits, passes and the disposal methods of GIF89a.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "support/picture_builders.h"
#include "tz/gif.h"

namespace tz {
namespace {

const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};
const Rgb kYellow{255, 255, 0};
const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};
const std::vector<Rgb> kColors{kRed, kGreen, kBlue, kYellow};

// What a test frame is made of: its place on the screen, its indices and, when a disposal or a
// transparent index is given, a graphic control extension.
struct FrameRecipe {
    int left = 0;
    int top = 0;
    int width = 1;
    int height = 1;
    std::vector<std::uint8_t> pixels{0};
    std::optional<GifDisposal> disposal;  // no graphic control extension when absent
    int delay = 0;
    std::optional<int> transparent;
};

// A one-row frame at x = `left` of the one-row screen.
FrameRecipe row(int left, std::vector<std::uint8_t> pixels,
                std::optional<GifDisposal> disposal = {}, std::optional<int> transparent = {}) {
    FrameRecipe recipe;
    recipe.left = left;
    recipe.width = static_cast<int>(pixels.size());
    recipe.pixels = std::move(pixels);
    recipe.disposal = disposal;
    recipe.transparent = transparent;
    return recipe;
}

GifFrame makeFrame(const FrameRecipe& recipe) {
    GifFrame frame(recipe.left, recipe.top, recipe.width, recipe.height, GifColorTable(),
                   ByteBuffer(recipe.pixels.begin(), recipe.pixels.end()));
    if (recipe.disposal || recipe.transparent) {
        GifGraphicControl control;
        control.packed = static_cast<std::uint8_t>(
            (static_cast<int>(recipe.disposal.value_or(GifDisposal::None)) << 2) |
            (recipe.transparent ? 1 : 0));
        control.delay = static_cast<std::uint16_t>(recipe.delay);
        control.transparentIndex = static_cast<std::uint8_t>(recipe.transparent.value_or(0));
        frame.addExtension(control);
    }
    return frame;
}

// A 4x1 screen with the four colours as global table and yellow as background colour.
GifImage picture(const std::vector<FrameRecipe>& frames, std::optional<int> loop = {}) {
    GifImage gif;
    gif.setScreenSize(4, 1);
    gif.globalColorTable() = GifColorTable(kColors);
    gif.setBackgroundIndex(3);
    for (const FrameRecipe& recipe : frames) {
        GifFrame frame = makeFrame(recipe);
        if (loop && gif.images().empty()) {
            frame.addExtension(GifApplicationExtension{"NETSCAPE",
                                                       "2.0",
                                                       {{1, static_cast<std::uint8_t>(*loop & 0xFF),
                                                         static_cast<std::uint8_t>(*loop >> 8)}}});
        }
        gif.addImage(frame);
    }
    return gif;
}

std::vector<Rgb> screenColors(const GifAnimation& animation) {
    std::vector<Rgb> colors;
    for (int x = 0; x < animation.current().width(); ++x) {
        colors.push_back(animation.current().color(x, 0));
    }
    return colors;
}

const FrameRecipe kFullRed = row(0, {0, 0, 0, 0}, GifDisposal::Keep);
const FrameRecipe kBlueDot = row(1, {2}, GifDisposal::Keep);

// ---------------------------------------------------------------- waits

struct WaitRow {
    const char* what;
    std::optional<int> delay;  // no graphic control extension when absent
    int speed;
    int overrun;
    int expected;
};

std::ostream& operator<<(std::ostream& out, const WaitRow& row) {
    return out << row.what;
}

class GifAnimationWait : public testing::TestWithParam<WaitRow> {};

TEST_P(GifAnimationWait, FollowsTheDelayRules) {
    const WaitRow& row = GetParam();
    FrameRecipe recipe = kFullRed;
    recipe.disposal = row.delay ? std::optional(GifDisposal::None) : std::nullopt;
    recipe.delay = row.delay.value_or(0);
    const GifAnimation animation(picture({recipe, kBlueDot}), row.speed);
    EXPECT_EQ(animation.waitMilliseconds(row.overrun), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GifAnimationWait,
    testing::Values(WaitRow{"no extension: 10 units of 12 ms", std::nullopt, 100, 0, 120},
                    WaitRow{"delay 0 counts as 10", 0, 100, 0, 120},
                    WaitRow{"delay 1 becomes 3", 1, 100, 0, 36},
                    WaitRow{"delay 2 becomes 3", 2, 100, 0, 36},
                    WaitRow{"delay 3 stays", 3, 100, 0, 36}, WaitRow{"delay 4", 4, 100, 0, 48},
                    WaitRow{"half a second as written", 50, 100, 0, 600},
                    WaitRow{"long delays are not cut", 5000, 100, 0, 60000},
                    WaitRow{"double speed halves", 10, 200, 0, 60},
                    WaitRow{"half speed doubles", 10, 50, 0, 240},
                    WaitRow{"half the overrun is taken off", 10, 100, 40, 100},
                    WaitRow{"overrun beyond the wait gives 0", 10, 100, 1000, 0},
                    WaitRow{"speed 0 waits until woken", 10, 0, 0, -1}));

// ---------------------------------------------------------------- passes

TEST(GifAnimation, OnePassWithoutLoopingExtension) {
    GifAnimation animation(picture({kFullRed, kBlueDot, kFullRed}));
    EXPECT_TRUE(animation.animated());
    EXPECT_EQ(animation.passes(), 1);
    EXPECT_EQ(animation.currentFrame(), 0);
    EXPECT_TRUE(animation.advance());
    EXPECT_EQ(animation.currentFrame(), 1);
    EXPECT_TRUE(animation.advance());
    EXPECT_EQ(animation.currentFrame(), 2);
    EXPECT_FALSE(animation.advance());
    EXPECT_EQ(animation.currentFrame(), 2);
    EXPECT_FALSE(animation.advance());
}

TEST(GifAnimation, LoopCountSetsThePasses) {
    GifAnimation animation(picture({kFullRed, kBlueDot}, 3));
    EXPECT_EQ(animation.passes(), 3);
    std::vector<int> shown{animation.currentFrame()};
    while (animation.advance()) {
        shown.push_back(animation.currentFrame());
        ASSERT_LT(shown.size(), 100u);
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(animation.currentPass(), 3);
}

TEST(GifAnimation, LoopCountZeroIsEndless) {
    GifAnimation animation(picture({kFullRed, kBlueDot}, 0));
    EXPECT_EQ(animation.passes(), 0);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(animation.advance());
    }
    EXPECT_EQ(animation.currentFrame(), 0);
}

TEST(GifAnimation, AlternativeLoopingIdentifierIsRecognised) {
    GifImage gif = picture({kFullRed, kBlueDot});
    GifFrame first = gif.images()[0];
    first.addExtension(GifApplicationExtension{"ANIMEXTS", "1.0", {{1, 2, 0}}});
    GifImage other;
    other.setScreenSize(4, 1);
    other.globalColorTable() = GifColorTable(kColors);
    other.addImage(first);
    other.addImage(gif.images()[1]);
    EXPECT_EQ(GifAnimation(other).passes(), 2);
    // Another application's block is not a loop count.
    GifFrame foreign = gif.images()[0];
    foreign.addExtension(GifApplicationExtension{"XMP DATA", "XMP", {{1, 2, 0}}});
    GifImage third;
    third.globalColorTable() = GifColorTable(kColors);
    third.addImage(foreign);
    EXPECT_EQ(GifAnimation(third).passes(), 1);
}

TEST(GifAnimation, SingleFrameIsNotAnimated) {
    GifAnimation animation(picture({kFullRed}));
    EXPECT_FALSE(animation.animated());
    EXPECT_FALSE(animation.advance());
    EXPECT_EQ(screenColors(animation), (std::vector<Rgb>{kRed, kRed, kRed, kRed}));
}

TEST(GifAnimation, EmptyPictureShowsItsBackground) {
    GifImage gif;
    gif.setScreenSize(2, 1);
    GifAnimation animation(gif);
    EXPECT_EQ(animation.currentFrame(), -1);
    EXPECT_FALSE(animation.advance());
    EXPECT_EQ(animation.current().color(1, 0), kWhite);
}

TEST(GifAnimation, FramesWithoutPixelsAreNotShown) {
    GifImage gif = picture({kFullRed});
    GifFrame commentOnly;
    commentOnly.addExtension(GifComment{"between"});
    gif.addImage(commentOnly);
    gif.addImage(makeFrame(kBlueDot));
    GifAnimation animation(gif);
    EXPECT_TRUE(animation.advance());
    EXPECT_EQ(animation.currentFrame(), 2);
}

// ---------------------------------------------------------------- disposal

struct DisposalRow {
    const char* what;
    FrameRecipe first;
    std::vector<Rgb> after;  // the screen once the blue dot follows the first frame
};

std::ostream& operator<<(std::ostream& out, const DisposalRow& row) {
    return out << row.what;
}

class GifAnimationDisposal : public testing::TestWithParam<DisposalRow> {};

TEST_P(GifAnimationDisposal, PreparesTheNextFrame) {
    GifAnimation animation(picture({GetParam().first, kBlueDot}));
    ASSERT_TRUE(animation.advance());
    EXPECT_EQ(screenColors(animation), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, GifAnimationDisposal,
    testing::Values(DisposalRow{"keep", kFullRed, {kRed, kBlue, kRed, kRed}},
                    DisposalRow{"method 0: none",
                                row(0, {0, 0, 0, 0}, GifDisposal::None),
                                {kRed, kBlue, kRed, kRed}},
                    DisposalRow{"no extension", row(0, {0, 0, 0, 0}), {kRed, kBlue, kRed, kRed}},
                    DisposalRow{"undefined method 5 acts as none",
                                row(0, {0, 0, 0, 0}, static_cast<GifDisposal>(5)),
                                {kRed, kBlue, kRed, kRed}},
                    DisposalRow{"opaque frame restores to the background colour",
                                row(2, {0, 0}, GifDisposal::RestoreBackground),
                                {kWhite, kBlue, kYellow, kYellow}},
                    DisposalRow{"transparent frame restores to what it was drawn over",
                                row(0, {0, 1, 0, 0}, GifDisposal::RestoreBackground, 1),
                                {kWhite, kBlue, kWhite, kWhite}},
                    DisposalRow{"first frame restoring to previous leaves the start",
                                row(0, {0, 0, 0}, GifDisposal::RestorePrevious),
                                {kWhite, kBlue, kWhite, kWhite}}));

TEST(GifAnimation, RestoreToPreviousBringsBackTheEarlierFrame) {
    const FrameRecipe green = row(0, {1, 1, 1, 1}, GifDisposal::Keep);
    const FrameRecipe redRight = row(2, {0, 0}, GifDisposal::RestorePrevious);
    const FrameRecipe blueLeft = row(0, {2}, GifDisposal::Keep);
    GifAnimation animation(picture({green, redRight, blueLeft}));
    ASSERT_TRUE(animation.advance());
    EXPECT_EQ(screenColors(animation), (std::vector<Rgb>{kGreen, kGreen, kRed, kRed}));
    ASSERT_TRUE(animation.advance());
    EXPECT_EQ(screenColors(animation), (std::vector<Rgb>{kBlue, kGreen, kGreen, kGreen}));
}

TEST(GifAnimation, TransparentPixelsShowTheGivenBackground) {
    const Bitmap background = test::solidBitmap(4, 1, kBlack);
    const FrameRecipe holes = row(0, {0, 3, 3, 2}, GifDisposal::Keep, 3);
    GifAnimation animation(picture({holes}), background);
    EXPECT_EQ(screenColors(animation), (std::vector<Rgb>{kRed, kBlack, kBlack, kBlue}));
}

TEST(GifAnimation, KeptFramesAccumulateUnderTransparency) {
    const FrameRecipe second = row(0, {3, 1, 3, 3}, GifDisposal::Keep, 3);
    GifAnimation animation(picture({kFullRed, second}));
    ASSERT_TRUE(animation.advance());
    EXPECT_EQ(screenColors(animation), (std::vector<Rgb>{kRed, kGreen, kRed, kRed}));
}

TEST(GifAnimation, NewPassStartsAfterTheLastFramesDisposal) {
    const FrameRecipe dot = row(3, {2}, GifDisposal::RestoreBackground);
    const FrameRecipe half = row(0, {1, 1}, GifDisposal::Keep);
    GifAnimation animation(picture({half, dot}, 2));
    ASSERT_TRUE(animation.advance());
    EXPECT_EQ(screenColors(animation), (std::vector<Rgb>{kGreen, kGreen, kWhite, kBlue}));
    ASSERT_TRUE(animation.advance());
    EXPECT_EQ(animation.currentFrame(), 0);
    EXPECT_EQ(screenColors(animation), (std::vector<Rgb>{kGreen, kGreen, kWhite, kYellow}));
}

TEST(GifAnimation, ScreenIsTheLogicalScreenAt24Bits) {
    const GifAnimation animation(picture({kFullRed}));
    EXPECT_EQ(animation.current().format(), PixelFormat::Bits24);
    EXPECT_EQ(animation.current().width(), 4);
    EXPECT_EQ(animation.current().height(), 1);
}

}  // namespace
}  // namespace tz
