// Until the web administration exists: a form without a server.
#include "host/AdminForm.h"

class TfrmVT_Admin {};

void TfrmVT_AdminDeleter::operator()(TfrmVT_Admin* form) const { delete form; }

TfrmVT_AdminPtr CreateVT_Admin() { return TfrmVT_AdminPtr(new TfrmVT_Admin()); }
