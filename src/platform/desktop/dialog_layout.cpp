#include "platform/desktop/dialog_layout.h"

#include <cstring>

namespace desktop {

std::int32_t averageCharWidthFromAlphabet(std::int32_t alphabetWidth) {
    return (alphabetWidth / 26 + 1) / 2;
}

PixelBox dialogUnitsToPixels(const DialogFontMetrics& font, std::int32_t x, std::int32_t y,
                             std::int32_t width, std::int32_t height) {
    const auto across = [&](std::int32_t v) { return v * font.averageCharWidth / 4; };
    const auto down = [&](std::int32_t v) { return v * font.height / 8; };
    return {across(x), down(y), across(width), down(height)};
}

std::vector<std::size_t> tabOrder(const DialogTemplate& dialog) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < dialog.controls.size(); ++i)
        if ((dialog.controls[i].style & kStyleTabStop) != 0) order.push_back(i);
    return order;
}

const char* desktopFontFamily(const char* templateFont) {
    // The bitmap font of the template has no twin here; the desktop's own
    // sans serif is what a user of this desktop reads everywhere else.
    if (templateFont == nullptr || std::strcmp(templateFont, "MS Sans Serif") == 0 ||
        std::strcmp(templateFont, "MS Shell Dlg") == 0)
        return "Sans";
    return templateFont;
}

}  // namespace desktop
