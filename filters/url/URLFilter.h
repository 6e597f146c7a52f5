#pragma once

#include <string>

#include "interfaces/ClassIds.h"
#include "interfaces/OrreryFilter.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/com/NoTypeInfoDispatch.h"
#include "platform/com/OleAuto.h"

struct IURLFilter : IDispatch {
  static constexpr IID iid = IID_IURLFilter;

 protected:
  ~IURLFilter() = default;
};

// The filter of Internet shortcuts (.url). The page a shortcut points to is
// not on disk: the filter hands the machine's HTML filter the saved copy the
// shortcut names, or else a placeholder page titled with the shortcut's name,
// and every IFilter call is that filter's.
class CURLFilter : public ZYT::CComObjectRoot,
                   public ZYT::CNoTypeInfoDispatch<IURLFilter>,
                   public IFilter,
                   public IOrreryFilter,
                   public IPersistFile {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CURLFilter)
  ZYT_INTERFACE(IURLFilter)
  ZYT_INTERFACE_VIA(IDispatch, IURLFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IOrreryFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CURLFilter() = default;
  void FinalRelease() noexcept;

  // IFilter: the HTML filter's answers; E_POINTER before a successful Load.
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;

  HRESULT forceThumbnail(BOOL* force) override;

  HRESULT GetClassID(CLSID* pClassID) override;
  HRESULT IsDirty() override { return E_FAIL; }
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  // The indexer has read the page by now: a placeholder can go.
  HRESULT Save(LPCOLESTR pszFileName, BOOL fRemember) override;
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

  // The placeholder page's two messages.
  static constexpr char kIndexingMessage[] = "Please wait while Orrery indexes and thumbnails this Internet document.";
  static constexpr char kUnreadableMessage[] =
      "Orrery will be unable to index this document because the file could not be read.";

 private:
  void WritePlaceholder(bool onShare);
  void CreateHtmlFilter();
  void DeletePlaceholder();

  std::u16string m_filePath;
  std::u16string m_htmlFile;
  bool m_htmlFileIsTemporary = false;
  bool m_forceThumbnail = false;
  ZYT::ComPtr<IFilter> m_spIFilter;
  ZYT::ComPtr<IPersistFile> m_spPersist;
};
