// The product's catalog types, in the order the catalog enumerator tries them.
#pragma once

struct CatalogType {
  int id;
  const char16_t* key;
  const char16_t* name;
  bool flag1, flag2;
  const char16_t* shortName;
  const char16_t* displayName;
};

inline constexpr CatalogType kCatalogTypes[] = {
    {1, u"local", u"local", true, true, u"My Files", u"My Files (documents on this PC)"},
    {2, u"net", u"network", true, true, u"Network", u"Network (documents on your network)"},
    {3, u"email", u"email", true, true, u"Messages", u"Messages (email and attachments)"},
    {4, u"pim", u"pim", true, true, u"PIM", u"PIM (events, tasks, contacts, and notes)"},
    {5, u"feeds", u"feeds", true, true, u"RSS", u"RSS (news feeds and blogs)"},
    {6, u"archive", u"archive", false, false, u"Archives", u"Archives (CD-ROM archives)"},
};
inline constexpr int kCatalogTypeCount = 6;
