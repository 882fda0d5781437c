#include "webadmin/uCounters.h"

#include "Common/Misc.h"
#include "Common/uClientThread.h"
#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uProgramMode.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"

namespace {

// Wide enough for "Server Computer Name :" in bold on one line; the values
// end before the status page's legend.
constexpr int kCaptionWidth = 210;
constexpr int kValueWidth = 180;
constexpr int kRowHeight = 20;

}  // namespace

TDomainHandler* LiveDomainHandler() {
  TdmHTTPBase* host = dmHTTPBase.load();
  return host && host->Stats ? host->Stats->DomainHandler.get() : nullptr;
}

TCounterLabels CreateCounterLabels(web::Component* owner, web::Control* parent, int left, int top,
                                   bool statusCaptions) {
  TCounterLabels l;
  const struct {
    web::Label** field;
    const char* name;
    const char* caption;
  } rows[] = {
      {&l.IWLabelServerName, "IWLabelServerName",
       statusCaptions ? "Server Comp Name :" : "Server Computer Name :"},
      {&l.IWLabelVTVersion, "IWLabelVTVersion", "Vantrell Version :"},
      {&l.IWLabelTransferred, "IWLabelTransferred", "Data Transferred :"},
      {&l.IWLabelActiveThreads, "IWLabelActiveThreads", "Active Threads :"},
      {&l.IWLabelThreadsInPool, "IWLabelThreadsInPool", "Threads in Pool :"},
      {&l.IWLabelConnections, "IWLabelConnections", "Connections :"},
      {&l.IWLabelRequests, "IWLabelRequests", "Requests :"},
      {&l.IWLabelCompressed, "IWLabelCompressed", "Data Compressed :"},
      {&l.IWLabelCompressionRate, "IWLabelCompressionRate", statusCaptions ? "Compression rate" : "Compression rate :"},
      {&l.IWLabelActiveLBConnections, "IWLabelActiveLBConnections", "Active LB Connections :"},
      {&l.IWLabelLBConnections, "IWLabelLBConnections", "LB Connections :"},
      {&l.IWLabelDataThroughput, "IWLabelDataThroughput", "Current Data Traffic :"},
  };
  for (const auto& row : rows) {
    auto* caption = owner->create<web::Label>(std::string(row.name) + "Caption", parent);
    caption->caption = row.caption;
    caption->font.bold = true;
    caption->setBounds(left, top, kCaptionWidth, kRowHeight - 2);
    web::Label* value = owner->create<web::Label>(row.name, parent);
    value->caption = "(unknown)";
    value->setBounds(left + kCaptionWidth + 8, top, kValueWidth, kRowHeight - 2);
    *row.field = value;
    top += kRowHeight;
  }
  return l;
}

void UpdateCounters(const TCounterLabels& l, bool groupActiveThreads) {
  l.IWLabelServerName->caption = GetComputerNameStr();
  l.IWLabelVTVersion->caption = std::string(VTVersion) + " (" + InstallTypeName() + ")";
  TdmHTTPBase* host = dmHTTPBase.load();
  if (!host || !host->Stats) return;
  const TStatHolder& s = *host->Stats;
  const int32_t active = ActiveThreads.load();
  l.IWLabelActiveThreads->caption = groupActiveThreads ? FormatThousands(active) : IntToStr(active);
  l.IWLabelThreadsInPool->caption = FormatThousands(s.LiveConnections.load());
  l.IWLabelConnections->caption = FormatThousands64(s.NextRequestId.load());
  l.IWLabelTransferred->caption = FormatThousands64(s.BytesTransferred.load()) + " bytes";
  l.IWLabelRequests->caption = FormatThousands64(s.TotalRequests.load());
  l.IWLabelActiveLBConnections->caption =
      s.DomainHandler ? FormatThousands(s.DomainHandler->GetConnectionCount()) : FormatThousands(0);
  l.IWLabelLBConnections->caption = FormatThousands64(s.FTotalLBConnections.load());
  l.IWLabelCompressed->caption = FormatThousands64(s.BytesSaved.load()) + " bytes";
  l.IWLabelCompressionRate->caption = Format("%f%%", static_cast<double>(s.GetCompressionRate()));
  l.IWLabelDataThroughput->caption = Format("%2.1f kbyte/s", static_cast<double>(s.KBPerSecond.load()));
}
