// How IFilter::Init's flags and attribute list decide what a filter emits.
#pragma once

#include "framework/SimpleLogger.h"
#include "platform/com/Filter.h"
#include "platform/com/PropIds.h"

namespace ZYT {

struct FilterInitFlags {
  bool property = false;  // emit property value chunks
  bool list = false;      // together with property: false for both means emit nothing
};

// Reads grfFlags and the attribute list: both flags end false exactly when
// the list names PSGUID_STORAGE/PID_STG_CONTENTS. E_INVALIDARG for a count
// without an array (flags then unchanged). When log is given and its folder
// exists, each decision is written to it as an entry of its own; otherwise no
// entry is composed. An attribute's name is read only when its kind is
// PRSPEC_LPWSTR.
HRESULT InterpretFilterInit(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes,
                            FilterInitFlags& flags, CSimpleLogger* log = nullptr);

}  // namespace ZYT
