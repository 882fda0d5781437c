#include "host/fTestRequestProg.h"

#include <vector>

#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uProgramMode.h"
#include "Common/uRequestMatching.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

TStringList TestRequestHosts(const TDomainHandler& handler) {
  TStringList hosts;
  ReadLockGuard guard(handler.Synchronizer);
  for (const auto& domain : handler.Domains) {
    hosts.Add(domain->DomainName);
    hosts.AddStrings(domain->VirtualDomains);
  }
  return hosts;
}

void RunTestRequest(TDomainHandler& handler, const TTestRequestInput& input, bool clear, TStringList& report) {
  if (clear) report.Clear();
  const int32_t port = StrToInt(input.Port);
  handler.DescribeMatch(input.Host, input.LocalIP, report, input.CallerIP, input.Path, port);
}

void RunDebugLBTest(TDomainHandler& handler, const TTestRequestInput& input, TStringList& report,
                    const std::function<void(int32_t step)>& progress) {
  std::vector<std::string> addresses;
  addresses.reserve(DebugLBTestAddresses);
  for (int32_t i = 0; i < DebugLBTestAddresses; ++i)
    addresses.push_back(Format("%d.%d.%d.%d", Random(255), Random(255), Random(255), Random(255)));

  const int32_t port = StrToInt(input.Port);
  report.Add(Format("Performing %s tests on %s ip numbers", FormatThousands(DebugLBTestRequests),
                    FormatThousands(DebugLBTestAddresses)));
  TRequestMatchData m;
  for (int32_t step = 0; step < DebugLBTestRequests; ++step) {
    if (progress) progress(step);
    const std::string& address = addresses[static_cast<size_t>(Random(DebugLBTestAddresses))];
    m.Setup(input.Host, input.LocalIP, IPToInt(address), address, input.Path, port);
    handler.MatchRequest(m);
  }
  report.Clear();
  handler.DumpClusterStatus(report);
}

void RunDebugRemoveConnections(TDomainHandler& handler, TStringList& report) {
  report.Clear();
  handler.RemoveExpiredConnections(DebugRemoveConnectionsAge);
  handler.DumpClusterStatus(report);
}

// ------------------------------------------------------------ the window

TfrmTestRequestProg* frmTestRequestProg = nullptr;

namespace {

template <class T>
T* AddControl(TForm* form, TWinControl* parent, const char* name, int left, int top, int width, int height) {
  T* c = new T(form, parent);
  c->Name = name;
  c->SetBounds(left, top, width, height);
  return c;
}

void AddCaption(TForm* form, const char* caption, int left, int top) {
  AddControl<TLabel>(form, form, "", left, top, 80, 13)->SetCaption(caption);
}

}  // namespace

TfrmTestRequestProg::TfrmTestRequestProg(TComponent* owner, TLiveConfiguration live)
    : TForm(owner), live_(std::move(live)) {
  Name = "frmTestRequestProg";
  SetCaption("Test Request");
  SetBounds(0, 0, 456, 448);
  BorderStyle = TBorderStyle::bsDialog;
  Center();

  AddCaption(this, "Host", 8, 8);
  ComboBox_Host = AddControl<TComboBox>(this, this, "ComboBox_Host", 96, 8, 350, 21);
  AddCaption(this, "Path / Document", 8, 34);
  Edit_PathDocument = AddControl<TEdit>(this, this, "Edit_PathDocument", 96, 34, 350, 21);
  Edit_PathDocument->SetText("/");
  AddCaption(this, "Port", 8, 60);
  Edit_Port = AddControl<TEdit>(this, this, "Edit_Port", 96, 60, 60, 21);
  Edit_Port->SetText("80");
  AddCaption(this, "Caller IP", 8, 86);
  ComboBox_CallerIP = AddControl<TComboBox>(this, this, "ComboBox_CallerIP", 96, 86, 150, 21);
  for (int i = 1; i <= 7; ++i) ComboBox_CallerIP->Items.push_back("192.168.0." + std::to_string(i));
  AddCaption(this, "Local IP", 8, 112);
  ComboBox_LocalIP = AddControl<TComboBox>(this, this, "ComboBox_LocalIP", 96, 112, 150, 21);
  ComboBox_LocalIP->Items.push_back("127.0.0.1");
  for (int i = 1; i <= 7; ++i) ComboBox_LocalIP->Items.push_back("192.168.0." + std::to_string(i));
  ComboBox_LocalIP->SetText("192.168.0.1");

  Button_Test = AddControl<TButton>(this, this, "Button_Test", 296, 138, 75, 25);
  Button_Test->SetCaption("Test");
  Button_Test->Default = true;
  Button_Test->OnClick = [this](TControl& c) { Button_TestClick(c); };
  CheckBox_ClearLinesBeforeTest = AddControl<TCheckBox>(this, this, "CheckBox_ClearLinesBeforeTest", 380, 142, 60, 17);
  CheckBox_ClearLinesBeforeTest->SetCaption("Clear");
  CheckBox_ClearLinesBeforeTest->SetChecked(true);

  Button_DebugLBTest = AddControl<TButton>(this, this, "Button_DebugLBTest", 8, 138, 100, 25);
  Button_DebugLBTest->SetCaption("DEBUG LB TEST");
  Button_DebugLBTest->SetVisible(false);
  Button_DebugLBTest->OnClick = [this](TControl& c) { Button_DebugLBTestClick(c); };
  Button_DebugRemoveConnections = AddControl<TButton>(this, this, "Button_DebugRemoveConnections", 112, 138, 110, 25);
  Button_DebugRemoveConnections->SetCaption("REMOVE OLD CON.");
  Button_DebugRemoveConnections->SetVisible(false);
  Button_DebugRemoveConnections->OnClick = [this](TControl& c) { Button_DebugRemoveConnectionsClick(c); };
  ProgressBar1 = AddControl<TProgressBar>(this, this, "ProgressBar1", 8, 168, 440, 12);
  ProgressBar1->SetVisible(false);

  GroupBox_TestResult = AddControl<TGroupBox>(this, this, "GroupBox_TestResult", 8, 184, 440, 256);
  GroupBox_TestResult->SetCaption("Test Result");
  Memo_Report = AddControl<TMemo>(this, GroupBox_TestResult, "Memo_Report", 8, 16, 424, 232);
  Memo_Report->ReadOnly = true;
  Memo_Report->WordWrap = false;

  ActiveControl = ComboBox_Host;
  OnClose = [this](TForm& f, TCloseAction& a) { FormClose(f, a); };
  FormCreate();
}

TfrmTestRequestProg::~TfrmTestRequestProg() {
  if (frmTestRequestProg == this) frmTestRequestProg = nullptr;
}

void TfrmTestRequestProg::FormCreate() {
  ComboBox_CallerIP->SetItemIndex(0);
  TDomainHandler* handler = live_ ? live_() : nullptr;
  const TStringList hosts = handler != nullptr ? TestRequestHosts(*handler) : TStringList();
  ComboBox_Host->Items = hosts.Items();
  ComboBox_Host->SetItemIndex(0);
  if (DebugMode) {
    Button_DebugLBTest->SetVisible(true);
    Button_DebugRemoveConnections->SetVisible(true);
    ProgressBar1->SetVisible(true);
  }
}

void TfrmTestRequestProg::FormClose(TForm&, TCloseAction& action) {
  action = TCloseAction::caFree;
  if (frmTestRequestProg == this) frmTestRequestProg = nullptr;
}

TTestRequestInput TfrmTestRequestProg::Input() const {
  TTestRequestInput in;
  in.Host = ComboBox_Host->Text();
  in.Path = Edit_PathDocument->Text();
  in.Port = Edit_Port->Text();
  in.CallerIP = ComboBox_CallerIP->Text();
  in.LocalIP = ComboBox_LocalIP->Text();
  return in;
}

void TfrmTestRequestProg::SetReport(const TStringList& lines) {
  Memo_Report->Lines.BeginUpdate();
  Memo_Report->Lines.Clear();
  for (const std::string& line : lines) Memo_Report->Lines.Add(line);
  Memo_Report->Lines.EndUpdate();
}

void TfrmTestRequestProg::Button_TestClick(TControl&) {
  if (CheckBox_ClearLinesBeforeTest->Checked()) Memo_Report->Lines.Clear();
  TDomainHandler* handler = live_ ? live_() : nullptr;
  if (handler == nullptr) return;
  // The trace is gathered first, so a port that is not a number leaves the
  // report as it was.
  TStringList trace;
  RunTestRequest(*handler, Input(), false, trace);
  Memo_Report->Lines.BeginUpdate();
  for (const std::string& line : trace) Memo_Report->Lines.Add(line);
  Memo_Report->Lines.EndUpdate();
}

void TfrmTestRequestProg::Button_DebugLBTestClick(TControl&) {
  TDomainHandler* handler = live_ ? live_() : nullptr;
  if (handler == nullptr) return;
  ProgressBar1->Max = DebugLBTestRequests;
  TStringList report;
  RunDebugLBTest(*handler, Input(), report, [this](int32_t step) { ProgressBar1->SetPosition(step); });
  SetReport(report);
}

void TfrmTestRequestProg::Button_DebugRemoveConnectionsClick(TControl&) {
  TDomainHandler* handler = live_ ? live_() : nullptr;
  if (handler == nullptr) return;
  TStringList report;
  RunDebugRemoveConnections(*handler, report);
  SetReport(report);
}

void ShowTestRequest(TComponent* console, TLiveConfiguration live) {
  if (frmTestRequestProg == nullptr) frmTestRequestProg = new TfrmTestRequestProg(console, std::move(live));
  frmTestRequestProg->Show();
  frmTestRequestProg->BringToFront();
}
