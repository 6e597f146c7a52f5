// Access to the product's settings server. Every use creates the server
// afresh (context 0x17, OleRun, then the interface) and releases it at the end.
#pragma once

#include <string>

#include "interfaces/SettingsServer.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"

namespace ZYT {

// The server's interface; throws _com_error when it cannot be had.
ComPtr<ISettingsServer> CreateSettingsServer();
// The answer to xpath (see ISettingsServer::Query); throws _com_error on failure.
void QuerySettings(const std::u16string& xpath, const VARIANT& defaultValue, CVariant& answer);
// The server's temporary folder; throws _com_error on failure.
std::u16string GetSettingsTempFolder();
// The user's repository location joined with "Debug"; never fails: without
// an answer it uses the per-user application-data folder.
std::u16string GetDebugFolder();

}  // namespace ZYT
