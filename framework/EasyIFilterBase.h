// The logger and Init handling shared by the direct filters that derive from
// it (the CD archive item and ZIP archive filters), over the common
// IPersistFile side.
#pragma once

#include <string>

#include "framework/FilterInit.h"
#include "framework/PersistFileBase.h"
#include "framework/SimpleLogger.h"

class EasyIFilterBase : public CPersistFileBase {
 protected:
  EasyIFilterBase(const std::u16string& logPrefix, REFCLSID clsid);
  ~EasyIFilterBase() = default;

  // The derived FinalConstruct calls this: the log goes to "Debug.Filter"
  // beside the debug folder.
  HRESULT FinalConstructStep();
  // The derived Init calls this first and returns at once when it fails.
  HRESULT BaseInit(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags);

  CSimpleLogger m_log;
  ZYT::CLogStream m_logStream;
  ULONG m_chunkNumber = 0;
  ZYT::FilterInitFlags m_initFlags;
};

// The folder of the filters' diagnostic logs: "Debug.Filter" beside the debug folder.
std::u16string FilterLogFolder();
// The same beside a debug folder already known.
std::u16string FilterLogFolder(const std::u16string& debugFolder);
