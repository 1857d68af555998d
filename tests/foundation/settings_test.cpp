// The settings record, its path rule, and loading and saving its file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "jpeg_fixtures.h"
#include "platform/headless/headless.h"
#include "settings/settings.h"

namespace {

std::vector<std::uint8_t> recordBytes() {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&saverSettings);
    return {p, p + sizeof saverSettings};
}

void putLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A record whose every byte is known: numbers and six distinct texts.
void fillRecord(char tag) {
    std::memset(&saverSettings, 0, sizeof saverSettings);
    saverSettings.faceSize = 200;
    saverSettings.pointStep = tag == 'A' ? 3 : 7;
    saverSettings.reduceFactor = 2;
    saverSettings.centerX = 512;
    saverSettings.centerY = 384;
    saverSettings.maxRotationDegrees = 45;
    for (std::size_t i = 0; i < kSideCount; ++i) {
        std::memset(saverSettings.sidePaths[i], tag, kSideTextSize - 1);
        saverSettings.sidePaths[i][kSideTextSize - 1] = '\0';
    }
}

// The fixed defaults, with the fields worked out at start-up as given.
void expectDefaults(std::int32_t faceSize, std::int32_t centerX, std::int32_t centerY) {
    EXPECT_EQ(saverSettings.reduceFactor, 1);
    EXPECT_EQ(saverSettings.pointStep, 2);
    EXPECT_EQ(saverSettings.maxRotationDegrees, 5);
    EXPECT_EQ(saverSettings.faceSize, faceSize);
    EXPECT_EQ(saverSettings.centerX, centerX);
    EXPECT_EQ(saverSettings.centerY, centerY);
    const char* sides[kSideCount] = {"#ff0000", "#00ff00", "#0000ff",
                                     "#ffffff", "#000000", "#f0f0ff"};
    for (std::size_t i = 0; i < kSideCount; ++i) EXPECT_STREQ(saverSettings.sidePaths[i], sides[i]);
}

void setPath(const std::string& path) {
    std::snprintf(settingsPath, sizeof settingsPath, "%s", path.c_str());
}

// Runs `body` in a child process: its exit code, or -1 when it did not end by
// itself within ten seconds (it is killed then) or ended by a signal.
int exitCodeInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) _exit(body());
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0; waited < 1000 && (ended = waitpid(child, &status, WNOHANG)) == 0; ++waited)
        usleep(10000);
    if (ended != child) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The Windows program's settingsPath holds MAX_PATH bytes.
constexpr std::size_t kWindowsPathSize = 260;

std::string pathFor(const char* commandLine, char separator,
                    std::size_t outSize = kWindowsPathSize) {
    std::vector<char> out(outSize + 16, '#');
    settingsPathFromCommandLine(commandLine, separator, out.data(), outSize);
    // Nothing past the buffer the rule was given may change.
    for (std::size_t i = outSize; i < out.size(); ++i)
        if (out[i] != '#') ADD_FAILURE() << "wrote past the buffer at " << i;
    return std::string(out.data());
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        std::memset(&saverSettings, 0, sizeof saverSettings);
        setPath(dir.file("rovanta.cfg"));
    }
    TempDir dir;
};

// ---- Layout and defaults ------------------------------------------------------

TEST(SettingsRecord, FileImageIsLittleEndianFieldsThenSixTexts) {
    std::vector<std::uint8_t> image(kSettingsFileSize, 0);
    const std::uint32_t numbers[6] = {0x11223344u, 2, 0xFFFFFFFFu, 640, 480, 90};
    for (int i = 0; i < 6; ++i) putLe32(image, 4 * i, numbers[i]);
    for (std::size_t side = 0; side < kSideCount; ++side)
        image[24 + side * 260] = static_cast<std::uint8_t>('a' + side);

    loadSettingsFromBytes(image.data(), image.size());
    EXPECT_EQ(saverSettings.faceSize, 0x11223344);
    EXPECT_EQ(saverSettings.pointStep, 2);
    EXPECT_EQ(saverSettings.reduceFactor, -1);
    EXPECT_EQ(saverSettings.centerX, 640);
    EXPECT_EQ(saverSettings.centerY, 480);
    EXPECT_EQ(saverSettings.maxRotationDegrees, 90);
    for (std::size_t side = 0; side < kSideCount; ++side)
        EXPECT_EQ(std::string(sideText(side)), std::string(1, static_cast<char>('a' + side)));
    EXPECT_EQ(recordBytes(), image);
}

TEST(SettingsRecord, DefaultsLeaveComputedFieldsAndFieldTailsAlone) {
    std::memset(&saverSettings, 'x', sizeof saverSettings);
    saverSettings.faceSize = 321;
    saverSettings.centerX = 17;
    saverSettings.centerY = 18;
    setDefaultSettings();

    expectDefaults(321, 17, 18);
    for (std::size_t i = 0; i < kSideCount; ++i) {
        EXPECT_EQ(saverSettings.sidePaths[i][8], 'x') << "side " << i;
        EXPECT_EQ(saverSettings.sidePaths[i][259], 'x') << "side " << i;
    }
}

TEST(SettingsRecord, RendererNeverSeesStepOrDivisorBelowOne) {
    saverSettings.pointStep = 0;
    saverSettings.reduceFactor = -7;
    EXPECT_EQ(renderPointStep(), 1);
    EXPECT_EQ(renderReduceFactor(), 1);
    saverSettings.pointStep = 4;
    saverSettings.reduceFactor = 10;
    EXPECT_EQ(renderPointStep(), 4);
    EXPECT_EQ(renderReduceFactor(), 10);
    saverSettings.pointStep = INT32_MIN;
    EXPECT_EQ(renderPointStep(), 1);
}

TEST(SettingsRecord, SideTextWithoutTerminatorStaysInsideItsField) {
    std::vector<std::uint8_t> image(kSettingsFileSize, 'A');
    loadSettingsFromBytes(image.data(), image.size());
    for (std::size_t side = 0; side < kSideCount; ++side) {
        EXPECT_EQ(std::strlen(sideText(side)), 259u);
        EXPECT_EQ(saverSettings.sidePaths[side][259], '\0');
    }
    // Written straight into the record, past the load: still bounded.
    std::memset(saverSettings.sidePaths, 'B', sizeof saverSettings.sidePaths);
    EXPECT_EQ(std::string(sideText(5)), std::string(259, 'B'));
    EXPECT_STREQ(sideText(6), "");
}

// ---- Path rule ------------------------------------------------------------------

struct PathCase {
    const char* commandLine;
    char separator;
    const char* expected;
};

class SettingsPathRule : public ::testing::TestWithParam<PathCase> {};

TEST_P(SettingsPathRule, GivesTheFirstDirectoryBelowTheRoot) {
    EXPECT_EQ(pathFor(GetParam().commandLine, GetParam().separator), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsPathRule,
    ::testing::Values(
        // The examples every implementation must meet.
        PathCase{"\"C:\\WINDOWS\\SAVER.SCR\" /s", '\\', "C:\\WINDOWS\\rovanta.cfg"},
        PathCase{"C:\\WINDOWS\\SYSTEM32\\SAVER.SCR /p 1234", '\\', "C:\\WINDOWS\\rovanta.cfg"},
        PathCase{"\"D:\\Program Files\\Savers\\SAVER.SCR\" /c", '\\', "D:\\Program Files\\rovanta.cfg"},
        PathCase{"SAVER.SCR /s", '\\', "\\rovanta.cfg"},
        // Arguments after a quoted program path never count.
        PathCase{"\"C:\\SAVER.SCR\" /c:C:\\a\\b", '\\', "C:\\rovanta.cfg"},
        // Exactly one separator: the program's own directory.
        PathCase{"C:\\SAVER.SCR /s", '\\', "C:\\rovanta.cfg"},
        PathCase{"Savers\\SAVER.SCR", '\\', "Savers\\rovanta.cfg"},
        PathCase{"", '\\', "\\rovanta.cfg"},
        PathCase{"\"", '\\', "\\rovanta.cfg"},
        // Linux: the platform hands over the real path, quoted when it holds a space.
        PathCase{"/usr/lib/rovanta/rovanta -s", '/', "/usr/rovanta.cfg"},
        PathCase{"\"/opt/my savers/bin/rovanta\" -c", '/', "/opt/rovanta.cfg"},
        PathCase{"/rovanta", '/', "/rovanta.cfg"},
        PathCase{"/home/rovanta", '/', "/home/rovanta.cfg"}));

TEST(SettingsPath, APathThatDoesNotFitIsNotUsedAtAll) {
    // Long arguments do not matter at all.
    std::string longArgs = "C:\\WINDOWS\\SAVER.SCR /s " + std::string(100000, 'x');
    EXPECT_EQ(pathFor(longArgs.c_str(), '\\'), "C:\\WINDOWS\\rovanta.cfg");

    // The program as r.scr in a folder of 244, 245, 246 characters: the
    // settings path has 259 characters (fits), 260 and 261 (do not fit). Cut
    // to 259 the longer ones would name "...\\rovanta.c", someone else's file.
    const auto programIn = [](std::size_t folderLength) {
        return "\"C:\\" + std::string(folderLength, 'd') + "\\r.scr\" /s";
    };
    EXPECT_EQ(pathFor(programIn(244).c_str(), '\\'),
              "C:\\" + std::string(244, 'd') + "\\rovanta.cfg");
    EXPECT_EQ(pathFor(programIn(245).c_str(), '\\'), "");
    EXPECT_EQ(pathFor(programIn(246).c_str(), '\\'), "");
    char out[kWindowsPathSize] = "x";
    EXPECT_FALSE(settingsPathFromCommandLine(programIn(246).c_str(), '\\', out, sizeof out));

    EXPECT_EQ(pathFor("C:\\WINDOWS\\SAVER.SCR", '\\', 5), "");
    EXPECT_EQ(pathFor("C:\\WINDOWS\\SAVER.SCR", '\\', 1), "");
    EXPECT_EQ(pathFor(nullptr, '/'), "/rovanta.cfg");
}

// With no home folder in the environment the settings never go by the
// program's path (under /tmp that is a folder every user writes): the
// password database names the home folder, and a user it does not know has
// no settings file at all.
TEST(SettingsPath, WithoutAHomeInTheEnvironmentThePasswordDatabaseElseNoSave) {
    headless::reset();
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    unsetenv("ROVANTA_CONFIG");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    headless::setCommandLine("/tmp/rovanta /s");
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    const std::string expected = std::string(user->pw_dir) + "/.config/rovanta/rovanta.cfg";
    buildSettingsPath();
    EXPECT_EQ(std::string(settingsPath), expected);
    buildSettingsPath();
    EXPECT_EQ(std::string(settingsPath), expected) << "the same every time";

    if (geteuid() == 0) {
        // A user the password database does not know, in a child process.
        uid_t stranger = 61000;
        while (getpwuid(stranger) != nullptr) ++stranger;
        EXPECT_EQ(exitCodeInChild([stranger] {
                      if (setuid(stranger) != 0) return 100;
                      buildSettingsPath();
                      if (settingsPath[0] != '\0') return 1;
                      std::memset(&saverSettings, 0, sizeof saverSettings);
                      loadSettings();
                      return saveSettings() ? 2 : saverSettings.pointStep == 2 ? 0 : 3;
                  }),
                  0)
            << "1: a path was named, 2: the save went somewhere, 3: no defaults";
    } else {
        std::printf("an unknown user's case needs root: not run\n");
    }
    if (oldHome != nullptr) setenv("HOME", savedHome.c_str(), 1);
}

// ---- Load and save --------------------------------------------------------------

TEST_F(SettingsTest, MissingFileGivesDefaultsAndLeavesComputedFieldsZero) {
    loadSettings();
    expectDefaults(0, 0, 0);
}

TEST_F(SettingsTest, LongFileReadsOnlyItsFirst1584BytesAndTheNextSaveCutsIt) {
    fillRecord('A');
    std::vector<std::uint8_t> bytes = recordBytes();
    bytes.resize(2000, 'Z');
    writeFile(settingsPath, bytes);

    std::memset(&saverSettings, 0, sizeof saverSettings);
    loadSettings();
    EXPECT_EQ(recordBytes(), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 1584));
    ASSERT_TRUE(saveSettings());
    EXPECT_EQ(readFile(settingsPath).size(), 1584u);
}

TEST_F(SettingsTest, ShortFileReplacesOnlyTheLeadingBytes) {
    fillRecord('A');
    const auto before = recordBytes();
    std::vector<std::uint8_t> shortFile(10, 0);
    putLe32(shortFile, 0, 99);
    putLe32(shortFile, 4, 4);
    writeFile(settingsPath, shortFile);

    loadSettings();
    auto expected = before;
    std::copy(shortFile.begin(), shortFile.end(), expected.begin());
    EXPECT_EQ(recordBytes(), expected);
    EXPECT_EQ(saverSettings.faceSize, 99);
    EXPECT_EQ(saverSettings.pointStep, 4);

    // An empty file changes nothing and brings no defaults.
    writeFile(settingsPath, {});
    loadSettings();
    EXPECT_EQ(recordBytes(), expected);
}

// A new file gets the mode of a plain create; a later save replaces it whole
// with the mode the user gave it, and loading it back gives every byte.
TEST_F(SettingsTest, SaveThenLoadRoundTripsAndKeepsTheFilesMode) {
    const mode_t oldMask = umask(022);
    fillRecord('A');
    const bool created = saveSettings();
    umask(oldMask);
    ASSERT_TRUE(created);
    struct stat before {};
    ASSERT_EQ(stat(settingsPath, &before), 0);
    EXPECT_EQ(before.st_mode & 07777, 0644u);
    const auto saved = recordBytes();
    EXPECT_EQ(readFile(settingsPath), saved);
    std::memset(&saverSettings, 0, sizeof saverSettings);
    loadSettings();
    EXPECT_EQ(recordBytes(), saved);

    ASSERT_EQ(chmod(settingsPath, 0640), 0);
    fillRecord('B');
    ASSERT_TRUE(saveSettings());
    struct stat after {};
    ASSERT_EQ(stat(settingsPath, &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino) << "expected the save to replace the file";
    EXPECT_EQ(readFile(settingsPath), recordBytes());

    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
        ++entries;
        EXPECT_EQ(entry.path().filename(), "rovanta.cfg");
    }
    EXPECT_EQ(entries, 1);
}

// As dotfile managers keep it: the file elsewhere, a link relative to its own
// folder in its place. The save replaces the file the link names, whole.
TEST_F(SettingsTest, SymbolicLinkAndSecondNameStillSeeTheSave) {
    for (const char* folder : {"saver", "dotfiles"})
        ASSERT_EQ(mkdir(dir.file(folder).c_str(), 0700), 0);
    const std::string target = dir.file("dotfiles/rovanta.cfg");
    writeFile(target, std::vector<std::uint8_t>(1584, 0));
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(stat(target.c_str(), &before), 0);
    setPath(dir.file("saver/rovanta.cfg"));
    ASSERT_EQ(symlink("../dotfiles/rovanta.cfg", settingsPath), 0);
    fillRecord('A');
    ASSERT_TRUE(saveSettings());
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath));
    EXPECT_EQ(std::filesystem::read_symlink(settingsPath), "../dotfiles/rovanta.cfg");
    EXPECT_EQ(readFile(target), recordBytes());
    // A new file took the old one's place: a kill during the write could
    // only have left the old record, never a cut one.
    struct stat after {};
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    for (const char* folder : {"saver", "dotfiles"})
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file(folder)),
                                std::filesystem::directory_iterator()), 1) << folder;

    const std::string linked = dir.file("linked.cfg");
    ASSERT_EQ(unlink(settingsPath), 0);
    writeFile(settingsPath, std::vector<std::uint8_t>(1584, 0));
    ASSERT_EQ(link(settingsPath, linked.c_str()), 0);
    fillRecord('B');
    ASSERT_TRUE(saveSettings());
    EXPECT_EQ(readFile(linked), recordBytes());
}

TEST_F(SettingsTest, WriteFailureAfterOpenIsReportedAndNeverCutsTheOldFile) {
    // A file size limit below the record's size: every open works, every
    // write of the whole record fails (with SIGXFSZ, which must not kill us).
    fillRecord('A');
    const auto oldRecord = recordBytes();
    ASSERT_TRUE(saveSettings());
    fillRecord('B');
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1000;
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool replaced = saveSettings();
    // A second name: the file is overwritten where it is, and the write
    // stops at the limit.
    const std::string second = dir.file("second.cfg");
    const bool linked = link(settingsPath, second.c_str()) == 0;
    const bool overwritten = saveSettings();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);

    EXPECT_FALSE(replaced);
    ASSERT_TRUE(linked);
    EXPECT_FALSE(overwritten);
    const auto left = readFile(settingsPath);
    ASSERT_EQ(left.size(), oldRecord.size()) << "the old file was cut";
    EXPECT_TRUE(std::equal(left.begin() + 1000, left.end(), oldRecord.begin() + 1000));
}

TEST_F(SettingsTest, FullFileSystemFailsTheSaveAndLeavesTheOldFile) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    fillRecord('A');
    const auto oldRecord = recordBytes();
    fillRecord('B');
    const auto newRecord = recordBytes();
    // In a mount namespace of its own, so the mount goes with the child.
    const int code = exitCodeInChild([&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0)
            return 77;
        if (!writeFile(settingsPath, oldRecord)) return 78;
        const int filler = open(dir.file("filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::vector<char> block(4096, 'F');
        while (write(filler, block.data(), block.size()) > 0) {}
        if (errno != ENOSPC) return 78;
        if (saveSettings()) return 1;
        if (readFile(settingsPath) != oldRecord) return 2;
        // With a second name the file is overwritten in place, which needs
        // no block it does not have.
        if (link(settingsPath, dir.file("second.cfg").c_str()) != 0) return 78;
        if (!saveSettings()) return 3;
        return readFile(dir.file("second.cfg")) != newRecord ? 4 : 0;
    });
    if (code == 77) GTEST_SKIP() << "no tmpfs can be mounted here";
    switch (code) {
        case 0: break;
        case 1: ADD_FAILURE() << "a save on a full file system reported success"; break;
        case 2: ADD_FAILURE() << "a failed save changed the old file"; break;
        case 3: ADD_FAILURE() << "the in-place write failed on a full file system"; break;
        case 4: ADD_FAILURE() << "the in-place write did not write the record"; break;
        case -1: ADD_FAILURE() << "the child hung or ended by a signal"; break;
        default: ADD_FAILURE() << "could not fill the file system"; break;
    }
}

TEST_F(SettingsTest, DirectoryThatCannotHoldFilesFailsTheSave) {
    // A regular file where the directory should be: no user may create there.
    const std::string notADirectory = dir.file("plain");
    writeFile(notADirectory, {1});
    setPath(notADirectory + "/rovanta.cfg");
    fillRecord('A');
    EXPECT_FALSE(saveSettings());
    EXPECT_EQ(readFile(notADirectory), std::vector<std::uint8_t>{1});

    setPath(dir.path);  // a directory in place of the file
    EXPECT_FALSE(saveSettings());
}

// Saves as an ordinary user (in a child process when we are root, since root
// passes every permission check): 1 when the save works, 0 when it fails, -1
// when no ordinary user is available.
int saveWithoutPrivileges() {
    if (geteuid() != 0) return saveSettings() ? 1 : 0;
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) return -1;
    const int code = exitCodeInChild([nobody] {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return 100;
        return saveSettings() ? 1 : 0;
    });
    return code == 100 ? -1 : code;
}

TEST_F(SettingsTest, ReadOnlyFileOrDirectoryBehavesLikeThePlainWrite) {
    ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
    fillRecord('A');
    const auto oldRecord = recordBytes();
    ASSERT_TRUE(saveSettings());
    // The file belongs to the user who saves: only its mode stands in the way.
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) GTEST_SKIP() << "no ordinary user to save as";
        ASSERT_EQ(chown(settingsPath, nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(chmod(settingsPath, 0444), 0);
    fillRecord('B');
    const auto newRecord = recordBytes();

    // A read-only file fails the save and is left untouched.
    const int readOnlyFile = saveWithoutPrivileges();
    if (readOnlyFile < 0) GTEST_SKIP() << "permissions are not enforced for this user";
    EXPECT_EQ(readOnlyFile, 0);
    EXPECT_EQ(readFile(settingsPath), oldRecord);

    // A writable file in a read-only directory: the temporary file cannot be
    // made, the in-place write still works.
    ASSERT_EQ(chmod(settingsPath, 0666), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);
    EXPECT_EQ(saveWithoutPrivileges(), 1);
    EXPECT_EQ(readFile(settingsPath), newRecord);

    // No file in a read-only directory: nothing can be created.
    ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
    ASSERT_EQ(unlink(settingsPath), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);
    EXPECT_EQ(saveWithoutPrivileges(), 0);
    EXPECT_NE(access(settingsPath, F_OK), 0);
    chmod(dir.path.c_str(), 0700);
}

// A folder someone else can write (sticky like /tmp, or not): what lies
// there under the settings file's name may be planted, and the save must not
// reach any other file through it.
TEST_F(SettingsTest, FolderOthersCanWriteNeverLeadsTheSaveIntoAnotherFile) {
    const std::string victim = dir.file("victim");
    const std::vector<std::uint8_t> victimBytes(100, 'V');
    const std::string shared = dir.file("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    setPath(shared + "/rovanta.cfg");
    fillRecord('A');
    const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    for (const mode_t mode : {01777, 0777}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(chmod(shared.c_str(), mode), 0);
        ASSERT_TRUE(writeFile(victim, victimBytes));

        ASSERT_EQ(symlink(victim.c_str(), settingsPath), 0);
        EXPECT_FALSE(saveSettings()) << "a link was followed";
        EXPECT_EQ(readFile(victim), victimBytes);
        EXPECT_TRUE(std::filesystem::is_symlink(settingsPath));
        ASSERT_EQ(unlink(settingsPath), 0);

        // A second name of the victim is parted from it, not written through.
        ASSERT_EQ(link(victim.c_str(), settingsPath), 0);
        EXPECT_TRUE(saveSettings());
        EXPECT_EQ(readFile(victim), victimBytes);
        EXPECT_EQ(readFile(settingsPath), recordBytes());
        ASSERT_EQ(unlink(settingsPath), 0);

        // Another user's file, even one that lets everybody write it.
        if (nobody != nullptr) {
            ASSERT_TRUE(writeFile(settingsPath, victimBytes));
            ASSERT_EQ(chown(settingsPath, nobody->pw_uid, nobody->pw_gid), 0);
            ASSERT_EQ(chmod(settingsPath, 0666), 0);
            EXPECT_FALSE(saveSettings()) << "another user's file was written";
            EXPECT_EQ(readFile(settingsPath), victimBytes);
            ASSERT_EQ(unlink(settingsPath), 0);
        }
    }
    // The user's own file there is saved as anywhere else.
    EXPECT_TRUE(saveSettings());
    EXPECT_EQ(readFile(settingsPath), recordBytes());
}

TEST_F(SettingsTest, ReaderInAnotherProcessNeverSeesATornRecord) {
    fillRecord('A');
    const auto recordA = recordBytes();
    fillRecord('B');
    const auto recordB = recordBytes();
    ASSERT_TRUE(saveSettings());

    struct Shared {
        std::atomic<int> done;
        std::atomic<int> reads;
        std::atomic<int> torn;
    };
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* shared = new (memory) Shared{};

    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        std::vector<std::uint8_t> buffer(4096);
        while (shared->done.load() == 0) {
            const int fd = open(settingsPath, O_RDONLY);
            if (fd < 0) {
                shared->torn.fetch_add(1);
                continue;
            }
            std::size_t got = 0;
            ssize_t n;
            while ((n = read(fd, buffer.data() + got, buffer.size() - got)) > 0)
                got += static_cast<std::size_t>(n);
            close(fd);
            const bool isA = got == 1584 && std::equal(recordA.begin(), recordA.end(), buffer.begin());
            const bool isB = got == 1584 && std::equal(recordB.begin(), recordB.end(), buffer.begin());
            if (!isA && !isB) shared->torn.fetch_add(1);
            shared->reads.fetch_add(1);
        }
        _exit(0);
    }

    int saveFailures = 0;
    for (int i = 0; i < 400 || shared->reads.load() < 200; ++i) {
        fillRecord(i % 2 == 0 ? 'A' : 'B');
        if (!saveSettings()) ++saveFailures;
        if (i > 100000) break;
    }
    shared->done.store(1);
    int status = 0;
    waitpid(reader, &status, 0);

    EXPECT_EQ(saveFailures, 0);
    EXPECT_GE(shared->reads.load(), 200);
    EXPECT_EQ(shared->torn.load(), 0) << "of " << shared->reads.load() << " reads";
    munmap(memory, sizeof(Shared));
}

}  // namespace
