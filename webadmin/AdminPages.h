// The administration's pages by id: class name, title, menu item, help file,
// and the factory that creates each. The menu creates pages by id, so it
// needs none of the page headers; a page not built yet is a placeholder.
#pragma once

#include <functional>
#include <string>

#include "platform/web/WebApplication.h"

enum class AdminPage {
  Login,
  Main,
  GeneralSettings,
  Domains,
  DomainsMain,
  DomainsHeaders,
  DomainsSecurity,
  DomainsVirtualDomains,
  ServerCluster,
  ServerClusterEdit,
  Security,
  SSLSettingsList,
  SSLSettings,
  Compression,
  TestRequest,
  Server,
  Status,
  LogView,
  Support,
  OWAMain,
};

struct PageInfo {
  AdminPage id;
  const char* className;    // "TfrmGeneralSettings"
  const char* formName;     // "frmGeneralSettings": the name scope when embedded
  const char* titleSuffix;  // "General settings"
  const char* menuItem;     // the frame's item for the page ("imgGeneral"), "" for none
  const char* helpFile;     // below HelpBaseURL
  bool domainPage;          // one of the four domain sub-pages (menu layout)
};

const PageInfo& GetPageInfo(AdminPage id);
// "Vantrell - Web Admin [" + suffix + "]" ("Vantrell OWA - Web Admin" for the OWA page).
std::string PageTitle(AdminPage id);

using PageFactory = std::function<web::AppForm*(web::WebApplication&)>;
// Creates the page (not shown) owned by App.
web::AppForm* CreatePage(web::WebApplication& app, AdminPage id);
// Replaces the factory of Id (tests: stand-in pages); an empty one undoes it.
void OverridePageFactory(AdminPage id, PageFactory factory);
// Whether a real page is registered for Id (else CreatePage gives a placeholder).
bool PageIsBuilt(AdminPage id);

// The five pages whose unsaved edits survive navigation among them.
bool KeepsUnsavedEdits(AdminPage id);
// The status page: public mode (no menu, no editing, automatic update) for
// sessions opened with "?status".
class IPublicModePage {
 public:
  virtual ~IPublicModePage() = default;
  virtual void SetPublicMode(bool on) = 0;
};

// Implemented by exactly those five pages; navigation calls it with false.
class IKeepsUnsavedEdits {
 public:
  virtual ~IKeepsUnsavedEdits() = default;
  virtual void StoreControls(bool commit) = 0;
};

// A page that shows other pages' regions as its own (the edition shell). An
// embedded page that would go on to another page asks its host to show that
// page in its place instead, so the host stays.
class IPageHost {
 public:
  virtual ~IPageHost() = default;
  virtual void ShowInPlace(web::AppForm& embedded, AdminPage next) = 0;
};
