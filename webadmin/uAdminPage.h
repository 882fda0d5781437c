// The base of the administration pages after the login: title, menu frame,
// help link, saved label, the save sequence and the list-grid conventions.
#pragma once

#include <functional>
#include <string>

#include "platform/web/WebControls.h"
#include "platform/web/WebForm.h"
#include "platform/web/WebGrid.h"
#include "webadmin/AdminPages.h"

class TframeMainMenu;
class TPageLayout;

// Confirmation texts of the row images that remove an item.
inline constexpr const char* ConfirmRemoveDomain = "Are you sure?";
inline constexpr const char* ConfirmRemoveRestart = "Are you sure? The server will have to be restarted!";

// Left edge of a page's own controls, right of the menu.
inline constexpr int PageContentLeft = 180;

enum class RowImage { OnOff, Edit, Remove };

class TAdminPage : public web::AppForm {
 public:
  TAdminPage(web::WebApplication& app, AdminPage id);
  AdminPage pageId() const { return id_; }

  TframeMainMenu* frameMainMenu = nullptr;
  web::Url* IWURLHelp = nullptr;
  web::Label* lblSaved = nullptr;

  // The status line's checker runs again (pages with a status line).
  virtual void RefreshStatus() {}
  // Goes on to a page of the kind Next. Inside the edition shell (a page
  // host owns this page) the shell shows it in its own frame, so the shell
  // stays; otherwise the menu's Navigate. The copy follows the menu's
  // keep-or-reload rule either way.
  void ShowPage(AdminPage next);

 protected:
  // The menu frame at the left edge.
  TframeMainMenu* CreateMenu();
  // The "Help" link; its address is set by InitCommon.
  web::Url* CreateHelpLink(int left, int top);
  // The settings pages' content region "rgnSettings" right of the menu, 520
  // wide, with the help link at its top right.
  web::Region* CreateSettingsRegion(int height);
  // "imgTitle", the page's 48 x 48 title picture, and "imgHeader", its
  // 300 x 40 header picture, at the top of Parent; names of files in Files/.
  void CreateTitleImages(web::Control* parent, const std::string& titleFile, const std::string& headerFile);
  // The save row (SaveRowAt) at Left, Top of Parent, or at the left of
  // Row's current row; its label is lblSaved.
  web::Button* CreateSaveRow(web::Control* parent, int left, int top, web::Handler onClick);
  web::Button* CreateSaveRow(TPageLayout& row, web::Handler onClick);
  // The common creation steps once the controls exist: the help link, the
  // page's own menu item selected ("mms"), the menu laid out, and the tagged
  // links when TaggedFile is given.
  void InitCommon(const std::string& taggedFile = "");
  // The save sequence of "Save settings": Store (the page's own copy and
  // checks; it may raise), save and reload, RefreshStatus, "Settings saved".
  void SaveSettingsSequence(const std::function<void()>& store);

  // List grids: header row blue (#4A5FA6) with white bold text, other rows
  // black; row r + 1 shows item r.
  static void StyleListGrid(web::Grid& grid);
  // "&nbsp;" + the escaped text + "&nbsp;": configuration texts in cells.
  static std::string CellText(const std::string& text);
  // A row image with Tag = Index: OnOff ("StatusGreen.jpg"/"StatusRed.jpg",
  // 18 x 18, centred), Edit ("DomainEdit.jpg", 47 x 18), Remove
  // ("DomainRemove.jpg", 66 x 18, with Confirmation).
  web::ImageFile* AddRowImage(web::Grid& grid, int row, int col, RowImage kind, int index,
                              web::Handler onClick, bool on = true, const std::string& confirmation = "");
  // The index a row image carries; -1 when the sender is not an image.
  static int RowIndex(web::Control& sender);

 private:
  AdminPage id_;
};

// Stands in for a page that is not built yet: menu, title and a note.
class TPlaceholderPage : public TAdminPage {
 public:
  TPlaceholderPage(web::WebApplication& app, AdminPage id);
};
