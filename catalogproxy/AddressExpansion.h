// E-mail address expansion for the catalog proxy's to, cc and from values.
#pragma once

#include <string>

inline constexpr char kAddressExpansionNamespace[] = "urn:halvorine-orrery:address-expansion";

// The local parts and domains of the addresses in text, distinct and in order,
// each followed by a blank, then ";;" and the text; the text alone when it
// holds no address.
std::u16string ExpandAddressTerms(const std::u16string& text);

// Runs the module's "EADDRESSHACK.XSL" on text, on systems where the product
// needs it (before Windows XP); the text unchanged otherwise or on any error.
std::u16string ExpandAddresses(const std::u16string& text);
