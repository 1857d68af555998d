#include "host/config_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "loader/side_loader.h"
#include "render/side_table.h"

plat::OpenFileName sideFileDialog;
char chosenFileTitle[kFileTitleSize];

const char* const kAboutText =
    "Rovanta Version 1.2\n"
    "\n"
    "Made by the Rovanta developers\n"
    "\n"
    "Questions about this software?\n"
    "email: hello@rovanta.example\n"
    "\n"
    "Come and see what else we make on our web site:\n"
    "\n"
    "https://rovanta.example/\n"
    "\n";

namespace {

constexpr std::size_t kWorkTextSize = 260;

// Set while an OK runs, so that a second OK arriving through a modal loop
// inside the first is ignored rather than nested.
bool okRunning = false;

void showError(plat::Window dialog, const char* text) {
    plat::MessageBoxA(dialog, text, "Error", plat::MB_OK | plat::MB_ICONERROR);
}

void putNumber(plat::Window dialog, int box, std::int32_t value) {
    char work[kWorkTextSize];
    std::snprintf(work, sizeof work, "%d", static_cast<int>(value));
    plat::SetDlgItemTextA(dialog, box, work);
}

// Reads one number box into its field; false (after the message) when it is
// out of range.
bool readNumber(plat::Window dialog, int box, std::int32_t& field, std::int32_t low,
                std::int32_t high, const char* rangeText) {
    char work[kWorkTextSize] = {};
    plat::GetDlgItemTextA(dialog, box, work, static_cast<int>(sizeof work));
    field = decimalValue(work);
    if (field < low || field > high) {
        showError(dialog, rangeText);
        return false;
    }
    return true;
}

void runOk(plat::Window dialog) {
    for (std::size_t i = 0; i < kSideCount; ++i)
        plat::GetDlgItemTextA(dialog, kSideEditBoxes[i], saverSettings.sidePaths[i],
                              static_cast<int>(kSideTextSize));
    freeSidePixels();

    loaderMessageOwner = dialog;
    const std::int32_t r = loadAllSides(sideText(0), sideText(1), sideText(2), sideText(3),
                                        sideText(4), sideText(5));
    loaderMessageOwner = 0;
    if (r == 0) return;

    if (!readNumber(dialog, kReduceFactorBox, saverSettings.reduceFactor, kMinReduceFactor,
                    kMaxReduceFactor, kReduceFactorRangeText))
        return;
    if (!readNumber(dialog, kPointStepBox, saverSettings.pointStep, kMinPointStep, kMaxPointStep,
                    kPointStepRangeText))
        return;
    if (!readNumber(dialog, kMaxRotationBox, saverSettings.maxRotationDegrees,
                    kMinRotationDegrees, kMaxRotationDegrees, kMaxRotationRangeText))
        return;

    if (!saveSettings()) {
        // Room for the longest path the platform allows: the message names it whole.
        static constexpr char kFormat[] = "Error writing configuration to %s (ID_OK)";
        char work[sizeof kFormat + sizeof settingsPath];
        const int needed = std::snprintf(work, sizeof work, kFormat, settingsPath);
        if (needed < 0) work[0] = '\0';
        showError(dialog, work);
    }
    plat::EndDialog(dialog, r);
}

void initDialog(plat::Window dialog) {
    initSideFileDialog(dialog);
    plat::InitCommonControls();
    chosenFileTitle[0] = '\0';
    // The command line stays as it is for the whole process, so the path
    // built here serves every later OK.
    buildSettingsPath();
    loadSettings();
    for (std::size_t i = 0; i < kSideCount; ++i)
        plat::SetDlgItemTextA(dialog, kSideEditBoxes[i], sideText(i));
    putNumber(dialog, kReduceFactorBox, saverSettings.reduceFactor);
    putNumber(dialog, kPointStepBox, saverSettings.pointStep);
    putNumber(dialog, kMaxRotationBox, saverSettings.maxRotationDegrees);
}

int browseSideOf(int commandId) {
    for (std::size_t i = 0; i < kSideCount; ++i)
        if (kSideBrowseButtons[i] == commandId) return static_cast<int>(i);
    return -1;
}

}  // namespace

std::int32_t decimalValue(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

bool prepareConfigDialog(plat::Module) { return true; }

void initSideFileDialog(plat::Window owner) {
    sideFileDialog = plat::OpenFileName{};
    sideFileDialog.structSize = kOpenFileNameSize;
    sideFileDialog.owner = owner;
    sideFileDialog.filter = "JPG Files (*.jpg)\0*.jpg\0";
    sideFileDialog.maxFile = static_cast<std::uint32_t>(kSideTextSize);
    sideFileDialog.maxFileTitle = static_cast<std::uint32_t>(sizeof chosenFileTitle);
    sideFileDialog.defaultExtension = "jpg";
}

bool browseForSide(plat::Window owner, char* sideText) {
    // A side text from the file may fill its field without a terminator; the
    // file-open dialog must not read past the field.
    sideText[kSideTextSize - 1] = '\0';
    sideFileDialog.owner = owner;
    sideFileDialog.file = sideText;
    sideFileDialog.fileTitle = chosenFileTitle;
    sideFileDialog.flags = plat::OFN_CREATEPROMPT | plat::OFN_HIDEREADONLY;
    return plat::GetOpenFileNameA(&sideFileDialog);
}

std::intptr_t ConfigDialogProc(plat::Window dialog, std::uint32_t message, plat::WParam wParam,
                               plat::LParam) {
    if (message == plat::WM_INITDIALOG) {
        initDialog(dialog);
        return 1;
    }
    if (message != plat::WM_COMMAND) return 0;

    const int command = static_cast<int>(wParam & 0xFFFFu);
    if (command == kOkId) {
        if (!okRunning) {
            okRunning = true;
            runOk(dialog);
            okRunning = false;
        }
        return 1;
    }
    if (command == kCancelId) {
        plat::EndDialog(dialog, 0);
        return 1;
    }
    if (command == kAboutId) {
        plat::MessageBoxA(dialog, kAboutText, kAboutCaption,
                          plat::MB_OK | plat::MB_ICONINFORMATION);
        return 0;
    }
    const int side = browseSideOf(command);
    if (side >= 0) {
        browseForSide(dialog, saverSettings.sidePaths[side]);
        plat::SetDlgItemTextA(dialog, kSideEditBoxes[static_cast<std::size_t>(side)],
                              sideText(static_cast<std::size_t>(side)));
        return 1;
    }
    return 0;
}
