// Label-and-control rows inside a page's settings region, at fixed steps.
#pragma once

#include <string>

#include "platform/web/WebControls.h"

class TPageLayout {
 public:
  TPageLayout(web::Control* owner, web::Control* parent, int top) : owner_(owner), parent_(parent), top_(top) {}

  static constexpr int LabelLeft = 10;
  static constexpr int ControlLeft = 220;
  static constexpr int RowHeight = 26;

  // A caption label at the left of the current row; Name "" makes one
  // without a name of its own.
  web::Label* Caption(const std::string& caption, const std::string& name = "");
  // A control of type T at the right of the current row, then the next row.
  template <class T>
  T* Field(const std::string& name, int width = 220, int height = 20) {
    T* c = owner_->create<T>(name, parent_);
    c->setBounds(ControlLeft, top_, width, height);
    top_ += height > RowHeight - 6 ? height + 6 : RowHeight;
    return c;
  }
  void Skip(int pixels) { top_ += pixels; }
  int Top() const { return top_; }

 private:
  web::Control* owner_;
  web::Control* parent_;
  int top_;
  int unnamed_ = 0;
};
