// The standard controls: labels, panels, group boxes, memo, edit, combo box,
// check box, button, progress bar, image, image list, status bar and the
// report-style list view. Values are plain fields where nothing needs to be
// told; setters where the renderer draws the change.
#pragma once

#include <string>
#include <vector>

#include "platform/desktop/Forms.h"

class TLabel : public TControl {
 public:
  using TControl::TControl;
  bool Bold = false;
};

class TPanel : public TWinControl {
 public:
  using TWinControl::TWinControl;
  bool White = false;
};

class TGroupBox : public TWinControl {
 public:
  using TWinControl::TWinControl;
};

class TImage : public TControl {
 public:
  using TControl::TControl;
};

// Named pictures; lookups outside the list find nothing.
class TImageList : public TComponent {
 public:
  using TComponent::TComponent;
  std::vector<std::string> Images;
  int Count() const { return static_cast<int>(Images.size()); }
  // The picture's name, or "" when Index is outside the list.
  std::string Get(int index) const;
};

class TMemo;

// The memo's lines: each change is drawn unless updates are suspended.
class TMemoLines {
 public:
  explicit TMemoLines(TMemo& memo) : memo_(memo) {}
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int i) const { return lines_.at(static_cast<size_t>(i)); }
  void Add(const std::string& line);
  void Delete(int index);
  void Clear();
  std::string Text() const;  // every line followed by CR LF
  void BeginUpdate() { ++updating_; }
  void EndUpdate();
  bool Updating() const { return updating_ > 0; }
  const std::vector<std::string>& Items() const { return lines_; }

 private:
  TMemo& memo_;
  std::vector<std::string> lines_;
  int updating_ = 0;
};

class TMemo : public TControl {
 public:
  TMemo(TComponent* owner, TWinControl* parent) : TControl(owner, parent), Lines(*this) {}
  TMemoLines Lines;
  bool ReadOnly = false;
  bool WordWrap = true;

 private:
  friend class TMemoLines;
  void LinesChanged(const std::string* added);
};

class TEdit : public TControl {
 public:
  using TControl::TControl;
  const std::string& Text() const { return Caption(); }
  void SetText(const std::string& text) { SetCaption(text); }
  std::function<void(TControl&)> OnChange;
};

class TComboBox : public TControl {
 public:
  using TControl::TControl;
  std::vector<std::string> Items;
  int ItemIndex() const { return itemIndex_; }
  // Selects an item (its text becomes the text); -1 or outside: none.
  void SetItemIndex(int index);
  // Free text; the selection follows an item of equal text.
  const std::string& Text() const { return Caption(); }
  void SetText(const std::string& text);
  std::function<void(TControl&)> OnChange;

 private:
  int itemIndex_ = -1;
};

class TCheckBox : public TControl {
 public:
  using TControl::TControl;
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  // Toggles, then OnClick.
  void Click() override;

 private:
  bool checked_ = false;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  bool Default = false;  // Enter on the form clicks it
};

class TProgressBar : public TControl {
 public:
  using TControl::TControl;
  int Min = 0;
  int Max = 100;
  int Position() const { return position_; }
  void SetPosition(int position);

 private:
  int position_ = 0;
};

struct TStatusPanel {
  std::string Text;
  int Width = 50;
};

class TStatusBar : public TControl {
 public:
  using TControl::TControl;
  void AddPanel(int width);
  int PanelCount() const { return static_cast<int>(panels_.size()); }
  const TStatusPanel& Panel(int i) const { return panels_.at(static_cast<size_t>(i)); }
  // Tells the renderer only when the text changes.
  void SetPanelText(int i, const std::string& text);

 private:
  std::vector<TStatusPanel> panels_;
};

struct TListColumn {
  std::string Caption;
  int Width = 50;
};

// A row: caption (first column), image, the other columns and an opaque
// reference that the list never reads.
struct TListItem {
  std::string Caption;
  int ImageIndex = -1;
  std::vector<std::string> SubItems;
  const void* Data = nullptr;
};

class TListView : public TControl {
 public:
  using TControl::TControl;
  std::vector<TListColumn> Columns;
  TImageList* SmallImages = nullptr;  // not owned
  bool ReadOnly = true;
  bool RowSelect = true;

  int Count() const { return static_cast<int>(items_.size()); }
  TListItem& Item(int i) { return items_.at(static_cast<size_t>(i)); }
  const TListItem& Item(int i) const { return items_.at(static_cast<size_t>(i)); }
  TListItem& Add();
  void Delete(int i);
  void Clear();
  // The selected row, -1 for none; a deletion moves or clears it.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int i);
  TListItem* Selected() { return itemIndex_ >= 0 ? &Item(itemIndex_) : nullptr; }

  void BeginUpdate() { ++updating_; }
  void EndUpdate();
  // Rows changed in place: draw again (once updates are no longer suspended).
  void Invalidate();

 private:
  std::vector<TListItem> items_;
  int itemIndex_ = -1;
  int updating_ = 0;
};
