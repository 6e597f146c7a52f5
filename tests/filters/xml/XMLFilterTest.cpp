#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "interfaces/ClassIds.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/com/PropIds.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "platform/xml/XmlDocument.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

constexpr std::u16string_view kParseError = u"XML parse error at line ";

// The walk as the indexer drives this filter. Two answers of the filter differ
// from what the driver expects of filters in general, and on purpose: GetValue
// answers FILTER_E_NO_MORE_VALUES on every text chunk, and the text nodes are
// walked once per Load, so a second Init does not start them again.
WalkResult Drive(IFilter* filter, bool probe = false) {
  DriveOptions options;
  options.checkReinit = false;
  options.probe = probe;
  WalkResult r = DriveFilter(filter, options);
  std::erase_if(r.violations, [](const std::string& v) {
    return v.find("GetValue on a text chunk answered 0x80041702") != std::string::npos;
  });
  return r;
}

class XMLFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    alarm(60);  // a parser that blows up hangs the test instead of failing it
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  }
  void TearDown() override {
    alarm(0);
    MachineTest::TearDown();
  }
  // The file, loaded into its filter by the registry chain of ".xml".
  ComPtr<IFilter> Open(const std::string& name, const std::string& bytes) {
    WriteBytes(PathIn(name), bytes);
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW(name).c_str(), nullptr, filter.put_void()), S_OK);
    return filter;
  }
  std::vector<std::u16string> TextsOf(const std::string& bytes) {
    ComPtr<IFilter> filter = Open("doc.xml", bytes);
    if (!filter) return {};
    WalkResult r = Drive(filter.get());
    EXPECT_TRUE(ObeysProtocol(r));
    EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
    return Texts(r);
  }
  // The only chunk of a document that must not parse.
  std::u16string ParseErrorOf(const std::string& bytes) {
    std::vector<std::u16string> texts = TextsOf(bytes);
    EXPECT_EQ(texts.size(), 1u);
    if (texts.size() != 1) return {};
    EXPECT_EQ(texts[0].substr(0, kParseError.size()), kParseError) << ZYT::WideToUtf8(texts[0]);
    return texts[0];
  }
  static std::u16string Read(IFilter* filter, ULONG size, HRESULT* hr) {
    std::u16string buffer(size, u'#');
    ULONG count = size;
    *hr = filter->GetText(&count, buffer.data());
    return SUCCEEDED(*hr) ? buffer.substr(0, count) : std::u16string();
  }
};

TEST_F(XMLFilterTest, TextNodesComeOutInDocumentOrderAsContentsChunks) {
  ComPtr<IFilter> filter = Open("order.xml", "<root>x<child>y</child></root>");
  ASSERT_TRUE(filter);
  WalkResult r = Drive(filter.get(), true);
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(r.initOutFlags, static_cast<ULONG>(IFILTER_FLAGS_OLE_PROPERTIES));
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
  ASSERT_EQ(Texts(r), (std::vector<std::u16string>{u"x", u"y"}));
  for (ULONG i = 0; i < 2; ++i) {
    const STAT_CHUNK& c = r.chunks[i].stat;
    EXPECT_EQ(c.idChunk, i + 1);
    EXPECT_EQ(c.idChunkSource, i + 1);
    EXPECT_EQ(c.breakType, CHUNK_EOS);
    EXPECT_EQ(c.flags, CHUNK_TEXT);
    EXPECT_EQ(c.locale, GetSystemDefaultLCID());
    EXPECT_EQ(c.attribute.guidPropSet, PSGUID_STORAGE);
    EXPECT_EQ(c.attribute.psProperty.ulKind, static_cast<ULONG>(PRSPEC_PROPID));
    EXPECT_EQ(c.attribute.psProperty.propid, PID_STG_CONTENTS);
  }
  EXPECT_TRUE(TextsOf("<empty/>").empty());
}

// The filter never holds a whole document's tree: text is handed on while
// the document is parsed. Whatever the nesting, text before, between and
// after elements, split by comments, instructions and CDATA or joined across
// character and entity references (declared ones referenced more than once
// and holding elements, an undeclared one beside an external DTD), must come
// out as the whole tree's text nodes, in order.
TEST_F(XMLFilterTest, TextNodesAreTheTreesInDocumentOrder) {
  std::string deep;
  int n = 0;
  std::function<void(int)> element = [&](int depth) {
    const std::string id = std::to_string(n++);
    deep += "<e" + id + " a=\"v" + id + "\">b" + id + "&amp;&#x41;" + id;
    if (depth > 0) {
      for (int c = 0; c < (depth % 8 == 0 ? 2 : 1); ++c) {
        element(depth - 1);
        deep += "m" + id + "<!--k-->n" + id + "<?p x?><![CDATA[<c" + id + ">]]>";
      }
      deep += "<empty/>";
    }
    deep += "z" + id + "</e" + id + ">";
  };
  element(48);
  ASSERT_GT(n, 1000);
  for (const std::string& doc : {
           "<?xml version=\"1.0\"?>\n" + deep + "\n<!-- after -->\n",
           std::string("<!DOCTYPE r [<!ENTITY e \"<b>in</b>tail\">]><r>a&e;b&e;c<d>&e;<f/>&e;</d>&e;</r>"),
           std::string("<!DOCTYPE r [<!ENTITY t \"text\"><!ENTITY u \"&t;<i>&t;</i>&t;\">]>"
                       "<r>x&t;y<q>&u;</q>&u;<s>&t;</s>&t;</r>"),
           std::string("<!DOCTYPE r SYSTEM \"none.dtd\"><r>a&u;b<c>d&u;</c>e</r>"),
           std::string("<r>t1<x>t2<y/>t3</x>t4<![CDATA[c]]>t5<!--k-->t6<?p?>t7</r>"),
           std::string("<?xml version='1.0'?><!-- c --><r a='attr'><?pi data?>one &amp; two<![CDATA[<raw>]]><e/>"
                       "<f>&#x41;</f></r>"),
       }) {
    ZYT::XmlDocument tree;
    ASSERT_TRUE(tree.LoadXmlText(doc)) << doc.substr(0, 80);
    std::vector<std::u16string> nodes;
    for (const ZYT::XmlNode& node : tree.SelectNodes("//text()")) nodes.push_back(ZYT::Utf8ToWide(node.Text()));
    ASSERT_FALSE(nodes.empty()) << doc.substr(0, 80);
    EXPECT_EQ(TextsOf(doc), nodes) << doc.substr(0, 80);
  }
}

TEST_F(XMLFilterTest, TextIsHandedOutInPiecesAndContinuesInANoBreakChunk) {
  ComPtr<IFilter> filter = Open("walk.xml", "<r>0123456789<c>y</c></r>");
  ASSERT_TRUE(filter);
  ULONG flags = 0;
  ASSERT_EQ(filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
  HRESULT hr = S_OK;
  EXPECT_EQ(Read(filter.get(), 4, &hr), u"");
  EXPECT_EQ(hr, FILTER_E_NO_TEXT);
  PROPVARIANT* value = nullptr;
  EXPECT_EQ(filter->GetValue(&value), FILTER_E_NO_VALUES);

  STAT_CHUNK chunk{};
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  EXPECT_EQ(Read(filter.get(), 4, &hr), u"0123");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Read(filter.get(), 4, &hr), u"4567");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Read(filter.get(), 4, &hr), u"89");
  EXPECT_EQ(hr, FILTER_S_LAST_TEXT);
  Read(filter.get(), 4, &hr);
  EXPECT_EQ(hr, FILTER_E_NO_MORE_TEXT);
  EXPECT_EQ(filter->GetValue(&value), FILTER_E_NO_MORE_VALUES);

  // Again, leaving the text half read: the next chunk goes on with it.
  ASSERT_EQ(filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
  ComPtr<IPersistFile> persist;
  ASSERT_EQ(filter.As(persist), S_OK);
  ASSERT_EQ(persist->Load(PathInW("walk.xml").c_str(), 0), S_OK);
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.idChunk, 1u);
  EXPECT_EQ(Read(filter.get(), 4, &hr), u"0123");
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.idChunk, 2u);
  EXPECT_EQ(chunk.breakType, CHUNK_NO_BREAK);
  EXPECT_EQ(Read(filter.get(), 100, &hr), u"456789");
  EXPECT_EQ(hr, FILTER_S_LAST_TEXT);
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  EXPECT_EQ(chunk.idChunk, 3u);
  EXPECT_EQ(chunk.breakType, CHUNK_EOS);
  EXPECT_EQ(Read(filter.get(), 100, &hr), u"y");
  EXPECT_EQ(filter->GetChunk(&chunk), FILTER_E_END_OF_CHUNKS);
  EXPECT_EQ(filter->GetChunk(&chunk), FILTER_E_END_OF_CHUNKS);
}

TEST_F(XMLFilterTest, ByteOrderMarkMeansUtf16AndAnythingElseTheSystemCodePage) {
  SetCodePage(u"1252");
  // The declared encoding is never consulted, in either case.
  EXPECT_EQ(TextsOf(Utf16File(u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>caf\u00E9 \u65E5</r>")),
            (std::vector<std::u16string>{u"caf\u00E9 \u65E5"}));
  EXPECT_EQ(TextsOf("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>caf\xC3\xA9</r>"),
            (std::vector<std::u16string>{u"caf\u00C3\u00A9"}));
  // FE FF is no mark here, nor is FF FE at the start of an odd-sized file.
  std::string oddSized = Utf16File(u"<r>a</r>") + "x";
  EXPECT_EQ(ParseErrorOf(oddSized).empty(), false);
  SetCodePage(u"65001");
  EXPECT_EQ(TextsOf("<r>caf\xC3\xA9</r>"), (std::vector<std::u16string>{u"caf\u00E9"}));
}

// Text already in UTF-8 goes to the parser as it is; bytes that are not
// well-formed UTF-8 must still become what the code page makes of them.
TEST_F(XMLFilterTest, IllFormedUtf8InAUtf8CodePageIsReplacedAsTheCodePageDoes) {
  SetCodePage(u"65001");
  for (const std::string& text : {std::string("a\xC0\xAF" "b"), std::string("a\xED\xA0\x80" "b"),
                                  std::string("a\xF4\x90\x80\x80" "b"), std::string("a\xE2\x82"),
                                  std::string("a\x80" "b"), std::string("a\xF8\x88\x80\x80\x80" "b")}) {
    const std::u16string decoded = ZYT::CodePageToWide(CP_UTF8, text);
    ASSERT_NE(decoded.find(u'\uFFFD'), std::u16string::npos);
    EXPECT_EQ(TextsOf("<r>" + text + "</r>"), (std::vector<std::u16string>{decoded}));
  }
  EXPECT_EQ(TextsOf("<r>\xF0\x9F\x98\x80 \xE6\x97\xA5 \xEF\xBF\xBD \xF4\x8F\xBF\xBD</r>"),
            (std::vector<std::u16string>{u"\U0001F600 \u65E5 \uFFFD \U0010FFFD"}));
}

TEST_F(XMLFilterTest, MalformedDocumentIsIndexedAsItsParseError) {
  std::u16string error = ParseErrorOf("<r>\n<a>text\n</r>");
  EXPECT_EQ(error.substr(0, kParseError.size() + 3), std::u16string(kParseError) + u"3, ") << ZYT::WideToUtf8(error);
  EXPECT_NE(error.find(u", character "), std::u16string::npos);
  EXPECT_NE(error.find(u" (file position "), std::u16string::npos);
  EXPECT_NE(error.find(u"): "), std::u16string::npos);
  EXPECT_NE(error.find(u"mismatch"), std::u16string::npos) << "the first error, not its consequence";
  ParseErrorOf("");
  ParseErrorOf("just text");
}

TEST_F(XMLFilterTest, HostileDocumentsGiveTheParseErrorAndNothingElse) {
  WriteBytes(PathIn("secret.txt"), "SECRETWORD");
  const std::string secret = "file://" + PathIn("secret.txt");
  for (const std::string& doc : {
           "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + secret + "\">]><r>a&e;b</r>",
           "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + secret + "\"> %p;]><r>a</r>",
       }) {
    std::u16string error = ParseErrorOf(doc);
    EXPECT_NE(error.find(u"external entity not loaded: "), std::u16string::npos) << doc;
    EXPECT_EQ(error.find(u"SECRETWORD"), std::u16string::npos) << doc;
  }
  // An external DTD is not read at all; the entity it might declare stays empty.
  EXPECT_EQ(TextsOf("<!DOCTYPE r SYSTEM \"" + secret + "\"><r>a&e;b</r>"), (std::vector<std::u16string>{u"a", u"b"}));

  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol0 \"lollollollollollollollollollol\">";
  for (int i = 1; i <= 12; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&lol" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><lolz>&lol12;</lolz>";
  ParseErrorOf(laughs);

  std::string quadratic = "<!DOCTYPE r [<!ENTITY a \"" + std::string(100000, 'a') + "\">]><r>";
  for (int i = 0; i < 100000; ++i) quadratic += "&a;";
  ParseErrorOf(quadratic + "</r>");

  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  ParseErrorOf(deep + "x");
}

TEST_F(XMLFilterTest, NestingDepthFollowsItsLimit) {
  const std::string four = "<a><b><c><d>x</d></c></b></a>";
  SetLimit(u"MaxXmlDepth", 4);
  EXPECT_EQ(TextsOf(four), (std::vector<std::u16string>{u"x"}));
  SetLimit(u"MaxXmlDepth", 3);
  EXPECT_NE(ParseErrorOf(four).find(u"nested deeper than 3"), std::u16string::npos);
}

TEST_F(XMLFilterTest, SecondLoadReplacesTheDocument) {
  WriteBytes(PathIn("second.xml"), "<r>second</r>");
  ComPtr<IFilter> filter = Open("first.xml", "<r>first<x>more</x></r>");
  ASSERT_TRUE(filter);
  ComPtr<IPersistFile> persist;
  ASSERT_EQ(filter.As(persist), S_OK);
  ULONG flags = 0;
  ASSERT_EQ(filter->Init(0, 0, nullptr, &flags), S_OK);
  STAT_CHUNK chunk{};
  ASSERT_EQ(filter->GetChunk(&chunk), S_OK);
  ASSERT_EQ(persist->Load(PathInW("second.xml").c_str(), 0), S_OK);
  WalkResult r = Drive(filter.get());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"second"}));

  LPOLESTR current = nullptr;
  ASSERT_EQ(persist->GetCurFile(&current), S_OK);
  EXPECT_EQ(std::u16string(current), PathInW("second.xml"));
  CoTaskMemFree(current);
}

TEST_F(XMLFilterTest, UnreadableFilesFailTheLoad) {
  ComPtr<IPersistFile> persist;
  ASSERT_EQ(CoCreateInstance(CLSID_XMLFilter, nullptr, CLSCTX_INPROC_SERVER, uuidof<IPersistFile>(), persist.put_void()),
            S_OK);
  LPOLESTR current = nullptr;
  EXPECT_EQ(persist->GetCurFile(&current), E_FAIL);
  EXPECT_EQ(persist->Load(PathInW("missing.xml").c_str(), 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(mkfifo(PathIn("fifo.xml").c_str(), 0600), 0);
  EXPECT_EQ(persist->Load(PathInW("fifo.xml").c_str(), 0), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
}

TEST_F(XMLFilterTest, EveryStepAndTheParseErrorAreLogged) {
  UseRepository(*this, true);
  ParseErrorOf("<a>\n<b></a>");
  const std::vector<std::string> files = ListDir(PathIn("repo/Debug.Filter"));
  ASSERT_FALSE(files.empty());
  for (const std::string& name : files) EXPECT_EQ(name.substr(0, 3), "XML") << name;
  const std::string logs = FilterLogs(*this);
  for (const std::string& entry :
       {std::string("FinalConstruct\n"), "Load: " + PathIn("doc.xml") + "\n", std::string("XMLFilter.cpp"),
        std::string("XML parse error at line 2, character "), std::string("GetChunk: returning text chunk\n"),
        std::string("GetChunk: returning FILTER_E_END_OF_CHUNKS\n"), std::string("FinalRelease\n")})
    EXPECT_NE(logs.find(entry), std::string::npos) << entry << "\nin:\n" << logs;
}

}  // namespace
