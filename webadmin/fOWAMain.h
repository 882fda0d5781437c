// The start page of the Outlook Web Access edition: an image menu that shows
// the settings region of a few pages, each made once and owned by this page.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/web/WebControls.h"
#include "platform/web/WebForm.h"
#include "webadmin/AdminPages.h"

class TfrmOWAMain : public web::AppForm, public IPageHost {
 public:
  explicit TfrmOWAMain(web::WebApplication& app);

  web::ImageFile *imgLogo, *mmMain, *mmGeneralSettings, *mmSSLSettings, *mmCompression, *mmOWASettings, *mmLogout,
      *imgFoot;

  // The embedded pages made so far (nil until first shown, or once freed).
  web::AppForm* frmMain() const { return Live(Main); }
  web::AppForm* frmGeneralSettings() const { return Live(GeneralSettings); }
  web::AppForm* frmSSLSettings() const { return Live(SSLSettings); }
  web::AppForm* frmCompression() const { return Live(Compression); }
  web::AppForm* frmOWASettings() const { return Live(OWASettings); }

  void HideAllPages();
  void mmMainClick(web::Control&) { ShowItem(Main); }
  void mmGeneralSettingsClick(web::Control&) { ShowItem(GeneralSettings); }
  void mmSSLSettingsClick(web::Control&) { ShowItem(SSLSettings); }
  void mmCompressionClick(web::Control&) { ShowItem(Compression); }
  void mmOWASettingsClick(web::Control&) { ShowItem(OWASettings); }
  void mmLogoutClick(web::Control& sender);
  void ShowInPlace(web::AppForm& embedded, AdminPage next) override;

 private:
  enum Item { Main, GeneralSettings, SSLSettings, Compression, OWASettings, ItemCount };
  struct MenuItem {
    web::ImageFile* image = nullptr;
    std::string normal;
    std::string selected;
    web::AppForm* page = nullptr;  // checked against what this page owns before use
  };

  // The menu item that shows pages of the kind Id, if any.
  static std::optional<Item> ItemOf(AdminPage id);
  void ShowItem(Item item);
  // Shows Page's region as item's, hiding the others.
  void ShowRegion(Item item, web::AppForm& page);
  web::AppForm* MakePage(Item item);
  web::AppForm* Live(Item item) const;
  MenuItem items_[ItemCount];
  // Pages replaced in place; freed at the next menu click, once the handler
  // that replaced them has returned.
  std::vector<web::AppForm*> retired_;
};

// The region of Page that holds its content: its "rgnSettings", or, for a
// page that has none, a region made for it with a note.
web::Region* SettingsRegion(web::AppForm& page);
