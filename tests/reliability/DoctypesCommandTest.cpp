// zytfilt doctypes drives the document type manager late-bound, and what it
// changes is undone by its restore; a product set-up binds the office formats
// to the XML proxy so that their text is indexed without any option.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZipWriter.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class DoctypesCommandTest : public ZytfiltMachineTest {
 protected:
  std::string Export(const std::string& key) {
    ProcessResult r = Zytfilt({"reg", "export", key});
    EXPECT_EQ(r.status, 0) << key << ": " << Outcome(r);
    return r.out;
  }
};

TEST_F(DoctypesCommandTest, SetThenRestoreLeavesTheExtensionAsItWas) {
  Ok({"setup"});
  Import(
      "[HKEY_CLASSES_ROOT\\.foo]\r\n@=\"foofile\"\r\n\"Content Type\"=\"text/x-foo\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\.bar\\PersistentHandler]\r\n@=\"{5E941D80-BF96-11CD-B579-08002B30BFEB}\"\r\n");
  const std::string foo = Export("HKCR\\.foo"), bar = Export("HKCR\\.bar");
  ASSERT_NE(foo.find("foofile"), std::string::npos) << foo;

  Ok({"doctypes", "set", ".foo", "{32E04D13-5E47-11D7-B40F-00D009EF4932}"});
  Ok({"doctypes", "set", "bar", "{32E04D19-5E47-11D7-B40F-00D009EF4932}"});
  Ok({"doctypes", "set", ".bar", "{32E04D13-5E47-11D7-B40F-00D009EF4932}"});
  Ok({"doctypes", "thumbnailer", ".foo", "Gallery"});
  ProcessResult get = Zytfilt({"doctypes", "get", "foo"});
  ASSERT_EQ(get.status, 0) << get.err;
  EXPECT_NE(get.out.find("handler:      {32E04D13-5E47-11D7-B40F-00D009EF4932}"), std::string::npos) << get.out;
  EXPECT_NE(get.out.find("thumbnailer:  Gallery"), std::string::npos) << get.out;
  ProcessResult list = Zytfilt({"doctypes", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find(".foo"), std::string::npos) << list.out;
  EXPECT_NE(Export("HKCR\\.foo"), foo);

  Ok({"doctypes", "restore"});
  EXPECT_EQ(Export("HKCR\\.foo"), foo);
  EXPECT_EQ(Export("HKCR\\.bar"), bar) << "the handler from before the first change, already upper case";
  get = Zytfilt({"doctypes", "get", ".foo"});
  EXPECT_NE(get.out.find("handler:      (none)"), std::string::npos) << get.out;
}

// Directly, and through the registry writer for a user who may not write the machine.
TEST_F(DoctypesCommandTest, AnExtensionTheMachineNeverHadIsGoneAgainAfterRestore) {
  Ok({"setup"});
  Import("[HKEY_CLASSES_ROOT\\.bar\\PersistentHandler]\r\n@=\"{5E941D80-BF96-11CD-B579-08002B30BFEB}\"\r\n");
  const std::string bar = Export("HKCR\\.bar");
  for (const bool throughWriter : {false, true}) {
    SCOPED_TRACE(throughWriter ? "through the writer" : "directly");
    if (throughWriter) {
      m_machine.env.emplace_back("ZYT_REGISTRY_READONLY", "HKLM");
      ASSERT_NE(Zytfilt({"reg", "import", PathIn("import.reg")}).status, 0) << "the user's own writes are refused";
    }
    Ok({"doctypes", "set", ".neverseen", "{32E04D13-5E47-11D7-B40F-00D009EF4932}"});
    Ok({"doctypes", "thumbnailer", ".neverthumb", "Gallery"});
    Ok({"doctypes", "set", ".bar", "{32E04D13-5E47-11D7-B40F-00D009EF4932}"});
    EXPECT_NE(Export("HKCR\\.bar"), bar);
    ASSERT_EQ(Zytfilt({"reg", "export", "HKCR\\.neverseen"}).status, 0);
    Ok({"doctypes", "restore"});
    for (const char* key : {"HKCR\\.neverseen", "HKCR\\.neverthumb"}) {
      ProcessResult gone = Zytfilt({"reg", "export", key});
      EXPECT_NE(gone.status, 0) << key << " is left behind: " << gone.out;
      EXPECT_NE(gone.err.find("not found"), std::string::npos) << gone.err;
    }
    EXPECT_EQ(Export("HKCR\\.bar"), bar);
  }
}

TEST_F(DoctypesCommandTest, FiltersAreChosenByTheNamesTheListShows) {
  Ok({"setup"});
  Import(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Filters\\XMLFilter\\OpenDocument]\r\n"
      "@=\"OpenDocument text\"\r\n\"command\"=\"unzip -p \\\"%1\\\" content.xml\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Filters\\ISimpleFileFilter\\{1273D596-0000-0000-0000-000000000001}]\r\n"
      "@=\"Path only\"\r\n");
  ProcessResult filters = Zytfilt({"doctypes", "filters"});
  ASSERT_EQ(filters.status, 0) << Outcome(filters);
  EXPECT_NE(filters.out.find("Plain Text persistent handler"), std::string::npos) << filters.out;
  EXPECT_NE(filters.out.find("XMLFilter"), std::string::npos) << filters.out;

  Ok({"doctypes", "set", ".a", "plain text persistent handler"});
  Ok({"doctypes", "set", ".b", "OpenDocument"});
  Ok({"doctypes", "set", ".c", "Path only"});
  ProcessResult a = Zytfilt({"doctypes", "get", ".a"});
  EXPECT_EQ(a.status, 0) << Outcome(a);
  EXPECT_NE(a.out.find("handler:      {5E941D80-BF96-11CD-B579-08002B30BFEB}"), std::string::npos) << a.out;
  ProcessResult b = Zytfilt({"doctypes", "get", ".b"});
  EXPECT_EQ(b.status, 0) << Outcome(b);
  EXPECT_NE(b.out.find("handler:      {32E04D19-5E47-11D7-B40F-00D009EF4932}"), std::string::npos) << b.out;
  EXPECT_NE(b.out.find("xml:          unzip -p \"%1\" content.xml"), std::string::npos) << b.out;
  ProcessResult c = Zytfilt({"doctypes", "get", ".c"});
  EXPECT_EQ(c.status, 0) << Outcome(c);
  EXPECT_NE(c.out.find("handler:      {32E04D13-5E47-11D7-B40F-00D009EF4932}"), std::string::npos) << c.out;
  EXPECT_NE(c.out.find("simple:       {1273D596-0000-0000-0000-000000000001}"), std::string::npos) << c.out;

  ProcessResult xml = Zytfilt({"doctypes", "list", "--xml"});
  ASSERT_EQ(xml.status, 0) << Outcome(xml);
  EXPECT_NE(xml.out.find("<inventory-extensions-ret>"), std::string::npos) << xml.out;
  EXPECT_NE(xml.out.find("<enum-filters-ret>"), std::string::npos) << xml.out;
}

TEST_F(DoctypesCommandTest, MistakesAreOneLineAndChangeNothing) {
  Ok({"setup"});
  const std::string before = Export("HKCR");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"doctypes", "set", ".foo", "no such filter"}, "no filter named 'no such filter'"},
      {{"doctypes", "set", ".foo"}, "set needs EXT FILTER"},
      {{"doctypes", "simple", ".foo", "No.Such.ProgId"}, "'No.Such.ProgId' is neither a CLSID nor a registered ProgID"},
      {{"doctypes", "get", "."}, "an extension is needed"},
      {{"doctypes", "list", "--json"}, "unknown option '--json'"},
      {{"doctypes", "frobnicate"}, "unknown subcommand 'frobnicate'"},
      {{"doctypes", "restore", "now"}, "restore needs no arguments"},
  };
  for (const auto& [args, message] : cases) {
    ProcessResult r = Zytfilt(args);
    SCOPED_TRACE(message);
    EXPECT_EQ(r.status, 1) << Outcome(r);
    EXPECT_EQ(Lines(r.err).size(), 1u) << Outcome(r);
    EXPECT_NE(r.err.find("zytfilt doctypes: " + message), std::string::npos) << Outcome(r);
  }
  EXPECT_EQ(Export("HKCR"), before);
  ProcessResult usage = Zytfilt({"doctypes"});
  EXPECT_EQ(usage.status, 2) << Outcome(usage);
  EXPECT_NE(usage.err.find("usage: zytfilt doctypes"), std::string::npos) << Outcome(usage);
}

TEST_F(DoctypesCommandTest, AProductSetUpIndexesOfficeDocumentsUntilRestored) {
  Ok({"setup", "--product"});
  const std::string odt = PathIn("home/report.odt");
  WriteBytes(odt, ZipArchive({{"mimetype", "application/vnd.oasis.opendocument.text"},
                             {"content.xml",
                              "<?xml version=\"1.0\"?><office:document-content "
                              "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                              "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body>"
                              "<office:text><text:p>Quarterly zebra migration</text:p></office:text>"
                              "</office:body></office:document-content>"}}));
  const std::string docx = PathIn("home/letter.docx");
  WriteBytes(docx, ZipArchive({{"[Content_Types].xml", "<Types/>"},
                              {"word/document.xml",
                               "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
                               "<w:body><w:p><w:r><w:t>Dear aardvark committee</w:t></w:r></w:p></w:body>"
                               "</w:document>"}}));
  ProcessResult dump = Zytfilt({"dump", odt});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("Quarterly zebra migration"), std::string::npos) << dump.out;
  dump = Zytfilt({"dump", docx});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("Dear aardvark committee"), std::string::npos) << dump.out;

  // A second set-up keeps the bindings and what they replaced.
  Ok({"setup", "--product"});
  Ok({"doctypes", "restore"});
  ProcessResult get = Zytfilt({"doctypes", "get", ".odt"});
  EXPECT_NE(get.out.find("handler:      (none)"), std::string::npos) << get.out;
  dump = Zytfilt({"dump", odt});
  EXPECT_EQ(dump.out.find("Quarterly zebra migration"), std::string::npos) << dump.out;
}

}  // namespace
}  // namespace ZYT::Test
