#include "webadmin/uDomainPageHead.h"

#include "webadmin/uAdminPage.h"

std::tuple<web::ImageFile*, web::ImageFile*> CreateDomainBanner(web::Control* page, const std::string& headerFile) {
  auto* imgHeader = page->create<web::ImageFile>("imgHeader", page);
  imgHeader->fileName = "..\\Files\\" + headerFile;
  imgHeader->setBounds(PageContentLeft, 0, 400, 40);
  auto* imgVtwa = page->create<web::ImageFile>("imgVtwa", page);
  imgVtwa->fileName = "..\\Files\\vtwaDomains.jpg";
  imgVtwa->setBounds(PageContentLeft + 420, 0, 180, 40);
  return {imgHeader, imgVtwa};
}

std::tuple<web::ComboBox*, web::ImageFile*, web::Label*> CreateDomainComboRow(web::Control* page,
                                                                              web::Handler onChange) {
  auto* cmbDomains = page->create<web::ComboBox>("cmbDomains", page);
  cmbDomains->setBounds(PageContentLeft, 48, 300, 20);
  cmbDomains->onChange = std::move(onChange);
  auto* imgStatus = page->create<web::ImageFile>("imgStatus", page);
  imgStatus->setBounds(PageContentLeft + 320, 49, 18, 18);
  auto* lblStatus = page->create<web::Label>("lblStatus", page);
  lblStatus->caption = "Settings look OK";
  lblStatus->setBounds(PageContentLeft + 344, 50, 560, 18);
  return {cmbDomains, imgStatus, lblStatus};
}
