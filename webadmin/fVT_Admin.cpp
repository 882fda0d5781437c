#include "webadmin/fVT_Admin.h"

#include <atomic>
#include <thread>

#include "Common/Misc.h"
#include "Common/uProgramMode.h"
#include "platform/MainLoop.h"
#include "webadmin/ServerController.h"

TfrmVT_Admin* frmVT_Admin = nullptr;

TfrmVT_Admin::TfrmVT_Admin(TLogLine log) : log_(std::move(log)) {
  try {
    IWStandAloneServer1 = std::make_unique<web::StandAloneServer>(std::make_unique<TVantrell_ServerController>());
    std::string error;
    if (!IWStandAloneServer1->start(error)) {
      if (log_) log_(error);
    }
  } catch (const std::exception& e) {
    // A settings file that cannot be read must not end the program.
    IWStandAloneServer1.reset();
    if (log_) log_(std::string("Web Admin could not start: ") + e.what());
  }
  FormCreate();
}

TfrmVT_Admin::~TfrmVT_Admin() {
  if (!IWStandAloneServer1) return;
  if (!MainLoop::Instance().IsMainThread()) {
    IWStandAloneServer1.reset();
    return;
  }
  // A page may wait inside an engine hook for the main loop, a stop for its
  // timer: the loop, timers too, turns until every page has ended.
  std::atomic<bool> done{false};
  std::thread stopper([this, &done] {
    IWStandAloneServer1.reset();
    done = true;
  });
  MainLoop::Instance().PumpUntil([&done] { return done.load(); });
  stopper.join();
}

void TfrmVT_Admin::FormCreate() {
  Edit1.Text = IWStandAloneServer1 ? IWStandAloneServer1->server().controller().className() : "";
}

void TfrmVT_Admin::FormShow() { OpenInBrowser(); }

void TfrmVT_Admin::btnStartClick() { OpenInBrowser(); }

void TfrmVT_Admin::Button1Click() { Edit1.Text = StartURL(); }

bool TfrmVT_Admin::Running() const { return IWStandAloneServer1 && IWStandAloneServer1->running(); }

int TfrmVT_Admin::Port() const { return IWStandAloneServer1 ? IWStandAloneServer1->port() : 0; }

std::string TfrmVT_Admin::StartURL() const { return IWStandAloneServer1 ? IWStandAloneServer1->startURL() : ""; }

void TfrmVT_Admin::OpenInBrowser() {
  if (RunningAsService || !Running()) return;
  OpenURL(StartURL());
}
