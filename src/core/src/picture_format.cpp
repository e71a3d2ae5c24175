// The extension table's lookups.
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

const PictureExtension* entryOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return nullptr;
    }
    for (const PictureExtension& entry : kPictureExtensions) {
        if (sameExtension(name.substr(dot), entry.extension)) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<PictureFormat> shownFormatOf(std::string_view name) {
    const PictureExtension* entry = entryOf(name);
    return entry != nullptr ? std::optional(entry->format) : std::nullopt;
}

std::optional<PictureFormat> resizedFormatOf(std::string_view name) {
    const PictureExtension* entry = entryOf(name);
    return entry != nullptr && entry->resized ? std::optional(entry->format) : std::nullopt;
}

std::string resizedFileMask() {
    std::string mask;
    for (const PictureExtension& entry : kPictureExtensions) {
        if (entry.resized) {
            mask.append(mask.empty() ? "*" : ";*").append(entry.extension);
        }
    }
    return mask;
}

std::string resizedExtensionList() {
    std::string list;
    std::string_view pending;  // the last one so far, joined with "or" once it is known
    for (const PictureExtension& entry : kPictureExtensions) {
        if (!entry.resized) {
            continue;
        }
        if (!pending.empty()) {
            list.append(list.empty() ? "" : ", ").append(pending);
        }
        pending = entry.extension;
    }
    return list.empty() ? std::string(pending) : list + " or " + std::string(pending);
}

}  // namespace tz
