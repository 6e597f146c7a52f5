#pragma once

#include <string>

#include "framework/AbstractProxyFilter.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComObject.h"

// Indexes a file through the converter program configured for its
// extension: the program writes an XML document about the file to its
// standard output, which goes into a temporary file that the module's XML
// filter reads; every IFilter call is that filter's.
class CXMLProxyFilter : public ZYT::CComObjectRoot, public CAbstractProxyFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CXMLProxyFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CXMLProxyFilter() : CAbstractProxyFilter(u"XPF") {}
  HRESULT FinalConstruct() { return CAbstractProxyFilter::FinalConstruct(); }
  void FinalRelease() noexcept;

  HRESULT GetClassID(CLSID* pClassID) override;
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  // The XML filter has read the document by now: its file can go.
  HRESULT Save(LPCOLESTR pszFileName, BOOL fRemember) override;

  // A converter definition made into a command line: %NAME% environment
  // variables expanded, then "%1" is the file's path as it is (a definition
  // that wants quotes writes them), "%%" one "%"; any other "%" stays.
  static std::u16string BuildCommandLine(const std::u16string& definition, const std::u16string& path);
  // The definition for a file's extension; empty when there is none.
  static std::u16string ReadDefinition(const std::u16string& path);

 protected:
  HRESULT getPropertyChunk(ULONG ordinal, STAT_CHUNK& chunk) override;
  HRESULT getPropertyValue(const STAT_CHUNK& chunk, PROPVARIANT& value) override;
  HRESULT loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) override;
  std::u16string getProxiedFilterClsid() override { return kXmlFilterRow.filter; }
  void releaseDocument() override { DeleteTempFile(); }

 private:
  void RunConverter(const std::u16string& input, const std::u16string& output);
  void DeleteTempFile();

  std::u16string m_tempFilePath;
};
