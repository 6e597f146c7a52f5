// Text rules of the catalog proxy's own values.
#pragma once

#include <string>

class CSimpleLogger;

// Control characters other than tab, CR and LF become spaces; the length
// stays, so offsets into the native text still hold. log: where a failure is
// reported (the text then comes back unchanged); may be null.
std::u16string cleanseXMLText(const std::u16string& text, CSimpleLogger* log = nullptr);

// The title value: the captured title, or one made from the content type when
// the native filter gave none.
std::u16string ProxyTitle(const std::u16string& capturedTitle, const std::u16string& capturedDocTitle,
                          const std::u16string& capturedSubject, const std::u16string& contentType,
                          const std::u16string& filePath);

// The names of the attribute bits of a file ("read-only; hidden"; "normal"
// when none is named); read-only does not count for ".qharc" files.
std::u16string FileAttributeText(const std::u16string& path);
