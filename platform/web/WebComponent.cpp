#include "platform/web/WebComponent.h"

#include <algorithm>

#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"
#include "platform/web/WebForm.h"

namespace web {

std::string Color::css() const {
  if (!isSet()) return "";
  return "#" + IntToHex(static_cast<uint32_t>(rgb), 6);
}

Component::~Component() {
  while (!owned_.empty()) {
    std::unique_ptr<Component> last = std::move(owned_.back());
    owned_.pop_back();
    last->owner_ = nullptr;
    last.reset();
  }
}

Component* Component::adopt(std::unique_ptr<Component> c) {
  c->owner_ = this;
  owned_.push_back(std::move(c));
  return owned_.back().get();
}

bool Component::destroyOwned(Component* c) {
  auto it = std::find_if(owned_.begin(), owned_.end(), [c](const auto& p) { return p.get() == c; });
  if (it == owned_.end()) return false;
  std::unique_ptr<Component> doomed = std::move(*it);
  owned_.erase(it);
  doomed->owner_ = nullptr;
  return true;
}

Control::Control(std::string name, Control* parent) : Component(std::move(name)) { setParent(parent); }

Control::~Control() {
  setParent(nullptr);
  for (Control* child : children_) child->parent_ = nullptr;
}

void Control::setParent(Control* parent) {
  if (parent_ == parent) return;
  if (parent_) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  parent_ = parent;
  if (parent_) parent_->children_.push_back(this);
}

void Control::applyPost(const HttpRequest&, const std::string&) {}

bool Control::fire(const std::string& eventName, const ParamMap& params) {
  if ((eventName == "DoOnAsyncClick" || eventName == "OnAsyncClick") && onAsyncClick) {
    onAsyncClick(*this, params);
    return true;
  }
  return false;
}

void Control::render(RenderContext& ctx, std::string& out, bool positioned) {
  const std::string id = ctx.idOf(*this);
  RenderedControl info;
  info.parentId = ctx.parents.empty() ? std::string() : ctx.parents.back();
  std::string html = "<div id=\"" + id + "IWCL\"";
  if (positioned && keepBelow) {
    html += " data-below=\"" + HtmlEscape(ctx.idOf(*keepBelow)) + "IWCL\" data-top=\"" + IntToStr(top) + "\"";
  }
  std::string style;
  if (positioned) {
    style = "position:absolute;left:" + IntToStr(left) + "px;top:" + IntToStr(top) + "px;";
    if (width > 0) style += "width:" + IntToStr(width) + "px;";
    if (height > 0) style += "height:" + IntToStr(height) + "px;";
  } else {
    style = "display:inline-block;";
  }
  if (!visible) style += "display:none;";
  html += " style=\"" + style + "\">";
  if (visible) {
    info.active = enabled;
    info.input = enabled && acceptsInput();
    ctx.parents.push_back(id);
    renderContent(ctx, id, html);
    ctx.parents.pop_back();
  }
  html += "</div>";
  info.html = html;
  ctx.rendered[id] = std::move(info);
  out += html;
}

void Control::renderChildren(RenderContext& ctx, std::string& out) {
  // A copy: rendering never changes the tree, but a child list is cheap.
  const std::vector<Control*> kids = children_;
  for (Control* child : kids) child->render(ctx, out);
}

std::string Control::styleAttr(const std::string& extra) const {
  std::string s;
  if (font.color.isSet()) s += "color:" + font.color.css() + ";";
  if (font.bold) s += "font-weight:bold;";
  if (font.size > 0) s += "font-size:" + IntToStr(font.size) + "pt;";
  s += extra;
  return s.empty() ? std::string() : " style=\"" + HtmlEscape(s) + "\"";
}

std::string Control::commonAttrs(const std::string& skipEvent) const {
  std::string a;
  if (!hint.empty()) a += " title=\"" + HtmlEscape(hint) + "\"";
  if (!cssClass.empty()) a += " class=\"" + HtmlEscape(cssClass) + "\"";
  for (const auto& [event, script] : scriptEvents) {
    const std::string lower = LowerCase(event);
    if (lower == skipEvent) continue;
    a += " " + lower + "=\"" + HtmlEscape(script) + "\"";
  }
  return a;
}

std::string RenderContext::idOf(const Control& c) const {
  std::string id = UpperCase(c.name());
  const Component* cur = c.owner() ? c.owner() : c.parent();
  while (cur) {
    const auto* ctl = dynamic_cast<const Control*>(cur);
    if (ctl && ctl->isNameScope() && ctl != &root_) id = UpperCase(ctl->name()) + "_" + id;
    if (cur->owner()) {
      cur = cur->owner();
    } else {
      cur = ctl ? ctl->parent() : nullptr;
    }
  }
  return id;
}

std::string RenderContext::fileUrl(const std::string& file) const {
  const size_t cut = file.find_last_of("/\\");
  const std::string bare = cut == std::string::npos ? file : file.substr(cut + 1);
  return urlBase_ + "/files/" + UrlEncode(bare);
}

namespace {

void Walk(const RenderContext& ctx, Control& c, const std::function<void(Control&, const std::string&)>& fn) {
  fn(c, ctx.idOf(c));
  const std::vector<Control*> kids = c.children();
  for (Control* k : kids) Walk(ctx, *k, fn);
}

}  // namespace

void ForEachControl(const RenderContext& ctx, Control& root, const std::function<void(Control&, const std::string&)>& fn) {
  const std::vector<Control*> kids = root.children();
  for (Control* k : kids) Walk(ctx, *k, fn);
}

}  // namespace web
