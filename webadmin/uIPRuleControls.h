// The controls of an address rule (TIPRestrictor) that the server-wide and
// the domain security pages share: forbid or allow, the addresses, the deny
// action and the file that "Send File" sends, with the warning shown when
// that file is missing. A page derives from it, so the controls keep their
// names on the page.
#pragma once

#include <string>
#include <vector>

#include "platform/web/WebControls.h"

class TIPRestrictor;
class TPageLayout;

class TIPRuleControls {
 public:
  web::RadioGroup* rgrpAllowForbidd = nullptr;
  web::Memo* mmIPNumbers = nullptr;
  web::ComboBox* cmbRequestDeniedAction = nullptr;
  web::Edit* edtFileName = nullptr;
  web::Label* lblFileDoesNotExist = nullptr;

 protected:
  // From Row's current row on; ForbiddenCaption is the first radio item,
  // Offered the deny actions of the combo by their stored values.
  void CreateRuleControls(TPageLayout& row, const std::string& forbiddenCaption, std::vector<int> offered);
  // Mode, action (no selection when the combo does not offer it), file and addresses.
  void LoadRule(const TIPRestrictor& rule);
  // The stored value of the chosen deny action; -1 when none is chosen.
  int ChosenAction() const;
  // False, with the warning shown, when Action is "Send File" and the file
  // does not exist (the name tested unchanged, relative to the program
  // folder, as the engine opens it); true otherwise. A shown warning stays.
  bool CheckRuleFile(int action);
  // Mode, addresses, file, and Action unless it is -1 (the stored one stays).
  void StoreRule(TIPRestrictor& rule, int action) const;

 private:
  std::vector<int> offered_;
};
