// csvfilter.dll.so: an example simple filter, built from the installed SDK.
// Each row of a .csv or .tsv file is one paragraph of text, and each of its
// fields is also a text property named by the header row (property set
// {95DB618E-482B-40C8-A23A-54FA1F7C4B8E}). The first row is the header.
//
//   .csv: comma-separated, fields may be quoted ("a, ""b""" is: a, "b"),
//         a quoted field may span lines
//   .tsv: tab-separated, no quoting
//
// Bad input is not an error: text is read as UTF-8 (a leading byte-order mark
// is dropped, invalid bytes become U+FFFD), and a row longer than the limit
// HKLM\SOFTWARE\ZYT\Orrery\Limits\CsvMaxRowBytes (default 1 MiB) keeps its
// first bytes and loses the rest.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/SimpleFileFilter.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComVariant.h"
#include "platform/com/Filter.h"
#include "platform/com/Registrar.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {

constexpr CLSID CLSID_CsvFileFilter = ZYT::MakeGuid("{06E3C868-F020-4B79-BCDA-D9D4BA7EBC35}");
constexpr GUID PSGUID_CsvColumns = ZYT::MakeGuid("{95DB618E-482B-40C8-A23A-54FA1F7C4B8E}");

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

class CCsvFileFilter : public ZYT::CComObjectRoot, public ISimpleFileFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CCsvFileFilter)
  ZYT_INTERFACE(ISimpleFileFilter)
  ZYT_END_INTERFACE_MAP()

  HRESULT Load(LPCWSTR path) override {
    return ZYT::ComBoundary("Load", [&] {
      m_file.reset();
      m_header.clear();
      m_haveRow = false;
      if (!path || !*path) return E_INVALIDARG;
      const std::string name = ZYT::WideToUtf8(path);
      // O_NONBLOCK: opening a FIFO must not wait for a writer; anything but a
      // regular file is refused before a byte is read.
      int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
      if (fd < 0) return FILTER_E_ACCESS;
      struct stat info {};
      if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return FILTER_E_ACCESS;
      }
      m_file.reset(fdopen(fd, "rb"));
      if (!m_file) {
        close(fd);
        return E_OUTOFMEMORY;
      }
      const size_t dot = name.find_last_of('.');
      std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
      std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
      m_separator = extension == "tsv" ? '\t' : ',';
      m_maxRowBytes = std::clamp<DWORD>(ZYT::GetLimit(u"CsvMaxRowBytes", 1u << 20), 1024, 1u << 30);
      // A byte-order mark is not part of the first name.
      if (std::getc(m_file.get()) != 0xEF || std::getc(m_file.get()) != 0xBB || std::getc(m_file.get()) != 0xBF)
        std::rewind(m_file.get());
      ReadRow(m_header);
      return S_OK;
    });
  }

  // Per row: the fields joined as one paragraph, then each non-empty field
  // under its column's name. A column without a name gives no property.
  HRESULT GetChunk(SimpleChunk* chunk) override {
    return ZYT::ComBoundary("GetChunk", [&] {
      if (!chunk) return E_POINTER;
      for (;;) {
        if (!m_haveRow) {
          if (!m_file || !ReadRow(m_row)) return FILTER_E_END_OF_CHUNKS;
          m_haveRow = std::any_of(m_row.begin(), m_row.end(), [](const std::u16string& f) { return !f.empty(); });
          m_next = 0;
          continue;
        }
        if (m_next == 0) {
          ++m_next;
          std::u16string text;
          for (const std::u16string& field : m_row) {
            if (field.empty()) continue;
            if (!text.empty()) text += u' ';
            text += field;
          }
          chunk->breakType = CHUNK_EOP;
          chunk->text = ZYT::CBstr(text).Detach();
          return S_OK;
        }
        while (m_next <= m_row.size()) {
          const size_t column = m_next++ - 1;
          if (m_row[column].empty() || column >= m_header.size() || m_header[column].empty()) continue;
          ZYT::CBstr text(m_row[column]);
          ZYT::CBstr name(m_header[column]);
          chunk->propertySet = PSGUID_CsvColumns;
          chunk->propertyName = name.Detach();
          chunk->text = text.Detach();
          return S_OK;
        }
        m_haveRow = false;
      }
    });
  }

 private:
  // Reads one row into fields; false at the end of the file.
  bool ReadRow(std::vector<std::u16string>& fields) {
    fields.clear();
    FILE* file = m_file.get();
    int c = std::getc(file);
    if (c == EOF) return false;
    std::string field;
    size_t rowBytes = 0;
    bool quoted = false;
    auto add = [&](int byte) {
      if (rowBytes++ < m_maxRowBytes) field += static_cast<char>(byte);
    };
    auto endField = [&] {
      fields.push_back(ZYT::Utf8ToWide(field));
      field.clear();
    };
    for (; c != EOF; c = std::getc(file)) {
      if (quoted) {
        if (c != '"') {
          add(c);
        } else if (int next = std::getc(file); next == '"') {
          add('"');
        } else {
          quoted = false;
          if (next != EOF) std::ungetc(next, file);
        }
      } else if (c == '"' && m_separator == ',' && field.empty()) {
        quoted = true;
      } else if (c == m_separator) {
        endField();
      } else if (c == '\n') {
        break;
      } else if (c != '\r') {
        add(c);
      }
    }
    endField();
    return true;
  }

  std::unique_ptr<FILE, FileCloser> m_file;
  char m_separator = ',';
  DWORD m_maxRowBytes = 1u << 20;
  std::vector<std::u16string> m_header;
  std::vector<std::u16string> m_row;
  bool m_haveRow = false;
  size_t m_next = 0;  // 0: the row's paragraph; n: the field in column n-1
};

// The registration script (CsvFilter.rgs), as the build wrapped it in a raw string.
const char16_t kRegistryScript[] =
    u""
#include "CsvFilter.rgs.inc"
    ;

ZYT::CComModule g_csvModule;
std::u16string g_csvModulePath;

HRESULT UpdateRegistry(bool doRegister) {
  ZYT::CRegistrar registrar;
  registrar.AddReplacement(u"%MODULE%", g_csvModulePath);
  return doRegister ? registrar.Register(kRegistryScript) : registrar.Unregister(kRegistryScript);
}

const ZYT::ClassEntry kClasses[] = {
    {&CLSID_CsvFileFilter, &ZytCreateInstance<CCsvFileFilter>, &UpdateRegistry},
};

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

namespace {
// Load and unload of the module: what DllMain does on Windows.
struct ModuleLifetime {
  ModuleLifetime() {
    const void* self = reinterpret_cast<const void*>(&DllGetClassObject);
    g_csvModule.Init(kClasses, std::size(kClasses), ZytModuleFromAddress(self), GUID_NULL);
    g_csvModulePath = ZytModulePathFromAddress(self);
  }
  ~ModuleLifetime() { g_csvModule.Term(); }
} g_lifetime;
}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return g_csvModule.GetClassObject(clsid, riid, ppv);
}
extern "C" HRESULT DllCanUnloadNow() { return g_csvModule.CanUnloadNow(); }
extern "C" HRESULT DllRegisterServer() { return g_csvModule.UpdateClassRegistry(true); }
extern "C" HRESULT DllUnregisterServer() { return g_csvModule.UpdateClassRegistry(false); }
