#include "platform/web/WebTestBrowser.h"

#include <regex>
#include <set>

#include "platform/web/WebEscape.h"

namespace web {

namespace {

bool IsVoid(const std::string& tag) {
  static const std::set<std::string> kVoid = {"input", "img", "br", "meta", "hr", "link"};
  return kVoid.count(tag) > 0;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The JSON strings of this layer's asynchronous answers.
std::string JsonUnescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out += s[i];
      continue;
    }
    const char e = s[++i];
    if (e == 'u' && i + 4 < s.size()) {
      const int v = Hex(s[i + 1]) * 4096 + Hex(s[i + 2]) * 256 + Hex(s[i + 3]) * 16 + Hex(s[i + 4]);
      out += v < 256 ? static_cast<char>(v) : '?';
      i += 4;
    } else if (e == 'n') {
      out += '\n';
    } else {
      out += e;
    }
  }
  return out;
}

// The JSON string starting at Pos (at its opening quote); Pos moves past it.
std::string JsonStringAt(const std::string& s, size_t& pos) {
  size_t i = pos + 1;
  while (i < s.size() && s[i] != '"') i += s[i] == '\\' ? 2 : 1;
  std::string v = JsonUnescape(std::string_view(s).substr(pos + 1, i - pos - 1));
  pos = i + 1;
  return v;
}

}  // namespace

std::string HtmlUnescape(std::string_view t) {
  std::string out;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '&') {
      out += t[i];
      continue;
    }
    const size_t semi = t.find(';', i);
    if (semi == std::string_view::npos || semi - i > 8) {
      out += t[i];
      continue;
    }
    const std::string_view ent = t.substr(i + 1, semi - i - 1);
    if (ent == "amp") out += '&';
    else if (ent == "lt") out += '<';
    else if (ent == "gt") out += '>';
    else if (ent == "quot") out += '"';
    else if (ent == "nbsp") out += '\xA0';
    else if (!ent.empty() && ent[0] == '#') out += static_cast<char>(std::stoi(std::string(ent.substr(1))));
    else {
      out += t[i];
      continue;
    }
    i = semi;
  }
  return out;
}

std::string JsUnescape(std::string_view lit) {
  if (lit.size() >= 2 && (lit.front() == '\'' || lit.front() == '"')) lit = lit.substr(1, lit.size() - 2);
  std::string out;
  for (size_t i = 0; i < lit.size(); ++i) {
    if (lit[i] == '\\' && i + 3 < lit.size() + 0 && lit[i + 1] == 'x') {
      out += static_cast<char>(Hex(lit[i + 2]) * 16 + Hex(lit[i + 3]));
      i += 3;
    } else if (lit[i] == '\\' && i + 1 < lit.size()) {
      out += lit[++i];
    } else {
      out += lit[i];
    }
  }
  return out;
}

std::string HtmlElement::attr(const std::string& name) const {
  auto it = attrs.find(name);
  return it == attrs.end() ? std::string() : it->second;
}

HtmlDoc::HtmlDoc(std::string html) : html_(std::move(html)) {
  const std::string& h = html_;
  size_t i = 0;
  while ((i = h.find('<', i)) != std::string::npos) {
    if (i + 1 < h.size() && (h[i + 1] == '/' || h[i + 1] == '!')) {
      i = h.find('>', i);
      if (i == std::string::npos) break;
      continue;
    }
    HtmlElement e;
    e.begin = i;
    size_t j = i + 1;
    while (j < h.size() && (std::isalnum(static_cast<unsigned char>(h[j])))) e.tag += h[j++];
    e.tag = Lower(e.tag);
    // Attributes: name, name="value"
    while (j < h.size() && h[j] != '>') {
      if (std::isspace(static_cast<unsigned char>(h[j])) || h[j] == '/') {
        ++j;
        continue;
      }
      std::string name;
      while (j < h.size() && h[j] != '=' && h[j] != '>' && !std::isspace(static_cast<unsigned char>(h[j]))) {
        name += h[j++];
      }
      std::string value;
      if (j < h.size() && h[j] == '=') {
        ++j;
        if (j < h.size() && h[j] == '"') {
          const size_t close = h.find('"', j + 1);
          value = HtmlUnescape(std::string_view(h).substr(j + 1, close - j - 1));
          j = close + 1;
        } else {
          while (j < h.size() && h[j] != '>' && !std::isspace(static_cast<unsigned char>(h[j]))) value += h[j++];
        }
      }
      e.attrs[Lower(name)] = value;
    }
    e.innerBegin = j + 1;
    elements_.push_back(std::move(e));
    i = j;
    // Script and textarea contents are text, not tags.
    const std::string& tag = elements_.back().tag;
    if (tag == "script" || tag == "textarea" || tag == "title") {
      const size_t close = h.find("</" + tag, i);
      if (close == std::string::npos) break;
      i = close;
    }
  }
}

const HtmlElement* HtmlDoc::byId(const std::string& id) const {
  for (const auto& e : elements_) {
    auto it = e.attrs.find("id");
    if (it != e.attrs.end() && it->second == id) return &e;
  }
  return nullptr;
}

size_t HtmlDoc::outerEnd(const HtmlElement& e) const {
  if (IsVoid(e.tag)) return e.innerBegin;
  const std::string open = "<" + e.tag, close = "</" + e.tag + ">";
  int depth = 1;
  size_t i = e.innerBegin;
  while (depth > 0) {
    const size_t nextClose = html_.find(close, i);
    if (nextClose == std::string::npos) return html_.size();
    size_t nextOpen = html_.find(open, i);
    while (nextOpen != std::string::npos && nextOpen < nextClose) {
      const char after = nextOpen + open.size() < html_.size() ? html_[nextOpen + open.size()] : '>';
      if (after == ' ' || after == '>') break;
      nextOpen = html_.find(open, nextOpen + 1);
    }
    if (nextOpen != std::string::npos && nextOpen < nextClose) {
      ++depth;
      i = nextOpen + open.size();
    } else {
      --depth;
      i = nextClose + close.size();
    }
  }
  return i;
}

std::string HtmlDoc::innerHtml(const HtmlElement& e) const {
  if (IsVoid(e.tag)) return "";
  const size_t end = outerEnd(e);
  const size_t closeLen = e.tag.size() + 3;
  return html_.substr(e.innerBegin, end - closeLen - e.innerBegin);
}

std::string HtmlDoc::innerText(const HtmlElement& e) const {
  std::string inner = innerHtml(e);
  if (e.tag == "textarea" && !inner.empty() && inner[0] == '\n') inner.erase(0, 1);
  std::string text;
  bool inTag = false;
  for (char c : inner) {
    if (c == '<') inTag = true;
    else if (c == '>') inTag = false;
    else if (!inTag) text += c;
  }
  return HtmlUnescape(text);
}

std::string HtmlDoc::title() const {
  for (const auto& e : elements_) {
    if (e.tag == "title") return innerText(e);
  }
  return "";
}

TestBrowser::TestBrowser(WebServer& server, std::string peerAddress)
    : server_(server), peer_(std::move(peerAddress)) {}

void TestBrowser::setHeader(const std::string& name, const std::string& value) {
  for (auto& h : headers_) {
    if (h.first == name) {
      h.second = value;
      return;
    }
  }
  headers_.emplace_back(name, value);
}

const HttpResponse& TestBrowser::send(HttpRequest req) {
  req.peerAddress = peer_;
  req.headers = headers_;
  last_ = server_.handle(req);
  if (last_.status == 200 && last_.contentType.rfind("text/html", 0) == 0) takePage(last_.body);
  return last_;
}

const HttpResponse& TestBrowser::get(const std::string& target) {
  HttpRequest req;
  req.method = "GET";
  const size_t q = target.find('?');
  req.path = target.substr(0, q);
  if (q != std::string::npos) req.query = target.substr(q + 1);
  return send(std::move(req));
}

void TestBrowser::takePage(const std::string& html) {
  doc_ = HtmlDoc(html);
  readFields();
  uploads_.clear();
}

void TestBrowser::readFields() {
  fields_.clear();
  const auto& els = doc_.elements();
  for (size_t k = 0; k < els.size(); ++k) {
    const HtmlElement& e = els[k];
    if (!e.has("name")) continue;
    Field f;
    f.name = e.attr("name");
    f.id = e.attr("id");
    f.disabled = e.has("disabled");
    if (e.tag == "input") {
      f.type = Lower(e.attr("type"));
      if (f.type.empty()) f.type = "text";
      f.value = e.attr("value");
      f.checked = e.has("checked");
    } else if (e.tag == "textarea") {
      f.type = "textarea";
      f.value = doc_.innerText(e);
    } else if (e.tag == "select") {
      f.type = "select";
      const size_t end = doc_.outerEnd(e);
      bool first = true;
      for (size_t m = k + 1; m < els.size() && els[m].begin < end; ++m) {
        if (els[m].tag != "option" || els[m].has("disabled")) continue;
        if (first || els[m].has("selected")) f.value = els[m].attr("value");
        first = false;
      }
    } else {
      continue;
    }
    fields_.push_back(std::move(f));
  }
}

TestBrowser::Field* TestBrowser::field(const std::string& id) {
  for (auto& f : fields_) {
    if (f.id == id || (f.type != "radio" && f.name == id)) return &f;
  }
  return nullptr;
}

const TestBrowser::Field* TestBrowser::field(const std::string& id) const {
  return const_cast<TestBrowser*>(this)->field(id);
}

std::string TestBrowser::hidden(const std::string& name) const {
  for (const auto& f : fields_) {
    if (f.name == name) return f.value;
  }
  return "";
}

ParamMap TestBrowser::formFields() const {
  ParamMap p;
  for (const auto& f : fields_) {
    if (f.disabled || f.type == "file" || f.type == "button") continue;
    if ((f.type == "checkbox" || f.type == "radio") && !f.checked) continue;
    p.emplace(f.name, f.value);
  }
  return p;
}

void TestBrowser::type(const std::string& id, const std::string& text) {
  Field* f = field(id);
  if (!f) throw std::runtime_error("no field " + id);
  f->value = text;
}

void TestBrowser::check(const std::string& id, bool on) {
  Field* f = field(id);
  if (!f) throw std::runtime_error("no field " + id);
  f->checked = on;
}

void TestBrowser::select(const std::string& id, int index) {
  // Radio groups: the buttons are named ID, each with the id ID_index.
  bool radio = false;
  for (auto& r : fields_) {
    if (r.type == "radio" && r.name == id) {
      r.checked = r.value == std::to_string(index);
      radio = true;
    }
  }
  if (radio) return;
  Field* f = field(id);
  if (!f) throw std::runtime_error("no field " + id);
  f->value = std::to_string(index);
}

void TestBrowser::upload(const std::string& id, const std::string& fileName, const std::string& content) {
  uploads_.push_back(UploadedFile{id, fileName, "application/octet-stream", content});
}

std::string TestBrowser::value(const std::string& id) const {
  const Field* f = field(id);
  if (!f) throw std::runtime_error("no field " + id);
  return f->value;
}

bool TestBrowser::checked(const std::string& id) const {
  const Field* f = field(id);
  if (!f) throw std::runtime_error("no field " + id);
  return f->checked;
}

const HttpResponse& TestBrowser::submit(const std::string& id, const std::string& eventName, const std::string& param) {
  HttpRequest req;
  req.method = "POST";
  req.path = "/";
  req.form = formFields();
  req.form.erase("VT_EVENT");
  req.form.erase("VT_EVENTPARAM");
  req.form.emplace("VT_EVENT", id.empty() ? std::string() : id + "." + eventName);
  req.form.emplace("VT_EVENTPARAM", param);
  req.files = uploads_;
  return send(std::move(req));
}

const HttpResponse& TestBrowser::postRaw(const ParamMap& fields) {
  HttpRequest req;
  req.method = "POST";
  req.path = "/";
  req.form = fields;
  if (!req.form.count("VT_SESSION")) req.form.emplace("VT_SESSION", sessionId());
  if (!req.form.count("VT_TRACK")) req.form.emplace("VT_TRACK", trackId());
  return send(std::move(req));
}

bool TestBrowser::runSubmitScript(const std::string& script) {
  static const std::regex kConfirm(R"(confirm\(('(?:[^'\\]|\\.)*')\))");
  static const std::regex kSubmit(R"(VTFW\.submit\('([^']*)','([^']*)'\))");
  std::smatch m;
  if (std::regex_search(script, m, kConfirm)) {
    lastConfirm_ = JsUnescape(m[1].str());
    if (!acceptConfirm_) return false;
  }
  if (!std::regex_search(script, m, kSubmit)) return false;
  submit(m[1].str(), m[2].str());
  return true;
}

bool TestBrowser::click(const std::string& id) {
  const HtmlElement* e = doc_.byId(id);
  if (!e) throw std::runtime_error("no element " + id);
  if (e->has("disabled")) return false;
  if (e->tag == "input" && Lower(e->attr("type")) == "checkbox") {
    if (Field* f = field(id)) f->checked = !f->checked;
  }
  return runSubmitScript(e->attr("onclick"));
}

bool TestBrowser::pressEnter(const std::string& id) {
  const HtmlElement* e = doc_.byId(id);
  if (!e) throw std::runtime_error("no element " + id);
  static const std::regex kKey(R"(VTFW\.key\(event,'([^']*)','([^']*)'\))");
  std::smatch m;
  const std::string script = e->attr("onkeydown");
  if (!std::regex_search(script, m, kKey) || m[1].str().empty()) return false;
  submit(m[1].str(), m[2].str());
  return true;
}

bool TestBrowser::choose(const std::string& id, int index) {
  select(id, index);
  const HtmlElement* e = doc_.byId(id);
  return e && runSubmitScript(e->attr("onchange"));
}

AsyncAnswer TestBrowser::async(const std::string& eventName, const std::string& extra) {
  HttpRequest req;
  req.method = "POST";
  req.path = "/";
  req.form = formFields();
  ParseUrlEncoded(extra, req.form);
  req.form.emplace("VT_ASYNC", "1");
  req.form.erase("VT_EVENT");
  req.form.emplace("VT_EVENT", eventName);
  req.peerAddress = peer_;
  req.headers = headers_;
  const HttpResponse r = server_.handle(req);
  AsyncAnswer a;
  a.status = r.status;
  a.body = r.body;
  if (r.status != 200) return a;
  a.reload = r.body.find("\"reload\":true") != std::string::npos;
  // Updates: {"id":"..","html":".."}; scripts: ["..",..]
  std::string page = doc_.html();
  std::set<std::string> replacedNames;
  size_t pos = 0;
  while ((pos = r.body.find("{\"id\":", pos)) != std::string::npos) {
    size_t p = pos + 6;
    const std::string id = JsonStringAt(r.body, p);
    p = r.body.find("\"html\":", p) + 7;
    const std::string html = JsonStringAt(r.body, p);
    a.updatedIds.push_back(id);
    HtmlDoc current(page);
    if (const HtmlElement* old = current.byId(id)) {
      page.replace(old->begin, current.outerEnd(*old) - old->begin, html);
      const HtmlDoc fragment(html);
      for (const auto& el : fragment.elements()) {
        if (el.has("name")) replacedNames.insert(el.attr("name"));
      }
    }
    pos = p;
  }
  const size_t scripts = r.body.find("\"scripts\":[");
  if (scripts != std::string::npos) {
    size_t p = scripts + 11;
    while (p < r.body.size() && r.body[p] == '"') {
      a.scripts.push_back(JsonStringAt(r.body, p));
      if (p < r.body.size() && r.body[p] == ',') ++p;
    }
  }
  if (!a.updatedIds.empty()) {
    const std::vector<Field> before = fields_;
    doc_ = HtmlDoc(page);
    readFields();
    for (auto& f : fields_) {
      if (replacedNames.count(f.name)) continue;
      for (const auto& b : before) {
        if (b.name == f.name && b.id == f.id) {
          f.value = b.value;
          f.checked = b.checked;
        }
      }
    }
  }
  if (a.reload) submit();
  return a;
}

bool TestBrowser::shown(const std::string& id) const {
  const HtmlElement* wrapper = doc_.byId(id + "IWCL");
  if (!wrapper || !doc_.byId(id)) return false;
  return wrapper->attr("style").find("display:none") == std::string::npos;
}

std::string TestBrowser::text(const std::string& id) const {
  const HtmlElement* e = doc_.byId(id);
  if (!e) throw std::runtime_error("no element " + id);
  if (e->tag == "input") return e->attr("value");
  return doc_.innerText(*e);
}

std::string TestBrowser::attr(const std::string& id, const std::string& name) const {
  const HtmlElement* e = doc_.byId(id);
  if (!e) throw std::runtime_error("no element " + id);
  return e->attr(name);
}

std::string TestBrowser::onloadScript() const {
  for (const auto& e : doc_.elements()) {
    if (e.tag == "body") return e.attr("onload");
  }
  return "";
}

std::vector<std::string> TestBrowser::alerts() const {
  std::vector<std::string> out;
  static const std::regex kAlert(R"(alert\(('(?:[^'\\]|\\.)*')\))");
  const std::string onload = onloadScript();
  for (std::sregex_iterator it(onload.begin(), onload.end(), kAlert), end; it != end; ++it) {
    out.push_back(JsUnescape((*it)[1].str()));
  }
  return out;
}

AppForm* TestBrowser::activeForm() const {
  auto s = session();
  return s ? s->activeForm() : nullptr;
}

}  // namespace web
