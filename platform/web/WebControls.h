// The simple controls: what each writes into the page and what it takes back
// from a post. Choices post item indexes, never texts, so a post can only
// pick among the items the server put there.
#pragma once

#include <string>
#include <vector>

#include "platform/web/WebComponent.h"

namespace web {

class Label : public Control {
 public:
  using Control::Control;
  std::string caption;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

// Several lines of plain text, one below the other.
class Text : public Control {
 public:
  using Control::Control;
  std::vector<std::string> lines;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class Button : public Control {
 public:
  using Control::Control;
  std::string caption;
  std::string confirmation;  // asked in the browser before the click posts
  Handler onClick;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class Edit : public Control {
 public:
  using Control::Control;
  std::string text;
  bool password = false;
  bool readOnly = false;
  int maxLength = 0;
  Handler onSubmit;  // Enter in the field
  bool acceptsInput() const override { return !readOnly; }
  void applyPost(const HttpRequest& req, const std::string& id) override;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class Memo : public Control {
 public:
  using Control::Control;
  std::vector<std::string> lines;
  bool readOnly = false;  // shown only: the browser never posts it back
  // Lines joined by CR LF; setText splits on CR LF, CR or LF, and a final
  // line break adds no empty line.
  std::string text() const;
  void setText(const std::string& text);
  bool acceptsInput() const override { return !readOnly; }
  void applyPost(const HttpRequest& req, const std::string& id) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class CheckBox : public Control {
 public:
  using Control::Control;
  std::string caption;
  bool checked = false;
  bool editable = true;  // false: shown disabled, keeps its state
  Handler onClick;
  bool acceptsInput() const override { return editable; }
  void applyPost(const HttpRequest& req, const std::string& id) override;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

// Items with an optional object each; ItemIndex -1 is no selection.
class ListControl : public Control {
 public:
  using Control::Control;
  std::vector<std::string> items;
  std::vector<const void*> objects;  // parallel to items when used
  int itemIndex = -1;
  bool acceptsInput() const override { return true; }
  void addItem(const std::string& text, const void* object = nullptr);
  void clear();
  // The selected item's text, "" for none.
  std::string text() const;
  const void* selectedObject() const;
  void applyPost(const HttpRequest& req, const std::string& id) override;

 protected:
  std::string optionsHtml(bool withNoSelection, const std::string& noSelectionText) const;
};

class ComboBox : public ListControl {
 public:
  using ListControl::ListControl;
  std::string noSelectionText = "-- No Selection --";
  Handler onChange;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class ListBox : public ListControl {
 public:
  using ListControl::ListControl;
  std::string emptyText;  // shown (not selectable) when there are no items
  int rows = 8;
  Handler onClick;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class RadioGroup : public ListControl {
 public:
  using ListControl::ListControl;
  int columns = 1;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class ImageFile : public Control {
 public:
  using Control::Control;
  std::string fileName;      // as the page set it; rendered as its bare name below /files/
  std::string confirmation;  // asked before the click posts
  Handler onClick;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

// A link; a target names the browser window it opens in ("ExternalBrowser"
// is one window that every such link reuses), "_blank" a new one each time.
class Url : public Control {
 public:
  using Control::Control;
  std::string caption;
  std::string url;
  std::string target;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

// An inline frame showing another address.
class UrlWindow : public Control {
 public:
  using Control::Control;
  std::string url;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class FileUpload : public Control {
 public:
  using Control::Control;
  bool acceptsInput() const override { return true; }
  void applyPost(const HttpRequest& req, const std::string& id) override;
  // After a post that carried a file: its base name and bytes.
  bool hasFile() const { return !fileName_.empty(); }
  const std::string& fileName() const { return fileName_; }
  const std::string& content() const { return content_; }
  void saveToFile(const std::string& path) const;

 private:
  std::string fileName_;
  std::string content_;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

// The bare name of an uploaded file: the text after the last "/" or "\";
// "" for "", "." and "..".
std::string UploadBaseName(const std::string& sent);

// Posts OnTimer once Interval has passed after the page loaded, while enabled.
class Timer : public Control {
 public:
  using Control::Control;
  int interval = 1000;
  Handler onTimer;
  bool fire(const std::string& eventName, const ParamMap& params) override;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

class Region : public Control {
 public:
  using Control::Control;
  bool isContainer() const override { return true; }
  Color background;
  bool border = false;

 protected:
  void renderContent(RenderContext& ctx, const std::string& id, std::string& out) override;
};

// A reusable group of controls with its own name scope.
class Frame : public Region {
 public:
  using Region::Region;
  bool isNameScope() const override { return true; }
};

}  // namespace web
