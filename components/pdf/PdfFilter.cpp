#include "components/pdf/PdfFilter.h"

#include <algorithm>

#include "components/pdf/PdfText.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/PropIds.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"

namespace {

// The summary-information identifiers beside PIDSI_TITLE and PIDSI_AUTHOR.
constexpr PROPID kPidSubject = 3;
constexpr PROPID kPidKeywords = 5;

void AddValue(PROPID id, std::u16string text, std::vector<ListedChunk>& chunks) {
  if (text.empty()) return;
  ListedChunk c;
  c.attribute.guidPropSet = FMTID_SummaryInformation;
  c.attribute.psProperty.ulKind = PRSPEC_PROPID;
  c.attribute.psProperty.propid = id;
  c.breakType = CHUNK_EOS;
  c.isText = false;
  c.text = std::move(text);
  chunks.push_back(std::move(c));
}

}  // namespace

HRESULT CPdfFilter::Load(LPCOLESTR pszFileName, DWORD dwMode) {
  return ZYT::ComBoundary("Load", [&] {
    if (!pszFileName || !*pszFileName) return E_INVALIDARG;
    std::string path;
    DWORD error = ERROR_SUCCESS;
    if (!ZYT::MapToPosixPath(pszFileName, path, error)) return HRESULT_FROM_WIN32(error);
    // The whole file is in memory while poppler reads it, with poppler's own
    // structures beside it.
    const DWORD maxBytes = std::clamp<DWORD>(ZYT::GetLimit(u"MaxPdfFileBytes", 128u << 20), 1u << 16, 1u << 30);
    std::string bytes;
    if (!ZYT::ReadRegularFile(path, bytes, error, maxBytes)) {
      if (error != ERROR_FILE_TOO_LARGE) return HRESULT_FROM_WIN32(error);
      LogCut("Load: the file has more than " + std::to_string(maxBytes) + " bytes (limit MaxPdfFileBytes)\n");
      return FILTER_E_TOO_BIG;
    }
    PdfTextLimits limits;
    limits.maxTextChars = std::clamp<DWORD>(ZYT::GetLimit(u"MaxPdfTextChars", 8u << 20), 1u << 12, 1u << 28);
    limits.maxPages = std::clamp<DWORD>(ZYT::GetLimit(u"MaxPdfPages", 10000), 1, 1000000);
    PdfText text = ReadPdfText(bytes, limits);
    std::string().swap(bytes);
    if (text.status == PdfText::Status::kLocked) return FILTER_E_PASSWORD;
    if (text.status == PdfText::Status::kDamaged) {
      LogCut("Load: not a PDF document, or one damaged beyond repair\n");
      return E_FAIL;
    }
    if (text.pagesCut)
      LogCut("Load: pages after the first " + std::to_string(limits.maxPages) + " of " +
             std::to_string(text.pageCount) + " left out (limit MaxPdfPages)\n");
    if (text.textCut)
      LogCut("Load: the text is cut at " + std::to_string(limits.maxTextChars) +
             " characters (limit MaxPdfTextChars)\n");
    std::vector<ListedChunk> chunks;
    AddValue(PIDSI_TITLE, std::move(text.title), chunks);
    AddValue(PIDSI_AUTHOR, std::move(text.author), chunks);
    AddValue(kPidSubject, std::move(text.subject), chunks);
    AddValue(kPidKeywords, std::move(text.keywords), chunks);
    // One entry a page, so that no paragraph runs on from one page into the next.
    for (std::u16string& page : text.pages) AddTextChunks(std::move(page), chunks);
    HRESULT hr = CChunkListFilter::Load(pszFileName, dwMode);
    if (FAILED(hr)) return hr;
    m_document = std::move(chunks);
    m_loaded = true;
    return S_OK;
  });
}

HRESULT CPdfFilter::ReadChunks(std::vector<ListedChunk>& chunks) {
  if (!m_loaded) return FILTER_E_ACCESS;
  chunks = m_document;
  return S_OK;
}
