#include "platform/web/WebControls.h"

#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"

namespace web {

namespace {

std::string SubmitCall(const std::string& id, const std::string& eventName) {
  return "VTFW.submit(" + JsString(id) + "," + JsString(eventName) + ")";
}

// onclick text: the page's own script first, then the post (behind a
// confirmation when there is one).
std::string ClickScript(const Control& c, const std::string& id, bool posts, const std::string& confirmation) {
  std::string js;
  auto it = c.scriptEvents.find("onclick");
  if (it == c.scriptEvents.end()) it = c.scriptEvents.find("onClick");
  if (it != c.scriptEvents.end()) js += it->second;
  if (posts) {
    if (!js.empty() && js.back() != ';') js += ";";
    if (!confirmation.empty()) js += "if(confirm(" + JsString(confirmation) + "))";
    js += SubmitCall(id, "OnClick") + ";";
  }
  return js;
}

std::string SizeStyle(const Control& c) {
  std::string s;
  if (c.width > 0) s += "width:" + IntToStr(c.width) + "px;";
  if (c.height > 0) s += "height:" + IntToStr(c.height) + "px;";
  return s;
}

std::string Disabled(const Control& c) { return c.enabled ? "" : " disabled"; }

}  // namespace

void Label::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<span id=\"" + id + "\"" + styleAttr() + commonAttrs() + ">" + HtmlEscape(caption) + "</span>";
}

void Text::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<div id=\"" + id + "\"" + styleAttr() + commonAttrs() + ">";
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += "<br>";
    out += HtmlEscape(lines[i]);
  }
  out += "</div>";
}

bool Button::fire(const std::string& eventName, const ParamMap& params) {
  if (eventName == "OnClick" && onClick) {
    onClick(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void Button::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<input type=\"button\" id=\"" + id + "\" value=\"" + HtmlEscape(caption) + "\"" +
         styleAttr(SizeStyle(*this)) + commonAttrs("onclick") + Disabled(*this) + " onclick=\"" +
         HtmlEscape(ClickScript(*this, id, static_cast<bool>(onClick), confirmation)) + "\">";
}

void Edit::applyPost(const HttpRequest& req, const std::string& id) {
  if (req.hasField(id)) text = req.field(id);
}

bool Edit::fire(const std::string& eventName, const ParamMap& params) {
  if (eventName == "OnSubmit" && onSubmit) {
    onSubmit(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void Edit::renderContent(RenderContext&, const std::string& id, std::string& out) {
  // Enter posts the field's submit event when it has one; otherwise it is
  // swallowed, so the browser never posts the form without an event.
  const std::string key = onSubmit ? "return VTFW.key(event," + JsString(id) + ",'OnSubmit')"
                                   : "return VTFW.key(event,'','')";
  out += "<input type=\"" + std::string(password ? "password" : "text") + "\" id=\"" + id + "\" name=\"" + id +
         "\" value=\"" + HtmlEscape(text) + "\"";
  if (maxLength > 0) out += " maxlength=\"" + IntToStr(maxLength) + "\"";
  if (readOnly) out += " readonly";
  out += Disabled(*this) + styleAttr(SizeStyle(*this)) + commonAttrs("onkeydown") + " onkeydown=\"" + HtmlEscape(key) +
         "\">";
}

std::string Memo::text() const {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

void Memo::setText(const std::string& t) {
  lines.clear();
  std::string cur;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
}

void Memo::applyPost(const HttpRequest& req, const std::string& id) {
  if (req.hasField(id)) setText(req.field(id));
}

void Memo::renderContent(RenderContext&, const std::string& id, std::string& out) {
  std::string body;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) body += "\r\n";
    body += lines[i];
  }
  // A leading line break after <textarea> is dropped by HTML parsers; one
  // extra keeps a text that starts with an empty line.
  // A read-only memo has no name, so the browser never posts its text.
  out += "<textarea id=\"" + id + "\"" + (readOnly ? " readonly" : " name=\"" + id + "\"") + Disabled(*this) +
         styleAttr(SizeStyle(*this)) + commonAttrs() + ">\n" + HtmlEscape(body) + "</textarea>";
}

void CheckBox::applyPost(const HttpRequest& req, const std::string& id) { checked = req.hasField(id); }

bool CheckBox::fire(const std::string& eventName, const ParamMap& params) {
  if (eventName == "OnClick" && onClick) {
    onClick(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void CheckBox::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<label" + styleAttr() + "><input type=\"checkbox\" id=\"" + id + "\" name=\"" + id + "\" value=\"on\"";
  if (checked) out += " checked";
  if (!enabled || !editable) out += " disabled";
  out += commonAttrs("onclick");
  if (onClick) out += " onclick=\"" + HtmlEscape(SubmitCall(id, "OnClick")) + "\"";
  out += ">" + HtmlEscape(caption) + "</label>";
}

void ListControl::addItem(const std::string& text, const void* object) {
  objects.resize(items.size(), nullptr);
  items.push_back(text);
  objects.push_back(object);
}

void ListControl::clear() {
  items.clear();
  objects.clear();
  itemIndex = -1;
}

std::string ListControl::text() const {
  return itemIndex >= 0 && itemIndex < static_cast<int>(items.size()) ? items[itemIndex] : std::string();
}

const void* ListControl::selectedObject() const {
  return itemIndex >= 0 && itemIndex < static_cast<int>(objects.size()) ? objects[itemIndex] : nullptr;
}

void ListControl::applyPost(const HttpRequest& req, const std::string& id) {
  if (!req.hasField(id)) return;
  int32_t v = 0;
  if (TryStrToInt(req.field(id), v) && v >= -1 && v < static_cast<int32_t>(items.size())) itemIndex = v;
}

std::string ListControl::optionsHtml(bool withNoSelection, const std::string& noSelectionText) const {
  std::string o;
  if (withNoSelection) o += "<option value=\"-1\" selected>" + HtmlEscape(noSelectionText) + "</option>";
  for (size_t i = 0; i < items.size(); ++i) {
    o += "<option value=\"" + IntToStr(static_cast<int64_t>(i)) + "\"" +
         (static_cast<int>(i) == itemIndex ? " selected" : "") + ">" + HtmlEscape(items[i]) + "</option>";
  }
  return o;
}

bool ComboBox::fire(const std::string& eventName, const ParamMap& params) {
  if (eventName == "OnChange" && onChange) {
    onChange(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void ComboBox::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<select id=\"" + id + "\" name=\"" + id + "\"" + Disabled(*this) + styleAttr(SizeStyle(*this)) +
         commonAttrs("onchange");
  if (onChange) out += " onchange=\"" + HtmlEscape(SubmitCall(id, "OnChange")) + "\"";
  const bool none = itemIndex < 0 || itemIndex >= static_cast<int>(items.size());
  out += ">" + optionsHtml(none, noSelectionText) + "</select>";
}

bool ListBox::fire(const std::string& eventName, const ParamMap& params) {
  if (eventName == "OnClick" && onClick) {
    onClick(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void ListBox::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<select id=\"" + id + "\" name=\"" + id + "\" size=\"" + IntToStr(rows > 1 ? rows : 2) + "\"" +
         Disabled(*this) + styleAttr(SizeStyle(*this)) + commonAttrs("onchange");
  if (onClick) out += " onchange=\"" + HtmlEscape(SubmitCall(id, "OnClick")) + "\"";
  out += ">";
  if (items.empty() && !emptyText.empty()) {
    out += "<option value=\"-1\" disabled>" + HtmlEscape(emptyText) + "</option>";
  } else {
    out += optionsHtml(false, "");
  }
  out += "</select>";
}

void RadioGroup::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<div id=\"" + id + "\"" + styleAttr() + commonAttrs() + ">";
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string index = IntToStr(static_cast<int64_t>(i));
    if (i && columns <= 1) out += "<br>";
    out += "<label><input type=\"radio\" id=\"" + id + "_" + index + "\" name=\"" + id + "\" value=\"" + index + "\"" +
           (static_cast<int>(i) == itemIndex ? " checked" : "") + Disabled(*this) + ">" + HtmlEscape(items[i]) +
           "</label>";
  }
  out += "</div>";
}

bool ImageFile::fire(const std::string& eventName, const ParamMap& params) {
  if (eventName == "OnClick" && onClick) {
    onClick(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void ImageFile::renderContent(RenderContext& ctx, const std::string& id, std::string& out) {
  out += "<img id=\"" + id + "\" src=\"" + HtmlEscape(ctx.fileUrl(fileName)) + "\" alt=\"\"";
  if (width > 0) out += " width=\"" + IntToStr(width) + "\"";
  if (height > 0) out += " height=\"" + IntToStr(height) + "\"";
  out += styleAttr(onClick && enabled ? "cursor:pointer;" : "") + commonAttrs("onclick");
  const std::string click = ClickScript(*this, id, onClick && enabled, confirmation);
  if (!click.empty()) out += " onclick=\"" + HtmlEscape(click) + "\"";
  out += ">";
}

void Url::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<a id=\"" + id + "\" href=\"" + HtmlEscape(url.empty() ? "#" : url) + "\"";
  if (!target.empty()) out += " target=\"" + HtmlEscape(target) + "\"";
  out += styleAttr() + commonAttrs() + ">" + HtmlEscape(caption) + "</a>";
}

void UrlWindow::renderContent(RenderContext&, const std::string& id, std::string& out) {
  out += "<iframe id=\"" + id + "\" src=\"" + HtmlEscape(url) + "\" scrolling=\"no\" frameborder=\"0\"" +
         styleAttr(SizeStyle(*this)) + commonAttrs() + "></iframe>";
}

std::string UploadBaseName(const std::string& sent) {
  const size_t cut = sent.find_last_of("/\\");
  std::string base = cut == std::string::npos ? sent : sent.substr(cut + 1);
  if (base == "." || base == "..") return "";
  return base;
}

void FileUpload::applyPost(const HttpRequest& req, const std::string& id) {
  fileName_.clear();
  content_.clear();
  for (const auto& f : req.files) {
    if (f.field != id) continue;
    fileName_ = UploadBaseName(f.fileName);
    if (!fileName_.empty()) content_ = f.content;
    return;
  }
}

// Uploads are certificates and their private keys: a new one is the owner's alone.
void FileUpload::saveToFile(const std::string& path) const {
  WriteFileReplacing(path, std::vector<uint8_t>(content_.begin(), content_.end()), "", 0600);
}

void FileUpload::renderContent(RenderContext& ctx, const std::string& id, std::string& out) {
  ctx.multipart = true;
  out += "<input type=\"file\" id=\"" + id + "\" name=\"" + id + "\"" + Disabled(*this) + styleAttr() +
         commonAttrs() + ">";
}

bool Timer::fire(const std::string& eventName, const ParamMap& params) {
  if (eventName == "OnTimer" && onTimer) {
    onTimer(*this);
    return true;
  }
  return Control::fire(eventName, params);
}

void Timer::renderContent(RenderContext& ctx, const std::string& id, std::string& out) {
  out += "<span id=\"" + id + "\"></span>";
  if (enabled && onTimer && interval > 0) {
    ctx.initScript += "setTimeout(function(){" + SubmitCall(id, "OnTimer") + ";}," + IntToStr(interval) + ");";
  }
}

void Region::renderContent(RenderContext& ctx, const std::string& id, std::string& out) {
  std::string extra = "position:relative;width:100%;height:100%;";
  if (background.isSet()) extra += "background-color:" + background.css() + ";";
  if (border) extra += "border:1px solid #808080;";
  out += "<div id=\"" + id + "\"" + styleAttr(extra) + commonAttrs() + ">";
  renderChildren(ctx, out);
  out += "</div>";
}

}  // namespace web
