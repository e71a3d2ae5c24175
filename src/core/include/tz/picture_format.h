// Which file-name extension means which picture format, and what each format can hold: the one
// table the batch run, the command line, the file list's mask and the preview and viewer read.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tz {

enum class PictureFormat { Jpeg, Gif, Bmp, Png, Webp, Heif };

struct PictureExtension {
    std::string_view extension;  // with its dot, lower case; names match it in any letter case
    PictureFormat format;
};

// In the order the file list's mask and the messages name them. A format's first entry is the
// extension its converted outputs get.
inline constexpr std::array<PictureExtension, 10> kPictureExtensions{{
    {".jpg", PictureFormat::Jpeg},
    {".gif", PictureFormat::Gif},
    {".bmp", PictureFormat::Bmp},
    {".jpeg", PictureFormat::Jpeg},
    {".jpe", PictureFormat::Jpeg},
    {".png", PictureFormat::Png},
    {".webp", PictureFormat::Webp},
    {".heic", PictureFormat::Heif},
    {".heif", PictureFormat::Heif},
    {".avif", PictureFormat::Heif},
}};

// The format a file of this name is read as: the table entry its extension (from the last ".")
// matches, ASCII letter case ignored; nothing for any other name.
std::optional<PictureFormat> resizedFormatOf(std::string_view name);

// The file list's mask: "*" + extension for each entry, separated by ";".
std::string resizedFileMask();

// The extensions as a message names them: ".jpg, .gif, ... or .avif".
std::string resizedExtensionList();

// The extension a converted output of this format gets: its first table entry.
std::string_view extensionOf(PictureFormat format);

// The format named on a command line: "jpeg", "gif", "bmp", "png" or "webp" (the formats that
// can be written), or nothing.
std::optional<PictureFormat> writableFormatNamed(std::string_view name);

// Whether the format can be written, and whether it keeps transparency.
bool canWrite(PictureFormat format);
bool keepsAlpha(PictureFormat format);

}  // namespace tz
