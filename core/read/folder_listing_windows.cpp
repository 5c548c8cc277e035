// readFolder and isFolder on Windows through the wide Win32 calls with the "\\?\" prefix,
// which reach past the 260-character path limit (the C++ runtime's own folder listing does
// not: given a longer path it lists the current folder instead).
#include <windows.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "read/log_files.hpp"

namespace vornakite {
namespace {

// `path` made absolute and prefixed with "\\?\" ("\\?\UNC\" for a network path), so that no
// length limit applies; a path already in that form stays as it is.
std::wstring extendedLengthPath(const std::filesystem::path& path) {
    const std::wstring& given = path.native();
    if (given.rfind(L"\\\\?\\", 0) == 0 || given.rfind(L"\\\\.\\", 0) == 0) {
        return given;
    }
    const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return given;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return given;
    }
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

// Folder links that are never entered: symbolic links and junctions. Other reparse points,
// such as the placeholders of cloud storage, are ordinary folders to the user.
bool isLinkTag(DWORD tag) {
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

}  // namespace

std::vector<FolderEntry> readFolder(const std::filesystem::path& folder) {
    std::wstring pattern = extendedLengthPath(folder);
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
    const DWORD attributes = GetFileAttributesW(extendedLengthPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace vornakite
