// Time of one key read from SETUP.INI-like files of growing size: one very
// long line, or very many short ones, before the wanted key. The time per
// megabyte should stay flat as the file grows (a linear scan).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/files.h"
#include "platform/ini.h"
#include "sim/sim.h"

namespace {

std::string MakeFolder() {
  static std::string folder;
  if (folder.empty()) {
    char pattern[] = "/tmp/ini-bench-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    folder = pattern;
    atexit([] { rmdir(folder.c_str()); });
    HostMapDrive('C', folder.c_str());
  }
  return folder;
}

size_t WriteFile(const char* name, const std::string& text) {
  FILE* f = fopen((MakeFolder() + "/" + name).c_str(), "wb");
  if (!f) abort();
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  return text.size();
}

void Run(benchmark::State& state, const char* name, const char* key, size_t bytes) {
  char value[1024];
  std::string path = std::string("C:\\") + name;
  for (auto _ : state) {
    u32 count = OsReadIniString("SETUP", key, "", value, sizeof value, path.c_str());
    benchmark::DoNotOptimize(count);
    if (!count) state.SkipWithError("key not found");
  }
  state.SetBytesProcessed((int64_t)(state.iterations() * bytes));
  unlink((MakeFolder() + "/" + name).c_str());
}

void LongLine(benchmark::State& state) {
  const size_t megabytes = (size_t)state.range(0);
  std::string text = "[SETUP]\r\nLong=" + std::string(megabytes << 20, 'x') + "\r\nKey=after\r\n";
  Run(state, "long.ini", "Key", WriteFile("long.ini", text));
}

void LongValue(benchmark::State& state) {
  const size_t megabytes = (size_t)state.range(0);
  std::string text = "[SETUP]\r\nLong=" + std::string(megabytes << 20, 'x') + "\r\n";
  Run(state, "value.ini", "Long", WriteFile("value.ini", text));
}

void ManyLines(benchmark::State& state) {
  const size_t megabytes = (size_t)state.range(0);
  std::string text = "[SETUP]\r\n";
  for (int i = 0; text.size() < (megabytes << 20); ++i)
    text += "Key" + std::to_string(i) + "=some value, 1:file.dat\r\n";
  text += "Wanted=v\r\n";
  Run(state, "many.ini", "Wanted", WriteFile("many.ini", text));
}

}  // namespace

BENCHMARK(LongLine)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(LongValue)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(ManyLines)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
