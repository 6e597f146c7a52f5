#include "catalogproxy/OrreryCISProxyFilter.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <utility>

#include "catalogproxy/AddressExpansion.h"
#include "catalogproxy/ProxyText.h"
#include "doctypes/CatalogEnumerator.h"
#include "framework/AbstractProxyFilter.h"
#include "framework/AutoFile.h"
#include "framework/AutoHandle.h"
#include "framework/EasyIFilterBase.h"
#include "framework/PathUtilities.h"
#include "framework/PersistentHandler.h"
#include "framework/SettingsAccess.h"
#include "interfaces/OrreryFilter.h"
#include "interfaces/ProductServices.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"
#include "platform/mime/MailAttachments.h"
#include "platform/storage/SummaryInformation.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace {

constexpr char kLabel[] = ".\\OrreryCISProxyFilter.cpp";
constexpr char16_t kNullHandler[] = u"{098f2470-bae0-11cd-b579-08002b30bfeb}";

constexpr GUID kMailSet = ZYT::MakeGuid("{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}");
constexpr GUID kStorageSet = ZYT::MakeGuid("{B725F130-47EF-101A-A5F1-02608C9EEBAC}");
constexpr GUID kCharacterizationSet = ZYT::MakeGuid("{560C36C0-503A-11CF-BAA1-00004C752A9A}");
constexpr GUID kSummarySet = ZYT::MakeGuid("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}");
constexpr GUID kProductSet = ZYT::MakeGuid("{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");
constexpr PROPID kKeywordsId = 5;

// Where a watched property's value is kept: one of the captured texts, one of
// the object's own fields, or nowhere (the value is only logged).
enum class Store { kCaptured, kNumAttachments, kAttachmentInfo, kContentType, kNothing };

struct WatchedProperty {
  GUID set;
  PROPID id;             // PRSPEC_PROPID when name is null
  const char16_t* name;  // PRSPEC_LPWSTR, compared exactly
  Store store;
  int captured;
  const char* label;
  GUID otherSet;  // the one row that also answers to a second property
  PROPID otherId;
};

// The order matters: a value goes to the first row whose flag is set.
const WatchedProperty kWatched[COrreryCISProxyFilter::kWatchedCount] = {
    {kMailSet, 5, nullptr, Store::kCaptured, 0, "\tSubject: ", {}, 0},
    {kStorageSet, 11, nullptr, Store::kCaptured, 3, "\tPath: ", {}, 0},
    {kCharacterizationSet, 2, nullptr, Store::kCaptured, 1, "\tCharacterization: ", {}, 0},
    {kSummarySet, 2, nullptr, Store::kCaptured, 2, "\tDocTitle: ", {}, 0},
    {kMailSet, 0, u"To", Store::kCaptured, 4, "\tTo: ", {}, 0},
    {kMailSet, 6, nullptr, Store::kCaptured, 5, "\tFrom: ", kProductSet, 12},
    {kMailSet, 0, u"Cc", Store::kCaptured, 6, "\tCC: ", {}, 0},
    {kProductSet, 9, nullptr, Store::kNumAttachments, 0, "\tnum-attachments: ", {}, 0},
    {kProductSet, 10, nullptr, Store::kAttachmentInfo, 0, "\tattachment-info: ", {}, 0},
    {kProductSet, 3, nullptr, Store::kContentType, 0, "\tcontent-type: ", {}, 0},
    {kProductSet, 6, nullptr, Store::kCaptured, 8, "\tsummary: ", {}, 0},
    {kProductSet, 11, nullptr, Store::kCaptured, 9, "\ttitle: ", {}, 0},
    {kProductSet, 16, nullptr, Store::kNothing, 0, "\tfeed-name: ", {}, 0},
    {kProductSet, 17, nullptr, Store::kNothing, 0, "\tfeed-url: ", {}, 0},
    {kProductSet, 18, nullptr, Store::kNothing, 0, "\tstatus: ", {}, 0},
    {kProductSet, 19, nullptr, Store::kCaptured, 10, "\tfile-attributes: ", {}, 0},
    {kProductSet, 20, nullptr, Store::kNothing, 0, "\tintended-time: ", {}, 0},
    {kProductSet, 21, nullptr, Store::kNothing, 0, "\tarchive-name: ", {}, 0},
};

bool Matches(const WatchedProperty& row, const FULLPROPSPEC& attribute) {
  const PROPSPEC& p = attribute.psProperty;
  if (row.name) {
    return attribute.guidPropSet == row.set && p.ulKind == PRSPEC_LPWSTR && p.lpwstr &&
           std::u16string_view(p.lpwstr) == row.name;
  }
  if (p.ulKind != PRSPEC_PROPID) return false;
  return (attribute.guidPropSet == row.set && p.propid == row.id) ||
         (row.otherId != 0 && attribute.guidPropSet == row.otherSet && p.propid == row.otherId);
}

bool IsKeywords(const FULLPROPSPEC& attribute) {
  return attribute.guidPropSet == kSummarySet && attribute.psProperty.ulKind == PRSPEC_PROPID &&
         attribute.psProperty.propid == kKeywordsId;
}

// A value the native filter handed out, freed unless it goes on to the indexer.
struct TaskPropVariantFree {
  void operator()(PROPVARIANT* value) const {
    PropVariantClear(value);
    CoTaskMemFree(value);
  }
};
using TaskPropVariant = std::unique_ptr<PROPVARIANT, TaskPropVariantFree>;

// The content-type service every proxy object shares, created by the first
// one that needs it and kept while the module lives (never released: other
// modules' objects are released in no defined order at process exit).
struct ContentTypeSlot {
  std::mutex lock;
  ZYT::ComPtr<IContentTypeService> contentTypes;
};

ContentTypeSlot& ContentTypes() {
  static auto* slot = new ContentTypeSlot;
  return *slot;
}

ZYT::ComPtr<IContentTypeService> ContentTypeService() {
  ContentTypeSlot& state = ContentTypes();
  std::lock_guard<std::mutex> guard(state.lock);
  if (!state.contentTypes) {
    ZYT::ComPtr<IContentTypeService> service;
    ZYT::ThrowIfFailed(CoCreateInstance(CLSID_ContentTypeService, nullptr, CLSCTX_ALL, IContentTypeService::iid,
                                        service.put_void()));
    state.contentTypes = std::move(service);
  }
  return state.contentTypes;
}

std::u16string TakeBstr(BSTR text) {
  std::u16string result = text ? std::u16string(text, SysStringLen(text)) : std::u16string();
  SysFreeString(text);
  return result;
}

std::u16string Text(const std::string& utf8) { return ZYT::Utf8ToWide(utf8); }

// A property id as the settings write it; 0 when it is not a number.
long ParseDecimal(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

}  // namespace

struct COrreryCISProxyFilter::CisSettings {
  ZYT::XmlDocument document;  // owns every node below
  ZYT::XmlNode cis;
  bool hasMap = false;
  std::vector<ZYT::XmlNode> indexedFields;  // fields/field[@index="true"] of the field-property-map
};

struct COrreryCISProxyFilter::SettingsSlot {
  std::mutex lock;
  std::shared_ptr<const CisSettings> settings;
};

COrreryCISProxyFilter::SettingsSlot& COrreryCISProxyFilter::Slot() {
  // Never destroyed, like the content-type service.
  static auto* slot = new SettingsSlot;
  return *slot;
}

std::shared_ptr<const COrreryCISProxyFilter::CisSettings> COrreryCISProxyFilter::ProcessSettings() {
  SettingsSlot& slot = Slot();
  std::lock_guard<std::mutex> guard(slot.lock);
  if (slot.settings) return slot.settings;
  ZYT::CVariant answer;
  ZYT::QuerySettings(u"//CIS", ZYT::OmittedArgument(), answer);
  auto settings = std::make_shared<CisSettings>();
  if (!settings->document.LoadXml(ZYT::WideToUtf8(answer.Text()))) return nullptr;
  settings->cis = settings->document.SelectSingleNode("CIS");
  if (!settings->cis) return nullptr;
  if (ZYT::XmlNode map = settings->cis.SelectSingleNode("field-property-map")) {
    settings->hasMap = true;
    settings->indexedFields = map.SelectNodes("fields/field[@index=\"true\"]");
  }
  slot.settings = settings;
  return settings;
}

void COrreryCISProxyFilter::ForgetProcessSettings() {
  {
    SettingsSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.settings.reset();
  }
  ContentTypeSlot& types = ContentTypes();
  std::lock_guard<std::mutex> guard(types.lock);
  types.contentTypes.Reset();
}

COrreryCISProxyFilter::COrreryCISProxyFilter() : m_log(u"FLT", true, true) {
  CLSIDFromString(u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}", &m_productPropSet);
}

HRESULT COrreryCISProxyFilter::FinalConstruct() {
  m_stopWatch.Start();
  return ZYT::ComBoundary("FinalConstruct", &m_log, [&] {
    m_debugFolder = ZYT::GetDebugFolder();
    m_log.SetFolder(FilterLogFolder(m_debugFolder));
    m_settings = ProcessSettings();
    m_log.Log(u"proxy filter final construct\n");
    return S_OK;
  });
}

void COrreryCISProxyFilter::FinalRelease() noexcept {
  ZYT::ComBoundary("FinalRelease", &m_log, [&] {
    m_log.Log(u"proxy filter final release\n");
    m_stopWatch.Finish();
    CSimpleLogger performance(u"indexer-performance.csv", false, false, m_debugFolder);
    // The line is made only when the debug folder is there to take it.
    if (!performance.Logging()) return S_OK;
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
    ZYT::CLogStream line;
    line << stamp << "," << m_filePath << "," << m_contentType << "," << m_stopWatch.TotalElapsed() << "\n";
    performance.Write(line);
    return S_OK;
  });
  m_spPersist.Reset();
  m_spIFilter.Reset();
  m_spFields.clear();
}

HRESULT COrreryCISProxyFilter::GetClassID(CLSID* pClassID) {
  return ZYT::ComBoundary("GetClassID", &m_log, [&] {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_OrreryCISProxyFilter;
    return S_OK;
  });
}

HRESULT COrreryCISProxyFilter::IsDirty() {
  return ZYT::ComBoundary("IsDirty", &m_log, [] { return E_FAIL; });
}

HRESULT COrreryCISProxyFilter::Save(LPCOLESTR pszFileName, BOOL fRemember) {
  return ZYT::ComBoundary("Save", &m_log,
                          [&] { return m_spPersist ? m_spPersist->Save(pszFileName, fRemember) : E_FAIL; });
}

HRESULT COrreryCISProxyFilter::SaveCompleted(LPCOLESTR) {
  return ZYT::ComBoundary("SaveCompleted", &m_log, [] { return S_OK; });
}

HRESULT COrreryCISProxyFilter::GetCurFile(LPOLESTR* ppszFileName) {
  return ZYT::ComBoundary("GetCurFile", &m_log,
                          [&] { return m_spPersist ? m_spPersist->GetCurFile(ppszFileName) : E_FAIL; });
}

// ---------------------------------------------------------------------------
// Loading

HRESULT COrreryCISProxyFilter::Load(LPCOLESTR pszFileName, DWORD dwMode) {
  return ZYT::ComBoundary("Load", &m_log, [&] {
    m_catalogType = u"unknown";
    // A second Load on the same object starts from nothing known.
    m_contentType.clear();
    m_contentTypeSupported = false;
    m_numAttachments = u"0";
    m_attachmentInfo.clear();
    m_keywordsRead = false;
    m_keywords.clear();
    m_loadFilePath = pszFileName ? pszFileName : u"";
    // Long names reach filters with the "\\?\" prefix; catalogs, logs and the
    // product's own values know the file without it.
    m_filePath = m_loadFilePath.compare(0, 4, u"\\\\?\\") == 0 ? m_loadFilePath.substr(4) : m_loadFilePath;
    LoadCatalogType();
    std::u16string extension = ZYT::ExtensionOf(m_loadFilePath);
    if (m_log.Logging()) m_log.Log(u"Filtering: " + m_filePath + u"\n");
    if (!m_passThrough) {
      LoadContentType(extension);
      m_numAttachments = u"0";
      m_attachmentInfo.clear();
      if (ZYT::ToLower(extension) == u"eml") LoadAttachments();
    }
    // A handler without a filter of its own falls back on the null handler's.
    HRESULT found = ZYT::ComBoundary(
        "Load", nullptr, [&] { return CreateNativeFilter(ZYT::PersistentHandlerOfExtension(extension)); });
    if (FAILED(found)) ZYT::ComBoundary("Load", &m_log, [&] { return CreateNativeFilter(kNullHandler); });
    HRESULT hr = m_spIFilter && m_spPersist ? m_spPersist->Load(pszFileName, dwMode) : E_INVALIDARG;
    if (m_log.Logging()) {
      ZYT::CLogStream s;
      s << "IPersistFile::Load ends with result: " << ZYT::Hex(hr) << "\n";
      m_log.Write(s);
    }
    return hr;
  });
}

void COrreryCISProxyFilter::LoadCatalogType() {
  std::u16string type;
  bool found = CatalogTypeOfFile(m_filePath, type);
  if (found) m_catalogType = type;
  m_passThrough = !found;
}

void COrreryCISProxyFilter::LoadContentType(const std::u16string& extension) {
  HRESULT hr = ZYT::ComBoundary("Load", nullptr, [&] {
    ZYT::ComPtr<IContentTypeService> service = ContentTypeService();
    ZYT::CBstr ext(extension);
    BSTR type = nullptr;
    ZYT::ThrowIfFailed(service->ContentTypeOfExtension(ext.get(), &type));
    m_contentType = TakeBstr(type);
    ZYT::CBstr typeArg(m_contentType);
    VARIANT_BOOL supported = VARIANT_FALSE;
    ZYT::ThrowIfFailed(service->IsSupported(typeArg.get(), &supported));
    m_contentTypeSupported = supported == VARIANT_TRUE;
    return S_OK;
  });
  if (FAILED(hr)) {
    ZYT::CLogStream s;
    s << "MimeType lookup error: " << m_filePath << " error: " << ZYT::Hex(hr) << " skipping.\n";
    m_log.Write(s);
    m_contentType = u"application/octet-stream";
    m_contentTypeSupported = false;
  }
  if (m_log.Logging()) m_log.Log(u"Content Type: " + m_contentType + u"\n");
}

void COrreryCISProxyFilter::LoadAttachments() {
  // A message that cannot be read or parsed (or is too large to hold) is
  // still filtered, without its attachment count.
  HRESULT hr = ZYT::ComBoundary("Load", nullptr, [&] {
    ZYT::MailAttachments attachments = ZYT::ParseMailAttachments(ReadWholeFile(m_filePath));
    m_numAttachments = attachments.count;
    m_attachmentInfo = attachments.names;
    m_log.Log(u"num-attachments: " + m_numAttachments + u" - attachment-info: " + m_attachmentInfo + u"\n");
    return S_OK;
  });
  if (FAILED(hr)) {
    ZYT::CLogStream s;
    s << "Email lookup error: " << m_filePath << " error: " << ZYT::Hex(hr) << " skipping.\n";
    m_log.Write(s);
  }
}

HRESULT COrreryCISProxyFilter::CreateNativeFilter(const std::u16string& handler) {
  if (m_log.Logging()) m_log.Log(u"Proxying an instance of" + handler + u"\n");
  m_spIFilter.Reset();
  m_spPersist.Reset();
  std::u16string filter = ZYT::SavedFilterOfHandler(handler);
  if (!filter.empty() && SUCCEEDED(CreateFilterFromText(filter, m_spIFilter))) m_spIFilter.As(m_spPersist);
  if (!m_spIFilter || !m_spPersist) {
    m_spIFilter.Reset();
    m_spPersist.Reset();
    ZYT::ThrowHResult(E_FAIL);
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// Init, GetText, BindRegion

HRESULT COrreryCISProxyFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes,
                                    ULONG* pFlags) {
  return ZYT::ComBoundary("Init", &m_log, [&] {
    m_log.Log(u"Proxy Init called\n");
    if (!m_spIFilter) return E_FAIL;
    if (m_passThrough) return m_spIFilter->Init(grfFlags, cAttributes, aAttributes, pFlags);
    m_propid = -1;
    m_chunkKind = -1;
    m_lastChunkId = 1;
    m_nativeEnded = false;
    m_applyIndexAttributes = (grfFlags & IFILTER_INIT_APPLY_INDEX_ATTRIBUTES) != 0;
    m_customFieldsDone = false;
    m_fieldsPrepared = false;
    m_spFields.clear();
    m_nextField = 0;
    m_textStartLength = 0;
    std::fill(std::begin(m_textStart), std::end(m_textStart), u'\0');
    std::fill(std::begin(m_seen), std::end(m_seen), false);
    HRESULT hr = m_spIFilter->Init(grfFlags, cAttributes, aAttributes, pFlags);
    m_nativeFlags = pFlags ? *pFlags : 0;
    m_log.Log(m_nativeFlags & IFILTER_FLAGS_OLE_PROPERTIES
                  ? u"Native filter wants indexer to import OLE property sets.\n"
                  : u"Native filter does not want indexer to import OLE property sets.\n");
    m_keywordsDone = false;
    for (auto& text : m_captured) text.clear();
    return hr;
  });
}

HRESULT COrreryCISProxyFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  return ZYT::ComBoundary("GetText", &m_log, [&] {
    if (!m_spIFilter) return E_FAIL;
    HRESULT hr = m_spIFilter->GetText(pcwcBuffer, awcBuffer);
    if (!m_passThrough && hr != FILTER_E_NO_MORE_TEXT && hr != FILTER_E_NO_TEXT && SUCCEEDED(hr) && pcwcBuffer &&
        awcBuffer && *pcwcBuffer != 0 && m_textStartLength < 320) {
      size_t take = std::min<size_t>(*pcwcBuffer, 320 - m_textStartLength);
      std::copy(awcBuffer, awcBuffer + take, m_textStart + m_textStartLength);
      m_textStartLength += take;
    }
    return hr;
  });
}

HRESULT COrreryCISProxyFilter::BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) {
  return ZYT::ComBoundary("BindRegion", &m_log, [&] {
    m_log.Log(u"Proxy BindRegion called\n");
    return m_spIFilter ? m_spIFilter->BindRegion(origPos, riid, ppunk) : E_FAIL;
  });
}

// ---------------------------------------------------------------------------
// GetChunk

HRESULT COrreryCISProxyFilter::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", &m_log, [&] { return ProxyGetChunk(pStat); });
}

HRESULT COrreryCISProxyFilter::ProxyGetChunk(STAT_CHUNK* pStat) {
  if (!m_spIFilter) return E_FAIL;
  if (m_passThrough) return m_spIFilter->GetChunk(pStat);
  if (!pStat) return E_POINTER;
  if (!m_nativeEnded) {
    HRESULT hr = m_spIFilter->GetChunk(pStat);
    if (hr != FILTER_E_END_OF_CHUNKS) {
      if (SUCCEEDED(hr)) NoteNativeChunk(*pStat);
      return hr;
    }
    m_log.Log(u"real filter returned end of chunks\n");
    m_nativeEnded = true;
  }
  if (m_applyIndexAttributes && !m_customFieldsDone) {
    if (!m_fieldsPrepared) PrepareFieldChunks();
    if (!m_customFieldsDone && m_nextField >= m_spFields.size()) {
      m_propid = -1;
      m_customFieldsDone = true;
      m_spFields.clear();
    }
    if (!m_customFieldsDone) {
      const ZYT::XmlNode& field = m_spFields[m_nextField++];
      GUID set = m_productPropSet;
      if (field.HasAttribute("property-set") &&
          FAILED(CLSIDFromString(Text(field.Attribute("property-set")).c_str(), &set))) {
        set = GUID{};
      }
      m_fieldPropSet = set;
      m_propid = ParseDecimal(field.Attribute("property-id"));
      STAT_CHUNK chunk{};
      chunk.attribute.guidPropSet = set;
      chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
      chunk.attribute.psProperty.propid = static_cast<PROPID>(m_propid);
      chunk.flags = CHUNK_VALUE;
      chunk.breakType = CHUNK_EOS;
      m_chunkKind = 2;
      if (m_log.Logging()) {
        ZYT::CLogStream s;
        s << "Proxy Chunk: Value m_propid=" << m_propid << "\n";
        m_log.Write(s);
      }
      *pStat = chunk;
      FinishOwnChunk(pStat);
      return S_OK;
    }
  }
  if (m_keywordsDone) {
    m_log.Log(u"proxy returning end of chunks\n");
    return FILTER_E_END_OF_CHUNKS;
  }
  STAT_CHUNK chunk{};
  chunk.attribute.guidPropSet = kSummarySet;
  chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
  chunk.attribute.psProperty.propid = kKeywordsId;
  chunk.flags = CHUNK_VALUE;
  chunk.breakType = CHUNK_EOS;
  m_chunkKind = 2;
  *pStat = chunk;
  FinishOwnChunk(pStat);
  return S_OK;
}

void COrreryCISProxyFilter::NoteNativeChunk(const STAT_CHUNK& chunk) {
  m_chunk = chunk;
  m_lastChunkId = chunk.idChunk;
  if (!(chunk.flags & CHUNK_VALUE)) return;
  const FULLPROPSPEC& attribute = chunk.attribute;
  if (m_log.Logging()) {
    ZYT::CLogStream s;
    s << "value> guid: " << ZYT::GuidToString(attribute.guidPropSet) << " ulKind: " << attribute.psProperty.ulKind;
    if (attribute.psProperty.ulKind == PRSPEC_PROPID)
      s << " propid: " << attribute.psProperty.propid;
    else
      s << " name: " << (attribute.psProperty.lpwstr ? attribute.psProperty.lpwstr : u"");
    s << "\n";
    m_log.Write(s);
  }
  for (int row = 0; row < kWatchedCount; ++row) {
    if (Matches(kWatched[row], attribute)) {
      m_seen[row] = true;
      break;
    }
  }
}

// The item id comes first, from the thumbnail service; then the indexed
// fields of the map. A failure here ends the field phase: the file still gets
// its keywords, and the indexer is not failed on every later call.
void COrreryCISProxyFilter::PrepareFieldChunks() {
  m_fieldsPrepared = true;
  HRESULT hr = ZYT::ComBoundary("GetChunk", &m_log, [&] {
    ZYT::ComPtr<IThumbnailService> thumbnails;
    ZYT::ThrowIfFailed(CoCreateInstance(CLSID_ThumbnailService, nullptr, CLSCTX_ALL, IThumbnailService::iid,
                                        thumbnails.put_void()));
    BOOL force = TRUE;
    ZYT::ComPtr<IOrreryFilter> orrery;
    if (SUCCEEDED(m_spIFilter.As(orrery))) {
      m_log.Log(u"calling forceThumbnail\n");
      ZYT::ThrowIfFailed(orrery->forceThumbnail(&force));
    }
    m_log.Log(force ? u"Force Thumbnail was TRUE\n" : u"Force Thumbnail was FALSE\n");
    ZYT::CBstr path(m_filePath), type(m_catalogType);
    BSTR itemId = nullptr;
    ZYT::ThrowIfFailed(thumbnails->ItemId(path.get(), type.get(), force ? 1 : 0, &itemId));
    m_captured[kItemId] = TakeBstr(itemId);
    if (m_settings && m_settings->hasMap) m_spFields = m_settings->indexedFields;
    return S_OK;
  });
  if (FAILED(hr) || m_spFields.empty()) {
    m_propid = -1;
    m_customFieldsDone = true;
    m_spFields.clear();
    if (SUCCEEDED(hr)) m_log.Log(u"Proxy Chunk: No more values\n");
  }
}

void COrreryCISProxyFilter::FinishOwnChunk(STAT_CHUNK* pStat) {
  ++m_lastChunkId;
  pStat->idChunk = m_lastChunkId;
  pStat->idChunkSource = m_lastChunkId;
  pStat->locale = GetSystemDefaultLCID();
  pStat->cwcStartSource = 0;
  pStat->cwcLenSource = 0;
  m_chunk = *pStat;
  m_log.Log(u"proxy returning a chunk\n");
}

// ---------------------------------------------------------------------------
// GetValue

// Whatever goes wrong while a value is captured or made, the indexer is told
// the chunk has no value; the cause is in the log.
HRESULT COrreryCISProxyFilter::GetValue(PROPVARIANT** ppPropValue) {
  return ZYT::ComBoundary("GetValue", &m_log, ZYT::FailureAnswer{FILTER_E_NO_VALUES}, [&] {
    if (!m_spIFilter) return E_FAIL;
    if (m_passThrough) return m_spIFilter->GetValue(ppPropValue);
    if (!ppPropValue) return E_POINTER;
    if (!m_nativeEnded) return NativeValue(ppPropValue);
    *ppPropValue = nullptr;
    return OwnValue(ppPropValue);
  });
}

HRESULT COrreryCISProxyFilter::NativeValue(PROPVARIANT** ppPropValue) {
  HRESULT hr = m_spIFilter->GetValue(ppPropValue);
  if (FAILED(hr) || !*ppPropValue) return hr;
  // The native value reaches the indexer only when nothing below fails.
  TaskPropVariant value(std::exchange(*ppPropValue, nullptr));
  CaptureWatchedValue(*value);
  if (IsKeywords(m_chunk.attribute)) {
    HRESULT merged = ZYT::ComBoundary("GetValue", &m_log, ZYT::FailureAnswer{FILTER_E_NO_MORE_VALUES}, [&] {
      MergeKeywords(*value);
      return S_OK;
    });
    if (FAILED(merged)) return merged;
  }
  *ppPropValue = value.release();
  return hr;
}

HRESULT COrreryCISProxyFilter::OwnValue(PROPVARIANT** ppPropValue) {
  if (IsFieldChunkCurrent()) return FieldValue(std::exchange(m_propid, -1), ppPropValue);
  if (m_chunkKind == 2 && IsKeywords(m_chunk.attribute) && !m_keywordsDone) {
    return ZYT::ComBoundary("GetValue", &m_log, ZYT::FailureAnswer{FILTER_E_NO_MORE_VALUES},
                            [&] { return KeywordsValue(ppPropValue); });
  }
  // A second value of the keywords chunk: "no more" only while the own chunks
  // are those of an Init that applies the index attributes.
  if (m_applyIndexAttributes && m_customFieldsDone && m_chunkKind == 2) {
    m_chunkKind = -1;
    return FILTER_E_NO_MORE_VALUES;
  }
  return FILTER_E_NO_VALUES;
}

void COrreryCISProxyFilter::CaptureWatchedValue(const PROPVARIANT& value) {
  for (int row = 0; row < kWatchedCount; ++row) {
    if (!m_seen[row]) continue;
    if (value.vt != VT_LPWSTR) return;  // the flag waits for a text value
    const WatchedProperty& watched = kWatched[row];
    std::u16string text = value.pwszVal ? value.pwszVal : u"";
    m_seen[row] = false;
    ZYT::CLogStream s;
    s << watched.label;
    switch (watched.store) {
      case Store::kCaptured: s << (m_captured[watched.captured] = cleanseXMLText(text, &m_log)); break;
      case Store::kNumAttachments: s << (m_numAttachments = cleanseXMLText(text, &m_log)); break;
      case Store::kAttachmentInfo: s << (m_attachmentInfo = cleanseXMLText(text, &m_log)); break;
      case Store::kContentType: s << (m_contentType = cleanseXMLText(text, &m_log)); break;
      case Store::kNothing: s << text; break;
    }
    s << "\n";
    m_log.Write(s);
    return;
  }
}

void COrreryCISProxyFilter::MergeKeywords(PROPVARIANT& value) {
  // Native keywords of another type are left as they are, and the file's own
  // keywords then follow in a chunk of their own.
  if (value.vt != VT_LPWSTR) return;
  std::u16string keywords = Keywords();
  if (!keywords.empty()) {
    std::u16string native = value.pwszVal ? value.pwszVal : u"";
    m_log.Log(u"appending Orrery keywords '" + keywords + u"' to filter keywords '" + native + u"'\n");
    LPWSTR merged = ZYT::CoTaskStrDup(keywords + u" " + native);
    if (!merged) ZYT::ThrowHResult(E_OUTOFMEMORY);
    PropVariantClear(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = merged;
  }
  m_keywordsDone = true;
}

// Each value is made last, once nothing can fail after it: the caller's
// pointer is set only on success.
HRESULT COrreryCISProxyFilter::KeywordsValue(PROPVARIANT** ppPropValue) {
  std::u16string keywords = Keywords();
  std::u16string entry = m_log.Logging() ? u"emitting Orrery keywords '" + keywords + u"'\n" : std::u16string();
  ZYT::ThrowIfFailed(ZYT::NewStringPropVariant(keywords, ppPropValue));
  if (!entry.empty()) m_log.Log(entry);
  m_keywordsDone = true;
  return S_OK;
}

HRESULT COrreryCISProxyFilter::FieldValue(long propid, PROPVARIANT** ppPropValue) {
  if (propid == -1) return FILTER_E_NO_MORE_VALUES;
  return m_fieldPropSet == m_productPropSet ? ProductFieldValue(propid, ppPropValue)
                                            : CustomFieldValue(propid, ppPropValue);
}

HRESULT COrreryCISProxyFilter::ProductFieldValue(long propid, PROPVARIANT** ppPropValue) {
  std::u16string text;
  const char16_t* label = nullptr;
  switch (propid) {
    case 2: {
      std::u16string entry =
          std::u16string(u"emit value for property 'supported': ") + (m_contentTypeSupported ? u"1" : u"0") + u"\n";
      auto* value = static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT)));
      if (!value) ZYT::ThrowHResult(E_OUTOFMEMORY);
      PropVariantInit(value);
      value->vt = VT_BOOL;
      value->boolVal = m_contentTypeSupported ? 1 : 0;  // 1, as the catalog's column expects, not VARIANT_TRUE
      *ppPropValue = value;
      m_log.Log(entry);
      return S_OK;
    }
    case 3: text = m_contentType; label = u"emit value for property content-type: "; break;
    case 4: text = m_captured[kItemId]; label = u"emit value for property id: "; break;
    case 5: text = m_captured[kSubject]; label = u"emit value for property subject: "; break;
    case 6:
      text = m_captured[kSummary].empty()
                 ? cleanseXMLText(std::u16string(m_textStart, m_textStartLength), &m_log)
                 : m_captured[kSummary];
      label = u"emit value for property summary: ";
      break;
    case 7: text = ExpandAddresses(m_captured[kTo]); label = u"emit value for property to: "; break;
    case 8: text = ExpandAddresses(m_captured[kCc]); label = u"emit value for property CC: "; break;
    case 9: text = m_numAttachments; label = u"emit value for property num-attachments: "; break;
    case 10: text = m_attachmentInfo; label = u"emit value for property attachment-info: "; break;
    case 11:
      text = ProxyTitle(m_captured[kTitle], m_captured[kDocTitle], m_captured[kSubject], m_contentType, m_filePath);
      label = u"emit value for property orrery_title: ";
      break;
    case 12: text = ExpandAddresses(m_captured[kFrom]); label = u"emit value for property from: "; break;
    case 14: text = m_catalogType; label = u"emit value for property catalog-type: "; break;
    case 19:
      if (m_captured[kFileAttributes].empty()) m_captured[kFileAttributes] = FileAttributeText(m_loadFilePath);
      text = m_captured[kFileAttributes];
      label = u"emit value for property orrery_file_attributes: ";
      break;
    default: return FILTER_E_NO_MORE_VALUES;
  }
  std::u16string entry = m_log.Logging() ? label + text + u"\n" : std::u16string();
  ZYT::ThrowIfFailed(ZYT::NewStringPropVariant(text, ppPropValue));
  if (!entry.empty()) m_log.Log(entry);
  return S_OK;
}

HRESULT COrreryCISProxyFilter::CustomFieldValue(long propid, PROPVARIANT** ppPropValue) {
  ZYT::XmlNode field;
  if (m_settings) {
    std::string xpath = "//field-property-map/fields/field[@property-id='" + std::to_string(propid) +
                        "' and @property-set='" + ZYT::WideToUtf8(ZYT::GuidToString(m_fieldPropSet)) + "']";
    field = m_settings->cis.SelectSingleNode(xpath);
  }
  std::u16string value = field ? Text(field.Attribute("value")) : std::u16string();
  std::u16string entry = u"emit value for CUSTOM property: " +
                         (field ? Text(field.Attribute("attribute")) : u"Unknown custom field?") + u" [" + value +
                         u"]\n";
  ZYT::ThrowIfFailed(ZYT::NewStringPropVariant(value, ppPropValue));
  m_log.Log(entry);
  m_log.Log(u"processed a custom property.\n");
  return S_OK;
}

// The summary-information keywords of a compound file, read once per object;
// empty when the file has none or they cannot be read (the cause is logged).
std::u16string COrreryCISProxyFilter::Keywords() {
  if (m_keywordsRead) return m_keywords;
  m_keywordsRead = true;
  std::u16string keywords;
  if (SUCCEEDED(ZYT::ComBoundary("GetValue", &m_log, [&] { return ReadKeywords(keywords); })))
    m_keywords = std::move(keywords);
  return m_keywords;
}

// Only compound files can have keywords, so no other file is copied or read
// beyond its signature; the copy keeps the indexed file out of reach of the
// storage reader.
HRESULT COrreryCISProxyFilter::ReadKeywords(std::u16string& keywords) {
  {
    ZYT::CAutoHandle file(
        CreateFileW(m_loadFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return S_OK;
    char signature[8];
    DWORD read = 0;
    if (!ReadFile(file.get(), signature, sizeof signature, &read, nullptr) ||
        !ZYT::IsCompoundFileSignature(std::string_view(signature, read)))
      return S_OK;
  }
  ZYT::CAutoFile copy(ZYT::MakeUniqueTempPath({}, u"tmp", u"qhk"));
  if (copy.Path().empty() || !CopyFileW(m_loadFilePath.c_str(), copy.Path().c_str(), FALSE)) {
    m_log.LogWin32Failure(u"CopyFile", kLabel, __LINE__);
    return S_OK;
  }
  ZYT::ThrowIfFailed(ZYT::ReadSummaryKeywords(ZYT::ToPosixPath(copy.Path().c_str()), keywords));
  return S_OK;
}
