// Stands in for the filter that a filter under test hands its file to: it
// serves the whole file it is given, read as UTF-8, as one text chunk, and
// records what it was given, so a test sees exactly what was handed on.
#pragma once

#include <algorithm>
#include <string>

#include "platform/com/ComObject.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"
#include "platform/com/PropIds.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"

namespace ZYT::Test {

struct WholeFileSeen {
  std::u16string loadedPath;
  std::string loadedBytes;
  HRESULT loadResult = S_OK;  // what Load answers once it has read the file
  int alive = 0;              // instances not yet released
};

template <const CLSID& Clsid, WholeFileSeen& Seen>
class CWholeFileFilter : public CComObjectRoot, public IFilter, public IPersistFile {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CWholeFileFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  CWholeFileFilter() { ++Seen.alive; }
  ~CWholeFileFilter() { --Seen.alive; }
  HRESULT Init(ULONG, ULONG, const FULLPROPSPEC*, ULONG* flags) override {
    m_chunk = 0;
    if (flags) *flags = 0;
    return S_OK;
  }
  HRESULT GetChunk(STAT_CHUNK* s) override {
    if (m_chunk == 1) return FILTER_E_END_OF_CHUNKS;
    *s = STAT_CHUNK{};
    s->idChunk = s->idChunkSource = m_chunk = 1;
    s->flags = CHUNK_TEXT;
    s->breakType = CHUNK_EOP;
    s->attribute.guidPropSet = PSGUID_STORAGE;
    s->attribute.psProperty.ulKind = PRSPEC_PROPID;
    s->attribute.psProperty.propid = PID_STG_CONTENTS;
    m_pos = 0;
    return S_OK;
  }
  HRESULT GetText(ULONG* n, WCHAR* buffer) override {
    if (m_chunk != 1 || m_pos >= m_text.size()) return FILTER_E_NO_MORE_TEXT;
    size_t k = std::min<size_t>(*n, m_text.size() - m_pos);
    std::char_traits<char16_t>::copy(buffer, m_text.data() + m_pos, k);
    m_pos += k;
    *n = static_cast<ULONG>(k);
    return m_pos == m_text.size() ? FILTER_S_LAST_TEXT : S_OK;
  }
  HRESULT GetValue(PROPVARIANT** v) override {
    *v = nullptr;
    return FILTER_E_NO_VALUES;
  }
  HRESULT BindRegion(FILTERREGION, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT GetClassID(CLSID* c) override {
    *c = Clsid;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(LPCOLESTR path, DWORD) override {
    Seen.loadedPath = path;
    std::string bytes;
    DWORD error = 0;
    if (!ReadRegularFile(ToPosixPath(path), bytes, error)) return HRESULT_FROM_WIN32(error);
    Seen.loadedBytes = bytes;
    m_text = Utf8ToWide(bytes);
    return Seen.loadResult;
  }
  HRESULT Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

 private:
  std::u16string m_text;
  ULONG m_chunk = 0;
  size_t m_pos = 0;
};

}  // namespace ZYT::Test
