// Files for the application: a plain file opened for reading,
// ReplaceFileContents, and where the user's settings file lies.
//
// ReplaceFileContents writes a file's new contents beside it and renames them
// over it, so a crash in the middle leaves the old file and a reader in
// another process sees the old contents or the new ones, never a mix. Only
// plain files are written at all: a FIFO would hold the save until some
// reader came, a device is no place for settings.
//
// The rules, in the order replaceFileContents applies them:
// - A folder that someone besides the user (and root) can put names into
//   (/tmp, a folder of another user, one writable by a shared group) may
//   hold a link or a file planted there under the settings file's name.
//   There a symbolic link is never followed and a file the user does not own
//   is never written: the save fails instead. Every step works on the
//   opened folder (openat, O_NOFOLLOW, the owner checked on the opened file),
//   so a name swapped in between two steps changes nothing.
// - In the user's own folders a symbolic link is followed to the file it
//   names, which is replaced the same way in its own directory (where the
//   rule above applies again); the link stays as it is.
// - A file with several names is overwritten in place, since a rename would
//   part it from its other names; so is a file whose replacement cannot be
//   made (its owner cannot be carried over, the folder takes no new file,
//   the rename is refused). The in-place write never cuts the file first:
//   it overwrites from the start and sets the length only after every byte
//   is written, so a failure part way never leaves less than the old file.
// - Lack of room (ENOSPC, EDQUOT, or EFBIG from a file size limit) anywhere
//   on the way to the replacement fails the save and leaves the file as it
//   is: writing in place instead would only risk the old contents.
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
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/core/linux_platform.h"
#include "platform/platform.h"

namespace {

bool noRoom(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// Writes every byte from `offset` on; false with errno set otherwise.
bool writeAllAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = ENOSPC;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

// The in-place write (see above). The open never waits: a FIFO that
// appeared meanwhile is refused, not waited on. In a folder others can
// write only a plain file of our own with no other name is written.
bool writeInPlace(int dirFd, const char* name, bool shared, const void* bytes, std::size_t size) {
    int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (shared) flags |= O_NOFOLLOW;
    const int fd = openat(dirFd, name, flags, 0666);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (shared) ok = ok && st.st_uid == geteuid() && st.st_nlink == 1;
    ok = ok && fcntl(fd, F_SETFL, 0) == 0;
    ok = ok && writeAllAt(fd, static_cast<const std::uint8_t*>(bytes), size, 0);
    ok = ok && ftruncate(fd, static_cast<off_t>(size)) == 0;
    return close(fd) == 0 && ok;
}

// True when the group holds nobody but us: a group of our own name with no
// other member, as systems that give each user a private group make them.
bool privateGroup(gid_t gid) {
    const passwd* user = getpwuid(geteuid());
    const group* g = getgrgid(gid);
    if (user == nullptr || g == nullptr || std::strcmp(g->gr_name, user->pw_name) != 0)
        return false;
    for (char* const* member = g->gr_mem; *member != nullptr; ++member)
        if (std::strcmp(*member, user->pw_name) != 0) return false;
    return true;
}

// Whether someone besides us and root can put names into the directory.
bool othersCanWrite(int dirFd) {
    struct stat st;
    if (fstat(dirFd, &st) != 0) return true;
    if (st.st_uid != geteuid() && st.st_uid != 0) return true;
    if (st.st_mode & S_IWOTH) return true;
    return (st.st_mode & S_IWGRP) != 0 && !privateGroup(st.st_gid);
}

// Opens the directory `path` lies in (only searching it is needed) and
// points `name` at the last component; -1 when it cannot be opened.
int openDirectoryOf(const char* path, const char** name) {
    const char* slash = std::strrchr(path, '/');
    *name = slash != nullptr ? slash + 1 : path;
    char directory[PATH_MAX];
    if (slash == nullptr) {
        std::snprintf(directory, sizeof directory, ".");
    } else if (static_cast<std::size_t>(slash - path) + 2 <= sizeof directory) {
        std::memcpy(directory, path, static_cast<std::size_t>(slash - path) + 1);
        directory[slash - path + 1] = '\0';
    } else {
        errno = ENAMETOOLONG;
        return -1;
    }
    return open(directory, O_PATH | O_DIRECTORY | O_CLOEXEC);
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
void syncDirectory(int dirFd) {
    const int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Creates "<name>.~<process id>.<attempt>" in the directory for writing, a
// name no other process would choose; -1 with errno set when no such file
// could be made. O_EXCL also refuses any link found under that name.
int createTemporaryBeside(int dirFd, const char* name, char* temporary,
                          std::size_t temporarySize) {
    static unsigned long attempt = 0;
    for (int tries = 0; tries < 8; ++tries) {
        const int n = std::snprintf(temporary, temporarySize, "%s.~%lu.%lu", name,
                                    static_cast<unsigned long>(getpid()), ++attempt);
        if (n < 0 || static_cast<std::size_t>(n) >= temporarySize) {
            errno = ENAMETOOLONG;
            return -1;
        }
        // 0666 under the umask: what a plain create would give.
        const int fd = openat(dirFd, temporary,
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

enum class Replacement { Done, NoRoom, NotMade };

// Writes the bytes to a new file beside `name` and renames it over `name`.
// `existing` is the current file's status, or null when there is none. When
// the file was not replaced the temporary file is gone again.
Replacement replaceByRename(int dirFd, const char* name, const struct stat* existing,
                            const void* bytes, std::size_t size) {
    char temporary[NAME_MAX + 1];
    const int fd = createTemporaryBeside(dirFd, name, temporary, sizeof temporary);
    if (fd < 0) return noRoom(errno) ? Replacement::NoRoom : Replacement::NotMade;

    int error = 0;
    bool ok = existing == nullptr || carryAttributes(fd, *existing);
    if (ok && !(writeAllAt(fd, static_cast<const std::uint8_t*>(bytes), size, 0) &&
                fsync(fd) == 0)) {
        ok = false;
        error = errno;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && renameat(dirFd, temporary, dirFd, name) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlinkat(dirFd, temporary, 0);
        return noRoom(error) ? Replacement::NoRoom : Replacement::NotMade;
    }
    syncDirectory(dirFd);
    return Replacement::Done;
}

enum class Chain { End, Refused, TooLong };

// The file a chain of symbolic links ends at (it need not exist), into
// `out`; a link's relative target counts from the link's own directory. A
// path that is no link is its own end. A link in a folder others can write
// is not followed (Refused); a loop or a name too long gives TooLong.
Chain followLinks(const char* path, char* out, std::size_t outSize) {
    if (std::snprintf(out, outSize, "%s", path) >= static_cast<int>(outSize)) return Chain::TooLong;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(out, &st) != 0 || !S_ISLNK(st.st_mode)) return Chain::End;
        const char* name = nullptr;
        const int dirFd = openDirectoryOf(out, &name);
        const bool shared = dirFd < 0 || othersCanWrite(dirFd);
        if (dirFd >= 0) close(dirFd);
        if (shared) return Chain::Refused;
        char target[PATH_MAX];
        const ssize_t n = readlink(out, target, sizeof target - 1);
        if (n <= 0) return Chain::TooLong;
        target[n] = '\0';
        char* slash = std::strrchr(out, '/');
        if (target[0] == '/' || slash == nullptr) {
            if (std::snprintf(out, outSize, "%s", target) >= static_cast<int>(outSize))
                return Chain::TooLong;
        } else {
            const std::size_t kept = static_cast<std::size_t>(slash - out) + 1;
            if (kept + static_cast<std::size_t>(n) >= outSize) return Chain::TooLong;
            std::memcpy(out + kept, target, static_cast<std::size_t>(n) + 1);
        }
    }
    return Chain::TooLong;
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

// Removes the temporary files that saves of `name` left when they were
// killed: names of the pattern whose process no longer exists, plain files
// (never a link, which is not followed) of our own user. A save still
// running, in a process of any user, keeps its file.
void sweepStaleTemporaries(int dirFd, const char* name) {
    const int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return;
    DIR* listing = fdopendir(listFd);
    if (listing == nullptr) {
        close(listFd);
        return;
    }
    while (const dirent* entry = readdir(listing)) {
        const long pid = temporaryOwnerProcess(entry->d_name, name);
        if (pid <= 0 || pid == static_cast<long>(getpid())) continue;
        // EPERM: the process lives, under another user.
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        struct stat st;
        if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
        unlinkat(dirFd, entry->d_name, 0);
    }
    closedir(listing);
}

bool replaceIn(int dirFd, const char* name, const void* bytes, std::size_t size) {
    const bool shared = othersCanWrite(dirFd);
    sweepStaleTemporaries(dirFd, name);
    struct stat st;
    const bool exists = fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        // A FIFO, a device, a directory; or a link that appeared after the
        // chain was followed.
        if (!S_ISREG(st.st_mode)) return false;
        if (shared && st.st_uid != geteuid()) return false;
        // A file that cannot be opened for writing fails the save and is
        // left as it is.
        const int probe =
            openat(dirFd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (probe < 0) return false;
        close(probe);
        // Elsewhere a second name is the user's own; in a shared folder it may
        // have been planted, and the rename parts the file from it.
        if (st.st_nlink > 1 && !shared) return writeInPlace(dirFd, name, false, bytes, size);
    }
    switch (replaceByRename(dirFd, name, exists ? &st : nullptr, bytes, size)) {
        case Replacement::Done: return true;
        case Replacement::NoRoom: return false;
        case Replacement::NotMade: break;
    }
    return writeInPlace(dirFd, name, shared, bytes, size);
}

bool replaceFileContents(const char* given, const void* bytes, std::size_t size) {
    if (given == nullptr || given[0] == '\0') return false;
    char path[PATH_MAX];
    if (followLinks(given, path, sizeof path) != Chain::End) return false;
    const char* name = nullptr;
    const int dirFd = openDirectoryOf(path, &name);
    if (dirFd < 0) return false;
    const bool replaced = name[0] != '\0' && replaceIn(dirFd, name, bytes, size);
    close(dirFd);
    return replaced;
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
    plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                          "rovanta: the settings path from %s is longer than %zu bytes; the "
                          "defaults apply and are not saved\n",
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
