#include "webadmin/fServer.h"

#include <tuple>

#include "webadmin/frMainMenu.h"

TfrmServer::TfrmServer(web::WebApplication& app) : TAdminPage(app, AdminPage::Server) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(400);
  CreateTitleImages(rgnSettings, "vtwaServer.jpg", "hdServer.jpg");

  int left = 10;
  for (auto [field, name, caption, width] : {std::tuple{&btnStart, "btnStart", "Start", 80},
                                             {&btnStop, "btnStop", "Stop", 80},
                                             {&btnStopThenStart, "btnStopThenStart", "Stop then Start", 130}}) {
    web::Button* b = create<web::Button>(name, rgnSettings);
    b->caption = caption;
    b->setBounds(left, 70, width, 24);
    left += width + 10;
    *field = b;
  }
  btnStart->onClick = [this](web::Control& s) { btnStartClick(s); };
  btnStop->onClick = [this](web::Control& s) { btnStopClick(s); };
  btnStopThenStart->onClick = [this](web::Control& s) { btnStopThenStartClick(s); };
  auto* lblFeedback = create<web::Label>("lblServerFeedback", rgnSettings);
  lblFeedback->caption = "Server feedback:";
  lblFeedback->setBounds(10, 110, 200, 18);
  iwServerFeedback = create<web::Text>("iwServerFeedback", rgnSettings);
  iwServerFeedback->setBounds(10, 132, 480, 160);
  iwServerFeedback->font.bold = true;

  InitCommon();
}

void TfrmServer::UpdateButtons() {
  try {
    const TIsServerRunningHook running = EngineHooks::Current().IsServerRunningHook;
    if (!running) {
      btnStart->enabled = btnStop->enabled = btnStopThenStart->enabled = false;
      return;
    }
    const bool on = running();
    btnStart->enabled = !on;
    btnStop->enabled = btnStopThenStart->enabled = on;
  } catch (const std::exception&) {
    // The buttons keep their state; the page still shows.
  }
}

void TfrmServer::onRender() {
  if (frameMainMenu) frameMainMenu->Arrange(false);
  UpdateButtons();
}

void TfrmServer::btnStartClick(web::Control& sender) { RunHook(EngineHooks::Current().StartServerHook, sender); }

void TfrmServer::btnStopClick(web::Control& sender) { RunHook(EngineHooks::Current().StopServerHook, sender); }

void TfrmServer::RunHook(const TServerMsgHook& hook, web::Control& sender) {
  if (!hook) return;
  std::string msg;
  hook(&sender, msg);
  iwServerFeedback->lines = {msg};
  UpdateButtons();
}

// Each message is followed by a line break, so an empty line follows it.
void TfrmServer::btnStopThenStartClick(web::Control& sender) {
  const TEngineHookSet hooks = EngineHooks::Current();
  if (!hooks.StartServerHook || !hooks.StopServerHook) return;
  std::vector<std::string>& lines = iwServerFeedback->lines;
  lines.clear();
  lines.push_back("Stopping server...");
  std::string msg;
  hooks.StopServerHook(&sender, msg);
  lines.push_back(msg);
  lines.push_back("");
  lines.push_back("Starting server...");
  msg.clear();
  hooks.StartServerHook(&sender, msg);
  lines.push_back(msg);
  lines.push_back("");
  lines.push_back("Done");
  UpdateButtons();
}
