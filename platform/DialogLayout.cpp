#include "platform/DialogLayout.h"

#include <strings.h>

#include <algorithm>
#include <vector>

namespace platform::dialog {
namespace {

constexpr double kMaxScale = 4.0;

bool IsGroupBox(const DialogItemTemplate& item) {
    return strcasecmp(item.className.c_str(), WC_BUTTON) == 0 && (item.style & BS_TYPEMASK) == BS_GROUPBOX;
}

// The smallest group box (other than the control itself) whose rectangle
// holds the control's top-left corner, or null.
const DialogItemTemplate* GroupAround(const DialogTemplate& t, std::size_t item) {
    const DialogItemTemplate& c = t.items[item];
    const DialogItemTemplate* best = nullptr;
    for (std::size_t i = 0; i < t.items.size(); ++i) {
        const DialogItemTemplate& g = t.items[i];
        if (i == item || !IsGroupBox(g)) continue;
        if (c.x < g.x || c.y < g.y || c.x >= g.x + g.cx || c.y >= g.y + g.cy) continue;
        if (!best || g.cx * g.cy < best->cx * best->cy) best = &g;
    }
    return best;
}

// The smallest scale from 1 up to kMaxScale at which `fits` holds, found by
// halving; 0 when it does not hold even at kMaxScale.
template <class Fits>
double SmallestScale(const Fits& fits) {
    if (fits(1.0)) return 1.0;
    if (!fits(kMaxScale)) return 0.0;
    double low = 1.0, high = kMaxScale;
    while (high - low > 1e-4) {
        const double middle = (low + high) / 2;
        (fits(middle) ? high : low) = middle;
    }
    return high;
}

// The smallest scale at which every control's `fits(i, scale)` holds, leaving
// out those that never do. Rounding to whole pixels can make a control that
// fits at its own scale miss by a pixel at a slightly larger one; the common
// scale then creeps up until all fit.
template <class Fits>
double CommonScale(std::size_t count, const Fits& fits) {
    std::vector<bool> counted(count, false);
    double scale = 1.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double own = SmallestScale([&](double s) { return fits(i, s); });
        counted[i] = own > 0.0;
        scale = std::max(scale, own);
    }
    auto allFit = [&](double s) {
        for (std::size_t i = 0; i < count; ++i)
            if (counted[i] && !fits(i, s)) return false;
        return true;
    };
    while (!allFit(scale) && scale < kMaxScale) scale += 1e-3;
    return scale;
}

} // namespace

RECT CaptionRoom(const DialogTemplate& t, const DialogUnits& u, std::size_t item) {
    const DialogItemTemplate& c = t.items[item];
    RECT room{u.X(c.x), u.Y(c.y), u.X(c.x) + u.X(c.cx), u.Y(c.y) + u.Y(c.cy)};
    if (const DialogItemTemplate* g = GroupAround(t, item)) {
        room.right = std::min<LONG>(room.right, u.X(g->x) + u.X(g->cx) - u.X(1));
        room.bottom = std::min<LONG>(room.bottom, u.Y(g->y) + u.Y(g->cy) - u.Y(1));
    }
    room.right = std::min<LONG>(room.right, u.X(t.cx));
    room.bottom = std::min<LONG>(room.bottom, u.Y(t.cy));
    return room;
}

DialogUnits FitCaptions(const DialogTemplate& t, DialogUnits units, std::span<const int> widths,
                        const std::function<int(std::size_t item, int width)>& heightAt) {
    const std::size_t count = std::min(t.items.size(), widths.size());
    units.scaleX = units.scaleY = 1.0;

    units.scaleX = CommonScale(count, [&](std::size_t i, double s) {
        if (widths[i] <= 0) return true;
        DialogUnits u = units;
        u.scaleX = s;
        const RECT room = CaptionRoom(t, u, i);
        return room.right - room.left >= widths[i];
    });

    // Heights at the widths the controls now have.
    std::vector<int> heights(count, 0);
    for (std::size_t i = 0; i < count; ++i)
        if (widths[i] > 0) heights[i] = heightAt(i, units.X(t.items[i].cx));
    units.scaleY = CommonScale(count, [&](std::size_t i, double s) {
        if (heights[i] <= 0) return true;
        DialogUnits u = units;
        u.scaleY = s;
        const RECT room = CaptionRoom(t, u, i);
        return room.bottom - room.top >= heights[i];
    });
    return units;
}

} // namespace platform::dialog
