#include "write/output_transaction.hpp"

#include <atomic>
#include <chrono>
#include <random>
#include <system_error>

#include "text/text.hpp"

namespace vornakite {
namespace {

std::wstring hex(std::uint64_t value) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring out;
    do {
        out.insert(out.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return out;
}

// A name part no other transaction, in this process or another, uses at the same time: the
// process, a counter, and random bits against a process number that the system reuses.
std::wstring newToken() {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device() ^
               static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    const std::uint64_t n = counter.fetch_add(1);
    return hex(os::processId()) + L"-" + hex(n) + L"-" +
           hex((seed ^ (n * 0x9E3779B97F4A7C15ull)) >> 44);
}

// Held while this process makes output folders and their temporaries, while a failed
// transaction removes the folders it made, and while a transaction moves its outputs into place:
// so one transaction never removes a folder, empty a moment before, in which another is about to
// create its temporaries; and threads of this process wait for each other here rather than poll
// for the lock of the folder, which only other processes then hold.
std::mutex& folderMutex() {
    static std::mutex mutex;
    return mutex;
}

std::filesystem::path withSuffix(const std::filesystem::path& base, const std::wstring& suffix) {
    std::filesystem::path p = base;
    p += suffix;
    return p;
}

}  // namespace

bool SweptFolders::firstVisit(const std::filesystem::path& folder) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return visited_.insert(folder).second;
}

OutputTransaction::OutputTransaction(std::filesystem::path folder, SweptFolders* swept)
    : folder_(folder.empty() ? std::filesystem::path(".") : std::move(folder)),
      swept_(swept),
      token_(newToken()) {}

OutputTransaction::~OutputTransaction() {
    if (!committed_) {
        rollBack();
    }
}

std::size_t OutputTransaction::add(std::wstring suffix, const OutputMessages& messages) {
    auto output = std::make_unique<Output>();
    output->suffix = std::move(suffix);
    output->messages = messages;
    output->temporary = folder_ / (std::wstring(kTemporaryPrefix) + token_ + L"." +
                                   std::to_wstring(outputs_.size()));
    outputs_.push_back(std::move(output));
    return outputs_.size() - 1;
}

void OutputTransaction::createFolder() {
    const std::lock_guard<std::mutex> lock(folderMutex());
    createFolderLocked();
}

void OutputTransaction::createFolderLocked() {
    if (folderReady_) {
        return;
    }
    // The folders that are missing now are the ones this transaction creates, and removes again
    // if it fails.
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path p = folder_; !p.empty() && p != p.parent_path();
         p = p.parent_path()) {
        const auto entry = os::entryAt(p);
        if (entry && entry->kind == os::EntryKind::folder && p == folder_) {
            folderReady_ = true;  // there already, as for every log of a batch after the first
            return;
        }
        if (!entry || entry->kind != os::EntryKind::none) {
            break;
        }
        missing.push_back(p);
    }
    try {
        std::filesystem::create_directories(folder_);
    } catch (const std::filesystem::filesystem_error& e) {
        // Name the operation and the folder in UTF-8, the same on every platform.
        throw OutputFolderError("create_directories: " + e.code().message() + " [" +
                                toUtf8(pathText(folder_)) + "]");
    }
    createdFolders_ = std::move(missing);
    folderReady_ = true;
}

void OutputTransaction::open() {
    if (open_) {
        return;
    }
    const std::lock_guard<std::mutex> made(folderMutex());
    if (folderReady_) {
        // Another transaction of this process that failed may have removed the folder, empty
        // then, since this one saw it: make it again, as this transaction's own.
        const auto entry = os::entryAt(folder_);
        folderReady_ = !entry || entry->kind != os::EntryKind::none;
    }
    createFolderLocked();
    if (swept_ == nullptr || swept_->firstVisit(folder_)) {
        removeAbandonedTemporaries();
    }
    // Shared with other creators, exclusive of a search for abandoned temporaries, so none takes
    // a file between its creation and its first hold.
    const os::FolderLock lock(folder_, false, kLockTimeoutMs);
    for (auto& output : outputs_) {
        if (!output->file.create(output->temporary)) {
            fail(output->messages.cannotCreate);
        }
        output->created = true;
    }
    open_ = true;
}

void OutputTransaction::write(std::size_t file, const char* data, std::size_t size) {
    Output& output = *outputs_[file];
    if (!output.file.write(data, size)) {
        fail(output.messages.cannotWrite);
    }
}

void OutputTransaction::writeAt(std::size_t file, std::uint64_t offset, const char* data,
                                std::size_t size) {
    Output& output = *outputs_[file];
    if (!output.file.writeAt(offset, data, size)) {
        fail(output.messages.cannotWrite);
    }
}

void OutputTransaction::commit(const std::filesystem::path& basePath, bool replace,
                               const EntryCheck& check) {
    open();
    const std::lock_guard<std::mutex> moving(folderMutex());
    const os::FolderLock lock(folder_, true, kLockTimeoutMs);
    if (!lock.acquired()) {
        fail("Output folder is locked by another conversion", ErrorCode::folderLocked);
    }
    // Closed under the lock, so no search for abandoned temporaries can take them now.
    for (auto& output : outputs_) {
        if (!output->file.close()) {
            fail(output->messages.cannotWrite);
        }
    }

    std::vector<std::filesystem::path> finals;
    for (const auto& output : outputs_) {
        finals.push_back(withSuffix(basePath, output->suffix));
    }
    // Where every name is free (a first conversion), each temporary simply takes its name.
    std::size_t placed = 0;
    while (placed < outputs_.size() &&
           os::moveEntryToFreeName(outputs_[placed]->temporary, finals[placed])) {
        ++placed;
    }
    if (placed == outputs_.size()) {
        committed_ = true;
        return;
    }
    while (placed > 0) {  // something is in the way: back to the temporaries, the careful way
        --placed;
        os::moveEntry(finals[placed], outputs_[placed]->temporary);
    }
    // Everything that can be told beforehand is checked before anything moves.
    std::vector<bool> occupied(outputs_.size(), false);
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        const auto entry = os::entryAt(finals[i]);
        if (entry && entry->kind != os::EntryKind::none && !replace) {
            fail(kSetExistsMessage, ErrorCode::outputExists);
        }
        if (!entry || entry->kind == os::EntryKind::folder || entry->readOnly) {
            fail(outputs_[i]->messages.cannotCreate);
        }
        if (check && entry->kind != os::EntryKind::none) {
            check(finals[i]);
        }
        occupied[i] = entry->kind != os::EntryKind::none;
    }

    auto asideOf = [&](std::size_t i) { return withSuffix(outputs_[i]->temporary, L".old"); };
    std::size_t movedAside = 0;
    auto restoreAside = [&] {
        for (std::size_t j = 0; j < movedAside; ++j) {
            if (occupied[j]) {
                os::moveEntry(asideOf(j), finals[j]);
            }
        }
    };
    for (; movedAside < outputs_.size(); ++movedAside) {
        const std::size_t i = movedAside;
        if (occupied[i] && !os::moveEntry(finals[i], asideOf(i))) {
            // Another program holds it without sharing: leave the earlier set as it was.
            restoreAside();
            fail(outputs_[i]->messages.cannotCreate);
        }
    }
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        if (!os::moveEntry(outputs_[i]->temporary, finals[i])) {
            for (std::size_t j = 0; j < i; ++j) {
                os::moveEntry(finals[j], outputs_[j]->temporary);
            }
            restoreAside();
            fail(outputs_[i]->messages.cannotCreate);
        }
    }
    committed_ = true;
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        if (occupied[i]) {
            os::removeEntry(asideOf(i));
        }
    }
}

void OutputTransaction::removeAbandonedTemporaries() {
    const os::FolderLock lock(folder_, true, kLockTimeoutMs);
    if (!lock.acquired()) {
        return;  // another conversion is busy here; the next visit sweeps
    }
    for (const auto& path : os::entriesStartingWith(folder_, kTemporaryPrefix)) {
        os::removeIfAbandoned(path);
    }
}

void OutputTransaction::rollBack() {
    for (auto& output : outputs_) {
        if (output->created) {
            output->file.close();  // Windows removes no file that is still open
            os::removeEntry(output->temporary);
        }
    }
    const std::lock_guard<std::mutex> lock(folderMutex());
    for (const auto& folder : createdFolders_) {
        std::error_code ec;
        std::filesystem::remove(folder, ec);  // only while empty
    }
}

void OutputTransaction::fail(const char* message, ErrorCode code) {
    throw ConversionError(code, message);
}

}  // namespace vornakite
