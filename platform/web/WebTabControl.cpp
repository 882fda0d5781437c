#include "platform/web/WebTabControl.h"

#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"

namespace web {

std::vector<TabPage*> TabControl::pages() const {
  std::vector<TabPage*> out;
  for (Control* c : children()) {
    if (auto* p = dynamic_cast<TabPage*>(c)) out.push_back(p);
  }
  return out;
}

void TabControl::applyPost(const HttpRequest& req, const std::string& id) {
  int32_t v = 0;
  if (req.hasField(id) && TryStrToInt(req.field(id), v) && v >= 0 && v < static_cast<int32_t>(pages().size())) {
    activePage = v;
  }
}

bool TabControl::fire(const std::string& eventName, const ParamMap& params) {
  if ((eventName == "OnChange" || eventName == "DoOnAsyncChange") && onChange) {
    onChange(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void TabControl::renderContent(RenderContext& ctx, const std::string& id, std::string& out) {
  const std::vector<TabPage*> all = pages();
  out += "<div id=\"" + id + "\"" + styleAttr("position:relative;width:100%;height:100%;") + commonAttrs() + ">";
  out += "<input type=\"hidden\" id=\"" + id + "_ACTIVE\" name=\"" + id + "\" value=\"" + IntToStr(activePage) + "\">";
  out += "<div class=\"vtfw-tabs\">";
  for (size_t i = 0; i < all.size(); ++i) {
    const bool on = static_cast<int>(i) == activePage;
    out += "<span id=\"" + id + "_TAB" + IntToStr(static_cast<int64_t>(i)) +
           "\" style=\"display:inline-block;padding:3px 10px;cursor:pointer;border:1px solid #808080;" +
           (on ? "background:#FFFFFF;font-weight:bold;" : "background:#E0DFE3;") + "\" onclick=\"" +
           HtmlEscape("VTFW.tabSelect(" + JsString(id) + "," + IntToStr(static_cast<int64_t>(i)) + ")") + "\">" +
           HtmlEscape(all[i]->title) + "</span>";
  }
  out += "</div><div style=\"position:relative;\">";
  for (size_t i = 0; i < all.size(); ++i) {
    // Pages not chosen stay in the page, hidden, so their fields post.
    const bool keepVisible = all[i]->visible;
    std::string page;
    all[i]->render(ctx, page);
    if (static_cast<int>(i) != activePage && keepVisible) {
      const std::string marker = "style=\"";
      const size_t at = page.find(marker);
      if (at != std::string::npos) page.insert(at + marker.size(), "visibility:hidden;");
      // What was sent, so an asynchronous answer compares like with like.
      auto rendered = ctx.rendered.find(ctx.idOf(*all[i]));
      if (rendered != ctx.rendered.end()) rendered->second.html = page;
    }
    out += page;
  }
  out += "</div></div>";
}

}  // namespace web
