#include "components/filters/ChunkListFilter.h"

#include <cstring>

#include "platform/com/PropIds.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {
constexpr size_t kMaxChunk = 4096;
constexpr uint64_t kMaxFile = 64ull << 20;  // larger files are filtered up to this size
}  // namespace

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
    HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FILTER_E_ACCESS;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    std::string bytes(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size.QuadPart), kMaxFile)), '\0');
    DWORD read = 0;
    BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    if (!ok) return FILTER_E_ACCESS;
    bytes.resize(read);
    m_chunks = MakeChunks(bytes);
    m_next = 0;
    m_textPosition = 0;
    m_valueGiven = true;
    if (pFlags) *pFlags = 0;
    return S_OK;
  });
}

HRESULT CChunkListFilter::GetChunk(STAT_CHUNK* pStat) {
  if (!pStat) return E_POINTER;
  while (m_next < m_chunks.size() && !m_chunks[m_next].isText && !m_wantValues) ++m_next;
  if (m_next >= m_chunks.size()) return FILTER_E_END_OF_CHUNKS;
  ListedChunk& c = m_chunks[m_next++];
  STAT_CHUNK s{};
  s.idChunk = static_cast<ULONG>(m_next);
  s.breakType = c.breakType;
  s.flags = c.isText ? CHUNK_TEXT : CHUNK_VALUE;
  s.locale = GetSystemDefaultLCID();
  s.attribute = c.attribute;
  if (c.attribute.psProperty.ulKind == PRSPEC_LPWSTR) s.attribute.psProperty.lpwstr = c.propertyName.data();
  s.idChunkSource = s.idChunk;
  *pStat = s;
  m_textPosition = 0;
  m_valueGiven = c.isText;
  return S_OK;
}

HRESULT CChunkListFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  if (!pcwcBuffer || !awcBuffer) return E_POINTER;
  if (m_next == 0 || m_next > m_chunks.size()) return FILTER_E_NO_MORE_TEXT;
  const ListedChunk& c = m_chunks[m_next - 1];
  if (!c.isText) return FILTER_E_NO_TEXT;
  if (m_textPosition >= c.text.size()) return FILTER_E_NO_MORE_TEXT;
  size_t n = std::min<size_t>(*pcwcBuffer, c.text.size() - m_textPosition);
  std::char_traits<char16_t>::copy(awcBuffer, c.text.data() + m_textPosition, n);
  m_textPosition += n;
  *pcwcBuffer = static_cast<ULONG>(n);
  return m_textPosition >= c.text.size() ? FILTER_S_LAST_TEXT : S_OK;
}

HRESULT CChunkListFilter::GetValue(PROPVARIANT** ppPropValue) {
  if (!ppPropValue) return E_POINTER;
  *ppPropValue = nullptr;
  if (m_next == 0 || m_next > m_chunks.size()) return FILTER_E_NO_MORE_VALUES;
  const ListedChunk& c = m_chunks[m_next - 1];
  if (c.isText) return FILTER_E_NO_VALUES;
  if (m_valueGiven) return FILTER_E_NO_MORE_VALUES;
  HRESULT hr = ZYT::NewStringPropVariant(c.text, ppPropValue);
  if (SUCCEEDED(hr)) m_valueGiven = true;
  return hr;
}

HRESULT CChunkListFilter::BindRegion(FILTERREGION, REFIID, void** ppunk) {
  if (ppunk) *ppunk = nullptr;
  return E_NOTIMPL;
}

void CChunkListFilter::AddTextChunks(const std::u16string& text, std::vector<ListedChunk>& chunks) {
  auto add = [&](std::u16string piece) {
    size_t first = piece.find_first_not_of(u" \t\r\n");
    if (first == std::u16string::npos) return;
    piece = piece.substr(first);
    while (!piece.empty() && (piece.back() == u' ' || piece.back() == u'\r' || piece.back() == u'\n' ||
                              piece.back() == u'\t'))
      piece.pop_back();
    for (size_t pos = 0; pos < piece.size(); pos += kMaxChunk) {
      ListedChunk c;
      c.attribute.guidPropSet = PSGUID_STORAGE;
      c.attribute.psProperty.ulKind = PRSPEC_PROPID;
      c.attribute.psProperty.propid = PID_STG_CONTENTS;
      c.breakType = pos + kMaxChunk < piece.size() ? CHUNK_NO_BREAK : CHUNK_EOP;
      c.text = piece.substr(pos, kMaxChunk);
      chunks.push_back(std::move(c));
    }
  };
  size_t start = 0;
  for (;;) {
    size_t blank = text.find(u"\n\n", start);
    size_t blankCr = text.find(u"\n\r\n", start);
    size_t end = std::min(blank, blankCr);
    if (end == std::u16string::npos) {
      add(text.substr(start));
      return;
    }
    add(text.substr(start, end - start));
    start = end + (end == blank ? 2 : 3);
  }
}

std::u16string CChunkListFilter::DecodeText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string text((bytes.size() - 2) / 2, u'\0');
    std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
    return text;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return ZYT::Utf8ToWide(bytes.substr(3));
  std::u16string wide(bytes.size() + 1, u'\0');
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                              static_cast<int>(wide.size()));
  if (n > 0 || bytes.empty()) {
    wide.resize(static_cast<size_t>(n > 0 ? n : 0));
    return wide;
  }
  return ZYT::CodePageToWide(CP_ACP, bytes);
}
