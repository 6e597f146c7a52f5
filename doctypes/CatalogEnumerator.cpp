#include "doctypes/CatalogEnumerator.h"

#include "doctypes/CatalogTypes.h"
#include "framework/EasyIFilterBase.h"
#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/Catalogs.h"
#include "platform/win32/StampedCache.h"
#include "platform/win32/Strings.h"

namespace {

std::u16string AskText(const std::u16string& xpath, const char16_t* fallback) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(fallback);
  ZYT::CVariant answer;
  try {
    ZYT::QuerySettings(xpath, value, answer);
  } catch (...) {
    VariantClear(&value);
    throw;
  }
  VariantClear(&value);
  return answer.Text();
}

}  // namespace

CCIUtility::CCIUtility() : m_log(u"CIU", true, true) {
  m_log.SetFolder(FilterLogFolder());
  ZYT::ComPtr<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(CLSID_AdminIndexServer, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.put_void());
  if (SUCCEEDED(hr)) hr = OleRun(unknown.get());
  if (SUCCEEDED(hr)) hr = unknown.As(m_spAdmin);
  if (FAILED(hr)) {
    m_log.LogComError(_com_error(hr), ".\\CIUtility.cpp", __LINE__);
    _com_issue_error(hr);
  }
}

CCatalogAccessor::CCatalogAccessor(const std::u16string& typeKey)
    : m_xpath(u"/*/CIS/catalogs/catalog[@catalog-type='" + typeKey + u"']"), m_utility(new CCIUtility) {
  m_type = AskText(m_xpath + u"/@catalog-type", u"unknown");
}

CCatalogAccessor::CCatalogAccessor(const CCatalogAccessor& other)
    : m_type(other.m_type), m_xpath(other.m_xpath), m_utility(std::move(other.m_utility)) {}

std::u16string CCatalogAccessor::CatalogName() const { return AskText(m_xpath + u"/@catalog-name", u"unknown"); }

CCatalogEnumerator::CCatalogEnumerator() {
  std::u16string xml = AskText(u"/*/CIS/catalogs", u"<catalogs/>");
  if (!m_catalogs.LoadXml(ZYT::WideToUtf8(xml))) m_catalogs.LoadXml("<catalogs/>");
}

CCatalogAccessor CCatalogEnumerator::Next() {
  while (m_position < kCatalogTypeCount) {
    const CatalogType& row = kCatalogTypes[m_position++];
    std::string xpath = "/*/catalog[@catalog-type='" + ZYT::WideToUtf8(row.key) + "']";
    if (m_catalogs.SelectSingleNode(xpath)) return CCatalogAccessor(row.key);
  }
  throw CEOFException();
}

namespace {

// The type key of the configured catalog of this machine that covers folder;
// empty when there is none.
std::u16string LookUpCatalogType(const std::u16string& folder) {
  for (ULONG bookmark = 0;; ++bookmark) {
    WCHAR machine[256], catalog[256];
    ULONG ccMachine = 256, ccCatalog = 256;
    if (FAILED(LocateCatalogsW(folder.c_str(), bookmark, machine, &ccMachine, catalog, &ccCatalog))) return {};
    if (std::u16string(machine) != u".") continue;
    CCatalogEnumerator catalogs;
    try {
      for (;;) {
        CCatalogAccessor accessor = catalogs.Next();
        if (accessor.CatalogName() == catalog) return accessor.Type();
      }
    } catch (const CCatalogEnumerator::CEOFException&) {
      // No configured type carries this catalog; try the next one.
    }
  }
}

}  // namespace

bool CatalogTypeOfFile(const std::u16string& path, std::u16string& type) {
  std::u16string folder = ZYT::DirectoryOf(path);
  // Every file the indexer filters is looked up; the answer holds while the
  // registry and the configured catalogs stay as they are.
  std::u16string configured = AskText(u"/*/CIS/catalogs", u"<catalogs/>");
  static auto* cache = new ZYT::StampedCache<std::u16string, std::u16string>;
  std::u16string found = cache->Get(folder + u'\n' + configured, [&] { return LookUpCatalogType(folder); });
  if (found.empty()) return false;
  type = found;
  return true;
}
