// The configuration dialog (template 2003): six side texts with Browse
// buttons, three numbers, OK, Cancel and an About box.
//
//   kOkId .. kSideBrowseButtons   the control ids the procedure acts on
//   k...RangeText, kAbout...      the texts of its boxes
//   sideFileDialog, chosenFileTitle, kFileTitleSize   the file-open dialog's record and title
//   ConfigDialogProc     the dialog procedure
//   prepareConfigDialog  the host's hook before the dialog is shown
//   initSideFileDialog   fill sideFileDialog for the file-open dialog
//   browseForSide        let the user pick a picture for one side; true when one was
//   decimalValue         a number box's text as a number
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "settings/settings.h"

inline constexpr int kOkId = 1;
inline constexpr int kCancelId = 2;
inline constexpr int kAboutId = 1017;
inline constexpr int kReduceFactorBox = 1013;
inline constexpr int kPointStepBox = 1014;
inline constexpr int kMaxRotationBox = 1015;

// Side i's edit box and Browse button.
inline constexpr std::array<int, kSideCount> kSideEditBoxes = {1000, 1006, 1007, 1008, 1009, 1010};
inline constexpr std::array<int, kSideCount> kSideBrowseButtons = {1001, 1002, 1003,
                                                                   1004, 1005, 1011};

inline constexpr std::uint32_t kOpenFileNameSize = 76;
inline constexpr const char* kReduceFactorRangeText =
    "Sorry, the scale factor must be between 1 and 10.";
inline constexpr const char* kPointStepRangeText =
    "Sorry, the rotation speed must be between 1 and 10.";
inline constexpr const char* kMaxRotationRangeText =
    "Sorry, the maximum cube rotation must be set between 1 and 90 degrees.";
inline constexpr const char* kAboutCaption = "About this Software";
extern const char* const kAboutText;

extern plat::OpenFileName sideFileDialog;
// The file title the file-open dialog hands back: MAX_PATH bytes.
inline constexpr std::size_t kFileTitleSize = 260;
extern char chosenFileTitle[kFileTitleSize];

std::intptr_t ConfigDialogProc(plat::Window dialog, std::uint32_t message, plat::WParam wParam,
                               plat::LParam lParam);
bool prepareConfigDialog(plat::Module instance);
void initSideFileDialog(plat::Window owner);
bool browseForSide(plat::Window owner, char* sideText);

// Leading white space, one sign, digits up to the first non-digit; no
// digits give 0. Text beyond the 32-bit range saturates, so it fails every
// range check instead of wrapping into one.
std::int32_t decimalValue(const char* text);
