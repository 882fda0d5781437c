// The server-cluster list page: every cluster of the configuration copy with
// its state and available capacity; switches clusters on and off, removes
// them and starts new ones.
#pragma once

#include <memory>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uVTWAWarnings.h"

class TDomainHandler;
class TServerCluster;

// The capacity of the enabled, responding servers in percent of the capacity
// of all servers, rounded half to even; 0 when the total is 0.
int GetAvailableCapacityPercent(const TServerCluster& cluster);

// Copies the running engine's server states and counters into Copy, when the
// engine has a live configuration. Taken from the engine host each time.
void CopyLiveStatistics(TDomainHandler& copy);

class TfrmServerCluster : public TAdminPage {
 public:
  explicit TfrmServerCluster(web::WebApplication& app);
  ~TfrmServerCluster() override;

  TDomainHandler* FDomainHandler;
  web::Button* btnNewCluster;
  web::Grid* grdServerClusters;
  web::Label* lblStatus;
  web::ImageFile *imgStatus, *imgHeader, *imgTitle;
  web::Url* IWURLTutorials;

  void RefreshStatus() override;
  void BuildGrid();
  void btnNewClusterClick(web::Control& sender);
  void imgOnOffClick(web::Control& sender);
  void imgEditClick(web::Control& sender);
  void imgRemoveClick(web::Control& sender);

 private:
  // The cluster a row image names, after making it the current one; nil
  // for another sender or an index that names nothing.
  TServerCluster* SelectRowCluster(web::Control& sender);
  std::unique_ptr<TErrorWarningChecker> FChecker;
};
