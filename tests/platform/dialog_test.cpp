// The modal dialog, its item texts and the file-open dialog, driven by a small
// dialog procedure of the test's own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/dialog_template.h"
#include "platform/headless/headless.h"
#include "platform/core/linux_platform.h"
#include "platform/platform.h"

namespace {

constexpr int kTemplate = 2003;
constexpr int kEdit = 1000;      // an edit box of the template
constexpr int kNumberBox = 1013;

std::vector<std::pair<std::uint32_t, plat::WParam>> dialogLog;

std::intptr_t testDialogProc(plat::Window dialog, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
    dialogLog.emplace_back(m, wp);
    if (m == plat::WM_INITDIALOG) {
        plat::SetDlgItemTextA(dialog, kNumberBox, std::to_string(lp).c_str());
        return 1;
    }
    if (m == plat::WM_COMMAND) {
        int id = static_cast<int>(wp & 0xFFFF);
        if ((wp >> 16) != 0) return 0;  // notifications
        if (id == plat::IDOK) {
            char text[16];
            plat::GetDlgItemTextA(dialog, kNumberBox, text, sizeof text);
            plat::EndDialog(dialog, std::atoi(text) * 2);
            return 1;
        }
        if (id == plat::IDCANCEL) {
            plat::EndDialog(dialog, 0);
            return 1;
        }
    }
    return 0;
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        // The program's dialog table, registered as the program's main does.
        plat::linuxRegisterDialog(kTemplate, configDialogTemplate);
        dialogLog.clear();
    }
    static int countOf(std::uint32_t message, plat::WParam wParam) {
        int n = 0;
        for (auto& [m, w] : dialogLog) n += (m == message && w == wParam);
        return n;
    }
};

TEST_F(Dialog, RunsModallyFromInitToEndDialogWithItemTextsAndReturnsTheEndValue) {
    headless::setDialogScript([](plat::Window dialog) {
        EXPECT_EQ(headless::currentDialog(), dialog);
        EXPECT_EQ(headless::dialogItemText(kNumberBox), "21");  // set from the creation parameter
        EXPECT_EQ(headless::dialogItemText(plat::IDOK), "OK");  // caption from the template
        headless::typeDialogItemText(kNumberBox, "50");
        headless::clickDialogButton(plat::IDOK);
    });
    EXPECT_EQ(plat::DialogBoxParamA(0, kTemplate, 0, testDialogProc, 21), 100);
    ASSERT_FALSE(dialogLog.empty());
    EXPECT_EQ(dialogLog.front().first, plat::WM_INITDIALOG);
    EXPECT_EQ(dialogLog.back().first, plat::WM_DESTROY);
    // The edit box reported both changes, set by program and typed, with its id.
    EXPECT_EQ(countOf(plat::WM_COMMAND, (0x0300u << 16) | kNumberBox), 2);
    EXPECT_EQ(headless::currentDialog(), 0u);
}

TEST_F(Dialog, TheCloseBoxMeansCancelAndLaterTimelineInputStillReachesTheDialog) {
    headless::setDialogScript([](plat::Window) {
        headless::after(500, [] { headless::closeDialog(); });
    });
    EXPECT_EQ(plat::DialogBoxParamA(0, kTemplate, 0, testDialogProc, 1), 0);
    EXPECT_EQ(countOf(plat::WM_COMMAND, plat::IDCANCEL), 1);
    EXPECT_EQ(headless::now(), 500u);
}

TEST_F(Dialog, ADialogNobodyEndsAndAnUnknownTemplateFail) {
    EXPECT_EQ(plat::DialogBoxParamA(0, kTemplate, 0, testDialogProc, 1), -1);
    EXPECT_EQ(dialogLog.back().first, plat::WM_DESTROY);
    dialogLog.clear();
    EXPECT_EQ(plat::DialogBoxParamA(0, 2004, 0, testDialogProc, 1), -1);
    EXPECT_TRUE(dialogLog.empty());
}

TEST_F(Dialog, GetDlgItemTextCutsToTheBufferAndAlwaysTerminates) {
    headless::setDialogScript([](plat::Window dialog) {
        std::string longText(300, 'x');
        longText[258] = 'L';
        longText[259] = 'N';
        ASSERT_TRUE(plat::SetDlgItemTextA(dialog, kEdit, longText.c_str()));
        char buffer[260];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(plat::GetDlgItemTextA(dialog, kEdit, buffer, 260), 259u);
        EXPECT_EQ(buffer[258], 'L');
        EXPECT_EQ(buffer[259], '\0');
        EXPECT_EQ(std::strlen(buffer), 259u);

        char one[1] = {'#'};
        EXPECT_EQ(plat::GetDlgItemTextA(dialog, kEdit, one, 1), 0u);
        EXPECT_EQ(one[0], '\0');
        char none[1] = {'#'};
        EXPECT_EQ(plat::GetDlgItemTextA(dialog, kEdit, none, 0), 0u);
        EXPECT_EQ(none[0], '#');  // nothing may be written to a zero-sized buffer

        char small[8] = "garbage";
        EXPECT_EQ(plat::GetDlgItemTextA(dialog, 4242, small, 8), 0u);  // no such control
        EXPECT_STREQ(small, "");
        EXPECT_FALSE(plat::SetDlgItemTextA(dialog, 4242, "x"));
        headless::clickDialogButton(plat::IDCANCEL);
    });
    EXPECT_EQ(plat::DialogBoxParamA(0, kTemplate, 0, testDialogProc, 1), 0);
}

struct FileDialogFixture : Dialog {
    char file[260] = "#ff0000";
    char title[260] = "";
    plat::OpenFileName ofn{};
    void SetUp() override {
        Dialog::SetUp();
        ofn.structSize = 76;
        ofn.filter = "JPG Files (*.jpg)\0*.jpg\0";
        ofn.file = file;
        ofn.maxFile = sizeof file;
        ofn.fileTitle = title;
        ofn.maxFileTitle = sizeof title;
        ofn.defaultExtension = "jpg";
        ofn.flags = plat::OFN_CREATEPROMPT | plat::OFN_HIDEREADONLY;
    }
};

TEST_F(FileDialogFixture, AChosenNameGetsTheDefaultExtensionOffsetsAndTitle) {
    headless::setOpenFileAnswer("/home/u/pictures/cat");
    ASSERT_TRUE(plat::GetOpenFileNameA(&ofn));
    EXPECT_STREQ(file, "/home/u/pictures/cat.jpg");
    EXPECT_STREQ(title, "cat.jpg");
    EXPECT_EQ(ofn.fileOffset, 17);
    EXPECT_EQ(ofn.fileExtension, 21);
    // The record's filter and flags are checked where the dialog's Browse fills them.
    ASSERT_EQ(headless::openFileDialogs().size(), 1u);
    EXPECT_EQ(headless::openFileDialogs()[0].proposedFile, "#ff0000");

    // A dot in a directory is no extension of the file.
    headless::setOpenFileAnswer("/a.b/c");
    ASSERT_TRUE(plat::GetOpenFileNameA(&ofn));
    EXPECT_STREQ(file, "/a.b/c.jpg");
}

TEST_F(FileDialogFixture, CancelAndAPathTooLongForTheBufferLeaveTheBufferAlone) {
    headless::setOpenFileAnswer(std::nullopt);
    EXPECT_FALSE(plat::GetOpenFileNameA(&ofn));
    EXPECT_STREQ(file, "#ff0000");
    headless::setOpenFileAnswer("/" + std::string(300, 'p') + ".jpg");
    EXPECT_FALSE(plat::GetOpenFileNameA(&ofn));
    EXPECT_STREQ(file, "#ff0000");
    ofn.structSize = 60;  // not a record this platform knows
    headless::setOpenFileAnswer("/x.jpg");
    EXPECT_FALSE(plat::GetOpenFileNameA(&ofn));
}

}  // namespace
