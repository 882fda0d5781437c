// Small shared pieces of the administration pages: the help addresses, the
// program folder and the tagged help links.
#pragma once

#include <string>

#include "platform/web/WebForm.h"

// The online help of this version (ends in "/"): a page's "Help" link is this
// plus its help file. Served from the program's own Files/Help/ folder.
extern const char* const HelpBaseURL;
// The help index (ends in "?"): tagged links get this plus a file name.
extern const char* const HelpIndexURL;

// The one program folder (the current folder at start), with a trailing "/";
// "data/", "Files/" and "Log/" are below it.
std::string ProgramFolder();
// The full path of the certificate folder data/cert/, with a trailing "/".
std::string CertificateFolder();

// Sets the address of every link among the page's components whose tag is 1.
void SetTaggedURLs(web::AppForm* page, const std::string& url);
