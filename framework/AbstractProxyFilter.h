// The base of the filters that hand a prepared document to another filter
// (the proxied filter), pass its chunks on, and then add value chunks of
// their own in the product property set, numbered after the proxied
// filter's last chunk, one value each.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "framework/LogStream.h"
#include "framework/SimpleLogger.h"
#include "framework/TempFileLock.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"

// Creates a filter from a CLSID in braces or a ProgID: CoCreateInstance for
// IUnknown with context 0x17, OleRun, then IFilter. Returns the first failure.
HRESULT CreateFilterFromText(const std::u16string& text, ZYT::ComPtr<IFilter>& filter);

// The whole file, opened for shared reading; throws ZYT::HResultException.
std::string ReadWholeFile(const std::u16string& path);

// Where a proxy looks for the filter it drives, and what it falls back on.
struct SavedFilterRow {
  const char16_t* extension;
  const char16_t* className;
  const char16_t* classId;
  const char16_t* handler;
  const char16_t* filter;
};
inline constexpr SavedFilterRow kEmlFilterRow{u".eml", u"Microsoft Internet Mail Message",
                                              u"{5645C8C3-E277-11CF-8FDA-00AA00A14F93}",
                                              u"{5645C8C4-E277-11CF-8FDA-00AA00A14F93}",
                                              u"{5645C8C2-E277-11CF-8FDA-00AA00A14F93}"};
inline constexpr SavedFilterRow kXmlFilterRow{u".xml", u"xmlfile", u"{48123BC4-99D9-11D1-A6B3-00C04FD91555}",
                                              u"{32E04D18-5E47-11D7-B40F-00D009EF4932}",
                                              u"{32E04D16-5E47-11D7-B40F-00D009EF4932}"};
inline constexpr SavedFilterRow kHtmFilterRow{u".htm", u"htmlfile", u"{25336920-03F9-11CF-8FD0-00AA00686F13}",
                                              u"{EEC97550-47A9-11CF-B952-00AA0051FE20}",
                                              u"{E0CA5340-4534-11CF-B952-00AA0051FE20}"};

class CAbstractProxyFilter : public IFilter, public IPersistFile {
 public:
  // IFilter
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;
  // IPersistFile (GetClassID is the subclass's)
  HRESULT IsDirty() override { return E_NOTIMPL; }
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return S_OK; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

  HRESULT FinalConstruct();
  void FinalRelease() noexcept;

 protected:
  explicit CAbstractProxyFilter(const char16_t* tag);
  virtual ~CAbstractProxyFilter() = default;

  // The chunk of own ordinal (1-based), pre-filled by the base: set its
  // property id, or answer FILTER_E_END_OF_CHUNKS.
  virtual HRESULT getPropertyChunk(ULONG ordinal, STAT_CHUNK& chunk) = 0;
  // Fill value (zeroed, already the caller's) for the chunk's property.
  virtual HRESULT getPropertyValue(const STAT_CHUNK& chunk, PROPVARIANT& value) = 0;
  // Prepare the document and load the proxied filter with it.
  virtual HRESULT loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) = 0;
  // A CLSID in braces or a ProgID.
  virtual std::u16string getProxiedFilterClsid() = 0;
  // Called by Load once the previous proxied filter is released: drop what
  // the previous document left (its temporary file).
  virtual void releaseDocument() {}

  // A new empty file in the repository's "temp" folder, held locked until
  // deleteTempFile; throws on failure. The first call in a process removes
  // the files that dead hosts left in that folder.
  std::u16string getTempFile(const std::u16string& prefix);
  // Deletes a file of getTempFile and lets go of it; DeleteFileW's answer
  // (GetLastError tells why it failed).
  bool deleteTempFile(const std::u16string& path);
  // Gives target the source's last-write time as all three of its times; throws.
  void copyFileTime(const std::u16string& source, const std::u16string& target);
  // Low 32 bits of the size; 0 when the file cannot be found.
  DWORD getFileSize(const std::u16string& path);
  // The whole file; throws.
  std::string readFileBytes(const std::u16string& path);
  // A string under HKEY_LOCAL_MACHINE; throws when missing, too long or empty.
  static std::u16string readMachineString(const std::u16string& subKey, const std::u16string& valueName);
  std::u16string findSavedFilterClsid(const SavedFilterRow& row);

  CSimpleLogger m_log;
  ZYT::CLogStream m_logStream;
  GUID m_propertySetId{};
  ZYT::ComPtr<IFilter> m_spProxiedFilter;
  std::u16string m_loadFilePath;
  ULONG m_ownChunkCount = 0;
  LONG m_ownValueCount = 0;
  ULONG m_lastChunkId = 0;
  STAT_CHUNK m_currentChunk{};

 private:
  std::vector<std::pair<std::u16string, ZYT::CTempFileLock>> m_tempFileLocks;

  void LogProxied(const char* method, HRESULT hr);
};
