// The machine's filters, under the class identifiers Windows gives them.
#pragma once

#include "components/filters/ChunkListFilter.h"

inline constexpr CLSID CLSID_PlainTextFilter = ZYT::MakeGuid("{C1243CA0-BF96-11CD-B579-08002B30BFEB}");
inline constexpr CLSID CLSID_HtmlFilter = ZYT::MakeGuid("{E0CA5340-4534-11CF-B952-00AA0051FE20}");
inline constexpr CLSID CLSID_MailFilter = ZYT::MakeGuid("{5645C8C2-E277-11CF-8FDA-00AA00A14F93}");
inline constexpr CLSID CLSID_NullFilter = ZYT::MakeGuid("{C3278E90-BEA7-11CD-B579-08002B30BFEB}");
// The mail property set: subject 5, from 6, "To" and "Cc" by name.
inline constexpr GUID PSGUID_MAIL = ZYT::MakeGuid("{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}");

#define ZYT_MACHINE_FILTER(Class)                          \
  ZYT_BEGIN_INTERFACE_MAP(Class)                           \
  ZYT_INTERFACE(IFilter)                                   \
  ZYT_INTERFACE(IPersistFile)                              \
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)                \
  ZYT_END_INTERFACE_MAP()

// Text files: paragraphs as text chunks.
class CPlainTextFilter : public ZYT::CComObjectRoot, public CChunkListFilter {
 public:
  ZYT_MACHINE_FILTER(CPlainTextFilter)
  CPlainTextFilter() : CChunkListFilter(CLSID_PlainTextFilter, u"Text") {}

 protected:
  std::vector<ListedChunk> MakeChunks(const std::string& bytes) override;
};

// HTML: the visible text as text chunks, the title as the summary title value.
class CHtmlFilter : public ZYT::CComObjectRoot, public CChunkListFilter {
 public:
  ZYT_MACHINE_FILTER(CHtmlFilter)
  CHtmlFilter() : CChunkListFilter(CLSID_HtmlFilter, u"Html") {}

 protected:
  std::vector<ListedChunk> MakeChunks(const std::string& bytes) override;
};

// Mail messages: subject, from, to and cc as values, the text parts as text.
class CMailFilter : public ZYT::CComObjectRoot, public CChunkListFilter {
 public:
  ZYT_MACHINE_FILTER(CMailFilter)
  CMailFilter() : CChunkListFilter(CLSID_MailFilter, u"Mail") {}

 protected:
  std::vector<ListedChunk> MakeChunks(const std::string& bytes) override;
};

// The null filter: files whose type has no filter give no chunks.
class CNullFilter : public ZYT::CComObjectRoot, public CChunkListFilter {
 public:
  ZYT_MACHINE_FILTER(CNullFilter)
  CNullFilter() : CChunkListFilter(CLSID_NullFilter, u"Null") {}

 protected:
  std::vector<ListedChunk> MakeChunks(const std::string&) override { return {}; }
};
