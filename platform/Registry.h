// The registry of the current user, kept as one text hive file per user:
//
//     ${XDG_CONFIG_HOME:-$HOME/.config}/glimmerwing/user.reg
//
// in the registry editor's export format, so that a user can read and edit it,
// or carry it to and from Windows:
//
//     Windows Registry Editor Version 5.00
//
//     [HKEY_CURRENT_USER\Software\varen-ot-u\Glimmerwing\1.0]
//     "intBrdNumCur"=dword:00000014
//     "Name"="text with \\ and \" escaped"
//     "Blob"=hex:01,02,03
//     "Other"=hex(b):01,00,00,00,00,00,00,00
//
// A key is a section; "key created" means its section was not in the file.
// Section and value names compare without regard to case, as on Windows. Every
// line the layer does not understand (comments, garbled lines, keys nobody
// opened) is kept as it is and written back in its place; only the values that
// are set are rewritten, each into the place of its first line in the key
// (a line whose data cannot be read included), so that a key keeps one line
// per name. CRLF line ends, a UTF-8 byte order mark and UTF-16LE exports are
// read; the file is written back in the encoding and with the line ends it
// had. The text itself is read and written by platform/RegistryText.h.
//
// Opening a key reads the file; the values set through a handle are written
// when the handle is closed: the file is read again, the changes applied and
// the result stored whole or not at all (platform/FileWrite.h: a temporary
// file in the same folder, flushed to the disk, renamed over the old one), so
// neither a crash nor a full disk leaves half a file. A missing file counts as
// empty and its directory is created. A file that exists but cannot be read
// (no permission, not a regular file, absurdly large) is never replaced:
// opening a key in it fails with ERROR_ACCESS_DENIED, so the caller keeps its
// defaults and the user's data stays as it is. Neither is a file that belongs
// to another user or is read-only, nor one in a folder that cannot be
// written. Each such failure says why in one line on stderr.
//
// The handles are for one thread at a time, as the program uses them; the
// table of open handles itself is guarded.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/Win32Types.h"

struct HKEY__;
using HKEY = HKEY__*;

inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Errors of a write.
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_DISK_FULL = 112;

// RegCreateKeyExA options, access and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens the key subKey below root (HKEY_CURRENT_USER or an open key), creating
// it when its section is missing. *disposition (when given) tells which.
// Fails with ERROR_ACCESS_DENIED when the hive exists but cannot be read or its
// location is unknown, ERROR_INVALID_HANDLE for an unknown root and
// ERROR_INVALID_PARAMETER for a malformed subKey or a null result.
LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, const char* cls, DWORD options,
                     DWORD samDesired, const void* security, HKEY* result, DWORD* disposition);

// Reads a value (a null or empty name is the key's default value "@").
// ERROR_FILE_NOT_FOUND when missing; with data null only the type and size
// are returned; ERROR_MORE_DATA (and the needed size in *cbData) when the
// buffer is too small. REG_DWORD data is the number in host byte order (from
// dword: or from the four bytes of hex(4):, listed lowest first), REG_SZ the
// text with its terminating zero, every other hex form its bytes as listed.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData);

// Sets a value, replacing a value of the same name of any type. REG_DWORD needs
// exactly 4 bytes; REG_SZ is written as a quoted string (as hex(1) when it
// holds line breaks); REG_BINARY as hex: and every other type as hex(N):.
// The change reaches the file when the key is closed.
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);

// Closes an open key, writing the hive when the key was created or a value set.
// Returns the error of that write (the handle is closed in any case):
// ERROR_DISK_FULL, ERROR_ACCESS_DENIED or ERROR_WRITE_FAULT.
LONG RegCloseKey(HKEY key);

// Where the hive of the current user lives; empty when neither XDG_CONFIG_HOME
// (absolute) nor a home directory is known.
std::filesystem::path RegistryHivePath();
