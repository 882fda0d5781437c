#include "webadmin/uIWMisc.h"

void ClearGrid(web::Grid* grid) {
  if (grid) grid->clearCells();
}

void SetControlsVisible(bool visible, const std::vector<web::Control*>& controls) {
  for (web::Control* c : controls) {
    if (auto* label = dynamic_cast<web::Label*>(c)) label->visible = visible;
  }
}

void SetControlsEditable(bool editable, const std::vector<web::Control*>& controls) {
  for (web::Control* c : controls) {
    if (auto* label = dynamic_cast<web::Label*>(c)) {
      label->font.color = editable ? web::colors::Black : web::colors::Silver;
    } else if (auto* edit = dynamic_cast<web::Edit*>(c)) {
      edit->readOnly = !editable;
    } else if (auto* check = dynamic_cast<web::CheckBox*>(c)) {
      check->editable = editable;
    }
  }
}
