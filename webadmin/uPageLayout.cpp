#include "webadmin/uPageLayout.h"

#include "platform/SysUtils.h"

web::Label* TPageLayout::Caption(const std::string& caption, const std::string& name) {
  web::Label* l = owner_->create<web::Label>(name.empty() ? "lblRow" + IntToStr(++unnamed_) : name, parent_);
  l->caption = caption;
  l->setBounds(LabelLeft, top_ + 2, ControlLeft - LabelLeft - 10, 18);
  return l;
}

web::Label* TPageLayout::NoteBeside(const std::string& name, const web::Control* field, int width) {
  web::Label* l = owner_->create<web::Label>(name, parent_);
  l->setBounds(field->left + field->width + 10, field->top + 2, width, 18);
  return l;
}

web::Label* TPageLayout::Heading(const std::string& caption) {
  web::Label* l = Caption(caption);
  l->font.bold = true;
  top_ += RowHeight;
  return l;
}

std::tuple<web::ImageFile*, web::Label*> TPageLayout::StatusLine(int labelWidth) {
  auto* image = owner_->create<web::ImageFile>("imgStatus", parent_);
  image->setBounds(LabelLeft, top_, 18, 18);
  auto* label = owner_->create<web::Label>("lblStatus", parent_);
  label->caption = "Settings look OK";
  label->setBounds(LabelLeft + 26, top_, labelWidth, 18);
  top_ += RowHeight + 4;
  return {image, label};
}

std::tuple<web::Button*, web::Label*> SaveRowAt(web::Control* owner, web::Control* parent, int left, int top,
                                                web::Handler onClick) {
  auto* button = owner->create<web::Button>("btnSaveSettings", parent);
  button->caption = "Save settings";
  button->setBounds(left, top, 110, 24);
  button->onClick = std::move(onClick);
  auto* saved = owner->create<web::Label>("lblSaved", parent);
  saved->caption = "Settings saved";
  saved->font.color = web::colors::Green;
  saved->font.bold = true;
  saved->visible = false;
  saved->setBounds(left + 130, top + 4, 120, 16);
  return {button, saved};
}

std::tuple<web::Button*, web::Label*> TPageLayout::SaveRow(web::Handler onClick) {
  return SaveRowAt(owner_, parent_, LabelLeft, top_, std::move(onClick));
}

void KeepBelow(const web::Grid* grid, std::initializer_list<web::Control*> controls) {
  for (web::Control* c : controls) c->keepBelow = grid;
}
