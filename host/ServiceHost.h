// The service application of this build: it creates the service object
// SvrVantrell, handles the install switches, and runs the service when
// systemd started the process (the unit sets the marker variable).
#pragma once

#include <memory>
#include <string>

#include "host/ProgramMain.h"
#include "host/uServiceVantrell.h"
#include "platform/SystemdUnit.h"

// Set to "1" by the unit: this process was started by the service manager.
constexpr const char* kServiceMarkerVariable = "VANTRELL_SERVICE";
// Above the engine's wait of 75 s for its client threads.
constexpr int kServiceStopTimeoutSec = 120;

struct TServiceHostSettings {
  std::string unitFolder = kSystemUnitFolder;
  Systemctl* systemctl = nullptr;  // nullptr: the system's
  TSvrVantrellSeams seams;
  TService::TNotify notify;  // empty: $NOTIFY_SOCKET
};

std::unique_ptr<TServiceApplication> CreateServiceApplication(TServiceHostSettings settings);
