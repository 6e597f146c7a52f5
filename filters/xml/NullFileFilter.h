#pragma once

#include <string>

#include "interfaces/SimpleFileFilter.h"
#include "platform/com/ComObject.h"

// A simple filter that indexes a file's path and nothing of its content: one
// text chunk in the object's whole life, whatever is loaded later.
class CNullFileFilter : public ZYT::CComObjectRoot, public ISimpleFileFilter {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CNullFileFilter)
  ZYT_INTERFACE(ISimpleFileFilter)
  ZYT_END_INTERFACE_MAP()

  HRESULT GetChunk(SimpleChunk* chunk) override;
  HRESULT Load(LPCWSTR path) override;

 private:
  ULONG m_chunksReturned = 0;
  std::u16string m_path;
};
