#pragma once

#include "interfaces/IndexAdmin.h"
#include "platform/com/ComObject.h"
#include "platform/com/NoTypeInfoDispatch.h"

// The Indexing Service's administration object: the module only needs it to
// exist; catalogs themselves are in the registry (platform/indexer/Catalogs.h).
class CIndexAdmin : public ZYT::CComObjectRoot, public ZYT::CNoTypeInfoDispatch<IAdminIndexServer> {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CIndexAdmin)
  ZYT_INTERFACE(IAdminIndexServer)
  ZYT_INTERFACE_VIA(IDispatch, IAdminIndexServer)
  ZYT_END_INTERFACE_MAP()
  using ThreadModel = ZYT::MultiThreadModel;
};
