#include "platform/web/WebForm.h"

#include "platform/SysUtils.h"
#include "platform/web/WebApplication.h"
#include "platform/web/WebEscape.h"

namespace web {

AppForm::AppForm(WebApplication& app, std::string name) : Control(std::move(name)), app_(app) {}

AppForm::~AppForm() = default;

void AppForm::show() { app_.show(this); }

void AppForm::release() { app_.release(this); }

void AppForm::renderContent(RenderContext& ctx, const std::string& id, std::string& out) {
  out += "<div id=\"" + id + "\" style=\"position:relative;\">";
  renderChildren(ctx, out);
  out += "</div>";
}

namespace {

bool InTree(Control& root, const Control* target) {
  if (&root == target) return true;
  for (Control* c : root.children()) {
    if (InTree(*c, target)) return true;
  }
  return false;
}

}  // namespace

std::string RenderPage(AppForm& form, RenderContext& ctx, const PageRenderInput& in) {
  std::string controls;
  // The form's own children are written as the page body.
  for (Control* c : std::vector<Control*>(form.children())) c->render(ctx, controls);

  std::string onload = "VTFW.init(" + JsString(in.urlBase) + "," + (in.showLoadingAnimation ? "true" : "false") + ");";
  for (const auto& js : form.initProc()) onload += js;
  if (form.activeControl && InTree(form, form.activeControl)) {
    onload += "VTFW.focus(" + JsString(ctx.idOf(*form.activeControl)) + ");";
  }
  onload += ctx.initScript;
  for (const auto& js : in.scripts) onload += js;

  std::string page;
  page.reserve(controls.size() + 2048);
  page += "<!DOCTYPE html>\n<html><head><meta charset=\"windows-1252\"><title>" + HtmlEscape(form.title) +
          "</title>\n<script src=\"" + HtmlEscape(in.urlBase) + "/files/vtfw.js\"></script>\n";
  if (!form.javaScript.empty()) page += "<script>" + form.javaScript + "</script>\n";
  page += "</head>\n<body";
  if (form.background.isSet()) page += " style=\"background-color:" + form.background.css() + "\"";
  page += " onload=\"" + HtmlEscape(onload) + "\">\n";
  if (!in.errorText.empty()) {
    page += "<div id=\"VTFW_ERROR\" style=\"position:fixed;left:0;right:0;top:0;z-index:100;background:#FFE0E0;"
            "color:#C00000;font-weight:bold;padding:4px;\">" +
            HtmlEscape(in.errorText) + "</div>\n";
  }
  page += "<form id=\"SUBMITFORM\" method=\"post\" action=\"" + HtmlEscape(in.urlBase) +
          "/\" accept-charset=\"windows-1252\"";
  if (ctx.multipart) page += " enctype=\"multipart/form-data\"";
  page += " onsubmit=\"return VTFW.allowSubmit();\">\n<input type=\"hidden\" name=\"VT_SESSION\" value=\"" +
          HtmlEscape(in.sessionId) + "\"><input type=\"hidden\" name=\"VT_TRACK\" value=\"" + IntToStr(in.trackId) +
          "\"><input type=\"hidden\" name=\"VT_EVENT\" value=\"\"><input type=\"hidden\" name=\"VT_EVENTPARAM\" "
          "value=\"\">\n";
  page += controls;
  page += "\n</form>\n<div id=\"VTFW_BUSY\" style=\"display:none;position:fixed;right:8px;top:8px;z-index:101;"
          "background:#FFFFE0;border:1px solid #808080;padding:2px 6px;\">Loading...</div>\n</body></html>\n";
  return page;
}

}  // namespace web
