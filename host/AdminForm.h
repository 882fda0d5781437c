// The hidden form TfrmVT_Admin (webadmin/fVT_Admin.h) as the hosts create it:
// creating it brings up the web administration's server and writes its lines
// to the engine's event log, freeing it stops the server. The hosts keep the
// global frmVT_Admin pointing at the form they own, on the main thread.
#pragma once

#include <memory>

class TfrmVT_Admin;

// Frees the form where its type is complete.
struct TfrmVT_AdminDeleter {
  void operator()(TfrmVT_Admin* form) const;
};
using TfrmVT_AdminPtr = std::unique_ptr<TfrmVT_Admin, TfrmVT_AdminDeleter>;

// Main thread, after the engine dmHTTPBase exists.
TfrmVT_AdminPtr CreateVT_Admin();
