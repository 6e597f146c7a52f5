// make_index_corpus FOLDER [SCALE] [SEED]: the desktop-search benchmark's
// corpus, a tree of the kinds of file people index: plain text, HTML, mail,
// XML (about 10 KB each, 800 of each kind at scale 1), tagged MP3 and Ogg
// files (400 each) and ZIP archives of text and HTML (100), in folders of at
// most 100 files. The words follow a Zipf law over a vocabulary of made-up
// words in which a few real ones sit at chosen ranks, so that queries of
// every selectivity have known words: "river" is common, "zephyr" rare.
// Prints one line: "corpus: FILES files, BYTES bytes (KIND COUNT, ...)".
#include <sys/stat.h>
#include <zip.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/Corpus.h"

namespace {

struct Vocabulary {
  std::vector<std::string> words;
  std::vector<double> cumulative;  // Zipf weights, summed
};

Vocabulary MakeVocabulary(std::mt19937& rng) {
  static const char* const syllables[] = {"ka",  "lo",  "mer", "tin", "sa",  "ve", "dor", "ni", "pru", "el",
                                          "gan", "tho", "ri",  "bel", "sun", "ma", "qui", "zo", "fen", "a"};
  Vocabulary v;
  for (int i = 0; i < 4000; ++i) {
    std::string w;
    int n = 2 + static_cast<int>(rng() % 3);
    for (int k = 0; k < n; ++k) w += syllables[rng() % 20];
    v.words.push_back(w);
  }
  const std::pair<int, const char*> known[] = {{3, "river"},     {12, "garden"},    {40, "stone"},
                                               {90, "ocean"},    {200, "meeting"},  {450, "budget"},
                                               {900, "harbour"}, {1800, "lantern"}, {3500, "zephyr"}};
  for (const auto& [rank, word] : known) v.words[rank] = word;
  double sum = 0;
  for (size_t r = 0; r < v.words.size(); ++r) v.cumulative.push_back(sum += 1.0 / static_cast<double>(r + 1));
  return v;
}

const std::string& Word(const Vocabulary& v, std::mt19937& rng) {
  double x = std::uniform_real_distribution<double>(0, v.cumulative.back())(rng);
  size_t lo = 0, hi = v.cumulative.size() - 1;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (v.cumulative[mid] < x)
      lo = mid + 1;
    else
      hi = mid;
  }
  return v.words[lo];
}

std::string Words(const Vocabulary& v, std::mt19937& rng, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    if (i) out += ' ';
    out += Word(v, rng);
  }
  return out;
}

// Sentences up to about bytes long.
std::string Prose(const Vocabulary& v, std::mt19937& rng, size_t bytes, const char* lineEnd = "\n") {
  std::string out;
  while (out.size() < bytes) {
    std::string sentence = Words(v, rng, 8 + static_cast<int>(rng() % 10));
    sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
    out += sentence + ".";
    out += rng() % 5 == 0 ? std::string(lineEnd) + lineEnd : " ";
  }
  return out;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "make_index_corpus: %s\n", what.c_str());
  std::exit(1);
}

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) Fail("cannot create " + path);
}

void Write(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wbx");
  if (!f) Fail("cannot create " + path);
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) Fail("cannot write " + path);
}

std::string Person(const Vocabulary& v, std::mt19937& rng) {
  std::string name = Word(v, rng);
  name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name;
}

std::string Html(const Vocabulary& v, std::mt19937& rng, size_t bytes) {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + Words(v, rng, 4) +
                     "</title><meta name=\"author\" content=\"" + Person(v, rng) + "\"></head>\n<body><h1>" +
                     Words(v, rng, 5) + "</h1>\n";
  while (html.size() < bytes) html += "<p>" + Prose(v, rng, 600, " ") + "</p>\n";
  return html + "</body></html>\n";
}

std::string Mail(const Vocabulary& v, std::mt19937& rng, size_t bytes, int i) {
  std::string from = Person(v, rng), to = Person(v, rng);
  std::string mail = "From: \"" + from + "\" <" + from + "@example.com>\r\nTo: \"" + to + "\" <" + to +
                     "@example.org>\r\nSubject: " + Words(v, rng, 5) +
                     "\r\nDate: Mon, 7 Dec 2026 09:" + std::to_string(10 + i % 50) + ":00 +0000\r\nMessage-ID: <" +
                     std::to_string(i) +
                     "@bench.example.com>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
  return mail + Prose(v, rng, bytes, "\r\n") + "\r\n";
}

std::string Xml(const Vocabulary& v, std::mt19937& rng, size_t bytes) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog>\n";
  for (int id = 1; xml.size() < bytes; ++id) {
    xml += "  <item id=\"" + std::to_string(id) + "\">\n    <title>" + Words(v, rng, 4) + "</title>\n    <author>" +
           Person(v, rng) + "</author>\n    <description>" + Prose(v, rng, 700, " ") + "</description>\n  </item>\n";
  }
  return xml + "</catalog>\n";
}

void Zip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& members) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
  if (!zip) Fail("cannot create " + path);
  for (const auto& [name, contents] : members) {
    zip_source_t* source = zip_source_buffer(zip, contents.data(), contents.size(), 0);
    if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      zip_discard(zip);
      Fail("cannot write " + path);
    }
  }
  if (zip_close(zip) != 0) Fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_index_corpus FOLDER [SCALE] [SEED]\n");
    return 2;
  }
  const std::string root = argv[1];
  const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
  std::mt19937 rng(argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 20261207u);
  const Vocabulary v = MakeVocabulary(rng);
  auto count = [&](int n) { return std::max(1, static_cast<int>(std::lround(n * scale))); };
  std::map<std::string, int> kinds;
  long long bytes = 0;
  MakeFolder(root);
  // FOLDER/KIND/NN/ with at most 100 files each.
  auto pathOf = [&](const std::string& kind, int i, const std::string& name) {
    std::string folder = root + "/" + kind;
    MakeFolder(folder);
    folder += "/" + std::to_string(i / 100);
    MakeFolder(folder);
    ++kinds[kind];
    return folder + "/" + name;
  };
  auto put = [&](const std::string& path, const std::string& data) {
    Write(path, data);
    bytes += static_cast<long long>(data.size());
  };
  const size_t size = 10000;
  for (int i = 0; i < count(800); ++i) put(pathOf("text", i, "note" + std::to_string(i) + ".txt"), Prose(v, rng, size));
  for (int i = 0; i < count(800); ++i) put(pathOf("html", i, "page" + std::to_string(i) + ".html"), Html(v, rng, size));
  for (int i = 0; i < count(800); ++i)
    put(pathOf("mail", i, "message" + std::to_string(i) + ".eml"), Mail(v, rng, size, i));
  for (int i = 0; i < count(800); ++i) put(pathOf("xml", i, "items" + std::to_string(i) + ".xml"), Xml(v, rng, size));
  for (int i = 0; i < count(100); ++i) {
    std::vector<std::pair<std::string, std::string>> members;
    for (int m = 0; m < 4; ++m) members.emplace_back("part" + std::to_string(m) + ".txt", Prose(v, rng, 3000));
    members.emplace_back("index.html", Html(v, rng, 3000));
    std::string path = pathOf("zip", i, "bundle" + std::to_string(i) + ".zip");
    Zip(path, members);
    struct stat st;
    if (stat(path.c_str(), &st) == 0) bytes += st.st_size;
  }
  // The media benchmark's tagged files, 100 a folder.
  const int media = count(400);
  for (int start = 0; start < media; start += 50) {
    std::string folder = root + "/media";
    MakeFolder(folder);
    folder += "/" + std::to_string(start / 50);
    for (const CorpusFile& f :
         MakeCorpus(folder, std::min(50, media - start), 20261205u + static_cast<unsigned>(start))) {
      struct stat st;
      if (stat(f.path.c_str(), &st) != 0) Fail("cannot write " + f.path);
      bytes += st.st_size;
      ++kinds[f.path.ends_with(".mp3") ? "mp3" : "ogg"];
    }
  }
  int files = 0;
  std::string list;
  for (const auto& [kind, n] : kinds) {
    files += n;
    list += (list.empty() ? "" : ", ") + kind + " " + std::to_string(n);
  }
  std::printf("corpus: %d files, %lld bytes (%s)\n", files, bytes, list.c_str());
  return 0;
}
