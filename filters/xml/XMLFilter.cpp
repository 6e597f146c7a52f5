#include "filters/xml/XMLFilter.h"

#include <algorithm>

#include "filters/xml/XmlText.h"
#include "framework/EasyIFilterBase.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/PropIds.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {

constexpr char kLabel[] = ".\\XMLFilter.cpp";

DWORD Limit(LPCWSTR name, DWORD defaultValue, DWORD lowest, DWORD highest) {
  return std::clamp(ZYT::GetLimit(name, defaultValue), lowest, highest);
}

}  // namespace

HRESULT CXMLFilter::FinalConstruct() {
  return ZYT::ComBoundary("FinalConstruct", &m_log, [&] {
    m_log.SetFolder(FilterLogFolder());
    m_log.Log(u"FinalConstruct\n");
    return S_OK;
  });
}

void CXMLFilter::FinalRelease() noexcept {
  m_log.Log(u"FinalRelease\n");
  m_textNodes.Clear();
}

HRESULT CXMLFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_XMLFilter;
  return S_OK;
}

void CXMLFilter::LoadErrorDocument(const std::u16string& message) {
  m_textNodes.Clear();
  if (!m_document.LoadXml("<error/>")) throw E_FAIL;
  m_document.DocumentElement().SetText(ZYT::WideToUtf8(message));
  for (const ZYT::XmlNode& node : m_document.SelectNodes("//text()")) m_textNodes.Add(node.Text().c_str());
}

HRESULT CXMLFilter::Load(LPCOLESTR pszFileName, DWORD) {
  return ZYT::ComBoundary("Load", &m_log, [&] {
    std::u16string path = pszFileName ? pszFileName : u"";
    m_logStream << "Load: " << path << "\n";
    m_log.Write(m_logStream);
    m_filePath = path;

    const size_t maxBytes = Limit(u"MaxXmlFileBytes", 268435456, 1048576, 1073741824);
    const unsigned maxDepth = Limit(u"MaxXmlDepth", 256, 1, 256);
    std::string bytes;
    DWORD error = ERROR_SUCCESS;
    if (!ZYT::ReadRegularFile(ZYT::ToPosixPath(path.c_str()), bytes, error, maxBytes)) throw HRESULT_FROM_WIN32(error);
    // UTF-8 text in a UTF-8 system code page is already what the parser reads:
    // no second copy of a large file.
    if (ZYT::HasUtf16Mark(bytes))
      bytes = ZYT::Utf16LeToUtf8(std::string_view(bytes).substr(2));
    else if (GetACP() != CP_UTF8 || !ZYT::IsWellFormedUtf8(bytes))
      bytes = ZYT::WideToUtf8(ZYT::CodePageToWide(GetACP(), bytes));

    // The previous document's text goes before the parse, not after it.
    m_textNodes.Clear();
    m_text.clear();
    m_textPos = 0;
    ZYT::XmlParseError parseError;
    bool parsed = false;
    // A failure of the parse itself (no memory) is indexed like a parse error.
    HRESULT hr = ZYT::ComBoundary("Load", &m_log, [&] {
      parsed = ZYT::ReadXmlTextNodes(
          bytes, [&](const char* text) { m_textNodes.Add(text); }, &parseError, maxDepth);
      return S_OK;
    });
    bytes = std::string();
    if (FAILED(hr)) {
      LoadErrorDocument(u"loadXML failed: " + ZYT::RenderComError(_com_error(hr)));
    } else if (!parsed) {
      m_logStream << "XML parse error at line " << parseError.line << ", character " << parseError.column
                  << " (file position " << static_cast<int64_t>(parseError.offset)
                  << "): " << ZYT::Utf8ToWide(parseError.reason);
      std::u16string message = m_logStream.str();
      m_logStream << "\n";
      m_log.Write(m_logStream, kLabel, __LINE__);
      LoadErrorDocument(message);
    }
    // Whether the debug folder is there is looked up once per document: a
    // lookup per chunk was most of the time of a document of many small text
    // nodes. The folder created during a walk logs from the next Load on.
    m_logChunks = m_log.Logging();
    return S_OK;
  });
}

HRESULT CXMLFilter::GetCurFile(LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  if (m_filePath.empty()) {
    m_log.Log(u"GetCurFile: m_filePath.empty()\n");
    return E_FAIL;
  }
  *ppszFileName = ZYT::CoTaskStrDup(m_filePath);
  return *ppszFileName ? S_OK : E_OUTOFMEMORY;
}

HRESULT CXMLFilter::Init(ULONG, ULONG, const FULLPROPSPEC*, ULONG* pFlags) {
  m_chunkId = 0;
  m_textPos = 0;
  if (pFlags) *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
  return S_OK;
}

HRESULT CXMLFilter::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", &m_log, [&] {
    if (!pStat) return E_POINTER;
    STAT_CHUNK chunk{};
    chunk.idChunk = ++m_chunkId;
    chunk.breakType = CHUNK_EOS;
    chunk.flags = CHUNK_TEXT;
    chunk.locale = GetSystemDefaultLCID();
    chunk.attribute.guidPropSet = PSGUID_STORAGE;
    chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
    chunk.attribute.psProperty.propid = PID_STG_CONTENTS;
    chunk.idChunkSource = chunk.idChunk;
    if (m_textPos < m_text.size()) {
      // Asked for before its text was read: the new chunk goes on with it.
      chunk.breakType = CHUNK_NO_BREAK;
      *pStat = chunk;
      if (m_logChunks) m_log.Log(u"GetChunk: returning text chunk\n");
      return S_OK;
    }
    std::string_view next;
    if (m_textNodes.Next(&next)) {
      m_text = ZYT::Utf8ToWide(next);
      m_textPos = 0;
      *pStat = chunk;
      if (m_logChunks) m_log.Log(u"GetChunk: returning text chunk\n");
      return S_OK;
    }
    m_textNodes.Clear();
    m_log.Log(u"GetChunk: returning FILTER_E_END_OF_CHUNKS\n");
    return FILTER_E_END_OF_CHUNKS;
  });
}

HRESULT CXMLFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  if (!pcwcBuffer || !awcBuffer) return E_POINTER;
  if (m_chunkId == 0) return FILTER_E_NO_TEXT;
  if (m_textPos >= m_text.size()) return FILTER_E_NO_MORE_TEXT;
  ULONG count = static_cast<ULONG>(std::min<size_t>(*pcwcBuffer, m_text.size() - m_textPos));
  std::copy_n(m_text.data() + m_textPos, count, awcBuffer);
  *pcwcBuffer = count;
  m_textPos += count;
  return m_textPos < m_text.size() ? S_OK : FILTER_S_LAST_TEXT;
}

HRESULT CXMLFilter::GetValue(PROPVARIANT** ppPropValue) {
  if (ppPropValue) *ppPropValue = nullptr;
  return m_chunkId == 0 ? FILTER_E_NO_VALUES : FILTER_E_NO_MORE_VALUES;
}
