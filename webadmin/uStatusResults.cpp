#include "webadmin/uStatusResults.h"

#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "platform/DateTime.h"

namespace {

bool Fresh(const TStatusResults& r) { return GetTickCount64() - r.TakenMs < TStatusCheck::MaxAgeMs; }

}  // namespace

const TStatusResults::DomainResult& TStatusResults::Domain(int32_t id) const {
  static const DomainResult unchecked;
  auto it = Domains.find(id);
  return it == Domains.end() ? unchecked : it->second;
}

const TStatusResults::Result& TStatusResults::Path(int32_t domainId, int32_t pathId) const {
  static const Result unchecked;
  auto it = Paths.find({domainId, pathId});
  return it == Paths.end() ? unchecked : it->second;
}

TStatusCheck& TStatusCheck::Shared() {
  static TStatusCheck shared;
  return shared;
}

std::shared_ptr<const TStatusResults> TStatusCheck::CheckNow(TDomainHandler& live) {
  std::lock_guard one(checking_);
  return Run(live);
}

std::shared_ptr<const TStatusResults> TStatusCheck::Latest(TDomainHandler& live) {
  std::shared_ptr<const TStatusResults> results = Current(live);
  if (results && Fresh(*results)) return results;
  if (results) {
    std::unique_lock one(checking_, std::try_to_lock);
    if (!one.owns_lock()) return results;  // another renderer refreshes them
    results = Current(live);
    return results && Fresh(*results) ? results : Run(live);
  }
  // None yet: without results every state would read as failed, so the
  // first renders wait for one check, the one that may be running.
  std::lock_guard one(checking_);
  results = Current(live);
  return results ? results : Run(live);
}

void TStatusCheck::Forget() {
  std::lock_guard lock(resultsLock_);
  results_.reset();
  of_ = nullptr;
}

std::shared_ptr<const TStatusResults> TStatusCheck::Current(const TDomainHandler& live) const {
  std::lock_guard lock(resultsLock_);
  return of_ == &live ? results_ : nullptr;
}

std::shared_ptr<const TStatusResults> TStatusCheck::Run(TDomainHandler& live) {
  live.VerifyAllDomains();
  auto results = std::make_shared<TStatusResults>();
  {
    // Only checks started here write these fields, and checking_ is held.
    ReadLockGuard guard(live.Synchronizer);
    results->FDomainsRunningCorrectly = live.FDomainsRunningCorrectly;
    for (const auto& domain : live.Domains) {
      TStatusResults::DomainResult& d = results->Domains[domain->Id];
      d.CheckStatus = domain->CheckStatus;
      d.CheckStatusText = domain->CheckStatusText;
      d.FVirtualPathsConnecting = domain->FVirtualPathsConnecting;
      for (const auto& path : domain->VirtualPaths)
        results->Paths[{domain->Id, path->Id}] = {path->CheckStatus, path->CheckStatusText};
    }
  }
  results->TakenMs = GetTickCount64();
  std::lock_guard lock(resultsLock_);
  results_ = results;
  of_ = &live;
  return results;
}
