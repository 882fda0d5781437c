// The domain main page: the current domain's fields on the tab "Domain
// settings" and its virtual paths, edited in place, on the tab "Virtual
// paths". A save restarts the running engine when the plain-HTTP listener
// bindings changed.
#pragma once

#include <memory>

#include "Common/uDomainClasses.h"
#include "platform/Classes.h"
#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "platform/web/WebTabControl.h"
#include "webadmin/VirtualPathGrid.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uVTWAWarnings.h"

class TServerCluster;

class TfrmDomainsMain : public TAdminPage, public IKeepsUnsavedEdits {
 public:
  explicit TfrmDomainsMain(web::WebApplication& app);
  ~TfrmDomainsMain() override;

  web::ImageFile *imgHeader, *imgVtwa, *imgStatus, *imgBusy;
  web::ComboBox *cmbDomains, *cmbServerCluster;
  web::TabControl* tcMain;
  web::TabPage *tsDomainSettings, *tsVirtualPaths;
  web::Button *btnSaveSettings, *btn1;
  web::Label *lblStatus, *lblSSLMatch, *lblDefaultTagetAdress, *lblDefaultOutPort, *reqDomainName,
      *reqDefaultTagetAdress, *reqDefaultOutPort, *lblBusy, *IWLabel13;
  web::Url *IWURLHelp1, *IWURLHelp2, *IWURLTutorial, *IWURLExample1, *IWURLExample2;
  web::CheckBox *chkDomainNameEnabled, *chkLogEnabled, *chkDefaultForPort, *cbSSL, *cbOwaHTTPtoHTTPS,
      *cbForcedHTTPtoHTTPS;
  web::Edit *edtDomainName, *edtSiteName, *edtDefaultTagetAdress, *edtDefaultHostReplace, *edtDefaultListenOnPort,
      *edtDefaultOutPort;
  web::Memo *mmDomainDesc, *mmIPsToBind;
  web::Grid* grdVirtualPaths;

  void StoreControls(bool commit) override;
  void RefreshStatus() override;
  void btnSaveSettingsClick(web::Control& sender);
  void cmbDomainsChange(web::Control& sender);
  void cmbServerClusterChange(web::Control& sender);
  void cbSSLClick(web::Control& sender);
  void edtDefaultListenOnPortSubmit(web::Control&) { UpdateSSLMatch(); }
  void IWLabel13AsyncClick(web::Control& sender, const web::ParamMap& eventParams);
  void FillClusterCombo(web::ComboBox* combo, const TServerCluster* cluster);
  void UpdateSSLControls();
  void UpdateSSLMatch();
  void ValidateDomain();
  void BuildVirtualPathsGrid();
  void SaveVirtualPaths(bool commit);

  // The grid's cells; tests read them.
  const VirtualPathGrid& VirtualPaths() const { return *FGrid; }
  // The object of the "-- Domain Default --" item of cmbServerCluster.
  static const void* DomainDefaultMarker();

 private:
  void TakeBindingSnapshot();

  std::unique_ptr<TErrorWarningChecker> FChecker;
  TStringList FBindingSnapshot;
  std::unique_ptr<VirtualPathGrid> FGrid;
};
