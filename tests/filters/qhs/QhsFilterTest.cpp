#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>

#include "filters/qhs/OrreryStream.h"
#include "filters/qhs/QhsFilter.h"
#include "platform/com/ComPtr.h"
#include "platform/com/PropIds.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win32/Strings.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

std::string Stream(const std::string& idAttributes) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<stream><id " + idAttributes +
         "/><manualstream/><request/></stream>\n";
}

class QhsFilterTest : public MachineTest {
 protected:
  ComPtr<IFilter> Loaded(const std::u16string& path) {
    ComPtr<IFilter> filter;
    EXPECT_EQ(ZYT::CComObject<CQhsFilter>::CreateInstance(nullptr, IID_IFilter, filter.put_void()), S_OK);
    ComPtr<IPersistFile> file;
    EXPECT_EQ(filter.As(file), S_OK);
    EXPECT_EQ(file->Load(path.c_str(), 0), S_OK);
    return filter;
  }
  WalkResult Walk(const std::string& bytes, ULONG initFlags) {
    WriteBytes(PathIn("s.qhs"), bytes);
    DriveOptions options;
    options.initFlags = initFlags;
    WalkResult result = DriveFilter(Loaded(PathInW("s.qhs")).get(), options);
    EXPECT_TRUE(ObeysProtocol(result));
    EXPECT_EQ(result.end, FILTER_E_END_OF_CHUNKS);
    return result;
  }
};

TEST_F(QhsFilterTest, IndexAttributesGiveTheNameAndDescriptionAsOneTextChunk) {
  WalkResult result = Walk(Stream("name=\"Invoices &amp; bills\" description=\"from 2025\" guid=\"x\""), 0x10);
  ASSERT_EQ(result.chunks.size(), 1u);
  EXPECT_EQ(result.chunks[0].stat.idChunk, 1u);
  EXPECT_EQ(result.chunks[0].stat.breakType, CHUNK_NO_BREAK);
  EXPECT_EQ(ZYT::WideToUtf8(ZYT::AttributeText(result.chunks[0])), "{B725F130-47EF-101A-A5F1-02608C9EEBAC}/0x13");
  EXPECT_EQ(Texts(result), std::vector<std::u16string>{u" Invoices & bills - from 2025"});
  // Grfflags 0 asks for text alone; the same chunk.
  EXPECT_EQ(Texts(Walk(Stream("name=\"N\" description=\"D\""), 0)), std::vector<std::u16string>{u" N - D"});
}

TEST_F(QhsFilterTest, ValuesAloneGiveTheMarkedNameAsTitleTwice) {
  WalkResult result = Walk(Stream("name=\"Weekly\" description=\"mail of the week\""), IFILTER_INIT_CANON_PARAGRAPHS);
  ASSERT_EQ(result.chunks.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(result.chunks[i].stat.idChunk, i + 1);
    EXPECT_EQ(result.chunks[i].stat.flags, CHUNK_VALUE);
    EXPECT_EQ(result.chunks[i].stat.attribute.guidPropSet, FMTID_SummaryInformation);
    EXPECT_EQ(result.chunks[i].stat.attribute.psProperty.propid, PIDSI_TITLE);
    EXPECT_EQ(result.chunks[i].vt, VT_LPWSTR);
  }
  EXPECT_EQ(Values(result), (std::vector<std::string>{"\"PJTITLE Weekly\"", "\"PJTITLE Weekly\""}));
  // A value that could not be allocated is still due: the next GetValue gives it.
  ComPtr<IFilter> filter = Loaded(PathInW("s.qhs"));
  ULONG flags = 0;
  STAT_CHUNK chunk{};
  ASSERT_EQ(filter->Init(IFILTER_INIT_CANON_PARAGRAPHS, 0, nullptr, &flags), S_OK);
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  PROPVARIANT* value = reinterpret_cast<PROPVARIANT*>(0xCAFECAFE);
  ZYT::FailTaskAllocations(0, 1);
  EXPECT_EQ(filter->GetValue(&value), E_OUTOFMEMORY);
  ZYT::FailTaskAllocations(0, 0);
  ASSERT_EQ(filter->GetValue(&value), S_OK);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::u16string(value->pwszVal), u"PJTITLE Weekly");
  PropVariantClear(value);
  CoTaskMemFree(value);
  EXPECT_TRUE(Texts(result).empty());
  // Index attributes together with other flags: text only, no title.
  result = Walk(Stream("name=\"Weekly\""), 0x11);
  EXPECT_EQ(Texts(result), std::vector<std::u16string>{u" Weekly"});
  EXPECT_TRUE(Values(result).empty());
}

TEST_F(QhsFilterTest, AnEmptyOrMissingDescriptionAddsNoDash) {
  EXPECT_EQ(Texts(Walk(Stream("name=\"Only a name\" description=\"\""), 0x10)),
            std::vector<std::u16string>{u" Only a name"});
  EXPECT_EQ(Texts(Walk(Stream("name=\"Only a name\""), 0x10)), std::vector<std::u16string>{u" Only a name"});
  EXPECT_EQ(Texts(Walk(Stream("description=\"no name\""), 0x10)), std::vector<std::u16string>{u"  - no name"});
}

TEST_F(QhsFilterTest, WhatCannotBeReadIsASingleSpace) {
  for (const std::string& bytes : {std::string("<stream><manualstream/></stream>"), std::string("<stream><id name="),
                                   std::string("\x00\x01\x02", 3), std::string("<stream><id>text</id></stream>")}) {
    EXPECT_EQ(Texts(Walk(bytes, 0x10)), std::vector<std::u16string>{u" "}) << bytes;
  }
  DriveOptions options;
  EXPECT_EQ(Texts(DriveFilter(Loaded(PathInW("missing.qhs")).get(), options)), std::vector<std::u16string>{u" "});
  ASSERT_EQ(mkfifo(PathIn("fifo.qhs").c_str(), 0600), 0);
  EXPECT_EQ(Texts(DriveFilter(Loaded(PathInW("fifo.qhs")).get(), options)), std::vector<std::u16string>{u" "})
      << "a FIFO is not read, and does not block";
  SetLimit(u"MaxStreamFileBytes", 4096);
  WriteBytes(PathIn("big.qhs"), Stream("name=\"big\"") + std::string(4096, ' '));
  EXPECT_EQ(Texts(DriveFilter(Loaded(PathInW("big.qhs")).get(), options)), std::vector<std::u16string>{u" "});
}

// The driver checks the answers around the text; these are the filter's own.
TEST_F(QhsFilterTest, ALongFormPathIsReadAndAHalfReadTextIsOfferedAgain) {
  WriteBytes(PathIn("s.qhs"), Stream("name=\"N\" description=\"D\""));
  ComPtr<IFilter> filter = Loaded(u"\\\\?\\" + PathInW("s.qhs"));
  DriveOptions options;
  options.initFlags = 0x10;
  WalkResult r = DriveFilter(filter.get(), options);
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(r.initOutFlags, static_cast<ULONG>(IFILTER_FLAGS_OLE_PROPERTIES));
  EXPECT_EQ(Texts(r), std::vector<std::u16string>{u" N - D"}) << "a long-form path is read without its prefix";
  ULONG flags = 0;
  STAT_CHUNK chunk{};
  WCHAR buffer[64];
  ULONG n = 2;
  ASSERT_EQ(filter->Init(0, 0, nullptr, &flags), S_OK);
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  EXPECT_EQ(filter->GetText(&n, buffer), S_OK);
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.idChunk, 2u);
  n = 64;
  EXPECT_EQ(filter->GetText(&n, buffer), FILTER_S_LAST_TEXT);
  EXPECT_EQ(std::u16string(buffer, n), u" N - D") << "from its start";
}

TEST_F(QhsFilterTest, AnAttributeListDecidesOnTheTextAlone) {
  WriteBytes(PathIn("s.qhs"), Stream("name=\"N\""));
  const FULLPROPSPEC contents = PropertyAttribute(PSGUID_STORAGE, PID_STG_CONTENTS),
                     title = PropertyAttribute(FMTID_SummaryInformation, PIDSI_TITLE);
  DriveOptions options;
  options.attributes = {title, contents};
  EXPECT_EQ(Texts(DriveFilter(Loaded(PathInW("s.qhs")).get(), options)), std::vector<std::u16string>{u" N"});
  options.attributes = {title};
  WalkResult none = DriveFilter(Loaded(PathInW("s.qhs")).get(), options);
  EXPECT_TRUE(none.chunks.empty()) << "the title is given only without an attribute list";
  EXPECT_EQ(none.end, FILTER_E_END_OF_CHUNKS);
  ComPtr<IFilter> filter = Loaded(PathInW("s.qhs"));
  ULONG flags = 0xCAFE;
  EXPECT_EQ(filter->Init(0, 1, nullptr, &flags), E_INVALIDARG);
  EXPECT_EQ(flags, 0xCAFEu);
}

TEST(OrreryStreamTest, ANewStreamIsTheEmptySearchWithAFreshVersion4Guid) {
  COrreryStream first, second;
  const std::u16string guid = first.GetIdAttribute("guid");
  EXPECT_TRUE(std::regex_match(ZYT::WideToUtf8(guid),
                               std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << ZYT::WideToUtf8(guid);
  EXPECT_NE(guid, second.GetIdAttribute("guid"));
  std::string xml = first.Xml();
  EXPECT_NE(xml.find("<manualstream/><request><command name=\"Search\"><parameter name=\"query\" value=\"\"/>"
                     "</command></request></stream>"),
            std::string::npos)
      << xml;
  first.Load(u"/nonexistent/stream.qhs");
  EXPECT_EQ(first.GetIdAttribute("guid"), u"") << "a failed load leaves an empty document, not the template";
}

}  // namespace
