#include <gtest/gtest.h>

#include "platform/xml/XslTransform.h"
#include "tests/support/TestEnvironment.h"

namespace {

constexpr char kHead[] =
    "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform' "
    "xmlns:t='urn:test:xslt'><xsl:output method='text' encoding='UTF-8'/>";

std::string Sheet(const std::string& body) { return kHead + body + "</xsl:stylesheet>"; }

void Shout(_xmlXPathParserContext* context, int) {
  std::string text = ZYT::PopStringArgument(context);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ZYT::PushStringResult(context, text + "!");
}

class XslTransformTest : public ZYT::Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_TRUE(m_document.LoadXml("<list><item>one</item><item>zwei \xC3\xA9</item></list>"));
  }
  ZYT::XmlDocument m_document;
};

TEST_F(XslTransformTest, TransformsToText) {
  std::string output, error;
  ASSERT_TRUE(ZYT::TransformXml(
      m_document, Sheet("<xsl:template match='/'><xsl:for-each select='//item'>[<xsl:value-of select='.'/>]"
                        "</xsl:for-each></xsl:template>"),
      output, error))
      << error;
  EXPECT_EQ(output, "[one][zwei \xC3\xA9]");
}

TEST_F(XslTransformTest, RegisteredFunctionsAreCallable) {
  ZYT::RegisterXsltFunction("urn:test:xslt", "shout", &Shout);
  std::string output, error;
  ASSERT_TRUE(ZYT::TransformXml(
      m_document, Sheet("<xsl:template match='/'><xsl:value-of select='t:shout(//item[2])'/></xsl:template>"),
      output, error))
      << error;
  EXPECT_EQ(output, "ZWEI \xC3\xA9!");
  EXPECT_FALSE(ZYT::TransformXml(
      m_document, Sheet("<xsl:template match='/'><xsl:value-of select='t:whisper(.)'/></xsl:template>"), output,
      error))
      << "an unknown extension function fails the transformation";
}

TEST_F(XslTransformTest, BadSheetsFailWithAReason) {
  std::string output, error;
  EXPECT_FALSE(ZYT::TransformXml(m_document, "<xsl:stylesheet", output, error));
  EXPECT_NE(error.find("line 1"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(ZYT::TransformXml(m_document, Sheet("<xsl:template/><xsl:bogus/>"), output, error));
  EXPECT_FALSE(error.empty());
}

TEST_F(XslTransformTest, SheetsCannotReadOrWriteFiles) {
  WriteBytes(PathIn("secret.xml"), "<secret>kept</secret>");
  std::string output, error;
  bool read = ZYT::TransformXml(
      m_document,
      Sheet("<xsl:template match='/'><xsl:value-of select=\"document('" + PathIn("secret.xml") +
            "')/secret\"/></xsl:template>"),
      output, error);
  EXPECT_EQ(output.find("kept"), std::string::npos) << "document() read a file";
  EXPECT_FALSE(read);
  const std::string written = PathIn("written.txt");
  ZYT::TransformXml(m_document,
                    "<xsl:stylesheet version='1.1' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                    "<xsl:template match='/'><xsl:document href='" +
                        written + "' method='text'>leak</xsl:document></xsl:template></xsl:stylesheet>",
                    output, error);
  EXPECT_FALSE(Exists(written));
}

}  // namespace
