// A table of cells. Cell text is raw HTML by design (pages build "&nbsp;"
// padded texts), so a page escapes every configuration value it puts in; a
// cell may instead hold a control, which the cell owns.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/web/WebComponent.h"

namespace web {

class Grid;

struct GridCell {
  std::string text;  // raw HTML
  int width = 0;
  int height = 0;
  std::string alignment;  // "", "left", "center", "right"
  Color bgColor;
  Color fontColor;
  bool bold = false;
  int tag = 0;
  const void* tagObject = nullptr;
  std::unique_ptr<Control> control;
};

class Grid : public Control {
 public:
  using Control::Control;
  ~Grid() override;

  int rowCount() const { return rows_; }
  int colCount() const { return cols_; }
  void setRowCount(int rows);
  void setColCount(int cols);
  // The cell at (Row, Col); an out-of-range cell raises ERangeError.
  GridCell& cell(int row, int col);
  // Places Control in the cell; the cell owns it. An unnamed control is named
  // after the grid and the cell ("grdDomains_R1C0").
  template <class T>
  T* setCellControl(int row, int col, std::unique_ptr<T> control) {
    T* raw = control.get();
    placeControl(row, col, std::move(control));
    return raw;
  }
  // Frees every cell with the controls placed in it; the size stays.
  void clearCells();

  int cellPadding = 2;
  int cellSpacing = 0;
  bool borderVisible = true;
  Color borderColor;
  // Called for every cell just before it is written.
  std::function<void(GridCell& cell, int row, int col)> onRenderCell;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;

 private:
  void placeControl(int row, int col, std::unique_ptr<Control> control);
  void resize(int rows, int cols);
  int rows_ = 0;
  int cols_ = 0;
  std::vector<std::unique_ptr<GridCell>> cells_;  // row-major; created on first use
};

}  // namespace web
