#pragma once

#include <string>

#include "framework/PersistFileBase.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComObject.h"
#include "platform/com/Filter.h"
#include "platform/com/NoTypeInfoDispatch.h"
#include "platform/com/OleAuto.h"

struct IQhsFilter : IDispatch {
  static constexpr IID iid = IID_IQhsFilter;

 protected:
  ~IQhsFilter() = default;
};

// The filter of stream files (.qhs): the stream's name and description as one
// text chunk, or, when the indexer asks for values only, the name marked
// "PJTITLE " as the title, twice.
class CQhsFilter : public ZYT::CComObjectRoot,
                   public ZYT::CNoTypeInfoDispatch<IQhsFilter>,
                   public IFilter,
                   public CPersistFileBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CQhsFilter)
  ZYT_INTERFACE(IQhsFilter)
  ZYT_INTERFACE_VIA(IDispatch, IQhsFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CQhsFilter() : CPersistFileBase(CLSID_QhsFilter) {}

  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION, REFIID, void** ppunk) override;

  // The title value's mark, before the stream's name.
  static constexpr char16_t kTitlePrefix[] = u"PJTITLE ";

 private:
  enum class ChunkKind { None, Text, Value };

  void Parse();

  std::u16string m_parsePath;
  std::u16string m_name;
  std::u16string m_description;
  bool m_parsed = false;
  bool m_textWanted = false;
  bool m_valuesWanted = false;
  bool m_textDone = false;
  bool m_valuesDone = false;
  bool m_textChunkRead = false;
  bool m_valueChunkDone = false;
  bool m_valueGiven = false;
  ULONG m_nextChunk = 1;
  ChunkKind m_current = ChunkKind::None;
  std::u16string m_pending;
};
