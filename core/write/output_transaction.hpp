// The files of one log's outputs, written as temporaries in the output folder and moved into
// place together, or not at all: a failure at any point leaves the earlier outputs of the same
// names exactly as they were and no temporary behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/conversion_error.hpp"
#include "os/files.hpp"
#include "write/swap_journal.hpp"

namespace vornakite {

// The messages one output's failures give.
struct OutputMessages {
    const char* cannotCreate;
    const char* cannotWrite;
};

inline constexpr OutputMessages kShapefileMessages = {"Failed to create shapefile outputs",
                                                      "Failed to write shapefile outputs"};
inline constexpr OutputMessages kSideFileMessages = {
    "Failed to write projection or code page file", "Failed to write projection or code page file"};

// The failure of a set that may not replace what is at its names (see commit).
inline constexpr const char* kSetExistsMessage = "Output set already exists";

// Every name this program gives a temporary, a set-aside old output or a commit's journal begins
// with this; nothing else does, since output names never begin with a full stop.
inline constexpr std::wstring_view kTemporaryPrefix = L".~vk-";

// A failure to create the output folder; unlike the other output failures it comes before the
// set's name is taken.
class OutputFolderError : public ConversionError {
  public:
    explicit OutputFolderError(const std::string& message)
        : ConversionError(ErrorCode::outputFolder, message) {}
};

// The folders of one batch whose abandoned temporaries have been removed already, so each
// folder is searched once per batch. Safe to share between threads.
class SweptFolders {
  public:
    // True the first time `folder` is named.
    bool firstVisit(const std::filesystem::path& folder);

  private:
    std::mutex mutex_;
    std::set<std::filesystem::path> visited_;
};

// Called by a commit, under the folder's lock and before anything moves, with each output name
// where an entry is already: throws (a ConversionError) to leave everything as it is.
using EntryCheck = std::function<void(const std::filesystem::path& name)>;

class OutputTransaction {
  public:
    // How long a conversion waits for another one that is moving its outputs into the same folder.
    static constexpr int kLockTimeoutMs = 30000;

    OutputTransaction(std::filesystem::path folder, SweptFolders* swept);
    // Removes every temporary, and the folders this transaction created if they are empty,
    // unless the outputs were committed.
    ~OutputTransaction();
    OutputTransaction(const OutputTransaction&) = delete;
    OutputTransaction& operator=(const OutputTransaction&) = delete;

    // Adds an output that will be named base path + `suffix` (".shp", "_clean.dbf"); returns
    // its number. All outputs are added before the first write.
    std::size_t add(std::wstring suffix, const OutputMessages& messages);
    // The number of outputs added so far.
    std::size_t outputCount() const { return outputs_.size(); }
    // Gives up every output from number `first` on (the last ones added, whose writers are gone
    // or never write again): their temporaries go at once and the commit leaves them out, while
    // the outputs before them are written and placed as ever.
    void dropFrom(std::size_t first);

    // Creates the output folder with its parents; throws OutputFolderError naming the folder and
    // the reason. Once it succeeded it does nothing.
    void createFolder();
    // Creates the folder and the temporaries of every output (once); throws the first output's
    // cannotCreate message. The first visit of a folder (in a batch) first settles the journals
    // of runs killed while they moved a set into place, then removes abandoned temporaries.
    void open();
    bool isOpen() const { return open_; }

    // Appends to output `file`, or writes at `offset` (after the last append); throw its
    // cannotWrite message.
    void write(std::size_t file, const char* data, std::size_t size);
    void writeAt(std::size_t file, std::uint64_t offset, const char* data, std::size_t size);

    // Closes the temporaries and moves every output into place at basePath + suffix, under an
    // exclusive lock of the folder: what sits at those names is moved aside first and removed
    // afterwards, or moved back if any output cannot be placed. The moves are written down in a
    // journal first, so that a run killed among them is finished or undone by the next run into
    // the folder (see open). A folder in the way, a read-only
    // file, or a file another program holds without sharing fails its output's cannotCreate.
    // Unless `replace`, any entry at one of those names fails the commit with kSetExistsMessage
    // and leaves everything there as it is; this is checked under the lock, so a set that
    // another program made while this one was being written is kept too; so is what `check`
    // refuses.
    void commit(const std::filesystem::path& basePath, bool replace = true,
                const EntryCheck& check = {});

    // For tests: the next commit, or the settling of killed runs in open, makes its
    // `failMove`-th move fail as a refusing system would, and stops dead after its `killAfter`-th
    // step that changes the folder (after the failed move, if one is planned), as a killed
    // process would: SwapKilled is thrown, nothing is cleaned up, the files and locks are let go.
    // 0: never.
    void injectFaults(std::size_t killAfter, std::size_t failMove) {
        steps_.plan(killAfter, failMove);
    }

  private:
    struct Output {
        std::wstring suffix;
        OutputMessages messages;
        std::filesystem::path temporary;
        os::OutputFile file;
        bool created = false;
    };

    void createFolderLocked();
    void moveIntoPlace(const std::vector<SwapEntry>& swap, bool replace, const EntryCheck& check);
    std::vector<bool> checkNames(const std::vector<SwapEntry>& swap, bool replace,
                                 const EntryCheck& check);
    // Puts every file of the swap back where it was before the commit began.
    void undo(const std::vector<SwapEntry>& swap);
    void writeJournal(const std::vector<SwapEntry>& swap);
    [[noreturn]] void undoAndFail(const std::vector<SwapEntry>& swap, const char* message,
                                  ErrorCode code = ErrorCode::outputFailed);
    void removeAbandonedTemporaries();
    void rollBack();
    [[noreturn]] void fail(const char* message, ErrorCode code = ErrorCode::outputFailed);

    std::filesystem::path folder_;
    SweptFolders* swept_;
    std::vector<std::unique_ptr<Output>> outputs_;
    std::vector<std::filesystem::path> createdFolders_;  // deepest first
    std::wstring token_;
    SwapJournal journal_;
    SwapSteps steps_;
    bool folderReady_ = false;
    bool open_ = false;
    bool committed_ = false;
    bool abandoned_ = false;  // left for the next run to settle, as a killed run leaves it
};

}  // namespace vornakite
