// The machine's PDF filter: the text of each page as text chunks, and the
// title, author, subject and keywords of the information dictionary as
// summary-information values. The document is read at Load, so that an
// encrypted one answers FILTER_E_PASSWORD and a damaged one fails there.
#pragma once

#include <vector>

#include "components/filters/ChunkListFilter.h"

// Class identifiers of our own: the PDF filter of a Windows machine comes
// from another vendor, whose identifiers are not ours to take.
inline constexpr CLSID CLSID_PdfFilter = ZYT::MakeGuid("{328E4813-F0CF-4BCA-A2DB-2D07A51513FA}");
inline constexpr CLSID CLSID_PdfPersistentHandler = ZYT::MakeGuid("{BD32AFBA-42AD-4003-92A1-F7C77A9F66B1}");

class CPdfFilter : public ZYT::CComObjectRoot, public CChunkListFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CPdfFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_INTERFACE_VIA(IPersist, IPersistFile)
  ZYT_END_INTERFACE_MAP()

  CPdfFilter() : CChunkListFilter(CLSID_PdfFilter, u"Pdf") {}

  // A failing Load leaves the filter as it was: the document loaded before, if any.
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;

 protected:
  HRESULT ReadChunks(std::vector<ListedChunk>& chunks) override;
  // Not asked for: ReadChunks hands out what Load read.
  std::vector<ListedChunk> MakeChunks(const std::string&) override { return {}; }

 private:
  bool m_loaded = false;
  std::vector<ListedChunk> m_document;
};
