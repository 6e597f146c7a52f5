#include <gtest/gtest.h>

#include "framework/FilterInit.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Strings.h"
#include "tests/filters/media/MediaBytes.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::WalkOptions;
using ZYT::WalkResult;
using ZYT::ComPtr;

class Mp3FilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  }
  // A file of the test's folder, loaded into its filter by the registry chain.
  ComPtr<IFilter> Open(const std::string& name, const std::string& bytes) {
    WriteBytes(PathIn(name), bytes);
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW(name).c_str(), nullptr, filter.put_void()), S_OK);
    return filter;
  }
  static DriveOptions Options() {
    DriveOptions options;
    options.sourceRule = WalkOptions::SourceRule::ZeroForValues;  // value chunks carry source 0
    return options;
  }
  const std::string m_v1Only = std::string(600, '\xFF') + Id3v1("S", "A", "Album", "1999", "Comment", 17);
};

TEST_F(Mp3FilterTest, Id3v1FileGivesValuesHeaderAndItems) {
  ComPtr<IFilter> filter = Open("v1.mp3", m_v1Only);
  ASSERT_TRUE(filter);
  WalkResult r = DriveFilter(filter.get(), Options());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"S\"", "\"S\"", "\"A\"", "\"Rock\""}));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"Artist: A\nTitle: S\nGenre: Rock\n\n", u"Rock ", u"S ", u"A ",
                                                   u"Album ", u"1999 ", u"Comment"}));
  ASSERT_EQ(r.chunks.size(), 11u);
  const STAT_CHUNK& genre = r.chunks[3].stat;
  EXPECT_EQ(genre.attribute.guidPropSet, FMTID_DocSummaryInformation);
  EXPECT_EQ(genre.attribute.psProperty.propid, PIDDSI_CATEGORY);
  EXPECT_EQ(genre.breakType, CHUNK_EOW);
  EXPECT_EQ(r.chunks[2].stat.attribute.psProperty.propid, PIDSI_AUTHOR);
  const STAT_CHUNK& text = r.chunks[4].stat;
  EXPECT_EQ(text.idChunk, 5u);
  EXPECT_EQ(text.breakType, CHUNK_EOS);
  EXPECT_EQ(text.attribute.guidPropSet, PSGUID_STORAGE);
  EXPECT_EQ(text.attribute.psProperty.propid, PID_STG_CONTENTS);
  EXPECT_EQ(text.locale, 0x409u);
}

TEST_F(Mp3FilterTest, InitFlagsDecideWhatComes) {
  ComPtr<IFilter> filter = Open("v1.mp3", m_v1Only);
  DriveOptions contentOnly = Options();
  contentOnly.initFlags = 0;
  WalkResult r = DriveFilter(filter.get(), contentOnly);
  ASSERT_TRUE(ObeysProtocol(r));
  ASSERT_FALSE(r.chunks.empty());
  EXPECT_EQ(r.chunks[0].stat.idChunk, 1u) << "without properties the header is chunk 1";
  EXPECT_TRUE(r.chunks[0].stat.flags & CHUNK_TEXT);
  EXPECT_TRUE(Values(r).empty());

  DriveOptions contents = Options();
  FULLPROPSPEC property{PSGUID_STORAGE, {PRSPEC_PROPID, {PID_STG_CONTENTS}}};
  contents.attributes = {property};
  r = DriveFilter(filter.get(), contents);
  EXPECT_TRUE(r.chunks.empty()) << "naming the contents asks for nothing this filter has";
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);

  DriveOptions other = Options();
  FULLPROPSPEC title{FMTID_SummaryInformation, {PRSPEC_PROPID, {PIDSI_TITLE}}};
  other.attributes = {title};
  r = DriveFilter(filter.get(), other);
  EXPECT_EQ(Values(r).size(), 4u);
  EXPECT_EQ(Texts(r).size(), 7u);

  ULONG flags = 0;
  EXPECT_EQ(filter->Init(0, 1, nullptr, &flags), E_INVALIDARG);
}

TEST_F(Mp3FilterTest, TextIsReturnedInPiecesAndCarriedOver) {
  ComPtr<IFilter> filter = Open("t.mp3", Id3v2(Frame("TALB", Text("Twelve chars"))));
  ULONG flags = 0;
  ASSERT_EQ(filter->Init(0, 0, nullptr, &flags), S_OK);
  EXPECT_EQ(flags, ULONG(IFILTER_FLAGS_OLE_PROPERTIES));
  STAT_CHUNK chunk;
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  WCHAR buffer[5];
  ULONG n = 5;
  EXPECT_EQ(filter->GetText(&n, buffer), S_OK);
  EXPECT_EQ(std::u16string(buffer, n), u"Twelv");
  n = 5;
  EXPECT_EQ(filter->GetText(&n, buffer), S_OK);
  n = 5;
  EXPECT_EQ(filter->GetText(&n, buffer), FILTER_S_LAST_TEXT);
  EXPECT_EQ(std::u16string(buffer, n), u"rs");
  EXPECT_EQ(filter->GetText(&n, buffer), FILTER_E_NO_MORE_TEXT);

  ComPtr<IFilter> two = Open("two.mp3", Id3v2(Frame("TALB", Text("First item")) + Frame("TCOM", Text("Second"))));
  ASSERT_EQ(two->Init(0, 0, nullptr, &flags), S_OK);
  ASSERT_EQ(two->GetChunk(&chunk), S_OK);
  n = 3;
  ASSERT_EQ(two->GetText(&n, buffer), S_OK);
  ASSERT_EQ(two->GetChunk(&chunk), S_OK);
  n = 5;
  EXPECT_EQ(two->GetText(&n, buffer), S_OK);
  EXPECT_EQ(std::u16string(buffer, n), u"st it") << "the unread rest of the first item comes first";
  n = 2;
  EXPECT_EQ(two->GetText(&n, buffer), S_OK) << "the item's space is still to come";
  EXPECT_EQ(std::u16string(buffer, n), u"em");
  n = 0;
  EXPECT_EQ(two->GetText(&n, buffer), S_OK);
  EXPECT_EQ(n, 0u);
  n = 5;
  EXPECT_EQ(two->GetText(&n, buffer), FILTER_S_LAST_TEXT);
  EXPECT_EQ(std::u16string(buffer, n), u" ") << "the space after an item is its text's last character";
  EXPECT_EQ(two->GetText(&n, buffer), FILTER_E_NO_MORE_TEXT);
}

TEST_F(Mp3FilterTest, FailuresAndFilesWithoutTags) {
  ComPtr<IFilter> empty = Open("none.mp3", std::string(300, '\0'));
  WalkResult r = DriveFilter(empty.get(), Options());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"\"", "\"\"", "\"\"", "\"\""}));
  EXPECT_TRUE(Texts(r).empty());

  ComPtr<IFilter> gone = Open("gone.mp3", m_v1Only);
  unlink(PathIn("gone.mp3").c_str());
  ULONG flags = 0;
  EXPECT_EQ(gone->Init(0x10, 0, nullptr, &flags), FILTER_E_ACCESS);
  STAT_CHUNK chunk;
  EXPECT_EQ(gone->GetChunk(&chunk), FILTER_E_ACCESS);

  ComPtr<IFilter> unloaded;
  ASSERT_EQ(CoCreateInstance(CLSID_Mp3Filter, nullptr, CLSCTX_ALL, IID_IFilter, unloaded.put_void()), S_OK);
  EXPECT_EQ(unloaded->Init(0x10, 0, nullptr, &flags), E_FAIL) << "no path";
  ComPtr<IPersistFile> persist;
  ASSERT_EQ(unloaded.As(persist), S_OK);
  LPOLESTR path = reinterpret_cast<LPOLESTR>(0x1);
  EXPECT_EQ(persist->GetCurFile(&path), E_FAIL);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  EXPECT_EQ(persist->Save(nullptr, TRUE), E_FAIL);
  CLSID clsid{};
  persist->GetClassID(&clsid);
  EXPECT_EQ(clsid, CLSID_Mp3Filter);
  persist->Load(u"C:\\Music\\a.mp3", 0);
  ASSERT_EQ(persist->GetCurFile(&path), S_OK);
  EXPECT_EQ(std::u16string(path), u"C:\\Music\\a.mp3");
  CoTaskMemFree(path);
}

TEST_F(Mp3FilterTest, OutOfMemoryInGetValueIsReported) {
  ComPtr<IFilter> filter = Open("v1.mp3", m_v1Only);
  ULONG flags = 0;
  ASSERT_EQ(filter->Init(0x10, 0, nullptr, &flags), S_OK);
  STAT_CHUNK chunk;
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  PROPVARIANT* value = reinterpret_cast<PROPVARIANT*>(0x1);
  ZYT::FailTaskAllocations(1, 1);  // the PROPVARIANT succeeds, its string does not
  EXPECT_EQ(filter->GetValue(&value), E_OUTOFMEMORY);
  EXPECT_EQ(value, nullptr);
  ZYT::FailTaskAllocations(0, 0);
  ASSERT_EQ(filter->GetValue(&value), S_OK) << "the value is still there to be had";
  EXPECT_EQ(std::u16string(value->pwszVal), u"S");
  PropVariantClear(value);
  CoTaskMemFree(value);
}

TEST_F(Mp3FilterTest, EveryTruncationIsFilteredSafely) {
  const std::string file = Id3v2(Frame("TIT2", Text("Title")) + Frame("TPE1", Text("Artist"))) +
                           std::string(40, '\xFF') + Id3v1("t", "a", "al", "1999", "c", 2);
  for (size_t n = 0; n <= file.size(); n += 3) {
    ComPtr<IFilter> filter = Open("cut.mp3", file.substr(0, n));
    WalkResult r = DriveFilter(filter.get(), Options());
    ASSERT_TRUE(ObeysProtocol(r)) << "prefix " << n;
  }
}

}  // namespace
