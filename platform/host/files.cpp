// Files of the terminal's file system (device paths inside the root) and the
// "COMn:" port names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/host/internal.h"
#include "platform/host/objects.h"
#include "platform/host/terminal.h"

namespace {

class FileObject : public host::Object {
public:
    explicit FileObject(int fd) : fd_(fd) {}
    ~FileObject() override { close(); }

    BOOL read(void* buffer, DWORD toRead, DWORD* read) override {
        *read = 0;
        size_t done = 0;
        while (done < toRead) {
            ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, toRead - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : host::errorFromErrno(errno));
                *read = static_cast<DWORD>(done);
                return FALSE;
            }
            if (n == 0) break;
            done += static_cast<size_t>(n);
        }
        *read = static_cast<DWORD>(done);
        return TRUE;
    }

    BOOL write(const void* buffer, DWORD toWrite, DWORD* written) override {
        *written = 0;
        size_t done = 0;
        while (done < toWrite) {
            ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, toWrite - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                SetLastError(n == 0           ? ERROR_GEN_FAILURE
                             : errno == EBADF ? ERROR_ACCESS_DENIED
                                              : host::errorFromErrno(errno));
                *written = static_cast<DWORD>(done);
                return FALSE;
            }
            done += static_cast<size_t>(n);
        }
        *written = static_cast<DWORD>(done);
        return TRUE;
    }

    DWORD seek(LONG distance, DWORD method) override {
        int whence = method == FILE_BEGIN     ? SEEK_SET
                     : method == FILE_CURRENT ? SEEK_CUR
                     : method == FILE_END     ? SEEK_END
                                              : -1;
        if (whence < 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
        }
        off_t pos = lseek(fd_, distance, whence);
        if (pos < 0) {
            SetLastError(host::errorFromErrno(errno) == ERROR_INVALID_PARAMETER
                             ? ERROR_NEGATIVE_SEEK
                             : host::errorFromErrno(errno));
            return INVALID_SET_FILE_POINTER;
        }
        return static_cast<DWORD>(pos);
    }

    void close() override {
        int fd = fd_.exchange(-1);
        if (fd >= 0) ::close(fd);
    }

private:
    std::atomic<int> fd_;
};

// The last error of a failed call on `path`: a missing file in an existing
// folder is "file not found", a missing folder "path not found". Worked out
// only when a call failed.
DWORD failureError(int error, const host::ResolvedPath& path) {
    if (error == ENOENT) {
        if (path.missing == host::MissingFolder) return ERROR_PATH_NOT_FOUND;
        if (path.missing == host::MissingLast) return ERROR_FILE_NOT_FOUND;
        // Changed since it was resolved: the folder decides.
        size_t slash = path.path.rfind('/');
        struct stat st {};
        bool parent = slash == std::string::npos ||
                      (stat(path.path.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        return parent ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    if (error == ENOSPC || error == EDQUOT || error == EFBIG) return ERROR_DISK_FULL;
    return host::errorFromErrno(error);
}

// A resolution's room, kept by each thread so that a path resolved again
// allocates nothing (no call here resolves a second path before it is done).
host::ResolvedPath& resolvedScratch() {
    thread_local host::ResolvedPath scratch;
    return scratch;
}

// "COM3:" (any letter case, digit 0..9): the port index, else -1.
int portIndex(LPCWSTR name) {
    if (name == nullptr) return -1;
    auto up = [](WCHAR c) { return (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - 32) : c; };
    if (up(name[0]) != 'C' || up(name[1]) != 'O' || up(name[2]) != 'M') return -1;
    if (name[3] < '0' || name[3] > '9' || name[4] != ':' || name[5] != 0) return -1;
    return name[3] - '0';
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition, DWORD,
                   HANDLE) {
    if (fileName == nullptr || fileName[0] == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int port = portIndex(fileName);
    if (port >= 0) {
        host::NewsOnReturn news;
        auto object = host::openPort(port, access);
        if (!object) return INVALID_HANDLE_VALUE;
        SetLastError(ERROR_SUCCESS);
        return host::add(std::move(object));
    }
    host::ResolvedPath& resolved = resolvedScratch();
    host::resolveDevicePath(fileName, resolved, false);
    const std::string& path = resolved.path;
    bool reading = (access & GENERIC_READ) != 0;
    bool writing = (access & GENERIC_WRITE) != 0;
    bool appending = (access & FILE_APPEND_DATA) != 0 && !writing;
    int flags = O_CLOEXEC;
    if ((reading && (writing || appending)))
        flags |= O_RDWR;
    else if (writing || appending)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    // Every write of an append-only opening lands at the end of the file, so
    // concurrent appenders never overwrite each other.
    if (appending) flags |= O_APPEND;
    switch (creationDisposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            if (!writing) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return INVALID_HANDLE_VALUE;
            }
            flags |= O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    // A folder on the way that does not exist fails the one open at once.
    if (resolved.missing == host::MissingFolder) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // From here the file system is asked: what it answers may be news.
    host::NewsOnReturn news;
    if ((flags & O_TRUNC) != 0 && (flags & O_ACCMODE) == O_RDONLY) flags = (flags & ~O_ACCMODE) | O_RDWR;
    // What is created or written stays in the root: no symbolic link, of the
    // file or of a folder on its way, leads it elsewhere.
    if ((flags & (O_CREAT | O_TRUNC)) != 0 || (flags & O_ACCMODE) != O_RDONLY) {
        flags |= O_NOFOLLOW;
        if (!terminal::insideRoot(path)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
    }
    // Whether the file was there decides the "already exists" report: an
    // opening that may create tries the existing file first.
    bool existed = false;
    int fd = -1;
    if ((flags & O_CREAT) != 0 && (flags & O_EXCL) == 0) {
        // A file found missing by the resolution is created straight away.
        bool tryExisting = resolved.missing != host::MissingLast;
        for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
            if (tryExisting) {
                fd = open(path.c_str(), flags & ~O_CREAT, 0600);
                if (fd >= 0) {
                    existed = true;
                    break;
                }
                if (errno != ENOENT) break;
            }
            tryExisting = true;
            fd = open(path.c_str(), flags | O_EXCL, 0600);
            if (fd < 0 && errno != EEXIST) break;
        }
    } else {
        fd = open(path.c_str(), flags, 0600);
    }
    if (fd < 0) {
        int error = errno;
        if (error == ELOOP) error = EACCES;  // a symbolic link where the file should be
        SetLastError(error == EEXIST ? ERROR_FILE_EXISTS
                     : error == EISDIR ? ERROR_ACCESS_DENIED
                                       : failureError(error, resolved));
        return INVALID_HANDLE_VALUE;
    }
    // A folder opens for reading on the host, never on the device.
    struct stat st {};
    if ((flags & O_ACCMODE) == O_RDONLY && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    bool reportExisting = existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    HANDLE h = host::add(std::make_shared<FileObject>(fd));
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    host::ResolvedPath& resolved = resolvedScratch();
    host::resolveDevicePath(fileName, resolved, false);
    const std::string& path = resolved.path;
    if (resolved.missing == host::MissingFolder) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    host::NewsOnReturn news;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(failureError(errno, resolved));
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if ((st.st_mode & S_IWUSR) == 0) attributes = (attributes & ~FILE_ATTRIBUTE_NORMAL) | 0x1u;  // read-only
    return attributes;
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
    if (pathName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    host::ResolvedPath& resolved = resolvedScratch();
    host::resolveDevicePath(pathName, resolved);
    host::NewsOnReturn news;
    if (!terminal::insideRoot(resolved.path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (mkdir(resolved.path.c_str(), 0700) != 0) {
        SetLastError(failureError(errno, resolved));
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    host::ResolvedPath& resolved = resolvedScratch();
    host::resolveDevicePath(fileName, resolved);
    host::NewsOnReturn news;
    if (unlink(resolved.path.c_str()) != 0) {
        SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : failureError(errno, resolved));
        return FALSE;
    }
    return TRUE;
}
