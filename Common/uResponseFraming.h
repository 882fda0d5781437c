// How a back end's response is delimited, decided from the status first and
// the framing headers second (RFC 9112 6.3). Both the head reader (interim
// responses) and the body relay ask this one function.
#pragma once

#include <cstdint>
#include <string_view>

enum class TResponseBody : uint8_t {
  Interim,     // a 1xx other than 101: no body, the final response follows
  Refused,     // 101: the switch relays no protocol switch
  None,        // ends at the head: 1xx, 204, 304, any answer to HEAD
  Chunked,     // the last transfer coding is chunked
  Length,      // Content-Length bytes
  UntilClose,  // no length, or a transfer coding other than chunked
};

// What the response head says about its body.
struct TFramingHeaders {
  bool TransferEncoding = false;  // any Transfer-Encoding line
  bool Chunked = false;           // its last coding is "chunked"
  int64_t ContentLength = -1;     // -1: none
};

struct TResponseFraming {
  TResponseBody Body = TResponseBody::None;
  // Interim heads reach only clients that know them (HTTP/1.1).
  bool ForwardInterim = false;
  // A client before HTTP/1.1 gets a chunked body's data alone, ended by the
  // close.
  bool Dechunk = false;
};

// Method and version are the client's request's; Status the response's.
TResponseFraming DecideResponseFraming(std::string_view method, std::string_view requestVersion, int status,
                                       const TFramingHeaders& headers);

// The status code of "HTTP/1.x nnn" with an optional reason after a blank;
// -1 for any other line.
int ParseStatusLine(std::string_view line);
