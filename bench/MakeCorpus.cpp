// make_corpus FOLDER [COUNT] [SEED]: writes the media benchmark's corpus.
#include <cstdio>
#include <cstdlib>

#include "bench/Corpus.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_corpus FOLDER [COUNT] [SEED]\n");
    return 2;
  }
  auto files = MakeCorpus(argv[1], argc > 2 ? std::atoi(argv[2]) : 10, argc > 3 ? std::atoi(argv[3]) : 20261205);
  for (const auto& f : files) std::printf("%s\n", f.path.c_str());
  return 0;
}
