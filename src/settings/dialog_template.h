// The configuration dialog's layout: one table that every platform builds
// the dialog from (the Windows resource file is kept equal to it by a test).
// Positions and sizes are dialog units; styles are the Win32 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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

inline constexpr std::size_t kConfigControlCount = 35;

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
    std::array<DialogControl, kConfigControlCount> controls;  // in tab order
};

extern const DialogTemplate configDialogTemplate;

// The predefined window class a control of this kind belongs to.
const char* controlClassName(ControlKind kind);
// The control with this id, or null (never finds the id -1).
const DialogControl* findDialogControl(std::int32_t id);
