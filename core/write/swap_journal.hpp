// The journal of one commit's moves, written in the output folder before the first move, so that
// a run killed among the moves is finished or undone by the next run into that folder: the set at
// those names is then the earlier one or the new one, whole, never a mix.
//
// The journal is `.~vk-<token>.journal`, UTF-8 text, one line each:
//   ~vk swap journal 1
//   <final name> TAB <temporary> TAB <aside name>      (one line per output)
//   end <number of outputs>
// The names are those within the output folder, as UTF-8 with every byte outside printable ASCII,
// and '%', written as %XX. A journal without its whole last line was torn while it was written,
// before any move, and is simply dropped.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/files.hpp"

namespace vornakite {

// One output of a commit: the new file waits at `temporary`; whatever was at `final` is moved to
// `aside` while the new file takes its place.
struct SwapEntry {
    std::filesystem::path final;
    std::filesystem::path temporary;
    std::filesystem::path aside;
};

// Thrown where a test stops a commit dead, as if the process had been killed there.
struct SwapKilled {};

// The steps of a commit or of a recovery that change the folder, counted so that a test can stop
// it dead after any step, or make one move fail as a refusing system would. Untouched, each is
// the plain file operation.
class SwapSteps {
  public:
    // Move `failMove` fails; SwapKilled is thrown after step `killAfter`, counted from that
    // failed move on when there is one (0: never).
    void plan(std::size_t killAfter, std::size_t failMove);

    bool move(const std::filesystem::path& from, const std::filesystem::path& to);
    bool moveToFreeName(const std::filesystem::path& from, const std::filesystem::path& to);
    bool remove(const std::filesystem::path& path);
    // Counts a step done otherwise.
    void done();

  private:
    bool moved(bool ok);

    std::size_t killAfter_ = 0;
    std::size_t failMove_ = 0;
    std::size_t steps_ = 0;
    std::size_t moves_ = 0;
};

// The journal a commit writes and holds (a live owner, as of its temporaries) while it moves.
class SwapJournal {
  public:
    // Creates and writes the journal at `path`; false when that fails (what was made is removed).
    bool write(const std::filesystem::path& path, const std::vector<SwapEntry>& entries,
               SwapSteps& steps);
    bool isWritten() const { return written_; }
    // The commit or its undoing is over: the journal goes. False when it cannot be removed.
    bool remove(SwapSteps& steps);
    // Lets go of the journal and leaves it in the folder, for the next run to settle.
    void abandon();

  private:
    std::filesystem::path path_;
    os::OutputFile file_;
    bool written_ = false;
};

// The journal's text, and the entries it names back (within `folder`); nullopt for a torn or
// foreign text, or one whose temporaries and aside names do not begin with `ownPrefix`, the
// journal's own name up to its token's end.
std::string journalText(const std::vector<SwapEntry>& entries);
std::optional<std::vector<SwapEntry>> readJournal(
    std::string_view text, const std::filesystem::path& folder,
    const std::filesystem::path::string_type& ownPrefix);

// Brings the entries to one whole set. When no temporary is left every new file had taken its
// name: the commit is finished by removing the aside files. Otherwise it is undone: the new files
// placed go back to their temporaries and the aside files back to their names. False when a step
// failed or a name could not be examined; the journal must then stay.
bool settleSwap(const std::vector<SwapEntry>& entries, SwapSteps& steps);

// Settles the journal at `path` left by a run that ended, and removes it and its temporaries.
// False while its owner lives, or when it could not be settled: then everything it names stays.
bool recoverJournal(const std::filesystem::path& path, SwapSteps& steps);

}  // namespace vornakite
