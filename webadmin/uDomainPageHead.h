// The top of the domain pages: the area's banner (the page's header picture
// with "vtwaDomains.jpg" beside it) and, on the pages of one domain, the
// domain combo with that domain's status line below it.
#pragma once

#include <string>
#include <tuple>

#include "platform/web/WebControls.h"

// imgHeader (HeaderFile, a name in Files/) and imgVtwa, page-level controls
// of Page at PageContentLeft.
std::tuple<web::ImageFile*, web::ImageFile*> CreateDomainBanner(web::Control* page, const std::string& headerFile);
// cmbDomains, imgStatus and lblStatus ("Settings look OK") below the banner.
std::tuple<web::ComboBox*, web::ImageFile*, web::Label*> CreateDomainComboRow(web::Control* page,
                                                                              web::Handler onChange);
