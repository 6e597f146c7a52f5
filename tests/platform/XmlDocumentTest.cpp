#include <gtest/gtest.h>

#include "platform/xml/XmlDocument.h"
#include "tests/support/TestEnvironment.h"

namespace {

class XmlDocumentTest : public ZYT::Test::MachineTest {};

TEST_F(XmlDocumentTest, ParseErrorsSayWhere) {
  ZYT::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<a><b/></a>"));
  ZYT::XmlParseError error;
  EXPECT_FALSE(doc.LoadXml("<a>\n  <b></c>\n</a>", &error));
  EXPECT_EQ(error.line, 2);
  EXPECT_GT(error.column, 1);
  EXPECT_GE(error.offset, 8) << "past the first line and the opening tag";
  EXPECT_NE(error.reason.find("mismatch"), std::string::npos) << error.reason;
  EXPECT_EQ(doc.DocumentElement().Name(), "a") << "a failed load keeps the previous document";
  EXPECT_FALSE(doc.LoadXml("", &error));
  EXPECT_FALSE(doc.Load(PathIn("missing.xml"), &error));
  EXPECT_NE(error.reason.find("cannot read"), std::string::npos);
}

TEST_F(XmlDocumentTest, ExternalEntitiesAndDtdsAreNeverFetched) {
  WriteBytes(PathIn("secret.txt"), "TOP-SECRET");
  ZYT::XmlDocument doc;
  std::string xml = "<!DOCTYPE a [<!ENTITY e SYSTEM \"file://" + PathIn("secret.txt") +
                    "\">]><a>&e;</a>";
  if (doc.LoadXml(xml)) {
    EXPECT_EQ(doc.DocumentElement().Text().find("TOP-SECRET"), std::string::npos);
  }
  std::string dtd = "<!DOCTYPE a SYSTEM \"http://127.0.0.1:9/none.dtd\"><a>x</a>";
  ASSERT_TRUE(doc.LoadXml(dtd)) << "an unreachable DTD is not loaded, so not an error";
  EXPECT_EQ(doc.DocumentElement().Text(), "x");
}

TEST_F(XmlDocumentTest, XPathTextAndXml) {
  ZYT::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<s><c t=\"local\">one<i>two</i></c><c t=\"web\"/></s>"));
  auto nodes = doc.SelectNodes("/s/c");
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].Text(), "onetwo") << "an element's text includes its descendants'";
  EXPECT_EQ(nodes[1].Xml(), "<c t=\"web\"/>");
  EXPECT_EQ(doc.SelectSingleNode("/s/c[@t='web']/@t").Text(), "web");
  EXPECT_TRUE(doc.SelectSingleNode("/s/c[2]/@t").IsAttribute());
  bool valid = true;
  EXPECT_FALSE(doc.SelectSingleNode("/s/[", &valid));
  EXPECT_FALSE(valid);
  doc.SelectNodes("count(/s/c)", &valid);
  EXPECT_FALSE(valid) << "only node sets are selections";
  nodes[1].SetText("a<b&c");
  EXPECT_EQ(nodes[1].Xml(), "<c t=\"web\">a&lt;b&amp;c</c>");
  ZYT::XmlNode added = doc.DocumentElement().AppendElement("user");
  added.SetAttribute("name", "ann \"q\"");
  ASSERT_TRUE(doc.Save(PathIn("out.xml")));
  ZYT::XmlDocument back;
  ASSERT_TRUE(back.Load(PathIn("out.xml")));
  EXPECT_EQ(back.SelectSingleNode("/s/user/@name").Text(), "ann \"q\"");
  EXPECT_EQ(ListDir(TempDir()), (std::vector<std::string>{"out.xml", "tmp"})) << "no temporary file is left";
}

}  // namespace

namespace {

TEST(XmlDocumentTextTest, DecodedTextIgnoresTheDeclarationAndSelectsThroughBoundPrefixes) {
  ZYT::XmlDocument doc;
  doc.SetSelectionNamespace("z", "urn:example:z");
  // Bytes already decoded: a declared Latin-1 changes nothing.
  ASSERT_TRUE(doc.LoadXmlText("<?xml version='1.0' encoding='ISO-8859-1'?>"
                              "<r xmlns:q='urn:example:z'><q:v>caf\xC3\xA9</q:v><v>no</v></r>"));
  auto nodes = doc.SelectNodes("//z:v");
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Text(), "caf\xC3\xA9");
  ZYT::XmlParseError error;
  EXPECT_FALSE(doc.LoadXmlText("<a><b><c/></b></a>", &error, 2));
  EXPECT_NE(error.reason.find("nested deeper than 2"), std::string::npos) << error.reason;
  EXPECT_EQ(error.line, 1);
  EXPECT_TRUE(doc.LoadXmlText("<a><b><c/></b></a>", &error, 3));
  EXPECT_EQ(doc.SelectNodes("//z:v").size(), 0u) << "the prefix is kept, the new document has no such node";
  EXPECT_EQ(doc.SelectNodes("//c").size(), 1u);
}

}  // namespace
