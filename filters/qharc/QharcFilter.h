#pragma once

#include <string>

#include "framework/EasyIFilterBase.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/NoTypeInfoDispatch.h"
#include "platform/com/OleAuto.h"

struct IQharcFilter : IDispatch {
  static constexpr IID iid = IID_IQharcFilter;

 protected:
  ~IQharcFilter() = default;
};

// The filter of the item files (.qharc) written for files ripped from a
// medium: when the medium the item names is the one mounted at its root, the
// ripped file is filtered by the filter the machine uses for its extension,
// and one value chunk with the archive's name follows that filter's chunks.
// GetCurFile reports the ripped file, not the item file.
class CQharcFilter : public ZYT::CComObjectRoot,
                     public ZYT::CNoTypeInfoDispatch<IQharcFilter>,
                     public IFilter,
                     public EasyIFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CQharcFilter)
  ZYT_INTERFACE(IQharcFilter)
  ZYT_INTERFACE_VIA(IDispatch, IQharcFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CQharcFilter();
  HRESULT FinalConstruct();
  void FinalRelease() noexcept;

  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;

  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;

 private:
  HRESULT LoadItem(const std::u16string& itemPath, DWORD mode);
  // Whether the medium at the item's root is the one the item names.
  bool MediumMatches(const std::u16string& root, const std::u16string& label, DWORD serial);
  std::u16string RealFilterClass(const std::u16string& extension);

  ZYT::ComPtr<IFilter> m_spIFilter;
  ZYT::ComPtr<IPersistFile> m_spPersist;
  std::u16string m_itemPath;
  GUID m_productPropSet{};
  std::u16string m_archiveName;
  bool m_forwarding = false;
  bool m_archiveChunkEmitted = false;
  bool m_archiveValueReturned = false;
};
