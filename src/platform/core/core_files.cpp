// Files for the application: a plain file opened for reading,
// ReplaceFileContents, and where the user's settings file lies.
//
// ReplaceFileContents: a file's new contents written beside it and renamed
// over it, so a crash or a full disk in the middle leaves the old file and a
// reader in another process sees the old contents or the new ones, never a
// mix. A symbolic link is followed to the file it names, which is replaced
// the same way in its own directory; the link stays as it is.
//
// Wherever that route cannot be taken the file is cut and written in place,
// as a plain fopen(path, "wb") would write it, so the call never fails where
// such a write would work and never works where it would fail. Only
// plain files are written at all: a FIFO would hold the save until some
// reader came, a device is no place for settings. Each kind of file takes its
// route in replaceFileContents below; a new kind is one more case there.
//
// A save killed part way leaves its temporary file behind; each save sweeps
// those of its own name whose process is gone.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/linux/linux_platform.h"
#include "platform/platform.h"

namespace {

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The plain write: cut the file, one block, close, as fopen "wb" would, on a
// plain file only; the open never waits (a FIFO that appeared meanwhile is
// refused, not waited on). Every step that can fail after the open is
// reported.
bool writeInPlace(const char* path, const void* bytes, std::size_t size) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ok = ok && fcntl(fd, F_SETFL, 0) == 0;
    ok = ok && writeAll(fd, static_cast<const std::uint8_t*>(bytes), size);
    return close(fd) == 0 && ok;
}

// The new file must look like the old one: same permission bits, same owner.
bool carryAttributes(int fd, const struct stat& old) {
    if ((old.st_uid != geteuid() || old.st_gid != getegid()) &&
        fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// Makes the rename itself durable; a failure here changes nothing that the
// caller could act on.
void syncDirectoryOf(const char* path) {
    char directory[PATH_MAX];
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

// Creates "<path>.~<process id>.<attempt>" for writing, a name no other
// process would choose; -1 when no such file could be made.
int createTemporaryBeside(const char* path, char* temporary, std::size_t temporarySize) {
    static unsigned long attempt = 0;
    for (int tries = 0; tries < 8; ++tries) {
        const int n = std::snprintf(temporary, temporarySize, "%s.~%lu.%lu", path,
                                    static_cast<unsigned long>(getpid()), ++attempt);
        if (n < 0 || static_cast<std::size_t>(n) >= temporarySize) return -1;
        // 0666 under the umask: what the plain "wb" would create.
        const int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Writes the bytes to a new file beside `path` and renames it over `path`.
// `existing` is the current file's status, or null when there is none. False
// when the file was not replaced; the temporary file is then gone again.
bool replaceByRename(const char* path, const struct stat* existing, const void* bytes,
                     std::size_t size) {
    char temporary[PATH_MAX + 32];
    const int fd = createTemporaryBeside(path, temporary, sizeof temporary);
    if (fd < 0) return false;

    bool ok = existing == nullptr || carryAttributes(fd, *existing);
    ok = ok && writeAll(fd, static_cast<const std::uint8_t*>(bytes), size);
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(temporary, path) == 0;
    if (!ok) {
        unlink(temporary);
        return false;
    }
    syncDirectoryOf(path);
    return true;
}

// The file a chain of symbolic links ends at (it need not exist), into
// `out`; a link's relative target counts from the link's own directory. A
// path that is no link is its own end. False for a loop or a name too long.
bool followLinks(const char* path, char* out, std::size_t outSize) {
    if (std::snprintf(out, outSize, "%s", path) >= static_cast<int>(outSize)) return false;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(out, &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char target[PATH_MAX];
        const ssize_t n = readlink(out, target, sizeof target - 1);
        if (n <= 0) return false;
        target[n] = '\0';
        char* slash = std::strrchr(out, '/');
        if (target[0] == '/' || slash == nullptr) {
            if (std::snprintf(out, outSize, "%s", target) >= static_cast<int>(outSize)) return false;
        } else {
            const std::size_t kept = static_cast<std::size_t>(slash - out) + 1;
            if (kept + static_cast<std::size_t>(n) >= outSize) return false;
            std::memcpy(out + kept, target, static_cast<std::size_t>(n) + 1);
        }
    }
    return false;
}

// "<name>.~<process id>.<attempt>", as createTemporaryBeside makes them: the
// process id, or 0 when `entry` is no such name of `name`.
long temporaryOwnerProcess(const char* entry, const char* name) {
    const std::size_t length = std::strlen(name);
    if (std::strncmp(entry, name, length) != 0 || std::strncmp(entry + length, ".~", 2) != 0) return 0;
    const char* p = entry + length + 2;
    long pid = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        pid = pid * 10 + (*p - '0');
        if (pid > INT_MAX) return 0;
    }
    if (p == digits || *p != '.') return 0;
    const char* attempt = ++p;
    while (*p >= '0' && *p <= '9') ++p;
    return p != attempt && *p == '\0' ? pid : 0;
}

// Removes the temporary files that saves of `path` left when they were
// killed: names of the pattern whose process no longer exists, plain files
// (never a link, which is not followed) of our own user. A save still
// running, in a process of any user, keeps its file.
void sweepStaleTemporaries(const char* path) {
    char directory[PATH_MAX];
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    if (slash == nullptr) {
        std::snprintf(directory, sizeof directory, ".");
    } else if (static_cast<std::size_t>(slash - path) + 2 <= sizeof directory) {
        std::memcpy(directory, path, static_cast<std::size_t>(slash - path) + 1);
        directory[slash - path + 1] = '\0';
    } else {
        return;
    }
    DIR* listing = opendir(directory);
    if (listing == nullptr) return;
    const int directoryFd = dirfd(listing);
    while (const dirent* entry = readdir(listing)) {
        const long pid = temporaryOwnerProcess(entry->d_name, name);
        if (pid <= 0 || pid == static_cast<long>(getpid())) continue;
        // EPERM: the process lives, under another user.
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st;
        if (fstatat(directoryFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
        unlinkat(directoryFd, entry->d_name, 0);
    }
    closedir(listing);
}

bool replaceFileContents(const char* given, const void* bytes, std::size_t size) {
    if (given == nullptr) return false;
    // No name: nothing to put a file beside; the plain write fails on it.
    if (given[0] == '\0') return writeInPlace(given, bytes, size);
    // The file itself is replaced where it lies; the links to it stay. A
    // chain that cannot be followed gets the plain write through it, as before.
    char path[PATH_MAX];
    if (!followLinks(given, path, sizeof path)) return writeInPlace(given, bytes, size);
    sweepStaleTemporaries(path);
    struct stat st;
    const bool exists = lstat(path, &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) return false;  // a FIFO, a device, a directory
        // A file that cannot be opened for writing fails exactly as the
        // truncating open would, and is left as it is.
        const int probe = open(path, O_WRONLY | O_CLOEXEC);
        if (probe < 0) return false;
        close(probe);
        // A file with several names would lose the others through a rename.
        if (st.st_nlink > 1) return writeInPlace(path, bytes, size);
    }
    if (replaceByRename(path, exists ? &st : nullptr, bytes, size)) return true;
    return writeInPlace(path, bytes, size);
}

}  // namespace

bool plat::ReplaceFileContents(const char* path, const void* bytes, std::size_t size) {
    return replaceFileContents(path, bytes, size);
}

bool plat::CreateParentDirectories(const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    const std::size_t length = std::strlen(path);
    if (length >= PATH_MAX) return false;
    char prefix[PATH_MAX];
    for (std::size_t i = 1; i < length; ++i) {
        if (path[i] != '/') continue;
        std::memcpy(prefix, path, i);
        prefix[i] = '\0';
        if (mkdir(prefix, 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool linuxplat::settingsPathFromEnvironment(const char* value, char* out, std::size_t outSize) {
    if (value == nullptr || value[0] == '\0' || out == nullptr || outSize == 0) return false;
    const std::size_t length = std::strlen(value);
    out[0] = '\0';
    if (length < outSize) std::memcpy(out, value, length + 1);
    return true;
}

bool linuxplat::settingsPathForUser(const char* configHome, const char* home, char* out,
                                    std::size_t outSize) {
    if (out == nullptr || outSize == 0) return false;
    const char* base = nullptr;
    const char* rest = nullptr;
    if (configHome != nullptr && configHome[0] == '/') {
        base = configHome;
        rest = "/rovanta/rovanta.cfg";
    } else if (home != nullptr && home[0] == '/') {
        base = home;
        rest = "/.config/rovanta/rovanta.cfg";
    } else {
        return false;
    }
    const std::size_t baseLength = std::strlen(base);
    const std::size_t restLength = std::strlen(rest);
    out[0] = '\0';
    if (baseLength + restLength < outSize) {
        std::memcpy(out, base, baseLength);
        std::memcpy(out + baseLength, rest, restLength + 1);
    }
    return true;
}

static_assert(plat::kMaxPath == PATH_MAX);

namespace {

// A path too long for the file calls is refused whole, and said once: the
// run goes on with the defaults and its save fails with the usual box.
void refuseLongPath(const char* source, std::size_t outSize) {
    std::fprintf(stderr,
                 "rovanta: the settings path from %s is longer than %zu bytes; the defaults "
                 "apply and are not saved\n",
                 source, outSize - 1);
}

}  // namespace

// An installed program's directory is not the user's to write, and a
// directory every user writes is no place for one user's settings (another
// user may plant a link there): each user has a file of their own, which the
// environment may name outright. Without a home folder in the environment
// the password database knows it; without one there either, nothing is
// saved.
bool plat::SettingsFileLocation(char* out, std::size_t outSize) {
    if (out == nullptr || outSize == 0) return true;
    if (linuxplat::settingsPathFromEnvironment(std::getenv("ROVANTA_CONFIG"), out, outSize)) {
        if (out[0] == '\0') refuseLongPath("ROVANTA_CONFIG", outSize);
        return true;
    }
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if ((configHome == nullptr || configHome[0] != '/') && (home == nullptr || home[0] != '/')) {
        const passwd* user = getpwuid(getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (!linuxplat::settingsPathForUser(configHome, home, out, outSize)) {
        out[0] = '\0';
        return true;
    }
    if (out[0] == '\0')
        refuseLongPath(configHome != nullptr && configHome[0] == '/' ? "XDG_CONFIG_HOME"
                                                                   : "the home folder",
                       outSize);
    return true;
}

std::FILE* plat::OpenFileForReading(const char* path) {
    if (path == nullptr) return nullptr;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    std::FILE* file = nullptr;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, 0) == 0)
        file = fdopen(fd, "rb");
    if (file == nullptr) close(fd);
    return file;
}
