// The IFilter and IPersistFile methods of a stand-in filter that a filter
// under test hands its file to. It serves the chunks its class gives
// (text, or a string or number value), so each test's stand-in only says what
// it serves, what Load does, and where it breaks the rules.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/ClassFactory.h"
#include "platform/com/ComObject.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"
#include "platform/com/PropIds.h"
#include "platform/com/ObjBase.h"
#include "platform/com/OleAuto.h"
#include "platform/com/TaskAllocator.h"

namespace ZYT::Test {

// One chunk a stand-in serves: a text, or a value (a string, or the number 7
// when isNumber).
struct FakeChunk {
  bool isText = true;
  GUID set = PSGUID_STORAGE;
  PROPID id = PID_STG_CONTENTS;
  std::u16string name;  // a PRSPEC_LPWSTR property when not empty
  std::u16string text;
  bool isNumber = false;
  ULONG idChunk = 0;  // 0: the next number
};

inline std::vector<FakeChunk> TextChunks(const std::vector<std::u16string>& texts) {
  std::vector<FakeChunk> chunks;
  for (const std::u16string& t : texts) chunks.push_back({.text = t});
  return chunks;
}

// The derived class declares the interface map and gives Chunks, ClassId and
// Loaded; the other hooks are optional.
class CFakeFilterBase : public CComObjectRoot, public IFilter, public IPersistFile {
 public:
  HRESULT Init(ULONG, ULONG, const FULLPROPSPEC*, ULONG* flags) override {
    Hook("Init");
    m_next = 0;
    m_lastId = 0;
    if (flags) *flags = 0;
    return InitResult();
  }
  HRESULT GetChunk(STAT_CHUNK* s) override {
    Hook("GetChunk");
    if (m_next >= Chunks().size()) return EndCode();
    const FakeChunk& c = Chunks()[m_next++];
    *s = STAT_CHUNK{};
    m_lastId = c.idChunk ? c.idChunk : m_lastId + 1;
    s->idChunk = s->idChunkSource = m_lastId;
    s->flags = c.isText ? CHUNK_TEXT : CHUNK_VALUE;
    s->breakType = CHUNK_EOP;
    s->attribute.guidPropSet = c.set;
    if (c.name.empty()) {
      s->attribute.psProperty.ulKind = PRSPEC_PROPID;
      s->attribute.psProperty.propid = c.id;
    } else {
      s->attribute.psProperty.ulKind = PRSPEC_LPWSTR;
      s->attribute.psProperty.lpwstr = const_cast<LPWSTR>(c.name.c_str());
    }
    m_pos = 0;
    m_valueGiven = false;
    return S_OK;
  }
  HRESULT GetText(ULONG* n, WCHAR* buffer) override {
    Hook("GetText");
    if (m_next == 0 || m_next > Chunks().size() || !Current().isText) return FILTER_E_NO_TEXT;
    const std::u16string& t = Current().text;
    if (m_pos >= t.size()) return FILTER_E_NO_MORE_TEXT;
    size_t k = std::min<size_t>(*n, t.size() - m_pos);
    std::char_traits<char16_t>::copy(buffer, t.data() + m_pos, k);
    m_pos += k;
    *n = static_cast<ULONG>(k);
    return m_pos == t.size() ? FILTER_S_LAST_TEXT : S_OK;
  }
  HRESULT GetValue(PROPVARIANT** v) override {
    *v = nullptr;
    Hook("GetValue");
    if (m_next == 0 || m_next > Chunks().size() || Current().isText) return FILTER_E_NO_VALUES;
    if (m_valueGiven) return FILTER_E_NO_MORE_VALUES;
    m_valueGiven = true;
    if (!Current().isNumber) return NewStringPropVariant(Current().text, v);
    *v = static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT)));
    PropVariantInit(*v);
    (*v)->vt = VT_UI4;
    (*v)->ulVal = 7;
    return S_OK;
  }
  HRESULT BindRegion(FILTERREGION, REFIID, void**) override {
    Hook("BindRegion");
    return E_NOTIMPL;
  }
  HRESULT GetClassID(CLSID* c) override {
    *c = ClassId();
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(LPCOLESTR path, DWORD) override {
    Hook("Load");
    return Loaded(path);
  }
  HRESULT Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }

 protected:
  virtual const std::vector<FakeChunk>& Chunks() = 0;
  virtual CLSID ClassId() = 0;
  virtual HRESULT Loaded(LPCOLESTR path) = 0;
  virtual void Hook(const char* /*method*/) {}
  virtual HRESULT InitResult() { return S_OK; }
  virtual HRESULT EndCode() { return FILTER_E_END_OF_CHUNKS; }

 private:
  const FakeChunk& Current() { return Chunks()[m_next - 1]; }
  size_t m_next = 0, m_pos = 0;
  ULONG m_lastId = 0;
  bool m_valueGiven = false;
};

// Makes the class creatable by its class id in this process, as a registered
// module's class is; the cookie revokes it.
template <class T>
HRESULT RegisterFake(const CLSID& clsid, DWORD* cookie) {
  auto* factory = new CComClassFactory(&ZytCreateInstance<T>);
  HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, cookie);
  factory->Release();
  return hr;
}

}  // namespace ZYT::Test
