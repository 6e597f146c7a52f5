#include <gtest/gtest.h>

#include "interfaces/SimpleFileFilter.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

class NullFileFilterTest : public ZYT::Test::MachineTest {};

// The registered module, created the way the adapter creates a plug-in: by ProgID.
TEST_F(NullFileFilterTest, YieldsThePathOnceInItsLife) {
  ASSERT_EQ(ZYT::Test::RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"ZytFilters.NullFileFilter", &clsid), S_OK);
  ZYT::ComPtr<IUnknown> unknown;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.put_void()), S_OK);
  ASSERT_EQ(OleRun(unknown.get()), S_OK);
  ZYT::ComPtr<ISimpleFileFilter> filter;
  ASSERT_EQ(unknown.As(filter), S_OK);

  const std::u16string path = u"C:\\Documents\\Mixed Case\\notes.qhnote";
  ASSERT_EQ(filter->Load(path.c_str()), S_OK);
  SimpleChunk chunk{};
  chunk.breakType = 2;
  chunk.locale = 0x409;
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  ASSERT_NE(chunk.text, nullptr);
  EXPECT_EQ(std::u16string(chunk.text, SysStringLen(chunk.text)), path);
  EXPECT_EQ(chunk.breakType, 2) << "the caller's presets stay";
  EXPECT_EQ(chunk.locale, 0x409u);
  EXPECT_EQ(chunk.propertyName, nullptr) << "the chunk is contents";
  EXPECT_EQ(chunk.value, nullptr);
  SysFreeString(chunk.text);

  SimpleChunk again{};
  EXPECT_EQ(filter->GetChunk(&again), FILTER_E_END_OF_CHUNKS);
  EXPECT_EQ(again.text, nullptr);
  ASSERT_EQ(filter->Load(u"/other/file.txt"), S_OK);
  EXPECT_EQ(filter->GetChunk(&again), FILTER_E_END_OF_CHUNKS) << "a new Load does not start over";
  EXPECT_EQ(filter->GetChunk(nullptr), E_POINTER);
}

TEST_F(NullFileFilterTest, OutOfMemoryIsReportedNotCrashed) {
  ASSERT_EQ(ZYT::Test::RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  ZYT::ComPtr<ISimpleFileFilter> filter;
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"ZytFilters.NullFileFilter", &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, uuidof<ISimpleFileFilter>(), filter.put_void()), S_OK);
  filter->Load(u"/x");
  SimpleChunk chunk{};
  ZYT::FailTaskAllocations(0, 1);
  EXPECT_EQ(filter->GetChunk(&chunk), E_OUTOFMEMORY);
  EXPECT_EQ(chunk.text, nullptr);
  ZYT::FailTaskAllocations(0, 0);
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK) << "the failed call must not use up the one chunk";
  EXPECT_EQ(std::u16string(chunk.text), u"/x");
  SysFreeString(chunk.text);
}

}  // namespace
