// The status page: the switch, every domain and every virtual path of the
// running configuration after a health check of each, with state images,
// texts and counters; an automatic update every 10 seconds; logged in, the
// Edit and On/Off images. In public mode ("?status" sessions) it has no menu
// and no click handler, and updates itself.
#pragma once

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "webadmin/AdminPages.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uCounters.h"

class TDomain;
class TDomainHandler;
struct TStatusResults;

class TfrmStatus : public TAdminPage, public IPublicModePage {
 public:
  explicit TfrmStatus(web::WebApplication& app);
  ~TfrmStatus() override;

  web::Region* iwrStatus;
  web::Grid* grdStatus;
  web::CheckBox* chkAutoUpdate;
  web::Timer* tmrAutoUpdate;
  web::Label* IWLabel3;
  web::ImageFile *imgRunning, *imgNotRunning, *imgPartlyRunning, *imgPaused, *imgUnknown;
  TCounterLabels Counters;
  bool PublicMode = false;

  // 5 in public mode (no Edit column), else 6; the grid has one more column.
  int OnOffColumn() const { return PublicMode ? 5 : 6; }

  void SetPublicMode(bool value) override;
  void UpdateCounters();
  void onRender() override;
  void chkAutoUpdateClick(web::Control& sender);
  void tmrAutoUpdateTimer(web::Control& sender);

 private:
  enum class RowKind { Header, Grey, White };
  int AddRow(RowKind kind);
  void AddStateRow(const std::string& image, const std::string& name, int indent, const std::string& state,
                   int64_t bytes, int64_t requests, RowKind kind);
  void AddDomainRows(const TDomain& domain, int index, const TStatusResults& results, bool loggedIn);
  void DomainEditClick(web::Control& sender);
  void DomainOnOffClick(web::Control& sender);
  void PathOnOffClick(int32_t domainId, int32_t pathId);
};
