#include "archive/ArchiveFilter.h"

#include <algorithm>
#include <cmath>
#include <cwctype>

#include "archive/LibzipUnZipper.h"
#include "framework/PathUtilities.h"
#include "framework/PersistentHandler.h"
#include "interfaces/ClassIds.h"
#include "interfaces/DocTypeManager.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/com/OleAuto.h"
#include "platform/com/PropIds.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/SysInfo.h"
#include "platform/win32/WinError.h"

namespace {

constexpr char kLabel[] = "ArchiveFilter";
constexpr GUID kProductSet = ZYT::MakeGuid("{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");
constexpr char16_t kShortcutHandler[] = u"{7A0A1557-46F8-4687-8512-456CD892A6D0}";

// The archive being filtered on this thread while a member's filter is made,
// so that a member archive knows how deep it lies and whose deadline bounds it.
thread_local int t_depth = 0;
thread_local time_t t_deadline = 0;

class CNestingScope {
 public:
  CNestingScope(int depth, time_t deadline) : m_depth(t_depth), m_deadline(t_deadline) {
    t_depth = depth;
    t_deadline = deadline;
  }
  ~CNestingScope() {
    t_depth = m_depth;
    t_deadline = m_deadline;
  }
  CNestingScope(const CNestingScope&) = delete;
  CNestingScope& operator=(const CNestingScope&) = delete;

 private:
  int m_depth;
  time_t m_deadline;
};

std::u16string Upper(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return text;
}

void FillChunk(STAT_CHUNK* pStat, ULONG id, CHUNKSTATE flags, const GUID& set, PROPID propid) {
  *pStat = STAT_CHUNK{};
  pStat->idChunk = id;
  pStat->breakType = CHUNK_EOS;
  pStat->flags = flags;
  pStat->locale = GetSystemDefaultLCID();
  pStat->attribute.guidPropSet = set;
  pStat->attribute.psProperty.ulKind = PRSPEC_PROPID;
  pStat->attribute.psProperty.propid = propid;
  pStat->idChunkSource = id;
}

}  // namespace

CArchiveFilter::CArchiveFilter() : EasyIFilterBase(u"Archive", CLSID_ArchiveFilter) {}

HRESULT CArchiveFilter::FinalConstruct() {
  m_unzipper = std::make_unique<LibzipUnZipper>();
  m_count = 0;
  m_summarySent = m_timeRanOut = false;
  return FinalConstructStep();
}

void CArchiveFilter::FinalRelease() noexcept {
  m_log.Log(u"FinalRelease\n");
  ReleaseMember();
  if (m_unzipper) {
    m_log.Log(m_unzipper->cleanUp() ? u"Cleanup Succeeded\n" : u"Cleanup Failed!\n");
    m_unzipper.reset();
  }
}

void CArchiveFilter::ReleaseMember() noexcept {
  m_spIFilter.Reset();
  m_spPersist.Reset();
}

HRESULT CArchiveFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", &m_log, [&] {
    HRESULT hr = BaseInit(grfFlags, cAttributes, aAttributes, pFlags);
    if (FAILED(hr)) return hr;
    if (m_opened) {
      // Filtering again starts again from the first member, in a new folder.
      ReleaseMember();
      DeleteMember();
      m_unzipper->cleanUp();
      m_unzipper = std::make_unique<LibzipUnZipper>();
      m_count = 0;
      m_summarySent = m_timeRanOut = m_fileNamePending = m_ended = false;
      m_current = Current::None;
      m_opened = false;
    }
    hr = Open();
    if (FAILED(hr)) return hr;
    m_opened = true;
    m_grfFlags = grfFlags;
    return S_OK;
  });
}

// The extract folder, the archive and the budget; once per object, as the
// members are taken once.
HRESULT CArchiveFilter::Open() {
  m_depth = t_depth;
  const int maxDepth = static_cast<int>(std::clamp<DWORD>(ZYT::GetLimit(u"MaxArchiveNesting", 8), 1, 64));
  if (m_depth >= maxDepth) {
    m_logStream << "Init: " << m_filePath << " lies " << m_depth << " archives deep, MaxArchiveNesting is " << maxDepth
                << "; not opened.\n";
    m_log.Write(m_logStream);
    return E_FAIL;
  }
  WCHAR tempPath[246];
  DWORD n = GetTempPathW(246, tempPath);
  if (n == 0 || n >= 246) return E_FAIL;
  const std::u16string tempFolder(tempPath, n);
  // A host killed while it filtered an archive left its folder behind.
  SweepDeadExtractFoldersOnce(tempFolder);
  std::u16string folder;
  // Another process may take the same number once the file is deleted: the
  // folder then exists and another name is drawn.
  for (int attempt = 0; attempt < 8; ++attempt) {
    WCHAR name[MAX_PATH];
    if (GetTempFileNameW(tempPath, u"arc", 0, name) == 0) return E_FAIL;
    DeleteFileW(name);
    folder = name;
    folder.resize(folder.size() - 4);
    if (attempt == 0) {
      m_logStream << "Archive Filter is now going to attempt to open " << m_filePath << ".\n";
      m_log.Write(m_logStream);
    }
    if (m_unzipper->setExtractPath(folder)) break;
    folder.clear();
  }
  if (folder.empty()) {
    m_log.Log(u"Zipper: setExtractPath Failed!\n");
    return E_FAIL;
  }
  if (!m_unzipper->openFile(m_filePath)) {
    m_log.Log(u"Zipper: openFile Failed!\n");
    m_unzipper->cleanUp();
    return E_FAIL;
  }

  DWORD timeout = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    m_log.Log(u"Opened up the indexer key!\n");
    DWORD value = 0, type = 0, cb = sizeof value;
    if (RegQueryValueExW(key, u"FilterIdleTimeout", nullptr, &type, reinterpret_cast<BYTE*>(&value), &cb) ==
            ERROR_SUCCESS &&
        type == REG_DWORD) {
      timeout = value;
      m_logStream << "Indexer says timeout is " << timeout << " ms.\n";
      m_log.Write(m_logStream);
    }
    RegCloseKey(key);
  }
  m_deadline = std::time(nullptr) + static_cast<time_t>(timeout / 1000) - 60;
  // A member archive ends with the archive it came in.
  if (m_depth > 0 && t_deadline != 0) m_deadline = std::min(m_deadline, t_deadline);
  m_unzipper->setDeadline(m_deadline);
  m_logStream << "timeout at: " << static_cast<int64_t>(m_deadline) << "\n";
  m_log.Write(m_logStream);
  return S_OK;
}

void CArchiveFilter::DeleteMember() {
  if (m_memberPath.empty()) return;
  if (m_memberOnDisk) {
    SetFileAttributesW(m_memberPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(m_memberPath.c_str())) {
      m_logStream << "Error:" << GetLastError() << " When trying to delete " << m_memberPath << ".\n";
    } else {
      m_logStream << m_memberPath << " File deleted successfully.\n";
    }
    m_log.Write(m_logStream);
  }
  m_memberPath.clear();
  m_memberOnDisk = false;
}

void CArchiveFilter::PrepareMemberFilter() {
  ZYT::ComPtr<IOrreryDocTypeManager> manager;
  ZYT::ThrowIfFailed(CoCreateInstance(CLSID_DocTypeManager, nullptr, 0x17, IOrreryDocTypeManager::iid,
                                      manager.put_void()));
  const std::u16string ext = u"." + ZYT::ExtensionOf(m_memberPath);
  m_logStream << "extension is " << ext << "\n";
  m_log.Write(m_logStream);
  ZYT::CBstr extension(ext);
  ZYT::CBstr handlerText;
  ZYT::ThrowIfFailed(manager->GetFilter(extension.get(), handlerText.put()));
  const std::u16string handler = handlerText.str();
  m_logStream << "Just called GetFilter: " << handler << "\n";
  m_log.Write(m_logStream);
  if (Upper(handler) == kShortcutHandler) ZYT::ThrowHResult(E_FAIL);

  std::u16string filterClass;
  ZYT::CRegistryKey addin(HKEY_CLASSES_ROOT,
                          u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\" + kIFilterAddinKey, KEY_READ);
  if (addin.IsOpen()) {
    m_log.Log(u"Just opened up the registry key\n");
    filterClass = addin.GetStringValue(kSavedFilterValue);
    if (!filterClass.empty()) {
      m_logStream << filterClass << "\n";
      m_log.Write(m_logStream);
    } else {
      // Without the catalog proxy in front, the indexer's own choice.
      filterClass = addin.GetStringValue(u"");
    }
  }
  if (filterClass.empty()) filterClass = handler;
  CLSID clsid{};
  ZYT::ThrowIfFailed(CLSIDFromString(filterClass.c_str(), &clsid));
  ZYT::ComPtr<IUnknown> unknown;
  ZYT::ThrowIfFailed(CoCreateInstance(clsid, nullptr, 0x17, IID_IUnknown, unknown.put_void()));
  ZYT::ThrowIfFailed(unknown.As(m_spIFilter));
  m_log.Log(u"Filter found!\n");
  ZYT::ThrowIfFailed(unknown.As(m_spPersist));
  m_log.Log(u"IPersist found!\n");
  m_log.Log(u"Calling Load() on m_spPersist!\n");
  ZYT::ThrowIfFailed(m_spPersist->Load(m_memberPath.c_str(), 0));
  m_log.Log(u"Calling Init() on m_spIFilter!\n");
  ULONG flags = 0;
  ZYT::ThrowIfFailed(m_spIFilter->Init(m_grfFlags, 0, nullptr, &flags));
}

HRESULT CArchiveFilter::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", &m_log, [&]() -> HRESULT {
    if (!pStat) return E_POINTER;
    m_current = Current::None;
    m_valueSent = false;
    if (!m_initFlags.property && !m_initFlags.list) return FILTER_E_END_OF_CHUNKS;
    if (!m_opened || m_ended) return FILTER_E_END_OF_CHUNKS;
    if (m_deadline < std::time(nullptr)) m_timeRanOut = true;

    if (m_spIFilter && !m_timeRanOut) {
      HRESULT hr = m_spIFilter->GetChunk(pStat);
      while (hr == S_OK && (pStat->flags & CHUNK_VALUE)) {
        m_log.Log(u"Smashing a property\n");
        PROPVARIANT* value = nullptr;
        if (SUCCEEDED(m_spIFilter->GetValue(&value)) && value) {
          PropVariantClear(value);
          CoTaskMemFree(value);
        }
        hr = m_spIFilter->GetChunk(pStat);
      }
      if (hr == S_OK) {
        pStat->idChunk = ++m_chunkNumber;
        m_current = Current::Member;
        return S_OK;
      }
    }

    ReleaseMember();
    DeleteMember();

    bool checkFirst = true;
    while (!m_timeRanOut && (!checkFirst || m_unzipper->hasMoreFiles())) {
      checkFirst = true;
      m_memberPath = m_unzipper->extractNextFile();
      m_count += 1;
      if (m_memberPath.empty()) return End();
      const bool withheld = m_unzipper->lastEntryWithheld();
      const DWORD attributes = GetFileAttributesW(m_memberPath.c_str());
      if (!withheld && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_memberPath.clear();
        // The next entry is taken without asking again.
        checkFirst = false;
        if (!m_unzipper->hasMoreFiles()) return End();
        continue;
      }
      m_memberOnDisk = !withheld;
      m_logStream << "Extracted: " << m_memberPath << "\n";
      m_log.Write(m_logStream);

      FillChunk(pStat, ++m_chunkNumber, CHUNK_TEXT, PSGUID_STORAGE, PID_STG_CONTENTS);
      m_fileNamePending = true;
      m_current = Current::Name;
      if (withheld) {
        m_logStream << "Only the name of " << m_memberPath << " is indexed: " << m_unzipper->lastEntryNote() << ".\n";
        m_log.Write(m_logStream, kLabel, __LINE__);
        return S_OK;
      }
      CNestingScope nesting(m_depth + 1, m_deadline);
      HRESULT hr = ZYT::ComBoundary("GetChunk", &m_log, [&] {
        PrepareMemberFilter();
        return S_OK;
      });
      if (FAILED(hr)) ReleaseMember();
      return S_OK;
    }

    if (!m_summarySent) {
      m_log.Log(u"going to do summary.\n");
      FillChunk(pStat, ++m_chunkNumber, CHUNK_VALUE, kProductSet, 6);
      m_summarySent = true;
      m_current = Current::Summary;
      return S_OK;
    }
    m_logStream << "Ending Filtering at: " << static_cast<int64_t>(std::time(nullptr)) << ", time up at "
                << static_cast<int64_t>(m_deadline) << "\n";
    m_log.Write(m_logStream);
    return End();
  });
}

HRESULT CArchiveFilter::End() {
  m_ended = true;
  return FILTER_E_END_OF_CHUNKS;
}

HRESULT CArchiveFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  return ZYT::ComBoundary("GetText", &m_log, [&]() -> HRESULT {
    if (!pcwcBuffer || !awcBuffer) return E_POINTER;
    m_log.Log(u"calling GetText\n");
    if (m_fileNamePending && m_current == Current::Name) {
      m_log.Log(u"Going to send filename to text.\n");
      const std::u16string text = ZYT::FileNameOf(m_memberPath) + u"\n";
      ULONG count = static_cast<ULONG>(std::min<size_t>(*pcwcBuffer, text.size()));
      std::copy_n(text.data(), count, awcBuffer);
      *pcwcBuffer = count;
      m_fileNamePending = false;
      return FILTER_S_LAST_TEXT;
    }
    if (m_current == Current::Member && m_spIFilter) return m_spIFilter->GetText(pcwcBuffer, awcBuffer);
    return m_current == Current::Name ? FILTER_E_NO_MORE_TEXT : FILTER_E_NO_TEXT;
  });
}

std::u16string CArchiveFilter::SummaryText() {
  ZYT::CLogStream text;
  const int32_t files = m_unzipper->getFileCount();
  if (m_timeRanOut) {
    m_logStream << "Going to try to get the filename: " << m_memberPath << "\n";
    m_log.Write(m_logStream);
    text << "Halvorine Orrery was unable to index some of the documents contained in this .zip file.  Halvorine "
            "Orrery indexed "
         << m_count << " files out of " << files
         << ".  You may be able to successfully index the remaining items by creating a separate .zip file for "
            "them.\n\n";
  }
  const int32_t size = m_unzipper->getUncompressedSize();
  const int32_t compressed = m_unzipper->getCompressedSize();
  // An archive of empty files saved nothing.
  const int percent = size > 0 ? static_cast<int>(std::trunc((1.0 - double(compressed) / double(size)) * 100.0)) : 0;
  text << "Files: " << files << "\n"
       << "Size: " << size / 1024 << "KB\n"
       << "Compressed: " << compressed / 1024 << "KB\n"
       << "Percent Compressed: " << percent << "%\n";
  return text.str();
}

HRESULT CArchiveFilter::GetValue(PROPVARIANT** ppPropValue) {
  return ZYT::ComBoundary("GetValue", &m_log, [&]() -> HRESULT {
    if (!ppPropValue) return E_POINTER;
    *ppPropValue = nullptr;
    m_log.Log(u"calling GetValue\n");
    if (m_current != Current::Summary) return FILTER_E_NO_VALUES;
    if (m_valueSent) return FILTER_E_NO_MORE_VALUES;
    const std::u16string text = SummaryText();
    auto* value = static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT)));
    if (!value) return E_OUTOFMEMORY;
    *value = PROPVARIANT{};
    value->vt = VT_LPWSTR;
    value->pwszVal = ZYT::CoTaskStrDup(text);
    if (!value->pwszVal) {
      CoTaskMemFree(value);
      return E_OUTOFMEMORY;
    }
    *ppPropValue = value;
    m_valueSent = true;
    return S_OK;
  });
}

HRESULT CArchiveFilter::BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) {
  if (!m_spIFilter) return E_NOTIMPL;
  return m_spIFilter->BindRegion(origPos, riid, ppunk);
}
