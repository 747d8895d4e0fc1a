// Settings-file speed beside its physical reference: the whole-line lookup against a plain
// line-by-line read, and the port rewrite against a plain copy, on generated files of 1 KB, 1 MB
// and 64 MB. Run through scripts/bench.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/host_control.h"
#include "settings/port_rewrite.h"
#include "settings/reader.h"
#include "workspace/locations.h"

namespace {

const char kLastLine[] = "LastKey=found";
std::string root;

std::string SettingsPath() { return "C:\\Temp\\TempExpandedFiles\\install\\component.isf"; }
std::string HostSettingsPath() { return host::HostPath(SettingsPath()); }

// Writes a settings file of about `bytes` bytes, line by line so that memory stays flat.
void GenerateSettings(std::size_t bytes) {
  std::filesystem::create_directories(std::filesystem::path(HostSettingsPath()).parent_path());
  std::FILE* file = std::fopen(HostSettingsPath().c_str(), "wb");
  std::fputs("[Install]\r\nNetwork_Twain=1\r\nPort=CmdLine\r\n\r\n[Driver]\r\n", file);
  std::size_t written = 60;
  for (unsigned i = 0; written < bytes; ++i) {
    written += static_cast<std::size_t>(std::fprintf(file, "Setting%08u=Value of setting number %08u\r\n", i, i));
  }
  std::fputs(kLastLine, file);
  std::fputs("\r\n", file);
  std::fclose(file);
}

void Prepare(benchmark::State& state) {
  if (root.empty()) {
    char pattern[] = "/tmp/settings-bench-XXXXXX";
    root = mkdtemp(pattern);
  }
  host::Reset(root);
  host::SetEnvironment("TEMP", "C:\\Temp");
  GenerateSettings(static_cast<std::size_t>(state.range(0)));
  // The rewrite finds the settings file below the temporary directory the run resolved.
  if (!ResolveTemporaryDirectory().empty()) state.SkipWithError("temp did not resolve");
  state.SetBytesProcessed(0);
}

void Finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void SettingsFileHasLineLastKey(benchmark::State& state) {
  Prepare(state);
  for (auto _ : state) benchmark::DoNotOptimize(SettingsFileHasLine(kLastLine, SettingsPath()));
  Finish(state);
}

void PlainLineRead(benchmark::State& state) {
  Prepare(state);
  char* line = nullptr;
  std::size_t capacity = 0;
  for (auto _ : state) {
    std::FILE* file = std::fopen(HostSettingsPath().c_str(), "rb");
    std::size_t lines = 0;
    while (getline(&line, &capacity, file) != -1) ++lines;
    std::fclose(file);
    benchmark::DoNotOptimize(lines);
  }
  free(line);
  Finish(state);
}

void RewritePortConfigurationWhole(benchmark::State& state) {
  Prepare(state);
  // Each pass adds the port's sections, so every iteration starts again from the generated file.
  const std::string original = HostSettingsPath() + ".original";
  std::filesystem::copy_file(HostSettingsPath(), original);
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(original, HostSettingsPath(), std::filesystem::copy_options::overwrite_existing);
    state.ResumeTiming();
    if (!RewritePortConfiguration("IP_192.168.1.20", "192.168.1.20", false)) state.SkipWithError("the rewrite failed");
  }
  std::filesystem::remove(original);
  Finish(state);
}

// The same file work as the rewrite without its line logic: copy to a temporary file that then
// replaces the original.
void PlainCopy(benchmark::State& state) {
  Prepare(state);
  const std::string copy = HostSettingsPath() + ".tmp";
  static char buffer[64 * 1024];
  for (auto _ : state) {
    std::FILE* in = std::fopen(HostSettingsPath().c_str(), "rb");
    std::FILE* out = std::fopen(copy.c_str(), "wb");
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, in)) > 0) std::fwrite(buffer, 1, count, out);
    std::fclose(in);
    std::fclose(out);
    std::rename(copy.c_str(), HostSettingsPath().c_str());
  }
  Finish(state);
}

constexpr int64_t kKilobyte = 1024;
constexpr int64_t kMegabyte = 1024 * kKilobyte;

}  // namespace

BENCHMARK(SettingsFileHasLineLastKey)
    ->Arg(kKilobyte)
    ->Arg(kMegabyte)
    ->Arg(64 * kMegabyte)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PlainLineRead)->Arg(kKilobyte)->Arg(kMegabyte)->Arg(64 * kMegabyte)->Unit(benchmark::kMicrosecond);
BENCHMARK(RewritePortConfigurationWhole)
    ->Arg(kKilobyte)
    ->Arg(kMegabyte)
    ->Arg(64 * kMegabyte)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PlainCopy)->Arg(kKilobyte)->Arg(kMegabyte)->Arg(64 * kMegabyte)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!root.empty()) std::filesystem::remove_all(root);
  return 0;
}
