// What the catalog proxy filter adds per file: the same corpus (small text,
// HTML and MP3 files in a local catalog) filtered by each file type's own
// filter the registry names behind the proxy, and through the catalog proxy in front of it,
// interleaved in one run. Reported in files per second and as the overhead.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/Corpus.h"
#include "framework/PersistentHandler.h"
#include "framework/SettingsAccess.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/Catalogs.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/com/Guid.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryStore.h"
#include "platform/xml/XmlDocument.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr CLSID kProxy = ZYT::MakeGuid("{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}");

std::string Sentence(std::mt19937& rng, int words) {
  static const char* const kWords[] = {"index", "search", "filter", "catalog", "proxy", "orbit",
                                       "planet", "letter", "budget", "meeting", "report", "travel"};
  std::string text;
  for (int i = 0; i < words; ++i) text += std::string(i ? " " : "") + kWords[rng() % 12];
  return text + ".";
}

// Text and HTML files of a few hundred bytes, beside the media corpus's MP3s.
std::vector<std::string> MakeFiles(const std::string& folder, int count) {
  std::vector<std::string> files;
  std::mt19937 rng(20261205);
  for (int i = 0; i < count; ++i) {
    std::string txt = folder + "/note" + std::to_string(i) + ".txt";
    std::ofstream(txt) << Sentence(rng, 30) << "\n" << Sentence(rng, 25) << "\n";
    std::string htm = folder + "/page" + std::to_string(i) + ".htm";
    std::ofstream(htm) << "<html><head><title>" << Sentence(rng, 4) << "</title></head><body><p>"
                       << Sentence(rng, 40) << "</p></body></html>\n";
    files.push_back(txt);
    files.push_back(htm);
  }
  for (const CorpusFile& f : MakeCorpus(folder, count, 20261205))
    if (f.path.size() > 4 && f.path.compare(f.path.size() - 4, 4, ".mp3") == 0) files.push_back(f.path);
    else std::filesystem::remove(f.path);
  return files;
}

// One file through a filter, every chunk; false when it cannot be loaded.
bool Filter(const std::string& path, bool throughProxy, size_t& chunks) {
  std::u16string wide = ZYT::Utf8ToWide(path);
  ZYT::ComPtr<IFilter> filter;
  if (throughProxy) {
    if (FAILED(CoCreateInstance(kProxy, nullptr, CLSCTX_ALL, IID_IFilter, filter.put_void()))) return false;
    ZYT::ComPtr<IPersistFile> file;
    if (FAILED(filter.As(file)) || FAILED(file->Load(wide.c_str(), 0))) return false;
  } else {
    // The native filter the proxy drives, as the indexer found it before the product.
    std::u16string handler = ZYT::PersistentHandlerOfExtension(ZYT::Utf8ToWide(path.substr(path.rfind('.'))));
    CLSID native{};
    if (!ZYT::GuidFromString(ZYT::SavedFilterOfHandler(handler), native) ||
        FAILED(CoCreateInstance(native, nullptr, CLSCTX_ALL, IID_IFilter, filter.put_void())))
      return false;
    ZYT::ComPtr<IPersistFile> file;
    if (FAILED(filter.As(file)) || FAILED(file->Load(wide.c_str(), 0))) return false;
  }
  chunks += ZYT::WalkFilter(filter.get(), ZYT::WalkOptions()).chunks.size();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 200;
  int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  // "native" or "proxy": the timed passes run that side only, for a profiler
  // (two runs with different repetitions give the instructions per file).
  const std::string only = argc > 3 ? argv[3] : "";
  const bool runNative = only != "proxy", runProxy = only != "native";
  BenchMachine machine("zytproxy");
  if (!machine.Ready()) return 1;
  const std::string& dir = machine.Dir();
  std::filesystem::create_directory(dir + "/corpus");
  if (!RegisterBuiltModule(ZYT_COMPONENTS_MODULE) || !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "proxy_bench: cannot register the modules\n");
    return 1;
  }
  // The settings as the server makes them (the default field map), with the
  // corpus folder as the local catalog.
  try {
    ZYT::CBstr settingsPath;
    ZYT::CreateSettingsServer()->GetSettingsPath(settingsPath.put());
  } catch (const _com_error&) {
    std::fprintf(stderr, "proxy_bench: no settings server\n");
    return 1;
  }
  ZYT::XmlDocument settings;
  settings.Load(dir + "/settings.xml");
  ZYT::XmlNode catalog = settings.SelectSingleNode("/*/CIS/catalogs").AppendElement("catalog");
  catalog.SetAttribute("catalog-type", "local");
  catalog.SetAttribute("catalog-name", "Bench");
  settings.Save(dir + "/settings.xml");
  ZYT::AddCatalog({u"Bench", ZYT::Utf8ToWide(dir + "/index"), u".", {ZYT::Utf8ToWide(dir + "/corpus")}});
  // Registered on a machine set up for the product, the module puts the proxy
  // in front of every filter.
  ZYT::CRegKey orrery;
  if (orrery.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", KEY_ALL_ACCESS) != ERROR_SUCCESS ||
      orrery.SetStringValue(u"configured", u"yes") != ERROR_SUCCESS || !RegisterBuiltModule(ZYT_FILTERS_MODULE)) {
    std::fprintf(stderr, "proxy_bench: cannot set the machine up for the product\n");
    return 1;
  }

  std::vector<std::string> files = MakeFiles(dir + "/corpus", count);
  size_t nativeChunks = 0, proxyChunks = 0, failures = 0;
  // A first pass of each gives every file its item id and loads what stays loaded.
  for (const std::string& f : files) failures += !Filter(f, false, nativeChunks) + !Filter(f, true, proxyChunks);
  nativeChunks = proxyChunks = 0;
  double native = 0, proxy = 0;
  for (int r = 0; r < repetitions; ++r) {
    auto start = Clock::now();
    if (runNative)
      for (const std::string& f : files) failures += !Filter(f, false, nativeChunks);
    auto middle = Clock::now();
    if (runProxy)
      for (const std::string& f : files) failures += !Filter(f, true, proxyChunks);
    native += std::chrono::duration<double>(middle - start).count();
    proxy += std::chrono::duration<double>(Clock::now() - middle).count();
  }
  double filesFiltered = static_cast<double>(files.size()) * repetitions;
  double nativeRate = filesFiltered / native, proxyRate = filesFiltered / proxy;
  std::printf("corpus: %d text + %d HTML + %d MP3 files in a local catalog, filtered %d times\n", count, count,
              count, repetitions);
  std::printf("%-44s %10.0f files/s  %6.1f us/file\n", "native filter (saved behind the proxy)", nativeRate, 1e6 / nativeRate);
  std::printf("%-44s %10.0f files/s  %6.1f us/file\n", "catalog proxy in front of it", proxyRate, 1e6 / proxyRate);
  std::printf("proxy overhead: %.1f%% of the native time (%.1f us per file); %zu vs %zu chunks per pass\n",
              100.0 * (native > 0 ? proxy / native - 1 : 0), 1e6 * (proxy - native) / filesFiltered,
              proxyChunks / repetitions, nativeChunks / repetitions);
  if (failures) std::printf("%zu files could not be filtered\n", failures);
  return failures ? 1 : 0;
}
