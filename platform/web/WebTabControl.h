// Tabs switched in the browser: every page is sent, the ones not chosen are
// hidden, and a hidden field brings the chosen page back with the post. So
// the controls of every page post their values, whichever tab shows.
#pragma once

#include <string>
#include <vector>

#include "platform/web/WebControls.h"

namespace web {

class TabPage : public Region {
 public:
  using Region::Region;
  std::string title;
};

class TabControl : public Control {
 public:
  using Control::Control;
  bool isContainer() const override { return true; }
  bool acceptsInput() const override { return true; }

  // The pages are the TabPage children, in creation order.
  std::vector<TabPage*> pages() const;
  int activePage = 0;
  // Fired (as "OnChange", or "DoOnAsyncChange" from a page script) after a
  // switch; the switch itself needs no server.
  Handler onChange;

  void applyPost(const HttpRequest& req, const std::string& id) override;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

}  // namespace web
