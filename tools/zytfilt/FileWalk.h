// Filtering one file as the indexer does: what dump prints and index stores.
#pragma once

#include <string>

#include "platform/indexer/FilterWalk.h"

namespace ZYT::Zytfilt {

// Whether setup has registered the module's classes on this machine.
bool MachineIsSetUp();

struct FileWalk {
  const char* failedStep = nullptr;  // "Load" or "Init" when the walk did not run through
  HRESULT hr = S_OK;                 // the failing step's answer
  WalkResult result;
};

// Loads the filter of path (absolute) through the registry's chain, or the
// class filterClass (a CLSID or ProgID) when given, and walks it. The walk
// accepts what hosts accept: any chunk source, either refusal of a call of
// the other chunk kind.
FileWalk FilterFile(const std::u16string& path, const std::u16string& filterClass, WalkOptions walk);

}  // namespace ZYT::Zytfilt
