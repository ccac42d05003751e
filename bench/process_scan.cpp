// The cost of one foreground snapshot of a terminal (`ProcessInspector::snapshot`, which a paste
// takes four times, and thirteen times through local tmux), with the machine's own processes
// (about 150 here) and with 2,000 extra sleeping ones. Beside it, the floor it stands on: one thread
// opening, reading and closing every /proc/<pid>/stat once. Prints each snapshot's time as a
// ratio of that floor and the cost per process in the table.
#include "session/ProcessInspector.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <pty.h>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tarpelix;

namespace {

// Sleeping children that only fill the process table.
class Crowd {
public:
    ~Crowd() { resize(0); }
    void resize(std::size_t count) {
        while (children_.size() < count) {
            pid_t child = ::fork();
            if (child < 0) std::abort();
            if (child == 0) {
                for (;;) ::pause();
            }
            children_.push_back(child);
        }
        while (children_.size() > count) {
            ::kill(children_.back(), SIGKILL);
            ::waitpid(children_.back(), nullptr, 0);
            children_.pop_back();
        }
    }

private:
    std::vector<pid_t> children_;
};

// A pseudo-terminal whose foreground process is a sleeping program.
class Terminal {
public:
    Terminal() {
        char name[256];
        child_ = ::forkpty(&master_, name, nullptr, nullptr);
        if (child_ < 0) std::abort();
        if (child_ == 0) {
            ::execl("/bin/sleep", "sleep", "100000", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        tty_ = name;
        // Until the child has become sleep, the snapshot fails or shows this program.
        for (int attempt = 0; attempt < 5000; ++attempt) {
            try {
                auto snapshot = ProcessInspector().snapshot(tty_);
                if (snapshot.processes.size() == 1 && snapshot.processes[0].executable == "/usr/bin/sleep") return;
            } catch (const std::exception&) {
            }
            ::usleep(1000);
        }
        std::fprintf(stderr, "process_scan: the terminal's program never started\n");
        std::abort();
    }
    ~Terminal() {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
        ::close(master_);
    }
    const std::string& tty() const { return tty_; }

private:
    pid_t child_ = -1;
    int master_ = -1;
    std::string tty_;
};

Crowd* crowd = nullptr;
Terminal* terminal = nullptr;

std::size_t processCount() {
    std::size_t count = 0;
    DIR* dir = ::opendir("/proc");
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') ++count;
    ::closedir(dir);
    return count;
}

void reportPerProcess(benchmark::State& state) {
    auto processes = static_cast<double>(processCount());
    state.counters["processes"] = processes;
    // Seconds per process in the table.
    state.counters["per_process"] =
        benchmark::Counter(processes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Snapshot(benchmark::State& state) {
    crowd->resize(static_cast<std::size_t>(state.range(0)));
    const ProcessInspector inspector;
    for (auto _ : state) benchmark::DoNotOptimize(inspector.snapshot(terminal->tty()));
    reportPerProcess(state);
}

// The floor: every stat file of the table opened, read once and closed, on one thread, with
// nothing parsed.
void BM_BareStatReads(benchmark::State& state) {
    crowd->resize(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        int root = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = ::fdopendir(::fcntl(root, F_DUPFD_CLOEXEC, 0));
        char buffer[1024];
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
            char path[sizeof entry->d_name + 8];
            std::snprintf(path, sizeof path, "%s/stat", entry->d_name);
            int fd = ::openat(root, path, O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
            ::close(fd);
        }
        ::closedir(dir);
        ::close(root);
    }
    reportPerProcess(state);
}

BENCHMARK(BM_BareStatReads)->Arg(0)->Arg(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Snapshot)->Arg(0)->Arg(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Collects the times of the runs to print the ratios after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // The median of repetitions when there are any, else the one run.
        for (const auto& run : runs) {
            auto name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times[name] = run.GetAdjustedRealTime();
                medians.insert(name);
            } else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !medians.count(name)) {
                times[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::set<std::string> medians;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Crowd extras;
    Terminal pty;
    crowd = &extras;
    terminal = &pty;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* extra : {"0", "2000"}) {
        auto snapshot = reporter.times.find(std::string("BM_Snapshot/") + extra + "/real_time");
        auto floor = reporter.times.find(std::string("BM_BareStatReads/") + extra + "/real_time");
        if (snapshot == reporter.times.end() || floor == reporter.times.end() || floor->second <= 0) continue;
        std::printf("snapshot / one-thread stat reads, %s extra processes: %.2f\n", extra,
                    snapshot->second / floor->second);
    }
    crowd = nullptr;
    terminal = nullptr;
    benchmark::Shutdown();
    return 0;
}
