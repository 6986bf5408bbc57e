#include "platform/Gdi.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <memory>
#include <strings.h>
#include <vector>

struct HFONT__ {
    FontDescription description;
};

namespace {

std::vector<std::unique_ptr<HFONT__>>& Fonts() {
    static std::vector<std::unique_ptr<HFONT__>> fonts;
    return fonts;
}

// fontconfig's weight scale from the 100..900 scale of GDI.
int FcWeightOf(int gdiWeight) {
    if (gdiWeight <= 0) gdiWeight = FW_NORMAL;
    return FcWeightFromOpenType(std::clamp(gdiWeight, 1, 1000));
}

struct Match {
    std::string family;
    std::string file;
    int index = 0;
};

// Best face for the family with the weight and slant; false when fontconfig
// has nothing to offer.
bool MatchFace(const char* family, int gdiWeight, bool italic, Match& out) {
    if (!FcInit()) return false;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightOf(gdiWeight));
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;
    FcChar8* file = nullptr;
    FcChar8* matchedFamily = nullptr;
    int index = 0;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
    if (ok) {
        out.file = reinterpret_cast<const char*>(file);
        if (FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily) == FcResultMatch && matchedFamily)
            out.family = reinterpret_cast<const char*>(matchedFamily);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) out.index = index;
    }
    FcPatternDestroy(match);
    return ok;
}

}  // namespace

HFONT CreateFontA(int height, int, int, int, int weight, DWORD italic, DWORD underline, DWORD strikeOut, DWORD,
                  DWORD, DWORD, DWORD, DWORD, const char* faceName) {
    const char* face = faceName ? faceName : "";
    Match match;
    // fontconfig always answers with its best face; only a face of the asked
    // family counts, else the system's monospace face stands in.
    const bool found = *face && MatchFace(face, weight, italic != 0, match) &&
                       strcasecmp(match.family.c_str(), face) == 0;
    if (!found && !MatchFace("monospace", weight, italic != 0, match)) return nullptr;

    auto font = std::make_unique<HFONT__>();
    FontDescription& d = font->description;
    d.requestedFace = face;
    d.matchedFamily = match.family;
    d.file = match.file;
    d.faceIndex = match.index;
    d.height = height;
    d.weight = weight;
    d.italic = italic != 0;
    d.underline = underline != 0;
    d.strikeOut = strikeOut != 0;
    HFONT handle = font.get();
    Fonts().push_back(std::move(font));
    return handle;
}

BOOL DeleteObject(HFONT font) {
    auto& fonts = Fonts();
    auto it = std::find_if(fonts.begin(), fonts.end(), [&](const auto& f) { return f.get() == font; });
    if (it == fonts.end()) return FALSE;
    fonts.erase(it);
    return TRUE;
}

const FontDescription* DescribeFont(HFONT font) {
    for (const auto& f : Fonts())
        if (f.get() == font) return &f->description;
    return nullptr;
}
