#include "platform/web/WebEscape.h"

namespace web {

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string JsString(std::string_view text, char quote) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out(1, quote);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    // Quotes, the backslash, markup and ampersand characters are written as
    // escapes, so the literal can stand in an attribute or a script element.
    if (c < 0x20 || c == '\'' || c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += quote;
  return out;
}

std::string JsonString(std::string_view text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F || c == '<' || c == '>' || c == '&') {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += "\"";
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace web
