// LoggerBench: lines per second written to a file by several producer threads, through the
// detached writer and, for comparison, by the producers themselves.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ZRLogger.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRLogger;

namespace {

constexpr int kLinesPerProducer = 20000;

std::string MakeTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "loggerbench.XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// Each iteration: the producers write their lines, then every line is on its way to disk
// (detached: the writer has drained the queue).
void WriteLines(benchmark::State& state, bool detached) {
    const int producers = static_cast<int>(state.range(0));
    const std::string folder = MakeTempFolder();
    if (folder.empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    zrLogger logger;
    SetLoggerBasePath(&logger, folder);
    SetLoggerFile(&logger, "bench.log");
    CreateLogger(&logger, 2, kLogToFile);
    SetLoggerDetachedStatus(&logger, detached);

    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (int p = 0; p < producers; ++p) {
            threads.emplace_back([&logger, p] {
                for (int i = 0; i < kLinesPerProducer; ++i) {
                    AddLogEntry(&logger, 1, "bench", "producer %d line %d of the run", p, i);
                }
            });
        }
        for (auto& t : threads)
            t.join();
        FlushDetachedThread(&logger);
    }
    DestroyLogger(&logger);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    state.SetItemsProcessed(state.iterations() * producers * kLinesPerProducer);
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * producers * kLinesPerProducer),
                           benchmark::Counter::kIsRate);
}

void BM_DetachedLogger(benchmark::State& state) {
    WriteLines(state, true);
}
void BM_DirectLogger(benchmark::State& state) {
    WriteLines(state, false);
}

}  // namespace

BENCHMARK(BM_DetachedLogger)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectLogger)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
