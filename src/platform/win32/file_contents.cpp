// ReplaceFileContents on Windows: the new contents written beside the file
// and moved over it, so a crash in the middle leaves the old file and a
// reader sees the old contents or the new ones, never a mix.
//
// The rules, in the order replaceFileContents applies them:
// - The temporary file's full name must fit in MAX_PATH, or the move and the
//   clean-up of a file made under a longer name would fail; where it would
//   not fit no temporary file is made and the file is written in place.
// - Links, devices, hidden and system files (a move would drop those
//   attributes), a folder that takes no new file, a system without a
//   replacing move: the file is written in place. That write never cuts the
//   file first: it overwrites from the start and sets the length only after
//   every byte is written, so a failure part way never leaves less than the
//   old file.
// - Lack of room (a full disk, an exhausted quota) anywhere on the way to the
//   replacement fails the save and leaves the file as it is: writing in place
//   instead would only risk the old contents.
// - A save killed part way leaves its temporary file behind; each save
//   removes those of its own name whose process is gone.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const int n = _write(fd, data, static_cast<unsigned>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// ERROR_DISK_QUOTA_EXCEEDED, which the mingw-w64 headers lack.
constexpr DWORD kDiskQuotaExceeded = 1295;

// Read right after the failing call: the C library's errno for a write that
// found no room, the system's error for the rest.
bool noRoom() {
    const DWORD error = GetLastError();
    return errno == ENOSPC || error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
           error == kDiskQuotaExceeded;
}

// The in-place write (see above). A device has no length to set.
bool writeInPlace(const char* path, const void* bytes, std::size_t size) {
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return false;
    struct _stat st;
    const bool plain = _fstat(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
    bool ok = writeAll(fd, static_cast<const std::uint8_t*>(bytes), size);
    if (ok && plain) ok = _chsize(fd, static_cast<long>(size)) == 0;
    return _close(fd) == 0 && ok;
}

bool isLink(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A hidden or system file would come back as a plain one after the move;
// such a file is left to the in-place write.
bool attributesCarryOver(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

// The Windows 95 family has no replacing move; there the lookup fails and
// the caller falls back to the in-place write.
bool moveOver(const char* from, const char* to) {
    using MoveFileExFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return false;
    const auto moveFileEx = reinterpret_cast<MoveFileExFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "MoveFileExA")));
    if (moveFileEx == nullptr) return false;
    return moveFileEx(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

enum class Replacement { Done, NoRoom, NotMade };

// Creates "<path>.~<process id>.<attempt>" for writing, a name no other
// process would choose, into `temporary` (MAX_PATH bytes); -1 when no such
// file was made, with `lackedRoom` telling whether space was what lacked.
int createTemporaryBeside(const char* path, char (&temporary)[MAX_PATH], bool& lackedRoom) {
    static unsigned long attempt = 0;
    lackedRoom = false;
    for (int tries = 0; tries < 8; ++tries) {
        const int n = std::snprintf(temporary, sizeof temporary, "%s.~%lu.%lu", path,
                                    static_cast<unsigned long>(_getpid()), ++attempt);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof temporary) return -1;
        const int fd =
            _open(temporary, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            lackedRoom = noRoom();
            return -1;
        }
    }
    return -1;
}

// Writes the bytes to a new file beside `path` and moves it over `path`.
// `exists` tells whether there is a file now. When the file was not replaced
// the temporary file is gone again.
Replacement replaceByMove(const char* path, bool exists, const void* bytes, std::size_t size) {
    if (exists && !attributesCarryOver(path)) return Replacement::NotMade;
    char temporary[MAX_PATH];
    bool lackedRoom = false;
    const int fd = createTemporaryBeside(path, temporary, lackedRoom);
    if (fd < 0) return lackedRoom ? Replacement::NoRoom : Replacement::NotMade;

    errno = 0;
    SetLastError(ERROR_SUCCESS);
    bool ok = writeAll(fd, static_cast<const std::uint8_t*>(bytes), size) && _commit(fd) == 0;
    ok = _close(fd) == 0 && ok;
    ok = ok && moveOver(temporary, path);
    if (!ok) {
        const bool full = noRoom();
        _unlink(temporary);
        return full ? Replacement::NoRoom : Replacement::NotMade;
    }
    return Replacement::Done;
}

// "<name>.~<process id>.<attempt>", as createTemporaryBeside makes them: the
// process id, or 0 when `entry` is no such name of `name`.
unsigned long temporaryOwnerProcess(const char* entry, const char* name) {
    const std::size_t length = std::strlen(name);
    if (std::strncmp(entry, name, length) != 0 || std::strncmp(entry + length, ".~", 2) != 0) return 0;
    const char* p = entry + length + 2;
    unsigned long long pid = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        pid = pid * 10 + static_cast<unsigned>(*p - '0');
        if (pid > 0xFFFFFFFFull) return 0;
    }
    if (p == digits || *p != '.') return 0;
    const char* attempt = ++p;
    while (*p >= '0' && *p <= '9') ++p;
    return p != attempt && *p == '\0' ? static_cast<unsigned long>(pid) : 0;
}

// A process we may not look at lives, under another user.
bool processLives(unsigned long pid) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool lives = GetExitCodeProcess(process, &code) == 0 || code == STILL_ACTIVE;
    CloseHandle(process);
    return lives;
}

// `directory` (its first `length` characters) and `name` into `out`; false
// when that does not fit MAX_PATH.
bool joinName(char (&out)[MAX_PATH], const char* directory, std::size_t length, const char* name) {
    const std::size_t nameLength = std::strlen(name);
    if (nameLength == 0 || length + nameLength >= sizeof out) return false;
    std::memcpy(out, directory, length);
    std::memcpy(out + length, name, nameLength + 1);
    return true;
}

// Removes the temporary files that saves of `path` left when they were
// killed: plain files of the pattern whose process no longer exists. A file
// whose long name does not fit MAX_PATH goes by its short name.
void sweepStaleTemporaries(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    const std::size_t directoryLength = static_cast<std::size_t>(name - path);
    char pattern[MAX_PATH];
    if (!joinName(pattern, path, directoryLength, "*")) return;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const unsigned long pid = temporaryOwnerProcess(found.cFileName, name);
        if (pid == 0 || pid == GetCurrentProcessId() || processLives(pid)) continue;
        char stale[MAX_PATH];
        if (joinName(stale, path, directoryLength, found.cFileName) ||
            joinName(stale, path, directoryLength, found.cAlternateFileName))
            _unlink(stale);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool replaceFileContents(const char* path, const void* bytes, std::size_t size) {
    if (path == nullptr) return false;
    if (path[0] == '\0' || isLink(path)) return writeInPlace(path, bytes, size);
    sweepStaleTemporaries(path);
    struct _stat st;
    const bool exists = _stat(path, &st) == 0;
    if (exists) {
        // Only a plain file is replaced.
        if ((st.st_mode & _S_IFMT) != _S_IFREG) return writeInPlace(path, bytes, size);
        // A file that cannot be opened for writing fails the save and is left
        // as it is.
        const int probe = _open(path, _O_WRONLY | _O_BINARY);
        if (probe < 0) return false;
        _close(probe);
    }
    switch (replaceByMove(path, exists, bytes, size)) {
        case Replacement::Done: return true;
        case Replacement::NoRoom: return false;
        case Replacement::NotMade: break;
    }
    return writeInPlace(path, bytes, size);
}

}  // namespace

bool plat::ReplaceFileContents(const char* path, const void* bytes, std::size_t size) {
    return replaceFileContents(path, bytes, size);
}

bool plat::CreateParentDirectories(const char*) { return false; }

// No per-user file: the settings lie by the program's own path.
bool plat::SettingsFileLocation(char*, std::size_t) { return false; }

// A named pipe or a device (CON, a pipe's \\.\pipe\ name) opens at once here
// but may never end a read; only a plain file is handed out.
std::FILE* plat::OpenFileForReading(const char* path) {
    if (path == nullptr) return nullptr;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    struct _stat st;
    if (_fstat(_fileno(file), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}
