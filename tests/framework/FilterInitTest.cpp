#include "framework/FilterInit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::Test::MachineTest;

constexpr GUID kSummarySet = ZYT::MakeGuid("{F29F85E0-4FF9-1068-AB91-08002B27B3D9}");

// A property whose kind is neither an id nor a name: the union holds what
// the caller put there, here a small number that is no valid string pointer.
FULLPROPSPEC OfKind(ULONG kind, GUID set, PROPID id) {
  FULLPROPSPEC property{};
  property.guidPropSet = set;
  property.psProperty.ulKind = kind;
  property.psProperty.propid = id;
  return property;
}

FULLPROPSPEC Named(GUID set, const char16_t* name) {
  FULLPROPSPEC property{};
  property.guidPropSet = set;
  property.psProperty.ulKind = PRSPEC_LPWSTR;
  property.psProperty.lpwstr = const_cast<LPWSTR>(name);
  return property;
}

class FilterInitTest : public MachineTest {};

TEST_F(FilterInitTest, FlagsFromTheAttributeList) {
  struct Case {
    const char* what;
    std::vector<FULLPROPSPEC> attributes;
    bool on;
  };
  const Case cases[] = {
      {"another property", {OfKind(PRSPEC_PROPID, kSummarySet, 2)}, true},
      {"a name", {Named(kSummarySet, u"Title")}, true},
      {"a null name", {Named(PSGUID_STORAGE, nullptr)}, true},
      {"a kind of neither", {OfKind(7, kSummarySet, 5)}, true},
      {"the contents", {OfKind(PRSPEC_PROPID, kSummarySet, 2), OfKind(PRSPEC_PROPID, PSGUID_STORAGE, PID_STG_CONTENTS)},
       false},
      {"the contents' set and id whatever the kind", {OfKind(7, PSGUID_STORAGE, PID_STG_CONTENTS)}, false},
      {"contents id in another set", {OfKind(PRSPEC_PROPID, kSummarySet, PID_STG_CONTENTS)}, true},
  };
  for (const Case& c : cases) {
    ZYT::FilterInitFlags flags{!c.on, !c.on};
    // No logger: the attributes are only looked at, never formatted.
    ASSERT_EQ(ZYT::InterpretFilterInit(0, static_cast<ULONG>(c.attributes.size()), c.attributes.data(), flags), S_OK)
        << c.what;
    EXPECT_EQ(flags.property, c.on) << c.what;
    EXPECT_EQ(flags.list, c.on) << c.what;
  }
  ZYT::FilterInitFlags flags{true, false};
  EXPECT_EQ(ZYT::InterpretFilterInit(0, 1, nullptr, flags), E_INVALIDARG);
  EXPECT_TRUE(flags.property && !flags.list) << "a count without an array changes nothing";
}

TEST_F(FilterInitTest, TheLogNamesEachAttributeByItsKind) {
  mkdir(PathIn("logs").c_str(), 0700);
  CSimpleLogger log(u"AAP", true, false, PathInW("logs"));
  const FULLPROPSPEC attributes[] = {OfKind(PRSPEC_PROPID, kSummarySet, 2), Named(kSummarySet, u"Title"),
                                     OfKind(7, kSummarySet, 5), OfKind(7, PSGUID_STORAGE, PID_STG_CONTENTS)};
  ZYT::FilterInitFlags flags;
  ASSERT_EQ(ZYT::InterpretFilterInit(0, 4, attributes, flags, &log), S_OK);
  ASSERT_EQ(ZYT::InterpretFilterInit(IFILTER_INIT_CANON_PARAGRAPHS, 0, nullptr, flags, &log), S_OK);
  EXPECT_EQ(ReadBytes(ZYT::WideToUtf8(log.CurrentFile())),
            "attribute[0] = 2\n"
            "attribute[1] = Title\n"
            "attribute[2] = ?\n"
            "attribute[3] = ?\n"
            "storage attribute[3 = ? is PID_STG_CONTENTS\n"
            "content false, ??????, grfFlags = 1\n");
}

TEST_F(FilterInitTest, ALoggerWithoutItsFolderWritesNothing) {
  CSimpleLogger log(u"AAP", true, false, PathInW("logs"));
  const FULLPROPSPEC attributes[] = {OfKind(7, kSummarySet, 5)};
  ZYT::FilterInitFlags flags;
  ASSERT_EQ(ZYT::InterpretFilterInit(0, 1, attributes, flags, &log), S_OK);
  EXPECT_TRUE(flags.property && flags.list);
  EXPECT_FALSE(Exists(PathIn("logs")));
  EXPECT_TRUE(log.CurrentFile().empty());
}

}  // namespace
