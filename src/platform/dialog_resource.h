// The dialog resource format of our Linux platform: what a DIALOG statement of
// a Windows resource script says, as a table. A program hands its table to
// the platform at start-up (plat::StartLinuxProgram), as a Windows program links
// its compiled .rc; DialogBoxParamA then builds the dialog from the table of
// the template id it is given. Positions and sizes are dialog units; styles
// are the Win32 bits.
#pragma once

#include <cstdint>
#include <span>

// Win32 style bits, named apart from windows.h's macros so both can meet.
inline constexpr std::uint32_t kStylePopup = 0x80000000u;
inline constexpr std::uint32_t kStyleChild = 0x40000000u;
inline constexpr std::uint32_t kStyleVisible = 0x10000000u;
inline constexpr std::uint32_t kStyleCaption = 0x00C00000u;
inline constexpr std::uint32_t kStyleBorder = 0x00800000u;
inline constexpr std::uint32_t kStyleSysMenu = 0x00080000u;
inline constexpr std::uint32_t kStyleGroup = 0x00020000u;
inline constexpr std::uint32_t kStyleTabStop = 0x00010000u;
inline constexpr std::uint32_t kDialogModalFrame = 0x00000080u;
inline constexpr std::uint32_t kDialogSetFont = 0x00000040u;
inline constexpr std::uint32_t kButtonPush = 0x00000000u;
inline constexpr std::uint32_t kButtonDefaultPush = 0x00000001u;
inline constexpr std::uint32_t kButtonGroupBox = 0x00000007u;
inline constexpr std::uint32_t kEditLeft = 0x00000000u;
inline constexpr std::uint32_t kEditAutoHScroll = 0x00000080u;
inline constexpr std::uint32_t kStaticLeft = 0x00000000u;

enum class ControlKind : std::uint8_t { DefaultPushButton, PushButton, Edit, Label, GroupBox };

struct DialogControl {
    std::int32_t id;  // -1 for controls nobody addresses (65535 as a 16-bit id)
    ControlKind kind;
    const char* caption;  // empty for edit boxes
    std::int16_t x;
    std::int16_t y;
    std::int16_t width;
    std::int16_t height;
    std::uint32_t style;
};

struct DialogTemplate {
    const char* caption;
    std::int16_t x;
    std::int16_t y;
    std::int16_t width;
    std::int16_t height;
    const char* fontName;
    std::int16_t fontPoints;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::span<const DialogControl> controls;  // in tab order
};

// The predefined window class a control of this kind belongs to.
inline const char* controlClassName(ControlKind kind) {
    switch (kind) {
    case ControlKind::DefaultPushButton:
    case ControlKind::PushButton:
    case ControlKind::GroupBox:
        return "BUTTON";
    case ControlKind::Edit:
        return "EDIT";
    case ControlKind::Label:
        return "STATIC";
    }
    return "STATIC";
}

// The control of a template with this id, or null (never finds the id -1).
inline const DialogControl* findTemplateControl(const DialogTemplate& dialog, std::int32_t id) {
    if (id == -1) return nullptr;
    for (const DialogControl& control : dialog.controls)
        if (control.id == id) return &control;
    return nullptr;
}
