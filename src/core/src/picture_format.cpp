// The extension table's lookups and the formats' properties.
#include "tz/picture_format.h"

namespace tz {

namespace {

// ASCII letters only: file names are never case-folded by locale rules.
bool sameExtension(std::string_view name, std::string_view extension) {
    if (name.size() != extension.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != extension[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<PictureFormat> resizedFormatOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    for (const PictureExtension& entry : kPictureExtensions) {
        if (sameExtension(name.substr(dot), entry.extension)) {
            return entry.format;
        }
    }
    return std::nullopt;
}

std::string resizedFileMask() {
    std::string mask;
    for (const PictureExtension& entry : kPictureExtensions) {
        mask.append(mask.empty() ? "*" : ";*").append(entry.extension);
    }
    return mask;
}

std::string resizedExtensionList() {
    std::string list;
    for (std::size_t i = 0; i < kPictureExtensions.size(); ++i) {
        if (i > 0) {
            list += i + 1 == kPictureExtensions.size() ? " or " : ", ";
        }
        list += kPictureExtensions[i].extension;
    }
    return list;
}

std::string_view extensionOf(PictureFormat format) {
    for (const PictureExtension& entry : kPictureExtensions) {
        if (entry.format == format) {
            return entry.extension;
        }
    }
    return {};
}

std::optional<PictureFormat> writableFormatNamed(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, PictureFormat>, 5> kNames{{
        {"jpeg", PictureFormat::Jpeg},
        {"gif", PictureFormat::Gif},
        {"bmp", PictureFormat::Bmp},
        {"png", PictureFormat::Png},
        {"webp", PictureFormat::Webp},
    }};
    for (const auto& [known, format] : kNames) {
        if (name == known) {
            return format;
        }
    }
    return std::nullopt;
}

bool canWrite(PictureFormat format) {
    // No free encoder for HEIF comes with the system's libraries.
    return format != PictureFormat::Heif;
}

bool keepsAlpha(PictureFormat format) {
    return format == PictureFormat::Png || format == PictureFormat::Webp;
}

}  // namespace tz
