// Object persistence through the published-property tables: XML, JSON,
// Assign, Clone, CopyFrom, IsEqual, lists and files.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <nlohmann/json.hpp>

#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
#include "NvXmlPersistent.h"
#include "NvXmlUtils.h"

namespace {

enum TColor : int32_t { clRed, clGreen, clBlue };
const TEnumInfo ColorInfo{"TColor", {"clRed", "clGreen", "clBlue"}};

class TEmpty : public TXmlPersistent {
public:
  NV_PUBLISHED(TEmpty, TXmlPersistent);
};

class TInner : public TXmlPersistent {
public:
  int32_t Level = 1;
  std::wstring Label = L"inner";
  NV_PUBLISHED(TInner, TXmlPersistent,
    NV_FIELD(Level),
    NV_FIELD(Label));
};

// A sub-object that is persistent but not a TXmlPersistent.
class TPlain : public TPersistent {
public:
  static const char* StaticClassName() { return "TPlain"; }
  std::string ClassName() const override { return "TPlain"; }
  using Self = TPlain;
  int32_t Width = 3;
  static const TPropList& StaticProps() {
    static const TPropList props = ::nvtypinfo::Inherit(TPersistent::StaticProps(), {NV_FIELD(Width)});
    return props;
  }
  const TPropList& Props() const override { return StaticProps(); }
};

class TSample : public TXmlPersistent {
public:
  bool Enabled = true;
  int32_t Count = 7;
  int64_t Big = 0;
  double Ratio = 0.5;
  std::wstring Title = L"default";
  std::string Bytes;
  char Letter = 'a';
  wchar_t WideLetter = L'z';
  TColor Color = clGreen;
  TSetOf<TColor> Colors;
  TInner Inner;
  std::unique_ptr<TInner> Extra;
  TPlain Plain;
  NV_PUBLISHED(TSample, TXmlPersistent,
    NV_FIELD(Enabled),
    NV_FIELD(Count),
    NV_FIELD(Big),
    NV_FIELD(Ratio),
    NV_FIELD(Title),
    NV_FIELD(Bytes),
    NV_FIELD(Letter),
    NV_FIELD(WideLetter),
    NV_ENUM(Color, ColorInfo),
    NV_SET(Colors, ColorInfo),
    NV_FIELD(Inner),
    NV_FIELD(Extra),
    NV_FIELD(Plain),
    ::nvtypinfo::Method("OnChange"));
};

// Derived class: inherited properties come first.
class TDerived : public TInner {
public:
  bool Flag = false;
  NV_PUBLISHED(TDerived, TInner, NV_FIELD(Flag));
};

// Same property names as TInner, another class.
class TInnerTwin : public TXmlPersistent {
public:
  int32_t Level = 9;
  std::wstring Label = L"twin";
  NV_PUBLISHED(TInnerTwin, TXmlPersistent,
    NV_FIELD(Level),
    NV_FIELD(Label));
};

class TWithVariant : public TXmlPersistent {
public:
  int32_t Before = 1;
  NV_PUBLISHED(TWithVariant, TXmlPersistent,
    NV_FIELD(Before),
    ::nvtypinfo::Unsupported("Data", TTypeKind::tkVariant, "Variant"));
};

// Forgets its own declaration: NewInstance makes the base class.
class TForgetful : public TInner {
public:
  std::string ClassName() const override { return "TForgetful"; }
};

class TInnerList : public TXmlTypedList<TInner> {
public:
  std::wstring Caption;
  NV_PUBLISHED(TInnerList, TXmlTypedList<TInner>, NV_FIELD(Caption));
};

// A list that makes items by class name and skips unknown ones.
class TMixedList : public TXmlObjectList {
public:
  TXmlPersistent* CreateItem(const std::wstring& className) override {
    if (SameText(className, L"TInner")) return new TInner();
    if (SameText(className, L"TDerived")) return new TDerived();
    return nullptr;
  }
  NV_PUBLISHED(TMixedList, TXmlObjectList);
};

class TListHolder : public TXmlPersistent {
public:
  std::wstring Name = L"holder";
  TInnerList List;
  NV_PUBLISHED(TListHolder, TXmlPersistent,
    NV_FIELD(Name),
    NV_FIELD(List));
};

std::unique_ptr<TXmlNode> ParseRoot(const std::string& text) {
  TXmlDocument doc;
  doc.LoadFromString(text);
  return std::move(doc.Root);
}

void LoadXml(TXmlPersistent& object, const std::string& text) { object.LoadFromXmlText(text); }

void ExpectAssertion(int line, const std::wstring& text, const std::function<void()>& action) {
  try {
    action();
    ADD_FAILURE() << "no assertion failure, expected line " << line;
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), text + L" (Common\\NvXmlUtils, line " + std::to_wstring(line) + L")");
  }
}

TSample Filled() {
  TSample s;
  s.Enabled = false;
  s.Count = -12;
  s.Big = 9000000000123LL;
  s.Ratio = 2.75;
  s.Title = L"\u5b89\u88c5 <\"&'>\t";
  s.Bytes = "bytes \xE4\xB8\xAD";
  s.Letter = 'Q';
  s.WideLetter = L'\u4e2d';
  s.Color = clBlue;
  s.Colors.Include(clRed);
  s.Colors.Include(clBlue);
  s.Inner.Level = 5;
  s.Inner.Label = L"deep";
  s.Extra = std::make_unique<TInner>();
  s.Extra->Level = 8;
  s.Plain.Width = 40;
  return s;
}

// ---- property tables -----------------------------------------------------------------

TEST(PropertyTables, InheritedPropertiesComeFirst) {
  const TPropList& props = TDerived::StaticProps();
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0].Name, "Level");
  EXPECT_EQ(props[1].Name, "Label");
  EXPECT_EQ(props[2].Name, "Flag");
  EXPECT_EQ(props[2].Kind, TTypeKind::tkEnumeration);
  EXPECT_EQ(props[2].Enum, &BooleanInfo);
}

TEST(PropertyTables, EnumerationNamesMatchAsciiLettersWithoutCase) {
  EXPECT_EQ(ColorInfo.IndexOf("CLBLUE"), 2);
  EXPECT_EQ(ColorInfo.IndexOf("blue"), -1);
  EXPECT_EQ(BooleanInfo.IndexOf("true"), 1);
  EXPECT_EQ(ColorInfo.NameOf(1), "clGreen");
  EXPECT_EQ(ColorInfo.NameOf(3), "");
  EXPECT_EQ(ColorInfo.NameOf(-1), "");
}

// ---- writing XML -----------------------------------------------------------------------

TEST(SaveXml, EveryReadablePropertyInTableOrder) {
  TSample s = Filled();
  TXmlNode node(L"TSample");
  s.SaveToXmlNode(&node, 0);
  std::vector<std::string> names;
  for (int i = 0; i < node.Attributes.Count(); ++i) names.push_back(node.Attributes[i]->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Enabled", "Count", "Big", "Ratio", "Title", "Bytes", "Letter",
                                             "WideLetter", "Color", "Colors"}));
  EXPECT_EQ(node.FindAttribute(L"Enabled")->Value, "False");
  EXPECT_EQ(node.FindAttribute(L"Count")->Value, "-12");
  EXPECT_EQ(node.FindAttribute(L"Big")->Value, "9000000000123");
  EXPECT_EQ(node.FindAttribute(L"Ratio")->Value, "2.75");
  EXPECT_EQ(node.FindAttribute(L"Title")->Value, "\xE5\xAE\x89\xE8\xA3\x85 &lt;&quot;&amp;&apos;&gt;&#x09;");
  EXPECT_EQ(node.FindAttribute(L"Bytes")->GetText(), L"bytes \u4e2d");
  EXPECT_EQ(node.FindAttribute(L"Letter")->Value, "81");
  EXPECT_EQ(node.FindAttribute(L"WideLetter")->Value, "20013");
  EXPECT_EQ(node.FindAttribute(L"Color")->Value, "clBlue");
  EXPECT_EQ(node.FindAttribute(L"Colors")->Value, "clRed,clBlue");
  ASSERT_EQ(node.Children.Count(), 3);  // Inner, Extra, Plain; the method is not written
  EXPECT_EQ(node.Children[0]->Name, "Inner");
  EXPECT_EQ(node.Children[0]->FindAttribute(L"Level")->Value, "5");
  EXPECT_EQ(node.Children[1]->Name, "Extra");
  EXPECT_EQ(node.Children[2]->Name, "Plain");
  EXPECT_EQ(node.Children[2]->FindAttribute(L"Width")->Value, "40");
}

TEST(SaveXml, MissingSubObjectWritesNothing) {
  TSample s;
  TXmlNode node(L"TSample");
  s.SaveToXmlNode(&node, 0);
  EXPECT_EQ(node.FindChild(L"Extra"), nullptr);
  EXPECT_NE(node.FindChild(L"Inner"), nullptr);
}

TEST(SaveXml, EmptySetGivesEmptyValue) {
  TSample s;
  TXmlNode node(L"TSample");
  s.SaveToXmlNode(&node, 0);
  ASSERT_NE(node.FindAttribute(L"Colors"), nullptr);
  EXPECT_EQ(node.FindAttribute(L"Colors")->Value, "");
}

TEST(SaveXml, ClassWithoutPropertiesIsASelfClosingRoot) {
  TEmpty e;
  EXPECT_EQ(e.SaveToXmlText(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<TEmpty/>\r\n");
}

TEST(SaveXml, ExistingAttributesAreUpdatedInPlaceAndOthersKept) {
  auto node = ParseRoot("<TInner Extra=\"keep\" Label=\"old\"/>");
  TInner inner;
  inner.SaveToXmlNode(node.get(), 0);
  ASSERT_EQ(node->Attributes.Count(), 3);
  EXPECT_EQ(node->Attributes[0]->Name, "Extra");
  EXPECT_EQ(node->Attributes[0]->Value, "keep");
  EXPECT_EQ(node->Attributes[1]->Name, "Label");
  EXPECT_EQ(node->Attributes[1]->Value, "inner");
  EXPECT_EQ(node->Attributes[2]->Name, "Level");
}

TEST(SaveXml, StreamDocumentIsNamedAfterTheClass) {
  TInner inner;
  EXPECT_EQ(inner.SaveToXmlText(),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<TInner Level=\"1\" Label=\"inner\"/>\r\n");
}

// ---- reading XML -----------------------------------------------------------------------

TEST(LoadXml, BooleanNamesIgnoreCaseAndUnknownNamesGiveTheFirstValue) {
  TSample s;
  s.Enabled = false;
  LoadXml(s, "<TSample Enabled=\"true\"/>");
  EXPECT_TRUE(s.Enabled);
  LoadXml(s, "<TSample Enabled=\"yes\"/>");
  EXPECT_FALSE(s.Enabled);
  s.Enabled = true;
  LoadXml(s, "<TSample Enabled=\"\"/>");
  EXPECT_TRUE(s.Enabled);
}

TEST(LoadXml, EnumerationByName) {
  TSample s;
  LoadXml(s, "<TSample Color=\"CLBLUE\"/>");
  EXPECT_EQ(s.Color, clBlue);
  LoadXml(s, "<TSample Color=\"purple\"/>");
  EXPECT_EQ(s.Color, clRed);
}

TEST(LoadXml, UnparsableNumbersLeaveThePropertyUnchanged) {
  TSample s;
  LoadXml(s, "<TSample Count=\"12x\" Big=\"1e3\" Ratio=\"abc\" Letter=\"q\"/>");
  EXPECT_EQ(s.Count, 7);
  EXPECT_EQ(s.Big, 0);
  EXPECT_EQ(s.Ratio, 0.5);
  EXPECT_EQ(s.Letter, 'a');
  LoadXml(s, "<TSample Count=\"$10\" Big=\"-9000000000\" Ratio=\"1E-5\" Letter=\"66\"/>");
  EXPECT_EQ(s.Count, 16);
  EXPECT_EQ(s.Big, -9000000000LL);
  EXPECT_EQ(s.Ratio, 1e-5);
  EXPECT_EQ(s.Letter, 'B');
}

TEST(LoadXml, NamesAreFoundIgnoringCaseAndMissingOnesKeepValues) {
  TSample s;
  LoadXml(s, "<TSample title=\"T&amp;1\"><inner LEVEL=\"4\"/></TSample>");
  EXPECT_EQ(s.Title, L"T&1");
  EXPECT_EQ(s.Inner.Level, 4);
  EXPECT_EQ(s.Inner.Label, L"inner");
  EXPECT_EQ(s.Count, 7);
}

TEST(LoadXml, RootNameIsNotChecked) {
  TInner inner;
  LoadXml(inner, "<Something Level=\"3\"/>");
  EXPECT_EQ(inner.Level, 3);
}

TEST(LoadXml, TextWithoutElementsLeavesTheObjectUnchanged) {
  TInner inner;
  inner.Level = 42;
  LoadXml(inner, "<?xml version=\"1.0\"?> nothing here");
  EXPECT_EQ(inner.Level, 42);
}

TEST(LoadXml, SetsByElementNamesAndUnknownElementStopsTheLoad) {
  TSample s;
  LoadXml(s, "<TSample Colors=\"clBlue,clGreen\"/>");
  EXPECT_TRUE(s.Colors.Has(clBlue));
  EXPECT_TRUE(s.Colors.Has(clGreen));
  EXPECT_FALSE(s.Colors.Has(clRed));
  LoadXml(s, "<TSample Colors=\"\"/>");
  EXPECT_EQ(s.Colors.Bits, 0u);
  try {
    LoadXml(s, "<TSample Colors=\"clRed,clPink\"/>");
    FAIL() << "no error";
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message(), L"Invalid property element: clPink");
  }
}

TEST(LoadXml, SubObjectsAreFilledNotReplaced) {
  TSample s;
  s.Extra = std::make_unique<TInner>();
  TInner* before = s.Extra.get();
  LoadXml(s, "<TSample><Extra Level=\"11\"/><Plain Width=\"9\"/></TSample>");
  EXPECT_EQ(s.Extra.get(), before);
  EXPECT_EQ(s.Extra->Level, 11);
  EXPECT_EQ(s.Plain.Width, 9);
  TSample without;
  LoadXml(without, "<TSample><Extra Level=\"11\"/></TSample>");
  EXPECT_EQ(without.Extra, nullptr);
}

TEST(LoadXml, StructureErrorLeavesTheObjectUnchanged) {
  TInner inner;
  EXPECT_THROW(LoadXml(inner, "<TInner Level=\"5\"></a></b>"), EXmlException);
  EXPECT_EQ(inner.Level, 1);
}

TEST(LoadXml, ReferenceErrorKeepsThePropertiesReadBefore) {
  TInner inner;
  EXPECT_THROW(LoadXml(inner, "<TInner Level=\"5\" Label=\"a &b\"/>"), EXmlException);
  EXPECT_EQ(inner.Level, 5);
}

// ---- lists in XML ----------------------------------------------------------------------

TEST(ListXml, ItemsElementWithItemsNamedByClass) {
  TInnerList list;
  list.Caption = L"c";
  list.AddNew()->Level = 2;
  list.AddNew()->Level = 3;
  TXmlNode node(L"TInnerList");
  list.SaveToXmlNode(&node, 0);
  EXPECT_EQ(node.FindAttribute(L"Caption")->Value, "c");
  TXmlNode* items = node.FindChild(L"Items");
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(items->Children.Count(), 2);
  EXPECT_EQ(items->Children[0]->Name, "TInner");
  EXPECT_EQ(items->Children[1]->FindAttribute(L"Level")->Value, "3");
}

TEST(ListXml, SavingReplacesOldItemElements) {
  auto node = ParseRoot("<L><Items><Old/><Old/><Old/></Items></L>");
  TInnerList list;
  list.AddNew();
  list.SaveToXmlNode(node.get(), 0);
  ASSERT_EQ(node->Children.Count(), 1);
  ASSERT_EQ(node->Children[0]->Children.Count(), 1);
  EXPECT_EQ(node->Children[0]->Children[0]->Name, "TInner");
}

TEST(ListXml, EmptyListWritesAnEmptyItemsElement) {
  TInnerList list;
  EXPECT_EQ(list.SaveToXmlText(),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<TInnerList Caption=\"\">\r\n    <Items/>\r\n</TInnerList>\r\n");
}

TEST(ListXml, ItemsDirectlyInsideTheListElementAreLoaded) {
  TInnerList list;
  LoadXml(list, "<TInnerList><TInner Level=\"4\"/><TInner Level=\"5\"/></TInnerList>");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0)->Level, 4);
  EXPECT_EQ(list.Items(1)->Level, 5);
}

TEST(ListXml, EmptyItemsElementEmptiesTheList) {
  TInnerList list;
  list.AddNew();
  list.AddNew();
  LoadXml(list, "<TInnerList><Items/></TInnerList>");
  EXPECT_EQ(list.Count(), 0);
}

TEST(ListXml, CreateItemChoosesByClassNameAndSkipsUnknown) {
  TMixedList list;
  LoadXml(list, "<L><items><TDerived Flag=\"True\"/><TUnknown/><tinner Level=\"6\"/></items></L>");
  ASSERT_EQ(list.Count(), 2);
  auto* derived = dynamic_cast<TDerived*>(list.Items(0));
  ASSERT_NE(derived, nullptr);
  EXPECT_TRUE(derived->Flag);
  EXPECT_EQ(list.Items(1)->ClassName(), "TInner");
}

TEST(ListXml, ListAsSubObjectRoundTrips) {
  TListHolder holder;
  holder.List.AddNew()->Label = L"one";
  holder.List.AddNew()->Label = L"two";
  TListHolder back;
  back.LoadFromXmlText(holder.SaveToXmlText());
  ASSERT_EQ(back.List.Count(), 2);
  EXPECT_EQ(back.List.Items(1)->Label, L"two");
  EXPECT_TRUE(back.List.ItemsEqual(&holder.List));
}

// ---- list operations --------------------------------------------------------------------

TEST(ListOperations, NegativeIndexCountsFromTheEnd) {
  TInnerList list;
  TInner* a = list.AddNew();
  TInner* b = list.AddNew();
  EXPECT_EQ(list.Items(-1), b);
  EXPECT_EQ(list.Items(-2), a);
  EXPECT_EQ(list.Items(0), a);
}

TEST(ListOperations, IndexOutOfBoundsIsAListError) {
  TInnerList list;
  list.AddNew();
  for (int index : {1, -2, 5}) {
    try {
      list.Items(index);
      ADD_FAILURE() << index;
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), L"List index out of bounds (" + std::to_wstring(index) + L")");
    }
  }
  EXPECT_THROW(list.Delete(3), EListError);
  list.Delete(0);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ListOperations, ItemsEqualComparesCountsAndItemsInOrder) {
  TInnerList a, b;
  a.AddNew()->Level = 1;
  a.AddNew()->Level = 2;
  b.AddNew()->Level = 1;
  EXPECT_FALSE(a.ItemsEqual(&b));
  b.AddNew()->Level = 2;
  EXPECT_TRUE(a.ItemsEqual(&b));
  b.Items(1)->Level = 3;
  EXPECT_FALSE(a.ItemsEqual(&b));
  EXPECT_FALSE(a.ItemsEqual(nullptr));
}

TEST(ListOperations, IsEqualIgnoresItems) {
  TInnerList a, b;
  a.AddNew();
  EXPECT_TRUE(a.IsEqual(&b));
  b.Caption = L"x";
  EXPECT_FALSE(a.IsEqual(&b));
}

// ---- Assign, Clone, CopyFrom ------------------------------------------------------------

TEST(Assign, CopiesEveryWritablePropertyDeeply) {
  TSample src = Filled();
  TSample dst;
  dst.Extra = std::make_unique<TInner>();
  dst.Assign(&src);
  EXPECT_TRUE(dst.IsEqual(&src));
  EXPECT_EQ(dst.Title, src.Title);
  EXPECT_EQ(dst.Bytes, src.Bytes);
  EXPECT_EQ(dst.Colors, src.Colors);
  EXPECT_EQ(dst.Inner.Label, L"deep");
  EXPECT_EQ(dst.Extra->Level, 8);
  EXPECT_EQ(dst.Plain.Width, 3);  // a sub-object that is not a TXmlPersistent is not copied
  src.Inner.Label = L"changed";
  EXPECT_EQ(dst.Inner.Label, L"deep");
}

TEST(Assign, MatchesPropertiesByNameAcrossClasses) {
  TInnerTwin twin;
  twin.Level = 77;
  TDerived derived;
  derived.Flag = true;
  derived.Assign(&twin);
  EXPECT_EQ(derived.Level, 77);
  EXPECT_EQ(derived.Label, L"twin");
  EXPECT_TRUE(derived.Flag);
}

TEST(Assign, FromAnObjectThatCannotCopyItselfFails) {
  TInner inner;
  TPlain plain;
  try {
    inner.Assign(&plain);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Cannot assign a TPlain to a TInner");
  }
  try {
    inner.Assign(nullptr);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Cannot assign a nil to a TInner");
  }
}

TEST(Assign, ListGetsClonesOfTheSourceItems) {
  TMixedList src;
  src.Add(new TInner());
  auto* d = new TDerived();
  d->Flag = true;
  src.Add(d);
  TMixedList dst;
  dst.Add(new TInner());
  dst.Add(new TInner());
  dst.Add(new TInner());
  dst.Assign(&src);
  ASSERT_EQ(dst.Count(), 2);
  EXPECT_NE(dst.Items(1), src.Items(1));
  EXPECT_EQ(dst.Items(1)->ClassName(), "TDerived");
  EXPECT_TRUE(dst.ItemsEqual(&src));
}

TEST(Assign, ListAssignedToItselfKeepsItsItems) {
  TInnerList list;
  list.AddNew()->Level = 4;
  list.Assign(&list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Level, 4);
}

TEST(Clone, MakesAnEqualObjectOfTheSameClass) {
  TSample src = Filled();
  std::unique_ptr<TXmlPersistent> copy = src.Clone();
  ASSERT_NE(dynamic_cast<TSample*>(copy.get()), nullptr);
  EXPECT_TRUE(copy->IsEqual(&src));
}

TEST(Clone, ListHoldsClonesNotSharedItems) {
  TInnerList list;
  list.AddNew()->Level = 10;
  list.AddNew()->Level = 20;
  auto copy = list.Clone();
  auto* copied = dynamic_cast<TInnerList*>(copy.get());
  ASSERT_NE(copied, nullptr);
  ASSERT_EQ(copied->Count(), 2);
  EXPECT_NE(copied->Items(0), list.Items(0));
  EXPECT_TRUE(copied->ItemsEqual(&list));
  copied->Items(0)->Level = 99;
  EXPECT_EQ(list.Items(0)->Level, 10);
}

TEST(Clone, ClassWithoutItsOwnConstructorIsAnAssertion) {
  TForgetful f;
  ExpectAssertion(2069, L"Assertion failure", [&] { f.Clone(); });
}

TEST(CopyFrom, CopiesThroughTheXmlForm) {
  TSample src = Filled();
  TSample dst;
  dst.Extra = std::make_unique<TInner>();
  dst.CopyFrom(src);
  EXPECT_TRUE(dst.IsEqual(&src));
  EXPECT_EQ(dst.Plain.Width, 40);  // the XML form carries plain sub-objects too
}

// ---- IsEqual ---------------------------------------------------------------------------------

TEST(IsEqual, FirstDifferenceInAnyKindGivesFalse) {
  const TSample base = Filled();
  std::vector<std::function<void(TSample&)>> changes = {
      [](TSample& s) { s.Enabled = true; },       [](TSample& s) { s.Count = 0; },
      [](TSample& s) { s.Big = 1; },              [](TSample& s) { s.Ratio = 2.7500001; },
      [](TSample& s) { s.Title = L"other"; },     [](TSample& s) { s.Bytes = "x"; },
      [](TSample& s) { s.Letter = 'R'; },         [](TSample& s) { s.WideLetter = L'a'; },
      [](TSample& s) { s.Color = clRed; },        [](TSample& s) { s.Colors.Exclude(clRed); },
      [](TSample& s) { s.Inner.Level = 0; },      [](TSample& s) { s.Extra->Label = L"?"; },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    TSample s = Filled();
    EXPECT_TRUE(s.IsEqual(&base)) << i;
    changes[i](s);
    EXPECT_FALSE(s.IsEqual(&base)) << "change " << i;
  }
}

TEST(IsEqual, NeedsTheSameClass) {
  TInner inner;
  TDerived derived;
  TInnerTwin twin;
  EXPECT_FALSE(inner.IsEqual(nullptr));
  EXPECT_FALSE(inner.IsEqual(&derived));
  EXPECT_FALSE(derived.IsEqual(&inner));
  EXPECT_FALSE(inner.IsEqual(&twin));
}

TEST(IsEqual, SubObjectsAreComparedOnlyWhenBothArePersistentAndPresent) {
  TSample a, b;
  b.Plain.Width = 100;
  EXPECT_TRUE(a.IsEqual(&b));
  b.Extra = std::make_unique<TInner>();
  b.Extra->Level = 50;
  EXPECT_TRUE(a.IsEqual(&b));
  a.Extra = std::make_unique<TInner>();
  EXPECT_FALSE(a.IsEqual(&b));
}

// ---- round trips ----------------------------------------------------------------------------

TEST(RoundTrip, StreamSaveThenLoadIntoANewObjectIsEqual) {
  TSample src = Filled();
  src.Ratio = 1.0 / 8;
  TMemoryStream stream;
  src.SaveToStream(stream, 0);
  stream.Rewind();
  TSample back;
  back.Extra = std::make_unique<TInner>();
  back.LoadFromStream(stream, 0);
  EXPECT_TRUE(back.IsEqual(&src));
  EXPECT_EQ(back.Title, src.Title);
}

TEST(RoundTrip, StreamIsWrittenAtItsPosition) {
  TInner inner;
  TMemoryStream stream(std::string("PREFIX"));
  stream.SetPosition(6);
  inner.SaveToStream(stream, 0);
  EXPECT_EQ(stream.Bytes().substr(0, 6), "PREFIX");
  stream.SetPosition(6);
  TInner back;
  back.Level = 0;
  back.LoadFromStream(stream, 0);
  EXPECT_EQ(back.Level, 1);
}

TEST(RoundTrip, FloatsBeyondFifteenDigitsAreNotExact) {
  TSample src;
  src.Ratio = 0.1 + 0.2;  // 0.30000000000000004
  TSample back;
  back.LoadFromXmlText(src.SaveToXmlText());
  EXPECT_EQ(back.Ratio, 0.3);
  EXPECT_FALSE(back.IsEqual(&src));
}

// ---- JSON --------------------------------------------------------------------------------------

TEST(Json, MembersByKind) {
  TSample s = Filled();
  nlohmann::json json = nlohmann::json::object();
  s.SaveToJson(json, 0);
  EXPECT_EQ(json["Enabled"], "False");
  EXPECT_EQ(json["Count"], -12);
  EXPECT_EQ(json["Big"], 9000000000123LL);
  EXPECT_EQ(json["Ratio"], 2.75);
  EXPECT_EQ(json["Title"], Utf8Encode(s.Title));
  EXPECT_EQ(json["Letter"], 81);
  EXPECT_EQ(json["Color"], "clBlue");
  EXPECT_EQ(json["Colors"], "clRed,clBlue");
  EXPECT_EQ(json["Inner"]["Level"], 5);
  EXPECT_EQ(json["Extra"]["Level"], 8);
  EXPECT_FALSE(json.contains("Plain"));
  EXPECT_FALSE(json.contains("OnChange"));
}

TEST(Json, RoundTripThroughJsonIsEqual) {
  TSample src = Filled();
  nlohmann::json json = nlohmann::json::object();
  src.SaveToJson(json, 0);
  TSample back;
  back.Extra = std::make_unique<TInner>();
  back.LoadFromJson(nlohmann::json::parse(json.dump()), 0);
  EXPECT_TRUE(back.IsEqual(&src));
}

TEST(Json, ConversionFailuresAndMissingMembersAreSkipped) {
  TSample s;
  s.LoadFromJson(nlohmann::json::parse(R"({"Count":"12","Big":1.5,"Ratio":"x","Enabled":"","Color":"nope",
                                            "Title":7,"Colors":"clBlue"})"),
                 0);
  EXPECT_EQ(s.Count, 7);
  EXPECT_EQ(s.Big, 0);
  EXPECT_EQ(s.Ratio, 0.5);
  EXPECT_TRUE(s.Enabled);
  EXPECT_EQ(s.Color, clRed);
  EXPECT_EQ(s.Title, L"default");
  EXPECT_TRUE(s.Colors.Has(clBlue));
  EXPECT_THROW(s.LoadFromJson(nlohmann::json::parse(R"({"Colors":"bad"})"), 0), EPropertyError);
}

TEST(Json, ListItemsCarryTheirClassName) {
  TMixedList list;
  list.Add(new TInner());
  list.Add(new TDerived());
  nlohmann::json json = nlohmann::json::object();
  list.SaveToJson(json, 0);
  ASSERT_TRUE(json["Items"].is_array());
  ASSERT_EQ(json["Items"].size(), 2u);
  EXPECT_EQ(json["Items"][1]["ClassName"], "TDerived");
  EXPECT_EQ(json["Items"][1]["Flag"], "False");

  json["Items"].push_back({{"ClassName", "TUnknown"}});
  json["Items"][0]["Level"] = 31;
  TMixedList back;
  back.Add(new TInner());
  back.LoadFromJson(json, 0);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.Items(0)->ClassName(), "TInner");
  EXPECT_EQ(static_cast<TInner*>(back.Items(0))->Level, 31);
  EXPECT_EQ(back.Items(1)->ClassName(), "TDerived");
}

TEST(Json, ListWithoutItemsArrayIsCleared) {
  TInnerList list;
  list.AddNew();
  list.LoadFromJson(nlohmann::json::parse(R"({"Caption":"c","Items":5})"), 0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Caption, L"c");
}

// ---- unsupported kinds ----------------------------------------------------------------------

TEST(UnsupportedKind, EveryRoutineFailsWithItsAssertion) {
  TWithVariant a, b;
  ExpectAssertion(750, L"Variant", [&] { a.SaveToXmlText(); });
  ExpectAssertion(934, L"Variant", [&] { a.LoadFromXmlText("<TWithVariant Data=\"1\"/>"); });
  ExpectAssertion(2019, L"Assertion failure", [&] { a.Assign(&b); });
  ExpectAssertion(2170, L"Assertion failure", [&] { a.IsEqual(&b); });
  ExpectAssertion(2340, L"Variant", [&] { a.LoadFromJson(nlohmann::json::parse(R"({"Data":1})"), 0); });
  ExpectAssertion(3072, L"Variant", [&] {
    nlohmann::json json = nlohmann::json::object();
    a.SaveToJson(json, 0);
  });
  // Without its attribute or member the property is not met.
  EXPECT_NO_THROW(a.LoadFromXmlText("<TWithVariant Before=\"2\"/>"));
  EXPECT_EQ(a.Before, 2);
}

// ---- files ---------------------------------------------------------------------------------------

class PersistenceFiles : public ::testing::Test {
protected:
  void SetUp() override {
    FRoot = std::filesystem::temp_directory_path() /
            ("nv_persist_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FRoot);
  }
  void TearDown() override { std::filesystem::remove_all(FRoot); }
  std::wstring Path(const std::wstring& relative) const {
    std::wstring root = FRoot.wstring();
#ifdef _WIN32
    return root + L"\\" + relative;
#else
    return root + L"/" + StringReplaceAll(relative, L"\\", L"/", false);
#endif
  }
  std::filesystem::path FRoot;
};

TEST_F(PersistenceFiles, SaveToFileCreatesMissingFoldersAndLoadReadsItBack) {
  TSample src = Filled();
  const std::wstring file = Path(L"a\\b\\sample.xml");
  src.SaveToFile(file, 0);
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(ReadFileBytes(file), src.SaveToXmlText());
  TSample back;
  back.Extra = std::make_unique<TInner>();
  back.LoadFromFile(file, 0);
  EXPECT_TRUE(back.IsEqual(&src));
}

TEST_F(PersistenceFiles, SaveToFileOverwrites) {
  const std::wstring file = Path(L"over.xml");
  TInner big;
  big.Label = std::wstring(500, L'x');
  big.SaveToFile(file, 0);
  TInner small;
  small.SaveToFile(file, 0);
  EXPECT_EQ(ReadFileBytes(file), small.SaveToXmlText());
}

TEST_F(PersistenceFiles, LoadingAMissingFileRaisesOpenError) {
  TInner inner;
  EXPECT_THROW(inner.LoadFromFile(Path(L"missing.xml"), 0), EFOpenError);
}

TEST_F(PersistenceFiles, JsonFileEscapesEverythingOutsideAscii) {
  std::filesystem::create_directories(FRoot);
  TSample s = Filled();
  const std::wstring file = Path(L"sample.json");
  s.SaveToJsonFile(file, 0);
  std::string text = ReadFileBytes(file);
  for (unsigned char c : text) ASSERT_LT(c, 0x80) << "non-ASCII byte in JSON text";
  EXPECT_NE(text.find("\\u5b89"), std::string::npos);
  TSample back;
  back.Extra = std::make_unique<TInner>();
  back.LoadFromJson(nlohmann::json::parse(text), 0);
  EXPECT_TRUE(back.IsEqual(&s));
}

TEST_F(PersistenceFiles, EmptyListJsonFileHasAnItemsArray) {
  std::filesystem::create_directories(FRoot);
  TInnerList list;
  const std::wstring file = Path(L"list.json");
  list.SaveToJsonFile(file, 0);
  nlohmann::json json = nlohmann::json::parse(ReadFileBytes(file));
  ASSERT_TRUE(json.contains("Items"));
  EXPECT_TRUE(json["Items"].is_array());
  EXPECT_TRUE(json["Items"].empty());
}

}  // namespace
