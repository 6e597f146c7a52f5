#pragma once

#include "framework/SimpleLogger.h"
#include "interfaces/IndexAdmin.h"
#include "platform/com/ComPtr.h"

// The Indexing Service's administration object and the "CIU" log beside it.
// Construction throws _com_error when the object cannot be had.
class CCIUtility {
 public:
  CCIUtility();
  virtual ~CCIUtility() = default;
  IAdminIndexServer* Admin() const { return m_spAdmin.get(); }

 private:
  ZYT::ComPtr<IAdminIndexServer> m_spAdmin;
  CSimpleLogger m_log;
};
