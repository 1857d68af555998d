// The configuration dialog's geometry on the desktop: the template's dialog
// units turned into pixels with the dialog font's metrics, and the order in
// which Tab walks the controls. Pure arithmetic on a dialog template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/dialog_resource.h"

namespace desktop {

// The two numbers dialog units are measured in: a quarter of the average
// character width across, an eighth of the character height down.
struct DialogFontMetrics {
    std::int32_t averageCharWidth;
    std::int32_t height;
};

struct PixelBox {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;
};

// The width of the 52 letters A..Z a..z set in the font, rounded to a whole
// average as the dialog manager does.
std::int32_t averageCharWidthFromAlphabet(std::int32_t alphabetWidth);

PixelBox dialogUnitsToPixels(const DialogFontMetrics& font, std::int32_t x, std::int32_t y,
                             std::int32_t width, std::int32_t height);

// Indexes into the template's controls that take the focus, in Tab order
// (the template's order, tab stops only).
std::vector<std::size_t> tabOrder(const DialogTemplate& dialog);

// The family a template font maps to on this desktop.
const char* desktopFontFamily(const char* templateFont);

}  // namespace desktop
