#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "components/pdf/PdfFilter.h"
#include "components/pdf/PdfText.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/com/PropIds.h"
#include "platform/indexer/LoadIFilter.h"
#include "tests/support/PdfSamples.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;

PdfSample ThreePages() {
  PdfSample sample;
  sample.pages = {{"First page words"}, {"Second page (with parentheses)"}, {"Third page"}};
  sample.info = {{"Title", "(The Title)"},
                 {"Author", "<FEFF00520065006E00E90065>"},  // UTF-16 with its mark: "Renée"
                 {"Subject", "(A subject)"},
                 {"Keywords", "(alpha, beta)"},
                 {"Creator", "(not a summary value)"}};
  return sample;
}

TEST(PdfTextTest, PagesInOrderAndTheInformationFields) {
  const PdfText text = ReadPdfText(BuildPdf(ThreePages()), {});
  ASSERT_EQ(text.status, PdfText::Status::kRead);
  EXPECT_EQ(text.pageCount, 3u);
  EXPECT_EQ(text.pages,
            (std::vector<std::u16string>{u"First page words", u"Second page (with parentheses)", u"Third page"}));
  EXPECT_EQ(text.title, u"The Title");
  EXPECT_EQ(text.author, u"Ren\u00e9e");
  EXPECT_EQ(text.subject, u"A subject");
  EXPECT_EQ(text.keywords, u"alpha, beta");
  EXPECT_FALSE(text.textCut);
  EXPECT_FALSE(text.pagesCut);
}

TEST(PdfTextTest, LimitsCutAtTheirExactValue) {
  PdfSample sample;
  sample.pages = {{"aaaa bbbb"}, {"cccc dddd eeee"}, {"ffff"}};
  const std::string bytes = BuildPdf(sample);
  const PdfText whole = ReadPdfText(bytes, {});
  ASSERT_EQ(whole.status, PdfText::Status::kRead);
  size_t total = 0;
  for (const std::u16string& page : whole.pages) total += page.size();

  PdfText text = ReadPdfText(bytes, {total, 3});
  EXPECT_FALSE(text.textCut);
  EXPECT_FALSE(text.pagesCut);
  EXPECT_EQ(text.pages, whole.pages);

  text = ReadPdfText(bytes, {total - 1, 3});
  EXPECT_TRUE(text.textCut);
  ASSERT_EQ(text.pages.size(), 3u);
  EXPECT_EQ(text.pages[2], whole.pages[2].substr(0, whole.pages[2].size() - 1));

  // A cut inside the first page gives that page's start and no other page.
  text = ReadPdfText(bytes, {4, 3});
  EXPECT_TRUE(text.textCut);
  EXPECT_EQ(text.pages, std::vector<std::u16string>{u"aaaa"});

  text = ReadPdfText(bytes, {total, 2});
  EXPECT_TRUE(text.pagesCut);
  EXPECT_EQ(text.pageCount, 3u);
  EXPECT_EQ(text.pages, (std::vector<std::u16string>{whole.pages[0], whole.pages[1]}));
}

TEST(PdfTextTest, EncryptionAndDamage) {
  PdfSample sample = ThreePages();
  sample.encrypted = true;
  sample.userPassword = "secret";
  EXPECT_EQ(ReadPdfText(BuildPdf(sample), {}).status, PdfText::Status::kLocked);

  // Encrypted for its permissions only: anyone may read it.
  sample.userPassword.clear();
  const PdfText open = ReadPdfText(BuildPdf(sample), {});
  ASSERT_EQ(open.status, PdfText::Status::kRead);
  EXPECT_EQ(open.title, u"The Title");
  EXPECT_EQ(open.author, u"Ren\u00e9e");
  EXPECT_EQ(open.pages[1], u"Second page (with parentheses)");

  const std::string good = BuildPdf(ThreePages());
  for (const std::string& bad : {std::string(), std::string("%PDF-1.4\n"), good.substr(0, 40),
                                 std::string("not a PDF at all\n"), std::string(4096, '\xFF')})
    EXPECT_EQ(ReadPdfText(bad, {}).status, PdfText::Status::kDamaged) << bad.size() << " bytes";
}

class PdfFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(RegisterModule(ZYT_PDF_MODULE), S_OK);
  }
  ZYT::ComPtr<IFilter> NewFilter() {
    ZYT::ComPtr<IFilter> filter;
    EXPECT_EQ(CoCreateInstance(CLSID_PdfFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IFilter, filter.put_void()), S_OK);
    return filter;
  }
  HRESULT Load(IFilter* filter, const std::string& name) {
    ZYT::ComPtr<IPersistFile> persist;
    EXPECT_EQ(ZYT::ComPtr<IFilter>(filter).As(persist), S_OK);
    return persist ? persist->Load(PathInW(name).c_str(), STGM_READ) : E_FAIL;
  }
};

TEST_F(PdfFilterTest, PagesAsTextAndTheSummaryValues) {
  const std::string bytes = BuildPdf(ThreePages());
  WriteBytes(PathIn("three.pdf"), bytes);
  ZYT::ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("three.pdf").c_str(), nullptr, filter.put_void()), S_OK);
  auto r = DriveFilter(filter.get());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"The Title\"", "\"Renée\"", "\"A subject\"", "\"alpha, beta\""}));
  const PROPID ids[] = {2, 4, 3, 5};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(r.chunks[i].stat.attribute.guidPropSet, FMTID_SummaryInformation);
    EXPECT_EQ(r.chunks[i].stat.attribute.psProperty.propid, ids[i]);
  }
  EXPECT_EQ(Texts(r),
            (std::vector<std::u16string>{u"First page words", u"Second page (with parentheses)", u"Third page"}));
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
  EXPECT_EQ(ReadBytes(PathIn("three.pdf")), bytes);
  CLSID clsid{};
  ZYT::ComPtr<IPersistFile> persist;
  ASSERT_EQ(filter.As(persist), S_OK);
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_PdfFilter);
}

TEST_F(PdfFilterTest, EmptyFieldsGiveNoValueAndEmptyPagesNoText) {
  PdfSample sample;
  sample.pages = {{"Only page one"}, {}, {"Page three"}};
  sample.info = {{"Title", "()"}, {"Author", "(Someone)"}};
  WriteBytes(PathIn("sparse.pdf"), BuildPdf(sample));
  ZYT::ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("sparse.pdf").c_str(), nullptr, filter.put_void()), S_OK);
  auto r = DriveFilter(filter.get());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), std::vector<std::string>{"\"Someone\""});
  EXPECT_EQ(r.chunks[0].stat.attribute.psProperty.propid, PIDSI_AUTHOR);
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"Only page one", u"Page three"}));
}

TEST_F(PdfFilterTest, EncryptedAnswersPasswordAndDamagedFailsLoad) {
  PdfSample sample = ThreePages();
  sample.encrypted = true;
  sample.userPassword = "secret";
  WriteBytes(PathIn("locked.pdf"), BuildPdf(sample));
  WriteBytes(PathIn("garbage.pdf"), std::string(3000, '\x9C'));
  WriteBytes(PathIn("empty.pdf"), "");
  const std::string good = BuildPdf(ThreePages());
  WriteBytes(PathIn("header.pdf"), good.substr(0, 64));

  void* sentinel = reinterpret_cast<void*>(0xCAFECAFE);
  void* out = sentinel;
  EXPECT_EQ(LoadIFilter(PathInW("locked.pdf").c_str(), nullptr, &out), FILTER_E_PASSWORD);
  EXPECT_EQ(out, nullptr);
  for (const char* name : {"garbage.pdf", "empty.pdf", "header.pdf"}) {
    out = sentinel;
    EXPECT_EQ(LoadIFilter(PathInW(name).c_str(), nullptr, &out), E_FAIL) << name;
    EXPECT_EQ(out, nullptr);
  }
  out = sentinel;
  EXPECT_EQ(LoadIFilter(PathInW("missing.pdf").c_str(), nullptr, &out), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

  // A failing Load leaves the filter as it was: nothing loaded, then the document loaded before.
  ZYT::ComPtr<IFilter> filter = NewFilter();
  ASSERT_TRUE(filter);
  EXPECT_EQ(Load(filter.get(), "garbage.pdf"), E_FAIL);
  ULONG flags = 0;
  EXPECT_EQ(filter->Init(0, 0, nullptr, &flags), FILTER_E_ACCESS);
  ZYT::ComPtr<IPersistFile> persist;
  ASSERT_EQ(filter.As(persist), S_OK);
  LPOLESTR current = reinterpret_cast<LPOLESTR>(sentinel);
  EXPECT_EQ(persist->GetCurFile(&current), E_FAIL);
  EXPECT_EQ(current, nullptr);
  WriteBytes(PathIn("good.pdf"), good);
  ASSERT_EQ(Load(filter.get(), "good.pdf"), S_OK);
  EXPECT_EQ(Load(filter.get(), "locked.pdf"), FILTER_E_PASSWORD);
  auto r = DriveFilter(filter.get());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r).size(), 3u);
  ASSERT_EQ(persist->GetCurFile(&current), S_OK);
  EXPECT_EQ(std::u16string(current), PathInW("good.pdf"));
  CoTaskMemFree(current);
}

// Cuts of a good document are read or called damaged, never locked. Every
// fifth offset: poppler under the sanitizers takes a while over each.
TEST(PdfTextTest, TruncatedAtManyOffsets) {
  const std::string good = BuildPdf(ThreePages());
  size_t read = 0;
  for (size_t size = 0; size < good.size(); size += 5) {
    const PdfText text = ReadPdfText(good.substr(0, size), {});
    EXPECT_NE(text.status, PdfText::Status::kLocked) << size;
    if (text.status == PdfText::Status::kRead) ++read;
  }
  EXPECT_GT(read, 0u) << "poppler repairs a document without its cross-reference table";
}

// The filter over a sample of those cuts: it loads and obeys the protocol, or fails Load with E_FAIL.
TEST_F(PdfFilterTest, TruncatedDocuments) {
  const std::string good = BuildPdf(ThreePages());
  size_t loaded = 0;
  for (size_t size = 0; size < good.size(); size += 29) {
    WriteBytes(PathIn("cut.pdf"), good.substr(0, size));
    ZYT::ComPtr<IFilter> filter;
    HRESULT hr = LoadIFilter(PathInW("cut.pdf").c_str(), nullptr, filter.put_void());
    if (FAILED(hr)) {
      EXPECT_EQ(hr, E_FAIL) << size;
      continue;
    }
    ++loaded;
    EXPECT_TRUE(ObeysProtocol(DriveFilter(filter.get()))) << size;
  }
  EXPECT_GT(loaded, 0u);
}

TEST_F(PdfFilterTest, LimitsBoundTheFileAndTheText) {
  // The file limit, at the file's exact size and one byte under it.
  PdfSample sample = ThreePages();
  const size_t unpadded = BuildPdf(sample).size();
  ASSERT_LT(unpadded + 2, 65536u);
  sample.padding = 65536 - unpadded;
  sample.padding -= BuildPdf(sample).size() - 65536;  // the cross-reference table's offset has more digits
  const std::string atLimit = BuildPdf(sample);
  ASSERT_EQ(atLimit.size(), 65536u);
  ++sample.padding;
  WriteBytes(PathIn("at-limit.pdf"), atLimit);
  WriteBytes(PathIn("over-limit.pdf"), BuildPdf(sample));
  SetLimit(u"MaxPdfFileBytes", 65536);
  ZYT::ComPtr<IFilter> filter;
  EXPECT_EQ(LoadIFilter(PathInW("at-limit.pdf").c_str(), nullptr, filter.put_void()), S_OK);
  EXPECT_EQ(LoadIFilter(PathInW("over-limit.pdf").c_str(), nullptr, filter.put_void()), FILTER_E_TOO_BIG);

  // 40 lines of 80 characters a page, which fit on it.
  sample = ThreePages();
  for (size_t page = 0; page < 3; ++page) sample.pages[page].assign(40, std::string(80, "xyz"[page]));
  WriteBytes(PathIn("big.pdf"), BuildPdf(sample));
  // The smallest text limit keeps the first 4096 characters: the first page and part of the second.
  SetLimit(u"MaxPdfTextChars", 1);
  ASSERT_EQ(LoadIFilter(PathInW("big.pdf").c_str(), nullptr, filter.put_void()), S_OK);
  auto r = DriveFilter(filter.get());
  ASSERT_TRUE(ObeysProtocol(r));
  std::u16string all;
  for (const std::u16string& t : Texts(r)) all += t;
  EXPECT_LE(all.size(), 4096u);
  EXPECT_NE(all.find(u'y'), std::u16string::npos);
  EXPECT_EQ(all.find(u'z'), std::u16string::npos);
  EXPECT_EQ(Values(r).size(), 4u) << "the values are not text";

  SetLimit(u"MaxPdfTextChars", 1u << 20);
  SetLimit(u"MaxPdfPages", 1);
  ASSERT_EQ(LoadIFilter(PathInW("big.pdf").c_str(), nullptr, filter.put_void()), S_OK);
  r = DriveFilter(filter.get());
  ASSERT_TRUE(ObeysProtocol(r));
  all.clear();
  for (const std::u16string& t : Texts(r)) all += t;
  EXPECT_EQ(all.find_first_not_of(u"x\n"), std::u16string::npos);
  EXPECT_EQ(std::count(all.begin(), all.end(), u'x'), 3200);
}

// The log finds its folder through the settings server, a module apart from this one.
TEST_F(PdfFilterTest, CutsAndDamageAreLoggedWhileTheLogFolderExists) {
  UseRepository(*this, false);
  PdfSample sample = ThreePages();
  WriteBytes(PathIn("three.pdf"), BuildPdf(sample));
  WriteBytes(PathIn("damaged.pdf"), "%PDF-1.4\n");
  SetLimit(u"MaxPdfPages", 2);
  ZYT::ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("three.pdf").c_str(), nullptr, filter.put_void()), S_OK);
  EXPECT_TRUE(ListDir(PathIn("repo")).empty()) << "no log folder, no log";

  ASSERT_EQ(mkdir(PathIn("repo/Debug.Filter").c_str(), 0700), 0);
  ASSERT_EQ(LoadIFilter(PathInW("three.pdf").c_str(), nullptr, filter.put_void()), S_OK);
  EXPECT_EQ(LoadIFilter(PathInW("damaged.pdf").c_str(), nullptr, filter.put_void()), E_FAIL);
  std::string logs;
  for (const std::string& name : ListDir(PathIn("repo/Debug.Filter"))) {
    EXPECT_EQ(name.rfind("Pdf", 0), 0u) << name;
    logs += ReadBytes(PathIn("repo/Debug.Filter/" + name));
  }
  EXPECT_NE(logs.find("Load: pages after the first 2 of 3 left out (limit MaxPdfPages)\n"), std::string::npos) << logs;
  EXPECT_NE(logs.find("Load: not a PDF document, or one damaged beyond repair\n"), std::string::npos) << logs;
}

}  // namespace
