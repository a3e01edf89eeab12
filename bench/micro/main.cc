// tarnsek_micro: micro-benchmarks of record scanning, key computation, the
// chunk sort and the merge, on data made in memory from a fixed seed.
//
//   tarnsek_micro [Google Benchmark flags, e.g. --benchmark_filter=Sort
//                  --benchmark_repetitions=5 --benchmark_out=micro.json]
//
// The tool logs every file it opens and every merge step on standard output,
// so standard output is sent to /dev/null once the flags are read, and the
// benchmark report goes to standard error instead (--benchmark_out still
// writes its file). Scratch files go to a directory under $TMPDIR (or /tmp),
// removed at the end. Every input is valid: a failure of the tool would end
// the process.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "micro_data.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!std::freopen("/dev/null", "w", stdout)) {
    std::perror("/dev/null");
    return 1;
  }
  const bool color = isatty(STDERR_FILENO) != 0;
  benchmark::ConsoleReporter reporter(color ? benchmark::ConsoleReporter::OO_ColorTabular
                                            : benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  RemoveScratchDirectory();
  return 0;
}
