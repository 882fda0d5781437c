// The test-request window: routing of a request that is described, not sent,
// on the live configuration, and two load-balancing exercises for debugging.
// First the window's operations as functions over the configuration and the
// report's lines, so the window only reads its controls and calls them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/fLBServerStatus.h"
#include "platform/Classes.h"
#include "platform/desktop/Forms.h"
#include "platform/desktop/StdCtrls.h"

class TDomainHandler;

// What the window's controls hold; the port is the text as typed.
struct TTestRequestInput {
  std::string Host;
  std::string Path = "/";
  std::string Port = "80";
  std::string CallerIP = "192.168.0.1";
  std::string LocalIP = "192.168.0.1";
};

inline constexpr int32_t DebugLBTestAddresses = 1000;
inline constexpr int32_t DebugLBTestRequests = 10000;
// Drops affinity entries older than this many seconds.
inline constexpr int32_t DebugRemoveConnectionsAge = 10;

// Each domain's name followed by its host aliases, in configuration order.
// Takes the configuration's read lock, since a reload may run on another
// thread.
TStringList TestRequestHosts(const TDomainHandler& handler);

// "Test": empties Report when Clear is set, then appends the routing trace.
// A port that is not a number raises EConvertError after the clearing and
// before anything is added.
void RunTestRequest(TDomainHandler& handler, const TTestRequestInput& input, bool clear, TStringList& report);

// "DEBUG LB TEST": DebugLBTestRequests matches of the real routing, from
// DebugLBTestAddresses addresses drawn from the process's generator; they
// count and add affinity entries like real requests. Progress gets each step
// number. Report ends up holding the cluster dump.
void RunDebugLBTest(TDomainHandler& handler, const TTestRequestInput& input, TStringList& report,
                    const std::function<void(int32_t step)>& progress);

// "REMOVE OLD CON.": drops the older affinity entries and dumps the clusters.
void RunDebugRemoveConnections(TDomainHandler& handler, TStringList& report);

class TfrmTestRequestProg : public TForm {
 public:
  // Runs FormCreate.
  TfrmTestRequestProg(TComponent* owner, TLiveConfiguration live);
  ~TfrmTestRequestProg() override;

  TComboBox* ComboBox_Host = nullptr;
  TEdit* Edit_PathDocument = nullptr;
  TEdit* Edit_Port = nullptr;
  TComboBox* ComboBox_CallerIP = nullptr;
  TComboBox* ComboBox_LocalIP = nullptr;
  TButton* Button_Test = nullptr;
  TCheckBox* CheckBox_ClearLinesBeforeTest = nullptr;
  TGroupBox* GroupBox_TestResult = nullptr;
  TMemo* Memo_Report = nullptr;
  TButton* Button_DebugLBTest = nullptr;
  TButton* Button_DebugRemoveConnections = nullptr;
  TProgressBar* ProgressBar1 = nullptr;

  void FormCreate();
  void Button_TestClick(TControl&);
  void Button_DebugLBTestClick(TControl&);
  void Button_DebugRemoveConnectionsClick(TControl&);
  void FormClose(TForm&, TCloseAction& action);

 private:
  TTestRequestInput Input() const;
  void SetReport(const TStringList& lines);

  TLiveConfiguration live_;
};

// The test window while it exists.
extern TfrmTestRequestProg* frmTestRequestProg;

// "Test &Request": creates the window once (owned by Console) and shows it.
void ShowTestRequest(TComponent* console, TLiveConfiguration live);
