#include "host/AdminForm.h"

#include <string>

#include "Common/uProgramMode.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "webadmin/fVT_Admin.h"

void TfrmVT_AdminDeleter::operator()(TfrmVT_Admin* form) const { delete form; }

TfrmVT_AdminPtr CreateVT_Admin() {
  TdmHTTPBase* engine = dmHTTPBase;
  if (engine == nullptr) return TfrmVT_AdminPtr(new TfrmVT_Admin());
  engine->Log(std::string("Starting ") + (OWAEdition ? "Vantrell OWA" : "Vantrell Switch") + " Web Admin");
  return TfrmVT_AdminPtr(new TfrmVT_Admin([engine](const std::string& line) { engine->Log(line); }));
}
