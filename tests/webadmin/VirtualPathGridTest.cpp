// The virtual-path grid through the dispatcher: the cell HTML and marks each
// post leaves, the store into the domain's paths, and bad posts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fDomainsMain.h"

namespace {

using web::TestBrowser;

const char* const Options =
    "<option>-- No Selection --</option><option>-- Domain Default --</option><option>pool</option>"
    "<option>a&quot;b&#39;&lt;c&amp;d</option>";

class VirtualPathGridTest : public WebAdminFixture {
 protected:
  VirtualPathGridTest() { WriteDomain(false); }

  void WriteDomain(bool ssl) {
    WriteSettings([ssl](TDomainHandler& h) {
      auto pool = h.ServerClusters->Add();
      pool->Name = "pool";
      h.ServerClusters->Add()->Name = "a\"b'<c&d";
      TDomain* d = h.AddDomain();
      d->DomainName = "a.example";
      d->DefaultTargetAddress = "10.0.0.1";
      d->SSL = ssl;
      TVirtualPath* p0 = d->AddVirtualPath();
      p0->SetPath("/p0");
      p0->TargetAddress = "10.0.0.2";
      p0->OutPort = 8080;
      p0->SSL = true;
      p0->SetCluster(pool.get());
      TVirtualPath* p1 = d->AddVirtualPath();
      p1->SetPath("/p1");
      p1->Enabled = false;
      p1->SetCluster(nullptr);
      TVirtualPath* p2 = d->AddVirtualPath();
      p2->SetPath("/p2");
    });
  }

  TestBrowser OpenGrid() {
    TestBrowser b = OpenMenu("IMGDOMAINS");
    EXPECT_TRUE(b.click("GRDDOMAINS_R1C3"));
    EXPECT_NE(Page(b), nullptr);
    return b;
  }
  static TfrmDomainsMain* Page(TestBrowser& b) { return b.activeForm<TfrmDomainsMain>(); }
  static const VirtualPathGrid& Grid(TestBrowser& b) { return Page(b)->VirtualPaths(); }
  static web::AsyncAnswer Post(TestBrowser& b, const std::string& params) {
    return b.async("IWLABEL13.DoOnAsyncClick", params);
  }
  TDomain& CopyDomain(TestBrowser& b) {
    web::CurrentAppGuard guard(b.session().get());
    return *UserSession()->GetCurrentDomain();
  }
  std::vector<std::string> CopyPaths(TestBrowser& b) {
    std::vector<std::string> out;
    for (const auto& p : CopyDomain(b).VirtualPaths) out.push_back(p->Path);
    return out;
  }
  static bool Sent(const web::AsyncAnswer& a, const std::string& id) {
    for (const auto& u : a.updatedIds)
      if (u == id) return true;
    return false;
  }
};

TEST_F(VirtualPathGridTest, BuildWritesEveryTemplate) {
  TestBrowser b = OpenGrid();
  const VirtualPathGrid& g = Grid(b);
  ASSERT_EQ(g.RowCount(), 4);
  web::Grid& grid = *Page(b)->grdVirtualPaths;
  EXPECT_EQ(grid.colCount(), 15);
  EXPECT_EQ(grid.cell(0, 4).text, "&nbsp;Path replace / Redirect URL&nbsp;");
  EXPECT_EQ(grid.cell(0, 10).text, "&nbsp;Permanent redir.&nbsp;");
  EXPECT_TRUE(grid.cell(0, 11).bold);
  const std::string divStyle = "style=\"width:100%;cursor: pointer; cursor: hand;\"";
  struct Case {
    int row, col;
    std::string html;
  };
  const Case cases[] = {
      {1, 0, "<img id=\"R1C0\" src=\"files/StatusGreen.jpg\" onclick=\"DoAsyncCellClick(this, event, 1)\">"},
      {2, 0, "<img id=\"R2C0\" src=\"files/StatusGray.jpg\" onclick=\"DoAsyncCellClick(this, event, 0)\">"},
      {1, 1, "<div id=\"R1C1\" " + divStyle + " onclick=\"DoAsyncEditClick(this, event, 0)\">/p0</div>"},
      {1, 4, "<div id=\"R1C4\" " + divStyle + " onclick=\"DoAsyncEditClick(this, event, 0)\">&nbsp;</div>"},
      {1, 5, "<div id=\"R1C5\" " + divStyle + " onclick=\"DoAsyncEditClick(this, event, 0)\">8080</div>"},
      {2, 5, "<div id=\"R2C5\" " + divStyle + " onclick=\"DoAsyncEditClick(this, event, 0)\">&nbsp;</div>"},
      {1, 6, "<img id=\"R1C6\" src=\"files/StatusGreen.jpg\" onclick=\"DoAsyncCellClick(this, event, 1)\">"},
      {1, 11, "<div id=\"R1C11\" " + divStyle +
                  " onclick=\"DoAsyncComboBoxClick(this, event, 0, 2, '<option>-- No Selection --</option><option>-- "
                  "Domain Default --</option><option selected>pool</option><option>a&amp;quot;b&amp;#39;&amp;lt;c&amp;"
                  "amp;d</option>')\">pool</div>"},
      {2, 11, "<div id=\"R2C11\" " + divStyle +
                  " onclick=\"DoAsyncComboBoxClick(this, event, 0, 0, '<option selected>-- No Selection "
                  "--</option><option>-- Domain Default --</option><option>pool</option><option>a&amp;quot;b&amp;#39;"
                  "&amp;lt;c&amp;amp;d</option>')\">-- No Selection --</div>"},
      {3, 11, "<div id=\"R3C11\" " + divStyle +
                  " onclick=\"DoAsyncComboBoxClick(this, event, 0, 1, '<option>-- No Selection --</option><option "
                  "selected>-- Domain Default --</option><option>pool</option><option>a&amp;quot;b&amp;#39;&amp;lt;c&amp;"
                  "amp;d</option>')\">-- Domain Default --</div>"},
      {1, 12, "<img id=\"R1C12\" src=\"files/StatusGray.jpg\" onclick=\"DoAsyncRemoveRowClick(this, event, 0)\">"},
      {1, 13, "<img id=\"R1C13\" src=\"files/DomainUp.jpg\" onclick=\"DoAsyncImageClick(this, event, 1)\">"},
      {3, 14, "<img id=\"R3C14\" src=\"files/DomainDown.jpg\" onclick=\"DoAsyncImageClick(this, event, 0)\">"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.row) + "," + std::to_string(c.col));
    EXPECT_EQ(g.CellHtml(c.row, c.col), c.html);
    EXPECT_EQ(grid.cell(c.row, c.col).text, c.html);
  }
  EXPECT_EQ(grid.cell(1, 6).alignment, "center");
  EXPECT_EQ(g.Options("none"), Options);
  EXPECT_EQ(g.OptionIndex("a\"b'<c&d"), 3);
  // The page shows the cells as written: the table's own id, the grid in its wrapper.
  EXPECT_TRUE(b.has("TBLGRDVIRTUALPATHS"));
  EXPECT_TRUE(b.has("R3C14"));
  EXPECT_EQ(b.doc().byId("R1C11")->attr("onclick"),
            "DoAsyncComboBoxClick(this, event, 0, 2, '<option>-- No Selection --</option><option>-- Domain Default "
            "--</option><option selected>pool</option><option>a&quot;b&#39;&lt;c&amp;d</option>')");
}

TEST_F(VirtualPathGridTest, PostsChangeCellsAndMarks) {
  struct Case {
    const char* name;
    std::string params;
    int row, col;
    std::string html;  // "" : not checked
    bool untouched;    // of row 4, the added row
    bool gridSent;
  };
  const std::string divStyle = "style=\"width:100%;cursor: pointer; cursor: hand;\"";
  const Case cases[] = {
      {"addRow", "cmd=addRow", 4, 0,
       "<img id=\"R4C0\" src=\"files/StatusGreen.jpg\" onclick=\"DoAsyncCellClick(this, event, 1)\">", true, true},
      {"new row's cluster", "", 4, 11, "", true, false},
      {"open with empty text keeps the mark", "sender=R4C1&state=0&s=", 4, 1,
       "<input id=\"R4C1\" class=\"g_edit_box\" style=\"width:100%;\" type=\"input\" value=\"&nbsp;\" "
       "onkeydown=\"DoAsyncKeyPress(this, event, 1)\" onblur=\"DoAsyncEditClick(this, event, 1)\">",
       true, false},
      {"switching On/Off off keeps the mark", "sender=R4C0&state=1", 4, 0,
       "<img id=\"R4C0\" src=\"files/StatusGray.jpg\" onclick=\"DoAsyncCellClick(this, event, 0)\">", true, false},
      {"switching it on again clears it", "sender=R4C0&state=0", 4, 0,
       "<img id=\"R4C0\" src=\"files/StatusGreen.jpg\" onclick=\"DoAsyncCellClick(this, event, 1)\">", false, false},
      {"commit of an edited text", "sender=R1C2&state=1&s=a%26b%2Bc", 1, 2,
       "<div id=\"R1C2\" " + divStyle + " onclick=\"DoAsyncEditClick(this, event, 0)\">a&amp;b+c</div>", false, false},
      {"commit of an emptied text", "sender=R1C3&state=1&s=%26nbsp%3B", 1, 3,
       "<div id=\"R1C3\" " + divStyle + " onclick=\"DoAsyncEditClick(this, event, 0)\">&nbsp;</div>", false, false},
      {"a flag", "row=2&col=7&state=0", 2, 7,
       "<img id=\"R2C7\" src=\"files/StatusGreen.jpg\" onclick=\"DoAsyncCellClick(this, event, 1)\">", false, false},
      {"cluster opens", "sender=R2C11&state=0&s=-- No Selection --", 2, 11,
       "<select id=\"R2C11\" style=\"width:100%;\" onkeydown=\"return DoAsyncKeyPress(this, event, 2, 0)\" "
       "onBlur=\"DoAsyncComboBoxClick(this, event, 1, 0, '<option selected>-- No Selection --</option><option>-- "
       "Domain Default --</option><option>pool</option><option>a&amp;quot;b&amp;#39;&amp;lt;c&amp;amp;d</option>')\" "
       "onChange=\"DoAsyncComboBoxClick(this, event, 1, 0, '<option selected>-- No Selection --</option><option>-- "
       "Domain Default --</option><option>pool</option><option>a&amp;quot;b&amp;#39;&amp;lt;c&amp;amp;d</option>')\">"
       "<option selected>-- No Selection --</option><option>-- Domain Default --</option><option>pool</option>"
       "<option>a&quot;b&#39;&lt;c&amp;d</option></select>",
       false, false},
      {"remove", "sender=R3C12&state=0&cmd=removeRow", 3, 12,
       "<img id=\"R3C12\" src=\"files/StatusRed.jpg\" onclick=\"DoAsyncRemoveRowClick(this, event, 1)\">", false,
       false},
      {"undo remove", "sender=R3C12&state=1&cmd=undo_removeRow", 3, 12,
       "<img id=\"R3C12\" src=\"files/StatusGray.jpg\" onclick=\"DoAsyncRemoveRowClick(this, event, 0)\">", false,
       false},
      {"moveRow up on row 1", "cmd=moveRow&sender=R1C13&up=1", 1, 1, "", false, false},
      {"moveRow of the new row", "cmd=moveRow&sender=R4C14&up=0", 4, 1, "", false, false},
  };
  TestBrowser b = OpenGrid();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const web::AsyncAnswer a = Post(b, c.params);
    EXPECT_FALSE(a.reload);
    EXPECT_EQ(Sent(a, "GRDVIRTUALPATHSIWCL"), c.gridSent) << a.body.substr(0, 300);
    // The busy indicator goes back to gray in every answer.
    EXPECT_TRUE(Sent(a, "IMGBUSYIWCL"));
    EXPECT_TRUE(Sent(a, "LBLBUSYIWCL"));
    EXPECT_EQ(Page(b)->imgBusy->fileName, "StatusGray.jpg");
    ASSERT_EQ(Grid(b).RowCount(), 5);
    if (!c.html.empty()) {
      EXPECT_EQ(Grid(b).CellHtml(c.row, c.col), c.html);
    }
    EXPECT_EQ(Grid(b).Untouched(4), c.untouched);
    EXPECT_EQ(Page(b)->grdVirtualPaths->cell(4, 0).tag, c.untouched ? 1 : 0);
  }
  EXPECT_EQ(Grid(b).CellValue(4, 11), "-- Domain Default --");
  EXPECT_EQ(Grid(b).CellValue(1, 2), "a&b+c");
  EXPECT_EQ(Grid(b).CellValue(1, 3), "");
  EXPECT_EQ(CopyPaths(b), (std::vector<std::string>{"/p0", "/p1", "/p2"}));
}

TEST_F(VirtualPathGridTest, MoveRowReordersTheCopyAndDropsUnstoredEdits) {
  TestBrowser b = OpenGrid();
  Post(b, "sender=R2C1&state=1&s=/typed");
  Post(b, "cmd=addRow");
  const web::AsyncAnswer a = Post(b, "cmd=moveRow&sender=R1C14&up=0");
  EXPECT_TRUE(Sent(a, "GRDVIRTUALPATHSIWCL"));
  EXPECT_EQ(CopyPaths(b), (std::vector<std::string>{"/p1", "/p0", "/p2"}));
  EXPECT_EQ(Grid(b).RowCount(), 4);
  EXPECT_EQ(Grid(b).CellValue(1, 1), "/p1");
  Post(b, "cmd=moveRow&sender=R3C14&up=0");  // down on the last path
  Post(b, "cmd=moveRow&sender=R3C13&up=1");
  EXPECT_EQ(CopyPaths(b), (std::vector<std::string>{"/p1", "/p2", "/p0"}));
}

TEST_F(VirtualPathGridTest, BadPostsChangeNothing) {
  TestBrowser b = OpenGrid();
  const std::string before = Page(b)->grdVirtualPaths->cell(1, 1).text;
  for (const char* params : {"sender=R999C1&state=1&s=x", "sender=R1C99&state=1&s=x", "sender=X&state=1&s=x",
                             "sender=R0C1&state=1&s=x", "sender=R-1C1&state=1&s=x", "sender=R1C1x&state=1&s=x",
                             "row=-1&col=1&state=1&s=x", "row=1&state=1&s=x", "sender=R1C13&state=0",
                             "cmd=dropTable&sender=R1C1", "cmd=removeRow", "cmd=removeRow&sender=R9C12",
                             "cmd=moveRow&sender=R77C13&up=1"}) {
    SCOPED_TRACE(params);
    const web::AsyncAnswer a = Post(b, params);
    EXPECT_EQ(a.status, 200);
    EXPECT_FALSE(Sent(a, "GRDVIRTUALPATHSIWCL"));
    EXPECT_EQ(Grid(b).RowCount(), 4);
    EXPECT_EQ(Page(b)->grdVirtualPaths->cell(1, 1).text, before);
    EXPECT_FALSE(Grid(b).Marked(1));
  }
  EXPECT_EQ(CopyPaths(b), (std::vector<std::string>{"/p0", "/p1", "/p2"}));
}

TEST_F(VirtualPathGridTest, StoreDropsUntouchedRowsAndTakesTypedOnes) {
  TestBrowser b = OpenGrid();
  Post(b, "cmd=addRow");                        // row 4: left untouched
  Post(b, "cmd=addRow");                        // row 5: a path typed
  Post(b, "sender=R5C1&state=0&s=");
  Post(b, "sender=R5C1&state=1&s=app");
  Post(b, "cmd=addRow");                        // row 6: only its flag switched on
  Post(b, "sender=R6C8&state=0");
  Post(b, "sender=R2C1&state=1&s=/renamed");    // a stored row changed
  Post(b, "sender=R1C11&state=1&s=gone");       // a cluster nobody has
  Post(b, "sender=R2C11&state=1&s=-- Domain Default --");
  Post(b, "sender=R3C11&state=1&s=a%22b%27%3Cc%26d");
  Post(b, "sender=R3C5&state=1&s=81");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  auto h = FromFile();
  const TDomain& d = *h->Domains[0];
  ASSERT_EQ(d.VirtualPaths.Count(), 5);
  EXPECT_EQ(d.VirtualPaths[1]->Path, "/renamed");
  const TVirtualPath& typed = *d.VirtualPaths[3];
  EXPECT_EQ(typed.Path, "/app");
  EXPECT_TRUE(typed.Enabled);
  EXPECT_FALSE(typed.SSL || typed.App || typed.Tomcat || typed.Redirect || typed.PermanentRedirect);
  EXPECT_EQ(typed.Cluster, TVirtualPath::ClusterKind::DomainCluster);
  EXPECT_EQ(typed.OutPort, 0);
  EXPECT_EQ(d.VirtualPaths[4]->Path, "/");
  EXPECT_TRUE(d.VirtualPaths[4]->Tomcat);
  // An unknown name keeps the cluster; the fixed choices and names map.
  ASSERT_NE(d.VirtualPaths[0]->GetCluster(), nullptr);
  EXPECT_EQ(d.VirtualPaths[0]->GetCluster()->Name, "pool");
  EXPECT_EQ(d.VirtualPaths[1]->Cluster, TVirtualPath::ClusterKind::DomainCluster);
  ASSERT_NE(d.VirtualPaths[2]->GetCluster(), nullptr);
  EXPECT_EQ(d.VirtualPaths[2]->GetCluster()->Name, "a\"b'<c&d");
  EXPECT_EQ(d.VirtualPaths[2]->OutPort, 81);
  // The grid was rebuilt from the copy.
  EXPECT_EQ(Grid(b).RowCount(), 6);
  EXPECT_FALSE(Grid(b).Untouched(5));
}

TEST_F(VirtualPathGridTest, AnSSLDomainKeepsItsPathsFlag) {
  WriteDomain(true);
  TestBrowser b = OpenGrid();
  Post(b, "sender=R1C6&state=1");  // off in the grid
  Post(b, "sender=R2C6&state=0");  // on in the grid
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  auto h = FromFile();
  EXPECT_TRUE(h->Domains[0]->VirtualPaths[0]->SSL);
  EXPECT_FALSE(h->Domains[0]->VirtualPaths[1]->SSL);
}

TEST_F(VirtualPathGridTest, RemovalMarksActOnlyOnACommittingStoreAndFreeThePath) {
  TestBrowser b = OpenGrid();
  Post(b, "sender=R2C12&state=0&cmd=removeRow");
  const int32_t removedId = CopyDomain(b).VirtualPaths[1]->Id;
  // Menu navigation within the domain's pages stores without committing.
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINSHEADERS"));
  EXPECT_EQ(CopyPaths(b), (std::vector<std::string>{"/p0", "/p1", "/p2"}));
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINSMAIN"));
  ASSERT_NE(Page(b), nullptr);
  EXPECT_TRUE(Grid(b).Marked(2));
  EXPECT_EQ(b.doc().byId("R2C12")->attr("src"), "files/StatusRed.jpg");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(CopyPaths(b), (std::vector<std::string>{"/p0", "/p2"}));
  EXPECT_EQ(Copy(b).FindVirtualPathById(removedId), nullptr);
  EXPECT_EQ(Copy(b).VirtualPaths.Count(), 2);
  EXPECT_EQ(FromFile()->Domains[0]->VirtualPaths.Count(), 2);
  EXPECT_FALSE(Grid(b).Marked(2));
}

TEST_F(VirtualPathGridTest, AFailedStoreChangesNothingAndTheRetryMapsRowsRight) {
  TestBrowser b = OpenGrid();
  Post(b, "cmd=addRow");                          // row 4, untouched
  Post(b, "cmd=addRow");                          // row 5
  Post(b, "sender=R5C1&state=1&s=/x");
  Post(b, "sender=R5C5&state=1&s=abc");
  b.type("EDTDOMAINNAME", "changed.example");
  const int before = reloads;
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(reloads, before);
  ASSERT_EQ(b.alerts().size(), 1u);
  EXPECT_EQ(CopyPaths(b), (std::vector<std::string>{"/p0", "/p1", "/p2"}));
  EXPECT_EQ(CopyDomain(b).DomainName, "a.example");
  Post(b, "sender=R5C5&state=1&s=82");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(reloads, before + 1);
  auto h = FromFile();
  const TDomain& d = *h->Domains[0];
  ASSERT_EQ(d.VirtualPaths.Count(), 4);
  EXPECT_EQ(d.VirtualPaths[3]->Path, "/x");
  EXPECT_EQ(d.VirtualPaths[3]->OutPort, 82);
  EXPECT_EQ(d.DomainName, "changed.example");
}

TEST_F(VirtualPathGridTest, TextsRoundTripAsTheFormPostGivesThem) {
  TestBrowser b = OpenGrid();
  // a"b'<c&d+e ä, as the page's script encodes it for a windows-1252 page.
  const std::string text = "a\"b'<c&d+e \xE4";
  Post(b, "sender=R1C3&state=0&s=");
  Post(b, "sender=R1C3&state=1&s=a%22b%27%3Cc%26d%2Be%20%E4");
  EXPECT_EQ(Grid(b).CellValue(1, 3), text);
  EXPECT_EQ(Grid(b).CellHtml(1, 3).find(">a&quot;b&#39;&lt;c&amp;d+e \xE4</div>") != std::string::npos, true);
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(FromFile()->Domains[0]->VirtualPaths[0]->HostReplace, text);
  // Built again from the copy, the page shows the same text.
  EXPECT_EQ(b.doc().innerText(*b.doc().byId("R1C3")), text);
  // Still open when the store runs: read as it stands.
  Post(b, "sender=R1C2&state=0&s=" "10.9.9.9");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(FromFile()->Domains[0]->VirtualPaths[0]->TargetAddress, "10.9.9.9");
}

}  // namespace
