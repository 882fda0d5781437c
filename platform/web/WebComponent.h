// The component tree of web pages. An owner frees what it owns (in reverse
// creation order); a parent only lays out and renders its children; a freed
// control detaches itself from both. So a region may move into another page
// and a frame may be freed while its page lives on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/web/WebHttp.h"

namespace web {

class AppForm;
class Control;
class RenderContext;
class WebApplication;

// RGB; -1 is "not set" (the browser's default).
struct Color {
  int32_t rgb = -1;
  static constexpr Color rgbValue(uint32_t rgb) { return Color{static_cast<int32_t>(rgb & 0xFFFFFF)}; }
  // Colours written as blue-green-red numbers (0xA65F4A is the blue #4A5FA6).
  static constexpr Color fromBGR(uint32_t bgr) {
    return rgbValue(((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF));
  }
  bool isSet() const { return rgb >= 0; }
  std::string css() const;  // "#RRGGBB", "" when not set
  bool operator==(const Color&) const = default;
};

namespace colors {
inline constexpr Color None{};
inline constexpr Color Black = Color::rgbValue(0x000000);
inline constexpr Color White = Color::rgbValue(0xFFFFFF);
inline constexpr Color Red = Color::rgbValue(0xFF0000);
inline constexpr Color Green = Color::rgbValue(0x008000);
inline constexpr Color Silver = Color::rgbValue(0xC0C0C0);
}  // namespace colors

struct Font {
  Color color;
  bool bold = false;
  int size = 0;  // points; 0 is the page's default
};

class Component {
 public:
  explicit Component(std::string name = "") : name_(std::move(name)) {}
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  Component* owner() const { return owner_; }
  const std::vector<std::unique_ptr<Component>>& components() const { return owned_; }

  // Creates a component owned by this one: create<Label>("lblName", parent).
  template <class T, class... Args>
  T* create(Args&&... args) {
    auto p = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = p.get();
    adopt(std::move(p));
    return raw;
  }
  Component* adopt(std::unique_ptr<Component> c);
  // Frees an owned component now; false when it is not ours.
  bool destroyOwned(Component* c);

  int tag = 0;
  const void* tagObject = nullptr;

 private:
  std::string name_;
  Component* owner_ = nullptr;
  std::vector<std::unique_ptr<Component>> owned_;
};

using Handler = std::function<void(Control& sender)>;
using AsyncHandler = std::function<void(Control& sender, const ParamMap& eventParams)>;

class Control : public Component {
 public:
  explicit Control(std::string name = "", Control* parent = nullptr);
  ~Control() override;

  Control* parent() const { return parent_; }
  void setParent(Control* parent);
  const std::vector<Control*>& children() const { return children_; }

  void setBounds(int l, int t, int w, int h) {
    left = l;
    top = t;
    width = w;
    height = h;
  }

  // Plain state; the page answer shows what these hold when it is rendered.
  bool visible = true;
  bool enabled = true;
  int left = 0, top = 0, width = 0, height = 0;
  std::string hint;
  Font font;
  std::string cssClass;
  // Client script per DOM event ("onclick" -> "Busy();"), added to the element.
  std::map<std::string, std::string> scriptEvents;
  // An asynchronous event from the page's own script (VT_ASYNC posts).
  AsyncHandler onAsyncClick;
  // A control that grows in the browser (a grid with its rows and wrapped
  // texts): the client script keeps this one below it, never above top. The
  // controls below one such control move together, as one block.
  const Control* keepBelow = nullptr;

  // Frames and forms start a name scope: their ids prefix the ids of what
  // they own ("FRAMEMAINMENU_IMGMAIN").
  virtual bool isNameScope() const { return false; }
  // Regions, frames, forms: render their visible children inside.
  virtual bool isContainer() const { return false; }
  // Whether a post may change the control now (an editable input).
  virtual bool acceptsInput() const { return false; }

  // Takes the control's value from a post; only called for controls the last
  // render showed visible, enabled and editable.
  virtual void applyPost(const HttpRequest& req, const std::string& id);
  // Runs the handler of EventName; false when there is none.
  virtual bool fire(const std::string& eventName, const ParamMap& params);

  // Writes the control's wrapper element (id + "IWCL") with the control in it;
  // an invisible control writes an empty hidden wrapper so an asynchronous
  // answer can show it later. Positioned: absolute left/top (false inside a
  // grid cell).
  void render(RenderContext& ctx, std::string& out, bool positioned = true);

 protected:
  virtual void renderContent(RenderContext& ctx, const std::string& id, std::string& out) = 0;
  void renderChildren(RenderContext& ctx, std::string& out);
  // style="..." with the font and Extra; "" when empty.
  std::string styleAttr(const std::string& extra = "") const;
  // hint as title, class and the script events, each with a leading blank.
  std::string commonAttrs(const std::string& skipEvent = "") const;

 private:
  Control* parent_ = nullptr;
  std::vector<Control*> children_;
};

// What the last render showed of a control; the post rules go by it.
struct RenderedControl {
  std::string html;      // the wrapper as sent
  std::string parentId;  // enclosing rendered control, "" at the form
  bool active = false;   // visible and enabled: its events may fire
  bool input = false;    // and editable: a post may change it
};
using RenderMap = std::unordered_map<std::string, RenderedControl>;

class RenderContext {
 public:
  RenderContext(AppForm& root, std::string urlBase) : root_(root), urlBase_(std::move(urlBase)) {}
  AppForm& root() const { return root_; }
  const std::string& urlBase() const { return urlBase_; }
  // Upper-case name, with the scopes of its owners in front ("FRAME_IMG").
  std::string idOf(const Control& c) const;
  // Base + "/files/" + the encoded bare name of File (folders and "..\" dropped).
  std::string fileUrl(const std::string& file) const;

  RenderMap rendered;
  std::string initScript;  // run once the page has loaded
  bool multipart = false;  // a file upload is on the page
  std::vector<std::string> parents;  // ids of the wrappers being written

 private:
  AppForm& root_;
  std::string urlBase_;
};

// Every control below Root (by parent), with its id, parents first.
void ForEachControl(const RenderContext& ctx, Control& root, const std::function<void(Control&, const std::string&)>& fn);

}  // namespace web
