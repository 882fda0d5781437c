#include "platform/Classes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/SysUtils.h"

namespace {

std::vector<std::string> Items(const TStringList& l) { return l.Items(); }

TEST(StringList, TextJoinsWithCrLfAndSplitsAnyBreak) {
  TStringList l;
  EXPECT_EQ(l.Text(), "");
  l.Add("a");
  l.Add("");
  l.Add("b");
  EXPECT_EQ(l.Text(), "a\r\n\r\nb\r\n");

  struct Case {
    const char* text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},  // a final break adds no empty line
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\n\r", {"a", ""}},  // LF then a lone CR: two breaks
      {"a\r\r\n", {"a", ""}},
  };
  for (const Case& c : cases) {
    l.SetText(c.text);
    EXPECT_EQ(Items(l), c.items) << "text: " << testing::PrintToString(std::string(c.text));
  }
  // Text and SetText round-trip.
  l.SetText("x\r\ny\r\n");
  TStringList copy;
  copy.SetText(l.Text());
  EXPECT_EQ(copy, l);
}

// Dropped lines leave their storage for later ones; what a list holds and
// what a copy gets are only its own lines.
TEST(StringList, RefilledListHoldsOnlyItsNewLines) {
  const std::string longLine(300, 'x');
  TStringList l;
  l.SetText(longLine + "\r\nsecond line of some length\r\nthird");
  l.Put(2, std::string(200, 'p'));
  l.Delete(1);
  l.Clear();
  EXPECT_TRUE(l.Empty());
  std::string spare = l.SpareLine();
  EXPECT_TRUE(spare.empty());
  spare = "short";
  l.Add(std::move(spare));
  l.AddStrings(l);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"short", "short"}));

  TStringList other;
  other.SetText("b\r\n" + longLine);
  other.SetSorted(true);
  l.Assign(other);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"b", longLine}));
  EXPECT_TRUE(l.Sorted());
  // A copy starts without kept storage and with the same lines.
  TStringList copy(l);
  EXPECT_EQ(copy, l);
  EXPECT_EQ(copy.SpareLine().capacity(), std::string().capacity());
  l.Clear();
  EXPECT_EQ(copy.Count(), 2);
}

// A list that once held a huge head keeps at most 64 KiB of its dropped
// lines and, once cleared, of line slots, however it dropped them; a usual
// head is still kept whole for the next one.
TEST(StringList, KeepsLittleOfAHugeList) {
  constexpr size_t kBound = TStringList::kKeptBytes;
  struct Shape {
    size_t lines;
    size_t length;
  };
  const std::vector<std::pair<std::string, std::function<void(TStringList&)>>> drops = {
      {"Clear", [](TStringList& l) { l.Clear(); }},
      {"Delete", [](TStringList& l) { while (!l.Empty()) l.Delete(l.Count() - 1); }},
      {"SetText", [](TStringList& l) { l.SetText("a\r\nb"); }},
      {"Assign", [](TStringList& l) { l.Assign(TStringList()); }},
  };
  for (const Shape shape : {Shape{100000, 40}, Shape{2000, 4000}, Shape{20, 100000}}) {
    for (const auto& [name, drop] : drops) {
      SCOPED_TRACE(name + " of " + std::to_string(shape.lines) + " lines of " + std::to_string(shape.length));
      TStringList l;
      for (size_t i = 0; i < shape.lines; ++i) l.Add(std::string(shape.length, 'h'));
      drop(l);
      EXPECT_LE(l.KeptBytes(), kBound);
      if (name != "Delete") {
        EXPECT_LE(l.Items().capacity() * sizeof(std::string), kBound);
      }
      // What is kept is accounted for: handing it all out leaves nothing.
      while (l.SpareLine().capacity() > std::string().capacity()) {
      }
      EXPECT_EQ(l.KeptBytes(), 0u);
    }
  }

  TStringList head;
  for (int i = 0; i < 30; ++i) head.Add(std::string(60, 'h'));
  head.Clear();
  EXPECT_GE(head.KeptBytes(), 30u * 60u);
  TStringList moved(std::move(head));
  EXPECT_EQ(head.KeptBytes(), 0u);  // NOLINT(bugprone-use-after-move): a moved-from list is empty
  EXPECT_GE(moved.KeptBytes(), 30u * 60u);
  EXPECT_GE(moved.SpareLine().capacity(), 60u);
}

TEST(StringList, IndexCheckedAccess) {
  TStringList l;
  l.Add("one");
  EXPECT_EQ(l[0], "one");
  EXPECT_THROW(l[1], ERangeError);
  EXPECT_THROW(l[-1], ERangeError);
  EXPECT_THROW(l.Delete(1), ERangeError);
  EXPECT_THROW(l.Put(2, "x"), ERangeError);
  EXPECT_THROW(l.Insert(2, "x"), ERangeError);
  l.Insert(1, "two");  // at Count appends
  l.Insert(0, "zero");
  EXPECT_EQ(Items(l), (std::vector<std::string>{"zero", "one", "two"}));
  l.Move(0, 2);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"one", "two", "zero"}));
  l.Exchange(0, 2);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"zero", "two", "one"}));
  l.Delete(1);
  EXPECT_EQ(Items(l), (std::vector<std::string>{"zero", "one"}));
  l.AddStrings(l);
  EXPECT_EQ(l.Count(), 4);
}

TEST(StringList, IndexOfFollowsTheCaseRule) {
  TStringList l;
  l.Add("Accept-Encoding");
  l.Add("accept");
  EXPECT_EQ(l.IndexOf("ACCEPT-encoding"), 0);
  EXPECT_EQ(l.IndexOf("Accept"), 1);
  EXPECT_EQ(l.IndexOf("Accep"), -1);
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("ACCEPT-encoding"), -1);
  EXPECT_EQ(l.IndexOf("accept"), 1);
}

TEST(StringList, NameValueAccess) {
  TStringList l;
  l.Add("Host=example.com");
  l.Add("plain line");
  l.Add("Empty=");
  l.Add("Key=a=b");
  EXPECT_EQ(l.Values("host"), "example.com");  // names ignore case by default
  EXPECT_EQ(l.Values("Key"), "a=b");           // split at the first "="
  EXPECT_EQ(l.Values("Empty"), "");
  EXPECT_EQ(l.IndexOfName("Empty"), 2);
  EXPECT_EQ(l.Values("plain line"), "");
  EXPECT_EQ(l.IndexOfName("plain line"), -1);
  EXPECT_EQ(l.IndexOfName("Ho"), -1);
  EXPECT_EQ(l.Names(0), "Host");
  EXPECT_EQ(l.Names(1), "");
  EXPECT_EQ(l.ValueFromIndex(3), "a=b");

  l.SetValue("HOST", "other");  // replaces in place
  EXPECT_EQ(l[0], "HOST=other");
  l.SetValue("New", "1");
  EXPECT_EQ(l[l.Count() - 1], "New=1");
  l.SetValue("key", "");  // an empty value deletes
  EXPECT_EQ(l.IndexOfName("Key"), -1);
  l.SetValue("Absent", "");
  EXPECT_EQ(l.Count(), 4);

  l.SetCaseSensitive(true);
  EXPECT_EQ(l.Values("host"), "");
  EXPECT_EQ(l.Values("HOST"), "other");
}

TEST(StringList, SortingAndSortedAdd) {
  TStringList l;
  for (const char* s : {"b", "C", "a", "B"}) l.Add(s);
  l.Sort();
  EXPECT_EQ(Items(l), (std::vector<std::string>{"a", "b", "B", "C"}));  // stable among equals
  l.SetCaseSensitive(true);
  l.Sort();
  EXPECT_EQ(Items(l), (std::vector<std::string>{"B", "C", "a", "b"}));
  l.CustomSort([](const std::string& a, const std::string& b) { return a > b; });
  EXPECT_EQ(Items(l), (std::vector<std::string>{"b", "a", "C", "B"}));

  TStringList s;
  s.SetSorted(true);
  EXPECT_TRUE(s.Sorted());
  EXPECT_EQ(s.Add("m"), 0);
  EXPECT_EQ(s.Add("z"), 1);
  EXPECT_EQ(s.Add("a"), 0);
  EXPECT_EQ(s.Add("M"), 2);  // after the equal "m"
  EXPECT_EQ(Items(s), (std::vector<std::string>{"a", "m", "M", "z"}));
  s.SetText("q\r\nb");
  EXPECT_EQ(Items(s), (std::vector<std::string>{"b", "q"}));

  TStringList late;
  for (const char* x : {"c", "a", "b"}) late.Add(x);
  late.SetSorted(true);  // sorting on switch-on
  EXPECT_EQ(Items(late), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(StringList, CommaText) {
  TStringList l;
  for (const char* s : {"a", "b c", "", "x,y", "q\"t"}) l.Add(s);
  EXPECT_EQ(l.CommaText(), "a,\"b c\",\"\",\"x,y\",\"q\"\"t\"");
  TStringList back;
  back.SetCommaText(l.CommaText());
  EXPECT_EQ(back, l);

  back.SetCommaText(" a , b c,");
  EXPECT_EQ(Items(back), (std::vector<std::string>{"a", "b", "c", ""}));
  back.SetCommaText("");
  EXPECT_TRUE(back.Empty());
  back.SetCommaText("\"unclosed");
  EXPECT_EQ(Items(back), (std::vector<std::string>{"unclosed"}));
}

}  // namespace
