// The recent-folder list kept in the settings store, and the user's special folders.
#pragma once

#include <array>
#include <string>

namespace tz {

// What an absent recent entry reads as: the root folder.
inline constexpr const char* kDefaultFolder = "/";

// The five recent folders, newest first: the values "Recent1" to "Recent5" of the program's key,
// each "/" when absent. Settings-store errors propagate.
std::array<std::string, 5> loadRecentFolders();

// Records `folder` as the newest recent folder unless it equals one of `captions` (the list as
// last loaded) exactly, letter case included; then nothing changes and the result is false.
// Otherwise the stored entries move down by one (read afresh, oldest first; the old fifth is
// dropped), `folder` is written as "Recent1" and the result is true: the caller reloads its
// captions. Settings-store errors propagate.
bool addFolderToRecent(const std::string& folder, const std::array<std::string, 5>& captions);

enum class SpecialFolder { Pictures, Documents, Recent, Desktop };

// The user's folder of that kind from the XDG user-dirs file
// ($XDG_CONFIG_HOME, else $HOME/.config, + "/user-dirs.dirs"; the last matching line wins; a
// "$HOME" prefix is expanded); when the file does not name it, the standard default under
// $HOME: "Pictures", "Documents", "Desktop" ("" without a $HOME). The folder need not exist.
// Recent has no folder on this platform and is always "". Never throws; an unreadable file
// names nothing.
std::string specialFolderPath(SpecialFolder folder);

}  // namespace tz
