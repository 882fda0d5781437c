// The hidden host object that owns the administration's web server:
// creating it brings the server up on the administration port, freeing it
// shuts the server down (and closes every session).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/web/WebStandAloneServer.h"

class TfrmVT_Admin {
 public:
  using TLogLine = std::function<void(const std::string& line)>;
  // A port that cannot be bound is reported through Log (the event log);
  // the object then exists without a server.
  explicit TfrmVT_Admin(TLogLine log = nullptr);
  // Stops the server; on the main thread the main loop keeps turning while
  // it waits, so a page waiting inside an engine hook can finish.
  ~TfrmVT_Admin();
  TfrmVT_Admin(const TfrmVT_Admin&) = delete;
  TfrmVT_Admin& operator=(const TfrmVT_Admin&) = delete;

  // The form's parts, as operator aids of a form that is never shown.
  struct TTextControl {
    std::string Caption;
    std::string Text;
  };
  std::string Caption = "Vantrell - Admin";
  TTextControl btnStart{"Start", ""};
  TTextControl Button1{"Button1", ""};
  TTextControl Edit1{"", ""};

  void FormCreate();
  void FormShow();
  void btnStartClick();
  void Button1Click();

  bool Running() const;
  int Port() const;
  std::string StartURL() const;
  web::StandAloneServer* Server() { return IWStandAloneServer1.get(); }

 private:
  void OpenInBrowser();
  TLogLine log_;
  std::unique_ptr<web::StandAloneServer> IWStandAloneServer1;
};

// The one instance of the running program; nil while there is none.
extern TfrmVT_Admin* frmVT_Admin;
