#include "Common/uResponseFraming.h"

#include "platform/SysUtils.h"

TResponseFraming DecideResponseFraming(std::string_view method, std::string_view requestVersion, int status,
                                       const TFramingHeaders& headers) {
  TResponseFraming f;
  const bool http11 = requestVersion == "HTTP/1.1";
  if (status >= 100 && status <= 199) {
    f.Body = status == 101 ? TResponseBody::Refused : TResponseBody::Interim;
    f.ForwardInterim = http11 && status != 101;
    return f;
  }
  // The status decides before any header: these never carry a body,
  // whatever Transfer-Encoding or Content-Length claim.
  if (SameText(method, "HEAD") || status == 204 || status == 304) {
    f.Body = TResponseBody::None;
  } else if (headers.TransferEncoding) {
    f.Body = headers.Chunked ? TResponseBody::Chunked : TResponseBody::UntilClose;
    f.Dechunk = headers.Chunked && !http11;
  } else if (headers.ContentLength >= 0) {
    f.Body = TResponseBody::Length;
  } else {
    f.Body = TResponseBody::UntilClose;
  }
  return f;
}

int ParseStatusLine(std::string_view line) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || !digit(line[7]) || line[8] != ' ') return -1;
  if (!digit(line[9]) || !digit(line[10]) || !digit(line[11])) return -1;
  if (line.size() > 12 && line[12] != ' ') return -1;
  if (line[9] == '0') return -1;
  return (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
}
