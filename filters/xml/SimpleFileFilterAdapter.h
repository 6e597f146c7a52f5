// The IFilter of any plug-in simple filter: the plug-in class is looked up by
// the file's extension under
// HKLM\Software\ZYT\Orrery\Filters\SimpleFileFilterAdapter\.<ext> (a class
// identifier in braces or a ProgID), and each of its simple chunks becomes
// one IFilter chunk.
#pragma once

#include <string>

#include "framework/EasyIFilterBase.h"
#include "interfaces/ClassIds.h"
#include "interfaces/SimpleFileFilter.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"

class CSimpleFileFilterAdapter : public ZYT::CComObjectRoot, public IFilter, public EasyIFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CSimpleFileFilterAdapter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = ZYT::MultiThreadModel;

  CSimpleFileFilterAdapter();
  ~CSimpleFileFilterAdapter();
  HRESULT FinalConstruct();
  void FinalRelease() noexcept;

  // IFilter
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;
  // IPersistFile
  HRESULT IsDirty() override { return E_NOTIMPL; }
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

 private:
  // Frees what the plug-in handed over with the current chunk.
  void ReleaseChunk() noexcept;

  ZYT::ComPtr<ISimpleFileFilter> m_spSimple;
  ULONG m_getChunkCount = 0;
  SimpleChunk m_chunk{};
  FULLPROPSPEC m_property{};
  // The name a chunk with its own property set carries; m_property points
  // into it until the next chunk.
  std::u16string m_propertyName;
  std::u16string m_text;
  size_t m_textReturned = 0;
};
