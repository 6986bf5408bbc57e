// The "system directory" of the saver: the per-user state directory
// ${XDG_STATE_HOME:-$HOME/.local/state}/glimmerwing, where the start-up log goes.
#pragma once

#include <string>
#include <string_view>

#include "platform/Win32Types.h"

// Copies the directory (no trailing slash) into buffer. Returns its length
// without the terminator; when size is too small, returns the size needed
// including the terminator and leaves buffer untouched; 0 when the location is
// unknown (no absolute XDG_STATE_HOME and no home directory). The directory is
// not created here: nothing is touched until something is written there (see
// platform::CreateDirectoryTree).
UINT GetSystemDirectoryA(char* buffer, UINT size);

namespace platform {

// The directory as a string; empty when the location is unknown.
std::string SystemDirectoryPath();

// Creates an absolute directory path and its missing parents with mode 0700.
// True when the path is (now) a directory.
bool CreateDirectoryTree(std::string_view path);

}  // namespace platform
