// GDI fonts: a font handle records the face the system matched for the
// requested name and attributes, for the text drawing of the graphics layer.
#pragma once

#include <string>

#include "platform/Win32Types.h"

constexpr DWORD ANSI_CHARSET = 0;
constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD SHIFTJIS_CHARSET = 128;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD OUT_TT_ONLY_PRECIS = 7;
constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
constexpr DWORD DEFAULT_QUALITY = 0;
constexpr DWORD PROOF_QUALITY = 2;
constexpr DWORD DEFAULT_PITCH = 0;
constexpr DWORD FF_DONTCARE = 0;
constexpr int FW_NORMAL = 400;
constexpr int FW_SEMIBOLD = 600;
constexpr int FW_BOLD = 700;

// What a font handle stands for.
struct FontDescription {
    std::string requestedFace;
    std::string matchedFamily;
    std::string file;      // the font file the system matched
    int faceIndex = 0;     // index of the face inside that file
    int height = 0;        // LOGFONT height: 0 = the default size, < 0 character height, > 0 cell height
    int weight = FW_NORMAL;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};

// The face is matched through fontconfig; when the system has no face of that
// name, its monospace face is taken. Null when the system has no font at all.
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, const char* faceName);
BOOL DeleteObject(HFONT font);

// The description behind a live handle, or null.
const FontDescription* DescribeFont(HFONT font);
