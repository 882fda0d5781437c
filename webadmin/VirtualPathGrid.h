// The virtual-path grid of the domain main page: a typed model of the cells
// that the browser edits in place, the HTML each cell shows, the commands
// the page's scripts post, and the store back into the domain's paths.
//
// Cells are typed (a flag, a text, a cluster choice, a removal mark), and the
// HTML is rendered from them, so what is built, posted and stored agree for
// any text. Each row remembers the path it shows; rows added in the browser
// have none until a store creates one.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/web/WebGrid.h"
#include "platform/web/WebHttp.h"

class TDomain;
class TDomainHandler;
class TVirtualPath;

class VirtualPathGrid {
 public:
  static constexpr int ColCount = 15;
  enum Col {
    ColOnOff = 0,
    ColPath = 1,
    ColTarget = 2,
    ColHostReplace = 3,
    ColPathReplace = 4,
    ColOutPort = 5,
    ColSSL = 6,
    ColApp = 7,
    ColTomcat = 8,
    ColRedirect = 9,
    ColPermanentRedirect = 10,
    ColCluster = 11,
    ColRemove = 12,
    ColUp = 13,
    ColDown = 14,
  };
  static constexpr const char* NoSelection = "-- No Selection --";
  static constexpr const char* DomainDefault = "-- Domain Default --";

  // What a post asks of the page's answer.
  enum class PostResult { Ignored, CellsChanged, GridRebuilt };

  // Writes into Grid (not owned); the grid's cell texts always hold the
  // rendered cells.
  explicit VirtualPathGrid(web::Grid& grid) : grid_(grid) {}

  // Rows from the domain's paths; the cluster options from Handler.
  void Build(const TDomain& domain, const TDomainHandler& handler);
  // One post of the page's scripts (the parameters by name). Senders that
  // are not "R<n>C<n>", cells outside the grid and unknown commands change
  // nothing.
  PostResult Handle(const web::ParamMap& params, TDomain& domain, const TDomainHandler& handler);
  // Parses every row first (a bad outport raises EConvertError and changes
  // nothing), then updates the rows' paths, creates the touched new rows'
  // paths, and with Commit frees the paths marked for removal.
  void Store(TDomain& domain, TDomainHandler& handler, bool commit);
  // The parse of Store alone: raises what Store would raise.
  void Validate() const;

  // The cell writers.
  void SetBoolCell(int row, int col, bool value);
  void SetTextCell(int row, int col, const std::string& text, bool asDiv);
  void SetClusterCell(int row, int col, const std::string& text, bool asDiv);
  void SetRemoveCell(int row, int col, bool marked);
  void SetMoveCell(int row, int col, bool up);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  std::string CellHtml(int row, int col) const;
  bool Untouched(int row) const { return rows_.at(row).untouched; }
  bool Marked(int row) const { return rows_.at(row).cells[ColRemove].value; }
  bool Editing(int row, int col) const { return rows_.at(row).cells.at(col).editing; }
  std::string CellValue(int row, int col) const { return rows_.at(row).cells.at(col).text; }
  const TVirtualPath* PathOf(int row) const { return rows_.at(row).path; }

  // The option list of a cluster cell showing Text, and Text's position in
  // it (-1 when it names no option).
  std::string Options(const std::string& text) const;
  int OptionIndex(const std::string& text) const;

  // The page's browser functions (Busy, Done, the DoAsync* handlers,
  // addRow, editNewCell, VTFormInit, VTInitTabcontrols).
  static const std::string& PageScript();

 private:
  struct Cell {
    bool value = false;  // flags, removal mark, move direction
    std::string text;    // texts and the cluster choice, as stored
    bool editing = false;
  };
  struct Row {
    std::array<Cell, ColCount> cells;
    bool untouched = false;    // added in the browser, no cell changed since
    TVirtualPath* path = nullptr;  // the path the row shows; nil for a new row
  };
  void AddRow(Row row);
  void Write(int row, int col);
  bool CellAt(const web::ParamMap& params, int& row, int& col) const;
  void MoveRow(int row, bool up, TDomain& domain, const TDomainHandler& handler);

  web::Grid& grid_;
  std::vector<Row> rows_;  // [0] is the header
  std::vector<std::string> clusterNames_;
};
