// What a second GetValue on the proxy's closing keywords chunk answers
// depends on the Init flags: "no more values" after the field phase that
// IFILTER_INIT_APPLY_INDEX_ATTRIBUTES asks for, "no values" without it.
#include <gtest/gtest.h>

#include "platform/com/OleAuto.h"
#include "platform/com/TaskAllocator.h"
#include "tests/reliability/ProxyMachine.h"

namespace ZYT::Test {
namespace {

class ProxyKeywordsValueTest : public ProxyMachineTest {};

TEST_F(ProxyKeywordsValueTest, SecondValueByInitFlags) {
  Configure(Field(3));
  WriteBytes(PathIn("in/note.txt"), "Hello proxy.\n");
  ComPtr<IFilter> proxy = LoadedProxy(PathInW("in/note.txt"));
  ASSERT_TRUE(proxy);
  struct Case {
    ULONG initFlags;
    HRESULT second, third;
  };
  for (const Case& c : {Case{0, FILTER_E_NO_VALUES, FILTER_E_NO_VALUES},
                        Case{IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, FILTER_E_NO_MORE_VALUES, FILTER_E_NO_VALUES}}) {
    SCOPED_TRACE(c.initFlags);
    ULONG flags = 0;
    ASSERT_EQ(proxy->Init(c.initFlags, 0, nullptr, &flags), S_OK);
    STAT_CHUNK chunk{}, last{};
    while (proxy->GetChunk(&chunk) == S_OK) {
      last = chunk;
      if (!(chunk.flags & CHUNK_VALUE)) continue;
      PROPVARIANT* value = nullptr;
      ASSERT_EQ(proxy->GetValue(&value), S_OK);
      PropVariantClear(value);
      CoTaskMemFree(value);
      if (last.attribute.psProperty.propid != 5) continue;
      value = reinterpret_cast<PROPVARIANT*>(0x1);
      EXPECT_EQ(proxy->GetValue(&value), c.second);
      EXPECT_EQ(value, nullptr);
      EXPECT_EQ(proxy->GetValue(&value), c.third);
    }
    EXPECT_EQ(GuidToString(last.attribute.guidPropSet), u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}")
        << "the keywords chunk comes last";
    EXPECT_EQ(last.attribute.psProperty.propid, 5u);
  }
}

}  // namespace
}  // namespace ZYT::Test
