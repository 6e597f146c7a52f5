// The filter that stands in front of every filter on the machine. It finds
// the file type's own filter (the native filter) through the persistent
// handler, forwards the indexer's calls to it, and, for files in one of the
// product's catalogs, appends the product's own value chunks after the
// native filter's last chunk. Files outside the catalogs pass straight
// through. Each object serves one file and writes its lifetime to
// "indexer-performance.csv" in the debug folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/SimpleLogger.h"
#include "framework/StopWatch.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/com/NoTypeInfoDispatch.h"
#include "platform/com/ObjIdl.h"
#include "platform/xml/XmlDocument.h"

struct IOrreryCISProxyFilter : IDispatch {
  static constexpr IID iid = IID_IOrreryCISProxyFilter;

 protected:
  ~IOrreryCISProxyFilter() = default;
};

class COrreryCISProxyFilter : public ZYT::CComObjectRoot,
                              public ZYT::CNoTypeInfoDispatch<IOrreryCISProxyFilter>,
                              public IFilter,
                              public IPersistFile {
 public:
  ZYT_BEGIN_INTERFACE_MAP(COrreryCISProxyFilter)
  ZYT_INTERFACE(IOrreryCISProxyFilter)
  ZYT_INTERFACE_VIA(IDispatch, IOrreryCISProxyFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = ZYT::MultiThreadModel;

  COrreryCISProxyFilter();
  HRESULT FinalConstruct();
  void FinalRelease() noexcept;

  // IFilter
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;
  // IPersistFile
  HRESULT GetClassID(CLSID* pClassID) override;
  HRESULT IsDirty() override;
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT Save(LPCOLESTR pszFileName, BOOL fRemember) override;
  HRESULT SaveCompleted(LPCOLESTR pszFileName) override;
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

  static constexpr int kWatchedCount = 18;

 private:
  // The process reads the CIS settings once for the module's life; only a
  // test, which changes the settings between cases in one process, may make
  // it read them again, through this friend. Objects alive keep the copy they
  // took at construction.
  friend class CCatalogProxyTestHook;
  static void ForgetProcessSettings();

  // The CIS element as the process read it, shared by the objects that took it.
  struct CisSettings;
  struct SettingsSlot;
  static SettingsSlot& Slot();
  // The process's settings, read by the first object that asks; null when
  // they cannot be read (the next object asks again).
  static std::shared_ptr<const CisSettings> ProcessSettings();
  enum Captured { kSubject, kCharacterization, kDocTitle, kPath, kTo, kFrom, kCc, kItemId, kSummary, kTitle,
                  kFileAttributes, kCapturedCount };

  void LoadCatalogType();
  void LoadContentType(const std::u16string& extension);
  void LoadAttachments();
  HRESULT CreateNativeFilter(const std::u16string& handler);
  HRESULT ProxyGetChunk(STAT_CHUNK* pStat);
  void NoteNativeChunk(const STAT_CHUNK& chunk);
  HRESULT NativeValue(PROPVARIANT** ppPropValue);
  HRESULT OwnValue(PROPVARIANT** ppPropValue);
  void CaptureWatchedValue(const PROPVARIANT& value);
  void MergeKeywords(PROPVARIANT& value);
  HRESULT KeywordsValue(PROPVARIANT** ppPropValue);
  void PrepareFieldChunks();
  void FinishOwnChunk(STAT_CHUNK* pStat);
  HRESULT FieldValue(long propid, PROPVARIANT** ppPropValue);
  HRESULT ProductFieldValue(long propid, PROPVARIANT** ppPropValue);
  HRESULT CustomFieldValue(long propid, PROPVARIANT** ppPropValue);
  std::u16string Keywords();
  HRESULT ReadKeywords(std::u16string& keywords);
  bool IsFieldChunkCurrent() const { return m_applyIndexAttributes && !m_customFieldsDone && m_chunkKind == 2; }

  GUID m_productPropSet{};
  bool m_passThrough = true;
  std::u16string m_loadFilePath;
  std::u16string m_filePath;
  std::u16string m_contentType;
  bool m_contentTypeSupported = false;
  std::u16string m_catalogType = u"unknown";
  std::u16string m_numAttachments = u"0";
  std::u16string m_attachmentInfo;
  ZYT::ComPtr<IFilter> m_spIFilter;
  ZYT::ComPtr<IPersistFile> m_spPersist;
  char16_t m_textStart[321]{};
  size_t m_textStartLength = 0;
  ULONG m_nativeFlags = 0;
  CSimpleLogger m_log;
  CStopWatch m_stopWatch;
  std::u16string m_debugFolder;  // read once: the log and the performance table both live there
  std::shared_ptr<const CisSettings> m_settings;  // null when the settings could not be read

  bool m_nativeEnded = false;
  bool m_applyIndexAttributes = false;
  bool m_customFieldsDone = false;
  bool m_keywordsDone = false;
  bool m_fieldsPrepared = false;
  std::vector<ZYT::XmlNode> m_spFields;  // nodes of m_settings, which keeps them alive
  size_t m_nextField = 0;
  int m_chunkKind = -1;
  long m_propid = -1;
  GUID m_fieldPropSet{};
  ULONG m_lastChunkId = 1;
  STAT_CHUNK m_chunk{};
  bool m_seen[kWatchedCount]{};
  std::u16string m_captured[kCapturedCount];
  // The file's keywords are read once per object.
  bool m_keywordsRead = false;
  std::u16string m_keywords;
};
