#include "filters/xml/SimpleFileFilterAdapter.h"

#include "catalogproxy/NamedPropertyTable.h"
#include "framework/CoString.h"
#include "framework/LogStream.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/Guid.h"
#include "platform/com/ObjBase.h"
#include "platform/com/OleAuto.h"
#include "platform/com/PropIds.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/SysInfo.h"

namespace {

constexpr char16_t kConfigurationKey[] = u"Software\\ZYT\\Orrery\\Filters\\SimpleFileFilterAdapter\\.";

void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace

CSimpleFileFilterAdapter::CSimpleFileFilterAdapter()
    : EasyIFilterBase(u"SFF", CLSID_SimpleFileFilterAdapter) {}

CSimpleFileFilterAdapter::~CSimpleFileFilterAdapter() { ReleaseChunk(); }

HRESULT CSimpleFileFilterAdapter::FinalConstruct() { return FinalConstructStep(); }

void CSimpleFileFilterAdapter::FinalRelease() noexcept {
  m_log.Log(u"FinalRelease\n");
  ReleaseChunk();
  m_spSimple.Reset();
}

void CSimpleFileFilterAdapter::ReleaseChunk() noexcept {
  SysFreeString(m_chunk.propertyName);
  SysFreeString(m_chunk.text);
  if (m_chunk.value) {
    PropVariantClear(m_chunk.value);
    CoTaskMemFree(m_chunk.value);
  }
  m_chunk = SimpleChunk{};
}

HRESULT CSimpleFileFilterAdapter::Load(LPCOLESTR pszFileName, DWORD) {
  return ZYT::ComBoundary("Load", &m_log, [&] {
    m_filePath = pszFileName ? pszFileName : u"";
    m_spSimple.Reset();
    const std::u16string extension = ZYT::ExtensionOf(m_filePath);
    const std::u16string name =
        ZYT::CRegistryKey(HKEY_LOCAL_MACHINE, kConfigurationKey + extension, KEY_READ).GetStringValue(u"");
    CLSID clsid{};
    ThrowIfFailed(!name.empty() && name[0] == u'{' ? CLSIDFromString(name.c_str(), &clsid)
                                                     : CLSIDFromProgID(name.c_str(), &clsid));
    // The context includes out-of-process servers, which must be running
    // before they are asked for anything but IUnknown.
    ZYT::ComPtr<IUnknown> unknown;
    ThrowIfFailed(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.put_void()));
    ThrowIfFailed(OleRun(unknown.get()));
    HRESULT hr = unknown.As(m_spSimple);
    if (hr != E_NOINTERFACE) ThrowIfFailed(hr);
    if (!m_spSimple) {
      m_log.Log(u"Load: failed to instanstiate ISimpleFileFilter\n");
      return E_FAIL;
    }
    hr = m_spSimple->Load(m_filePath.c_str());
    if (FAILED(hr)) {
      ZYT::CLogStream entry;
      entry << "Load: ISimpleFileFilter::Load returned " << ZYT::Hex(hr) << "\n";
      m_log.Write(entry);
    }
    return hr;
  });
}

HRESULT CSimpleFileFilterAdapter::GetCurFile(LPOLESTR* ppszFileName) {
  return ZYT::ComBoundary("GetCurFile", &m_log, [&] {
    if (!ppszFileName) return E_POINTER;
    *ppszFileName = nullptr;
    if (m_filePath.empty()) {
      m_log.Log(u"GetCurFile: m_filePath.empty()\n");
      return E_FAIL;
    }
    *ppszFileName = ZYT::CoTaskStrDup(m_filePath);
    return *ppszFileName ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT CSimpleFileFilterAdapter::Init(ULONG, ULONG, const FULLPROPSPEC*, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", &m_log, [&] {
    m_getChunkCount = 0;
    m_chunkNumber = 0;
    if (pFlags) *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
    return S_OK;
  });
}

HRESULT CSimpleFileFilterAdapter::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", &m_log, [&] {
    if (!pStat) return E_POINTER;
    ++m_getChunkCount;
    // The previous chunk's name and unclaimed value live until here.
    ReleaseChunk();
    m_chunk.breakType = CHUNK_EOS;
    m_chunk.locale = GetSystemDefaultLCID();
    if (!m_spSimple) return E_POINTER;
    HRESULT hr = m_spSimple->GetChunk(&m_chunk);
    if (hr == FILTER_E_END_OF_CHUNKS) {
      m_log.Log(u"GetChunk: returning FILTER_E_END_OF_CHUNKS\n");
      return hr;
    }
    if (FAILED(hr)) {
      ZYT::CLogStream entry;
      entry << "GetChunk: ISimpleFileFilter::GetChunk returned " << ZYT::Hex(hr) << "\n";
      m_log.Write(entry);
      return hr;
    }
    FULLPROPSPEC property{};
    if (!m_chunk.propertyName) {
      property.guidPropSet = PSGUID_STORAGE;
      property.psProperty.ulKind = PRSPEC_PROPID;
      property.psProperty.propid = PID_STG_CONTENTS;
    } else if (IsEqualGUID(m_chunk.propertySet, GUID_NULL)) {
      // A word the table does not know ends the chunk as an unknown exception.
      property = g_namedProperties.Lookup(m_chunk.propertyName);
    } else {
      m_propertyName = m_chunk.propertyName;
      property.guidPropSet = m_chunk.propertySet;
      property.psProperty.ulKind = PRSPEC_LPWSTR;
      property.psProperty.lpwstr = m_propertyName.data();
    }
    m_property = property;
    ++m_chunkNumber;
    STAT_CHUNK stat{};
    stat.idChunk = m_chunkNumber;
    if (m_chunk.breakType >= CHUNK_NO_BREAK && m_chunk.breakType <= CHUNK_EOC) {
      stat.breakType = static_cast<CHUNK_BREAKTYPE>(m_chunk.breakType);
    } else {
      ZYT::CLogStream entry;
      entry << "getBreakType: invalid break type " << ZYT::Hex(m_chunk.breakType) << "\n";
      m_log.Write(entry);
      stat.breakType = CHUNK_EOS;
    }
    stat.flags = CHUNK_VALUE;
    stat.locale = m_chunk.locale;
    stat.attribute = m_property;
    stat.idChunkSource = m_chunkNumber;
    if (m_chunk.text) {
      stat.flags = CHUNK_TEXT;
      m_text.assign(m_chunk.text, SysStringLen(m_chunk.text));
      m_textReturned = 0;
      SysFreeString(m_chunk.text);
      m_chunk.text = nullptr;
    }
    if (m_log.Logging()) {
      ZYT::CLogStream entry;
      entry << "GetChunk: " << ZYT::RenderPropSpec(m_property) << (stat.flags == CHUNK_TEXT ? " (text)\n" : " (value)\n");
      m_log.Write(entry);
    }
    *pStat = stat;
    return S_OK;
  });
}

HRESULT CSimpleFileFilterAdapter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  return ZYT::ComBoundary("GetText", &m_log, [&] {
    if (m_getChunkCount == 0) return FILTER_E_NO_TEXT;
    if (!pcwcBuffer || (!awcBuffer && *pcwcBuffer)) return E_POINTER;
    if (m_textReturned >= m_text.size()) return FILTER_E_NO_MORE_TEXT;
    const size_t n = std::min<size_t>(*pcwcBuffer, m_text.size() - m_textReturned);
    std::char_traits<char16_t>::copy(awcBuffer, m_text.data() + m_textReturned, n);
    *pcwcBuffer = static_cast<ULONG>(n);
    m_textReturned += n;
    return m_textReturned == m_text.size() ? FILTER_S_LAST_TEXT : S_OK;
  });
}

HRESULT CSimpleFileFilterAdapter::GetValue(PROPVARIANT** ppPropValue) {
  return ZYT::ComBoundary("GetValue", &m_log, [&] {
    if (m_getChunkCount == 0) return FILTER_E_NO_VALUES;
    if (!ppPropValue) return E_POINTER;
    *ppPropValue = nullptr;
    if (!m_chunk.value) {
      m_log.Log(u"GetValue: returning FILTER_E_NO_MORE_VALUES\n");
      return FILTER_E_NO_MORE_VALUES;
    }
    *ppPropValue = m_chunk.value;
    m_chunk.value = nullptr;
    if (m_log.Logging()) {
      ZYT::CLogStream entry;
      entry << "GetValue: " << ZYT::RenderPropSpec(m_property) << ", value = " << ZYT::RenderPropVariant(**ppPropValue)
            << "\n";
      m_log.Write(entry);
    }
    return S_OK;
  });
}

HRESULT CSimpleFileFilterAdapter::BindRegion(FILTERREGION, REFIID, void** ppunk) {
  if (ppunk) *ppunk = nullptr;
  return E_NOTIMPL;
}
