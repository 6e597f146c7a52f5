#include "filters/xml/NullFileFilter.h"

#include "platform/com/ComVariant.h"

HRESULT CNullFileFilter::Load(LPCWSTR path) {
  return ZYT::ComBoundary("Load", [&] {
    m_path = path ? path : u"";
    return S_OK;
  });
}

HRESULT CNullFileFilter::GetChunk(SimpleChunk* chunk) {
  return ZYT::ComBoundary("GetChunk", [&] {
    if (!chunk) return E_POINTER;
    if (m_chunksReturned > 0) return FILTER_E_END_OF_CHUNKS;
    chunk->text = ZYT::CBstr(m_path).Detach();
    ++m_chunksReturned;
    return S_OK;
  });
}
