#include "write/output_transaction.hpp"

#include <algorithm>
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
    if (!committed_ && !abandoned_) {
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

void OutputTransaction::dropFrom(std::size_t first) {
    while (outputs_.size() > first) {
        Output& output = *outputs_.back();
        if (output.created) {
            output.file.close();  // Windows removes no file that is still open
            os::removeEntry(output.temporary);
        }
        outputs_.pop_back();
    }
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
    std::vector<SwapEntry> swap;
    for (const auto& output : outputs_) {
        swap.push_back({withSuffix(basePath, output->suffix), output->temporary,
                        withSuffix(output->temporary, L".old")});
    }
    try {
        moveIntoPlace(swap, replace, check);
    } catch (const SwapKilled&) {
        journal_.abandon();
        abandoned_ = true;
        throw;
    }
}

void OutputTransaction::moveIntoPlace(const std::vector<SwapEntry>& swap, bool replace,
                                      const EntryCheck& check) {
    // A single file that takes a free name with one move needs no journal: that move happens
    // whole or not at all.
    if (swap.size() > 1) {
        writeJournal(swap);
    }
    // Where every name is free (a first conversion), each temporary simply takes its name.
    std::size_t placed = 0;
    while (placed < swap.size() &&
           steps_.moveToFreeName(swap[placed].temporary, swap[placed].final)) {
        ++placed;
    }
    if (placed == swap.size()) {
        committed_ = true;
        journal_.remove(steps_);
        return;
    }
    // Something is in the way: back to the temporaries, the careful way.
    if (placed > 0 && !settleSwap(swap, steps_)) {
        undoAndFail(swap, outputs_[placed]->messages.cannotCreate);
    }
    const std::vector<bool> occupied = checkNames(swap, replace, check);
    writeJournal(swap);
    for (std::size_t i = 0; i < swap.size(); ++i) {
        if (occupied[i] && !steps_.move(swap[i].final, swap[i].aside)) {
            // Another program holds it without sharing: leave the earlier set as it was.
            undoAndFail(swap, outputs_[i]->messages.cannotCreate);
        }
    }
    for (std::size_t i = 0; i < swap.size(); ++i) {
        if (!steps_.move(swap[i].temporary, swap[i].final)) {
            undoAndFail(swap, outputs_[i]->messages.cannotCreate);
        }
    }
    committed_ = true;
    bool removed = true;
    for (std::size_t i = 0; i < swap.size(); ++i) {
        if (occupied[i]) {
            removed = steps_.remove(swap[i].aside) && removed;
        }
    }
    if (removed) {
        journal_.remove(steps_);
    } else {
        journal_.abandon();  // the next run into this folder removes what is left aside
    }
}

std::vector<bool> OutputTransaction::checkNames(const std::vector<SwapEntry>& swap, bool replace,
                                                const EntryCheck& check) {
    // Everything that can be told beforehand is checked before anything moves.
    std::vector<bool> occupied(swap.size(), false);
    for (std::size_t i = 0; i < swap.size(); ++i) {
        const auto entry = os::entryAt(swap[i].final);
        if (entry && entry->kind != os::EntryKind::none && !replace) {
            undoAndFail(swap, kSetExistsMessage, ErrorCode::outputExists);
        }
        if (!entry || entry->kind == os::EntryKind::folder || entry->readOnly) {
            undoAndFail(swap, outputs_[i]->messages.cannotCreate);
        }
        occupied[i] = entry->kind != os::EntryKind::none;
        if (check && occupied[i]) {
            try {
                check(swap[i].final);
            } catch (...) {
                undo(swap);
                throw;
            }
        }
    }
    return occupied;
}

void OutputTransaction::writeJournal(const std::vector<SwapEntry>& swap) {
    // Where there is no room even for the journal (a full disk), the moves go on without one,
    // unguarded against a kill among them, rather than fail a set that can be placed.
    if (!journal_.isWritten()) {
        journal_.write(folder_ / (std::wstring(kTemporaryPrefix) + token_ + L".journal"), swap,
                       steps_);
    }
}

void OutputTransaction::undoAndFail(const std::vector<SwapEntry>& swap, const char* message,
                                    ErrorCode code) {
    undo(swap);
    fail(message, code);
}

void OutputTransaction::undo(const std::vector<SwapEntry>& swap) {
    if (!settleSwap(swap, steps_) || !journal_.remove(steps_)) {
        // Not whole yet: the journal and every file it names stay for the next run to settle.
        journal_.abandon();
        abandoned_ = true;
    }
}

void OutputTransaction::removeAbandonedTemporaries() {
    const os::FolderLock lock(folder_, true, kLockTimeoutMs);
    if (!lock.acquired()) {
        return;  // another conversion is busy here; the next visit sweeps
    }
    static const std::filesystem::path journal(".journal");
    static const std::filesystem::path aside(".old");
    const auto found = os::entriesStartingWith(folder_, kTemporaryPrefix);
    // First the journals of runs killed among their moves: each brings its set back whole. A
    // journal that stays (its owner lives, or it could not be settled) keeps every file of its
    // transaction.
    std::vector<std::filesystem::path::string_type> kept;
    for (const auto& path : found) {
        if (path.extension() == journal && !recoverJournal(path, steps_)) {
            kept.push_back(path.stem().native() + std::filesystem::path::value_type('.'));
        }
    }
    for (const auto& path : found) {
        const auto name = path.filename().native();
        // An aside file without a journal was left by an earlier version of this program killed
        // between its moves: it may be the only copy of an earlier output, so it stays.
        if (path.extension() == journal || path.extension() == aside ||
            std::any_of(kept.begin(), kept.end(),
                        [&](const auto& prefix) { return name.starts_with(prefix); })) {
            continue;
        }
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
