#pragma once

#include <string>
#include <vector>

#include "filters/xml/XmlText.h"
#include "framework/LogStream.h"
#include "framework/SimpleLogger.h"
#include "platform/com/ComObject.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"
#include "platform/xml/XmlDocument.h"

// The namespace bound to the prefix "zytxml" in the filter's XPath queries.
inline constexpr char kZytXmlNamespace[] = "urn:zyt:orrery:xmlfilter";

// Indexes an XML document as text: one chunk per text node, in document order.
// A document that does not parse is indexed as its parse error.
class CXMLFilter : public ZYT::CComObjectRoot, public IFilter, public IPersistFile {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CXMLFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CXMLFilter() : m_log(u"XML", true, true) { m_document.SetSelectionNamespace("zytxml", kZytXmlNamespace); }

  HRESULT FinalConstruct();
  void FinalRelease() noexcept;

  // IPersistFile
  HRESULT GetClassID(CLSID* pClassID) override;
  HRESULT IsDirty() override { return E_NOTIMPL; }
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return S_OK; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

  // IFilter
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION, REFIID, void**) override { return E_NOTIMPL; }

 private:
  // Replaces the text nodes by those of "<error/>" holding `message` as its text.
  void LoadErrorDocument(const std::u16string& message);

  CSimpleLogger m_log;
  ZYT::CLogStream m_logStream;
  std::u16string m_filePath;
  ZYT::XmlDocument m_document;
  // The "//text()" selection's text; emptied as it is read and when replaced.
  ZYT::XmlTextNodes m_textNodes;
  bool m_logChunks = true;
  ULONG m_chunkId = 0;
  std::u16string m_text;
  ULONG m_textPos = 0;
};
