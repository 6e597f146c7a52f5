#include "components/filters/ChunkListFilter.h"

#include <algorithm>
#include <cstring>

#include <unicode/ustring.h>

#include "platform/com/PropIds.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {
constexpr size_t kMaxChunk = 4096;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

}  // namespace

void CChunkListFilter::LogCut(const std::string& entry) { m_log.Write(entry); }

HRESULT CChunkListFilter::Load(LPCOLESTR pszFileName, DWORD) {
  m_path = pszFileName ? pszFileName : u"";
  return S_OK;
}

HRESULT CChunkListFilter::GetCurFile(LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  if (m_path.empty()) return E_FAIL;
  *ppszFileName = ZYT::CoTaskStrDup(m_path);
  return *ppszFileName ? S_OK : E_OUTOFMEMORY;
}

HRESULT CChunkListFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = m_clsid;
  return S_OK;
}

HRESULT CChunkListFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", [&] {
    if (cAttributes > 0 && !aAttributes) return E_INVALIDARG;
    // Values are wanted when attributes are named or any flag is set.
    m_wantValues = cAttributes > 0 || grfFlags != 0;
    std::vector<ListedChunk> chunks;
    if (HRESULT hr = ReadChunks(chunks); FAILED(hr)) return hr;
    m_chunks = std::move(chunks);
    m_next = 0;
    m_chunkId = 0;
    m_inText = false;
    m_current = Current::kNone;
    m_valueGiven = true;
    if (pFlags) *pFlags = 0;
    return S_OK;
  });
}

HRESULT CChunkListFilter::ReadChunks(std::vector<ListedChunk>& chunks) {
  HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FILTER_E_ACCESS;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  // Each filter holds the file and what it makes of it in memory: larger
  // files are filtered up to this size.
  const uint64_t maxBytes = std::clamp<DWORD>(ZYT::GetLimit(u"MaxMachineFilterBytes", 64u << 20), 1u << 20, 1u << 30);
  std::string bytes(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size.QuadPart), maxBytes)), '\0');
  DWORD read = 0;
  BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok) return FILTER_E_ACCESS;
  bytes.resize(read);
  if (static_cast<uint64_t>(size.QuadPart) > maxBytes) {
    LogCut("Init: the file is cut at its first " + std::to_string(maxBytes) + " of " +
           std::to_string(static_cast<uint64_t>(size.QuadPart)) + " bytes (limit MaxMachineFilterBytes)\n");
  }
  chunks = MakeChunks(bytes);
  return S_OK;
}

bool CChunkListFilter::NextPiece() {
  const std::u16string& text = m_chunks[m_next - 1].text;
  if (m_pieceEnd < m_paragraphEnd) {
    m_pieceStart = m_pieceEnd;
    m_pieceEnd = std::min(m_pieceStart + kMaxChunk, m_paragraphEnd);
    return true;
  }
  // Paragraphs end at a blank line ("\n\n" or "\n\r\n"); one scan, whatever their number.
  while (m_scan <= text.size()) {
    size_t start = m_scan, end = text.size(), after = text.size() + 1;
    for (size_t i = text.find(u'\n', start); i != std::u16string::npos; i = text.find(u'\n', i + 1)) {
      if (i + 1 < text.size() && text[i + 1] == u'\n') {
        end = i;
        after = i + 2;
        break;
      }
      if (i + 2 < text.size() && text[i + 1] == u'\r' && text[i + 2] == u'\n') {
        end = i;
        after = i + 3;
        break;
      }
    }
    m_scan = after;
    while (start < end && IsBlank(text[start])) ++start;
    while (end > start && IsBlank(text[end - 1])) --end;
    if (start == end) continue;
    m_paragraphEnd = end;
    m_pieceStart = start;
    m_pieceEnd = std::min(start + kMaxChunk, end);
    return true;
  }
  return false;
}

HRESULT CChunkListFilter::GetChunk(STAT_CHUNK* pStat) {
  if (!pStat) return E_POINTER;
  for (;;) {
    if (m_inText && NextPiece()) {
      const ListedChunk& c = m_chunks[m_next - 1];
      STAT_CHUNK s{};
      s.idChunk = ++m_chunkId;
      s.breakType = m_pieceEnd < m_paragraphEnd ? CHUNK_NO_BREAK : CHUNK_EOP;
      s.flags = CHUNK_TEXT;
      s.locale = GetSystemDefaultLCID();
      s.attribute = c.attribute;
      s.idChunkSource = s.idChunk;
      *pStat = s;
      m_current = Current::kText;
      m_textPosition = m_pieceStart;
      return S_OK;
    }
    m_inText = false;
    while (m_next < m_chunks.size() && !m_chunks[m_next].isText && !m_wantValues) ++m_next;
    if (m_next >= m_chunks.size()) {
      m_current = Current::kNone;
      return FILTER_E_END_OF_CHUNKS;
    }
    ListedChunk& c = m_chunks[m_next++];
    if (c.isText) {
      m_inText = true;
      m_scan = m_pieceStart = m_pieceEnd = m_paragraphEnd = 0;
      continue;
    }
    STAT_CHUNK s{};
    s.idChunk = ++m_chunkId;
    s.breakType = c.breakType;
    s.flags = CHUNK_VALUE;
    s.locale = GetSystemDefaultLCID();
    s.attribute = c.attribute;
    if (c.attribute.psProperty.ulKind == PRSPEC_LPWSTR) s.attribute.psProperty.lpwstr = c.propertyName.data();
    s.idChunkSource = s.idChunk;
    *pStat = s;
    m_current = Current::kValue;
    m_valueGiven = false;
    return S_OK;
  }
}

HRESULT CChunkListFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  if (!pcwcBuffer || !awcBuffer) return E_POINTER;
  if (m_current == Current::kNone) return FILTER_E_NO_MORE_TEXT;
  if (m_current == Current::kValue) return FILTER_E_NO_TEXT;
  if (m_textPosition >= m_pieceEnd) return FILTER_E_NO_MORE_TEXT;
  const std::u16string& text = m_chunks[m_next - 1].text;
  size_t n = std::min<size_t>(*pcwcBuffer, m_pieceEnd - m_textPosition);
  std::char_traits<char16_t>::copy(awcBuffer, text.data() + m_textPosition, n);
  m_textPosition += n;
  *pcwcBuffer = static_cast<ULONG>(n);
  return m_textPosition >= m_pieceEnd ? FILTER_S_LAST_TEXT : S_OK;
}

HRESULT CChunkListFilter::GetValue(PROPVARIANT** ppPropValue) {
  if (!ppPropValue) return E_POINTER;
  *ppPropValue = nullptr;
  if (m_current == Current::kNone) return FILTER_E_NO_MORE_VALUES;
  if (m_current == Current::kText) return FILTER_E_NO_VALUES;
  if (m_valueGiven) return FILTER_E_NO_MORE_VALUES;
  HRESULT hr = ZYT::NewStringPropVariant(m_chunks[m_next - 1].text, ppPropValue);
  if (SUCCEEDED(hr)) m_valueGiven = true;
  return hr;
}

HRESULT CChunkListFilter::BindRegion(FILTERREGION, REFIID, void** ppunk) {
  if (ppunk) *ppunk = nullptr;
  return E_NOTIMPL;
}

void CChunkListFilter::AddTextChunks(std::u16string text, std::vector<ListedChunk>& chunks) {
  ListedChunk c;
  c.attribute.guidPropSet = PSGUID_STORAGE;
  c.attribute.psProperty.ulKind = PRSPEC_PROPID;
  c.attribute.psProperty.propid = PID_STG_CONTENTS;
  c.text = std::move(text);
  chunks.push_back(std::move(c));
}

bool CChunkListFilter::FromUtf8(std::string_view bytes, bool strict, std::u16string& text) {
  text.clear();
  if (bytes.empty()) return true;
  if (bytes.size() > 0x7FFFFFFF) return false;
  // Sized once for the longest result, converted once, cut to what was made:
  // asking ICU for the length first would read every byte twice.
  text.resize(bytes.size());
  // ASCII, most of most text, is widened 16 bytes at a time; ICU takes over
  // from the first block that holds another byte.
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t ascii = 0;
  for (; ascii + 16 <= bytes.size(); ascii += 16) {
    uint64_t a, b;
    std::memcpy(&a, in + ascii, 8);
    std::memcpy(&b, in + ascii + 8, 8);
    if ((a | b) & 0x8080808080808080ull) break;
    char16_t* to = text.data() + ascii;
    for (size_t k = 0; k < 16; ++k) to[k] = static_cast<char16_t>(in[ascii + k]);
  }
  if (ascii == bytes.size()) return true;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto n = static_cast<int32_t>(bytes.size() - ascii);
  char16_t* out = text.data() + ascii;
  const char* rest = bytes.data() + ascii;
  if (strict)
    u_strFromUTF8(out, n, &length, rest, n, &status);
  else
    u_strFromUTF8WithSub(out, n, &length, rest, n, 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) {
    text.clear();
    return false;
  }
  text.resize(ascii + static_cast<size_t>(length));
  return true;
}

std::u16string CChunkListFilter::DecodeText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string text((bytes.size() - 2) / 2, u'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    return text;
  }
  std::u16string text;
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    FromUtf8(std::string_view(bytes).substr(3), false, text);
    return text;
  }
  if (FromUtf8(bytes, true, text)) return text;
  return ZYT::CodePageToWide(CP_ACP, bytes);
}
