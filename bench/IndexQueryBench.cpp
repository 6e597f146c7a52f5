// index_query_bench DATABASE REPETITIONS QUERY...: the time of Store::Search
// inside the process, the database open and warm. Prints per query a line
// "QUERY<TAB>WALL_MS<TAB>CPU_MS<TAB>HITS" (medians), at most 10 hits asked as
// zytfilt search's first screen would. The CPU time is the figure to trust on
// a machine that other work shares.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/zytfilt/IndexStore.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: index_query_bench DATABASE REPETITIONS QUERY...\n");
    return 2;
  }
  try {
    ZYT::Index::Store store(argv[1], false);
    const int repetitions = std::max(1, std::atoi(argv[2]));
    for (int q = 3; q < argc; ++q) {
      size_t hits = store.Search(argv[q], 10).size();  // warms the cache
      std::vector<double> wall, cpu;
      for (int r = 0; r < repetitions; ++r) {
        timespec c0{}, c1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
        auto start = std::chrono::steady_clock::now();
        hits = store.Search(argv[q], 10).size();
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
        cpu.push_back((c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6);
      }
      auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
      };
      std::printf("%s\t%.3f\t%.3f\t%zu\n", argv[q], median(wall), median(cpu), hits);
    }
  } catch (const ZYT::Index::StoreError& e) {
    std::fprintf(stderr, "index_query_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
