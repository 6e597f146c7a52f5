#pragma once

#include <string>

#include "filters/items/ItemProxyFilter.h"
#include "platform/com/ComObject.h"

// The filter of the product's stored web pages (".qhhttp"): the page is copied
// into a temporary file that the machine's HTML filter reads, and this filter
// adds the copy's size.
class CHttpItemFilter : public ZYT::CComObjectRoot, public CItemProxyFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CHttpItemFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CHttpItemFilter();
  HRESULT FinalConstruct() { return CAbstractProxyFilter::FinalConstruct(); }
  void FinalRelease() noexcept { CItemProxyFilter::FinalRelease(); }

  HRESULT GetClassID(CLSID* pClassID) override;

 protected:
  HRESULT loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) override;
  std::u16string getProxiedFilterClsid() override { return findSavedFilterClsid(kHtmFilterRow); }
  void fillValue(PROPID id, PROPVARIANT& value) override;
  void clearItem() override { m_fileSize = 0; }

 private:
  DWORD m_fileSize = 0;
};
