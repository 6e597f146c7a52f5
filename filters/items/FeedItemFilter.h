#pragma once

#include <string>

#include "filters/items/ItemProxyFilter.h"
#include "platform/com/ComObject.h"

// The filter of the product's feed items (".qhitem", XML documents): the XML
// filter reads the document itself, and this filter adds the feed's name and
// URL, the document size, the feed name as sender, a plain-text summary of the
// description and a title (the item's own, else the summary's beginning, else
// the feed name).
class CFeedItemFilter : public ZYT::CComObjectRoot, public CItemProxyFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CFeedItemFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CFeedItemFilter();
  HRESULT FinalConstruct() { return CAbstractProxyFilter::FinalConstruct(); }
  void FinalRelease() noexcept { CItemProxyFilter::FinalRelease(); }

  HRESULT GetClassID(CLSID* pClassID) override;

 protected:
  HRESULT loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) override;
  std::u16string getProxiedFilterClsid() override { return findSavedFilterClsid(kXmlFilterRow); }
  void fillValue(PROPID id, PROPVARIANT& value) override;
  void clearItem() override;

 private:
  void ReadItem(const std::u16string& path);

  DWORD m_fileSize = 0;
  std::u16string m_feedName;
  std::u16string m_feedUrl;
  std::u16string m_summary;
  std::u16string m_title;
};
