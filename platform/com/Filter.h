// The indexer's IFilter protocol, structures in Windows field order.
#pragma once

#include "platform/com/OleAuto.h"

enum CHUNK_BREAKTYPE : int32_t {
  CHUNK_NO_BREAK = 0,
  CHUNK_EOW = 1,
  CHUNK_EOS = 2,
  CHUNK_EOP = 3,
  CHUNK_EOC = 4,
};

enum CHUNKSTATE : int32_t {
  CHUNK_TEXT = 0x1,
  CHUNK_VALUE = 0x2,
  CHUNK_FILTER_OWNED_VALUE = 0x4,
};

constexpr ULONG PRSPEC_LPWSTR = 0;
constexpr ULONG PRSPEC_PROPID = 1;

struct PROPSPEC {
  ULONG ulKind;
  union {
    PROPID propid;
    LPOLESTR lpwstr;
  };
};

struct FULLPROPSPEC {
  GUID guidPropSet;
  PROPSPEC psProperty;
};

struct STAT_CHUNK {
  ULONG idChunk;
  CHUNK_BREAKTYPE breakType;
  CHUNKSTATE flags;
  LCID locale;
  FULLPROPSPEC attribute;
  ULONG idChunkSource;
  ULONG cwcStartSource;
  ULONG cwcLenSource;
};

struct FILTERREGION {
  ULONG idChunk;
  ULONG cwcStart;
  ULONG cwcExtent;
};

enum IFILTER_INIT : ULONG {
  IFILTER_INIT_CANON_PARAGRAPHS = 1,
  IFILTER_INIT_HARD_LINE_BREAKS = 2,
  IFILTER_INIT_CANON_HYPHENS = 4,
  IFILTER_INIT_CANON_SPACES = 8,
  IFILTER_INIT_APPLY_INDEX_ATTRIBUTES = 16,
  IFILTER_INIT_APPLY_OTHER_ATTRIBUTES = 32,
  IFILTER_INIT_INDEXING_ONLY = 64,
  IFILTER_INIT_SEARCH_LINKS = 128,
  IFILTER_INIT_APPLY_CRAWL_ATTRIBUTES = 256,
  IFILTER_INIT_FILTER_OWNED_VALUE_OK = 512,
  IFILTER_INIT_FILTER_AGGRESSIVE_BREAK = 1024,
  IFILTER_INIT_DISABLE_EMBEDDED = 2048,
  IFILTER_INIT_EMIT_FORMATTING = 4096,
};

enum IFILTER_FLAGS : ULONG {
  IFILTER_FLAGS_OLE_PROPERTIES = 1,
};

struct IFilter : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{89BCB740-6119-101A-BCB7-00DD010655AF}");
  virtual HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes,
                       ULONG* pFlags) = 0;
  virtual HRESULT GetChunk(STAT_CHUNK* pStat) = 0;
  virtual HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) = 0;
  virtual HRESULT GetValue(PROPVARIANT** ppPropValue) = 0;
  virtual HRESULT BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) = 0;

 protected:
  ~IFilter() = default;
};
inline constexpr IID IID_IFilter = IFilter::iid;
