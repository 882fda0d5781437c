#include "platform/web/WebGrid.h"

#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"

namespace web {

Grid::~Grid() {
  // Cell controls name the grid as parent; free them while it still exists.
  cells_.clear();
}

void Grid::setRowCount(int rows) { resize(rows, cols_); }
void Grid::setColCount(int cols) { resize(rows_, cols); }

void Grid::resize(int rows, int cols) {
  rows = rows < 0 ? 0 : rows;
  cols = cols < 0 ? 0 : cols;
  std::vector<std::unique_ptr<GridCell>> next(static_cast<size_t>(rows) * cols);
  for (int r = 0; r < rows && r < rows_; ++r) {
    for (int c = 0; c < cols && c < cols_; ++c) next[r * cols + c] = std::move(cells_[r * cols_ + c]);
  }
  cells_ = std::move(next);  // cells left out are freed with their controls
  rows_ = rows;
  cols_ = cols;
}

GridCell& Grid::cell(int row, int col) {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) throw ERangeError();
  auto& slot = cells_[row * cols_ + col];
  if (!slot) slot = std::make_unique<GridCell>();
  return *slot;
}

void Grid::placeControl(int row, int col, std::unique_ptr<Control> control) {
  GridCell& c = cell(row, col);
  if (control->name().empty()) control->setName(name() + "_R" + IntToStr(row) + "C" + IntToStr(col));
  control->setParent(this);
  c.control = std::move(control);
}

void Grid::clearCells() {
  for (auto& c : cells_) c.reset();
}

void Grid::renderContent(RenderContext& ctx, const std::string& id, std::string& out) {
  out += "<table id=\"TBL" + id + "\" cellpadding=\"" + IntToStr(cellPadding) + "\" cellspacing=\"" +
         IntToStr(cellSpacing) + "\"";
  if (borderVisible) out += " border=\"1\"";
  std::string extra = "border-collapse:collapse;";
  if (width > 0) extra += "width:" + IntToStr(width) + "px;";
  if (borderColor.isSet()) extra += "border-color:" + borderColor.css() + ";";
  out += styleAttr(extra) + commonAttrs() + ">";
  for (int r = 0; r < rows_; ++r) {
    out += "<tr>";
    for (int c = 0; c < cols_; ++c) {
      GridCell& gc = cell(r, c);
      if (onRenderCell) onRenderCell(gc, r, c);
      out += "<td";
      if (gc.width > 0) out += " width=\"" + IntToStr(gc.width) + "\"";
      if (gc.height > 0) out += " height=\"" + IntToStr(gc.height) + "\"";
      if (!gc.alignment.empty()) out += " align=\"" + HtmlEscape(gc.alignment) + "\"";
      if (gc.bgColor.isSet()) out += " bgcolor=\"" + gc.bgColor.css() + "\"";
      std::string style;
      if (gc.fontColor.isSet()) style += "color:" + gc.fontColor.css() + ";";
      if (gc.bold) style += "font-weight:bold;";
      if (!style.empty()) out += " style=\"" + style + "\"";
      out += ">";
      if (gc.control) {
        gc.control->render(ctx, out, false);
      } else {
        out += gc.text;
      }
      out += "</td>";
    }
    out += "</tr>";
  }
  out += "</table>";
}

}  // namespace web
