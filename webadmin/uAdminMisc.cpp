#include "webadmin/uAdminMisc.h"

#include <filesystem>

#include "platform/SysUtils.h"
#include "platform/web/WebControls.h"

const char* const HelpBaseURL = "/files/Help/";
const char* const HelpIndexURL = "/files/Help/index.html?";

std::string ProgramFolder() { return IncludeTrailingPathDelimiter(GetCurrentDir()); }

// The folder part of the expanded "data/cert/a", with its separator.
std::string CertificateFolder() { return std::filesystem::absolute("data/cert/a").parent_path().string() + "/"; }

namespace {

void TagLinks(const web::Component& c, const std::string& url) {
  for (const auto& owned : c.components()) {
    if (auto* link = dynamic_cast<web::Url*>(owned.get()); link && link->tag == 1) link->url = url;
    TagLinks(*owned, url);
  }
}

}  // namespace

void SetTaggedURLs(web::AppForm* page, const std::string& url) {
  if (page) TagLinks(*page, url);
}
