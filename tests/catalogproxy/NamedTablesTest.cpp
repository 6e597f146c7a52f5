#include <gtest/gtest.h>

#include "catalogproxy/NamedPropertyTable.h"
#include "catalogproxy/NamedVarTypeTable.h"
#include "framework/FilterInit.h"

namespace {

constexpr GUID kProduct = ZYT::MakeGuid("{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");

TEST(NamedPropertyTableTest, WordsResolveWithoutCase) {
  struct Case {
    const char16_t* word;
    GUID set;
    PROPID id;
  };
  const Case cases[] = {
      {u"Title", kProduct, 11},        {u"TITLE", kProduct, 11},       {u"title", kProduct, 11},
      {u"content", PSGUID_STORAGE, 19}, {u"Contents", PSGUID_STORAGE, 19}, {u"attachment-info", kProduct, 10},
      {u"cc", kProduct, 8},            {u"content-type", kProduct, 3}, {u"FROM", kProduct, 12},
      {u"message-size", kProduct, 13}, {u"num-attachments", kProduct, 9}, {u"subject", kProduct, 5},
      {u"summary", kProduct, 6},       {u"To", kProduct, 7},
  };
  for (const Case& c : cases) {
    FULLPROPSPEC found = g_namedProperties.Lookup(c.word);
    EXPECT_EQ(found.guidPropSet, c.set) << std::string(c.word, c.word + 3);
    EXPECT_EQ(found.psProperty.ulKind, PRSPEC_PROPID);
    EXPECT_EQ(found.psProperty.propid, c.id);
  }
}

TEST(NamedPropertyTableTest, UnknownWordsThrowWithTheirName) {
  for (const char16_t* word : {u"author", u" title", u"", u"public", u"url"}) {
    try {
      g_namedProperties.Lookup(word);
      FAIL() << "found a word that is not in the table";
    } catch (const CNamedPropertyNotFoundException& e) {
      EXPECT_EQ(e.Name(), word);
    }
  }
  try {
    g_namedProperties.Lookup(u"Author");
  } catch (const CNamedPropertyNotFoundException& e) {
    const char* first = e.what();
    EXPECT_STREQ(first, "CNamedPropertyNotFoundException: 'author' not found");
    EXPECT_EQ(e.what(), first) << "the message is built once";
    CNamedPropertyNotFoundException copy(e);
    EXPECT_STREQ(copy.what(), first);
  }
}

TEST(NamedVarTypeTableTest, TypeWords) {
  struct Case {
    const char16_t* word;
    VARTYPE type;
  };
  const Case cases[] = {
      {u"VT_LPWSTR", VT_LPWSTR}, {u"String", VT_LPWSTR},   {u"string", VT_LPWSTR}, {u"unsigned int", VT_UINT},
      {u"uint", VT_UINT},        {u"vt_uint", VT_UINT},    {u"byte", VT_UI1},      {u"char", VT_I1},
      {u"bool", VT_BOOL},        {u"double", VT_R8},       {u"float", VT_R4},      {u"long", VT_I4},
      {u"ulong", VT_UI4},        {u"Unsigned Short", VT_UI2}, {u"vt_i2", VT_I2},   {u"vt_int", VT_INT},
  };
  for (const Case& c : cases) EXPECT_EQ(g_namedVarTypes.Lookup(c.word), c.type) << std::string(c.word, c.word + 4);
  try {
    g_namedVarTypes.Lookup(u"Vt_UI8");
    FAIL() << "64-bit types are not in the table";
  } catch (const CNamedVarTypeNotFoundException& e) {
    EXPECT_STREQ(e.what(), "CNamedVarTypeNotFoundException: 'vt_ui8' not found") << "the lowered word is named";
  }
  EXPECT_THROW(g_namedVarTypes.Lookup(u"bstr"), CNamedVarTypeNotFoundException);
  EXPECT_THROW(g_namedVarTypes.Lookup(u"filetime"), CNamedVarTypeNotFoundException);
}

}  // namespace
