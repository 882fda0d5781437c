#include "webadmin/VirtualPathGrid.h"

#include <memory>

#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"

namespace {

const char* const Headers[VirtualPathGrid::ColCount] = {
    "On/Off", "Path", "Target address", "Host replace", "Path replace / Redirect URL", "Outport", "SSL", "App",
    "Tomcat", "Redirect", "Permanent redir.", "Server cluster", "Remove", "Up", "Down"};
// Widths of the columns with texts, so that a cell being typed in and the
// cluster names stay readable; 0: as wide as the content.
const int ColWidths[VirtualPathGrid::ColCount] = {0, 100, 110, 90, 110, 60, 0, 0, 0, 0, 0, 130, 0, 0, 0};

bool IsFlagCol(int col) { return col == VirtualPathGrid::ColOnOff || (col >= VirtualPathGrid::ColSSL && col <= VirtualPathGrid::ColPermanentRedirect); }
bool IsTextCol(int col) { return col >= VirtualPathGrid::ColPath && col <= VirtualPathGrid::ColOutPort; }

const std::string& Param(const web::ParamMap& params, const std::string& name, bool& present) {
  static const std::string empty;
  auto it = params.find(name);
  present = it != params.end();
  return present ? it->second : empty;
}

std::string Param(const web::ParamMap& params, const std::string& name) {
  bool present = false;
  return Param(params, name, present);
}

// A whole decimal number of at most six digits (cell coordinates).
bool SmallNumber(const std::string& s, int& out) {
  if (s.empty() || s.size() > 6) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// "R<row>C<col>", nothing else.
bool ParseSender(const std::string& sender, int& row, int& col) {
  if (sender.size() < 4 || sender[0] != 'R') return false;
  const size_t c = sender.find('C', 1);
  if (c == std::string::npos) return false;
  return SmallNumber(sender.substr(1, c - 1), row) && SmallNumber(sender.substr(c + 1), col);
}

std::string CellId(int row, int col) { return "R" + IntToStr(row) + "C" + IntToStr(col); }

// A cell value as element text: escaped, and "&nbsp;" when empty.
std::string ShownText(const std::string& text) { return text.empty() ? "&nbsp;" : web::HtmlEscape(text); }

// The option list inside a single-quoted script string inside a double-quoted
// attribute: the names are already HTML, so only the string's and the
// attribute's own quoting is added.
std::string OptionsArgument(const std::string& options) {
  std::string out;
  for (char c : options) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return "'" + out + "'";
}

const char* const DivStyle = "style=\"width:100%;cursor: pointer; cursor: hand;\"";

}  // namespace

void VirtualPathGrid::AddRow(Row row) {
  rows_.push_back(std::move(row));
  const int r = RowCount() - 1;
  grid_.setRowCount(RowCount());
  for (int c = 0; c < ColCount; ++c) Write(r, c);
}

void VirtualPathGrid::Build(const TDomain& domain, const TDomainHandler& handler) {
  clusterNames_.clear();
  for (const auto& c : *handler.ServerClusters) clusterNames_.push_back(c->Name);
  grid_.clearCells();
  grid_.setColCount(ColCount);
  grid_.setRowCount(1);
  grid_.tag = 0;
  rows_.assign(1, Row());
  for (int c = 0; c < ColCount; ++c) {
    web::GridCell& cell = grid_.cell(0, c);
    cell.text = std::string("&nbsp;") + Headers[c] + "&nbsp;";
    cell.bold = true;
    cell.width = ColWidths[c];
  }
  for (const auto& p : domain.VirtualPaths) {
    Row row;
    row.path = p.get();
    row.cells[ColOnOff].value = p->Enabled;
    row.cells[ColPath].text = p->Path;
    row.cells[ColTarget].text = p->TargetAddress;
    row.cells[ColHostReplace].text = p->HostReplace;
    row.cells[ColPathReplace].text = p->PathReplace;
    row.cells[ColOutPort].text = p->OutPort > 0 ? IntToStr(p->OutPort) : "";
    row.cells[ColSSL].value = p->SSL;
    row.cells[ColApp].value = p->App;
    row.cells[ColTomcat].value = p->Tomcat;
    row.cells[ColRedirect].value = p->Redirect;
    row.cells[ColPermanentRedirect].value = p->PermanentRedirect;
    switch (p->Cluster) {
      case TVirtualPath::ClusterKind::None:
        row.cells[ColCluster].text = NoSelection;
        break;
      case TVirtualPath::ClusterKind::DomainCluster:
        row.cells[ColCluster].text = DomainDefault;
        break;
      case TVirtualPath::ClusterKind::Explicit:
        row.cells[ColCluster].text = p->ServerCluster ? p->ServerCluster->Name : NoSelection;
        break;
    }
    row.cells[ColUp].value = true;
    AddRow(std::move(row));
  }
}

std::string VirtualPathGrid::Options(const std::string& text) const {
  auto option = [&text](const std::string& name) {
    return std::string(name == text ? "<option selected>" : "<option>") + web::HtmlEscape(name) + "</option>";
  };
  std::string out = option(NoSelection) + option(DomainDefault);
  for (const auto& name : clusterNames_) out += option(name);
  return out;
}

int VirtualPathGrid::OptionIndex(const std::string& text) const {
  if (text == NoSelection) return 0;
  if (text == DomainDefault) return 1;
  for (size_t i = 0; i < clusterNames_.size(); ++i)
    if (clusterNames_[i] == text) return static_cast<int>(i) + 2;
  return -1;
}

std::string VirtualPathGrid::CellHtml(int row, int col) const {
  const Cell& cell = rows_.at(row).cells.at(col);
  const std::string id = CellId(row, col);
  if (IsFlagCol(col)) {
    return "<img id=\"" + id + "\" src=\"files/" + (cell.value ? "StatusGreen" : "StatusGray") +
           ".jpg\" onclick=\"DoAsyncCellClick(this, event, " + (cell.value ? "1" : "0") + ")\">";
  }
  if (IsTextCol(col)) {
    if (cell.editing) {
      return "<input id=\"" + id + "\" class=\"g_edit_box\" style=\"width:100%;\" type=\"input\" value=\"" +
             ShownText(cell.text) +
             "\" onkeydown=\"DoAsyncKeyPress(this, event, 1)\" onblur=\"DoAsyncEditClick(this, event, 1)\">";
    }
    return "<div id=\"" + id + "\" " + DivStyle + " onclick=\"DoAsyncEditClick(this, event, 0)\">" +
           ShownText(cell.text) + "</div>";
  }
  if (col == ColCluster) {
    const std::string options = Options(cell.text);
    const std::string index = IntToStr(OptionIndex(cell.text));
    const std::string arg = OptionsArgument(options);
    if (cell.editing) {
      return "<select id=\"" + id + "\" style=\"width:100%;\" onkeydown=\"return DoAsyncKeyPress(this, event, 2, " +
             index + ")\" onBlur=\"DoAsyncComboBoxClick(this, event, 1, " + index + ", " + arg +
             ")\" onChange=\"DoAsyncComboBoxClick(this, event, 1, " + index + ", " + arg + ")\">" + options +
             "</select>";
    }
    return "<div id=\"" + id + "\" " + DivStyle + " onclick=\"DoAsyncComboBoxClick(this, event, 0, " + index + ", " +
           arg + ")\">" + ShownText(cell.text) + "</div>";
  }
  if (col == ColRemove) {
    return "<img id=\"" + id + "\" src=\"files/" + (cell.value ? "StatusRed" : "StatusGray") +
           ".jpg\" onclick=\"DoAsyncRemoveRowClick(this, event, " + (cell.value ? "1" : "0") + ")\">";
  }
  const bool up = col == ColUp;
  return "<img id=\"" + id + "\" src=\"files/" + (up ? "DomainUp" : "DomainDown") +
         ".jpg\" onclick=\"DoAsyncImageClick(this, event, " + (up ? "1" : "0") + ")\">";
}

void VirtualPathGrid::Write(int row, int col) {
  web::GridCell& cell = grid_.cell(row, col);
  cell.text = CellHtml(row, col);
  if (IsFlagCol(col) || col >= ColRemove) cell.alignment = "center";
  if (col == ColOnOff) cell.tag = rows_[row].untouched ? 1 : 0;
}

void VirtualPathGrid::SetBoolCell(int row, int col, bool value) {
  rows_.at(row).cells.at(col).value = value;
  Write(row, col);
}

void VirtualPathGrid::SetTextCell(int row, int col, const std::string& text, bool asDiv) {
  Cell& cell = rows_.at(row).cells.at(col);
  cell.text = text;
  cell.editing = !asDiv;
  Write(row, col);
}

void VirtualPathGrid::SetClusterCell(int row, int col, const std::string& text, bool asDiv) {
  SetTextCell(row, col, text, asDiv);
}

void VirtualPathGrid::SetRemoveCell(int row, int col, bool marked) { SetBoolCell(row, col, marked); }

void VirtualPathGrid::SetMoveCell(int row, int col, bool up) { SetBoolCell(row, col, up); }

bool VirtualPathGrid::CellAt(const web::ParamMap& params, int& row, int& col) const {
  bool hasSender = false;
  const std::string& sender = Param(params, "sender", hasSender);
  bool ok;
  if (hasSender) {
    ok = ParseSender(sender, row, col);
  } else {
    ok = SmallNumber(Param(params, "row"), row) && SmallNumber(Param(params, "col"), col);
  }
  return ok && row >= 1 && row < RowCount() && col >= 0 && col < ColCount;
}

VirtualPathGrid::PostResult VirtualPathGrid::Handle(const web::ParamMap& params, TDomain& domain,
                                                   const TDomainHandler& handler) {
  const std::string cmd = Param(params, "cmd");
  int row = 0, col = 0;
  if (!cmd.empty()) {
    if (cmd == "addRow") {
      Row r;
      r.untouched = true;
      r.cells[ColOnOff].value = true;
      r.cells[ColCluster].text = DomainDefault;
      r.cells[ColUp].value = true;
      AddRow(std::move(r));
      return PostResult::GridRebuilt;
    }
    if (cmd == "removeRow" || cmd == "undo_removeRow") {
      if (!ParseSender(Param(params, "sender"), row, col) || row < 1 || row >= RowCount()) return PostResult::Ignored;
      SetRemoveCell(row, ColRemove, cmd == "removeRow");
      return PostResult::CellsChanged;
    }
    if (cmd == "moveRow") {
      if (!ParseSender(Param(params, "sender"), row, col) || row < 1 || row >= RowCount()) return PostResult::Ignored;
      const int index = row - 1;
      const int target = Param(params, "up") == "1" ? index - 1 : index + 1;
      if (index >= domain.VirtualPaths.Count() || target < 0 || target >= domain.VirtualPaths.Count()) {
        return PostResult::CellsChanged;
      }
      domain.VirtualPaths.Move(index, target);
      Build(domain, handler);
      return PostResult::GridRebuilt;
    }
    return PostResult::Ignored;
  }
  if (!CellAt(params, row, col)) return PostResult::Ignored;
  const std::string state = Param(params, "state");
  Row& r = rows_[row];
  if (IsFlagCol(col)) {
    SetBoolCell(row, col, state == "0");
    if (state == "0") r.untouched = false;
  } else if (IsTextCol(col)) {
    const std::string s = Param(params, "s");
    // The scripts post an emptied cell as "&nbsp;".
    SetTextCell(row, col, s == "&nbsp;" ? std::string() : s, state == "1");
    if (!s.empty()) r.untouched = false;
  } else if (col == ColCluster) {
    SetClusterCell(row, col, Param(params, "s"), state == "1");
    r.untouched = false;
  } else {
    return PostResult::Ignored;
  }
  Write(row, ColOnOff);
  return PostResult::CellsChanged;
}

void VirtualPathGrid::Validate() const {
  for (int i = 1; i < RowCount(); ++i) {
    const std::string& port = rows_[i].cells[ColOutPort].text;
    if (!port.empty()) StrToInt(port);
  }
}

void VirtualPathGrid::Store(TDomain& domain, TDomainHandler& handler, bool commit) {
  struct Staged {
    int row;
    TVirtualPath* path;
    int32_t outPort;
    TVirtualPath::ClusterKind clusterKind;
    TServerCluster* cluster;
    bool keepCluster;
  };
  std::vector<Staged> staged;
  for (int i = 1; i < RowCount(); ++i) {
    const Row& r = rows_[i];
    if (r.path) {
      // A row whose path left the domain meanwhile has nothing to store into.
      if (domain.VirtualPaths.IndexOf(r.path) < 0) continue;
    } else if (r.untouched) {
      continue;
    }
    Staged s{i, r.path, 0, TVirtualPath::ClusterKind::DomainCluster, nullptr, false};
    const std::string port = r.cells[ColOutPort].text;
    s.outPort = port.empty() ? 0 : StrToInt(port);
    const std::string& cluster = r.cells[ColCluster].text;
    if (cluster == NoSelection) {
      s.clusterKind = TVirtualPath::ClusterKind::None;
    } else if (cluster == DomainDefault) {
      s.clusterKind = TVirtualPath::ClusterKind::DomainCluster;
    } else {
      s.keepCluster = true;
      for (const auto& c : *handler.ServerClusters) {
        if (c->Name == cluster) {
          s.clusterKind = TVirtualPath::ClusterKind::Explicit;
          s.cluster = c.get();
          s.keepCluster = false;
          break;
        }
      }
    }
    staged.push_back(s);
  }

  std::vector<TVirtualPath*> removals;
  for (Staged& s : staged) {
    Row& r = rows_[s.row];
    TVirtualPath* p = s.path ? s.path : domain.AddVirtualPath();
    p->Enabled = r.cells[ColOnOff].value;
    p->SetPath(r.cells[ColPath].text);
    p->TargetAddress = r.cells[ColTarget].text;
    p->HostReplace = r.cells[ColHostReplace].text;
    p->Redirect = r.cells[ColRedirect].value;
    p->PermanentRedirect = r.cells[ColPermanentRedirect].value;
    p->SetTargetPath(r.cells[ColPathReplace].text);
    p->OutPort = s.outPort;
    if (!domain.SSL) p->SSL = r.cells[ColSSL].value;
    p->App = r.cells[ColApp].value;
    p->Tomcat = r.cells[ColTomcat].value;
    if (!s.keepCluster) {
      if (s.clusterKind == TVirtualPath::ClusterKind::None) {
        p->SetCluster(nullptr);
      } else if (s.clusterKind == TVirtualPath::ClusterKind::DomainCluster) {
        p->SetDomainCluster();
      } else {
        p->SetCluster(s.cluster);
      }
    }
    r.path = p;
    grid_.cell(s.row, ColRemove).tagObject = r.cells[ColRemove].value ? p : nullptr;
    if (r.cells[ColRemove].value) removals.push_back(p);
  }
  if (!commit) return;
  for (TVirtualPath* p : removals) domain.RemoveVirtualPath(p);
  // The rows now show exactly the domain's paths again.
  Build(domain, handler);
}
