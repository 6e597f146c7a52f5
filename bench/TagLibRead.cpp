// Reads the tags of the given files with TagLib, as often as asked, and
// prints the files read, the seconds taken, the characters read and the
// processor seconds taken. The reference the media benchmark compares the
// filters with.
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: taglib_read REPETITIONS FILE...\n");
    return 2;
  }
  int repetitions = std::atoi(argv[1]);
  size_t characters = 0, files = 0;
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  for (int r = 0; r < repetitions; ++r) {
    for (int i = 2; i < argc; ++i) {
      // Audio properties off: the filters do not read them either.
      TagLib::FileRef file(argv[i], false);
      if (file.isNull() || !file.tag()) continue;
      TagLib::Tag* tag = file.tag();
      characters += tag->title().size() + tag->artist().size() + tag->album().size() + tag->genre().size() +
                    tag->comment().size();
      ++files;
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::printf("%zu %.6f %zu %.6f\n", files, seconds, characters, cpu);
  return 0;
}
