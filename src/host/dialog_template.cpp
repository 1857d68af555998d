#include "host/dialog_template.h"

#include <iterator>

namespace {

constexpr std::uint32_t kChildVisible = kStyleChild | kStyleVisible;
constexpr std::uint32_t kDefaultButton = kChildVisible | kStyleTabStop | kButtonDefaultPush;
constexpr std::uint32_t kButton = kChildVisible | kStyleTabStop | kButtonPush;
// No number-only restriction and no length limit: the OK procedure does the
// checking, and the boxes must hold whatever a settings file brought.
constexpr std::uint32_t kEdit = kChildVisible | kStyleTabStop | kStyleBorder | kEditLeft |
                                kEditAutoHScroll;
constexpr std::uint32_t kLabel = kChildVisible | kStyleGroup | kStaticLeft;
constexpr std::uint32_t kGroupBox = kChildVisible | kButtonGroupBox;

constexpr DialogControl button(std::int32_t id, const char* caption, std::int16_t x,
                               std::int16_t y, std::int16_t w, std::int16_t h) {
    return {id, ControlKind::PushButton, caption, x, y, w, h, kButton};
}
constexpr DialogControl edit(std::int32_t id, std::int16_t x, std::int16_t y, std::int16_t w,
                             std::int16_t h) {
    return {id, ControlKind::Edit, "", x, y, w, h, kEdit};
}
constexpr DialogControl label(const char* caption, std::int16_t x, std::int16_t y, std::int16_t w,
                              std::int16_t h) {
    return {-1, ControlKind::Label, caption, x, y, w, h, kLabel};
}
constexpr DialogControl groupBox(const char* caption, std::int16_t x, std::int16_t y,
                                 std::int16_t w, std::int16_t h) {
    return {-1, ControlKind::GroupBox, caption, x, y, w, h, kGroupBox};
}

}  // namespace

// In tab order.
constexpr DialogControl kConfigControls[] = {
    {1, ControlKind::DefaultPushButton, "OK", 333, 244, 50, 14, kDefaultButton},
    button(2, "Cancel", 388, 244, 50, 14),
    edit(1000, 80, 29, 158, 14),
    edit(1006, 80, 48, 158, 14),
    edit(1007, 80, 71, 158, 14),
    edit(1008, 80, 94, 158, 14),
    edit(1009, 80, 118, 158, 14),
    edit(1010, 80, 142, 158, 14),
    label("Side 1 Image:", 29, 32, 44, 8),
    label("Side 2 Image:", 29, 51, 44, 8),
    label("Side 3 Image:", 28, 74, 44, 8),
    label("Side 4 Image:", 28, 97, 44, 8),
    label("Side 5 Image:", 28, 120, 44, 8),
    label("Side 6 Image:", 27, 144, 44, 8),
    button(1001, "Browse...", 253, 29, 50, 14),
    button(1002, "Browse...", 253, 48, 50, 14),
    button(1003, "Browse...", 253, 71, 50, 14),
    button(1004, "Browse...", 253, 94, 50, 14),
    button(1005, "Browse...", 253, 119, 50, 14),
    button(1011, "Browse...", 253, 142, 50, 14),
    label("Reduce Images by (1=original size, 2=half as large, etc.):", 61, 213, 178, 8),
    edit(1013, 242, 211, 40, 14),
    label("Rotation Speed (1=slowest, 2=faster, etc.):", 105, 232, 135, 8),
    edit(1014, 242, 230, 40, 14),
    groupBox("Select a JPG image for each side of the cube", 16, 17, 299, 175),
    groupBox("Performance", 15, 198, 300, 83),
    label("* For 800 - 900 MHz machines, \"Reduce Images\" by 2 and use \"Rotation Speed\" "
          "of 2",
          24, 251, 272, 8),
    label("* Use settings of 1 for both of these options only for faster (1 GHz +) "
          "processors.",
          24, 261, 250, 8),
    edit(1015, 362, 47, 40, 14),
    label("Maximum Cube Rotation (in degrees):", 327, 31, 118, 8),
    groupBox("Cube Rotation", 321, 17, 126, 59),
    label("* Fill $none into a box for no image on that side.", 31, 160, 150, 8),
    label("* Fill in #rrggbb into a box for a side of solid color, rr=red, gg=green, "
          "bb=blue level",
          32, 170, 254, 8),
    label("Example: #ff0000 for a solid red side, #feff0a for a solid yellow side.", 40, 179,
          212, 8),
    button(1017, "About this Program...", 341, 115, 79, 14),
};
static_assert(std::size(kConfigControls) == kConfigControlCount);

const DialogTemplate configDialogTemplate = {
    "Rovanta Configuration",
    0,
    0,
    460,
    292,
    "MS Sans Serif",
    8,
    kStylePopup | kStyleCaption | kStyleSysMenu | kDialogModalFrame | kDialogSetFont,
    0,
    kConfigControls,
};

const DialogControl* findDialogControl(std::int32_t id) {
    return findTemplateControl(configDialogTemplate, id);
}
