// The running engine as the main and status pages see it: its live
// configuration, and the counter labels both pages show.
#pragma once

#include "platform/web/WebControls.h"

class TDomainHandler;

// The running engine's live configuration; nil without an engine host.
// Walk its tree only under its read lock.
TDomainHandler* LiveDomainHandler();

// The value labels of the counters, each right of its caption.
struct TCounterLabels {
  web::Label *IWLabelServerName = nullptr, *IWLabelVTVersion = nullptr, *IWLabelTransferred = nullptr,
             *IWLabelActiveThreads = nullptr, *IWLabelThreadsInPool = nullptr, *IWLabelConnections = nullptr,
             *IWLabelRequests = nullptr, *IWLabelCompressed = nullptr, *IWLabelCompressionRate = nullptr,
             *IWLabelActiveLBConnections = nullptr, *IWLabelLBConnections = nullptr,
             *IWLabelDataThroughput = nullptr;
};

// One row per counter from Top down, captions at Left, every value
// "(unknown)". The status page's captions are "Server Comp Name :" and
// "Compression rate".
TCounterLabels CreateCounterLabels(web::Component* owner, web::Control* parent, int left, int top,
                                   bool statusCaptions);

// Computer name and version, then the engine's counters, read without its
// lock (they are atomics) but for the live clusters' connection count. The
// counters keep their text without an engine host. Active threads are
// grouped in thousands on the main page, plain digits on the status page.
void UpdateCounters(const TCounterLabels& labels, bool groupActiveThreads);
