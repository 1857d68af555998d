#include "host/dialog_template.h"

#include <iterator>

namespace {

constexpr std::uint32_t kChildVisible = kStyleChild | kStyleVisible;

// The style each kind of control gets. No number-only restriction and no
// length limit on the edit boxes: the OK procedure does the checking, and the
// boxes must hold whatever a settings file brought.
constexpr std::uint32_t styleOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::DefaultPushButton:
        return kChildVisible | kStyleTabStop | kButtonDefaultPush;
    case ControlKind::PushButton:
        return kChildVisible | kStyleTabStop | kButtonPush;
    case ControlKind::Edit:
        return kChildVisible | kStyleTabStop | kStyleBorder | kEditLeft | kEditAutoHScroll;
    case ControlKind::Label:
        return kChildVisible | kStyleGroup | kStaticLeft;
    case ControlKind::GroupBox:
        return kChildVisible | kButtonGroupBox;
    }
    return kChildVisible;
}

using enum ControlKind;

constexpr DialogControl control(ControlKind kind, std::int32_t id, const char* caption,
                                std::int16_t x, std::int16_t y, std::int16_t w, std::int16_t h) {
    return {id, kind, caption, x, y, w, h, styleOf(kind)};
}

}  // namespace

// The dialog in tab order, one control per line: the Windows program's
// resource script is made from this file at build time
// (cmake/dialog-rc.cmake), which reads each line that starts with
// "control(" and the three lines of configDialogTemplate's frame below,
// and stops the build on one it cannot read. A caption holds no escape
// but \".
// clang-format off
constexpr DialogControl kConfigControls[] = {
    control(DefaultPushButton, 1, "OK", 333, 244, 50, 14),
    control(PushButton, 2, "Cancel", 388, 244, 50, 14),
    control(Edit, 1000, "", 80, 29, 158, 14),
    control(Edit, 1006, "", 80, 48, 158, 14),
    control(Edit, 1007, "", 80, 71, 158, 14),
    control(Edit, 1008, "", 80, 94, 158, 14),
    control(Edit, 1009, "", 80, 118, 158, 14),
    control(Edit, 1010, "", 80, 142, 158, 14),
    control(Label, -1, "Side 1 Image:", 29, 32, 44, 8),
    control(Label, -1, "Side 2 Image:", 29, 51, 44, 8),
    control(Label, -1, "Side 3 Image:", 28, 74, 44, 8),
    control(Label, -1, "Side 4 Image:", 28, 97, 44, 8),
    control(Label, -1, "Side 5 Image:", 28, 120, 44, 8),
    control(Label, -1, "Side 6 Image:", 27, 144, 44, 8),
    control(PushButton, 1001, "Browse...", 253, 29, 50, 14),
    control(PushButton, 1002, "Browse...", 253, 48, 50, 14),
    control(PushButton, 1003, "Browse...", 253, 71, 50, 14),
    control(PushButton, 1004, "Browse...", 253, 94, 50, 14),
    control(PushButton, 1005, "Browse...", 253, 119, 50, 14),
    control(PushButton, 1011, "Browse...", 253, 142, 50, 14),
    control(Label, -1, "Reduce Images by (1=original size, 2=half as large, etc.):", 61, 213, 178, 8),
    control(Edit, 1013, "", 242, 211, 40, 14),
    control(Label, -1, "Rotation Speed (1=slowest, 2=faster, etc.):", 105, 232, 135, 8),
    control(Edit, 1014, "", 242, 230, 40, 14),
    control(GroupBox, -1, "Select a JPG image for each side of the cube", 16, 17, 299, 175),
    control(GroupBox, -1, "Performance", 15, 198, 300, 83),
    control(Label, -1, "* For 800 - 900 MHz machines, \"Reduce Images\" by 2 and use \"Rotation Speed\" of 2", 24, 251, 272, 8),
    control(Label, -1, "* Use settings of 1 for both of these options only for faster (1 GHz +) processors.", 24, 261, 250, 8),
    control(Edit, 1015, "", 362, 47, 40, 14),
    control(Label, -1, "Maximum Cube Rotation (in degrees):", 327, 31, 118, 8),
    control(GroupBox, -1, "Cube Rotation", 321, 17, 126, 59),
    control(Label, -1, "* Fill $none into a box for no image on that side.", 31, 160, 150, 8),
    control(Label, -1, "* Fill in #rrggbb into a box for a side of solid color, rr=red, gg=green, bb=blue level", 32, 170, 254, 8),
    control(Label, -1, "Example: #ff0000 for a solid red side, #feff0a for a solid yellow side.", 40, 179, 212, 8),
    control(PushButton, 1017, "About this Program...", 341, 115, 79, 14),
};
// clang-format on
static_assert(std::size(kConfigControls) == kConfigControlCount);

const DialogTemplate configDialogTemplate = {
    "Rovanta Configuration", 0, 0, 460, 292, "MS Sans Serif", 8,
    kStylePopup | kStyleCaption | kStyleSysMenu | kDialogModalFrame | kDialogSetFont,
    0,
    kConfigControls,
};

const DialogControl* findDialogControl(std::int32_t id) {
    return findTemplateControl(configDialogTemplate, id);
}
