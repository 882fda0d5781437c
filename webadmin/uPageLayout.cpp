#include "webadmin/uPageLayout.h"

#include "platform/SysUtils.h"

web::Label* TPageLayout::Caption(const std::string& caption, const std::string& name) {
  web::Label* l = owner_->create<web::Label>(name.empty() ? "lblRow" + IntToStr(++unnamed_) : name, parent_);
  l->caption = caption;
  l->setBounds(LabelLeft, top_ + 2, ControlLeft - LabelLeft - 10, 18);
  return l;
}
