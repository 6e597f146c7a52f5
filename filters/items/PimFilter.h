#pragma once

#include <string>

#include "filters/items/ItemProxyFilter.h"
#include "platform/com/ComObject.h"

// The filter of the product's PIM items (".qhcontact", ".qhevent", ".qhnote",
// ".qhtask"): the monitor writes the item as an XML document into a
// temporary file, the XML filter reads that, and this filter adds the item's
// size, status, whole XML text and title.
class CPimFilter : public ZYT::CComObjectRoot, public CItemProxyFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CPimFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CPimFilter();
  HRESULT FinalConstruct() { return CAbstractProxyFilter::FinalConstruct(); }
  void FinalRelease() noexcept { CItemProxyFilter::FinalRelease(); }

  HRESULT GetClassID(CLSID* pClassID) override;

 protected:
  HRESULT loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) override;
  std::u16string getProxiedFilterClsid() override { return findSavedFilterClsid(kXmlFilterRow); }
  void fillValue(PROPID id, PROPVARIANT& value) override;
  void clearItem() override;

 private:
  void ReadItem();

  DWORD m_fileSize = 0;
  std::u16string m_status;
  std::u16string m_summary;
  std::u16string m_title;
};
