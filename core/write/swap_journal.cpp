#include "write/swap_journal.hpp"

#include <algorithm>
#include <cstdint>

namespace vornakite {
namespace {

constexpr std::string_view kHeader = "~vk swap journal 1\n";
constexpr std::string_view kEnd = "end ";
// Far beyond any journal this program writes; a larger file is none of its journals.
constexpr std::size_t kJournalLimit = 1 << 20;

#ifdef _WIN32
// UTF-16 as UTF-8; an unpaired surrogate is encoded as a code point of its own, so every name
// the system allows comes back as it was.
std::string nameBytes(const std::wstring& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        std::uint32_t c = static_cast<std::uint16_t>(name[i]);
        const std::uint32_t next =
            i + 1 < name.size() ? static_cast<std::uint16_t>(name[i + 1]) : 0;
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        const int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static constexpr std::uint32_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
        for (int k = tail - 1; k >= 0; --k) {
            out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
        }
    }
    return out;
}

std::optional<std::wstring> nameFromBytes(std::string_view bytes) {
    std::wstring out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC0 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                                 : 4;
        if (length == 0 || i + length > bytes.size()) {
            return std::nullopt;
        }
        std::uint32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto more = static_cast<unsigned char>(bytes[i + k]);
            if ((more & 0xC0) != 0x80) {
                return std::nullopt;
            }
            c = (c << 6) | (more & 0x3Fu);
        }
        i += length;
        if (c > 0x10FFFF) {
            return std::nullopt;
        }
        if (c >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

bool isSeparator(wchar_t c) {
    return c == L'/' || c == L'\\' || c == L':' || c == L'\0';
}
#else
std::string nameBytes(const std::string& name) {
    return name;
}

std::optional<std::string> nameFromBytes(std::string_view bytes) {
    return std::string(bytes);
}

bool isSeparator(char c) {
    return c == '/' || c == '\0';
}
#endif

// A name within the folder, its bytes outside printable ASCII and '%' as %XX.
std::string escapedName(const std::filesystem::path& path) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : nameBytes(path.filename().native())) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '%') {
            out += '%';
            out += kDigits[b >> 4];
            out += kDigits[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// One name of a journal line back, when it is a single name within the folder.
std::optional<std::filesystem::path::string_type> nameOf(std::string_view escaped) {
    std::string bytes;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            bytes += escaped[i];
            continue;
        }
        const int high = i + 2 < escaped.size() ? hexValue(escaped[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(escaped[i + 2]) : -1;
        if (low < 0) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    auto name = nameFromBytes(bytes);
    if (!name || name->empty() || std::any_of(name->begin(), name->end(), isSeparator) ||
        std::filesystem::path(*name) == "." || std::filesystem::path(*name) == "..") {
        return std::nullopt;
    }
    return name;
}

bool isThere(const std::optional<os::Entry>& entry) {
    return entry && entry->kind != os::EntryKind::none;
}

}  // namespace

void SwapSteps::plan(std::size_t killAfter, std::size_t failMove) {
    killAfter_ = killAfter;
    failMove_ = failMove;
    steps_ = 0;
    moves_ = 0;
}

bool SwapSteps::moved(bool ok) {
    if (ok) {
        done();
    }
    return ok;
}

bool SwapSteps::move(const std::filesystem::path& from, const std::filesystem::path& to) {
    return moved(++moves_ != failMove_ && os::moveEntry(from, to));
}

bool SwapSteps::moveToFreeName(const std::filesystem::path& from, const std::filesystem::path& to) {
    return moved(++moves_ != failMove_ && os::moveEntryToFreeName(from, to));
}

bool SwapSteps::remove(const std::filesystem::path& path) {
    return moved(os::removeEntry(path));
}

void SwapSteps::done() {
    // With a failing move planned, the steps after it are counted.
    if ((failMove_ == 0 || moves_ >= failMove_) && ++steps_ == killAfter_) {
        throw SwapKilled{};
    }
}

bool SwapJournal::write(const std::filesystem::path& path, const std::vector<SwapEntry>& entries,
                        SwapSteps& steps) {
    path_ = path;
    if (!file_.create(path)) {
        return false;
    }
    steps.done();  // made but still empty: as torn as a kill can leave it
    const std::string text = journalText(entries);
    if (!file_.write(text.data(), text.size())) {
        file_.close();
        os::removeEntry(path);
        return false;
    }
    written_ = true;
    steps.done();
    return true;
}

bool SwapJournal::remove(SwapSteps& steps) {
    if (!written_) {
        return true;
    }
    written_ = false;
    file_.close();  // Windows removes no file that is still open
    return steps.remove(path_);
}

void SwapJournal::abandon() {
    written_ = false;
    file_.close();
}

std::string journalText(const std::vector<SwapEntry>& entries) {
    std::string text(kHeader);
    for (const SwapEntry& entry : entries) {
        text += escapedName(entry.final) + '\t' + escapedName(entry.temporary) + '\t' +
                escapedName(entry.aside) + '\n';
    }
    return text + std::string(kEnd) + std::to_string(entries.size()) + '\n';
}

std::optional<std::vector<SwapEntry>> readJournal(
    std::string_view text, const std::filesystem::path& folder,
    const std::filesystem::path::string_type& ownPrefix) {
    if (!text.starts_with(kHeader)) {
        return std::nullopt;
    }
    text.remove_prefix(kHeader.size());
    std::vector<SwapEntry> entries;
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (line.starts_with(kEnd)) {
            const bool whole =
                text.empty() && line.substr(kEnd.size()) == std::to_string(entries.size());
            return whole ? std::optional(std::move(entries)) : std::nullopt;
        }
        const std::size_t first = line.find('\t');
        const std::size_t second = line.find('\t', first == line.npos ? first : first + 1);
        if (second == line.npos) {
            return std::nullopt;
        }
        const auto final = nameOf(line.substr(0, first));
        const auto temporary = nameOf(line.substr(first + 1, second - first - 1));
        const auto aside = nameOf(line.substr(second + 1));
        // A journal moves only its own transaction's files, and whatever sits at the final names.
        if (!final || !temporary || !aside || !temporary->starts_with(ownPrefix) ||
            !aside->starts_with(ownPrefix)) {
            return std::nullopt;
        }
        entries.push_back({folder / *final, folder / *temporary, folder / *aside});
    }
    return std::nullopt;  // torn before its last line
}

bool settleSwap(const std::vector<SwapEntry>& entries, SwapSteps& steps) {
    std::vector<bool> waiting;  // the new file still at its temporary
    for (const SwapEntry& entry : entries) {
        const auto temporary = os::entryAt(entry.temporary);
        if (!temporary) {
            return false;
        }
        waiting.push_back(isThere(temporary));
    }
    const bool finished = std::find(waiting.begin(), waiting.end(), true) == waiting.end();
    bool settled = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SwapEntry& entry = entries[i];
        if (!finished && !waiting[i] && isThere(os::entryAt(entry.final)) &&
            !steps.move(entry.final, entry.temporary)) {
            settled = false;
            continue;  // its earlier file stays aside rather than overwrite the new one
        }
        const auto aside = os::entryAt(entry.aside);
        if (!aside) {
            settled = false;
        } else if (isThere(aside)) {
            settled =
                (finished ? steps.remove(entry.aside) : steps.move(entry.aside, entry.final)) &&
                settled;
        }
    }
    return settled;
}

bool recoverJournal(const std::filesystem::path& path, SwapSteps& steps) {
    os::AbandonedFile file;
    if (!file.take(path)) {
        return false;
    }
    const auto text = file.read(kJournalLimit);
    if (!text) {
        return false;
    }
    auto prefix = path.stem().native();
    prefix += std::filesystem::path::value_type('.');
    // A torn journal was written before any move: only its temporaries are left, which the
    // search for abandoned temporaries removes.
    const auto entries = readJournal(*text, path.parent_path(), prefix);
    if (entries && !settleSwap(*entries, steps)) {
        return false;
    }
    file.close();  // Windows removes no file that is still open
    if (!steps.remove(path)) {
        return false;
    }
    for (const SwapEntry& entry : entries.value_or(std::vector<SwapEntry>{})) {
        steps.remove(entry.temporary);  // the undone files, and any left
    }
    return true;
}

}  // namespace vornakite
