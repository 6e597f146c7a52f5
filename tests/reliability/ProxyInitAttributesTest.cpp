// IFilter::Init's attribute list comes from the caller. The module's filters
// read a property's name only where its kind says there is one, and format
// nothing when they log nothing: a list whose kind is neither an id nor a
// name leaves them working.
#include <gtest/gtest.h>

#include "framework/FilterInit.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Strings.h"
#include "tests/reliability/ProxyMachine.h"
#include "tests/support/ProtocolDriver.h"

namespace ZYT::Test {
namespace {

class ProxyInitAttributesTest : public ProxyMachineTest {};

FULLPROPSPEC OfKind(ULONG kind, GUID set, PROPID id) {
  FULLPROPSPEC property{};
  property.guidPropSet = set;
  property.psProperty.ulKind = kind;
  property.psProperty.propid = id;  // as a name, no pointer at all
  return property;
}

TEST_F(ProxyInitAttributesTest, AKindOfNeitherIsNoName) {
  Configure("");
  const GUID summary = MakeGuid("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}");
  struct Case {
    const char* sample;
    const char* what;
    FULLPROPSPEC attribute;
    bool chunks;
  };
  const Case cases[] = {
      {"sample.mp3", "another property", OfKind(0x7fff, summary, 2), true},
      {"sample.ogg", "another property", OfKind(0x7fff, summary, 2), true},
      {"sample.mp3", "the contents by set and id", OfKind(0x7fff, PSGUID_STORAGE, PID_STG_CONTENTS), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sample) + ": " + c.what);
    ComPtr<IFilter> filter;
    ASSERT_EQ(LoadIFilter(Utf8ToWide(std::string(ZYT_SAMPLES "/") + c.sample).c_str(), nullptr, filter.put_void()),
              S_OK);
    DriveOptions options;
    options.attributes = {c.attribute};
    options.sourceRule = WalkOptions::SourceRule::ZeroForValues;
    WalkResult r = DriveFilter(filter.get(), options);
    ASSERT_TRUE(ObeysProtocol(r));
    EXPECT_EQ(r.init, S_OK);
    EXPECT_EQ(!r.chunks.empty(), c.chunks);
  }
}

}  // namespace
}  // namespace ZYT::Test
