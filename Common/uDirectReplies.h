// The replies the switch writes itself, without a back end, and the small
// texts its request log lines share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Version + " " + Text, then an empty line; no body.
std::string StatusReply(std::string_view version, std::string_view text);

// A refusal by the server choice: the status line, an empty line and the
// same text as body.
std::string ServerChoiceFailureReply(std::string_view version, std::string_view text);

// A redirect: the status line, "Location: " + Location, "Connection: Close"
// and an empty line.
std::string RedirectReply(std::string_view version, bool permanent, std::string_view location);

// The page for a request that passed through the switch too often.
std::string CircularReferenceReply();

// Where a configured redirect address leads: an absolute address as it is;
// a folder-like address (no "?" and a "/" after its last ".") with one
// trailing "/"; anything else unchanged after scheme and host.
std::string RedirectLocation(std::string_view url, std::string_view scheme, std::string_view host);

// The same request on HTTPS, with the port the client's Host carried.
std::string HTTPSRedirectLocation(std::string_view document, std::string_view host);

// The server-choice statuses that refuse a request, with their log format
// (client address, cluster name) and reply text; nullptr for the others.
struct TServerChoiceFailure {
  int Status;
  const char* LogFormat;
  const char* ReplyText;
};
const TServerChoiceFailure* FindServerChoiceFailure(int lbStatus);

// "host" for port 80, else "host:port".
std::string HostPortText(std::string_view host, int32_t port);

// "ceNone", "ceUnknown", "ceGZip", "ceDeflate", "ceCompress".
const char* ContentCodingName(int coding);
