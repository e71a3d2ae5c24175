// Which file-name extension means which picture format: the one table the batch run, the
// command line, the file list's mask and the preview and viewer all read.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tz {

enum class PictureFormat { Jpeg, Gif, Bmp };

struct PictureExtension {
    std::string_view extension;  // with its dot, lower case; names match it in any letter case
    PictureFormat format;
    // Resized by the batch run and the command line, and listed by the file list. The others
    // are only shown by the preview and the viewer.
    bool resized;
};

// In the order the file list's mask and the messages name them.
inline constexpr std::array<PictureExtension, 4> kPictureExtensions{{
    {".jpg", PictureFormat::Jpeg, true},
    {".gif", PictureFormat::Gif, true},
    {".bmp", PictureFormat::Bmp, true},
    // Shown but never resized: the batch run hands only ".jpg" files to the JPEG worker.
    {".jpeg", PictureFormat::Jpeg, false},
}};

// The format a picture of this file name is shown as: the table entry its extension (from the
// last ".") matches, ASCII letter case ignored; nothing for any other name.
std::optional<PictureFormat> shownFormatOf(std::string_view name);

// The format a file of this name is resized as: the same, for the entries marked resized.
std::optional<PictureFormat> resizedFormatOf(std::string_view name);

// The file list's mask: "*" + extension for each resized entry, separated by ";".
std::string resizedFileMask();

// The resized extensions as a message names them: ".jpg, .gif or .bmp".
std::string resizedExtensionList();

}  // namespace tz
