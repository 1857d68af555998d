// ReplaceFileContents on Windows: the new contents written beside the file
// and moved over it, so a crash or a full disk in the middle leaves the old
// file and a reader sees the old contents or the new ones, never a mix.
//
// Wherever that route cannot be taken (a link, a device, a hidden or system
// file, a directory that takes no new file, a system without a replacing
// move) the file is cut and written in place, as a plain "wb" open and one
// write would do, so the call never fails where that write would have worked
// and never works where it would have failed.
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
        const int n = _write(fd, data, static_cast<unsigned>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
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
// the caller falls back to the plain write.
bool moveOver(const char* from, const char* to) {
    using MoveFileExFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return false;
    const auto moveFileEx = reinterpret_cast<MoveFileExFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "MoveFileExA")));
    if (moveFileEx == nullptr) return false;
    return moveFileEx(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Creates "<path>.~<process id>.<attempt>" for writing, a name no other
// process would choose; -1 when no such file could be made.
int createTemporaryBeside(const char* path, char* temporary, std::size_t temporarySize) {
    static unsigned long attempt = 0;
    for (int tries = 0; tries < 8; ++tries) {
        const int n = std::snprintf(temporary, temporarySize, "%s.~%lu.%lu", path,
                                    static_cast<unsigned long>(_getpid()), ++attempt);
        if (n < 0 || static_cast<std::size_t>(n) >= temporarySize) return -1;
        const int fd =
            _open(temporary, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Writes the bytes to a new file beside `path` and moves it over `path`.
// `exists` tells whether there is a file now. False when the file was not
// replaced; the temporary file is then gone again.
bool replaceByMove(const char* path, bool exists, const void* bytes, std::size_t size) {
    char temporary[MAX_PATH + 32];
    const int fd = createTemporaryBeside(path, temporary, sizeof temporary);
    if (fd < 0) return false;

    bool ok = !exists || attributesCarryOver(path);
    ok = ok && writeAll(fd, static_cast<const std::uint8_t*>(bytes), size);
    ok = ok && _commit(fd) == 0;
    ok = _close(fd) == 0 && ok;
    ok = ok && moveOver(temporary, path);
    if (!ok) {
        _unlink(temporary);
        return false;
    }
    return true;
}

bool replaceFileContents(const char* path, const void* bytes, std::size_t size) {
    if (path == nullptr) return false;
    if (path[0] == '\0' || isLink(path)) return writeInPlace(path, bytes, size);
    struct _stat st;
    const bool exists = _stat(path, &st) == 0;
    if (exists) {
        // Only a plain file is replaced; a device or anything else gets the
        // plain write in place.
        if ((st.st_mode & _S_IFMT) != _S_IFREG) return writeInPlace(path, bytes, size);
        // A file that cannot be opened for writing fails exactly as the
        // truncating open would, and is left as it is.
        const int probe = _open(path, _O_WRONLY | _O_BINARY);
        if (probe < 0) return false;
        _close(probe);
    }
    if (replaceByMove(path, exists, bytes, size)) return true;
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
