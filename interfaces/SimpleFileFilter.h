// The plug-in interface of simple filters: one chunk per call, text or value.
#pragma once

#include "interfaces/ClassIds.h"
#include "platform/com/OleAuto.h"

struct SimpleChunk {
  LONG breakType;            // CHUNK_BREAKTYPE; the caller presets CHUNK_EOS
  LCID locale;               // the caller presets the system default locale
  GUID propertySet;
  BSTR propertyName;         // null: the chunk is contents; the caller frees it
  BSTR text;                 // non-null makes a text chunk; the caller frees it
  PROPVARIANT* value;        // a value chunk's value, task-allocated; the caller owns it
};

struct ISimpleFileFilter : IUnknown {
  static constexpr IID iid = IID_ISimpleFileFilter;
  // S_OK with the chunk filled, FILTER_E_END_OF_CHUNKS when there are no more.
  virtual HRESULT GetChunk(SimpleChunk* chunk) = 0;
  virtual HRESULT Load(LPCWSTR path) = 0;

 protected:
  ~ISimpleFileFilter() = default;
};
