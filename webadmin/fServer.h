// The server page: start and stop the switch through the engine hooks and
// show what they answered.
#pragma once

#include "HTTPRedirect/uEngineHooks.h"
#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"

class TfrmServer : public TAdminPage {
 public:
  explicit TfrmServer(web::WebApplication& app);

  web::Region* rgnSettings;
  web::Button *btnStart, *btnStop, *btnStopThenStart;
  web::Text* iwServerFeedback;

  // By the running state; all disabled while the engine has no hooks.
  void UpdateButtons();
  void onRender() override;
  void btnStartClick(web::Control& sender);
  void btnStopClick(web::Control& sender);
  void btnStopThenStartClick(web::Control& sender);

 private:
  // The hook's message in the feedback box; nothing without the hook.
  void RunHook(const TServerMsgHook& hook, web::Control& sender);
};
