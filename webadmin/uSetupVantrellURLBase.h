// The administration's URL base, learnt from the header the switch adds
// when it forwards a request through a path it rewrote.
#pragma once

#include <string>

#include "platform/web/WebServer.h"

// The last accepted VTPathRewrite value (process-wide).
std::string LastPathRewrite();
// Before every request: a changed header value sets the controller's URL
// base and the URLs built on it; compare and update are one step. Only an
// empty value or plain paths ("/" first, no "//", path characters only, at
// most 255 bytes each: the matched path, optionally a blank and its
// replacement) are taken; any other value changes nothing, is kept nowhere
// and costs an event line (at most one a minute).
void SetupVantrellURLBase(web::ServerControllerBase& controller, const web::HttpRequest& request);
// Back to the start state (tests).
void ResetLastPathRewrite();
