#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/OleAuto.h"

namespace {

class OleAutoTest : public ::testing::Test {
 protected:
  void SetUp() override { m_before = ZYT::OutstandingTaskAllocations(); }
  void TearDown() override {
    ZYT::FailTaskAllocations(0, 0);
    EXPECT_EQ(ZYT::OutstandingTaskAllocations(), m_before) << "task memory leaked or freed twice";
  }
  LONG m_before = 0;
};

TEST_F(OleAutoTest, BstrKeepsItsLengthAndEmbeddedNuls) {
  const OLECHAR text[] = {u'a', 0, u'b'};
  BSTR s = SysAllocStringLen(text, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[1], 0);
  EXPECT_EQ(s[3], 0) << "a BSTR is zero-terminated after its length";
  ASSERT_TRUE(SysReAllocString(&s, u"longer text"));
  EXPECT_EQ(SysStringLen(s), 11u);
  SysFreeString(s);
  BSTR odd = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  SysFreeString(odd);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST_F(OleAutoTest, FailingAllocatorIsHonouredEverywhere) {
  ZYT::FailTaskAllocations(1, 1);  // the second allocation from now fails
  BSTR first = SysAllocString(u"one");
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(SysAllocString(u"two"), nullptr);
  BSTR third = SysAllocString(u"three");
  EXPECT_NE(third, nullptr) << "only the requested number of allocations fail";
  SysFreeString(first);
  SysFreeString(third);
}

TEST_F(OleAutoTest, PropVariantClearFreesWhatTheValueOwns) {
  PROPVARIANT v;
  PropVariantInit(&v);
  v.vt = VT_VECTOR | VT_LPWSTR;
  v.calpwstr.cElems = 2;
  v.calpwstr.pElems = static_cast<LPWSTR*>(CoTaskMemAlloc(2 * sizeof(LPWSTR)));
  v.calpwstr.pElems[0] = ZYT::CoTaskStrDup(u"a.txt");
  v.calpwstr.pElems[1] = ZYT::CoTaskStrDup(u"b.pdf");
  EXPECT_EQ(PropVariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);

  v.vt = VT_BLOB;
  v.blob.cbSize = 4;
  v.blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(4));
  EXPECT_EQ(PropVariantClear(&v), S_OK);

  v.vt = 0x77;  // no such type
  EXPECT_EQ(PropVariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 0x77) << "an unknown type is left alone";
  v.vt = VT_EMPTY;
}

TEST_F(OleAutoTest, PropVariantCopyIsDeepAndAtomic) {
  PROPVARIANT src;
  PropVariantInit(&src);
  src.vt = VT_VECTOR | VT_LPWSTR;
  src.calpwstr.cElems = 3;
  src.calpwstr.pElems = static_cast<LPWSTR*>(CoTaskMemAlloc(3 * sizeof(LPWSTR)));
  for (ULONG i = 0; i < 3; ++i) src.calpwstr.pElems[i] = ZYT::CoTaskStrDup(u"name");

  PROPVARIANT dst;
  PropVariantInit(&dst);
  ASSERT_EQ(PropVariantCopy(&dst, &src), S_OK);
  EXPECT_NE(dst.calpwstr.pElems, src.calpwstr.pElems);
  EXPECT_NE(dst.calpwstr.pElems[2], src.calpwstr.pElems[2]);
  EXPECT_EQ(std::u16string(dst.calpwstr.pElems[2]), u"name");
  PropVariantClear(&dst);

  ZYT::FailTaskAllocations(2, 1);  // the array and the first string succeed, the second fails
  dst.vt = VT_UI4;
  dst.ulVal = 0xCAFECAFE;
  EXPECT_EQ(PropVariantCopy(&dst, &src), E_OUTOFMEMORY);
  EXPECT_EQ(dst.vt, VT_UI4) << "a failed copy leaves the destination alone";
  EXPECT_EQ(dst.ulVal, 0xCAFECAFEu);
  PropVariantClear(&src);
}

TEST_F(OleAutoTest, VariantCopyAndClearOwnTheirString) {
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_BSTR;
  a.bstrVal = SysAllocString(u"text");
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(b.bstrVal, a.bstrVal);
  EXPECT_EQ(std::u16string(b.bstrVal), u"text");
  EXPECT_EQ(VariantClear(&a), S_OK);
  EXPECT_EQ(VariantClear(&b), S_OK);
  EXPECT_EQ(b.vt, VT_EMPTY);
}

// Structures have the Windows sizes: binary interfaces hand them over as they are.
static_assert(sizeof(PROPVARIANT) == 24 && sizeof(VARIANT) == 24);
static_assert(sizeof(DWORD) == 4 && sizeof(ULONG) == 4 && sizeof(LONG) == 4 && sizeof(BOOL) == 4);
static_assert(sizeof(VARIANT_BOOL) == 2 && sizeof(WCHAR) == 2 && sizeof(GUID) == 16);

}  // namespace
