#include "components/ContentTypeService.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/com/ComVariant.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/StampedCache.h"
#include "platform/win32/Strings.h"

namespace {

constexpr char16_t kTypesKey[] = u"SOFTWARE\\ZYT\\Orrery\\ContentTypes";
constexpr char16_t kUserTypesKey[] = u"SOFTWARE\\ZYT\\Orrery\\ContentTypes\\Extensions";

std::u16string Text(BSTR b) { return b ? std::u16string(b, SysStringLen(b)) : std::u16string(); }

HRESULT Out(const std::u16string& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = ZYT::CBstr(text).Detach();
  return S_OK;
}

std::vector<std::u16string> Split(const std::u16string& list) {
  std::vector<std::u16string> items;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find(u';', pos);
    if (end == std::u16string::npos) end = list.size();
    if (end > pos) items.push_back(list.substr(pos, end - pos));
    pos = end + 1;
  }
  return items;
}

std::u16string Join(const std::vector<std::u16string>& items) {
  std::u16string list;
  for (const auto& item : items) list += (list.empty() ? u"" : u";") + item;
  return list;
}

// The shared-mime-info globs: extension (lower case) to types, heaviest first.
class MimeGlobs {
 public:
  static MimeGlobs& Instance() {
    static auto* globs = new MimeGlobs;
    return *globs;
  }
  void Load() {
    std::lock_guard guard(m_lock);
    m_byExtension.clear();
    m_byType.clear();
    std::vector<std::string> dirs;
    if (const char* own = std::getenv("ZYT_MIME_DIR"); own && *own) {
      dirs.push_back(own);
    } else {
      const char* data = std::getenv("XDG_DATA_DIRS");
      std::stringstream list(data && *data ? data : "/usr/local/share:/usr/share");
      std::string dir;
      while (std::getline(list, dir, ':'))
        if (!dir.empty()) dirs.push_back(dir + "/mime");
    }
    for (const std::string& dir : dirs) {
      std::string text;
      DWORD error = ERROR_SUCCESS;
      if (!ZYT::ReadRegularFile(dir + "/globs2", text, error)) continue;
      std::istringstream in(text);
      std::string line;
      while (std::getline(in, line)) {
        // weight:type:*.ext (simple extension globs only)
        size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        if (line.empty() || line[0] == '#' || b == std::string::npos || line.compare(b + 1, 2, "*.") != 0) continue;
        std::string ext = line.substr(b + 3);
        if (ext.find_first_of("*?[:") != std::string::npos) continue;
        std::u16string key = ZYT::ToLower(ZYT::Utf8ToWide(ext));
        std::u16string type = ZYT::Utf8ToWide(line.substr(a + 1, b - a - 1));
        m_byExtension[key].push_back(type);
        m_byType[type].push_back(key);
      }
    }
    m_loaded = true;
  }
  std::u16string TypeOf(const std::u16string& extension) {
    EnsureLoaded();
    std::lock_guard guard(m_lock);
    auto it = m_byExtension.find(ZYT::ToLower(extension));
    return it == m_byExtension.end() ? std::u16string() : it->second.front();
  }
  std::vector<std::u16string> ExtensionsOf(const std::u16string& type) {
    EnsureLoaded();
    std::lock_guard guard(m_lock);
    auto it = m_byType.find(type);
    return it == m_byType.end() ? std::vector<std::u16string>() : it->second;
  }

 private:
  void EnsureLoaded() {
    bool loaded;
    {
      std::lock_guard guard(m_lock);
      loaded = m_loaded;
    }
    if (!loaded) Load();
  }
  std::mutex m_lock;
  bool m_loaded = false;
  std::map<std::u16string, std::vector<std::u16string>> m_byExtension, m_byType;
};

std::vector<std::u16string> Supported() {
  static auto* cache = new ZYT::StampedCache<int, std::vector<std::u16string>>;
  return cache->Get(0, [] {
    ZYT::CRegistryKey key(HKEY_LOCAL_MACHINE, kTypesKey, KEY_READ);
    std::u16string list = key.GetStringValue(u"Supported");
    return Split(list.empty() ? kDefaultSupportedTypes : list);
  });
}

HRESULT StoreSupported(const std::vector<std::u16string>& types) {
  ZYT::CRegKey key;
  LONG rc = key.Create(HKEY_LOCAL_MACHINE, kTypesKey, KEY_ALL_ACCESS);
  if (rc == ERROR_SUCCESS) rc = key.SetStringValue(u"Supported", Join(types));
  return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

bool Matches(const std::u16string& pattern, const std::u16string& type) {
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, u"/*") == 0)
    return ZYT::EqualsNoCase(type.substr(0, pattern.size() - 1), pattern.substr(0, pattern.size() - 1));
  return ZYT::EqualsNoCase(pattern, type);
}

std::u16string LookUpContentType(const std::u16string& ext) {
  std::u16string type;
  if (!ext.empty()) type = ZYT::CRegistryKey(HKEY_LOCAL_MACHINE, kUserTypesKey, KEY_READ).GetStringValue(ext);
  // A name without an extension has its key "." like any other.
  ZYT::CRegistryKey classes(HKEY_CLASSES_ROOT, u"." + ext, KEY_READ);
  if (type.empty()) type = classes.GetStringValue(u"Content Type");
  if (type.empty()) type = classes.GetStringValue(u"content-type");
  if (type.empty() && !ext.empty()) type = MimeGlobs::Instance().TypeOf(ext);
  return type.empty() ? u"application/octet-stream" : type;
}

// The catalog proxy asks for every file; the answers hold until the registry
// changes or the MIME database is read again.
ZYT::StampedCache<std::u16string, std::u16string>& ContentTypes() {
  static auto* cache = new ZYT::StampedCache<std::u16string, std::u16string>;
  return *cache;
}

}  // namespace

HRESULT CContentTypeService::ContentTypeOfExtension(BSTR extension, BSTR* contentType) {
  return ZYT::ComBoundary("ContentTypeOfExtension", [&] {
    std::u16string ext = Text(extension);
    if (!ext.empty() && ext[0] == u'.') ext.erase(0, 1);
    return Out(ContentTypes().Get(ext, [&] { return LookUpContentType(ext); }), contentType);
  });
}

HRESULT CContentTypeService::ContentTypeOfPath(BSTR path, BSTR* contentType) {
  return ZYT::ComBoundary("ContentTypeOfPath", [&] {
    ZYT::CBstr extension(ZYT::ExtensionOf(Text(path)));
    return ContentTypeOfExtension(extension.get(), contentType);
  });
}

HRESULT CContentTypeService::ExtensionsOf(BSTR contentType, BSTR* extensions) {
  return ZYT::ComBoundary("ExtensionsOf", [&] { return Out(Join(MimeGlobs::Instance().ExtensionsOf(Text(contentType))), extensions); });
}

HRESULT CContentTypeService::IsText(BSTR contentType, VARIANT_BOOL* text) {
  if (!text) return E_POINTER;
  std::u16string type = ZYT::ToLower(Text(contentType));
  bool isText = type.rfind(u"text/", 0) == 0 || type.rfind(u"message/", 0) == 0 || type == u"application/xml" ||
                (type.size() > 4 && type.compare(type.size() - 4, 4, u"+xml") == 0);
  *text = isText ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT CContentTypeService::MediaType(BSTR contentType, BSTR* media) {
  return ZYT::ComBoundary("MediaType", [&] {
    std::u16string type = Text(contentType);
    return Out(type.substr(0, type.find(u'/')), media);
  });
}

HRESULT CContentTypeService::AddSupportedType(BSTR contentType) {
  return ZYT::ComBoundary("AddSupportedType", [&] {
    std::u16string type = Text(contentType);
    if (type.find(u'/') == std::u16string::npos || type.find(u';') != std::u16string::npos) return E_INVALIDARG;
    auto types = Supported();
    for (const auto& t : types)
      if (ZYT::EqualsNoCase(t, type)) return S_FALSE;
    types.push_back(type);
    return StoreSupported(types);
  });
}

HRESULT CContentTypeService::RemoveSupportedType(BSTR contentType) {
  return ZYT::ComBoundary("RemoveSupportedType", [&] {
    auto types = Supported();
    std::u16string type = Text(contentType);
    size_t before = types.size();
    std::erase_if(types, [&](const std::u16string& t) { return ZYT::EqualsNoCase(t, type); });
    return types.size() == before ? S_FALSE : StoreSupported(types);
  });
}

HRESULT CContentTypeService::SupportedTypes(BSTR* types) {
  return ZYT::ComBoundary("SupportedTypes", [&] { return Out(Join(Supported()), types); });
}

HRESULT CContentTypeService::ResetSupportedTypes() {
  return ZYT::ComBoundary("ResetSupportedTypes", [&] {
    ZYT::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kTypesKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) key.DeleteValue(u"Supported");
    return S_OK;
  });
}

HRESULT CContentTypeService::Refresh() {
  return ZYT::ComBoundary("Refresh", [&] {
    MimeGlobs::Instance().Load();
    ContentTypes().Clear();
    return S_OK;
  });
}

HRESULT CContentTypeService::SetContentType(BSTR extension, BSTR contentType) {
  return ZYT::ComBoundary("SetContentType", [&] {
    std::u16string ext = Text(extension), type = Text(contentType);
    if (ext.empty() || type.find(u'/') == std::u16string::npos) return E_INVALIDARG;
    ZYT::CRegKey key;
    LONG rc = key.Create(HKEY_LOCAL_MACHINE, kUserTypesKey, KEY_ALL_ACCESS);
    if (rc == ERROR_SUCCESS) rc = key.SetStringValue(ext.c_str(), type);
    return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
  });
}

HRESULT CContentTypeService::RemoveContentType(BSTR extension) {
  return ZYT::ComBoundary("RemoveContentType", [&] {
    ZYT::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kUserTypesKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return S_FALSE;
    return key.DeleteValue(Text(extension).c_str()) == ERROR_SUCCESS ? S_OK : S_FALSE;
  });
}

HRESULT CContentTypeService::IsSupported(BSTR contentType, VARIANT_BOOL* supported) {
  return ZYT::ComBoundary("IsSupported", [&] {
    if (!supported) return E_POINTER;
    std::u16string type = Text(contentType);
    bool found = false;
    for (const auto& pattern : Supported()) found = found || Matches(pattern, type);
    *supported = found ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}
