// The hidden form TfrmVT_Admin that owns the web administration's server:
// creating it starts the server, freeing it stops it. The web administration's
// unit defines the class, the factory and the deleter; host/AdminFormStandIn.cpp
// stands in until it exists.
#pragma once

#include <memory>

class TfrmVT_Admin;

// Frees the form where its type is complete.
struct TfrmVT_AdminDeleter {
  void operator()(TfrmVT_Admin* form) const;
};
using TfrmVT_AdminPtr = std::unique_ptr<TfrmVT_Admin, TfrmVT_AdminDeleter>;

// Main thread.
TfrmVT_AdminPtr CreateVT_Admin();
