#include "platform/web/WebHttp.h"

#include "platform/SysUtils.h"

namespace web {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HexRun(std::string_view text, size_t from, size_t count, int& value) {
  if (from + count > text.size()) return false;
  value = 0;
  for (size_t i = from; i < from + count; ++i) {
    const int h = HexValue(text[i]);
    if (h < 0) return false;
    value = value * 16 + h;
  }
  return true;
}

}  // namespace

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    int v = 0;
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 1 < text.size() && (text[i + 1] == 'u' || text[i + 1] == 'U') && HexRun(text, i + 2, 4, v)) {
      out += v < 256 ? static_cast<char>(v) : '?';
      i += 5;
    } else if (c == '%' && HexRun(text, i + 1, 2, v)) {
      out += static_cast<char>(v);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

void ParseUrlEncoded(std::string_view text, ParamMap& params) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      if (eq == std::string_view::npos) {
        params.emplace(UrlDecode(pair), "");
      } else {
        params.emplace(UrlDecode(pair.substr(0, eq)), UrlDecode(pair.substr(eq + 1)));
      }
    }
    start = end + 1;
  }
}

std::string HttpRequest::header(std::string_view name) const {
  for (const auto& [k, v] : headers) {
    if (SameText(k, name)) return v;
  }
  return "";
}

std::string HttpRequest::field(std::string_view name) const {
  auto it = form.find(std::string(name));
  return it == form.end() ? std::string() : it->second;
}

bool HttpRequest::hasField(std::string_view name) const { return form.count(std::string(name)) > 0; }

std::string HttpResponse::header(std::string_view name) const {
  for (const auto& [k, v] : headers) {
    if (SameText(k, name)) return v;
  }
  return "";
}

void HttpResponse::setHeader(const std::string& name, const std::string& value) {
  for (auto& [k, v] : headers) {
    if (SameText(k, name)) {
      v = value;
      return;
    }
  }
  headers.emplace_back(name, value);
}

}  // namespace web
