// The image menu at the left of every page after the login: its layout for
// the page that holds it, the page switches with the keep-or-reload rule,
// the engine's running state and the logout.
#pragma once

#include <string>
#include <vector>

#include "platform/web/WebControls.h"
#include "webadmin/AdminPages.h"

class TframeMainMenu : public web::Frame {
 public:
  explicit TframeMainMenu(web::Control* parent);

  web::ImageFile *imgHead, *imgMain, *imgGeneral, *imgDomains, *imgDomainsMain, *imgDomainsHeaders,
      *imgDomainsSecurity, *imgDomainsVirtualDomains, *imgServerCluster, *imgSecurity, *imgSSLSettings,
      *imgCompression, *imgTestRequest, *imgServer, *imgStatus, *imgLogView, *imgSupport, *imgLogout, *imgFoot;

  // Lays the items out for the page: domain sub-items only on domain pages,
  // no gaps, every image in the program's Files/ folder, the server image by
  // the engine's state.
  void Arrange(bool domainPage);
  // Shows a new page of the kind: edits of the copy survive only between
  // the five keep pages, otherwise the copy is read again from the file.
  void Navigate(AdminPage target);
  // That rule for leaving From (nil: no page) for a page of the kind Target.
  static void KeepOrReloadCopy(web::AppForm* from, AdminPage target);
  // Gives the named item its selected ("mms") image.
  void SelectItem(const std::string& itemName);

  void imgLogoutClick(web::Control& sender);

 private:
  web::ImageFile* AddItem(const char* name, const char* file, int height, AdminPage target, bool navigates = true);
  web::AppForm* Page() const;
  std::vector<web::ImageFile*> items_;
};
