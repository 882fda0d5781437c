// A page: a control tree with a title, a focus control, page script and a
// render hook. Constructing a page is its creation handler and destroying it
// its destroy handler; the session (WebApplication) owns its pages.
#pragma once

#include <string>
#include <vector>

#include "platform/web/WebComponent.h"

namespace web {

class AppForm : public Control {
 public:
  AppForm(WebApplication& app, std::string name);
  ~AppForm() override;

  WebApplication& app() const { return app_; }

  std::string title;
  Control* activeControl = nullptr;  // focused when the page loads
  std::string javaScript;            // the page's own script functions
  Color background;
  // Script run once the page has loaded, at every render.
  void addToInitProc(const std::string& js) { initProc_.push_back(js); }
  const std::vector<std::string>& initProc() const { return initProc_; }

  // Makes this the page the browser shows next.
  void show();
  // Frees the page once the running handler has returned; a handler may
  // release its own page and go on.
  void release();

  // Runs before every render of a page whose controls are shown.
  virtual void onRender() {}

  bool isNameScope() const override { return true; }
  bool isContainer() const override { return true; }

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;

 private:
  WebApplication& app_;
  std::vector<std::string> initProc_;
};

struct PageRenderInput {
  std::string urlBase;
  std::string sessionId;
  int trackId = 0;
  std::vector<std::string> scripts;  // alerts and added scripts, run after load
  std::string errorText;             // shown as a banner at the top
  bool showLoadingAnimation = true;
};

// The whole page of Form: head, hidden fields, controls; fills Ctx.rendered.
std::string RenderPage(AppForm& form, RenderContext& ctx, const PageRenderInput& in);

}  // namespace web
