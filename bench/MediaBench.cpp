// MP3 and Ogg Vorbis files filtered through LoadIFilter in one process,
// beside TagLib (taglib_read) and libextractor (extract) reading the same
// corpus, in one run: the small corpus, then the realistic one (Corpus.h).
// Reported in files and MB per second and as ratios.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "bench/Corpus.h"
#include "bench/BenchSupport.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs a reference; its seconds (as it reports them, else as measured), the
// files it read and, when it reports them, its processor seconds.
double Run(const std::string& command, size_t& files, double* cpu = nullptr) {
  auto start = Clock::now();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char line[4096];
  size_t lines = 0;
  double reported = -1;
  while (std::fgets(line, sizeof line, pipe)) {
    ++lines;
    double seconds = 0, processor = 0;
    size_t count = 0, characters = 0;
    int fields = std::sscanf(line, "%zu %lf %zu %lf", &count, &seconds, &characters, &processor);
    if (fields >= 2 && lines == 1) {
      files = count;
      reported = seconds;
      if (cpu && fields == 4) *cpu = processor;
    }
  }
  int status = pclose(pipe);
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  if (status != 0) return -1;
  return reported >= 0 ? reported : elapsed;
}

// One corpus, read by the filters, TagLib and libextractor in turn: a line
// each with files/s and MB/s (of file bytes) and the ratio to the filters.
// label: "" for the small corpus (whose lines scripts/bench reads first),
// else a prefix of its lines.
void Compare(const std::string& label, const std::string& what, const std::vector<CorpusFile>& corpus,
             int repetitions) {
  std::string list;
  for (const CorpusFile& f : corpus) list += " '" + f.path + "'";
  const double megabytes = CorpusBytes(corpus) / 1e6;

  size_t filtered = 0, characters = 0;
  auto start = Clock::now();
  std::clock_t cpuStart = std::clock();
  for (int r = 0; r < repetitions; ++r) {
    for (const CorpusFile& f : corpus) {
      ZYT::ComPtr<IFilter> filter;
      if (FAILED(LoadIFilter(ZYT::Utf8ToWide(f.path).c_str(), nullptr, filter.put_void()))) continue;
      ZYT::WalkResult walk = ZYT::WalkFilter(filter.get(), ZYT::WalkOptions());
      for (const auto& c : walk.chunks) characters += c.text.size();
      ++filtered;
    }
  }
  double ours = std::chrono::duration<double>(Clock::now() - start).count();
  double oursCpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  double oursRate = filtered / ours;

  size_t taglibFiles = 0;
  double taglibCpu = 0;
  double taglib =
      Run(std::string(ZYT_TAGLIB_READ) + " " + std::to_string(repetitions) + list, taglibFiles, &taglibCpu);
  size_t extractFiles = corpus.size();
  double extract = Run("extract" + list + " >/dev/null 2>&1; echo", extractFiles);

  std::printf("%s%s, %.1f MB, read %d times\n", label.empty() ? "corpus: " : label.c_str(), what.c_str(), megabytes,
              repetitions);
  std::string name = label + "zytFilters (LoadIFilter, every chunk)";
  std::printf("%-50s %10.0f files/s %8.1f MB/s  1.00\n", name.c_str(), oursRate, megabytes * repetitions / ours);
  name = label + "TagLib (tags only)";
  if (taglib > 0)
    std::printf("%-50s %10.0f files/s %8.1f MB/s  zytFilters is %.2fx\n", name.c_str(), taglibFiles / taglib,
                megabytes * repetitions / taglib, oursRate / (taglibFiles / taglib));
  else
    std::printf("%-50s unavailable (install libtag1-dev)\n", name.c_str());
  name = label + "libextractor (extract, one process)";
  if (extract > 0)
    std::printf("%-50s %10.0f files/s %8.1f MB/s  zytFilters is %.2fx\n", name.c_str(), corpus.size() / extract,
                megabytes / extract, oursRate / (corpus.size() / extract));
  else
    std::printf("%-50s unavailable (install extract)\n", name.c_str());
  // On a machine that other work keeps busy the wall-clock rates follow the
  // load; the rates per processor second follow the work.
  if (taglib > 0 && oursCpu > 0 && taglibCpu > 0)
    std::printf("%sper processor second: zytFilters %.0f files, TagLib %.0f files: zytFilters is %.2fx\n",
                label.c_str(), filtered / oursCpu, taglibFiles / taglibCpu,
                (filtered / oursCpu) / (taglibFiles / taglibCpu));
  std::printf("%s(%zu characters of text per pass)\n", label.c_str(), characters / (repetitions ? repetitions : 1));
}

}  // namespace

// media_bench [COUNT] [REPETITIONS] [small|realistic]: both corpora unless one is named.
int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 200;
  int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  std::string only = argc > 3 ? argv[3] : "";
  BenchMachine machine("zytmedia");
  if (!machine.Ready()) return 1;
  const std::string& dir = machine.Dir();
  if (!RegisterBuiltModule(ZYT_COMPONENTS_MODULE) || !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "media_bench: cannot register the modules\n");
    return 1;
  }
  try {
    if (only != "realistic") {
      std::vector<CorpusFile> small = MakeCorpus(dir + "/corpus", count, 20261205);
      Compare("", std::to_string(count) + " MP3 + " + std::to_string(count) + " Ogg Vorbis files, small tags", small,
              repetitions);
    }
    if (only != "small") {
      std::vector<CorpusFile> realistic = MakeRealisticCorpus(dir + "/realistic", count, 20261206);
      Compare("realistic: ",
              std::to_string(count) + " MP3 (ID3v2.3 and v2.4, padding, a 100 KB cover in 1 of 3) + " +
                  std::to_string(count) +
                  " Ogg Vorbis files (120+ comments, a 100 KB picture comment in 1 of 3)",
              realistic, repetitions);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "media_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
