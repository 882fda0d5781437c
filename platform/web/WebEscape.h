// The one place where text becomes HTML, script or URL text. Every caption,
// value, title and hint a control writes goes through here; grid cell text is
// the only raw HTML and the page that sets it escapes what it puts in.
#pragma once

#include <string>
#include <string_view>

namespace web {

// & < > " and ' as entities; bytes above 127 pass unchanged (windows-1252).
std::string HtmlEscape(std::string_view text);
// A complete JavaScript string literal between Quote characters (' or "),
// safe inside an HTML attribute and inside a <script> element.
std::string JsString(std::string_view text, char quote = '\'');
// A complete double-quoted JSON string; bytes above 127 are taken as
// windows-1252 (Latin-1) characters and written as \u00XX.
std::string JsonString(std::string_view text);
// Percent-encodes every byte but unreserved ones ("a b" gives "a%20b").
std::string UrlEncode(std::string_view text);

}  // namespace web
