// The components module holds the settings store itself.
#include "components/SettingsStore.h"
#include "components/filters/CutLog.h"
#include "platform/win32/Strings.h"

std::u16string CutLogRepository() {
  CSettingsStore::Answer location;
  if (FAILED(CSettingsStore::Instance().Query("/*/repository/user/@location", location)) || !location.found)
    return {};
  return ZYT::Utf8ToWide(location.text);
}
