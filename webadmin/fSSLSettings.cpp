#include "webadmin/fSSLSettings.h"

#include <filesystem>
#include <system_error>
#include <tuple>

#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
#include "Common/uSSLSettings.h"
#include "HTTPRedirect/uEngineHooks.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uIWMisc.h"
#include "webadmin/uPageLayout.h"

const char* const CipherListLow = "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA";
const char* const CipherListMedium = "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:!LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA";
const char* const CipherListHigh = "ALL:!ADH:RC4+RSA:+HIGH:!MEDIUM:!LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA";

namespace {

// How to turn an IIS certificate (a .pfx export) into the PEM files used here.
const char* const IISCertificateArticle = "https://docs.openssl.org/master/man1/openssl-pkcs12/";

constexpr uint32_t SelectedRowBGR = 0x00A5FF;  // orange

// The combo's file name: its text when a file is chosen, "" for "None" or
// no selection.
std::string ChosenFile(const web::ComboBox& combo) { return combo.itemIndex > 0 ? combo.text() : std::string(); }

}  // namespace

web::AppForm* CreateSSLSettingsPage(web::WebApplication& app) {
  TUserSession* session = UserSession();
  if (session && !session->GetCurrentSSLSettings())
    return CreatePage(app, AdminPage::SSLSettingsList);
  return app.createForm<TfrmSSLSettings>();
}

std::tuple<web::ComboBox*, web::ComboBox*, web::ComboBox*> CreateCertFileCombos(TPageLayout& row) {
  row.Caption("Root Certificate File:");
  auto* root = row.Field<web::ComboBox>("cmbRootCertFile");
  row.Caption("Certificate File:");
  auto* cert = row.Field<web::ComboBox>("cmbCertFile");
  row.Caption("Key File:");
  auto* key = row.Field<web::ComboBox>("cmbKeyFile");
  return {root, cert, key};
}

TfrmSSLSettings::TfrmSSLSettings(web::WebApplication& app) : TAdminPage(app, AdminPage::SSLSettings) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(1000);
  imgHeader = create<web::ImageFile>("imgHeader", rgnSettings);
  imgHeader->fileName = "..\\Files\\vtwaSSL_settings.jpg";
  imgHeader->setBounds(0, 0, 420, 36);
  cmbSSLCertificates = create<web::ComboBox>("cmbSSLCertificates", rgnSettings);
  cmbSSLCertificates->setBounds(TPageLayout::LabelLeft, 44, 300, 20);
  cmbSSLCertificates->onChange = [this](web::Control& s) { cmbSSLCertificatesChange(s); };

  TPageLayout row(this, rgnSettings, 76);
  row.Caption("Certificate name:");
  edtCertificateName = row.Field<web::Edit>("edtCertificateName");
  row.Caption("Enabled:");
  chkSSLEnabled = row.Field<web::CheckBox>("chkSSLEnabled", 40);
  row.Caption("Certificate Location:");
  lblPath = row.Field<web::Label>("lblPath", 290, 18);
  lblPath->caption = "%s";
  std::tie(cmbRootCertFile, cmbCertFile, cmbKeyFile) = CreateCertFileCombos(row);
  row.Caption("Certificate Password:");
  edtCertPassword = row.Field<web::Edit>("edtCertPassword");
  edtCertPassword->password = true;

  row.Heading("Verification Mode");
  row.Caption("Verify Peer:");
  chkVerifyPeer = row.Field<web::CheckBox>("chkVerifyPeer", 40);
  chkVerifyPeer->onClick = [this](web::Control& s) { chkVerifyPeerClick(s); };
  lblFailIfNoPeerCert = row.Caption("Fail if no Peer Cert.:", "lblFailIfNoPeerCert");
  chkFailIfNoPeerCert = row.Field<web::CheckBox>("chkFailIfNoPeerCert", 40);
  lblVerifyClientOnce = row.Caption("Verify Client Once:", "lblVerifyClientOnce");
  chkVerifyClientOnce = row.Field<web::CheckBox>("chkVerifyClientOnce", 40);
  row.Caption("Cipher List:");
  edtCipherList = row.Field<web::Edit>("edtCipherList", 290);
  edtCipherList->hint = "SSL Cipher List";
  btnCipherListLow = create<web::Button>("btnCipherListLow", rgnSettings);
  btnCipherListMedium = create<web::Button>("btnCipherListMedium", rgnSettings);
  btnCipherListHigh = create<web::Button>("btnCipherListHigh", rgnSettings);
  int x = TPageLayout::ControlLeft;
  for (auto [button, caption, width] : {std::tuple{btnCipherListLow, "Default List (56+ Bit)", 140},
                                        {btnCipherListMedium, "128+ Bit", 70}, {btnCipherListHigh, "168+ Bit", 70}}) {
    button->caption = caption;
    button->setBounds(x, row.Top(), width, 22);
    x += width + 6;
  }
  btnCipherListLow->onClick = [this](web::Control& s) { btnCipherListLowClick(s); };
  btnCipherListMedium->onClick = [this](web::Control& s) { btnCipherListMediumClick(s); };
  btnCipherListHigh->onClick = [this](web::Control& s) { btnCipherListHighClick(s); };
  row.Skip(TPageLayout::RowHeight + 4);

  row.Heading("Bindings");
  row.Caption("IP to bind to (*=all):");
  edtBindIP = row.Field<web::Edit>("edtBindIP", 150);
  row.Caption("Port to bind to:");
  edtBindPort = row.Field<web::Edit>("edtBindPort", 80);
  btnBindingAdd = create<web::Button>("btnBindingAdd", rgnSettings);
  btnBindingAdd->caption = "Add";
  btnBindingAdd->setBounds(TPageLayout::ControlLeft + 90, edtBindPort->top, 60, 22);
  btnBindingAdd->onClick = [this](web::Control& s) { btnBindingAddClick(s); };
  btnBindingUpdate = create<web::Button>("btnBindingUpdate", rgnSettings);
  btnBindingUpdate->caption = "Update";
  btnBindingUpdate->setBounds(TPageLayout::ControlLeft + 156, edtBindPort->top, 70, 22);
  btnBindingUpdate->onClick = [this](web::Control& s) { btnBindingUpdateClick(s); };
  grdBindings = create<web::Grid>("grdBindings", rgnSettings);
  grdBindings->setBounds(TPageLayout::LabelLeft, row.Top(), 400, 60);
  grdBindings->setColCount(4);
  StyleListGrid(*grdBindings);
  grdBindings->onRenderCell = [this, style = grdBindings->onRenderCell](web::GridCell& cell, int r, int c) {
    style(cell, r, c);
    if (SelectedBinding >= 0 && r == SelectedBinding + 1) cell.bgColor = web::Color::fromBGR(SelectedRowBGR);
  };
  row.Skip(140);

  web::Label* uploadCaption = row.Caption("Upload Cert/Key File");
  fileUpload = row.Field<web::FileUpload>("fileUpload");
  btnUpload = create<web::Button>("btnUpload", rgnSettings);
  btnUpload->caption = "Upload";
  btnUpload->setBounds(TPageLayout::ControlLeft, row.Top(), 70, 22);
  btnUpload->onClick = [this](web::Control& s) { btnUploadClick(s); };
  lblUploadStatus = create<web::Label>("lblUploadStatus", rgnSettings);
  lblUploadStatus->setBounds(TPageLayout::ControlLeft + 80, row.Top() + 2, 220, 18);
  row.Skip(TPageLayout::RowHeight);
  IWURL1 = CreateLink(this, rgnSettings, "IWURL1", "Want to install IIS certificate?", TPageLayout::LabelLeft,
                      row.Top(), 260);
  IWURL1->url = IISCertificateArticle;
  row.Skip(TPageLayout::RowHeight);

  std::tie(imgStatus, lblStatus) = row.StatusLine(470);
  btnSaveSettings = CreateSaveRow(row, [this](web::Control& s) { btnSaveSettingsClick(s); });
  lblRestart = create<web::Label>("lblRestart", rgnSettings);
  lblRestart->font.color = web::colors::Red;
  lblRestart->visible = false;
  lblRestart->setBounds(TPageLayout::LabelLeft + 260, row.Top() + 4, 240, 18);
  // The upload, the status line and the save row.
  KeepBelow(grdBindings, {uploadCaption, fileUpload, btnUpload, lblUploadStatus, IWURL1, imgStatus, lblStatus,
                          btnSaveSettings, lblSaved, lblRestart});

  lblUploadStatus->caption = "";
  lblPath->caption = Format(lblPath->caption, CertificateFolder());
  InitCommon();
  IWURLHelp->url = std::string(HelpBaseURL) + "SSLSettings.htm";
  FChecker = std::make_unique<TErrorWarningChecker>(lblStatus, UserSession()->DomainHandler.get(), imgStatus);
  LoadSettings();
  FillCertificateCombo();
  BuildBindingsGrid();
  lblSaved->visible = false;
}

TfrmSSLSettings::~TfrmSSLSettings() = default;

TSSLSettings* TfrmSSLSettings::CurrentSSLSettings() const { return UserSession()->GetCurrentSSLSettings(); }

void TfrmSSLSettings::LoadSettings() {
  std::vector<std::string> files;
  for (const std::string& path : ListFilesByMask(CertificateFolder() + "*.*")) files.push_back(ExtractFileName(path));
  const TSSLSettings* s = CurrentSSLSettings();
  const std::pair<web::ComboBox*, std::string> combos[] = {
      {cmbRootCertFile, s ? s->RootCertificateFile : ""},
      {cmbCertFile, s ? s->CertificateFile : ""},
      {cmbKeyFile, s ? s->KeyFile : ""}};
  for (const auto& [combo, stored] : combos) {
    combo->clear();
    combo->addItem("None");
    for (const std::string& f : files) combo->addItem(f);
    combo->itemIndex = -1;
    for (size_t i = 0; i < combo->items.size(); ++i)
      if (combo->items[i] == stored) {
        combo->itemIndex = static_cast<int>(i);
        break;
      }
    // A name stored with its folder ("data/cert/a.pem", as the engine also
    // reads it) selects that file, so a save does not clear it.
    if (combo->itemIndex < 0 && !stored.empty()) {
      for (size_t i = 1; i < combo->items.size(); ++i) {
        std::error_code ec;
        if (std::filesystem::equivalent(TSSLSettings::ResolveCertPath(stored), CertificateFolder() + combo->items[i],
                                        ec)) {
          combo->itemIndex = static_cast<int>(i);
          break;
        }
      }
    }
  }
  if (s) {
    edtCertPassword->text = s->CertificatePassword;
    chkSSLEnabled->checked = s->Enabled;
    edtCertificateName->text = s->CertificateName;
    edtCipherList->text = s->CipherList;
    chkVerifyPeer->checked = (s->VerifyFlags & 1) != 0;
    chkFailIfNoPeerCert->checked = (s->VerifyFlags & 2) != 0;
    chkVerifyClientOnce->checked = (s->VerifyFlags & 4) != 0;
  }
  RefreshStatus();
}

void TfrmSSLSettings::RefreshStatus() {
  FChecker->Settings = UserSession()->DomainHandler.get();
  if (TSSLSettings* s = CurrentSSLSettings()) FChecker->CheckSSLCertificate(s);
  SetControlsEditable(chkVerifyPeer->checked,
                      {lblFailIfNoPeerCert, chkFailIfNoPeerCert, lblVerifyClientOnce, chkVerifyClientOnce});
}

void TfrmSSLSettings::FillCertificateCombo() {
  cmbSSLCertificates->clear();
  TUserSession* session = UserSession();
  for (const auto& s : session->DomainHandler->SSLSettingsList) cmbSSLCertificates->addItem(s->CertificateName);
  cmbSSLCertificates->itemIndex = session->SSLSettingsIndex;
}

void TfrmSSLSettings::BuildBindingsGrid() {
  ClearGrid(grdBindings);
  SelectedBinding = -1;
  const TSSLSettings* s = CurrentSSLSettings();
  const int count = s ? s->Bindings.Count() : 0;
  grdBindings->setRowCount(count + 1);
  const char* headers[] = {"&nbsp;Bind IP&nbsp;", "&nbsp;Bind port&nbsp;", "&nbsp;Edit&nbsp;", "&nbsp;Remove&nbsp;"};
  for (int c = 0; c < 4; ++c) grdBindings->cell(0, c).text = headers[c];
  for (int i = 0; i < count; ++i) {
    const TBinding& b = *s->Bindings[i];
    web::GridCell& ip = grdBindings->cell(i + 1, 0);
    ip.text = CellText(b.IP);
    ip.width = 150;
    web::GridCell& port = grdBindings->cell(i + 1, 1);
    port.text = CellText(IntToStr(b.Port));
    port.width = 50;
    AddRowImage(*grdBindings, i + 1, 2, RowImage::Edit, i, [this](web::Control& x) { imgBindingEditClick(x); });
    AddRowImage(*grdBindings, i + 1, 3, RowImage::Remove, i, [this](web::Control& x) { imgBindingRemoveClick(x); },
                true, ConfirmRemoveRestart);
  }
}

void TfrmSSLSettings::SaveSettings(TSSLSettings& set) {
  set.SetCertificateFile(ChosenFile(*cmbCertFile));
  set.SetKeyFile(ChosenFile(*cmbKeyFile));
  set.SetRootCertificateFile(ChosenFile(*cmbRootCertFile));
  set.SetPassword(edtCertPassword->text);
  set.Enabled = chkSSLEnabled->checked;
  set.CertificateName = edtCertificateName->text;
  set.CipherList = edtCipherList->text;
  set.VerifyFlags = static_cast<uint8_t>((chkVerifyPeer->checked ? 1 : 0) | (chkFailIfNoPeerCert->checked ? 2 : 0) |
                                         (chkVerifyClientOnce->checked ? 4 : 0));
}

bool TfrmSSLSettings::Validate(TSSLSettings& set) {
  FChecker->CheckSSLCertificate(&set);
  if (FChecker->Status != TErrorWarningChecker::StatusError) return true;
  app().showMessage(FChecker->Message);
  return false;
}

// The controls go into a clone first: a set the check refuses never
// reaches the copy, so no later save can write it unchecked.
void TfrmSSLSettings::btnSaveSettingsClick(web::Control&) {
  TSSLSettings* current = CurrentSSLSettings();
  if (!current) return;
  std::unique_ptr<TSSLSettings> candidate = current->Clone();
  SaveSettings(*candidate);
  if (!Validate(*candidate)) return;
  SaveSettings(*current);
  TUserSession* session = UserSession();
  session->SaveSettings();
  RefreshStatus();
  // A restart that stops a running engine and cannot start it again must
  // not read as a plain success.
  const bool runningBefore = EngineHooks::IsServerRunning();
  std::string msg;
  EngineHooks::RestartServer(this, msg);
  const bool stopped = runningBefore && !EngineHooks::IsServerRunning();
  lblRestart->caption = stopped ? msg : "";
  lblRestart->visible = stopped;
  FillCertificateCombo();
  lblSaved->visible = true;
}

// Only the base name of the sent file counts; the file is written to a
// temporary name in data/cert/ and renamed, so nothing else is touched.
void TfrmSSLSettings::btnUploadClick(web::Control&) {
  try {
    const std::string name = fileUpload->fileName();
    if (name.empty()) throw EInOutError("No file, or not a plain file name");
    const std::string folder = CertificateFolder();
    ForceDirectories(folder);
    fileUpload->saveToFile(folder + name);
    lblUploadStatus->caption = Format("%s uploaded.", name);
    LoadSettings();
  } catch (const std::exception& e) {
    lblUploadStatus->caption = Format("Upload failed: %s", e.what());
  }
}

void TfrmSSLSettings::chkVerifyPeerClick(web::Control&) { RefreshStatus(); }

void TfrmSSLSettings::cmbSSLCertificatesChange(web::Control&) {
  TUserSession* session = UserSession();
  session->SSLSettingsIndex = cmbSSLCertificates->itemIndex;
  if (app().activeForm() != this) {
    // Shown inside the edition shell, which owns it: show the set in place.
    LoadSettings();
    FillCertificateCombo();
    BuildBindingsGrid();
    lblSaved->visible = false;
    return;
  }
  release();
  CreatePage(app(), AdminPage::SSLSettings)->show();
}

void TfrmSSLSettings::btnCipherListLowClick(web::Control&) { edtCipherList->text = CipherListLow; }
void TfrmSSLSettings::btnCipherListMediumClick(web::Control&) { edtCipherList->text = CipherListMedium; }
void TfrmSSLSettings::btnCipherListHighClick(web::Control&) { edtCipherList->text = CipherListHigh; }

void TfrmSSLSettings::imgBindingEditClick(web::Control& sender) {
  const TSSLSettings* s = CurrentSSLSettings();
  SelectedBinding = RowIndex(sender);
  if (!s || SelectedBinding < 0 || SelectedBinding >= s->Bindings.Count()) {
    SelectedBinding = -1;
    return;
  }
  edtBindIP->text = s->Bindings[SelectedBinding]->IP;
  edtBindPort->text = IntToStr(s->Bindings[SelectedBinding]->Port);
}

void TfrmSSLSettings::btnBindingAddClick(web::Control&) {
  TSSLSettings* s = CurrentSSLSettings();
  if (!s || Trim(edtBindIP->text).empty() || Trim(edtBindPort->text).empty()) return;
  const int32_t port = StrToInt(edtBindPort->text);
  s->Bindings.AddBinding(edtBindIP->text, port);
  edtBindIP->text.clear();
  edtBindPort->text.clear();
  BuildBindingsGrid();
}

// The port is converted before anything changes.
void TfrmSSLSettings::btnBindingUpdateClick(web::Control&) {
  TSSLSettings* s = CurrentSSLSettings();
  if (!s || SelectedBinding < 0 || SelectedBinding >= s->Bindings.Count() || Trim(edtBindIP->text).empty() ||
      Trim(edtBindPort->text).empty())
    return;
  const int32_t port = StrToInt(edtBindPort->text);
  TBinding& b = *s->Bindings[SelectedBinding];
  b.IP = edtBindIP->text;
  b.Port = port;
  edtBindIP->text.clear();
  edtBindPort->text.clear();
  BuildBindingsGrid();
}

void TfrmSSLSettings::imgBindingRemoveClick(web::Control& sender) {
  TSSLSettings* s = CurrentSSLSettings();
  const int i = RowIndex(sender);
  if (!s || i < 0 || i >= s->Bindings.Count()) return;
  s->Bindings.Delete(i);
  BuildBindingsGrid();
}
