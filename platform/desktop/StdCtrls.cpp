#include "platform/desktop/StdCtrls.h"

#include "platform/desktop/Renderer.h"

namespace {

TDesktopRenderer* TheRenderer() { return Application != nullptr ? Application->Renderer() : nullptr; }

void Redraw() {
  if (TDesktopRenderer* r = TheRenderer()) r->Invalidate();
}

}  // namespace

std::string TImageList::Get(int index) const {
  if (index < 0 || index >= Count()) return "";
  return Images[static_cast<size_t>(index)];
}

// ------------------------------------------------------------ memo

void TMemoLines::Add(const std::string& line) {
  lines_.push_back(line);
  memo_.LinesChanged(&lines_.back());
}

void TMemoLines::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  lines_.erase(lines_.begin() + index);
  memo_.LinesChanged(nullptr);
}

void TMemoLines::Clear() {
  lines_.clear();
  memo_.LinesChanged(nullptr);
}

std::string TMemoLines::Text() const {
  std::string all;
  for (const std::string& l : lines_) all += l + "\r\n";
  return all;
}

void TMemoLines::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) memo_.LinesChanged(nullptr);
}

void TMemo::LinesChanged(const std::string* added) {
  TDesktopRenderer* r = TheRenderer();
  if (r == nullptr) return;
  if (added != nullptr) r->MemoLineAdded(*this, *added);
  if (!Lines.Updating()) r->Invalidate();
}

// ------------------------------------------------------------ simple controls

void TComboBox::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(Items.size())) {
    itemIndex_ = -1;
    SetCaption("");
    return;
  }
  itemIndex_ = index;
  SetCaption(Items[static_cast<size_t>(index)]);
}

void TComboBox::SetText(const std::string& text) {
  itemIndex_ = -1;
  for (size_t i = 0; i < Items.size(); ++i)
    if (Items[i] == text) itemIndex_ = static_cast<int>(i);
  SetCaption(text);
}

void TCheckBox::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Redraw();
}

void TCheckBox::Click() {
  if (!Enabled()) return;
  SetChecked(!checked_);
  TControl::Click();
}

void TProgressBar::SetPosition(int position) {
  if (position < Min) position = Min;
  if (position > Max) position = Max;
  if (position_ == position) return;
  position_ = position;
  Redraw();
}

void TStatusBar::AddPanel(int width) {
  panels_.push_back(TStatusPanel{"", width});
  Redraw();
}

void TStatusBar::SetPanelText(int i, const std::string& text) {
  TStatusPanel& p = panels_.at(static_cast<size_t>(i));
  if (p.Text == text) return;
  p.Text = text;
  if (TDesktopRenderer* r = TheRenderer()) {
    r->StatusTextChanged(*this, i, text);
    r->Invalidate();
  }
}

// ------------------------------------------------------------ list view

TListItem& TListView::Add() {
  items_.emplace_back();
  Invalidate();
  return items_.back();
}

void TListView::Delete(int i) {
  if (i < 0 || i >= Count()) return;
  items_.erase(items_.begin() + i);
  if (itemIndex_ == i) {
    itemIndex_ = -1;
  } else if (itemIndex_ > i) {
    --itemIndex_;
  }
  Invalidate();
}

void TListView::Clear() {
  items_.clear();
  itemIndex_ = -1;
  Invalidate();
}

void TListView::SetItemIndex(int i) {
  itemIndex_ = i >= 0 && i < Count() ? i : -1;
  Invalidate();
}

void TListView::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) Invalidate();
}

void TListView::Invalidate() {
  if (updating_ == 0) Redraw();
}
