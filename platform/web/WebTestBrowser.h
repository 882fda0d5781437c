// A browser for C++ tests that drives WebServer::handle without sockets. It
// reads the project's own well-formed pages, keeps the form's fields like a
// browser (typed text, check boxes, selections, uploads) and posts them with
// the events the page's script would post.
//
//   TestBrowser b(server);
//   b.get("/");
//   b.type("EDTUSERNAME", "admin");
//   b.click("BTNLOGIN");
//   EXPECT_EQ(b.title(), "Vantrell - Web Admin [Main]");
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/web/WebServer.h"

namespace web {

struct HtmlElement {
  std::string tag;  // lower case
  std::map<std::string, std::string> attrs;  // names lower case, values un-escaped
  size_t begin = 0;       // offset of "<"
  size_t innerBegin = 0;  // offset after ">"
  bool has(const std::string& name) const { return attrs.count(name) > 0; }
  std::string attr(const std::string& name) const;
};

// A tag scanner over pages this layer wrote.
class HtmlDoc {
 public:
  HtmlDoc() = default;
  explicit HtmlDoc(std::string html);
  const std::string& html() const { return html_; }
  const std::vector<HtmlElement>& elements() const { return elements_; }
  const HtmlElement* byId(const std::string& id) const;
  // The markup between the element's tags, and the same as plain text
  // (tags dropped, entities decoded).
  std::string innerHtml(const HtmlElement& e) const;
  std::string innerText(const HtmlElement& e) const;
  // End offset of the element's closing tag (or of the tag for void elements).
  size_t outerEnd(const HtmlElement& e) const;
  std::string title() const;

 private:
  std::string html_;
  std::vector<HtmlElement> elements_;
};

std::string HtmlUnescape(std::string_view text);
// The text of a JavaScript string literal this layer wrote ('...').
std::string JsUnescape(std::string_view literal);

struct AsyncAnswer {
  int status = 0;
  std::string body;
  bool reload = false;
  std::vector<std::string> updatedIds;
  std::vector<std::string> scripts;
};

class TestBrowser {
 public:
  explicit TestBrowser(WebServer& server, std::string peerAddress = "127.0.0.1");

  // A GET of Target ("/" or "/?status"); a page answer becomes the page.
  const HttpResponse& get(const std::string& target = "/");
  // Posts the form with an event ("BTNLOGIN", "OnClick"); an empty id posts
  // no event (a refresh).
  const HttpResponse& submit(const std::string& id = "", const std::string& eventName = "",
                             const std::string& param = "");
  // Posts exactly Fields plus the session and track number (forged posts).
  const HttpResponse& postRaw(const ParamMap& fields);

  // Field edits: throw std::runtime_error when the page has no such field.
  void type(const std::string& id, const std::string& text);
  void check(const std::string& id, bool checked);
  void select(const std::string& id, int index);
  void upload(const std::string& id, const std::string& fileName, const std::string& content);
  std::string value(const std::string& id) const;
  bool checked(const std::string& id) const;

  // What the element's script would do on a click: a check box toggles, a
  // confirmation is answered by acceptConfirm, and the post follows. False
  // when the click posted nothing.
  bool click(const std::string& id);
  // Enter in an edit: its submit event, or nothing.
  bool pressEnter(const std::string& id);
  // A selection change that posts (combo boxes with a change handler).
  bool choose(const std::string& id, int index);
  void acceptConfirm(bool accept) { acceptConfirm_ = accept; }
  const std::string& lastConfirmation() const { return lastConfirm_; }

  // An asynchronous event: the form's fields plus Extra ("&cmd=addRow");
  // the updates are applied to the page, and a reload answer is followed
  // by the full post the client script makes.
  AsyncAnswer async(const std::string& eventName, const std::string& extra = "");

  void setHeader(const std::string& name, const std::string& value);

  const HttpResponse& response() const { return last_; }
  int status() const { return last_.status; }
  const HtmlDoc& doc() const { return doc_; }
  const std::string& html() const { return doc_.html(); }
  std::string title() const { return doc_.title(); }
  bool has(const std::string& id) const { return doc_.byId(id) != nullptr; }
  // Rendered and not hidden (its wrapper shows).
  bool shown(const std::string& id) const;
  std::string text(const std::string& id) const;
  std::string attr(const std::string& id, const std::string& name) const;
  // The script the last page runs once loaded (focus, timers, alerts).
  std::string onloadScript() const;
  // The alert texts the last page shows once loaded.
  std::vector<std::string> alerts() const;
  std::string sessionId() const { return hidden("VT_SESSION"); }
  std::string trackId() const { return hidden("VT_TRACK"); }

  std::shared_ptr<WebApplication> session() const { return server_.findSession(sessionId()); }
  AppForm* activeForm() const;
  template <class T>
  T* activeForm() const {
    return dynamic_cast<T*>(activeForm());
  }

 private:
  struct Field {
    std::string name;
    std::string id;
    std::string type;  // text, password, hidden, checkbox, radio, select, textarea, file
    std::string value;
    bool checked = false;
    bool disabled = false;
  };
  const HttpResponse& send(HttpRequest req);
  void takePage(const std::string& html);
  void readFields();
  ParamMap formFields() const;
  Field* field(const std::string& id);
  const Field* field(const std::string& id) const;
  std::string hidden(const std::string& name) const;
  bool runSubmitScript(const std::string& script);

  WebServer& server_;
  std::string peer_;
  std::vector<std::pair<std::string, std::string>> headers_;
  HttpResponse last_;
  HtmlDoc doc_;
  std::vector<Field> fields_;
  std::vector<UploadedFile> uploads_;
  bool acceptConfirm_ = true;
  std::string lastConfirm_;
};

}  // namespace web
