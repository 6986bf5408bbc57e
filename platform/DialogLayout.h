// How a dialog template's units become pixels on the desktop, and how far
// they are stretched so that every caption fits its control.
//
// A template's rectangles are drawn for the face it names. A substitute face
// is often wider (a Japanese face whose kana are all full width, where the
// template's face has proportional ones), and its captions would run out of
// their controls. The desktop dialog then stretches the units by the smallest
// factor that gives every caption room: horizontally first, vertically only
// where a caption is still too tall. Every position and size scales alike,
// so the layout keeps its proportions.
#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <span>

#include "platform/DialogTemplate.h"

namespace platform::dialog {

// Dialog units in pixels as Windows converts them, x * baseX / 4 and
// y * baseY / 8 (baseX, baseY: the dialog font's base units), each direction
// stretched by its scale. A control sits at (X(x), Y(y)) with the size
// X(cx) x Y(cy).
struct DialogUnits {
    int baseX = 6;
    int baseY = 12;
    double scaleX = 1.0;
    double scaleY = 1.0;

    int X(int units) const { return static_cast<int>(std::lround(units * baseX * scaleX / 4.0)); }
    int Y(int units) const { return static_cast<int>(std::lround(units * baseY * scaleY / 8.0)); }
};

// The room, in pixels of the dialog's client area, that the caption of
// control `item` may fill: the control's rectangle, cut to the inside of the
// group box it starts in (keeping one dialog unit clear of the group's right
// and bottom frame) and to the dialog.
RECT CaptionRoom(const DialogTemplate& t, const DialogUnits& units, std::size_t item);

// `units` stretched by the smallest scales with which every caption fits its
// room. `widths[i]` is the narrowest width in pixels that the caption of
// control i can take, 0 when it has none; `heightAt(i, width)` is its height
// in pixels when its control is `width` pixels wide. A caption that would
// need the units stretched more than four times is left out: no stretch of
// the layout can be meant to fit it.
DialogUnits FitCaptions(const DialogTemplate& t, DialogUnits units, std::span<const int> widths,
                        const std::function<int(std::size_t item, int width)>& heightAt);

} // namespace platform::dialog
