// How IFilter::Init's flags and attribute list decide what a filter emits.
#pragma once

#include "framework/SimpleLogger.h"
#include "platform/com/Filter.h"

// PSGUID_STORAGE and its contents property: the text of a document.
inline constexpr GUID PSGUID_STORAGE = ZYT::MakeGuid("{B725F130-47EF-101A-A5F1-02608C9EEBAC}");
constexpr PROPID PID_STG_CONTENTS = 19;
inline constexpr GUID FMTID_SummaryInformation = ZYT::MakeGuid("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}");
inline constexpr GUID FMTID_DocSummaryInformation = ZYT::MakeGuid("{D5CDD502-2E9C-101B-9397-08002B2CF9AE}");
constexpr PROPID PIDSI_TITLE = 2;
constexpr PROPID PIDSI_AUTHOR = 4;
constexpr PROPID PIDDSI_CATEGORY = 2;

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
