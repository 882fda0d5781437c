// The log view: the folders and files below the running switch's log root,
// a file shown in a memo or copied for download. Selections are indexes into
// the page's own entries, and nothing whose real path leaves the log root
// (through a link either) is listed, shown or copied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"

// The running engine's log root, or "Log/" in the program folder without an
// engine host; with a trailing "/".
std::string CurrentLogRoot();

// "0_" + AppId + "_" + the file name of Path, with ".txt" added unless the
// name already ends in exactly ".txt".
std::string MakeDownloadName(const std::string& appId, const std::string& path);

// The memo shows at most this much of a file's end, from a line's start,
// below a line that says so; the download always has the whole file.
constexpr uint64_t LogViewShownBytes = 1u << 20;

class TfrmLogView : public TAdminPage {
 public:
  explicit TfrmLogView(web::WebApplication& app);

  web::Region* rgnSettings;
  web::ListBox *lstRoot, *lstLevel2, *lstLevel3;
  web::Memo* mmLogFile;
  web::CheckBox* chkDownLoad;
  // The folder whose entries lstLevel2 lists.
  std::string LogFolder;

  void onRender() override;
  void lstRootClick(web::Control& sender);
  void lstLevel2Click(web::Control& sender);
  void lstLevel3Click(web::Control& sender);
  // Copies the file to Files/ under its download name and has the next
  // answer open it in a new window.
  void OfferDownload(const std::string& path);

 private:
  struct Entry {
    std::string name;
    bool folder;
  };
  // Folders first ("[name]"), then files, of Folder, each in the order the
  // file system gives; what leads out of the root is left out.
  void Fill(web::ListBox& list, std::vector<Entry>& entries, const std::string& folder, bool folders, bool files);
  void ShowFile(const std::string& path);
  std::vector<Entry> root_, level2_, level3_;
};
