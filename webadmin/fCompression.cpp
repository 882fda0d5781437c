#include "webadmin/fCompression.h"

#include "Common/uDomainHandler.h"
#include "webadmin/UserSession.h"
#include "webadmin/uPageLayout.h"

namespace {

TCompressionLimiter& Limiter() { return UserSession()->DomainHandler->CompressionLimiter; }

}  // namespace

TfrmCompression::TfrmCompression(web::WebApplication& app) : TAdminPage(app, AdminPage::Compression) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(480);

  TPageLayout row(this, rgnSettings, 40);
  IWCheckBoxCompressionEnabled = create<web::CheckBox>("IWCheckBoxCompressionEnabled", rgnSettings);
  IWCheckBoxCompressionEnabled->caption = "Compression enabled";
  IWCheckBoxCompressionEnabled->setBounds(TPageLayout::LabelLeft, row.Top(), 200, 20);
  row.Skip(TPageLayout::RowHeight + 6);
  row.Caption("File extensions to compress:");
  mmExtToCompress = row.Field<web::Memo>("mmExtToCompress", 220, 150);
  IWButtonSetEXTDefaults = create<web::Button>("IWButtonSetEXTDefaults", rgnSettings);
  IWButtonSetEXTDefaults->setBounds(TPageLayout::LabelLeft, mmExtToCompress->top + 30, 100, 22);
  row.Caption("Mime types to compress:");
  mmMIMEToCompress = row.Field<web::Memo>("mmMIMEToCompress", 220, 150);
  IWButtonSetMIMEDefaults = create<web::Button>("IWButtonSetMIMEDefaults", rgnSettings);
  IWButtonSetMIMEDefaults->setBounds(TPageLayout::LabelLeft, mmMIMEToCompress->top + 30, 100, 22);
  IWButtonSetEXTDefaults->caption = IWButtonSetMIMEDefaults->caption = "Set defaults";
  IWButtonSetEXTDefaults->onClick = [this](web::Control& s) { IWButtonSetEXTDefaultsClick(s); };
  IWButtonSetMIMEDefaults->onClick = [this](web::Control& s) { IWButtonSetMIMEDefaultsClick(s); };
  row.Skip(10);
  btnSaveSettings = CreateSaveRow(row, [this](web::Control& s) { btnSaveSettingsClick(s); });

  InitCommon();

  TCompressionLimiter& l = Limiter();
  IWCheckBoxCompressionEnabled->checked = l.Enabled;
  l.ExtToCompress.Sort();
  mmExtToCompress->setText(l.ExtToCompress.Text());
  l.MIMEToCompress.Sort();
  mmMIMEToCompress->setText(l.MIMEToCompress.Text());
}

void TfrmCompression::IWButtonSetEXTDefaultsClick(web::Control&) {
  Limiter().SetDefaultExtensions();
  mmExtToCompress->setText(Limiter().ExtToCompress.Text());
}

void TfrmCompression::IWButtonSetMIMEDefaultsClick(web::Control&) {
  Limiter().SetDefaultMimeTypes();
  mmMIMEToCompress->setText(Limiter().MIMEToCompress.Text());
}

void TfrmCompression::SaveSettings() {
  SaveSettingsSequence([this] {
    TCompressionLimiter& l = Limiter();
    l.Enabled = IWCheckBoxCompressionEnabled->checked;
    l.ExtToCompress.SetText(mmExtToCompress->text());
    l.MIMEToCompress.SetText(mmMIMEToCompress->text());
  });
  activeControl = nullptr;
}
