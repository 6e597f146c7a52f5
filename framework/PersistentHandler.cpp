#include "framework/PersistentHandler.h"

#include "platform/win32/RegistryKey.h"
#include "platform/win32/StampedCache.h"
#include "platform/win32/Strings.h"

namespace ZYT {

namespace {

std::u16string Dotted(const std::u16string& extension) {
  return !extension.empty() && extension[0] == u'.' ? extension : u"." + extension;
}

std::u16string DefaultOf(const std::u16string& key) {
  return CRegistryKey(HKEY_CLASSES_ROOT, key, KEY_READ).GetStringValue(u"");
}

std::u16string LookUpHandler(const std::u16string& ext) {
  CRegistryKey key(HKEY_CLASSES_ROOT, ext, KEY_READ);
  if (!key.IsOpen()) return {};
  std::u16string handler = DefaultOf(ext + u"\\PersistentHandler");
  if (!handler.empty()) return handler;
  std::u16string progId = key.GetStringValue(u"");
  if (progId.empty()) return {};
  std::u16string documentClass = DefaultOf(progId + u"\\CLSID");
  if (documentClass.empty()) return {};
  return DefaultOf(u"CLSID\\" + documentClass + u"\\PersistentHandler");
}

}  // namespace

std::u16string PersistentHandlerOfExtension(const std::u16string& extension) {
  // A name without an extension has its handler under "." like any other.
  static auto* cache = new StampedCache<std::u16string, std::u16string>;
  std::u16string ext = ToLower(Dotted(extension));
  return cache->Get(ext, [&] { return LookUpHandler(ext); });
}

std::u16string AddinFilterOfHandler(const std::u16string& handler) {
  if (handler.empty()) return {};
  return DefaultOf(u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\" + kIFilterAddinKey);
}

std::u16string SavedFilterOfHandler(const std::u16string& handler) {
  if (handler.empty()) return {};
  // Asked for every file the catalog proxy filters.
  static auto* cache = new StampedCache<std::u16string, std::u16string>;
  return cache->Get(ToLower(handler), [&] {
    CRegistryKey key(HKEY_CLASSES_ROOT, u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\" + kIFilterAddinKey,
                     KEY_READ);
    return key.GetStringValue(kSavedFilterValue);
  });
}

void UndoExtensionChange(const std::u16string& extension) {
  std::u16string ext = Dotted(extension);
  std::u16string classes = u"SOFTWARE\\Classes\\" + ext;
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + u"\\" + kThumbnailKey).c_str());
  CRegKey handler;
  if (handler.Open(HKEY_LOCAL_MACHINE, (classes + u"\\PersistentHandler").c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
    return;
  ULONG chars = 0;
  if (handler.QueryStringValue(kTempHandlerValue, nullptr, &chars) == ERROR_SUCCESS) {
    handler.Close();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + u"\\PersistentHandler").c_str());
    return;
  }
  WCHAR saved[256];
  chars = 256;
  if (handler.QueryStringValue(kSavedExtensionValue, saved, &chars) == ERROR_SUCCESS && saved[0]) {
    handler.SetStringValue(nullptr, saved);
    handler.DeleteValue(kNewExtensionValue);
    handler.DeleteValue(kSavedExtensionValue);
  }
}

}  // namespace ZYT
