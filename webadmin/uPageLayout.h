// Label-and-control rows inside a page's settings region, at fixed steps.
#pragma once

#include <string>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"

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
  // "btnSaveSettings" ("Save settings") at the left of the current row.
  web::Button* SaveButton(web::Handler onClick);
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

// The controls that stand below a list grid whose row count varies: Place
// moves them down as far as the grid's rows need (a row at most RowHeight
// high), never above where they were made.
class TBelowGrid {
 public:
  TBelowGrid(const web::Grid* grid, int headerHeight, int rowHeight)
      : grid_(grid), headerHeight_(headerHeight), rowHeight_(rowHeight) {}
  // Once the controls stand where the page puts them with an empty grid.
  void Add(std::initializer_list<web::Control*> controls);
  void Place(int rows);

 private:
  const web::Grid* grid_;
  int headerHeight_, rowHeight_;
  std::vector<std::pair<web::Control*, int>> controls_;  // with their first tops
};
