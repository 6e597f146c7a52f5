// The module's own filter interface: the catalog proxy filter asks the filter
// it drives whether a thumbnail must be forced for the file.
#pragma once

#include "interfaces/ClassIds.h"
#include "platform/com/ObjIdl.h"

struct IOrreryFilter : IUnknown {
  static constexpr IID iid = IID_IOrreryFilter;
  virtual HRESULT forceThumbnail(BOOL* force) = 0;

 protected:
  ~IOrreryFilter() = default;
};
