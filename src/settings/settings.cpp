// The settings record and its file.
//
// The record is written and read as raw bytes, so its layout is pinned below:
// a compiler that pads it differently, or a big-endian target, must not build.
//
// Saving goes through a temporary file and a rename, so a crash or a full disk
// in the middle of a save leaves the old file, and a reader in another process
// sees either the old record or the new one. Wherever that route cannot be
// taken (a link, a device, a file we could not recreate with the same owner,
// a directory we may not create files in, a rename the system refuses) the
// save falls back to the plain truncating write, so it never fails where that
// write would have worked and never works where it would have failed.
#include "settings/settings.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/platform.h"

// After platform.h: windows.h defines the message and style names as macros.
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

static_assert(std::endian::native == std::endian::little,
              "the settings file is the little-endian image of the record");
static_assert(sizeof(SaverSettings) == kSettingsFileSize);
static_assert(offsetof(SaverSettings, faceSize) == 0);
static_assert(offsetof(SaverSettings, pointStep) == 4);
static_assert(offsetof(SaverSettings, reduceFactor) == 8);
static_assert(offsetof(SaverSettings, centerX) == 12);
static_assert(offsetof(SaverSettings, centerY) == 16);
static_assert(offsetof(SaverSettings, maxRotationDegrees) == 20);
static_assert(offsetof(SaverSettings, sidePaths) == 24);
static_assert(sizeof(SaverSettings::sidePaths) == kSideCount * kSideTextSize);

SaverSettings saverSettings{};
char settingsPath[kPathSize]{};

namespace {

constexpr char kSettingsFileName[] = "rovanta.cfg";

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Appends text to out (holding `used` characters), never past outSize - 1.
std::size_t appendBounded(char* out, std::size_t outSize, std::size_t used, const char* text,
                          std::size_t length) {
    if (used + 1 >= outSize) return used;
    const std::size_t room = outSize - 1 - used;
    const std::size_t n = std::min(length, room);
    std::memcpy(out + used, text, n);
    out[used + n] = '\0';
    return used + n;
}

}  // namespace

void settingsPathFromCommandLine(const char* commandLine, char separator, char* out,
                                 std::size_t outSize) {
    if (out == nullptr || outSize == 0) return;
    out[0] = '\0';
    const char* text = commandLine != nullptr ? commandLine : "";

    // The rule works on a view of the command line rather than a fixed-size
    // copy, so no command line is too long for it; only the result is bounded.
    if (*text == '"') ++text;
    const char* closingQuote = std::strchr(text, '"');
    const std::size_t textLength =
        closingQuote != nullptr ? static_cast<std::size_t>(closingQuote - text) : std::strlen(text);

    const char* end = text + textLength;
    const char* first = std::find(text, end, separator);
    std::size_t used = 0;
    if (first == end) {
        // No directory at all: the root of the current drive or file system.
        used = appendBounded(out, outSize, used, &separator, 1);
    } else {
        const char* second = std::find(first + 1, end, separator);
        // With only one separator the program lies in a root directory (or one
        // level down a relative path): its own directory is the one to use.
        const char* dirEnd = second != end ? second + 1 : first + 1;
        used = appendBounded(out, outSize, used, text, static_cast<std::size_t>(dirEnd - text));
    }
    appendBounded(out, outSize, used, kSettingsFileName, sizeof kSettingsFileName - 1);
}

bool settingsPathFromEnvironment(const char* value, char* out, std::size_t outSize) {
    if (value == nullptr || value[0] == '\0' || out == nullptr || outSize == 0) return false;
    const std::size_t length = std::strlen(value);
    out[0] = '\0';
    if (length < outSize) std::memcpy(out, value, length + 1);
    return true;
}

void buildSettingsPath() {
#if !defined(_WIN32)
    // An installed program's directory is not the user's to write; the
    // environment names a file the user owns instead.
    if (settingsPathFromEnvironment(std::getenv("ROVANTA_CONFIG"), settingsPath, kPathSize))
        return;
#endif
    settingsPathFromCommandLine(plat::GetCommandLineA(), kPathSeparator, settingsPath, kPathSize);
}

void setDefaultSettings() {
    static constexpr const char* kDefaultSides[kSideCount] = {"#ff0000", "#00ff00", "#0000ff",
                                                              "#ffffff", "#000000", "#f0f0ff"};
    saverSettings.reduceFactor = 1;
    saverSettings.pointStep = 2;
    saverSettings.maxRotationDegrees = 5;
    // Only the text and its terminator are written; the rest of each field
    // keeps what it held, as in the file.
    for (std::size_t i = 0; i < kSideCount; ++i)
        std::memcpy(saverSettings.sidePaths[i], kDefaultSides[i], std::strlen(kDefaultSides[i]) + 1);
}

void loadSettingsFromBytes(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, kSettingsFileSize);
    if (data != nullptr && n > 0) std::memcpy(&saverSettings, data, n);
    // A text that fills its whole field has no terminator; cut it to 259
    // characters so every reader of the record stays inside the field.
    for (auto& text : saverSettings.sidePaths)
        if (std::memchr(text, '\0', kSideTextSize) == nullptr) text[kSideTextSize - 1] = '\0';
}

void loadSettings() {
    std::FILE* file = std::fopen(settingsPath, "rb");
    if (file == nullptr) {
        setDefaultSettings();
        return;
    }
    std::uint8_t bytes[kSettingsFileSize];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const std::size_t n = std::fread(bytes + got, 1, sizeof bytes - got, file);
        if (n == 0) break;
        got += n;
    }
    std::fclose(file);
    loadSettingsFromBytes(bytes, got);
}

const char* sideText(std::size_t side) {
    if (side >= kSideCount) return "";
    const char* text = saverSettings.sidePaths[side];
    if (std::memchr(text, '\0', kSideTextSize) != nullptr) return text;
    // Someone wrote the record without a terminator: hand out a cut copy.
    static char cut[kSideCount][kSideTextSize];
    std::memcpy(cut[side], text, kSideTextSize - 1);
    cut[side][kSideTextSize - 1] = '\0';
    return cut[side];
}

std::int32_t renderPointStep() { return std::max<std::int32_t>(saverSettings.pointStep, 1); }
std::int32_t renderReduceFactor() { return std::max<std::int32_t>(saverSettings.reduceFactor, 1); }

// ---- Saving ----------------------------------------------------------------

namespace {

// The write the record has always had: cut the file, one block, close. Every
// step that can fail after the open is reported.
bool plainWrite(const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(&saverSettings, kSettingsFileSize, 1, file) == 1;
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed;
}

#if defined(_WIN32)
using StatRecord = struct _stat;
int statPath(const char* path, StatRecord* st) { return _stat(path, st); }
int openForWriting(const char* path) { return _open(path, _O_WRONLY | _O_BINARY); }
int createExclusive(const char* path) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int closeFile(int fd) { return _close(fd); }
int writeSome(int fd, const void* data, std::size_t n) {
    return _write(fd, data, static_cast<unsigned>(n));
}
int syncFile(int fd) { return _commit(fd); }
int removeFile(const char* path) { return _unlink(path); }
unsigned long processId() { return static_cast<unsigned long>(_getpid()); }

bool isLink(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A hidden or system file would come back as a plain one after the rename;
// leave such a file to the in-place write.
bool keepAttributes(int, const char* path, const StatRecord&) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

// The Windows 95 family has no replacing rename; there the lookup fails and
// the caller falls back to the plain write.
bool replaceFile(const char* from, const char* to) {
    using MoveFileExFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return false;
    const auto moveFileEx = reinterpret_cast<MoveFileExFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "MoveFileExA")));
    if (moveFileEx == nullptr) return false;
    return moveFileEx(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void syncDirectoryOf(const char*) {}
#else
using StatRecord = struct stat;
int statPath(const char* path, StatRecord* st) { return lstat(path, st); }
int openForWriting(const char* path) { return open(path, O_WRONLY | O_CLOEXEC); }
int createExclusive(const char* path) {
    // 0666 under the umask: what the plain "wb" would create.
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
int closeFile(int fd) { return close(fd); }
int writeSome(int fd, const void* data, std::size_t n) {
    return static_cast<int>(write(fd, data, n));
}
int syncFile(int fd) { return fsync(fd); }
int removeFile(const char* path) { return unlink(path); }
unsigned long processId() { return static_cast<unsigned long>(getpid()); }

bool isLink(const char* path) {
    StatRecord st;
    return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

// The new file must look like the old one: same permission bits, same owner.
// A file with several names would lose the others through a rename.
bool keepAttributes(int fd, const char*, const StatRecord& old) {
    if (old.st_nlink > 1) return false;
    if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
        fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return fchmod(fd, old.st_mode & 07777) == 0;
}

bool replaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }

// Makes the rename itself durable; a failure here changes nothing that the
// caller could act on.
void syncDirectoryOf(const char* path) {
    char directory[kPathSize];
    std::snprintf(directory, sizeof directory, "%s", path);
    char* slash = std::strrchr(directory, '/');
    if (slash == nullptr) {
        std::snprintf(directory, sizeof directory, ".");
    } else {
        slash[1] = '\0';
    }
    const int fd = open(directory, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
#endif

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const int n = writeSome(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

enum class Route { replaced, fallBack };

// Writes the record to a new file beside `path` and renames it over `path`.
// `existing` is the current file's status, or null when there is none.
Route saveByRename(const char* path, const StatRecord* existing) {
    static unsigned long attempt = 0;
    char temporary[kPathSize + 32];
    int fd = -1;
    for (int tries = 0; tries < 8 && fd < 0; ++tries) {
        const int n = std::snprintf(temporary, sizeof temporary, "%s.~%lu.%lu", path, processId(),
                                    ++attempt);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof temporary) return Route::fallBack;
        fd = createExclusive(temporary);
        if (fd < 0 && errno != EEXIST) return Route::fallBack;
    }
    if (fd < 0) return Route::fallBack;

    bool ok = existing == nullptr || keepAttributes(fd, path, *existing);
    ok = ok && writeAll(fd, reinterpret_cast<const std::uint8_t*>(&saverSettings),
                        kSettingsFileSize);
    ok = ok && syncFile(fd) == 0;
    ok = closeFile(fd) == 0 && ok;
    ok = ok && replaceFile(temporary, path);
    if (!ok) {
        removeFile(temporary);
        return Route::fallBack;
    }
    syncDirectoryOf(path);
    return Route::replaced;
}

}  // namespace

bool saveSettings() {
    const char* path = settingsPath;
    if (path[0] == '\0' || isLink(path)) return plainWrite(path);

    StatRecord st;
    const bool exists = statPath(path, &st) == 0;
    if (exists) {
        // Only a plain file is replaced; a device or anything else gets the
        // write it would always have got.
        if ((st.st_mode & S_IFMT) != S_IFREG) return plainWrite(path);
        // A file that cannot be opened for writing fails the save exactly as
        // the truncating open would, and is left as it is.
        const int probe = openForWriting(path);
        if (probe < 0) return false;
        closeFile(probe);
    }
    if (saveByRename(path, exists ? &st : nullptr) == Route::replaced) return true;
    return plainWrite(path);
}
