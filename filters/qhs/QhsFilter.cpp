#include "filters/qhs/QhsFilter.h"

#include <algorithm>

#include "filters/qhs/OrreryStream.h"
#include "framework/PathUtilities.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/PropIds.h"
#include "platform/win32/SysInfo.h"

HRESULT CQhsFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", [&] {
    m_current = ChunkKind::None;
    m_nextChunk = 1;
    m_textWanted = m_valuesWanted = m_textDone = m_valuesDone = m_textChunkRead = false;
    if (cAttributes > 0) {
      if (!aAttributes) return E_INVALIDARG;
      m_textWanted = std::any_of(aAttributes, aAttributes + cAttributes, [](const FULLPROPSPEC& spec) {
        return spec.guidPropSet == PSGUID_STORAGE && spec.psProperty.propid == PID_STG_CONTENTS;
      });
    } else if (grfFlags == 0) {
      m_textWanted = true;
    } else {
      m_valuesWanted = true;
      m_textWanted = (grfFlags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) != 0;
    }
    m_parsePath = ZYT::LongPathOf(m_filePath);
    if (m_parsePath.starts_with(u"\\\\?\\")) m_parsePath.erase(0, 4);
    m_valueChunkDone = false;
    m_valueGiven = false;
    m_pending.clear();
    if (pFlags) *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
    return S_OK;
  });
}

void CQhsFilter::Parse() {
  m_parsed = true;
  // Whatever fails, the stream is found by an empty name.
  HRESULT hr = ZYT::ComBoundary("GetChunk", [&] {
    COrreryStream stream;
    stream.Load(m_parsePath);
    m_name = stream.GetIdAttribute("name");
    m_description = stream.GetIdAttribute("description");
    return S_OK;
  });
  if (FAILED(hr)) {
    m_name.clear();
    m_description.clear();
  }
}

HRESULT CQhsFilter::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", [&] {
    if (!pStat) return E_POINTER;
    if ((m_textWanted && m_textDone) || (m_valuesWanted && m_valuesDone) || (!m_textWanted && !m_valuesWanted))
      return FILTER_E_END_OF_CHUNKS;
    if (!m_parsed) Parse();
    STAT_CHUNK chunk{};
    if (m_textWanted && !m_textDone && !m_textChunkRead) {
      // Offered again, from its start, until GetText has read it to the end.
      m_pending = u" " + m_name;
      if (!m_description.empty()) m_pending += u" - " + m_description;
      chunk.attribute.guidPropSet = PSGUID_STORAGE;
      chunk.attribute.psProperty.propid = PID_STG_CONTENTS;
      chunk.flags = CHUNK_TEXT;
      m_current = ChunkKind::Text;
    } else {
      if (m_valueChunkDone || !m_valuesWanted || m_valuesDone) return FILTER_E_END_OF_CHUNKS;
      if (m_nextChunk > 2) {
        m_valueChunkDone = m_valuesDone = true;
        return FILTER_E_END_OF_CHUNKS;
      }
      chunk.attribute.guidPropSet = FMTID_SummaryInformation;
      chunk.attribute.psProperty.propid = PIDSI_TITLE;
      chunk.flags = CHUNK_VALUE;
      m_current = ChunkKind::Value;
      m_valueGiven = false;
    }
    chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
    chunk.idChunk = chunk.idChunkSource = m_nextChunk++;
    chunk.breakType = CHUNK_NO_BREAK;
    chunk.locale = GetSystemDefaultLCID();
    *pStat = chunk;
    return S_OK;
  });
}

HRESULT CQhsFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  if (!pcwcBuffer || (!awcBuffer && *pcwcBuffer)) return E_POINTER;
  if (!m_textWanted || m_current != ChunkKind::Text) return FILTER_E_NO_TEXT;
  if (m_pending.empty()) {
    m_textDone = m_textChunkRead = true;
    return FILTER_E_NO_MORE_TEXT;
  }
  size_t n = std::min<size_t>(*pcwcBuffer, m_pending.size());
  std::char_traits<char16_t>::copy(awcBuffer, m_pending.data(), n);
  *pcwcBuffer = static_cast<ULONG>(n);
  m_pending.erase(0, n);
  if (!m_pending.empty()) return S_OK;
  m_textDone = m_textChunkRead = true;
  return FILTER_S_LAST_TEXT;
}

HRESULT CQhsFilter::GetValue(PROPVARIANT** ppPropValue) {
  if (!ppPropValue) return E_POINTER;
  *ppPropValue = nullptr;
  if (!m_valuesWanted || m_current != ChunkKind::Value) return FILTER_E_NO_VALUES;
  if (m_valueGiven) return FILTER_E_NO_MORE_VALUES;
  HRESULT hr = ZYT::NewStringPropVariant(kTitlePrefix + m_name, ppPropValue);
  if (SUCCEEDED(hr)) m_valueGiven = true;
  return hr;
}

HRESULT CQhsFilter::BindRegion(FILTERREGION, REFIID, void** ppunk) {
  if (ppunk) *ppunk = nullptr;
  return E_NOTIMPL;
}
