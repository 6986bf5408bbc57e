// Writing the files a user keeps.
//
// ReplaceFile stores a file whole or not at all: the new text goes to a
// temporary file in the same folder, is flushed to the disk, renamed over the
// old file, and the folder is flushed too. Whatever happens (a full disk, a
// failing drive, a missing permission, the process killed at any moment), the
// file is the complete old one or the complete new one, and no temporary
// file stays behind: a failed write removes its own, and the next write
// removes those of writers that were killed.
//
// OverwriteFile writes in place, as much as it can: for files that are
// better cut short than stale, such as a log.
//
// Both go through the system calls of FileCalls, which tests replace to make
// one fail.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

struct FileCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, std::size_t size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
};

// The system's own calls.
FileCalls SystemFileCalls();
// The calls in use: the system's own unless a test replaced them.
FileCalls& ActiveFileCalls();

struct FileWriteResult {
    int error = 0;         // errno of the step that failed; 0 when the file was written
    std::string reason;    // what failed, for a message: "cannot write /x/.f.tmp-1-0: No space left on device"
    bool replaced = false; // the new text is in place (only flushing the folder failed)
    bool Ok() const { return error == 0; }
};

// Replaces the file at path (a symbolic link is followed, not replaced) by
// text, keeping the old file's permissions. Refuses to replace a file that is
// not a regular file, belongs to another user or is read-only. Creates the
// folder when missing.
FileWriteResult ReplaceFile(const std::filesystem::path& path, std::string_view text);

// Writes text into the file at path, created or emptied, as far as it goes.
FileWriteResult OverwriteFile(const std::filesystem::path& path, std::string_view text);

}  // namespace platform
