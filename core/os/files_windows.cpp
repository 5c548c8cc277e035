// The file operations on Windows. A temporary is held open without delete sharing while its
// creator lives, so another process cannot remove it; the folder lock is a lock file that nobody
// may share and that the system deletes when its handle closes, also when the process dies.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "os/files.hpp"

namespace vornakite::os {
namespace {

wchar_t asciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// Windows opens a device for these names, with any extension and trailing blanks.
bool namesDevice(std::wstring_view fileName) {
    std::wstring stem(fileName.substr(0, fileName.find(L'.')));
    while (!stem.empty() && stem.back() == L' ') {
        stem.pop_back();
    }
    for (auto& c : stem) {
        c = asciiLower(c);
    }
    if (stem == L"con" || stem == L"prn" || stem == L"aux" || stem == L"nul" || stem == L"conin$" ||
        stem == L"conout$") {
        return true;
    }
    return stem.size() == 4 && (stem.starts_with(L"com") || stem.starts_with(L"lpt")) &&
           stem[3] >= L'0' && stem[3] <= L'9';
}

// The path as the wide API wants it: long paths (or all, with `always`) made full and given the
// extended-length prefix, which takes them past the classic 260-character limit. A drive-relative
// path such as "C:" becomes the current folder of that drive.
std::wstring apiPath(const std::filesystem::path& path, bool always = false) {
    const std::wstring& text = path.native();
    if ((text.size() < 240 && !always) || text.starts_with(L"\\\\?\\")) {
        return text;
    }
    const DWORD length = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return text;
    }
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(text.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) {
        return text;
    }
    full.resize(written);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
        return full;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

bool isDeviceNamespace(const std::wstring& text) {
    return text.size() >= 4 && (text[0] == L'\\' || text[0] == L'/') &&
           (text[1] == L'\\' || text[1] == L'/') && text[2] == L'.' &&
           (text[3] == L'\\' || text[3] == L'/');
}

// Folder links that are never entered: symbolic links and junctions. Other reparse points,
// such as the placeholders of cloud storage, are ordinary folders to the user.
bool isLinkTag(DWORD tag) {
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

HANDLE asHandle(NativeHandle h) {
    return static_cast<HANDLE>(h);
}

}  // namespace

InputFile::~InputFile() {
    if (open_) {
        CloseHandle(asHandle(handle_));
    }
}

bool InputFile::open(const std::filesystem::path& path) {
    if (isDeviceNamespace(path.native()) || namesDevice(path.filename().native())) {
        return false;  // a device, pipe or console, never a log
    }
    HANDLE h = CreateFileW(apiPath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(h, &size)) {
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    open_ = true;
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

std::ptrdiff_t InputFile::read(char* data, std::size_t size) {
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(asHandle(handle_), data, want, &got, nullptr)) {
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

std::ptrdiff_t InputFile::readAt(std::uint64_t offset, char* data, std::size_t size) {
    // A read at an offset moves a synchronous handle's position: put it back afterwards.
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(asHandle(handle_), zero, &position, FILE_CURRENT)) {
        return -1;
    }
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const bool ok = ReadFile(asHandle(handle_), data, want, &got, &at) != 0 ||
                    GetLastError() == ERROR_HANDLE_EOF;
    SetFilePointerEx(asHandle(handle_), position, nullptr, FILE_BEGIN);
    return ok ? static_cast<std::ptrdiff_t>(got) : -1;
}

OutputFile::~OutputFile() {
    if (open_) {
        CloseHandle(asHandle(handle_));
    }
}

bool OutputFile::create(const std::filesystem::path& path) {
    // No delete sharing: while this handle is open no other process can remove the file.
    HANDLE h = CreateFileW(apiPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = h;
    open_ = true;
    return true;
}

bool OutputFile::write(const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!WriteFile(asHandle(handle_), data, want, &put, nullptr) || put == 0) {
            return false;
        }
        data += put;
        size -= put;
    }
    return true;
}

bool OutputFile::writeAt(std::uint64_t offset, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD put = 0;
        if (!WriteFile(asHandle(handle_), data, want, &put, &at) || put == 0) {
            return false;
        }
        data += put;
        size -= put;
        offset += put;
    }
    return true;
}

bool OutputFile::close() {
    if (!open_) {
        return true;
    }
    open_ = false;
    return CloseHandle(asHandle(handle_)) != 0;
}

std::optional<Entry> entryAt(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(apiPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return Entry{};
        }
        return std::nullopt;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Entry{EntryKind::other, false};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Entry{EntryKind::folder, false};
    }
    return Entry{EntryKind::file, (attributes & FILE_ATTRIBUTE_READONLY) != 0};
}

std::optional<FileId> fileIdentity(const std::filesystem::path& path, bool followLinks) {
    if (isDeviceNamespace(path.native()) || namesDevice(path.filename().native())) {
        return std::nullopt;
    }
    // No access asked for: only the attributes are read, so no other program's sharing stands in
    // the way; folders open too.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(apiPath(path).c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!known) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber,
                  (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

bool moveEntry(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(apiPath(from).c_str(), apiPath(to).c_str(), 0) != 0;
}

bool moveEntryToFreeName(const std::filesystem::path& from, const std::filesystem::path& to) {
    return moveEntry(from, to);  // never replaces what is there
}

bool removeEntry(const std::filesystem::path& path) {
    const std::wstring p = apiPath(path);
    if (DeleteFileW(p.c_str())) {
        return true;
    }
    // A link to a folder is removed as a folder entry; its target stays.
    const DWORD attributes = GetFileAttributesW(p.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && RemoveDirectoryW(p.c_str()) != 0;
}

bool removeIfAbandoned(const std::filesystem::path& path) {
    // A live creator's handle shares no deletion, so this fails while it is open.
    return removeEntry(path);
}

AbandonedFile::~AbandonedFile() {
    close();
}

bool AbandonedFile::take(const std::filesystem::path& path) {
    close();
    // Sharing neither writing nor deletion, this fails while its creator holds it for writing;
    // asking for deletion itself, it keeps every other taker out.
    HANDLE h = CreateFileW(apiPath(path).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(h);
        return false;
    }
    handle_ = h;
    open_ = true;
    return true;
}

std::optional<std::string> AbandonedFile::read(std::size_t limit) {
    std::string text;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(asHandle(handle_), buffer, sizeof buffer, &got, nullptr) ||
            text.size() + got > limit) {
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, got);
    }
}

void AbandonedFile::close() {
    if (open_) {
        open_ = false;
        CloseHandle(asHandle(handle_));
    }
}

std::vector<FolderEntry> readFolder(const std::filesystem::path& folder) {
    std::wstring pattern = apiPath(folder, true);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("Cannot read folder");
    }
    std::vector<FolderEntry> entries;
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        FolderEntry entry;
        entry.name = std::filesystem::path(std::wstring(name));
        entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                       isLinkTag(found.dwReserved0);
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        throw std::runtime_error("Cannot read folder");
    }
    return entries;
}

bool isFolder(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(apiPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::filesystem::path> entriesStartingWith(const std::filesystem::path& folder,
                                                       std::wstring_view prefix) {
    std::vector<std::filesystem::path> found;
    const std::wstring pattern = apiPath(folder / (std::wstring(prefix) + L"*"));
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return found;
    }
    do {
        // The pattern also matches short 8.3 names; only the long name counts.
        const std::wstring_view name = data.cFileName;
        if (name.starts_with(prefix)) {
            found.push_back(folder / std::wstring(name));
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

FolderLock::FolderLock(const std::filesystem::path& folder, bool exclusive, int timeoutMs) {
    if (!exclusive) {
        acquired_ = true;  // creating a file is atomic with its sharing here; nothing to guard
        return;
    }
    const std::wstring lockPath = apiPath(folder / L".~vk.lock");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        HANDLE h =
            CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = h;
            open_ = true;
            acquired_ = true;
            return;
        }
        const DWORD error = GetLastError();
        // Held by another (sharing violation), or being deleted by its last holder (access
        // denied): wait. Anything else means this folder offers no lock file; go on without.
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
            error != ERROR_LOCK_VIOLATION) {
            acquired_ = true;
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

FolderLock::~FolderLock() {
    if (open_) {
        CloseHandle(asHandle(handle_));  // the system deletes the lock file
    }
}

std::uint32_t processId() {
    return static_cast<std::uint32_t>(GetCurrentProcessId());
}

}  // namespace vornakite::os
