// Road loading of whole game folders, beside a baseline measured in the same run: reading the
// same archive and index files' bytes from the page cache. Each measurement runs in a child
// process of its own, so its peak memory is its own.
//
//   pathlight-bench-roads [--repeat N] GAME-FOLDER...
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_row.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "roads/game_files.hpp"
#include "roads/road_loader.hpp"

namespace {

namespace fs = std::filesystem;

struct Measure {
  double ms = 0;
  double peakMb = 0;   // the child's peak resident set
  double startMb = 0;  // its resident set before the work
  double nodes = 0;
  double segments = 0;
  double graphBytes = 0;
  double bytesRead = 0;
  std::uint64_t digest = 0;  // RoadGraphDigest of the loaded graph
};

double ResidentMb() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

std::vector<fs::path> ArchiveFiles(const fs::path& game) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(game)) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() && (ext == ".paz" || ext == ".pamt")) files.push_back(entry.path());
  }
  return files;
}

// The baseline: every index and archive read whole, one at a time, as plain bytes.
Measure ReadFiles(const std::vector<fs::path>& files) {
  Measure m;
  const auto start = std::chrono::steady_clock::now();
  std::vector<char> buffer;
  for (const fs::path& file : files) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) continue;
    buffer.resize(fs::file_size(file));
    m.bytesRead += static_cast<double>(std::fread(buffer.data(), 1, buffer.size(), f));
    std::fclose(f);
  }
  m.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return m;
}

Measure LoadGame(const fs::path& game) {
  Measure m;
  const auto start = std::chrono::steady_clock::now();
  const pathlight::LoadedRoads loaded = pathlight::LoadRoadNetwork(pathlight::WidePathFromNative(game.string()));
  m.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  m.nodes = static_cast<double>(loaded.graph.nodes.size());
  m.segments = static_cast<double>(loaded.graph.segments.size());
  m.graphBytes = static_cast<double>(loaded.graph.MemoryBytes());
  m.digest = pathlight::RoadGraphDigest(loaded.graph);
  return m;
}

// Runs work in a child process and returns its measure (timed by the work itself) with the peak
// memory.
template <class F> Measure InChild(F work) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) std::exit(1);
  std::fflush(stdout);  // or the child would print the parent's buffered lines again
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    // The loader's log lines go to standard output; they are not part of the figures.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(1);
    const double startMb = ResidentMb();
    Measure m = work();
    m.startMb = startMb;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    m.peakMb = static_cast<double>(usage.ru_maxrss) / 1024;
    if (write(pipeFds[1], &m, sizeof m) != sizeof m) _exit(1);
    _exit(0);
  }
  close(pipeFds[1]);
  Measure m;
  if (read(pipeFds[0], &m, sizeof m) != sizeof m) {
    std::fprintf(stderr, "bench: a measurement failed\n");
    std::exit(1);
  }
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  return m;
}

Measure Median(std::vector<Measure> runs) {
  std::sort(runs.begin(), runs.end(), [](const Measure& a, const Measure& b) { return a.ms < b.ms; });
  return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 5;
  std::vector<fs::path> games;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
      repeat = std::max(1, std::atoi(argv[++i]));
    else
      games.emplace_back(argv[i]);
  }
  if (games.empty()) {
    std::fprintf(stderr, "usage: pathlight-bench-roads [--repeat N] GAME-FOLDER...\n");
    return 2;
  }
  std::printf("%-28s %10s %10s %9s %9s %7s %9s %9s %9s %9s  %s\n", "world", "nodes", "segments", "read ms", "load ms",
              "ratio", "read MB", "load MB", "graph B/n", "peak B/n", "digest");
  for (const fs::path& game : games) {
    const std::vector<fs::path> files = ArchiveFiles(game);
    (void)InChild([&] { return ReadFiles(files); });  // into the page cache
    std::vector<Measure> reads, loads;
    for (int r = 0; r < repeat; ++r) {
      // Interleaved, so a machine that slows down mid-run slows both alike.
      reads.push_back(InChild([&] { return ReadFiles(files); }));
      loads.push_back(InChild([&] { return LoadGame(game); }));
    }
    const Measure read = Median(reads), load = Median(loads);
    const double loadGrowth = (load.peakMb - load.startMb) * (1 << 20);
    std::printf("%-28s %10.0f %10.0f %9.1f %9.1f %6.1fx %9.1f %9.1f %9.1f %9.1f  %016llx\n", game.filename().c_str(),
                load.nodes, load.segments, read.ms, load.ms, load.ms / read.ms, read.peakMb, load.peakMb,
                load.graphBytes / load.nodes, loadGrowth / load.nodes, static_cast<unsigned long long>(load.digest));
    const std::string id = "roads.load." + pathlight::bench::WorldSizeLabel(load.nodes);
    const std::string path = "road loading, " + std::to_string(static_cast<long>(load.nodes)) + " nodes";
    pathlight::bench::PrintBenchRow(id.c_str(), path.c_str(), load.ms, read.ms, "ms",
                                    "reading its .pamt and .paz files whole from the page cache");
  }
  std::printf("\nread: the folder's %s read whole from the page cache (the baseline); load: LoadRoadNetwork.\n",
              ".pamt and .paz files");
  std::printf("ratio = load ms / read ms (medians of the runs); MB = peak resident set of the measuring process;\n");
  std::printf(
      "graph B/n = bytes the finished RoadGraph holds per node; peak B/n = peak growth during the load per node;\n");
  std::printf("digest = RoadGraphDigest of the loaded graph: the same files load to the same graph, field by field.\n");
  return 0;
}
