// The administration's URL base, learnt from the header the switch adds
// when it forwards a request through a path it rewrote.
#pragma once

#include <string>

#include "platform/web/WebServer.h"

// The last VTPathRewrite value seen (process-wide).
std::string LastPathRewrite();
// Before every request: a changed header value sets the controller's URL
// base and the URLs built on it; compare and update are one step.
void SetupVantrellURLBase(web::ServerControllerBase& controller, const web::HttpRequest& request);
// Back to the start state (tests).
void ResetLastPathRewrite();
