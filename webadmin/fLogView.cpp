#include "webadmin/fLogView.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uCounters.h"

namespace fs = std::filesystem;

namespace {

const char* const kEmptyList = "[No files or directories]";

// Whether Path, with every link resolved, lies inside Root.
bool InsideRoot(const std::string& path, const std::string& root) {
  std::error_code ec;
  const fs::path realRoot = fs::canonical(root, ec);
  if (ec) return false;
  const fs::path real = fs::canonical(path, ec);
  if (ec) return false;
  const std::string r = realRoot.string();
  const std::string p = real.string();
  return p.size() > r.size() && p.compare(0, r.size(), r) == 0 && (r.back() == '/' || p[r.size()] == '/');
}

// "50 MiB", "1.5 MiB": one decimal, none when it is 0.
std::string MiBText(uint64_t bytes) {
  const uint64_t tenths = (bytes * 10 + (1u << 19)) >> 20;
  return tenths % 10 ? Format("%d.%d MiB", tenths / 10, tenths % 10) : Format("%d MiB", tenths / 10);
}

}  // namespace

std::string CurrentLogRoot() {
  const std::string program = ProgramFolder();
  TDomainHandler* live = LiveDomainHandler();
  return live ? LogRoot(*live, program) : program + "Log/";
}

std::string MakeDownloadName(const std::string& appId, const std::string& path) {
  std::string target = "0_" + appId + "_" + ExtractFileName(path);
  if (ExtractFileExt(target) != ".txt") target += ".txt";
  return target;
}

TfrmLogView::TfrmLogView(web::WebApplication& app) : TAdminPage(app, AdminPage::LogView) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(640);
  CreateTitleImages(rgnSettings, "vtwaView_log.jpg", "hdViewLog.jpg");

  lstRoot = create<web::ListBox>("lstRoot", rgnSettings);
  lstRoot->setBounds(10, 70, 150, 140);
  lstRoot->emptyText = kEmptyList;
  lstRoot->onClick = [this](web::Control& s) { lstRootClick(s); };
  lstLevel2 = create<web::ListBox>("lstLevel2", rgnSettings);
  lstLevel2->setBounds(170, 70, 160, 140);
  lstLevel2->emptyText = kEmptyList;
  lstLevel2->onClick = [this](web::Control& s) { lstLevel2Click(s); };
  lstLevel3 = create<web::ListBox>("lstLevel3", rgnSettings);
  lstLevel3->setBounds(340, 70, 170, 140);
  lstLevel3->emptyText = "-- No Selection --";
  lstLevel3->onClick = [this](web::Control& s) { lstLevel3Click(s); };
  chkDownLoad = create<web::CheckBox>("chkDownLoad", rgnSettings);
  chkDownLoad->caption = "Download file";
  chkDownLoad->setBounds(10, 218, 160, 20);
  auto* lblLogFile = create<web::Label>("lblLogFile", rgnSettings);
  lblLogFile->caption = "Logfile:";
  lblLogFile->setBounds(10, 244, 100, 18);
  mmLogFile = create<web::Memo>("mmLogFile", rgnSettings);
  mmLogFile->setBounds(10, 264, 500, 360);
  // Shown only: a log's text never travels back with the next click.
  mmLogFile->readOnly = true;

  InitCommon();
  LogFolder = CurrentLogRoot();
  Fill(*lstRoot, root_, LogFolder, true, false);
}

void TfrmLogView::onRender() {
  if (frameMainMenu) frameMainMenu->Arrange(false);
}

void TfrmLogView::Fill(web::ListBox& list, std::vector<Entry>& entries, const std::string& folder, bool folders,
                       bool files) {
  list.clear();
  entries.clear();
  const std::string root = CurrentLogRoot();
  std::vector<Entry> dirs, plain;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string path = it->path().string();
    if (!InsideRoot(path, root)) continue;
    std::error_code typeError;
    if (folders && fs::is_directory(path, typeError)) {
      dirs.push_back({name, true});
    } else if (files && fs::is_regular_file(path, typeError)) {
      plain.push_back({name, false});  // every regular file counts as archived
    }
  }
  for (const auto* group : {&dirs, &plain}) {
    for (const Entry& e : *group) {
      entries.push_back(e);
      list.addItem(e.folder ? "[" + e.name + "]" : e.name);
    }
  }
}

void TfrmLogView::lstRootClick(web::Control&) {
  lstLevel2->clear();
  level2_.clear();
  lstLevel3->clear();
  level3_.clear();
  mmLogFile->lines.clear();
  const int i = lstRoot->itemIndex;
  if (i < 0 || i >= static_cast<int>(root_.size())) return;
  LogFolder = CurrentLogRoot() + root_[i].name;
  Fill(*lstLevel2, level2_, LogFolder, true, true);
}

void TfrmLogView::lstLevel2Click(web::Control&) {
  lstLevel3->clear();
  level3_.clear();
  mmLogFile->lines.clear();
  const int i = lstLevel2->itemIndex;
  if (i < 0 || i >= static_cast<int>(level2_.size())) return;
  const std::string path = LogFolder + "/" + level2_[i].name;
  if (level2_[i].folder) {
    Fill(*lstLevel3, level3_, path, false, true);
  } else {
    ShowFile(path);
  }
}

void TfrmLogView::lstLevel3Click(web::Control&) {
  mmLogFile->lines.clear();
  const int folder = lstLevel2->itemIndex;
  const int file = lstLevel3->itemIndex;
  if (folder < 0 || folder >= static_cast<int>(level2_.size()) || !level2_[folder].folder) return;
  if (file < 0 || file >= static_cast<int>(level3_.size())) return;
  ShowFile(LogFolder + "/" + level2_[folder].name + "/" + level3_[file].name);
}

// Checked again here: the tree may have changed since it was listed.
void TfrmLogView::ShowFile(const std::string& path) {
  if (!InsideRoot(path, CurrentLogRoot())) throw EInOutError("The file is not in the log folder");
  if (chkDownLoad->checked) {
    OfferDownload(path);
    return;
  }
  // One byte more than is shown: the byte before the window tells whether
  // the window starts a line.
  uint64_t size = 0;
  const std::vector<uint8_t> bytes = ReadFileTail(path, LogViewShownBytes + 1, size);
  if (size <= LogViewShownBytes) {
    mmLogFile->setText(std::string(bytes.begin(), bytes.end()));
    return;
  }
  const std::string_view tail(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  size_t from = tail.find_first_of("\r\n");
  if (from == std::string_view::npos) {
    from = 1;  // one line longer than the window: its end is shown
  } else {
    ++from;
    if (tail[from - 1] == '\r' && from < tail.size() && tail[from] == '\n') ++from;
  }
  mmLogFile->setText(Format("... (only the last %s of this %s file is shown; tick \"Download file\" for all of it)",
                            MiBText(LogViewShownBytes), MiBText(size)) +
                     "\r\n" + std::string(tail.substr(std::min(from, tail.size()))));
}

void TfrmLogView::OfferDownload(const std::string& path) {
  const std::string target = MakeDownloadName(app().id(), path);
  std::error_code ec;
  // A failed copy still opens the window, which then finds no file.
  fs::copy_file(path, ProgramFolder() + "Files/" + target, fs::copy_options::overwrite_existing, ec);
  // The name is one path segment ("#", "?" and "%" in a log name included);
  // the script literal keeps the address, URL base and all, a string.
  const std::string address = app().urlBase + "/filesnc/" + web::UrlEncode(target);
  app().addScript("NewWindow(" + web::JsString(address, '"') + ", \"\",\"\");");
}
