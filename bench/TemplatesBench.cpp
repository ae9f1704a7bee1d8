// TemplatesBench: to come.
#include <benchmark/benchmark.h>
BENCHMARK_MAIN();
