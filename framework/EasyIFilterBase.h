// The IPersistFile side, logger and Init handling shared by the direct
// filters that derive from it (the CD archive item and ZIP archive filters).
#pragma once

#include <string>

#include "framework/FilterInit.h"
#include "framework/SimpleLogger.h"
#include "platform/com/ObjIdl.h"

class EasyIFilterBase : public IPersistFile {
 public:
  // IPersistFile
  HRESULT GetClassID(CLSID* pClassID) override;
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return E_FAIL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

 protected:
  EasyIFilterBase(const std::u16string& logPrefix, REFCLSID clsid);
  ~EasyIFilterBase() = default;

  // The derived FinalConstruct calls this: the log goes to "Debug.Filter"
  // beside the debug folder.
  HRESULT FinalConstructStep();
  // The derived Init calls this first and returns at once when it fails.
  HRESULT BaseInit(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags);

  std::u16string m_filePath;
  CSimpleLogger m_log;
  ZYT::CLogStream m_logStream;
  ULONG m_chunkNumber = 0;
  ZYT::FilterInitFlags m_initFlags;

 private:
  CLSID m_clsid;
};

// The folder of the filters' diagnostic logs: "Debug.Filter" beside the debug folder.
std::u16string FilterLogFolder();
// The same beside a debug folder already known.
std::u16string FilterLogFolder(const std::u16string& debugFolder);
