// zytfilt dump: filters files as the indexer would and prints every chunk.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComError.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "tools/zytfilt/Commands.h"

namespace {

const char kDumpUsage[] =
    "usage: zytfilt dump [OPTIONS] FILE...\n"
    "Filters each file as the indexer does and prints every chunk.\n"
    "  --init-flags N          IFilter::Init flags (default 0x10, apply index attributes)\n"
    "  --attribute GUID/PROPID or GUID/NAME\n"
    "                          ask for an attribute (repeatable), e.g.\n"
    "                          {B725F130-47EF-101A-A5F1-02608C9EEBAC}/19 for the contents\n"
    "  --buffer N              GetText buffer in characters (default 256)\n"
    "  --class CLSID|PROGID    use this filter class instead of the registry's choice\n"
    "  --json                  one JSON object per chunk, then {\"file\":..,\"end\":..}\n"
    "A fresh machine is set up first (see 'zytfilt setup').\n";

struct Options {
  ULONG initFlags = IFILTER_INIT_APPLY_INDEX_ATTRIBUTES;
  std::vector<FULLPROPSPEC> attributes;
  std::vector<std::u16string> names;  // storage for PRSPEC_LPWSTR attributes
  ULONG buffer = 256;
  std::u16string filterClass;
  bool json = false;
  std::vector<std::string> files;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "zytfilt dump: %s (see 'zytfilt dump --help')\n", message.c_str());
  return 2;
}

bool ParseNumber(const std::string& text, ULONG& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end || v > 0xFFFFFFFFull) return false;
  value = static_cast<ULONG>(v);
  return true;
}

std::string Hex(HRESULT hr) { return ZYT::HResultHex(hr); }
std::string Describe(HRESULT hr) { return ZYT::DescribeHResult(hr); }

const char* BreakName(CHUNK_BREAKTYPE type) {
  static const char* const names[] = {"no break", "end of word", "end of sentence", "end of paragraph",
                                      "end of chapter"};
  return type >= 0 && type <= 4 ? names[type] : "?";
}

// Creates the filter for a file: the registry's chain, or the class given.
HRESULT OpenFilter(const Options& options, const std::u16string& path, ZYT::ComPtr<IFilter>& filter) {
  if (options.filterClass.empty()) return LoadIFilter(path.c_str(), nullptr, filter.put_void());
  CLSID clsid{};
  HRESULT hr = CLSIDFromString(options.filterClass.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IFilter, filter.put_void());
  if (FAILED(hr)) return hr;
  ZYT::ComPtr<IPersistFile> persist;
  hr = filter.As(persist);
  if (FAILED(hr)) return hr;
  return persist->Load(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE);
}

void PrintJsonChunk(const std::string& file, const ZYT::WalkedChunk& c) {
  const STAT_CHUNK& s = c.stat;
  std::string line = "{\"file\":" + ZYT::JsonString(ZYT::Utf8ToWide(file)) + ",\"id\":" + std::to_string(s.idChunk) +
                     ",\"breakType\":" + std::to_string(s.breakType) + ",\"flags\":\"" +
                     ((s.flags & CHUNK_TEXT) ? "text" : "value") + "\",\"locale\":" + std::to_string(s.locale) +
                     ",\"propset\":\"" + ZYT::WideToUtf8(ZYT::GuidToString(s.attribute.guidPropSet)) + "\",";
  if (s.attribute.psProperty.ulKind == PRSPEC_LPWSTR)
    line += "\"propname\":" + ZYT::JsonString(c.propertyName);
  else
    line += "\"propid\":" + std::to_string(s.attribute.psProperty.propid);
  line += ",\"idChunkSource\":" + std::to_string(s.idChunkSource) + ",\"cwcStartSource\":" +
          std::to_string(s.cwcStartSource) + ",\"cwcLenSource\":" + std::to_string(s.cwcLenSource) + ",";
  if (s.flags & CHUNK_TEXT)
    line += "\"text\":" + ZYT::JsonString(c.text);
  else
    line += "\"value\":{\"vt\":" + std::to_string(c.vt) + ",\"data\":" + (c.hasValue ? c.valueJson : "null") + "}";
  std::printf("%s}\n", line.c_str());
}

void PrintTextChunk(const ZYT::WalkedChunk& c) {
  const STAT_CHUNK& s = c.stat;
  std::printf("chunk %u  %s  %s  locale 0x%x  %s", s.idChunk, (s.flags & CHUNK_TEXT) ? "text" : "value",
              BreakName(s.breakType), s.locale, ZYT::WideToUtf8(ZYT::AttributeText(c)).c_str());
  if (s.idChunkSource != s.idChunk) std::printf("  source %u", s.idChunkSource);
  std::printf("\n");
  if (s.flags & CHUNK_TEXT) {
    std::string text = ZYT::WideToUtf8(c.text);
    std::string indented = "  ";
    for (char ch : text) {
      indented += ch;
      if (ch == '\n') indented += "  ";
    }
    std::printf("%s\n", indented.c_str());
  } else {
    std::printf("  vt %u: %s\n", c.vt, c.hasValue ? c.valueJson.c_str() : "(no value)");
  }
}

// Prints one file's chunks; false when it could not be filtered.
bool DumpFile(const Options& options, const std::string& file) {
  // Filters and the programs they ask (the monitor) get an absolute path.
  std::u16string path = ZYT::Utf8ToWide(file);
  if (!file.empty() && file[0] != '/') {
    WCHAR cwd[4096];
    DWORD n = GetCurrentDirectoryW(4096, cwd);
    if (n > 0 && n < 4096) path = std::u16string(cwd, n) + u"/" + path;
  }
  ZYT::ComPtr<IFilter> filter;
  HRESULT hr = OpenFilter(options, path, filter);
  std::string quoted = ZYT::JsonString(path);
  if (FAILED(hr)) {
    if (options.json)
      std::printf("{\"file\":%s,\"error\":\"%s\",\"step\":\"Load\"}\n", quoted.c_str(), Hex(hr).c_str());
    else if (hr == FILTER_E_UNKNOWNFORMAT)
      std::fprintf(stderr, "zytfilt dump: %s: no filter is registered for this file type\n", file.c_str());
    else
      std::fprintf(stderr, "zytfilt dump: %s: the filter cannot load it: %s\n", file.c_str(), Describe(hr).c_str());
    return false;
  }
  ZYT::WalkOptions walk;
  walk.initFlags = options.initFlags;
  walk.attributes = options.attributes;
  walk.bufferSize = options.buffer;
  ZYT::WalkResult result = ZYT::WalkFilter(filter.get(), walk);
  if (FAILED(result.init)) {
    if (options.json)
      std::printf("{\"file\":%s,\"error\":\"%s\",\"step\":\"Init\"}\n", quoted.c_str(), Hex(result.init).c_str());
    else
      std::fprintf(stderr, "zytfilt dump: %s: Init failed: %s\n", file.c_str(), Describe(result.init).c_str());
    return false;
  }
  if (!options.json) std::printf("file %s\n", file.c_str());
  for (const ZYT::WalkedChunk& c : result.chunks) {
    if (options.json)
      PrintJsonChunk(file, c);
    else
      PrintTextChunk(c);
  }
  if (options.json)
    std::printf("{\"file\":%s,\"end\":\"%s\"}\n", quoted.c_str(), Hex(result.end).c_str());
  else
    std::printf("end %s\n", result.end == FILTER_E_END_OF_CHUNKS ? "of chunks" : Describe(result.end).c_str());
  return true;
}

bool MachineIsSetUp() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{32E04D14-5E47-11D7-B40F-00D009EF4932}\\InprocServer32", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

int RunDumpCommand(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&](std::string& value) {
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    std::string value;
    if (a == "--help" || a == "-h") {
      std::fputs(kDumpUsage, stdout);
      return 0;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--init-flags") {
      if (!next(value) || !ParseNumber(value, options.initFlags)) return Usage("--init-flags needs a number");
    } else if (a == "--buffer") {
      if (!next(value) || !ParseNumber(value, options.buffer) || options.buffer == 0)
        return Usage("--buffer needs a positive number");
    } else if (a == "--class") {
      if (!next(value)) return Usage("--class needs a CLSID or ProgID");
      options.filterClass = ZYT::Utf8ToWide(value);
    } else if (a == "--attribute") {
      if (!next(value)) return Usage("--attribute needs GUID/PROPID or GUID/NAME");
      size_t slash = value.find('/');
      FULLPROPSPEC property{};
      if (slash == std::string::npos || !ZYT::GuidFromString(ZYT::Utf8ToWide(value.substr(0, slash)), property.guidPropSet))
        return Usage("bad attribute '" + value + "'");
      ULONG id = 0;
      if (ParseNumber(value.substr(slash + 1), id)) {
        property.psProperty.ulKind = PRSPEC_PROPID;
        property.psProperty.propid = id;
      } else {
        if (slash + 1 >= value.size()) return Usage("bad attribute '" + value + "'");
        options.names.push_back(ZYT::Utf8ToWide(value.substr(slash + 1)));
        property.psProperty.ulKind = PRSPEC_LPWSTR;
      }
      options.attributes.push_back(property);
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Usage("unknown option '" + a + "'");
    } else {
      options.files.push_back(a);
    }
  }
  if (options.files.empty()) return Usage("no file given");
  // Names are kept in a vector that no longer grows, so the pointers stay valid.
  for (size_t i = 0, n = 0; i < options.attributes.size(); ++i)
    if (options.attributes[i].psProperty.ulKind == PRSPEC_LPWSTR)
      options.attributes[i].psProperty.lpwstr = options.names[n++].data();
  if (!MachineIsSetUp() && Setup(true) != 0) return 1;
  bool ok = true;
  for (const std::string& file : options.files) ok = DumpFile(options, file) && ok;
  return ok ? 0 : 1;
}
