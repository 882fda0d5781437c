#include "webadmin/fDomainsSecurity.h"

#include "Common/uConfigTables.h"
#include "Common/uDomainClasses.h"
#include "platform/SysUtils.h"
#include "webadmin/uPageLayout.h"

namespace {

// The deny actions offered, in stored-value order; "Not Denied" is not.
constexpr int OfferedActions = 4;
constexpr int SendFileAction = 3;

}  // namespace

TfrmDomainsSecurity::TfrmDomainsSecurity(web::WebApplication& app)
    : TfrmDomainSubPage(app, AdminPage::DomainsSecurity, "..\\Files\\hdDomainsSecurity.jpg") {
  TPageLayout row(this, rgnContent, 10);
  row.Caption("Forbidden/allowed IPs for this domain:")->width = 300;
  row.Skip(TPageLayout::RowHeight);
  rgrpAllowForbidd = create<web::RadioGroup>("rgrpAllowForbidd", rgnContent);
  rgrpAllowForbidd->setBounds(TPageLayout::LabelLeft, row.Top(), 300, 44);
  rgrpAllowForbidd->addItem("IP's in list are forbidden     ");
  rgrpAllowForbidd->addItem("IP's in list are allowed");
  row.Skip(54);
  row.Caption("IP numbers:");
  mmIPNumbers = row.Field<web::Memo>("mmIPNumbers", 220, 160);
  row.Caption("Action:");
  cmbRequestDeniedAction = row.Field<web::ComboBox>("cmbRequestDeniedAction");
  for (int action = 0; action < OfferedActions; ++action) cmbRequestDeniedAction->addItem(DenyActionNames[action]);
  row.Caption("Filename:");
  edtFileName = row.Field<web::Edit>("edtFileName");
  lblFileDoesNotExist = create<web::Label>("lblFileDoesNotExist", rgnContent);
  lblFileDoesNotExist->caption = "File does not exist!";
  lblFileDoesNotExist->font.color = web::colors::Red;
  lblFileDoesNotExist->visible = false;
  lblFileDoesNotExist->setBounds(TPageLayout::ControlLeft, row.Top(), 200, 18);
  StartUp();
}

void TfrmDomainsSecurity::LoadControls(TDomain& d) {
  const TIPRestrictor& r = d.IPRestrictor;
  rgrpAllowForbidd->itemIndex = r.Mode != 0 ? 0 : 1;
  cmbRequestDeniedAction->itemIndex = r.RequestDeniedAction < OfferedActions ? r.RequestDeniedAction : -1;
  edtFileName->text = r.FileName;
  mmIPNumbers->setText(r.IPNumbers.Text());
}

// The deny file is looked up as the engine's "Send File" opens it: the
// name unchanged, relative to the program folder.
bool TfrmDomainsSecurity::StoreFields(TDomain& d) {
  if (cmbRequestDeniedAction->itemIndex == SendFileAction && !FileExists(edtFileName->text)) {
    lblFileDoesNotExist->visible = true;
    return false;
  }
  TIPRestrictor& r = d.IPRestrictor;
  r.Mode = rgrpAllowForbidd->itemIndex == 1 ? 0 : 1;
  r.IPNumbers.SetText(mmIPNumbers->text());
  // A stored action the combo does not offer stays as stored.
  if (cmbRequestDeniedAction->itemIndex >= 0) r.RequestDeniedAction = static_cast<uint8_t>(cmbRequestDeniedAction->itemIndex);
  r.FileName = edtFileName->text;
  mmIPNumbers->setText(r.IPNumbers.Text());
  return true;
}
