// The program's own resources: the files listed in resources/glimmerwing.rc,
// compiled into the executable by tools/rc, looked up the way Win32 finds the
// resources of a module. Names and types compare without regard to case; a
// numeric name or type (MAKEINTRESOURCEA) matches the script's "#<number>" or a
// bare number, and the predefined types match their script keywords
// (RT_ICON = ICON, RT_DIALOG = DIALOG, RT_RCDATA = RCDATA).
#pragma once

#include <cstddef>
#include <span>

#include "platform/Win32Types.h"

// One compiled resource. Type and name are the script's text as written
// ("MODEL", "CLOCK.FPP", "ICON", "#156" ...).
struct ResourceEntry {
    const char* type;
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

// The table that the resource compiler generates (generated/resources_table.cpp).
std::span<const ResourceEntry> CompiledResourceTable();

// Tests may look resources up in a table of their own; an empty span restores
// the compiled table.
void SetResourceTableForTesting(std::span<const ResourceEntry> table);

struct HRSRC__;
struct HGLOBAL__;
using HRSRC = HRSRC__*;
using HGLOBAL = HGLOBAL__*;

inline const char* const RT_ICON = MAKEINTRESOURCEA(3);
inline const char* const RT_DIALOG = MAKEINTRESOURCEA(5);
inline const char* const RT_RCDATA = MAKEINTRESOURCEA(10);
inline const char* const RT_GROUP_ICON = MAKEINTRESOURCEA(14);

// The module handle of the program itself; every lookup is in this module.
HINSTANCE GetModuleHandleA(const char* moduleName);

HRSRC FindResourceA(HMODULE module, const char* name, const char* type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
