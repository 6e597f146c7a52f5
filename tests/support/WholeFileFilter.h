// Stands in for the filter that a filter under test hands its file to: it
// serves the whole file it is given, read as UTF-8, as one text chunk, and
// records what it was given, so a test sees exactly what was handed on.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "tests/support/FakeFilter.h"

namespace ZYT::Test {

struct WholeFileSeen {
  std::u16string loadedPath;
  std::string loadedBytes;
  HRESULT loadResult = S_OK;  // what Load answers once it has read the file
  int alive = 0;              // instances not yet released
};

template <const CLSID& Clsid, WholeFileSeen& Seen>
class CWholeFileFilter : public CFakeFilterBase {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CWholeFileFilter)
  ZYT_INTERFACE(IFilter)
  ZYT_INTERFACE(IPersistFile)
  ZYT_END_INTERFACE_MAP()
  CWholeFileFilter() { ++Seen.alive; }
  ~CWholeFileFilter() { --Seen.alive; }

 protected:
  const std::vector<FakeChunk>& Chunks() override { return m_chunks; }
  CLSID ClassId() override { return Clsid; }
  HRESULT Loaded(LPCOLESTR path) override {
    Seen.loadedPath = path;
    std::string bytes;
    DWORD error = 0;
    if (!ReadRegularFile(ToPosixPath(path), bytes, error)) return HRESULT_FROM_WIN32(error);
    Seen.loadedBytes = bytes;
    m_chunks = {{.text = Utf8ToWide(bytes)}};
    return Seen.loadResult;
  }

 private:
  std::vector<FakeChunk> m_chunks;
};

}  // namespace ZYT::Test
