// XML document model: text conversion, parser, writer, lookups.
#include <gtest/gtest.h>

#include <functional>

#include "NvExceptions.h"
#include "NvStream.h"
#include "NvXmlUtils.h"

namespace {

const std::wstring kTagsDoNotMatch = L"XML 标签不匹配";

std::wstring AssertionMessage(int line) {
  return L"Assertion failure (Common\\NvXmlUtils, line " + std::to_wstring(line) + L")";
}

void ExpectAssertion(int line, const std::function<void()>& action) {
  try {
    action();
    ADD_FAILURE() << "no assertion failure, expected line " << line;
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), AssertionMessage(line));
  }
}

void ExpectTagsDoNotMatch(const std::function<void()>& action) {
  try {
    action();
    ADD_FAILURE() << "no XML error";
  } catch (const EXmlException& e) {
    EXPECT_EQ(e.Message(), kTagsDoNotMatch);
  }
}

std::unique_ptr<TXmlDocument> Parse(const std::string& text) {
  auto doc = std::make_unique<TXmlDocument>();
  doc->LoadFromString(text);
  return doc;
}

// ---- text conversion ----------------------------------------------------------

TEST(XmlText, EncodeEscapesTheEightSpecialBytesInOrder) {
  const std::wstring text = L"<>&\"'\t\n\r";
  EXPECT_EQ(XmlEncode(text), "&lt;&gt;&amp;&quot;&apos;&#x09;&#x0A;&#x0D;");
  EXPECT_EQ(XmlDecode(XmlEncode(text)), text);
}

TEST(XmlText, EncodeWritesOtherCharactersAsUtf8) {
  EXPECT_EQ(XmlEncode(L"a\u4e2d b"), "a\xE4\xB8\xAD b");
  EXPECT_EQ(XmlEncode(L""), "");
  EXPECT_EQ(XmlDecode(""), L"");
}

TEST(XmlText, DecodeNumericAndNamedReferencesInAnyCase) {
  EXPECT_EQ(XmlDecode("&#65;&#x42;&#X43;&LT;"), L"ABC<");
  EXPECT_EQ(XmlDecode("&Amp;&QUOT;&apos;&gt;"), L"&\"'>");
  EXPECT_EQ(XmlDecode("x\xE4\xB8\xAD&#x4E2D;y"), L"x\u4e2d\u4e2dy");
}

TEST(XmlText, DecodeUsesTheLow16BitsOfLargeNumbers) {
  EXPECT_EQ(XmlDecode("&#x110041;"), L"A");  // beyond U+10FFFF: low 16 bits
}

TEST(XmlText, DecodeKeepsCharactersBeyondTheBasicPlaneWhole) {
  std::wstring emoji = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                            : std::wstring(1, wchar_t(0x1F600));
  EXPECT_EQ(XmlDecode("&#x1F600;"), emoji);
  EXPECT_EQ(XmlDecode("&#xD83D;&#xDE00;"), emoji);  // a pair spelled as two references
}

TEST(XmlText, DecodeBareAmpersandRaisesXmlError) {
  ExpectTagsDoNotMatch([] { XmlDecode("a & b"); });
}

TEST(XmlText, DecodeEmptyOrUnknownReferenceIsAnAssertion) {
  ExpectAssertion(469, [] { XmlDecode("a&;b"); });
  ExpectAssertion(517, [] { XmlDecode("&foo;"); });
}

TEST(XmlText, DecodeNonNumericCharacterNumberIsAConvertError) {
  try {
    XmlDecode("&#12a;");
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"'12a' is not a valid integer value");
  }
  EXPECT_THROW(XmlDecode("&#x;"), EConvertError);
  EXPECT_THROW(XmlDecode("&#xZ1;"), EConvertError);
}

TEST(XmlKeys, TextAccessorsEscapeUnlessCData) {
  TXmlAttribute a;
  a.SetText(L"a<b");
  EXPECT_EQ(a.Value, "a&lt;b");
  EXPECT_EQ(a.GetText(), L"a<b");
  a.CData = true;
  a.SetText(L"a<b&c");
  EXPECT_EQ(a.Value, "a<b&c");
  EXPECT_EQ(a.GetText(), L"a<b&c");
}

TEST(XmlKeys, NumbersClearCData) {
  TXmlAttribute a;
  a.CData = true;
  a.SetInteger(-9000000000LL);
  EXPECT_EQ(a.Value, "-9000000000");
  EXPECT_FALSE(a.CData);
  a.CData = true;
  a.SetFloat(1.5);
  EXPECT_EQ(a.Value, "1.5");
  EXPECT_FALSE(a.CData);
}

TEST(XmlKeys, NamesAreStoredEncoded) {
  TXmlNode node;
  node.SetName(L"a&b");
  EXPECT_EQ(node.Name, "a&amp;b");
  EXPECT_EQ(node.GetName(), L"a&b");
}

// ---- lookups --------------------------------------------------------------------

TEST(XmlLookup, ChildrenAndAttributesAreFoundIgnoringCase) {
  TXmlNode node(L"r");
  TXmlNode* items = node.AddChild(L"Items");
  EXPECT_EQ(node.FindChild(L"items"), items);
  EXPECT_EQ(node.FindChild("ITEMS"), items);
  EXPECT_EQ(node.FindChild(L"Item"), nullptr);
  TXmlAttribute* a = node.AttributeByName(L"Name");
  EXPECT_EQ(node.FindAttribute("name"), a);
  EXPECT_EQ(node.AttributeByName(L"NAME"), a);
  EXPECT_EQ(node.Attributes.Count(), 1);
}

TEST(XmlLookup, NonAsciiNamesCompareIgnoringCase) {
  TXmlNode node(L"r");
  TXmlNode* child = node.AddChild(L"\u00c4pfel");
  EXPECT_EQ(node.FindChild(L"\u00e4PFEL"), child);
  EXPECT_EQ(node.FindChild(L"\u00e4pfe"), nullptr);
}

TEST(XmlLookup, FirstMatchWinsAndAddChildAlwaysAppends) {
  TXmlNode node(L"r");
  TXmlNode* first = node.AddChild(L"c");
  TXmlNode* second = node.AddChild(L"c");
  EXPECT_NE(first, second);
  EXPECT_EQ(node.FindChild(L"c"), first);
  EXPECT_EQ(node.ChildByName(L"c"), first);
  EXPECT_EQ(second->Parent, &node);
  TXmlNode* made = node.ChildByName(L"d");
  EXPECT_EQ(node.Children.Count(), 3);
  EXPECT_EQ(node.Children[2], made);
}

TEST(XmlLookup, NamesWithSpecialCharactersMatchTheirStoredForm) {
  auto doc = Parse("<r><a&amp;b/></r>");
  EXPECT_NE(doc->Root->FindChild(L"a&b"), nullptr);
}

// ---- parsing ----------------------------------------------------------------------

TEST(XmlParse, TextWithoutElementsGivesNoRoot) {
  auto doc = Parse("just text <?xml version=\"1.0\"?> <!-- c -->");
  EXPECT_EQ(doc->Root, nullptr);
  EXPECT_EQ(Parse("")->Root, nullptr);
}

TEST(XmlParse, BuildsTreeWithAttributesInOrder) {
  auto doc = Parse("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r a=\"1\" b='x y'><c k=\"v&amp;w\"/><d>text</d></r>");
  TXmlNode* r = doc->Root.get();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Name, "r");
  ASSERT_EQ(r->Attributes.Count(), 2);
  EXPECT_EQ(r->Attributes[0]->Name, "a");
  EXPECT_EQ(r->Attributes[0]->Value, "1");
  EXPECT_EQ(r->Attributes[1]->Value, "x y");
  ASSERT_EQ(r->Children.Count(), 2);
  EXPECT_EQ(r->Children[0]->FindAttribute(L"k")->Value, "v&amp;w");  // kept in stored form
  EXPECT_EQ(r->Children[0]->FindAttribute(L"k")->GetText(), L"v&w");
  EXPECT_EQ(r->Children[1]->GetText(), L"text");
  EXPECT_EQ(r->Children[1]->Parent, r);
  EXPECT_EQ(r->Parent, nullptr);
}

// What is not XML and would change the document's meaning if read is
// refused, with the place and the cause.
TEST(XmlParse, MalformedStructureIsRefusedWithItsPlace) {
  struct TCase {
    const char* Text;
    std::size_t Offset;
    const char* Detail;
  } cases[] = {
      {"<a><b/></c>", 7, "the end tag </c> does not close the open element <a>"},
      {"<r>\n  <RegList>\n  </FooList>\n</r>", 18, "the end tag </FooList> does not close the open element <RegList>"},
      {"<a><b>", 3, "the element <b> is not closed"},
      {"<a/><b/>", 4, "a second top-level element after <a> (a document has one)"},
      {"<a x=\"1\" junk/>", 9, "\"junk\" in the tag <a> is no attribute (name=\"value\")"},
      {"</a>", 0, "the end tag </a> closes no open element"},
  };
  for (const TCase& c : cases) {
    TXmlDocument doc;
    try {
      doc.LoadFromString(c.Text);
      ADD_FAILURE() << c.Text << ": no error";
    } catch (const EXmlException& e) {
      EXPECT_EQ(e.Message(), L"XML 标签不匹配") << c.Text;  // the runtime's own text
    }
    EXPECT_EQ(doc.ErrorOffset, c.Offset) << c.Text;
    EXPECT_EQ(doc.ErrorDetail, c.Detail) << c.Text;
  }
  // A damaged tag keeps its assertion point, and says where and what too;
  // an unquoted value no longer takes the next attribute's.
  TXmlDocument doc;
  EXPECT_THROW(doc.LoadFromString("<a x='1/>"), EAssertionFailed);
  EXPECT_EQ(doc.ErrorOffset, 5u);
  EXPECT_EQ(doc.ErrorDetail, "the value of the attribute x of <a> has no closing quote");
  EXPECT_THROW(doc.LoadFromString("<a x=1 y=\"2\"/>"), EAssertionFailed);
  EXPECT_EQ(doc.ErrorOffset, 5u);
  EXPECT_EQ(doc.ErrorDetail, "the value of the attribute x of <a> is not in quotes");
}

TEST(XmlParse, KeysRememberWhereTheyWereRead) {
  auto doc = Parse("<?xml version=\"1.0\"?>\n<r a=\"1\">\n  <c\n    b='2'/>\n</r>");
  TXmlNode* r = doc->Root.get();
  EXPECT_EQ(r->Offset, 22u);
  EXPECT_EQ(r->Attributes[0]->Offset, 25u);
  EXPECT_EQ(r->Children[0]->Offset, 34u);
  EXPECT_EQ(r->Children[0]->Attributes[0]->Offset, 41u);
  EXPECT_EQ(TXmlNode(L"new").Offset, std::string::npos);
}

TEST(XmlParse, StructureErrorsRaiseXmlException) {
  ExpectTagsDoNotMatch([] { Parse("</a>"); });                  // closing tag without open element
  ExpectTagsDoNotMatch([] { Parse("<a></a></b>"); });
  ExpectTagsDoNotMatch([] { Parse("<a><![CDATA[ x </a>"); });   // CDATA without its end
  ExpectTagsDoNotMatch([] { Parse("<a x=\"1\""); });            // "<" without ">"
  ExpectTagsDoNotMatch([] { Parse("<a><!-- open > </a>"); });   // comment without terminator
}

TEST(XmlParse, FailedParseKeepsThePartBuiltSoFar) {
  TXmlDocument doc;
  EXPECT_THROW(doc.LoadFromString("<a><b/><c"), EXmlException);
  ASSERT_NE(doc.Root, nullptr);
  EXPECT_EQ(doc.Root->Children.Count(), 1);
}

TEST(XmlParse, EachValueEndsAtItsOwnQuote) {
  auto doc = Parse("<e x='1' y=\"2\" z='a\"b'/>");
  TXmlNode* e = doc->Root.get();
  ASSERT_EQ(e->Attributes.Count(), 3);
  EXPECT_EQ(e->Attributes[0]->Value, "1");
  EXPECT_EQ(e->Attributes[1]->Value, "2");
  EXPECT_EQ(e->Attributes[2]->Value, "a\"b");
}

TEST(XmlParse, EmptyAttributeValueIsAllowed) {
  auto doc = Parse("<e a=\"\" b = \"2\"/>");
  ASSERT_EQ(doc->Root->Attributes.Count(), 2);
  EXPECT_EQ(doc->Root->Attributes[0]->Value, "");
  EXPECT_EQ(doc->Root->Attributes[1]->Name, "b");
}

TEST(XmlParse, CDataReplacesEarlierTextAndIsKeptVerbatim) {
  auto doc = Parse("<a>x<![CDATA[ & ]]></a>");
  TXmlNode* a = doc->Root.get();
  EXPECT_TRUE(a->CData);
  EXPECT_EQ(a->Value, " & ");
  EXPECT_EQ(a->GetText(), L" & ");
}

TEST(XmlParse, LastTextRunWinsAndWhitespaceCounts) {
  auto doc = Parse("<a>first<b/>\r\n  </a>");
  EXPECT_EQ(doc->Root->Value, "\r\n  ");
}

TEST(XmlParse, CommentEndingInSlashClosesNothing) {
  auto doc = Parse("<r><a><!-- note /--></a><z/></r>");
  TXmlNode* r = doc->Root.get();
  ASSERT_EQ(r->Children.Count(), 2);
  TXmlNode* a = r->Children[0];
  EXPECT_EQ(a->Name, "a");
  EXPECT_EQ(a->Value, "");
  EXPECT_EQ(a->Children.Count(), 0);
  EXPECT_EQ(r->Children[1]->Name, "z");
}

TEST(XmlParse, CommentMayContainAngleBrackets) {
  auto doc = Parse("<r><!-- <b> and > --><c/></r>");
  ASSERT_EQ(doc->Root->Children.Count(), 1);
  EXPECT_EQ(doc->Root->Children[0]->Name, "c");
}

TEST(XmlParse, AnyBlankEndsTheName) {
  auto doc = Parse("<a\tx=\"1\"\r\n  y=\"2\"/>");
  EXPECT_EQ(doc->Root->Name, "a");
  ASSERT_EQ(doc->Root->Attributes.Count(), 2);
  EXPECT_EQ(doc->Root->Attributes[1]->Name, "y");
}

TEST(XmlParse, TagAssertionPoints) {
  ExpectAssertion(1165, [] { Parse("< a/>"); });
  ExpectAssertion(1174, [] { Parse("<>"); });
  ExpectAssertion(1301, [] { Parse("<a =\"1\"/>"); });
  ExpectAssertion(1310, [] { Parse("<a x=\"1/>"); });
  ExpectAssertion(1314, [] { Parse("<a x=1/>"); });
  ExpectAssertion(1317, [] { Parse("<a x='1/>"); });
}

TEST(XmlParse, StreamIsReadFromItsPosition) {
  TMemoryStream stream(std::string("garbage<<<<<r a=\"1\"/>"));
  stream.SetPosition(11);
  TXmlDocument doc;
  doc.LoadFromStream(stream);
  ASSERT_NE(doc.Root, nullptr);
  EXPECT_EQ(doc.Root->Name, "r");
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(XmlParse, LoadingDiscardsTheOldTree) {
  TXmlDocument doc(L"old");
  doc.LoadFromString("no elements");
  EXPECT_EQ(doc.Root, nullptr);
}

// ---- writing ------------------------------------------------------------------------

std::unique_ptr<TXmlDocument> SampleDocument() {
  auto doc = std::make_unique<TXmlDocument>(L"r");
  doc->Root->AttributeByName(L"k")->SetText(L"v");
  doc->Root->AddChild(L"c");
  return doc;
}

TEST(XmlWrite, FormattedDocumentLines) {
  EXPECT_EQ(SampleDocument()->SaveToString(),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<r k=\"v\">\r\n"
            "    <c/>\r\n"
            "</r>\r\n");
}

TEST(XmlWrite, UnformattedDocumentJoinsThePieces) {
  auto doc = SampleDocument();
  doc->Formatted = false;
  EXPECT_EQ(doc->SaveToString(), "<?xml version=\"1.0\" encoding=\"utf-8\"?><r k=\"v\"><c/></r>");
  doc->WriteDeclaration = false;
  EXPECT_EQ(doc->SaveToString(), "<r k=\"v\"><c/></r>");
}

TEST(XmlWrite, BodiesTextAndCData) {
  TXmlDocument doc(L"r");
  doc.WriteDeclaration = false;
  TXmlNode* t = doc.Root->AddChild(L"t");
  t->SetText(L"a<b");
  TXmlNode* c = doc.Root->AddChild(L"c");
  c->CData = true;
  c->SetText(L"x & y");
  TXmlNode* deep = doc.Root->AddChild(L"p")->AddChild(L"q");
  deep->SetInteger(5);
  doc.Root->Value = "body";
  EXPECT_EQ(doc.SaveToString(),
            "<r>body\r\n"
            "    <t>a&lt;b</t>\r\n"
            "    <c><![CDATA[x & y]]></c>\r\n"
            "    <p>\r\n"
            "        <q>5</q>\r\n"
            "    </p>\r\n"
            "</r>\r\n");
}

TEST(XmlWrite, ParsedTextIsWrittenBackByteForByte) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<TSetupScript Name=\"\xE5\xAE\x89&amp;&#x0A;\" Empty=\"\">\r\n"
      "    <Items>\r\n"
      "        <TItem A=\"1\"/>\r\n"
      "        <TItem A=\"2\"><![CDATA[<raw>]]></TItem>\r\n"
      "    </Items>\r\n"
      "</TSetupScript>\r\n";
  TXmlDocument doc;
  doc.LoadFromString(text);
  // Nodes with children take the whitespace before their closing tag as value.
  EXPECT_EQ(doc.Root->Value, "\r\n");
  doc.Root->Value.clear();
  doc.Root->Children[0]->Value.clear();
  EXPECT_EQ(doc.SaveToString(), text);
}

TEST(XmlWrite, StreamGetsTheTextAtItsPositionWithoutByteOrderMark) {
  TMemoryStream stream(std::string("HEAD"));
  stream.SetPosition(4);
  TXmlDocument doc(L"r");
  doc.Formatted = false;
  doc.SaveToStream(stream);
  EXPECT_EQ(stream.Bytes(), "HEAD<?xml version=\"1.0\" encoding=\"utf-8\"?><r/>");
}

TEST(XmlWrite, DefaultDocumentHasAnUnnamedRoot) {
  TXmlDocument doc;
  ASSERT_NE(doc.Root, nullptr);
  EXPECT_EQ(doc.Root->Name, "");
  EXPECT_TRUE(doc.Formatted);
  EXPECT_TRUE(doc.WriteDeclaration);
}

}  // namespace
