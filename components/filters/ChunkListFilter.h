// The machine's own filters (plain text, HTML, mail, null) stand in for the
// ones a Windows machine has. Each reads its file at Init into a list of
// values and texts; this base hands them out through IFilter, a text as its
// paragraphs, which are found as they are asked for: a chunk's description
// would take many times the bytes of a short paragraph.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "components/filters/CutLog.h"
#include "platform/com/ComObject.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"

struct ListedChunk {
  FULLPROPSPEC attribute{};
  std::u16string propertyName;  // for PRSPEC_LPWSTR attributes
  CHUNK_BREAKTYPE breakType = CHUNK_EOP;
  bool isText = true;
  std::u16string text;  // paragraphs of text, or a VT_LPWSTR value
};

class CChunkListFilter : public IFilter, public IPersistFile {
 public:
  HRESULT Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) override;
  HRESULT GetChunk(STAT_CHUNK* pStat) override;
  HRESULT GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override;
  HRESULT GetValue(PROPVARIANT** ppPropValue) override;
  HRESULT BindRegion(FILTERREGION, REFIID, void** ppunk) override;
  HRESULT GetClassID(CLSID* pClassID) override;
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

 protected:
  // logPrefix: the start of the log file's name; the log is written only
  // when a limit cuts a file.
  CChunkListFilter(REFCLSID clsid, std::u16string logPrefix)
      : m_clsid(clsid), m_log(std::move(logPrefix)) {}
  ~CChunkListFilter() = default;
  // The chunks of the file's bytes.
  virtual std::vector<ListedChunk> MakeChunks(const std::string& bytes) = 0;
  // The chunks Init hands out: by default the file's bytes, up to a limit,
  // through MakeChunks. A filter that reads its file at Load gives its own.
  virtual HRESULT ReadChunks(std::vector<ListedChunk>& chunks);

  // Text handed out in chunks split at blank lines, each at most 4096
  // characters, without leading or trailing blanks; blank paragraphs give none.
  static void AddTextChunks(std::u16string text, std::vector<ListedChunk>& chunks);
  // Writes entry to the filter's log ("Debug.Filter"): for the limits that cut a file.
  void LogCut(const std::string& entry);
  // Text of unknown encoding: a byte-order mark says UTF-8 or UTF-16; else
  // UTF-8 when it is valid, else the system code page.
  static std::u16string DecodeText(const std::string& bytes);
  // UTF-8 to UTF-16 in one pass (the result is never longer than the
  // bytes). strict: false when a sequence is not UTF-8; else such sequences
  // become U+FFFD.
  static bool FromUtf8(std::string_view bytes, bool strict, std::u16string& text);

 private:
  // Moves to the next piece of the current text at or after m_scan; false at its end.
  bool NextPiece();

  CLSID m_clsid;
  CCutLog m_log;
  std::u16string m_path;
  std::vector<ListedChunk> m_chunks;
  size_t m_next = 0;        // the entry after the current one
  ULONG m_chunkId = 0;
  // The current text chunk: [m_pieceStart, m_pieceEnd) of its entry's text,
  // the paragraph it is part of ending at m_paragraphEnd; m_scan is where the
  // search for the next paragraph goes on.
  size_t m_pieceStart = 0, m_pieceEnd = 0, m_paragraphEnd = 0, m_scan = 0;
  size_t m_textPosition = 0;
  bool m_inText = false;
  enum class Current { kNone, kValue, kText } m_current = Current::kNone;
  bool m_valueGiven = false;
  bool m_wantValues = true;
};
