#include "webadmin/uAdminPage.h"

#include <tuple>

#include "platform/web/WebEscape.h"
#include "webadmin/UserSession.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uPageLayout.h"

TAdminPage::TAdminPage(web::WebApplication& app, AdminPage id)
    : AppForm(app, GetPageInfo(id).formName), id_(id) {
  title = PageTitle(id);
}

TframeMainMenu* TAdminPage::CreateMenu() {
  frameMainMenu = create<TframeMainMenu>(this);
  return frameMainMenu;
}

web::Url* TAdminPage::CreateHelpLink(int left, int top) {
  IWURLHelp = CreateLink(this, this, "IWURLHelp", "Help", left, top, 40);
  return IWURLHelp;
}

web::Region* TAdminPage::CreateSettingsRegion(int height) {
  web::Region* region = create<web::Region>("rgnSettings", this);
  region->setBounds(PageContentLeft, 0, 520, height);
  CreateHelpLink(460, 10)->setParent(region);
  return region;
}

void TAdminPage::CreateTitleImages(web::Control* parent, const std::string& titleFile,
                                   const std::string& headerFile) {
  auto* imgTitle = create<web::ImageFile>("imgTitle", parent);
  imgTitle->fileName = "..\\Files\\" + titleFile;
  imgTitle->setBounds(10, 8, 48, 48);
  auto* imgHeader = create<web::ImageFile>("imgHeader", parent);
  imgHeader->fileName = "..\\Files\\" + headerFile;
  imgHeader->setBounds(66, 12, 300, 40);
}

web::Button* TAdminPage::CreateSaveRow(web::Control* parent, int left, int top, web::Handler onClick) {
  web::Button* button = nullptr;
  std::tie(button, lblSaved) = SaveRowAt(this, parent, left, top, std::move(onClick));
  return button;
}

web::Button* TAdminPage::CreateSaveRow(TPageLayout& row, web::Handler onClick) {
  return CreateSaveRow(row.Parent(), TPageLayout::LabelLeft, row.Top(), std::move(onClick));
}

void TAdminPage::ShowPage(AdminPage next) {
  if (auto* host = dynamic_cast<IPageHost*>(owner())) {
    TframeMainMenu::KeepOrReloadCopy(this, next);
    host->ShowInPlace(*this, next);
  } else if (frameMainMenu) {
    frameMainMenu->Navigate(next);
  }
}

void TAdminPage::InitCommon(const std::string& taggedFile) {
  const PageInfo& info = GetPageInfo(id_);
  if (IWURLHelp) IWURLHelp->url = std::string(HelpBaseURL) + info.helpFile;
  if (frameMainMenu) {
    frameMainMenu->SelectItem(info.menuItem);
    frameMainMenu->Arrange(info.domainPage);
  }
  if (!taggedFile.empty()) SetTaggedURLs(this, std::string(HelpIndexURL) + taggedFile);
}

void TAdminPage::SaveSettingsSequence(const std::function<void()>& store) {
  store();
  UserSession()->SaveSettings();
  RefreshStatus();
  if (lblSaved) lblSaved->visible = true;
}

void TAdminPage::StyleListGrid(web::Grid& grid) {
  grid.onRenderCell = [](web::GridCell& cell, int row, int) {
    if (row == 0) {
      cell.bgColor = web::Color::fromBGR(0xA65F4A);
      cell.fontColor = web::colors::White;
      cell.bold = true;
    } else {
      cell.bgColor = web::colors::None;
      cell.fontColor = web::colors::Black;
      cell.bold = false;
    }
  };
}

std::string TAdminPage::CellText(const std::string& text) { return "&nbsp;" + web::HtmlEscape(text) + "&nbsp;"; }

web::ImageFile* TAdminPage::AddRowImage(web::Grid& grid, int row, int col, RowImage kind, int index,
                                        web::Handler onClick, bool on, const std::string& confirmation) {
  auto img = std::make_unique<web::ImageFile>();
  switch (kind) {
    case RowImage::OnOff:
      img->fileName = on ? "StatusGreen.jpg" : "StatusRed.jpg";
      img->width = img->height = 18;
      grid.cell(row, col).alignment = "center";
      break;
    case RowImage::Edit:
      img->fileName = "DomainEdit.jpg";
      img->width = 47;
      img->height = 18;
      break;
    case RowImage::Remove:
      img->fileName = "DomainRemove.jpg";
      img->width = 66;
      img->height = 18;
      img->confirmation = confirmation;
      break;
  }
  img->tag = index;
  img->onClick = std::move(onClick);
  return grid.setCellControl(row, col, std::move(img));
}

int TAdminPage::RowIndex(web::Control& sender) {
  return dynamic_cast<web::ImageFile*>(&sender) ? sender.tag : -1;
}

TPlaceholderPage::TPlaceholderPage(web::WebApplication& app, AdminPage id) : TAdminPage(app, id) {
  CreateMenu();
  auto* note = create<web::Label>("lblNotBuilt", this);
  note->caption = std::string(GetPageInfo(id).titleSuffix) + ": this page is not available in this build.";
  note->setBounds(PageContentLeft, 20, 500, 20);
  InitCommon();
}
