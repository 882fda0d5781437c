#include "webadmin/uPageLayout.h"

#include <algorithm>
#include <climits>

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

web::Button* TPageLayout::SaveButton(web::Handler onClick) {
  auto* button = owner_->create<web::Button>("btnSaveSettings", parent_);
  button->caption = "Save settings";
  button->setBounds(LabelLeft, top_, 110, 24);
  button->onClick = std::move(onClick);
  return button;
}

void TBelowGrid::Add(std::initializer_list<web::Control*> controls) {
  for (web::Control* c : controls) controls_.emplace_back(c, c->top);
}

void TBelowGrid::Place(int rows) {
  int first = INT_MAX;
  for (const auto& [c, top] : controls_) first = std::min(first, top);
  if (controls_.empty()) return;
  const int needed = grid_->top + headerHeight_ + rowHeight_ * rows + 20;
  const int shift = std::max(0, needed - first);
  for (const auto& [c, top] : controls_) c->top = top + shift;
}
