// XML text extraction through LoadIFilter (the registry chain, every chunk's
// text pulled with GetText) beside libxml2 parsing the same files into a DOM
// and `xmllint --xpath '//text()'`, on a generated corpus of 10 KB to 10 MB
// documents; then the peak memory of each on one large document of millions
// of small elements. One run; every measurement runs in a child process of
// its own, so that its peak resident size is its own.
//   xml_bench [LARGE_MB] [filter]
// LARGE_MB: size of the large document (default 100, 0: skip); "filter":
// only the filter's side, in this process (for a profiler).
#include <fcntl.h>
#include <libxml/parser.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Strings.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Writes with every result checked; the file is private to the bench's folder.
bool WritePrivateFile(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0;
}

const char* const kWords[] = {"orbit",  "comet", "planet", "moon",  "star",    "nebula", "galaxy", "quasar",
                              "zenith", "nadir", "apogee", "eclipse", "transit", "parallax", "azimuth", "meridian"};

std::string Words(std::mt19937& rng, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    if (i) s += ' ';
    s += kWords[rng() % 16];
  }
  return s;
}

// A catalog of observations: nested elements with attributes, prose with
// predefined and character entities, CDATA, comments. Every fourth document
// declares an entity of its own and uses it (such a document keeps its tree
// in the filter: entity copies are made from nodes in it).
bool WriteDocument(const std::string& path, size_t target, bool declaresEntity, std::mt19937& rng) {
  std::string doc = "<?xml version=\"1.0\"?>\n";
  if (declaresEntity) doc += "<!DOCTYPE catalog [\n  <!ENTITY obs \"Halvorine Observatory\">\n]>\n";
  doc += "<catalog xmlns:x=\"urn:example:extra\" version=\"2\">\n";
  const std::string observatory = declaresEntity ? "&obs;" : "Halvorine Observatory";
  for (int i = 0; doc.size() < target; ++i) {
    doc += "  <entry id=\"e" + std::to_string(i) + "\" kind=\"" + kWords[rng() % 16] + "\" x:rank=\"" +
           std::to_string(rng() % 100) + "\">\n    <title>" + Words(rng, 3) + "</title>\n    <observer>" +
           Words(rng, 2) + " of " + observatory + "</observer>\n    <when><date>2026-" + std::to_string(1 + rng() % 12) +
           "-" + std::to_string(1 + rng() % 28) + "</date><time zone=\"UTC\">0" + std::to_string(rng() % 10) +
           ":00</time></when>\n    <notes>\n";
    const int paragraphs = 1 + static_cast<int>(rng() % 3);
    for (int p = 0; p < paragraphs; ++p)
      doc += "      <p>" + Words(rng, 12) + " &amp; " + Words(rng, 6) + " &lt;" + Words(rng, 1) + "&gt; caf&#233; " +
             "<em>" + Words(rng, 2) + "</em> " + Words(rng, 10) + ".</p>\n";
    if (rng() % 4 == 0) doc += "      <!-- checked -->\n      <code><![CDATA[if (a < b && c > d) { return \"x\"; }]]></code>\n";
    doc += "    </notes>\n    <tags>";
    for (int t = 0; t < 3; ++t) doc += "<tag w=\"" + std::to_string(rng() % 9) + "\">" + Words(rng, 1) + "</tag>";
    doc += "</tags>\n  </entry>\n";
  }
  doc += "</catalog>\n";
  return WritePrivateFile(path, doc);
}

// Millions of small elements: the document whose DOM costs the most per byte.
bool WriteLargeDocument(const std::string& path, size_t target, size_t* elements) {
  std::string doc = "<?xml version=\"1.0\"?>\n<r>\n";
  doc.reserve(target + 64);
  for (*elements = 0; doc.size() < target; ++*elements)
    doc += "<i n=\"" + std::to_string(*elements % 10) + "\">w" + std::to_string(*elements) + "</i>\n";
  doc += "</r>\n";
  return WritePrivateFile(path, doc);
}

struct Measured {
  bool ok = false;
  double seconds = 0;     // wall clock
  double cpuSeconds = 0;  // user and system, its own children's included
  long peakKb = 0;        // the child's peak resident size, its children's included
};

// Runs `work` in a child; its answer (0: success) and time come back through a pipe.
Measured InChild(const std::function<bool()>& work) {
  Measured m;
  int fds[2];
  if (pipe(fds) != 0) return m;
  std::fflush(nullptr);
  pid_t child = fork();
  if (child < 0) return m;
  if (child == 0) {
    close(fds[0]);
    auto start = Clock::now();
    bool ok = work();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double answer[2] = {ok ? 1.0 : 0.0, seconds};
    bool written = write(fds[1], answer, sizeof answer) == static_cast<ssize_t>(sizeof answer);
    _exit(written ? 0 : 1);
  }
  close(fds[1]);
  double answer[2] = {0, 0};
  bool read_ok = read(fds[0], answer, sizeof answer) == static_cast<ssize_t>(sizeof answer);
  close(fds[0]);
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) return m;
  m.ok = read_ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 && answer[0] == 1.0;
  m.seconds = answer[1];
  m.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  m.peakKb = usage.ru_maxrss;
  return m;
}

// Every chunk's text pulled through GetText, as the indexer does.
bool FilterAll(const std::vector<std::string>& files, size_t* characters) {
  std::vector<WCHAR> buffer(4096);
  for (const std::string& file : files) {
    ZYT::ComPtr<IFilter> filter;
    if (FAILED(LoadIFilter(ZYT::Utf8ToWide(file).c_str(), nullptr, filter.put_void()))) return false;
    ULONG flags = 0;
    if (FAILED(filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags))) return false;
    STAT_CHUNK chunk;
    HRESULT hr;
    while ((hr = filter->GetChunk(&chunk)) == S_OK) {
      for (;;) {
        ULONG count = static_cast<ULONG>(buffer.size());
        HRESULT text = filter->GetText(&count, buffer.data());
        if (FAILED(text)) break;
        *characters += count;
        if (text == FILTER_S_LAST_TEXT) break;
      }
    }
    if (hr != FILTER_E_END_OF_CHUNKS) return false;
  }
  return true;
}

bool ParseAll(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    // Read here, not by xmlReadFile: the filters' library refuses every entity
    // libxml2 would load, the document itself included, in this process too.
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return false;
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), file.c_str(), nullptr, XML_PARSE_NONET);
    if (!doc) return false;
    xmlFreeDoc(doc);
  }
  return true;
}

bool XmllintAll(const std::vector<std::string>& files) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  bool ok = true;
  for (const std::string& file : files) {
    char* args[] = {const_cast<char*>("xmllint"), const_cast<char*>("--xpath"), const_cast<char*>("//text()"),
                    const_cast<char*>(file.c_str()), nullptr};
    pid_t pid = 0;
    int status = 0;
    if (posix_spawnp(&pid, "xmllint", &actions, nullptr, args, environ) != 0 || waitpid(pid, &status, 0) != pid ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ok = false;
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  return ok;
}

size_t Bytes(const std::vector<std::string>& files) {
  size_t total = 0;
  struct stat st;
  for (const std::string& file : files)
    if (stat(file.c_str(), &st) == 0) total += static_cast<size_t>(st.st_size);
  return total;
}

// On processor time: the machine's other load does not count.
double Rate(size_t bytes, const Measured& m) { return m.ok && m.cpuSeconds > 0 ? bytes / 1e6 / m.cpuSeconds : 0; }
double WallRate(size_t bytes, const Measured& m) { return m.ok && m.seconds > 0 ? bytes / 1e6 / m.seconds : 0; }

void Row(const char* name, size_t bytes, const Measured& m) {
  if (!m.ok)
    std::printf("  %-36s failed\n", name);
  else
    std::printf("  %-36s %8.1f MB/s  (wall clock %6.1f)  peak %7.1f MB\n", name, Rate(bytes, m), WallRate(bytes, m),
                m.peakKb / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  const long largeMb = argc > 1 ? std::atol(argv[1]) : 100;
  BenchMachine machine("zytxml");
  if (!machine.Ready()) return 1;
  const std::string& dir = machine.Dir();
  if (!WritePrivateFile(dir + "/settings.xml", "<settings/>") || !RegisterBuiltModule(ZYT_COMPONENTS_MODULE) ||
      !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "xml_bench: cannot set up the machine\n");
    return 1;
  }
  xmlInitParser();

  struct Group {
    const char* name;
    size_t size;
    int count;
    std::vector<std::string> files;
  };
  std::vector<Group> groups = {{"10 KB", 10000, 400, {}}, {"100 KB", 100000, 60, {}}, {"1 MB", 1000000, 12, {}},
                               {"10 MB", 10000000, 3, {}}};
  std::mt19937 rng(2027);
  std::vector<std::string> all;
  for (Group& g : groups)
    for (int i = 0; i < g.count; ++i) {
      std::string path = dir + "/" + std::to_string(g.size) + "-" + std::to_string(i) + ".xml";
      if (!WriteDocument(path, g.size, i % 4 == 3, rng)) {
        std::fprintf(stderr, "xml_bench: cannot write %s\n", path.c_str());
        return 1;
      }
      g.files.push_back(path);
      all.push_back(path);
    }

  if (argc > 2 && std::string(argv[2]) == "filter") {
    size_t characters = 0;
    auto start = Clock::now();
    bool ok = FilterAll(all, &characters);
    std::printf("%zu characters of text, %.1f MB/s\n", characters,
                Bytes(all) / 1e6 / std::chrono::duration<double>(Clock::now() - start).count());
    return ok ? 0 : 1;
  }
  double oursAll = 0, domAll = 0;
  const size_t allBytes = Bytes(all);
  for (const Group& g : groups) {
    const size_t bytes = Bytes(g.files);
    std::printf("%d documents of %s (%.1f MB)\n", g.count, g.name, bytes / 1e6);
    size_t characters = 0;
    Measured ours = InChild([&] { return FilterAll(g.files, &characters); });
    Measured dom = InChild([&] { return ParseAll(g.files); });
    Measured lint = InChild([&] { return XmllintAll(g.files); });
    Row("CXMLFilter via LoadIFilter + GetText", bytes, ours);
    Row("libxml2 xmlReadMemory into a DOM", bytes, dom);
    Row("xmllint --xpath '//text()'", bytes, lint);
    if (ours.ok && dom.ok) {
      std::printf("  ours / libxml2 DOM: %.2f   ours / xmllint: %.2f\n", Rate(bytes, ours) / Rate(bytes, dom),
                  lint.ok ? Rate(bytes, ours) / Rate(bytes, lint) : 0.0);
      oursAll += ours.cpuSeconds;
      domAll += dom.cpuSeconds;
    }
  }
  if (oursAll > 0 && domAll > 0)
    std::printf("all %.1f MB: ours %.1f MB/s, libxml2 DOM %.1f MB/s, ratio %.2f (goal: at least 0.67)\n",
                allBytes / 1e6, allBytes / 1e6 / oursAll, allBytes / 1e6 / domAll, domAll / oursAll);

  if (largeMb > 0) {
    std::string large = dir + "/large.xml";
    size_t elements = 0;
    if (!WriteLargeDocument(large, static_cast<size_t>(largeMb) * 1000000, &elements)) {
      std::fprintf(stderr, "xml_bench: cannot write %s\n", large.c_str());
      return 1;
    }
    const std::vector<std::string> one = {large};
    const size_t bytes = Bytes(one);
    std::printf("\none document of %.1f MB with %.1f million small elements\n", bytes / 1e6, elements / 1e6);
    size_t characters = 0;
    Row("CXMLFilter via LoadIFilter + GetText", bytes, InChild([&] { return FilterAll(one, &characters); }));
    Row("libxml2 xmlReadMemory into a DOM", bytes, InChild([&] { return ParseAll(one); }));
    Row("xmllint --xpath '//text()'", bytes, InChild([&] { return XmllintAll(one); }));
  }
  return 0;
}
