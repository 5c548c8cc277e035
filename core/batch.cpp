#include "batch.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

#include "convert.hpp"
#include "read/log_reader.hpp"
#include "text/text.hpp"

namespace vornakite {
namespace {

// Runs `count` tasks on up to `jobs` threads: each task is prepared on whichever thread takes
// it, and then finished in its turn, one task after another in task order. Tasks are taken in
// order, none once `stop` is set, so the tasks begun are always the first ones. `prepare(k,
// first)` is told whether every earlier task was finished when task k was taken.
template <typename Prepared>
class TurnRunner {
  public:
    using Prepare = std::function<Prepared(std::size_t, bool)>;
    using Finish = std::function<void(std::size_t, Prepared&)>;

    TurnRunner(std::size_t count, const std::atomic<bool>* stop, Prepare prepare, Finish finish)
        : count_(count), stop_(stop), prepare_(std::move(prepare)), finish_(std::move(finish)) {}

    // Returns when every task begun is finished; rethrows a failure outside the tasks' own.
    void run(unsigned jobs) {
        const std::size_t threads = std::min<std::size_t>(std::max(jobs, 1u), count_);
        std::vector<std::thread> helpers;
        helpers.reserve(threads);
        for (std::size_t t = 1; t < threads; ++t) {
            try {
                helpers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // the system gives no more threads: go on with those there are
            }
        }
        work();
        for (auto& helper : helpers) {
            helper.join();
        }
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

  private:
    void work() {
        try {
            for (;;) {
                std::size_t k = 0;
                bool first = false;
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    if (failure_ || next_ >= count_ || (stop_ != nullptr && stop_->load())) {
                        return;
                    }
                    k = next_++;
                    first = turn_ == k;
                }
                Prepared prepared = prepare_(k, first);
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    turnChanged_.wait(lock, [&] { return turn_ == k || failure_; });
                    if (failure_) {
                        return;
                    }
                }
                finish_(k, prepared);
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    ++turn_;
                }
                turnChanged_.notify_all();
            }
        } catch (...) {
            // Only running out of memory gets here: the batch ends with it.
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (!failure_) {
                    failure_ = std::current_exception();
                }
            }
            turnChanged_.notify_all();
        }
    }

    std::size_t count_;
    const std::atomic<bool>* stop_;
    Prepare prepare_;
    Finish finish_;
    std::mutex mutex_;
    std::condition_variable turnChanged_;
    std::size_t next_ = 0;  // the next task to take
    std::size_t turn_ = 0;  // the task whose turn it is
    std::exception_ptr failure_;
};

std::wstring processingLine(const std::filesystem::path& log) {
    return L"Processing " + fileNameOf(pathText(log)) + L"...";
}

// Each log converted on its own: prepared (read and written into temporaries) on any thread,
// then named, moved into place and reported in input order.
int convertEach(const std::vector<std::filesystem::path>& inputPaths,
                const std::filesystem::path& outputFolder, ProgressSink& sink,
                const LogOutcomeObserver& onLogDone, BatchContext& batch, unsigned jobs) {
    struct Prepared {
        std::optional<PreparedLog> log;
        bool announced = false;
    };
    int succeeded = 0;
    TurnRunner<Prepared> runner(
        inputPaths.size(), batch.stop,
        [&](std::size_t k, bool first) {
            Prepared prepared;
            if (first) {
                // Every earlier log is reported: this one's first line can go out at once.
                sink.postLine(processingLine(inputPaths[k]));
                prepared.announced = true;
            }
            prepared.log.emplace(prepareLog(inputPaths[k], outputFolder, batch));
            return prepared;
        },
        [&](std::size_t k, Prepared& prepared) {
            if (!prepared.announced) {
                sink.postLine(processingLine(inputPaths[k]));
            }
            const LogOutcome outcome = commitLog(std::move(*prepared.log), sink, batch);
            prepared.log.reset();
            if (outcome.converted) {
                ++succeeded;
            }
            if (onLogDone) {
                onLogDone(k, outcome);
            }
        });
    runner.run(jobs);
    return succeeded;
}

// Logs merged into one set per base name. The names come first, from the headers alone; then the
// logs are read in the order of their sets (the sets in the order of their first logs, each
// set's logs in input order), so that one set is written at a time, and each set is moved into
// place when its last log is in. A log is reported, in input order, once its set is placed.
class MergeRun {
  public:
    MergeRun(const std::vector<std::filesystem::path>& inputPaths,
             const std::filesystem::path& outputFolder, ProgressSink& sink,
             const LogOutcomeObserver& onLogDone, BatchContext& batch)
        : paths_(inputPaths),
          outputFolder_(outputFolder),
          sink_(sink),
          onLogDone_(onLogDone),
          batch_(batch),
          logs_(inputPaths.size()) {}

    int run(unsigned jobs) {
        readNames(jobs);
        TurnRunner<LoadedLog> runner(
            order_.size(), batch_.stop,
            [&](std::size_t j, bool) { return loadLog(paths_[order_[j]], batch_); },
            [&](std::size_t j, LoadedLog& loaded) {
                add(order_[j], loaded);
                loaded = LoadedLog{};
                turned_ = j + 1;
                report();
            });
        runner.run(jobs);
        // Stopped: the logs of sets that never got their last log fail, and what is reported
        // goes out, leaving out the logs never begun.
        for (Group& group : groups_) {
            if (group.set) {
                group.set.reset();
                for (std::size_t k : group.appended) {
                    fail(k, failureOf(ReadStopped()));
                }
            }
        }
        report(true);
        return succeeded_;
    }

  private:
    struct Group {
        std::wstring name;  // as the set's first log spells it
        std::vector<std::size_t> logs;
        std::vector<std::size_t> appended;
        std::unique_ptr<MergedSet> set;
        std::vector<std::pair<double, double>> centres;  // of the appended logs with positions
        std::shared_ptr<MergedAnalysis> merged;          // with keepAnalysis
    };
    struct Log {
        std::optional<std::size_t> group;
        bool done = false;
        bool announced = false;
        LogOutcome outcome;
    };

    void readNames(unsigned jobs) {
        std::map<std::wstring, std::size_t> groupOf;
        TurnRunner<LogName> runner(
            paths_.size(), batch_.stop,
            [&](std::size_t k, bool) { return readLogName(paths_[k], batch_.stop); },
            [&](std::size_t k, LogName& name) {
                if (name.failure.failed()) {
                    logs_[k].done = true;
                    logs_[k].outcome = failedLog(name.failure);
                    return;
                }
                const auto [at, added] = groupOf.try_emplace(nameKey(name.name), groups_.size());
                if (added) {
                    groups_.push_back(Group{name.name, {}, {}, {}, {}, {}});
                }
                groups_[at->second].logs.push_back(k);
                logs_[k].group = at->second;
            });
        runner.run(jobs);
        for (const Group& group : groups_) {
            order_.insert(order_.end(), group.logs.begin(), group.logs.end());
        }
    }

    void add(std::size_t k, const LoadedLog& loaded) {
        Group& group = groups_[*logs_[k].group];
        if (!group.set) {
            group.set = std::make_unique<MergedSet>(outputFolder_, group.name, batch_.options,
                                                    batch_.swept);
        }
        if (loaded.failure.failed()) {
            fail(k, loaded.failure);
        } else if (nameKey(loaded.name) != nameKey(group.name)) {
            fail(k, {ErrorCode::logChanged, "Log changed while it was converted", {}});
        } else if (Failure failure = group.set->append(loaded, paths_[k]); failure.failed()) {
            fail(k, failure);
        } else {
            LogOutcome& outcome = logs_[k].outcome;
            outcome.basePath = group.set->basePath();
            outcome.points = loaded.log->points.size();
            outcome.cleaningLine = loaded.cleaningLine;
            if (batch_.options.keepAnalysis) {
                outcome.analysed = loaded.log;
                if (!group.merged) {
                    group.merged = std::make_shared<MergedAnalysis>();
                }
                group.merged->logs.push_back(loaded.log);
                group.merged->logNames.push_back(loaded.log->logName);
            }
            if (loaded.hasCentre) {
                group.centres.emplace_back(loaded.centreLon, loaded.centreLat);
            }
            group.appended.push_back(k);
        }
        if (k != group.logs.back()) {
            return;
        }
        // The set's last log: place the set, unless no log made it in.
        const Failure failure =
            group.appended.empty() ? Failure{} : group.set->commit(keepLogs(batch_));
        std::vector<std::string> warnings;
        if (const std::string far = farApartWarning(group); !far.empty()) {
            warnings.push_back(far);
        }
        if (group.merged) {
            group.merged->surface = group.set->surface();
            group.merged->warnings = warnings;
        }
        group.set.reset();
        for (std::size_t member : group.appended) {
            if (!failure.failed()) {
                logs_[member].outcome.converted = true;
                logs_[member].outcome.merged = group.merged;
                logs_[member].done = true;
            } else {
                fail(member, failure);
            }
        }
        if (!failure.failed() && !group.appended.empty()) {
            logs_[group.appended.back()].outcome.warnings = std::move(warnings);
        }
        group.appended.clear();
        group.centres.clear();
        group.merged.reset();
    }

    // Logs merged under one name whose positions lie more than kFarApartMetres apart are most
    // likely different fields whose names reduce to the same set name.
    static constexpr double kFarApartMetres = 2000.0;
    std::string farApartWarning(const Group& group) const {
        double farthest = 0.0;
        for (std::size_t a = 0; a < group.centres.size(); ++a) {
            for (std::size_t b = a + 1; b < group.centres.size(); ++b) {
                farthest = std::max(farthest, metresBetween(group.centres[a], group.centres[b]));
            }
        }
        if (farthest <= kFarApartMetres) {
            return {};
        }
        char km[32];
        std::snprintf(km, sizeof km, "%.1f", farthest / 1000.0);
        return "Warning: the logs merged into " + toUtf8(group.name) + " lie up to " + km +
               " km apart: probably different fields that reduce to the same name";
    }
    // Great-circle distance between (longitude, latitude) pairs, on a sphere of the earth's
    // mean radius: plenty for telling fields apart.
    static double metresBetween(std::pair<double, double> a, std::pair<double, double> b) {
        constexpr double kRad = 3.14159265358979323846 / 180.0, kEarthRadius = 6371008.8;
        const double dLat = (b.second - a.second) * kRad, dLon = (b.first - a.first) * kRad;
        const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                         std::cos(a.second * kRad) * std::cos(b.second * kRad) *
                             std::sin(dLon / 2) * std::sin(dLon / 2);
        return 2.0 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
    }

    void fail(std::size_t k, const Failure& failure) {
        logs_[k].outcome = failedLog(failure);
        logs_[k].done = true;
    }

    // Posts the logs that are done, in input order, up to the first that is not; at the end, all
    // that are done.
    void report(bool atEnd = false) {
        for (; next_ < logs_.size(); ++next_) {
            Log& log = logs_[next_];
            if (!log.done) {
                if (!atEnd) {
                    // Being read now: its first line can go out.
                    if (!log.announced && log.group && position(next_) < turned_) {
                        sink_.postLine(processingLine(paths_[next_]));
                        log.announced = true;
                    }
                    return;
                }
                continue;
            }
            if (!log.announced) {
                sink_.postLine(processingLine(paths_[next_]));
            }
            const LogOutcome& outcome = log.outcome;
            if (!outcome.converted) {
                sink_.postLine(L"Error: " + widenText(outcome.error));
            } else {
                ++succeeded_;
                if (!outcome.cleaningLine.empty()) {
                    sink_.postLine(widenText(outcome.cleaningLine));
                }
                for (const std::string& warning : outcome.warnings) {
                    sink_.postLine(widenText(warning));
                }
            }
            if (onLogDone_) {
                onLogDone_(next_, outcome);
            }
        }
    }

    std::size_t position(std::size_t k) {
        if (positions_.empty()) {
            positions_.assign(logs_.size(), logs_.size());
            for (std::size_t j = 0; j < order_.size(); ++j) {
                positions_[order_[j]] = j;
            }
        }
        return positions_[k];
    }

    const std::vector<std::filesystem::path>& paths_;
    const std::filesystem::path& outputFolder_;
    ProgressSink& sink_;
    const LogOutcomeObserver& onLogDone_;
    BatchContext& batch_;
    std::vector<Log> logs_;
    std::vector<Group> groups_;
    std::vector<std::size_t> order_;      // the logs with a name, in the order they are read
    std::vector<std::size_t> positions_;  // of each log in order_
    std::size_t turned_ = 0;              // the logs of order_ whose turn is over
    std::size_t next_ = 0;                // the first log not yet reported
    int succeeded_ = 0;
};

}  // namespace

int runConversionBatch(const std::vector<std::filesystem::path>& inputPaths,
                       const std::filesystem::path& outputFolder, const std::wstring& folderLabel,
                       ProgressSink& sink, const LogOutcomeObserver& onLogDone,
                       const std::atomic<bool>* stop, const BatchOptions& options) {
    BatchContext batch;
    batch.options = options.conversion;
    // With a log per core, no core is left for a log's writing thread.
    batch.options.writeInBackground =
        batch.options.writeInBackground && (options.jobs <= 1 || inputPaths.size() <= 1);
    batch.stop = stop;
    rememberLogFiles(batch, inputPaths);
    const int succeeded =
        options.merge ? MergeRun(inputPaths, outputFolder, sink, onLogDone, batch).run(options.jobs)
                      : convertEach(inputPaths, outputFolder, sink, onLogDone, batch, options.jobs);
    std::wostringstream summary;
    summary << L"Conversion complete: " << succeeded << L"/" << inputPaths.size()
            << L" files processed successfully. Outputs in " << folderLabel << L".";
    sink.postLine(summary.str());
    sink.postBatchDone(succeeded);
    return succeeded;
}

}  // namespace vornakite
