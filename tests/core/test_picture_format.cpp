// The extension table: which file names are resized, how the file list's mask and the messages
// name the extensions, and the format names an output can be asked for by.
#include <gtest/gtest.h>

#include <optional>

#include "tz/picture_format.h"

namespace tz {
namespace {

TEST(PictureFormats, TheExtensionFromTheLastDotInAnyCaseNamesTheFormat) {
    EXPECT_EQ(resizedFormatOf("PHOTO.Jpg"), PictureFormat::Jpeg);
    EXPECT_EQ(resizedFormatOf("archive.tar.GiF"), PictureFormat::Gif);
    EXPECT_EQ(resizedFormatOf("a.bmp"), PictureFormat::Bmp);
    EXPECT_EQ(resizedFormatOf(".jpg"), PictureFormat::Jpeg);
    EXPECT_EQ(resizedFormatOf("a.JPEG"), PictureFormat::Jpeg);
    EXPECT_EQ(resizedFormatOf("a.jpe"), PictureFormat::Jpeg);
    EXPECT_EQ(resizedFormatOf("Screen.PNG"), PictureFormat::Png);
    EXPECT_EQ(resizedFormatOf("a.webp"), PictureFormat::Webp);
    for (const char* name : {"IMG_0001.HEIC", "a.heif", "a.AVIF"}) {
        EXPECT_EQ(resizedFormatOf(name), PictureFormat::Heif) << name;
    }
    for (const char* name : {"a.JPX", "jpg", "a.jpg.txt", "photo.", "a.jpgx", "a.tif"}) {
        EXPECT_EQ(resizedFormatOf(name), std::nullopt) << name;
    }
    EXPECT_EQ(resizedFileMask(),
              "*.jpg;*.gif;*.bmp;*.jpeg;*.jpe;*.png;*.webp;*.heic;*.heif;*.avif");
    EXPECT_EQ(resizedExtensionList(),
              ".jpg, .gif, .bmp, .jpeg, .jpe, .png, .webp, .heic, .heif or .avif");
    EXPECT_EQ(writableFormatNamed("webp"), PictureFormat::Webp);
    EXPECT_EQ(writableFormatNamed("heif"), std::nullopt);  // nothing here writes it
    EXPECT_EQ(writableFormatNamed("PNG"), std::nullopt);   // names as the help lists them
}

}  // namespace
}  // namespace tz
