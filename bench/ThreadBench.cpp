// N filter objects on N threads: every thread loads its own filters through
// LoadIFilter for the same MP3 and Ogg corpus and pulls every chunk, so the
// files/s at 1, 2, 4 and 8 threads show what the filters and the registry
// chain share. The machine's core count is printed beside the figures: past
// it the rate cannot grow.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/Corpus.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Strings.h"

namespace {

using Clock = std::chrono::steady_clock;

// One thread's share: every file of the corpus, passes times.
void Filter(const std::vector<std::u16string>& files, int passes, std::atomic<size_t>& done,
            std::atomic<size_t>& failed) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  size_t ok = 0, bad = 0;
  for (int p = 0; p < passes; ++p)
    for (const std::u16string& f : files) {
      ZYT::ComPtr<IFilter> filter;
      if (FAILED(LoadIFilter(f.c_str(), nullptr, filter.put_void()))) {
        ++bad;
        continue;
      }
      ZYT::WalkResult walk = ZYT::WalkFilter(filter.get(), ZYT::WalkOptions());
      if (FAILED(walk.init) || walk.chunks.empty()) ++bad;
      else ++ok;
    }
  CoUninitialize();
  done += ok;
  failed += bad;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::vector<int> numbers;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) json = true;
    else numbers.push_back(std::atoi(argv[i]));
  }
  int count = numbers.size() > 0 && numbers[0] > 0 ? numbers[0] : 100;
  int passes = numbers.size() > 1 && numbers[1] > 0 ? numbers[1] : 3;
  BenchMachine machine("zytthreads");
  if (!machine.Ready()) return 1;
  const std::string& dir = machine.Dir();
  std::filesystem::create_directory(dir + "/corpus");
  if (!RegisterBuiltModule(ZYT_COMPONENTS_MODULE) || !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "thread_bench: cannot register the modules\n");
    return 1;
  }
  std::vector<std::u16string> files;
  for (const CorpusFile& f : MakeCorpus(dir + "/corpus", count, 20261205)) files.push_back(ZYT::Utf8ToWide(f.path));
  // A first pass loads what stays loaded (the modules, the registry store).
  std::atomic<size_t> done{0}, failed{0};
  Filter(files, 1, done, failed);

  unsigned cores = std::thread::hardware_concurrency();
  const int threadCounts[] = {1, 2, 4, 8};
  double rates[4] = {};
  for (int t = 0; t < 4; ++t) {
    done = 0;
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (int n = 0; n < threadCounts[t]; ++n) threads.emplace_back(Filter, std::cref(files), passes, std::ref(done), std::ref(failed));
    for (std::thread& th : threads) th.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    rates[t] = done / seconds;
  }
  if (json) {
    std::printf("{\"cores\":%u,\"files\":%zu,\"passes\":%d,\"failed\":%zu", cores, files.size(), passes,
                failed.load());
    for (int t = 0; t < 4; ++t) std::printf(",\"files_per_s_%d\":%.1f", threadCounts[t], rates[t]);
    std::printf(",\"growth_1_2\":%.2f,\"growth_1_4\":%.2f,\"growth_1_8\":%.2f}\n", rates[1] / rates[0],
                rates[2] / rates[0], rates[3] / rates[0]);
  } else {
    std::printf("corpus: %d MP3 + %d Ogg Vorbis files, %d passes per thread; this machine has %u cores\n", count,
                count, passes, cores);
    for (int t = 0; t < 4; ++t)
      std::printf("%d thread%s  %10.0f files/s  x%.2f of one thread\n", threadCounts[t], t ? "s" : " ", rates[t],
                  rates[t] / rates[0]);
    if (failed) std::printf("%zu files could not be filtered\n", failed.load());
  }
  return failed ? 1 : 0;
}
