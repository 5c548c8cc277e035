// The file operations on POSIX systems. A temporary is held with an flock while its creator
// lives; folder locks are flocks on the folder itself, so nothing is left in it afterwards.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "os/files.hpp"

namespace vornakite::os {
namespace {

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void closeQuietly(int fd) {
    ::close(fd);
}

// Writes all `size` bytes, at the file position or at `*offset`, going on after short writes.
bool writeWhole(int fd, const char* data, std::size_t size, const std::uint64_t* offset) {
    std::uint64_t at = offset != nullptr ? *offset : 0;
    while (size > 0) {
        const ssize_t put = offset != nullptr ? ::pwrite(fd, data, size, static_cast<off_t>(at))
                                              : ::write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
        at += static_cast<std::uint64_t>(put);
    }
    return true;
}

// Takes an flock, waiting up to `timeoutMs` for other holders. Returns true when held, or when
// this file system offers no locks (the caller then goes on without one).
bool lockWithin(int fd, int operation, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return true;  // no locks here (ENOLCK, EOPNOTSUPP, EINVAL)
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

}  // namespace

InputFile::~InputFile() {
    if (open_) {
        closeQuietly(handle_);
    }
}

bool InputFile::open(const std::filesystem::path& path) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer; nothing but a regular file is
    // kept open.
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        closeQuietly(fd);
        return false;
    }
    // Blocking reads again: of the flags F_SETFL changes, only O_NONBLOCK was asked for.
    ::fcntl(fd, F_SETFL, 0);
    handle_ = fd;
    open_ = true;
    size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::ptrdiff_t InputFile::read(char* data, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(handle_, data, size);
        if (got >= 0 || errno != EINTR) {
            return got < 0 ? -1 : static_cast<std::ptrdiff_t>(got);
        }
    }
}

std::ptrdiff_t InputFile::readAt(std::uint64_t offset, char* data, std::size_t size) {
    for (;;) {
        const ssize_t got = ::pread(handle_, data, size, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR) {
            return got < 0 ? -1 : static_cast<std::ptrdiff_t>(got);
        }
    }
}

OutputFile::~OutputFile() {
    if (open_) {
        closeQuietly(handle_);
    }
}

bool OutputFile::create(const std::filesystem::path& path) {
    const int fd =
        openRetrying(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    // The mark that its creator lives; a new file has no other holder, so this never waits.
    ::flock(fd, LOCK_EX | LOCK_NB);
    handle_ = fd;
    open_ = true;
    return true;
}

bool OutputFile::write(const char* data, std::size_t size) {
    return writeWhole(handle_, data, size, nullptr);
}

bool OutputFile::writeAt(std::uint64_t offset, const char* data, std::size_t size) {
    return writeWhole(handle_, data, size, &offset);
}

bool OutputFile::close() {
    if (!open_) {
        return true;
    }
    open_ = false;
    // The descriptor is gone even when close reports an error, so it is never retried.
    return ::close(handle_) == 0;
}

std::optional<Entry> entryAt(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return Entry{};
        }
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        return Entry{EntryKind::folder, false};
    }
    if (!S_ISREG(st.st_mode)) {
        return Entry{EntryKind::other, false};
    }
    const bool readOnly = ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 &&
                          (errno == EACCES || errno == EROFS || errno == EPERM);
    return Entry{EntryKind::file, readOnly};
}

std::optional<FileId> fileIdentity(const std::filesystem::path& path, bool followLinks) {
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
        return std::nullopt;
    }
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool moveEntry(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool moveEntryToFreeName(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef RENAME_NOREPLACE
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
#else
    (void)from;
    (void)to;
    return false;  // no such rename here: the caller takes its careful way
#endif
}

bool removeEntry(const std::filesystem::path& path) {
    return ::unlink(path.c_str()) == 0;
}

bool removeIfAbandoned(const std::filesystem::path& path) {
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Not a file one of ours could hold (a link, say): nothing guards it.
        return (errno == ELOOP || errno == ENXIO) && removeEntry(path);
    }
    bool removed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
        removed = removeEntry(path);
    }
    closeQuietly(fd);
    return removed;
}

AbandonedFile::~AbandonedFile() {
    close();
}

bool AbandonedFile::take(const std::filesystem::path& path) {
    close();
    const int fd = openRetrying(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    // A live holder keeps its flock; where there are no locks at all, the folder's lock is the
    // only guard, as for temporaries.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
        closeQuietly(fd);
        return false;
    }
    handle_ = fd;
    open_ = true;
    return true;
}

std::optional<std::string> AbandonedFile::read(std::size_t limit) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got =
            ::pread(handle_, buffer, sizeof buffer, static_cast<off_t>(text.size()));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || text.size() + static_cast<std::size_t>(got) > limit) {
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

void AbandonedFile::close() {
    if (open_) {
        open_ = false;
        closeQuietly(handle_);
    }
}

std::vector<FolderEntry> readFolder(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        throw std::runtime_error("Cannot read folder");
    }
    // Each entry is examined relative to the open folder, so that how long its whole path is
    // never hides it: an entry whose path is too long to open is still listed, and converting
    // it (or listing it, for a folder) then fails in the open.
    const int at = ::dirfd(dir);
    std::vector<FolderEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(dir);
        if (found == nullptr) {
            break;
        }
        const std::string_view name = found->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        FolderEntry entry;
        entry.name = std::filesystem::path(std::string(name));
        struct stat own {};
        struct stat target {};
        entry.isLink =
            ::fstatat(at, found->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
        // A link that leads nowhere counts as a file: converting it then says why it fails.
        if (::fstatat(at, found->d_name, &target, 0) == 0) {
            entry.isFolder = S_ISDIR(target.st_mode);
            entry.isSpecial = !S_ISREG(target.st_mode) && !entry.isFolder;
        }
        entries.push_back(std::move(entry));
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        throw std::runtime_error("Cannot read folder");
    }
    return entries;
}

bool isFolder(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

std::vector<std::filesystem::path> entriesStartingWith(const std::filesystem::path& folder,
                                                       std::wstring_view prefix) {
    std::vector<std::filesystem::path> found;
    std::string narrowPrefix;
    for (wchar_t c : prefix) {
        narrowPrefix += static_cast<char>(c);  // the prefixes are ASCII
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, narrowPrefix.c_str(), narrowPrefix.size()) == 0) {
            found.push_back(folder / entry->d_name);
        }
    }
    ::closedir(dir);
    return found;
}

FolderLock::FolderLock(const std::filesystem::path& folder, bool exclusive, int timeoutMs) {
    const int fd = openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        acquired_ = true;  // a folder that cannot be opened offers no lock; go on without
        return;
    }
    handle_ = fd;
    open_ = true;
    acquired_ = lockWithin(fd, exclusive ? LOCK_EX : LOCK_SH, timeoutMs);
}

FolderLock::~FolderLock() {
    if (open_) {
        closeQuietly(handle_);  // releases the flock
    }
}

std::uint32_t processId() {
    static const auto id = static_cast<std::uint32_t>(::getpid());
    return id;
}

}  // namespace vornakite::os
