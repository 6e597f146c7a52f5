#pragma once

#include <string>

#include "framework/AbstractProxyFilter.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComObject.h"

// The filter of the product's mail messages (".qhm"): the monitor writes the
// message into a temporary file, the machine's mail filter reads it, and this
// filter adds the number of attachments, their names and the message size.
class CEmailFilter : public ZYT::CComObjectRoot, public CAbstractProxyFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CEmailFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CEmailFilter() : CAbstractProxyFilter(u"EML") {}
  HRESULT FinalConstruct() { return CAbstractProxyFilter::FinalConstruct(); }
  void FinalRelease() noexcept;

  HRESULT GetClassID(CLSID* pClassID) override;

 protected:
  HRESULT getPropertyChunk(ULONG ordinal, STAT_CHUNK& chunk) override;
  HRESULT getPropertyValue(const STAT_CHUNK& chunk, PROPVARIANT& value) override;
  HRESULT loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) override;
  std::u16string getProxiedFilterClsid() override;
  void releaseDocument() override;

 private:
  void DeleteTempFile(bool logFailure);
  // Refuses a path that a monitor request would cut: it would name another file.
  HRESULT RefuseLongPath(const char* what, const std::u16string& path);

  DWORD m_fileSize = 0;
  std::u16string m_tempFilePath;
  std::u16string m_numAttachments = u"0";
  std::u16string m_attachmentInfo;
};
