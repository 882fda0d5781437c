// vtfw.js, served from memory at /files/vtfw.js: full posts of events,
// asynchronous events and the page-load helpers. Page scripts may call
// constructEventURL, executeAjaxEvent and NewWindow.
#include "platform/web/WebServer.h"

namespace web {

const std::string& ClientScript() {
  static const std::string kScript = R"JS(
var VTFW = (function () {
  var base = '', animate = true, submitting = false;
  function form() { return document.getElementById('SUBMITFORM'); }
  function setField(name, value) {
    var f = form();
    if (f && f.elements[name]) f.elements[name].value = value;
  }
  function busy(on) {
    var b = document.getElementById('VTFW_BUSY');
    if (b && animate) b.style.display = on ? 'block' : 'none';
  }
  var api = {
    init: function (urlBase, showAnimation) { base = urlBase; animate = showAnimation; },
    base: function () { return base; },
    busy: busy,
    // Only posts made through submit leave the page (never a bare Enter).
    allowSubmit: function () { return submitting; },
    submit: function (id, eventName, param) {
      if (submitting) return;
      setField('VT_EVENT', id ? id + '.' + eventName : '');
      setField('VT_EVENTPARAM', param || '');
      submitting = true;
      busy(true);
      form().submit();
    },
    key: function (e, id, eventName) {
      var code = e.keyCode || e.which;
      if (code !== 13) return true;
      if (e.preventDefault) e.preventDefault();
      if (id) api.submit(id, eventName);
      return false;
    },
    focus: function (id) {
      var el = document.getElementById(id);
      if (el && el.focus) { try { el.focus(); } catch (x) {} }
    },
    // Tab controls: the chosen page shows, the others hide; a page script
    // may replace tabShow and tabHide.
    tabSelect: function (tcId, index) {
      var active = document.getElementById(tcId + '_ACTIVE');
      if (!active) return;
      for (var i = 0; ; i++) {
        var tab = document.getElementById(tcId + '_TAB' + i);
        if (!tab) break;
        var page = tab.parentNode.nextSibling.children[i];
        tab.style.fontWeight = i === index ? 'bold' : 'normal';
        tab.style.background = i === index ? '#FFFFFF' : '#E0DFE3';
        if (page) { if (i === index) api.tabShow(page); else api.tabHide(page); }
      }
      active.value = index;
    },
    tabShow: function (page) { page.style.visibility = 'visible'; },
    tabHide: function (page) { page.style.visibility = 'hidden'; },
    run: function (js) { try { (new Function(js))(); } catch (x) { if (window.console) console.log(x); } },
    applyAnswer: function (a) {
      if (a.reload) { api.submit('', ''); return; }
      for (var i = 0; i < a.updates.length; i++) {
        var el = document.getElementById(a.updates[i].id);
        if (el) el.outerHTML = a.updates[i].html;
      }
      for (var j = 0; j < a.scripts.length; j++) api.run(a.scripts[j]);
    }
  };
  return api;
})();

function VTFWEncode(v) { return escape(v).replace(/\+/g, '%2B'); }

// The form's current fields (session and track number included) as a query.
function constructEventURL() {
  var f = document.getElementById('SUBMITFORM'), parts = [];
  for (var i = 0; i < f.elements.length; i++) {
    var el = f.elements[i], t = (el.type || '').toLowerCase();
    if (!el.name || el.disabled || el.name === 'VT_EVENT' || el.name === 'VT_EVENTPARAM') continue;
    if ((t === 'checkbox' || t === 'radio') && !el.checked) continue;
    if (t === 'file' || t === 'button' || t === 'submit') continue;
    parts.push(VTFWEncode(el.name) + '=' + VTFWEncode(el.value));
  }
  return parts.join('&');
}

// Posts an asynchronous event; the answer replaces the changed controls and
// runs its scripts. Flag shows the loading note while the request runs.
function executeAjaxEvent(params, element, eventName, flag) {
  var xhr = new XMLHttpRequest();
  xhr.open('POST', VTFW.base() + '/', true);
  xhr.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
  if (flag) VTFW.busy(true);
  xhr.onreadystatechange = function () {
    if (xhr.readyState !== 4) return;
    VTFW.busy(false);
    var answer = null;
    try { answer = JSON.parse(xhr.responseText); } catch (x) { answer = null; }
    if (answer) VTFW.applyAnswer(answer); else window.location.href = VTFW.base() + '/';
  };
  xhr.send(params + '&VT_ASYNC=1&VT_EVENT=' + VTFWEncode(eventName));
}

function NewWindow(url, name, features) { return window.open(url, name || '_blank', features || ''); }
)JS";
  return kScript;
}

}  // namespace web
