// ReplaceFileContents: a file's new contents written beside it and renamed
// over it, so a crash or a full disk in the middle leaves the old file and a
// reader in another process sees the old contents or the new ones, never a
// mix.
//
// Wherever that route cannot be taken the file is cut and written in place,
// the write such a file has always had, so the call never fails where that
// write would have worked and never works where it would have failed. Each
// kind of file takes its route in replaceFileContents below; a new kind is
// one more case there.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// The plain write: cut the file, one block, close. Every step that can fail
// after the open is reported.
bool writeInPlace(const char* path, const void* bytes, std::size_t size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed;
}

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

bool replaceFileContents(const char* path, const void* bytes, std::size_t size) {
    if (path == nullptr) return false;
    // No name: nothing to put a file beside; the plain write fails on it.
    if (path[0] == '\0') return writeInPlace(path, bytes, size);
    struct stat st;
    const bool exists = lstat(path, &st) == 0;
    if (exists) {
        // A link is written through, so it stays a link.
        if (S_ISLNK(st.st_mode)) return writeInPlace(path, bytes, size);
        // Only a plain file is replaced; a device or anything else gets the
        // write it would always have got.
        if (!S_ISREG(st.st_mode)) return writeInPlace(path, bytes, size);
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
