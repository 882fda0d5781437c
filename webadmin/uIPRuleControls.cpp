#include "webadmin/uIPRuleControls.h"

#include <algorithm>

#include "Common/uConfigTables.h"
#include "Common/uIPRestrictor.h"
#include "platform/SysUtils.h"
#include "webadmin/uPageLayout.h"

namespace {

constexpr int SendFileAction = 3;

}  // namespace

void TIPRuleControls::CreateRuleControls(TPageLayout& row, const std::string& forbiddenCaption,
                                         std::vector<int> offered) {
  offered_ = std::move(offered);
  web::Control* owner = row.Owner();
  web::Control* parent = row.Parent();
  rgrpAllowForbidd = owner->create<web::RadioGroup>("rgrpAllowForbidd", parent);
  rgrpAllowForbidd->setBounds(TPageLayout::LabelLeft, row.Top(), 300, 44);
  rgrpAllowForbidd->addItem(forbiddenCaption);
  rgrpAllowForbidd->addItem("IP's in list are allowed");
  row.Skip(54);
  row.Caption("IP numbers:");
  mmIPNumbers = row.Field<web::Memo>("mmIPNumbers", 220, 160);
  row.Caption("Action:");
  cmbRequestDeniedAction = row.Field<web::ComboBox>("cmbRequestDeniedAction");
  for (int action : offered_) cmbRequestDeniedAction->addItem(DenyActionNames[action]);
  row.Caption("Filename:");
  edtFileName = row.Field<web::Edit>("edtFileName");
  lblFileDoesNotExist = owner->create<web::Label>("lblFileDoesNotExist", parent);
  lblFileDoesNotExist->caption = "File does not exist!";
  lblFileDoesNotExist->font.color = web::colors::Red;
  lblFileDoesNotExist->visible = false;
  lblFileDoesNotExist->setBounds(TPageLayout::ControlLeft, row.Top(), 200, 18);
}

void TIPRuleControls::LoadRule(const TIPRestrictor& rule) {
  rgrpAllowForbidd->itemIndex = rule.Mode != 0 ? 0 : 1;
  const auto it = std::find(offered_.begin(), offered_.end(), rule.RequestDeniedAction);
  cmbRequestDeniedAction->itemIndex = it == offered_.end() ? -1 : static_cast<int>(it - offered_.begin());
  edtFileName->text = rule.FileName;
  mmIPNumbers->setText(rule.IPNumbers.Text());
}

int TIPRuleControls::ChosenAction() const {
  const int i = cmbRequestDeniedAction->itemIndex;
  return i >= 0 && i < static_cast<int>(offered_.size()) ? offered_[i] : -1;
}

bool TIPRuleControls::CheckRuleFile(int action) {
  const bool ok = action != SendFileAction || FileExists(edtFileName->text);
  // Once shown, the warning stays until the page is replaced.
  if (!ok) lblFileDoesNotExist->visible = true;
  return ok;
}

void TIPRuleControls::StoreRule(TIPRestrictor& rule, int action) const {
  rule.Mode = rgrpAllowForbidd->itemIndex == 1 ? 0 : 1;
  rule.IPNumbers.SetText(mmIPNumbers->text());
  if (action >= 0) rule.RequestDeniedAction = static_cast<uint8_t>(action);
  rule.FileName = edtFileName->text;
}
