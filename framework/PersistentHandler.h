// The registry chain from an extension to its filter: extension, persistent
// handler, "PersistentAddinsRegistered\{IFilter}" and the module's own saved
// values beside the entries it changed.
#pragma once

#include <string>

inline constexpr char16_t kIFilterAddinKey[] = u"{89BCB740-6119-101A-BCB7-00DD010655AF}";
inline constexpr char16_t kSavedFilterValue[] = u"ZYTOrrerySavedFilterKey";
inline constexpr char16_t kSavedExtensionValue[] = u"ZYTOrrerySavedExtensionKey";
inline constexpr char16_t kNewExtensionValue[] = u"ZYTOrreryNewExtensionKey";
inline constexpr char16_t kTempHandlerValue[] = u"ZYTOrreryTempPH";
inline constexpr char16_t kThumbnailKey[] = u"ZYTThumbnail";

namespace ZYT {

// The persistent handler (registry form) of an extension, with or without its
// dot; through the extension's ProgID when it names none itself; empty when
// there is none.
std::u16string PersistentHandlerOfExtension(const std::u16string& extension);
// The IFilter class the indexer creates for a handler (the default value).
std::u16string AddinFilterOfHandler(const std::u16string& handler);
// The native filter saved behind the catalog proxy; empty when none is saved.
std::u16string SavedFilterOfHandler(const std::u16string& handler);
// Restores an extension's handler as it was before this system changed it.
void UndoExtensionChange(const std::u16string& extension);

}  // namespace ZYT
