// The domain list: one row a domain of the session's copy, in matching
// order. Every row action but Edit writes the settings file at once; a new
// domain is saved by the domain pages.
#pragma once

#include <memory>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uVTWAWarnings.h"

class TDomainHandler;
class TDomain;

class TfrmDomains : public TAdminPage {
 public:
  explicit TfrmDomains(web::WebApplication& app);
  ~TfrmDomains() override;

  web::ImageFile *imgHeader, *imgVtwa, *imgStatus;
  web::Button* btnNewDomain;
  web::Grid* grdDomains;
  web::Label* lblStatus;
  web::Url* IWURLTutorial;

  void BuildGrid();
  void btnNewDomainClick(web::Control& sender);
  void imgOnOffClick(web::Control& sender);
  void imgEditClick(web::Control& sender);
  void imgLogClick(web::Control& sender);
  void imgDefaultClick(web::Control& sender);
  void imgUpClick(web::Control& sender);
  void imgDownClick(web::Control& sender);
  void imgRemoveClick(web::Control& sender);
  void RefreshStatus() override;

 private:
  // Makes the row's domain current and flips one of its switches, then
  // saves and rebuilds.
  // The domain of the sender's row, made the session's current one; nil
  // when the sender is no row image or the row names no domain.
  TDomain* SelectRow(web::Control& sender);
  void Toggle(web::Control& sender, bool TDomain::*flag);
  void Move(web::Control& sender, int step);
  web::ImageFile* AddImage(int row, int col, const char* file, int width, int index, void (TfrmDomains::*click)(web::Control&));

  TDomainHandler* FDomainHandler = nullptr;
  std::unique_ptr<TErrorWarningChecker> FChecker;
};
