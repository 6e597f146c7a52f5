#include "filters/media/TagFilterBase.h"

#include <algorithm>

#include "framework/EasyIFilterBase.h"
#include "platform/com/ComBoundary.h"
#include "platform/win32/Limits.h"
#include "platform/win32/SysInfo.h"

namespace {

// The machine's limit, kept within bounds that still let a tag be read.
size_t Limit(LPCWSTR name, DWORD defaultValue, DWORD lowest, DWORD highest) {
  return std::clamp(ZYT::GetLimit(name, defaultValue), lowest, highest);
}

}  // namespace

HRESULT CTagFilterBase::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", [&] {
    m_chunkNumber = 0;
    m_itemIndex = 0;
    m_headerMade = false;
    m_pending = {};
    m_spacePending = false;
    m_valueChunk = false;
    m_valueReturned = true;
    HRESULT hr = ZYT::InterpretFilterInit(grfFlags, cAttributes, aAttributes, m_initFlags);
    if (FAILED(hr)) return hr;
    if (m_filePath.empty()) return E_FAIL;
    m_file.Close();
    m_file = ZYT::CAutoHandle(CreateFileW(m_filePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid()) return FILTER_E_ACCESS;
    m_items.clear();
    TagLimits limits;
    limits.maxItems = Limit(u"MaxTagItems", 10000, 1, 1000000);
    limits.maxText = Limit(u"MaxTagText", 1024 * 1024, 1024, 64 * 1024 * 1024);
    if (ReadTags(CFileByteSource(m_file.get()), limits)) {
      size_t kept = 0;
      for (const std::u16string& item : m_items) kept += item.size();
      ZYT::CLogStream entry;
      entry << "Init: the tag is cut at its first " << m_items.size() << " texts, " << kept
            << " characters (limits MaxTagItems " << limits.maxItems << ", MaxTagText " << limits.maxText << ")\n";
      m_log.SetFolder(FilterLogFolder());
      m_log.Write(entry);
    }
    if (pFlags) *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
    return S_OK;
  });
}

HRESULT CTagFilterBase::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", [&] {
    if (!pStat) return E_POINTER;
    if (!m_file.IsValid()) return FILTER_E_ACCESS;
    if (EndsAtOnce()) return FILTER_E_END_OF_CHUNKS;
    STAT_CHUNK chunk{};
    chunk.locale = GetSystemDefaultLCID();
    chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
    if (ValueChunkDue()) {
      chunk.idChunk = ++m_chunkNumber;
      chunk.breakType = CHUNK_EOW;
      chunk.flags = CHUNK_VALUE;
      chunk.attribute.guidPropSet = chunk.idChunk == 4 ? FMTID_DocSummaryInformation : FMTID_SummaryInformation;
      chunk.attribute.psProperty.propid = chunk.idChunk == 3 ? PIDSI_AUTHOR : chunk.idChunk == 4 ? PIDDSI_CATEGORY
                                                                                                 : PIDSI_TITLE;
      m_valueReturned = false;
      m_valueChunk = true;
      ValueChunkEmitted();
      *pStat = chunk;
      return S_OK;
    }
    if (m_itemIndex == m_items.size()) return FILTER_E_END_OF_CHUNKS;
    chunk.idChunk = ++m_chunkNumber;
    chunk.breakType = CHUNK_EOS;
    chunk.flags = CHUNK_TEXT;
    chunk.attribute.guidPropSet = PSGUID_STORAGE;
    chunk.attribute.psProperty.propid = PID_STG_CONTENTS;
    chunk.idChunkSource = chunk.idChunk;
    m_valueReturned = false;
    m_valueChunk = false;
    if (!m_headerMade) {
      m_header = Header();
      m_pending = m_header;
      m_headerMade = true;
    }
    // Text the indexer left unread is carried into this chunk.
    if (m_pending.empty() && !m_spacePending) {
      m_pending = m_items[m_itemIndex++];
      m_spacePending = m_itemIndex < m_items.size() || SpaceAfterLastItem();
    }
    *pStat = chunk;
    return S_OK;
  });
}

HRESULT CTagFilterBase::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  if (!pcwcBuffer || (!awcBuffer && *pcwcBuffer)) return E_POINTER;
  if (m_valueChunk) return FILTER_E_NO_TEXT;
  if (m_pending.empty() && !m_spacePending) return FILTER_E_NO_MORE_TEXT;
  size_t n = std::min<size_t>(*pcwcBuffer, m_pending.size());
  std::char_traits<char16_t>::copy(awcBuffer, m_pending.data(), n);
  m_pending.remove_prefix(n);
  if (m_pending.empty() && m_spacePending && n < *pcwcBuffer) {
    awcBuffer[n++] = u' ';
    m_spacePending = false;
  }
  *pcwcBuffer = static_cast<ULONG>(n);
  return m_pending.empty() && !m_spacePending ? FILTER_S_LAST_TEXT : S_OK;
}

HRESULT CTagFilterBase::GetValue(PROPVARIANT** ppPropValue) {
  if (!ppPropValue) return E_POINTER;
  *ppPropValue = nullptr;
  if (m_valueReturned) return FILTER_E_NO_MORE_VALUES;
  if (!m_valueChunk) return FILTER_E_NO_VALUES;
  HRESULT hr = ZYT::NewStringPropVariant(Field(m_chunkNumber), ppPropValue);
  if (SUCCEEDED(hr)) m_valueReturned = true;
  return hr;
}

HRESULT CTagFilterBase::BindRegion(FILTERREGION, REFIID, void** ppunk) {
  if (ppunk) *ppunk = nullptr;
  return E_NOTIMPL;
}
