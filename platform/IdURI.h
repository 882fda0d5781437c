// The URI splitter of the TCP framework: an absolute URL taken apart into its
// parts and joined again.
//
//   http://user:pw@host:8080/dir/sub/page.asp?x=1#top
//   Protocol "http", Username "user", Password "pw", Host "host", Port "8080",
//   Path "/dir/sub/", Document "page.asp", Query "?x=1", Fragment "top".
//
// Path always begins and ends with "/" when there is a host ("/" when the URL
// has no path); the text after its last "/" is the Document. A text without
// "scheme://" is a reference without protocol and host: all of it before "?"
// or "#" is path and document.
#pragma once

#include <string>
#include <string_view>

#include "platform/SysUtils.h"

VT_DECLARE_EXCEPTION(EIdURIException, Exception);

class TIdURI {
 public:
  TIdURI() = default;
  explicit TIdURI(std::string_view uri) { SetURI(uri); }

  // Replaces every part. Raises EIdURIException for a port that is not a
  // number of 0..65535, an unclosed "[" host, or blanks or control
  // characters in the authority.
  void SetURI(std::string_view uri);
  // Protocol "://" [user [":" password] "@"] host [":" port] path document
  // query ["#" fragment]. Raises EIdURIException "Protocol field is empty"
  // when there is no protocol.
  std::string GetURI() const;
  // Protocol and host both present.
  bool IsAbsolute() const { return !Protocol.empty() && !Host.empty(); }
  void Clear() { *this = TIdURI(); }

  std::string Protocol;
  std::string Username;
  std::string Password;
  std::string Host;
  std::string Port;
  std::string Path;
  std::string Document;
  std::string Query;     // with its leading "?", empty when there is none
  std::string Fragment;  // without its "#"
};
