// Small pages and a controller for the web layer's tests: every control
// kind, page switches, an event that fails, messages.
#pragma once

#include <atomic>
#include <string>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "platform/web/WebServer.h"

namespace webtest {

using namespace web;

inline std::atomic<int> gDataFreed{0};
inline std::atomic<int> gSessionsClosed{0};

struct TestData : SessionData {
  ~TestData() override { ++gDataFreed; }
};

class SecondPage : public AppForm {
 public:
  explicit SecondPage(WebApplication& app) : AppForm(app, "frmSecond") {
    title = "Second";
    lblHere = create<Label>("lblHere", this);
    lblHere->caption = "second";
  }
  Label* lblHere;
};

class TestPage : public AppForm {
 public:
  explicit TestPage(WebApplication& app) : AppForm(app, "frmTest") {
    title = "Test <page>";
    edtName = create<Edit>("edtName", this);
    edtName->onSubmit = [this](Control&) { ++submits; };
    edtHidden = create<Edit>("edtHidden", this);
    edtHidden->visible = false;
    edtHidden->text = "keep";
    edtRo = create<Edit>("edtRo", this);
    edtRo->readOnly = true;
    edtRo->text = "ro";
    edtDis = create<Edit>("edtDis", this);
    edtDis->enabled = false;
    edtDis->text = "dis";
    chkOn = create<CheckBox>("chkOn", this);
    chkOn->checked = true;
    chkHidden = create<CheckBox>("chkHidden", this);
    chkHidden->visible = false;
    chkHidden->checked = true;
    chkLocked = create<CheckBox>("chkLocked", this);
    chkLocked->editable = false;
    chkLocked->checked = true;
    cmbPick = create<ComboBox>("cmbPick", this);
    for (const char* s : {"a", "b", "c"}) cmbPick->addItem(s);
    cmbPick->itemIndex = 1;
    memNotes = create<Memo>("memNotes", this);
    rgMode = create<RadioGroup>("rgMode", this);
    rgMode->addItem("x");
    rgMode->addItem("y");
    btnGo = create<Button>("btnGo", this);
    btnGo->caption = "Go \"now\"";
    btnGo->onClick = [this](Control&) { ++clicks; };
    btnHidden = create<Button>("btnHidden", this);
    btnHidden->visible = false;
    btnHidden->onClick = [this](Control&) { ++clicks; };
    btnDisabled = create<Button>("btnDisabled", this);
    btnDisabled->enabled = false;
    btnDisabled->onClick = [this](Control&) { ++clicks; };
    btnSwitch = create<Button>("btnSwitch", this);
    btnSwitch->onClick = [this](Control&) {
      release();
      this->app().createForm<SecondPage>()->show();
      ++clicks;  // the page is still alive after its release
    };
    btnFail = create<Button>("btnFail", this);
    btnFail->onClick = [this](Control&) {
      release();
      this->app().createForm<SecondPage>()->show();
      throw Exception("Boom <x>");
    };
    btnMsg = create<Button>("btnMsg", this);
    btnMsg->onClick = [this](Control&) { this->app().showMessage("It's <done>"); };
    lblOut = create<Label>("lblOut", this);
    lblOut->caption = "<b>&amp;";
    grdList = create<Grid>("grdList", this);
    grdList->setRowCount(2);
    grdList->setColCount(2);
    grdList->cell(0, 0).text = "<i>raw</i>";
    upFile = create<FileUpload>("upFile", this);
    frameMenu = create<Frame>("frameMenu", this);
    imgMain = frameMenu->create<ImageFile>("imgMain", frameMenu);
    imgMain->fileName = "C:\\x\\Files\\mm Main.jpg";
    imgMain->confirmation = "Are you sure?";
    imgMain->onClick = [this](Control&) { ++clicks; };
    lblAsync = create<Label>("lblAsync", this);
    lblAsync->onAsyncClick = [this](Control&, const ParamMap& p) {
      auto it = p.find("cmd");
      lblAsync->caption = it == p.end() ? "?" : it->second;
    };
    activeControl = edtName;
  }
  void onRender() override { ++renders; }

  Edit *edtName, *edtHidden, *edtRo, *edtDis;
  CheckBox *chkOn, *chkHidden, *chkLocked;
  ComboBox* cmbPick;
  Memo* memNotes;
  RadioGroup* rgMode;
  Button *btnGo, *btnHidden, *btnDisabled, *btnSwitch, *btnFail, *btnMsg;
  Label *lblOut, *lblAsync;
  Grid* grdList;
  FileUpload* upFile;
  Frame* frameMenu;
  ImageFile* imgMain;
  int clicks = 0;
  int submits = 0;
  int renders = 0;
};

class TestController : public ServerControllerBase {
 public:
  TestController() {
    setMainForm([](WebApplication& app) { return app.createForm<TestPage>(); });
  }
  void onNewSession(WebApplication& app) override {
    app.setData(std::make_unique<TestData>());
    if (app.browserIP() == "10.0.0.9") throw SilentException("Remote admin is not allowed");
  }
  void onCloseSession(WebApplication&) override {
    ++closed;
    ++gSessionsClosed;
  }
  std::atomic<int> closed{0};
};

}  // namespace webtest
