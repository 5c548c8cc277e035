// The few file operations the conversion needs beyond the standard library, with one meaning on
// every platform: logs are read only when they are regular files and never block; outputs are
// created new, never opening or following whatever sits at a name; names are moved and removed
// as entries (a link itself, never its target); and an output folder can be locked with a lock
// that the system releases when the process dies.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornakite::os {

#ifdef _WIN32
using NativeHandle = void*;
#else
using NativeHandle = int;
#endif

// A log opened for reading.
class InputFile {
  public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens a regular file without denying other programs read or write access. Anything else
    // (a folder, a FIFO, a device, a socket, a Windows device name) gives false at once.
    bool open(const std::filesystem::path& path);
    // Reads up to `size` bytes: the count read, 0 at the end of the file, -1 on a read error.
    std::ptrdiff_t read(char* data, std::size_t size);
    // Reads at `offset` in the same way, without moving where read goes on.
    std::ptrdiff_t readAt(std::uint64_t offset, char* data, std::size_t size);
    // The file's size when it was opened.
    std::uint64_t size() const { return size_; }

  private:
    NativeHandle handle_{};
    bool open_ = false;
    std::uint64_t size_ = 0;
};

// A file this process creates and writes.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates a new file at `path`; false when any entry is there already or the file cannot be
    // created. While it is open, another process's removeIfAbandoned leaves it alone.
    bool create(const std::filesystem::path& path);
    // Each writes all `size` bytes or returns false.
    bool write(const char* data, std::size_t size);
    bool writeAt(std::uint64_t offset, const char* data, std::size_t size);
    // Closes the file; false when the system reports that the data could not be kept.
    bool close();
    bool isOpen() const { return open_; }

  private:
    NativeHandle handle_{};
    bool open_ = false;
};

enum class EntryKind { none, file, folder, other };  // other: a link, FIFO, socket or device

struct Entry {
    EntryKind kind = EntryKind::none;
    bool readOnly = false;  // a regular file marked read-only for this process: its owner's choice
};

// What is at `path`, without following a link; nullopt when that cannot be found out (a name
// too long, a folder that cannot be searched).
std::optional<Entry> entryAt(const std::filesystem::path& path);

// What tells a file from every other on the machine: the device and inode on POSIX, the volume
// serial number and file index on Windows. Every name of one file (another spelling, a hard
// link, a link to it) gives the same identity.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
    friend std::strong_ordering operator<=>(const FileId&, const FileId&) = default;
};

// The identity of what is at `path`: of a link's target with `followLinks`, else of the entry
// itself; nullopt when nothing is there or it cannot be found out.
std::optional<FileId> fileIdentity(const std::filesystem::path& path, bool followLinks);

// Renames the entry at `from` (a link itself, not its target) to `to`, where nothing may be.
bool moveEntry(const std::filesystem::path& from, const std::filesystem::path& to);

// Renames the entry at `from` to `to` only when nothing is at `to`; false when something is
// there, and wherever the system cannot tell (the caller then checks and moves on its own).
bool moveEntryToFreeName(const std::filesystem::path& from, const std::filesystem::path& to);

// Removes the entry at `path` (a link itself, not its target); never a folder.
bool removeEntry(const std::filesystem::path& path);

// Removes a file whose creator has ended (a temporary left by a process that was killed); false
// while a live OutputFile still holds it, or when it cannot be removed.
bool removeIfAbandoned(const std::filesystem::path& path);

// A small file left by a process that ended (the journal of a commit it did not finish), taken
// over by this one: opened only when no live OutputFile holds it and no other process has taken
// it, and held until closed.
class AbandonedFile {
  public:
    AbandonedFile() = default;
    ~AbandonedFile();
    AbandonedFile(const AbandonedFile&) = delete;
    AbandonedFile& operator=(const AbandonedFile&) = delete;

    // False while its creator or another taker holds it, and when it is no regular file or
    // cannot be opened.
    bool take(const std::filesystem::path& path);
    // The whole file; nullopt on a read error or when it is longer than `limit` bytes.
    std::optional<std::string> read(std::size_t limit);
    void close();

  private:
    NativeHandle handle_{};
    bool open_ = false;
};

// One entry of a folder, as read by readFolder.
struct FolderEntry {
    std::filesystem::path name;  // the entry's own name, without the folder
    bool isFolder = false;       // a folder, or a link to one
    bool isLink = false;         // a symbolic link or a junction (mount point)
    bool isSpecial = false;      // a device, pipe or socket: neither file nor folder
};

// The entries of `folder` in no particular order, without "." and "..". Throws
// std::runtime_error("Cannot read folder") when the folder cannot be listed. On Windows this
// works past the classic 260-character path limit (the C++ runtime's own folder listing does
// not: given a longer path it lists the current folder instead).
std::vector<FolderEntry> readFolder(const std::filesystem::path& folder);

// Whether `path` names a folder (following links); false when it cannot be examined.
bool isFolder(const std::filesystem::path& path);

// The names in `folder` that begin with `prefix`, as full paths.
std::vector<std::filesystem::path> entriesStartingWith(const std::filesystem::path& folder,
                                                       std::wstring_view prefix);

// A lock on an output folder, held until destroyed. Exclusive holders exclude every other holder;
// shared ones only exclusive holders (where the platform needs shared holders at all). The system
// releases it when the process dies. Waits up to `timeoutMs` for other holders.
class FolderLock {
  public:
    FolderLock(const std::filesystem::path& folder, bool exclusive, int timeoutMs);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // False when another holder kept the lock beyond the timeout. Where the file system has no
    // locks at all the conversion goes on unlocked, and this is true.
    bool acquired() const { return acquired_; }

  private:
    NativeHandle handle_{};
    bool open_ = false;
    bool acquired_ = false;
};

// A number that tells this process's temporaries from another's.
std::uint32_t processId();

}  // namespace vornakite::os
