// Office documents reach the XML filter through a converter program: unzip
// writes the document's XML part to the proxy's output file. The archives
// are built here with the parts real word processors write.
#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZipWriter.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class XmlProxyOfficeTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Ok({"setup"}));
    Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Filters\\XMLProxyFilter\\.odt]\r\n"
           "@=\"unzip -p \\\"%1\\\" content.xml\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Filters\\XMLProxyFilter\\.docx]\r\n"
           "@=\"unzip -p \\\"%1\\\" word/document.xml\"\r\n");
  }

  // The text the proxy gives for the file, chunk texts joined by "|".
  std::string Dump(const std::string& file) {
    ProcessResult dump = RunZytfilt({"dump", "--class", "ZytFilters.XMLProxyFilter", file}, m_machine);
    EXPECT_EQ(dump.status, 0) << dump.out << dump.err;
    return dump.out;
  }
  // The proxy made its output file there, so the folder exists; it must be empty again.
  bool TempFolderEmpty() const { return Exists(PathIn("repository/temp")) && ListDir(PathIn("repository/temp")).empty(); }
};

const char kOdtContent[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.3\">"
    "<office:body><office:text>"
    "<text:h text:outline-level=\"1\">Quarterly letter</text:h>"
    "<text:p>Dear shareholders, the harvest was plentiful.</text:p>"
    "</office:text></office:body></office:document-content>";

const char kDocxDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
    "<w:body><w:p><w:r><w:t>Minutes of the</w:t></w:r><w:r><w:t xml:space=\"preserve\"> rowing club</w:t></w:r></w:p>"
    "<w:p><w:r><w:t>Motion carried unanimously.</w:t></w:r></w:p><w:sectPr/></w:body></w:document>";

TEST_F(XmlProxyOfficeTest, AnOpenDocumentTextGivesItsWordsAndLeavesNoOutputBehind) {
  // The mimetype member comes first and stored, as OpenDocument requires.
  const std::string odt = PathIn("letter to shareholders.odt");
  WriteBytes(odt, ZipArchive({{"mimetype", "application/vnd.oasis.opendocument.text"},
                              {"META-INF/manifest.xml",
                               "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\"/>"},
                              {"styles.xml", "<office:document-styles xmlns:office=\"o\">Not the body</office:document-styles>"},
                              {"content.xml", kOdtContent}}));
  const std::string before = ReadBytes(odt);
  const std::string out = Dump(odt);
  EXPECT_NE(out.find("Quarterly letter"), std::string::npos) << out;
  EXPECT_NE(out.find("Dear shareholders, the harvest was plentiful."), std::string::npos) << out;
  EXPECT_LT(out.find("Quarterly letter"), out.find("Dear shareholders")) << "document order";
  EXPECT_EQ(out.find("Not the body"), std::string::npos) << "only content.xml is converted";
  EXPECT_TRUE(TempFolderEmpty());
  EXPECT_EQ(ReadBytes(odt), before);
}

TEST_F(XmlProxyOfficeTest, AWordDocumentGivesItsRunsInOrder) {
  const std::string docx = PathIn("minutes.docx");
  WriteBytes(docx, ZipArchive({{"[Content_Types].xml", "<Types xmlns=\"t\"/>"},
                               {"_rels/.rels", "<Relationships xmlns=\"r\"/>"},
                               {"word/document.xml", kDocxDocument}}));
  const std::string out = Dump(docx);
  const size_t first = out.find("Minutes of the");
  const size_t second = out.find(" rowing club");
  const size_t third = out.find("Motion carried unanimously.");
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(second, std::string::npos) << out;
  ASSERT_NE(third, std::string::npos) << out;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(XmlProxyOfficeTest, ADocumentWithoutItsPartIndexesTheParseErrorNotAnotherFile) {
  // unzip finds no content.xml and writes nothing: the empty output is what
  // the XML filter reads, so the file gives the parse-error text.
  const std::string odt = PathIn("hollow.odt");
  WriteBytes(odt, ZipArchive({{"mimetype", "application/vnd.oasis.opendocument.text"},
                              {"other.xml", "<x>secret of another part</x>"}}));
  const std::string out = Dump(odt);
  EXPECT_EQ(out.find("secret of another part"), std::string::npos) << out;
  EXPECT_NE(out.find("parse error"), std::string::npos) << out;
  EXPECT_TRUE(TempFolderEmpty());
}

}  // namespace
}  // namespace ZYT::Test
