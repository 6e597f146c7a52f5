#include <gtest/gtest.h>

#include "platform/com/Guid.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"

namespace {

constexpr GUID kFilter = ZYT::MakeGuid("{89BCB740-6119-101A-BCB7-00DD010655AF}");

TEST(GuidTest, StringFromCLSIDIsUpperCaseWithBraces) {
  const GUID lower = ZYT::MakeGuid("{098f2470-bae0-11cd-b579-08002b30bfeb}");
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(lower, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"{098F2470-BAE0-11CD-B579-08002B30BFEB}");
  CoTaskMemFree(text);

  WCHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(lower, buffer, 38), 0) << "39 characters are needed with the terminator";
  EXPECT_EQ(StringFromGUID2(lower, buffer, 39), 39);
  EXPECT_EQ(buffer[38], 0);

  ZYT::FailTaskAllocations(0, 1);
  text = reinterpret_cast<LPOLESTR>(0x1);
  EXPECT_EQ(StringFromCLSID(lower, &text), E_OUTOFMEMORY);
  EXPECT_EQ(text, nullptr);
  ZYT::FailTaskAllocations(0, 0);
}

TEST(GuidTest, CLSIDFromStringIsStrictAboutTheBraceForm) {
  struct Case {
    const char16_t* text;
    HRESULT expected;
  };
  const Case cases[] = {
      {u"{89BCB740-6119-101A-BCB7-00DD010655AF}", S_OK},
      {u"{89bcb740-6119-101a-bcb7-00dd010655af}", S_OK},
      {u"{89BCB740-6119-101A-BCB7-00DD010655AF", CO_E_CLASSSTRING},     // no closing brace
      {u"{89BCB740-6119-101A-BCB7-00DD010655AF}x", CO_E_CLASSSTRING},   // trailing text
      {u"{89BCB740-6119-101A-BCB700DD-010655AF}", CO_E_CLASSSTRING},    // dash moved
      {u"{89BCB740-6119-101A-BCB7-00DD010655AG}", CO_E_CLASSSTRING},    // not hex
      {u"{89BCB740-6119-101A-BCB7-00DD010655A\u0660}", CO_E_CLASSSTRING},  // Arabic digit
      {u"{}", CO_E_CLASSSTRING},
  };
  for (const Case& c : cases) {
    CLSID clsid = CLSID_NULL;
    EXPECT_EQ(CLSIDFromString(c.text, &clsid), c.expected) << std::string(c.text, c.text + 3);
    if (c.expected == S_OK) {
      EXPECT_EQ(clsid, kFilter);
    }
  }
  CLSID clsid = kFilter;
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_NULL);
}

TEST(GuidTest, TextRoundTripsAndCreatedGuidsDiffer) {
  GUID a{}, b{};
  ASSERT_EQ(CoCreateGuid(&a), S_OK);
  ASSERT_EQ(CoCreateGuid(&b), S_OK);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.Data3 >> 12, 4) << "random GUIDs are version 4";
  GUID back{};
  ASSERT_TRUE(ZYT::GuidFromString(ZYT::GuidToString(a), back));
  EXPECT_EQ(back, a);
}

}  // namespace
