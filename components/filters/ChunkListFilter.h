// The machine's own filters (plain text, HTML, mail, null) stand in for the
// ones a Windows machine has. Each reads its whole file at Init into a list
// of chunks; this base hands the list out through IFilter.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ComObject.h"
#include "platform/com/Filter.h"
#include "platform/com/ObjIdl.h"

struct ListedChunk {
  FULLPROPSPEC attribute{};
  std::u16string propertyName;  // for PRSPEC_LPWSTR attributes
  CHUNK_BREAKTYPE breakType = CHUNK_EOP;
  bool isText = true;
  std::u16string text;  // the text, or a VT_LPWSTR value
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
  explicit CChunkListFilter(REFCLSID clsid) : m_clsid(clsid) {}
  ~CChunkListFilter() = default;
  // The chunks of the file's bytes.
  virtual std::vector<ListedChunk> MakeChunks(const std::string& bytes) = 0;

  // Text split into chunks at blank lines, each at most 4096 characters.
  static void AddTextChunks(const std::u16string& text, std::vector<ListedChunk>& chunks);
  // Text of unknown encoding: a byte-order mark says UTF-8 or UTF-16; else
  // UTF-8 when it is valid, else the system code page.
  static std::u16string DecodeText(const std::string& bytes);

 private:
  CLSID m_clsid;
  std::u16string m_path;
  std::vector<ListedChunk> m_chunks;
  size_t m_next = 0;
  size_t m_textPosition = 0;
  bool m_valueGiven = false;
  bool m_wantValues = true;
};
