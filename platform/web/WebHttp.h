// The two plain structs between the HTTP transport and the web layer. The
// dispatcher sees only these, so tests drive it without sockets and the
// transport can change without touching pages.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace web {

struct UploadedFile {
  std::string field;     // the form field (the upload control's id)
  std::string fileName;  // as the browser sent it; the control cuts it to a base name
  std::string contentType;
  std::string content;
};

using ParamMap = std::multimap<std::string, std::string>;

struct HttpRequest {
  std::string method = "GET";
  std::string path = "/";
  std::string query;  // raw, without the "?"
  ParamMap form;      // POST body fields (urlencoded, or multipart text fields); never the query
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<UploadedFile> files;
  std::string peerAddress;

  // First value of the header, ignoring case; "" when absent.
  std::string header(std::string_view name) const;
  // First value of the form field; "" when absent.
  std::string field(std::string_view name) const;
  bool hasField(std::string_view name) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/html; charset=windows-1252";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  std::string header(std::string_view name) const;
  void setHeader(const std::string& name, const std::string& value);
};

// Decodes an application/x-www-form-urlencoded text into Params: "+" is a
// blank, "%XX" one raw byte (pages are windows-1252, so "%E4" stays the byte
// E4), "%uXXXX" one byte when it is below 256 and "?" otherwise.
void ParseUrlEncoded(std::string_view text, ParamMap& params);
std::string UrlDecode(std::string_view text);

}  // namespace web
