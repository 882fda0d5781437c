// Label-and-control rows inside a page's settings region, at fixed steps.
#pragma once

#include <string>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"

// "btnSaveSettings" ("Save settings") at Left, Top of Parent and "lblSaved"
// ("Settings saved", green and bold, hidden until a save) beside it; Owner
// makes both.
std::tuple<web::Button*, web::Label*> SaveRowAt(web::Control* owner, web::Control* parent, int left, int top,
                                                web::Handler onClick);

class TPageLayout {
 public:
  TPageLayout(web::Control* owner, web::Control* parent, int top) : owner_(owner), parent_(parent), top_(top) {}

  static constexpr int LabelLeft = 10;
  static constexpr int ControlLeft = 220;
  static constexpr int RowHeight = 26;

  // A caption label at the left of the current row; Name "" makes one
  // without a name of its own.
  web::Label* Caption(const std::string& caption, const std::string& name = "");
  // A label 10 pixels right of Field, on its row.
  web::Label* NoteBeside(const std::string& name, const web::Control* field, int width);
  // A bold caption on a row of its own.
  web::Label* Heading(const std::string& caption);
  // A control of type T at the right of the current row, then the next row.
  template <class T>
  T* Field(const std::string& name, int width = 220, int height = 20) {
    T* c = owner_->create<T>(name, parent_);
    c->setBounds(ControlLeft, top_, width, height);
    top_ += height > RowHeight - 6 ? height + 6 : RowHeight;
    return c;
  }
  // The checker's status line on the current row: "imgStatus" and
  // "lblStatus" ("Settings look OK", LabelWidth wide); then the next row.
  std::tuple<web::ImageFile*, web::Label*> StatusLine(int labelWidth);
  // The save row (SaveRowAt) at the left of the current row.
  std::tuple<web::Button*, web::Label*> SaveRow(web::Handler onClick);
  void Skip(int pixels) { top_ += pixels; }
  int Top() const { return top_; }
  web::Control* Owner() const { return owner_; }
  web::Control* Parent() const { return parent_; }

 private:
  web::Control* owner_;
  web::Control* parent_;
  int top_;
  int unnamed_ = 0;
};

// Controls that the browser keeps below Grid as its rows grow (Control's
// keepBelow), moving together, never above where the page put them.
void KeepBelow(const web::Grid* grid, std::initializer_list<web::Control*> controls);
