// The configuration dialog, run by the host in configure mode with a
// scripted user at the keyboard.
#include "host_test_support.h"

#include "host/config_dialog.h"
#include "host/dialog_template.h"

namespace {

using hosttest::HostTest;
using hosttest::kInstance;

class ConfigDialogTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        headless::setCommandLine("\"saver/rovanta\" /c");
    }

    // Runs configure mode with `script` as the user; the dialog's end value.
    static std::int32_t runDialog(std::function<void(plat::Window)> script) {
        headless::setDialogScript(std::move(script));
        return hostMain(kInstance, "/c");
    }

    static std::vector<std::string> messageTexts() {
        std::vector<std::string> texts;
        for (const auto& box : headless::messageBoxes()) texts.push_back(box.text);
        return texts;
    }
};

TEST_F(ConfigDialogTest, DefaultsAreShownAndOkWritesThemAtOnce) {
    std::vector<std::string> shown;
    const std::int32_t result = runDialog([&](plat::Window) {
        for (int box : {1000, 1006, 1007, 1008, 1009, 1010, 1013, 1014, 1015})
            shown.push_back(headless::dialogItemText(box));
        headless::clickDialogButton(1);
    });
    EXPECT_EQ(result, 200);
    EXPECT_EQ(shown, (std::vector<std::string>{"#ff0000", "#00ff00", "#0000ff", "#ffffff",
                                               "#000000", "#f0f0ff", "1", "2", "5"}));
    EXPECT_TRUE(headless::messageBoxes().empty());
    const SaverSettings expected = defaultRecord();  // faceSize and centre 0
    EXPECT_EQ(readSettingsFile(), fileImage(expected));
}

TEST_F(ConfigDialogTest, AFileIsShownAsItStandsAndItsStoredFieldsKept) {
    SaverSettings s = defaultRecord();
    s.faceSize = 480;
    s.centerX = 512;
    s.centerY = 384;
    s.reduceFactor = -7;
    std::strcpy(s.sidePaths[2], "$NONE");
    writeSettingsFile(s);
    std::string reduce, side3;
    const std::int32_t result = runDialog([&](plat::Window) {
        reduce = headless::dialogItemText(1013);
        side3 = headless::dialogItemText(1007);
        headless::typeDialogItemText(1013, "3");
        headless::clickDialogButton(1);
    });
    EXPECT_EQ(result, 200);
    EXPECT_EQ(reduce, "-7");
    EXPECT_EQ(side3, "$NONE");
    const SaverSettings saved = settingsFromFile();
    EXPECT_EQ(saved.reduceFactor, 3);
    EXPECT_EQ(saved.faceSize, 480);
    EXPECT_EQ(saved.centerX, 512);
    EXPECT_EQ(saved.centerY, 384);
}

TEST_F(ConfigDialogTest, CancelLeavesTheFileAsItWas) {
    SaverSettings s = defaultRecord();
    s.faceSize = 123;
    writeSettingsFile(s);
    const std::vector<std::uint8_t> before = readSettingsFile();
    const std::int32_t result = runDialog([](plat::Window) {
        headless::typeDialogItemText(1000, "#123456");
        headless::typeDialogItemText(1013, "4");
        headless::setOpenFileAnswer("/pictures/cat.jpg");
        headless::clickDialogButton(1002);
        headless::clickDialogButton(2);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readSettingsFile(), before);

    // The close box is Cancel too.
    EXPECT_EQ(runDialog([](plat::Window) { headless::closeDialog(); }), 0);
    EXPECT_EQ(readSettingsFile(), before);
}

TEST_F(ConfigDialogTest, RangeMessagesComeOneAtATimeInOrder) {
    std::vector<std::vector<std::string>> afterEachOk;
    bool fileBeforeLast = true;
    const std::int32_t result = runDialog([&](plat::Window) {
        auto ok = [&] {
            headless::clickDialogButton(1);
            afterEachOk.push_back(messageTexts());
        };
        headless::typeDialogItemText(1007, "missing.jpg");
        headless::typeDialogItemText(1013, "0");
        headless::typeDialogItemText(1014, "11");
        headless::typeDialogItemText(1015, "91");
        ok();
        headless::typeDialogItemText(1007, "#0000ff");
        ok();
        headless::typeDialogItemText(1013, "10");
        ok();
        headless::typeDialogItemText(1014, "10");
        ok();
        fileBeforeLast = std::filesystem::exists(settingsFile());
        headless::typeDialogItemText(1015, "90");
        ok();
    });
    EXPECT_EQ(result, 200);
    EXPECT_FALSE(fileBeforeLast);
    const std::string image = "Image missing.jpg not found.";
    const std::string scale = "Sorry, the scale factor must be between 1 and 10.";
    const std::string speed = "Sorry, the rotation speed must be between 1 and 10.";
    const std::string turn =
        "Sorry, the maximum cube rotation must be set between 1 and 90 degrees.";
    ASSERT_EQ(afterEachOk.size(), 5u);
    EXPECT_EQ(afterEachOk[0], (std::vector<std::string>{image}));
    EXPECT_EQ(afterEachOk[1], (std::vector<std::string>{image, scale}));
    EXPECT_EQ(afterEachOk[2], (std::vector<std::string>{image, scale, speed}));
    EXPECT_EQ(afterEachOk[3], (std::vector<std::string>{image, scale, speed, turn}));
    EXPECT_EQ(afterEachOk[4], afterEachOk[3]);

    // Every box is owned by the dialog, the loader's included.
    for (const auto& box : headless::messageBoxes()) {
        EXPECT_NE(box.owner, 0u) << box.text;
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.type & 0xF0u, plat::MB_ICONERROR);
    }
    const SaverSettings saved = settingsFromFile();
    EXPECT_EQ(saved.reduceFactor, 10);
    EXPECT_EQ(saved.pointStep, 10);
    EXPECT_EQ(saved.maxRotationDegrees, 90);
}

TEST_F(ConfigDialogTest, NumberTexts) {
    struct Case {
        int box;
        const char* text;
        bool accepted;
        std::int32_t stored;
    };
    // The bounds 10, 10 and 90 and the values just past them are taken in
    // the range test above.
    const std::vector<Case> cases = {
        {1013, "1", true, 1},           {1015, "1", true, 1},
        {1015, "0", false, 0},          {1013, "-3", false, 0},
        {1013, "4294967297", false, 0}, {1015, "4294967386", false, 0},
        {1014, "-4294967294", false, 0}, {1013, "5x", true, 5},
        {1014, "  +7.9", true, 7},      {1015, "\t\n 45 degrees", true, 45},
        {1013, "", false, 0},           {1013, "abc", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.box) + " \"" + c.text + "\"");
        restart();
        std::filesystem::remove(settingsFile());
        headless::setDialogScript([&](plat::Window) {
            headless::typeDialogItemText(c.box, c.text);
            headless::clickDialogButton(1);
            if (!headless::messageBoxes().empty()) headless::clickDialogButton(2);
        });
        const std::int32_t result = hostMain(kInstance, "/c");
        EXPECT_EQ(result, c.accepted ? 200 : 0);
        EXPECT_EQ(std::filesystem::exists(settingsFile()), c.accepted);
        EXPECT_EQ(headless::messageBoxes().size(), c.accepted ? 0u : 1u);
        if (c.accepted) {
            const SaverSettings saved = settingsFromFile();
            const std::int32_t value = c.box == 1013   ? saved.reduceFactor
                                       : c.box == 1014 ? saved.pointStep
                                                       : saved.maxRotationDegrees;
            EXPECT_EQ(value, c.stored);
        }
    }
}

TEST_F(ConfigDialogTest, BrowseFillsTheBoxOfItsOwnSide) {
    const std::vector<std::pair<int, int>> pairs = {{1001, 1000}, {1002, 1006}, {1003, 1007},
                                                    {1004, 1008}, {1005, 1009}, {1011, 1010}};
    std::vector<std::vector<std::string>> boxesAfter;
    const std::int32_t result = runDialog([&](plat::Window) {
        for (const auto& [button, box] : pairs) {
            headless::setOpenFileAnswer("/pictures/side" + std::to_string(button) + ".jpg");
            headless::clickDialogButton(button);
            std::vector<std::string> boxes;
            for (const auto& pair : pairs) boxes.push_back(headless::dialogItemText(pair.second));
            boxesAfter.push_back(boxes);
        }
        headless::clickDialogButton(2);
    });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(boxesAfter.size(), pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i)
        for (std::size_t j = 0; j < pairs.size(); ++j)
            EXPECT_EQ(boxesAfter[i][j] == "/pictures/side" + std::to_string(pairs[j].first) + ".jpg",
                      j <= i)
                << "after button " << pairs[i].first << ", box " << pairs[j].second;

    const auto& dialogs = headless::openFileDialogs();
    ASSERT_EQ(dialogs.size(), 6u);
    EXPECT_EQ(dialogs[5].proposedFile, "#f0f0ff");
    for (const auto& d : dialogs) {
        EXPECT_EQ(d.ofn.structSize, 76u);
        EXPECT_NE(d.ofn.owner, 0u);
        EXPECT_EQ(d.ofn.flags, 0x2004u);
        EXPECT_EQ(d.ofn.maxFile, 260u);
        EXPECT_EQ(d.ofn.maxFileTitle, 260u);
        EXPECT_EQ(d.ofn.filterIndex, 0u);
        EXPECT_EQ(d.filter, (std::vector<std::string>{"JPG Files (*.jpg)", "*.jpg"}));
        EXPECT_EQ(d.defaultExtension, "jpg");
    }
}

TEST_F(ConfigDialogTest, CancelledBrowseRestoresTheStoredText) {
    std::string afterCancel, afterPick, afterFailedPick;
    runDialog([&](plat::Window) {
        headless::typeDialogItemText(1006, "something typed");
        headless::setOpenFileAnswer(std::nullopt);
        headless::clickDialogButton(1002);
        afterCancel = headless::dialogItemText(1006);
        headless::setOpenFileAnswer("/pictures/dog.jpg");
        headless::clickDialogButton(1002);
        afterPick = headless::dialogItemText(1006);
        headless::typeDialogItemText(1006, "typed again");
        headless::setOpenFileAnswer(std::nullopt);
        headless::clickDialogButton(1002);
        afterFailedPick = headless::dialogItemText(1006);
        headless::clickDialogButton(2);
    });
    EXPECT_EQ(afterCancel, "#00ff00");
    EXPECT_EQ(afterPick, "/pictures/dog.jpg");
    EXPECT_EQ(afterFailedPick, "/pictures/dog.jpg");
    ASSERT_EQ(headless::openFileDialogs().size(), 3u);
    EXPECT_EQ(headless::openFileDialogs()[0].proposedFile, "#00ff00");
    EXPECT_EQ(headless::openFileDialogs()[2].proposedFile, "/pictures/dog.jpg");
}

TEST_F(ConfigDialogTest, LongSideTextsAreCutTo259) {
    const std::string longText(300, 'a');
    runDialog([&](plat::Window) {
        headless::typeDialogItemText(1000, longText);
        headless::clickDialogButton(1);
        headless::clickDialogButton(2);
    });
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(headless::messageBoxes()[0].text.find("Image " + std::string(259, 'a') + " not"),
              0u);
    EXPECT_EQ(std::strlen(saverSettings.sidePaths[0]), 259u);
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(ConfigDialogTest, ASecondOkCannotStartInsideTheFirst) {
    int nestedBoxes = 0;
    headless::setMessageBoxHook([&](const headless::MessageBoxRecord& box) {
        if (box.text.rfind("Image ", 0) != 0) return;
        // The user gets at the dialog behind the box, if the platform lets them.
        headless::clickDialogButton(1);
        nestedBoxes = static_cast<int>(headless::messageBoxes().size()) - 1;
    });
    const std::int32_t result = runDialog([&](plat::Window) {
        headless::typeDialogItemText(1009, "missing.jpg");
        headless::clickDialogButton(1);
        headless::clickDialogButton(2);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(nestedBoxes, 0);
    EXPECT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(loaderMessageOwner, 0u);
}

TEST_F(ConfigDialogTest, ASaveFailureIsReportedWithThePathAndStillCloses) {
    useUnwritableSettingsFile("nowhere");
    EXPECT_EQ(runDialog([](plat::Window) { headless::clickDialogButton(1); }), 200);
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(headless::messageBoxes()[0].text,
              "Error writing configuration to nowhere/rovanta.cfg (ID_OK)");
    EXPECT_NE(headless::messageBoxes()[0].owner, 0u);

    // A path far longer than Windows allows is named whole.
    headless::reset();
    std::string longPath = "nowhere";
    while (longPath.size() < 3000) longPath += "/" + std::string(250, 'd');
    useSettingsFile(longPath + "/rovanta.cfg");
    EXPECT_EQ(runDialog([](plat::Window) { headless::clickDialogButton(1); }), 200);
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(headless::messageBoxes()[0].text,
              "Error writing configuration to " + longPath + "/rovanta.cfg (ID_OK)");
}

TEST_F(ConfigDialogTest, AboutShowsItsBoxAndTheDialogStays) {
    bool openAfter = false;
    runDialog([&](plat::Window dialog) {
        headless::clickDialogButton(1017);
        openAfter = headless::currentDialog() == dialog;
        headless::clickDialogButton(2);
    });
    EXPECT_TRUE(openAfter);
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    const auto& box = headless::messageBoxes()[0];
    EXPECT_EQ(box.caption, "About this Software");
    EXPECT_EQ(box.type & 0xF0u, plat::MB_ICONINFORMATION);
    EXPECT_EQ(box.text.rfind("Rovanta Version 1.2\n\n", 0), 0u);
    EXPECT_EQ(box.text.substr(box.text.size() - 2), "\n\n");
    EXPECT_NE(box.text.find("\nQuestions about this software?\nemail: "), std::string::npos);
}

TEST(DialogTemplate, EveryControlTheProcedureAddressesIsThereWithItsKind) {
    const auto kindOf = [](int id) {
        const DialogControl* c = findDialogControl(id);
        return c != nullptr ? static_cast<int>(c->kind) : -1;
    };
    EXPECT_EQ(configDialogTemplate.controls.size(), 35u);
    EXPECT_EQ(configDialogTemplate.controls[0].id, 1);  // first tab stop: OK
    EXPECT_EQ(kindOf(1), static_cast<int>(ControlKind::DefaultPushButton));
    EXPECT_EQ(kindOf(2), static_cast<int>(ControlKind::PushButton));
    EXPECT_EQ(kindOf(1017), static_cast<int>(ControlKind::PushButton));
    for (int id : kSideEditBoxes) EXPECT_EQ(kindOf(id), static_cast<int>(ControlKind::Edit));
    for (int id : kSideBrowseButtons)
        EXPECT_EQ(kindOf(id), static_cast<int>(ControlKind::PushButton));
    for (int id : {1013, 1014, 1015}) EXPECT_EQ(kindOf(id), static_cast<int>(ControlKind::Edit));
    // Ids other than -1 are unique, so an item text has one home.
    for (const DialogControl& a : configDialogTemplate.controls)
        if (a.id != -1) {
            EXPECT_EQ(findDialogControl(a.id), &a);
        }
}

}  // namespace
