// Moving files to the desktop's trash by the freedesktop.org trash rules: the home trash for
// files on the home trash's file system, a file system's own trash for the others.
#pragma once

#include <sys/types.h>

#include <filesystem>

namespace tz {

// Moves `file` (a regular file, or a symbolic link itself) into the trash and returns where it
// now is. The home trash ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash; its folders are
// created, private to the user, when absent) takes files on its own file system; any other file
// goes to the trash at the top folder of its file system (topFolderTrash). The info file is
// written first, under a name no other file of that trash has, then the file is renamed into
// place: nothing is copied and no folder is created beside the file. Throws tz::Error with the
// cause (the caller names the file); the file then stays where it was.
std::filesystem::path trashFile(const std::filesystem::path& file);

// The trash of a file system whose top folder is `topFolder`, for user `uid`: `.Trash/UID` when
// `.Trash` is a real folder (not a link) with the sticky bit, else `.Trash-UID`, created private
// to the user when absent, with its `files` and `info` folders. Throws tz::Error when neither
// can be used.
std::filesystem::path topFolderTrash(const std::filesystem::path& topFolder, uid_t uid);

// The home trash: $XDG_DATA_HOME/Trash when that variable is an absolute path, else the home
// folder's .local/share/Trash; empty when there is no home folder. Not created.
std::filesystem::path homeTrash();

}  // namespace tz
