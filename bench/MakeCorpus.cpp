// make_corpus FOLDER [COUNT] [SEED] [--realistic]: writes the media
// benchmark's small corpus, or its realistic one (Corpus.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "bench/Corpus.h"

int main(int argc, char** argv) {
  bool realistic = false;
  const char* numbers[3] = {};
  int n = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--realistic") == 0) realistic = true;
    else if (n < 3) numbers[n++] = argv[i];
  }
  if (n < 1) {
    std::fprintf(stderr, "usage: make_corpus FOLDER [COUNT] [SEED] [--realistic]\n");
    return 2;
  }
  int count = n > 1 ? std::atoi(numbers[1]) : 10;
  unsigned seed = n > 2 ? static_cast<unsigned>(std::atoi(numbers[2])) : 20261205;
  try {
    auto files = realistic ? MakeRealisticCorpus(numbers[0], count, seed) : MakeCorpus(numbers[0], count, seed);
    for (const auto& f : files) std::printf("%s\n", f.path.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_corpus: %s\n", e.what());
    return 1;
  }
  return 0;
}
