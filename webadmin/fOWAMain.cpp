#include "webadmin/fOWAMain.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "webadmin/UserSession.h"
#include "webadmin/fOWASettings.h"
#include "webadmin/uAdminPage.h"

namespace {

constexpr int ItemWidth = 203;
constexpr int ItemHeight = 28;
constexpr int LogoHeight = 90;
constexpr int RegionLeft = 216;

}  // namespace

web::Region* SettingsRegion(web::AppForm& page) {
  for (const auto& c : page.components())
    if (auto* region = dynamic_cast<web::Region*>(c.get()); region && c->name() == "rgnSettings") return region;
  auto* region = page.create<web::Region>("rgnSettings", &page);
  region->setBounds(0, 0, 480, 60);
  auto* note = page.create<web::Label>("lblNotBuilt", region);
  note->caption = page.title + ": this page is not available in this build.";
  note->setBounds(10, 20, 460, 20);
  return region;
}

TfrmOWAMain::TfrmOWAMain(web::WebApplication& app) : AppForm(app, GetPageInfo(AdminPage::OWAMain).formName) {
  title = PageTitle(AdminPage::OWAMain);
  setBounds(0, 0, 717, 583);
  imgLogo = create<web::ImageFile>("imgLogo", this);
  imgLogo->fileName = "..\\Files\\Menu Logo OWA.jpg";
  imgLogo->setBounds(0, 0, ItemWidth, LogoHeight);

  struct {
    web::ImageFile** field;
    const char* name;
    Item item;
    const char* normal;
    const char* selected;
  } menu[] = {
      {&mmMain, "mmMain", Main, "..\\Files\\mmBO_Main.jpg", "..\\Files\\mmsBO_Main.jpg"},
      {&mmGeneralSettings, "mmGeneralSettings", GeneralSettings, "..\\Files\\mmBO_GeneralSettings.jpg",
       "..\\Files\\mmsBO_GeneralSettings.jpg"},
      {&mmSSLSettings, "mmSSLSettings", SSLSettings, "..\\Files\\mmSSLSettings.jpg", "..\\Files\\mmsSSLSettings.jpg"},
      {&mmCompression, "mmCompression", Compression, "..\\Files\\mmCompression.jpg", "..\\Files\\mmsCompression.jpg"},
      {&mmOWASettings, "mmOWASettings", OWASettings, "..\\Files\\mmBO_OWASettings.jpg",
       "..\\Files\\mmsBO_OWASettings.jpg"},
  };
  int top = LogoHeight;
  for (const auto& m : menu) {
    web::ImageFile* img = create<web::ImageFile>(m.name, this);
    img->fileName = m.normal;
    img->setBounds(0, top, ItemWidth, ItemHeight);
    top += ItemHeight;
    *m.field = img;
    items_[m.item] = MenuItem{img, m.normal, m.selected, nullptr};
    const Item item = m.item;
    img->onClick = [this, item](web::Control&) { ShowItem(item); };
  }
  mmLogout = create<web::ImageFile>("mmLogout", this);
  mmLogout->fileName = "..\\Files\\mmLogout.jpg";
  mmLogout->setBounds(0, top, ItemWidth, ItemHeight);
  mmLogout->onClick = [this](web::Control& s) { mmLogoutClick(s); };
  top += ItemHeight;
  imgFoot = create<web::ImageFile>("imgFoot", this);
  imgFoot->fileName = "..\\Files\\mmBO_Foot.jpg";
  imgFoot->setBounds(0, top, ItemWidth, 48);

  mmMainClick(*mmMain);
}

web::AppForm* TfrmOWAMain::Live(Item item) const {
  web::AppForm* page = items_[item].page;
  if (!page) return nullptr;
  const auto& owned = components();
  const bool alive = std::any_of(owned.begin(), owned.end(), [page](const auto& c) { return c.get() == page; });
  return alive ? page : nullptr;
}

void TfrmOWAMain::HideAllPages() {
  for (int i = 0; i < ItemCount; ++i) {
    items_[i].image->fileName = items_[i].normal;
    if (web::AppForm* page = Live(static_cast<Item>(i))) SettingsRegion(*page)->visible = false;
  }
}

web::AppForm* TfrmOWAMain::MakePage(Item item) {
  if (item == OWASettings) return create<TfrmOWASettings>(app());
  static constexpr AdminPage ids[] = {AdminPage::Main, AdminPage::GeneralSettings, AdminPage::SSLSettings,
                                      AdminPage::Compression};
  web::AppForm* page = CreatePage(app(), ids[item]);
  adopt(app().takeForm(page));
  return page;
}

// An item whose page went on to a page of no menu kind (a domain page from
// the main page's icons) shows its own kind again.
void TfrmOWAMain::ShowItem(Item item) {
  for (web::AppForm* page : std::exchange(retired_, {})) destroyOwned(page);
  web::AppForm* page = Live(item);
  if (auto* admin = dynamic_cast<TAdminPage*>(page); admin && ItemOf(admin->pageId()) != item) {
    destroyOwned(page);
    page = nullptr;
  }
  if (!page) page = items_[item].page = MakePage(item);
  ShowRegion(item, *page);
}

void TfrmOWAMain::ShowRegion(Item item, web::AppForm& page) {
  HideAllPages();
  web::Region* region = SettingsRegion(page);
  region->setParent(this);
  region->left = RegionLeft;
  region->visible = true;
  items_[item].image->fileName = items_[item].selected;
}

std::optional<TfrmOWAMain::Item> TfrmOWAMain::ItemOf(AdminPage id) {
  switch (id) {
    case AdminPage::Main: return Main;
    case AdminPage::GeneralSettings: return GeneralSettings;
    case AdminPage::SSLSettings:
    case AdminPage::SSLSettingsList: return SSLSettings;
    case AdminPage::Compression: return Compression;
    default: return std::nullopt;
  }
}

// A page of one of the menu's kinds goes to that item, a fresh one (the
// embedded page may have chosen the set or domain to show); any other
// takes the embedded page's place.
void TfrmOWAMain::ShowInPlace(web::AppForm& embedded, AdminPage next) {
  std::optional<Item> home;
  for (int i = 0; i < ItemCount; ++i)
    if (Live(static_cast<Item>(i)) == &embedded) home = static_cast<Item>(i);
  if (!home) return;
  const Item item = ItemOf(next).value_or(*home);
  if (web::AppForm* old = Live(item)) {
    SettingsRegion(*old)->visible = false;
    retired_.push_back(old);
  }
  web::AppForm* page = CreatePage(app(), next);
  adopt(app().takeForm(page));
  items_[item].page = page;
  ShowRegion(item, *page);
}

void TfrmOWAMain::mmLogoutClick(web::Control&) {
  TUserSession* session = UserSession();
  session->DomainHandler->Log("User: " + session->DomainHandler->Username + " logged out");
  app().setAuthenticated(false);
  release();
  CreatePage(app(), AdminPage::Login)->show();
}
