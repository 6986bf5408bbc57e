// Named single-instance mutex: an advisory flock on
// ${XDG_RUNTIME_DIR}/<name>.lock, or /tmp/<name>-<uid>.lock without a runtime
// directory. The lock being held by another process (or by another handle of
// this process) means the mutex "already existed". The kernel drops the lock
// when the holder dies, so a crashed saver never blocks the next one.
#pragma once

#include "platform/Win32Types.h"

constexpr LONG ERROR_NOT_OWNER = 288;

// The calling thread's last error, as set by the functions of this file.
DWORD GetLastError();
void SetLastError(DWORD error);

// Returns a handle, with last error ERROR_ALREADY_EXISTS when the lock is held
// elsewhere (the handle is still valid and must be closed) or ERROR_SUCCESS when
// this handle now holds it. Null on failure: ERROR_INVALID_PARAMETER for a name
// that is empty, contains '/' or is "." or "..", ERROR_ACCESS_DENIED when the
// lock file cannot be opened. A null name makes an unnamed mutex that never
// exists elsewhere. security is ignored. initialOwner gives ownership (for
// ReleaseMutex) only to a handle that created the mutex.
HANDLE CreateMutexA(const void* security, BOOL initialOwner, const char* name);
// Gives up ownership taken with initialOwner. FALSE with ERROR_NOT_OWNER when
// the handle does not own it, ERROR_INVALID_HANDLE for an unknown handle. The
// mutex itself (the lock) lives until CloseHandle.
BOOL ReleaseMutex(HANDLE mutex);
// Closes a mutex handle, dropping its lock. FALSE with ERROR_INVALID_HANDLE for
// a handle that is not open.
BOOL CloseHandle(HANDLE handle);
