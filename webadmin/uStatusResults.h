// The latest health-check results of the running configuration, shared by
// every status page. Public renders take them as they are and refresh them
// at most once a second, one renderer at a time, so anonymous viewers never
// run a check each nor queue behind one another; logged-in renders check
// afresh and share what they found.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

class TDomainHandler;

// The check fields of the tree at one moment, by Id. Pages read these, never
// the live fields that a running check writes.
struct TStatusResults {
  struct Result {
    uint8_t CheckStatus = 0;
    std::string CheckStatusText;
  };
  struct DomainResult : Result {
    int32_t FVirtualPathsConnecting = 0;
  };

  int32_t FDomainsRunningCorrectly = 0;
  std::map<int32_t, DomainResult> Domains;              // by domain Id
  std::map<std::pair<int32_t, int32_t>, Result> Paths;  // by domain Id and path Id
  uint64_t TakenMs = 0;                                 // GetTickCount64 when the check ended

  // An item the check did not see (added since) reads as never checked.
  const DomainResult& Domain(int32_t id) const;
  const Result& Path(int32_t domainId, int32_t pathId) const;
};

class TStatusCheck {
 public:
  static constexpr uint64_t MaxAgeMs = 1000;

  static TStatusCheck& Shared();

  // A check of Live now (after the one that may be running); its results
  // become the shared ones.
  std::shared_ptr<const TStatusResults> CheckNow(TDomainHandler& live);
  // The shared results of Live. Older than MaxAgeMs, the caller refreshes
  // them when no check runs, else takes them as they are; only when there
  // are none yet does it wait for a check.
  std::shared_ptr<const TStatusResults> Latest(TDomainHandler& live);
  // Drops the results (the administration's server starts or ends).
  void Forget();

 private:
  std::shared_ptr<const TStatusResults> Current(const TDomainHandler& live) const;
  // Under checking_.
  std::shared_ptr<const TStatusResults> Run(TDomainHandler& live);

  std::mutex checking_;  // one check at a time
  mutable std::mutex resultsLock_;
  std::shared_ptr<const TStatusResults> results_;
  const TDomainHandler* of_ = nullptr;
};
