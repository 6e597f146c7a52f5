// The Indexing Service's administration object, as the module sees it.
#pragma once

#include "platform/com/OleAuto.h"

inline constexpr CLSID CLSID_AdminIndexServer = ZYT::MakeGuid("{3BC4F3A1-652A-11D1-B4D4-00C04FC2DB8D}");

struct IAdminIndexServer : IDispatch {
  static constexpr IID iid = ZYT::MakeGuid("{3BC4F3A0-652A-11D1-B4D4-00C04FC2DB8D}");

 protected:
  ~IAdminIndexServer() = default;
};
