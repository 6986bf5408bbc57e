// The shell's "open" verb: hands a file or address to the desktop's opener
// (xdg-open), started detached and without a shell in between.
#pragma once

#include "platform/Win32Types.h"

// ShellExecute error results (values <= 32).
constexpr int SE_ERR_FNF = 2;
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_OOM = 8;
constexpr int SE_ERR_NOASSOC = 31;

// verb "open" (any case) or null. Starts `xdg-open file` — the program named by
// GLIMMERWING_OPEN_COMMAND instead when that is set — in its own session, with
// dir as working directory when given, and returns at once. The child is
// reaped in the background. Returns a value > 32 when the opener was started,
// else SE_ERR_NOASSOC (other verbs, opener not found), SE_ERR_FNF (file null,
// empty or starting with '-', which the opener would take for an option),
// SE_ERR_ACCESSDENIED or SE_ERR_OOM. params is not passed on (the opener takes
// a single argument); window and show are not used.
HINSTANCE ShellExecuteA(HWND window, const char* verb, const char* file, const char* params,
                        const char* dir, int show);
