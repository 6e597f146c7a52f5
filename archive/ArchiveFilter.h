// The filter of ".zip" files: extracts the members one at a time into a
// private folder, runs each member's own filter and passes its text on,
// prefixed by the member's name, within the indexer's time budget; ends with
// one summary value.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "archive/UnZipper.h"
#include "framework/EasyIFilterBase.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"

class CArchiveFilter : public ZYT::CComObjectRoot, public IFilter, public EasyIFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CArchiveFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CArchiveFilter();

  HRESULT FinalConstruct();
  void FinalRelease() noexcept;

  // IFilter
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) override;

 private:
  HRESULT Open();
  void ReleaseMember() noexcept;
  void DeleteMember();
  // Creates, loads and initialises the current member's filter; throws on failure.
  void PrepareMemberFilter();
  std::u16string SummaryText();
  // The end of the chunks, answered again to every later GetChunk.
  HRESULT End();

  std::unique_ptr<UnZipper> m_unzipper;
  ZYT::ComPtr<IFilter> m_spIFilter;
  ZYT::ComPtr<IPersistFile> m_spPersist;
  ULONG m_grfFlags = 0;
  std::u16string m_memberPath;
  bool m_memberOnDisk = false;
  time_t m_deadline = 0;
  bool m_fileNamePending = false;
  bool m_summarySent = false;
  bool m_timeRanOut = false;
  int32_t m_count = 0;
  // What the chunk last handed out is: the text of a name chunk already
  // sent, or the summary (GetValue answers only then).
  enum class Current { None, Name, Member, Summary } m_current = Current::None;
  // How deep in other archives this one was found (0 for a file on disk).
  int m_depth = 0;
  bool m_opened = false;
  bool m_ended = false;
  bool m_valueSent = false;
};
