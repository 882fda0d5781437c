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
    init: function (urlBase, showAnimation) {
      base = urlBase; animate = showAnimation;
      // After the page's own load scripts, which still size its tabs and
      // frames once this returns.
      setTimeout(api.placeBelow, 0);
      // Answers replace wrappers (a grid's new rows come so), and a resized
      // window wraps texts anew: place again.
      if (window.MutationObserver && !api.belowObserver) {
        api.belowObserver = new MutationObserver(api.placeBelow);
        api.belowObserver.observe(document.body, {childList: true, subtree: true});
        window.addEventListener('resize', api.placeBelow);
      }
    },
    // Controls rendered with data-below stand at least 12 pixels below the
    // bottom of what that wrapper shows, never above their own data-top;
    // those below one wrapper keep their distances to each other.
    placeBelow: function () {
      var all = document.querySelectorAll('[data-below]'), groups = {}, key, i;
      for (i = 0; i < all.length; i++) {
        key = all[i].getAttribute('data-below');
        (groups[key] = groups[key] || []).push(all[i]);
      }
      for (key in groups) {
        var above = document.getElementById(key), list = groups[key], first = Infinity, origin = null;
        if (!above) continue;
        for (i = 0; i < list.length; i++) {
          first = Math.min(first, parseInt(list[i].getAttribute('data-top'), 10) || 0);
          // Where top 0 lies: the block the wrapper is placed in (the body's
          // margin, for one placed in the page itself).
          if (origin === null && list[i].offsetParent) {
            origin = list[i].getBoundingClientRect().top - (parseInt(list[i].style.top, 10) || 0);
          }
        }
        if (origin === null) continue;
        var bottom = above.getBoundingClientRect().bottom;
        for (var c = above.firstElementChild; c; c = c.nextElementSibling) {
          bottom = Math.max(bottom, c.getBoundingClientRect().bottom);
        }
        var shift = Math.max(0, Math.ceil(bottom - origin) + 12 - first);
        for (i = 0; i < list.length; i++) {
          list[i].style.top = ((parseInt(list[i].getAttribute('data-top'), 10) || 0) + shift) + 'px';
        }
      }
    },
    base: function () { return base; },
    busy: busy,
    // Only posts made through submit leave the page (never a bare Enter).
    allowSubmit: function () { return submitting; },
    submit: function (id, eventName, param) {
      if (submitting) return;
      // A field being edited commits first (its blur may post), and the
      // page leaves only once every queued asynchronous post is answered.
      var focused = document.activeElement;
      if (focused && focused !== document.body && focused.blur) focused.blur();
      if (VTFWAsync.busy || VTFWAsync.queue.length) {
        VTFWAsync.after = function () { api.submit(id, eventName, param); };
        return;
      }
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
      if (a.reload) { VTFWAsync.queue = []; api.submit('', ''); return; }
      for (var i = 0; i < a.updates.length; i++) {
        var el = document.getElementById(a.updates[i].id);
        if (el) el.outerHTML = a.updates[i].html;
      }
      for (var j = 0; j < a.scripts.length; j++) api.run(a.scripts[j]);
    }
  };
  return api;
})();

// A value as a form post of a windows-1252 page sends it: one %XX byte per
// character, and a character reference for what the code page lacks.
var VTFWCp1252 = { 0x20AC: 0x80, 0x201A: 0x82, 0x0192: 0x83, 0x201E: 0x84, 0x2026: 0x85, 0x2020: 0x86,
  0x2021: 0x87, 0x02C6: 0x88, 0x2030: 0x89, 0x0160: 0x8A, 0x2039: 0x8B, 0x0152: 0x8C, 0x017D: 0x8E, 0x2018: 0x91,
  0x2019: 0x92, 0x201C: 0x93, 0x201D: 0x94, 0x2022: 0x95, 0x2013: 0x96, 0x2014: 0x97, 0x02DC: 0x98, 0x2122: 0x99,
  0x0161: 0x9A, 0x203A: 0x9B, 0x0153: 0x9C, 0x017E: 0x9E, 0x0178: 0x9F };
function VTFWEncode(v) {
  var out = '', s = String(v), hex = '0123456789ABCDEF';
  for (var i = 0; i < s.length; i++) {
    var c = s.charCodeAt(i), b = c < 0x80 || (c >= 0xA0 && c < 0x100) ? c : VTFWCp1252[c];
    if (b === undefined) {
      var cp = s.codePointAt(i);
      if (cp > 0xFFFF) i++;
      out += '%26%23' + cp + '%3B';
    } else if (/[A-Za-z0-9\-_.~*@\/]/.test(String.fromCharCode(b)) && b < 0x80) {
      out += String.fromCharCode(b);
    } else {
      out += '%' + hex.charAt(b >> 4) + hex.charAt(b & 15);
    }
  }
  return out;
}

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
// runs its scripts. Posts are sent one at a time in the order made, so the
// server sees a page's edits in the order the user made them. Flag shows the
// loading note while the request runs.
var VTFWAsync = { queue: [], busy: false, after: null };
function executeAjaxEvent(params, element, eventName, flag) {
  VTFWAsync.queue.push({ body: params + '&VT_ASYNC=1&VT_EVENT=' + VTFWEncode(eventName), flag: flag });
  VTFWAsyncNext();
}
function VTFWAsyncNext() {
  if (VTFWAsync.busy) return;
  var item = VTFWAsync.queue.shift();
  if (!item) {
    var after = VTFWAsync.after;
    VTFWAsync.after = null;
    if (after) after();
    return;
  }
  VTFWAsync.busy = true;
  var xhr = new XMLHttpRequest();
  xhr.open('POST', VTFW.base() + '/', true);
  xhr.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
  if (item.flag) VTFW.busy(true);
  xhr.onreadystatechange = function () {
    if (xhr.readyState !== 4) return;
    VTFW.busy(false);
    VTFWAsync.busy = false;
    var answer = null;
    try { answer = JSON.parse(xhr.responseText); } catch (x) { answer = null; }
    if (!answer) { VTFWAsync.queue = []; window.location.href = VTFW.base() + '/'; return; }
    VTFW.applyAnswer(answer);
    if (!answer.reload) VTFWAsyncNext();
  };
  xhr.send(item.body);
}

function NewWindow(url, name, features) { return window.open(url, name || '_blank', features || ''); }
)JS";
  return kScript;
}

}  // namespace web
