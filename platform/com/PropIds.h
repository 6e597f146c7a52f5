// The system's property sets and identifiers, as ntquery.h and propidl.h
// define them.
#pragma once

#include "platform/com/Guid.h"
#include "platform/com/OleAuto.h"

// PSGUID_STORAGE and its contents property: the text of a document.
inline constexpr GUID PSGUID_STORAGE = ZYT::MakeGuid("{B725F130-47EF-101A-A5F1-02608C9EEBAC}");
constexpr PROPID PID_STG_CONTENTS = 19;
inline constexpr GUID FMTID_SummaryInformation = ZYT::MakeGuid("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}");
inline constexpr GUID FMTID_DocSummaryInformation = ZYT::MakeGuid("{D5CDD502-2E9C-101B-9397-08002B2CF9AE}");
constexpr PROPID PIDSI_TITLE = 2;
constexpr PROPID PIDSI_AUTHOR = 4;
constexpr PROPID PIDDSI_CATEGORY = 2;
