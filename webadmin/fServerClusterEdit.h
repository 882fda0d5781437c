// The server-cluster edit page: one cluster's name, affinity and health-check
// settings, and its servers in a grid of edits. Save stores the page, writes
// the file and checks every server twice; the row images save at once.
#pragma once

#include <memory>
#include <string>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "webadmin/AdminPages.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uVTWAWarnings.h"

class TDomainHandler;
class TServer;
class TServerCluster;

// The Online image of a server and the prefix of its hint (the hint is the
// prefix followed by the server's last status text).
struct TServerOnlineView {
  const char* image;
  const char* hintPrefix;
};
TServerOnlineView ServerOnlineView(const TServer& server);

// "(= 30.00 minutes)" for 1800 seconds.
std::string MinutesLabel(int32_t seconds);
// The fail-over time, (MaxFailBeforeOffline + 1) x FailoverCheckInterval
// seconds, computed in 64 bits so that no stored value fails the page.
std::string FailOverLabel(const TServerCluster& cluster);

class TfrmServerClusterEdit : public TAdminPage, public IKeepsUnsavedEdits {
 public:
  explicit TfrmServerClusterEdit(web::WebApplication& app);
  ~TfrmServerClusterEdit() override;

  // The edited cluster of the copy, fixed at creation; never nil.
  std::shared_ptr<TServerCluster> FCluster;
  TDomainHandler* FDomainHandler = nullptr;

  web::Edit *edtServerClusterName, *edtServerClusterConnectionTimeout, *edtLoadAveragingPeriod,
      *edtMaxFailBeforeOffline, *edtFailoverCheckInterval, *edtHostName, *edtDocument, *edtUserAgent;
  web::CheckBox* chkServerClusterEnabled;
  web::ComboBox *cmbVerifyMethod, *cbSessionMethod;
  web::Label *lblTimeoutInMinutes, *lblLoadAPInMinutes, *lblFailOverInSeconds, *lblHostName, *lblDocument,
      *lblUserAgent, *lblStatus;
  web::Button *btnAddServer, *btnSaveSettings;
  web::ImageFile *imgStatus, *imgHeader, *imgTitle;
  web::Url *IWURLHelp2, *IWURLHelp3, *IWURLTutorials, *IWURLExample;
  web::Grid* grdServers;

  void RefreshStatus() override;
  // Converts every number of the page first; a text that is no number
  // raises and changes nothing.
  void StoreControls(bool commit) override;
  void LoadControls();
  // CopyLive false: the rebuild right after Save's checks, which shows
  // their results instead of the engine's.
  void BuildServersGrid(bool copyLive = true);
  void UpdateVerifyControls();
  void RefreshPage(bool copyLive = true);

  void btnSaveSettingsClick(web::Control& sender);
  void btnAddServerClick(web::Control& sender);
  void cmbVerifyMethodChange(web::Control& sender);
  void imgOnOffClick(web::Control& sender);
  void imgAutoActivateClick(web::Control& sender);
  void imgRemoveClick(web::Control& sender);

 private:
  // The server a row image names; nil for another sender, an index that
  // names nothing, or a cluster no longer in the copy.
  TServer* RowServer(web::Control& sender);
  void SaveAfterRowAction();
  std::unique_ptr<TErrorWarningChecker> FChecker;
};
