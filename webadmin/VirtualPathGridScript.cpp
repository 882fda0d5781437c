// The browser side of the virtual-path grid: the cell editors and the posts
// that keep the server's copy of every cell equal to what the browser shows.
// Every post goes to IWLabel13's asynchronous click; the client runtime sends
// them one at a time, in order.
#include "webadmin/VirtualPathGrid.h"

const std::string& VirtualPathGrid::PageScript() {
  static const std::string kScript = R"JS(
var VTGrid = { nextCell: null, bad: /["&<>]/g };
function VTGridHtml(s) {
  return String(s).replace(VTGrid.bad, function (c) {
    return c === '"' ? '&quot;' : c === '&' ? '&amp;' : c === '<' ? '&lt;' : '&gt;';
  });
}
function VTGridTrim(s) { return String(s).replace(/^\s+|\s+$/g, ''); }
// A script string argument inside a double-quoted attribute.
function VTGridArg(s) {
  return "'" + String(s).replace(/\\/g, '\\\\').replace(/'/g, "\\'").replace(/\r/g, '\\r').replace(/\n/g, '\\n')
    .replace(/&/g, '&amp;').replace(/"/g, '&quot;') + "'";
}
function VTGridCell(id) {
  var m = /^R(\d+)C(\d+)$/.exec(id);
  return m ? { row: parseInt(m[1], 10), col: parseInt(m[2], 10) } : null;
}
function VTGridPost(params, flag) {
  Busy();
  executeAjaxEvent(constructEventURL() + params, null, 'IWLABEL13.DoOnAsyncClick', !!flag);
}
function Busy() {
  var img = document.getElementById('IMGBUSY'), lbl = document.getElementById('LBLBUSY');
  if (img) img.src = 'files/StatusRed.jpg';
  if (lbl) lbl.innerHTML = 'Busy';
}
function Done() {
  var img = document.getElementById('IMGBUSY'), lbl = document.getElementById('LBLBUSY');
  if (img) img.src = 'files/StatusGray.jpg';
  if (lbl) lbl.innerHTML = '';
}
function DoAsyncCellClick(sender, event, state) {
  var id = sender.id, on = state == 0;
  sender.outerHTML = '<img id="' + id + '" src="files/Status' + (on ? 'Green' : 'Gray') +
    '.jpg" onclick="DoAsyncCellClick(this, event, ' + (on ? 1 : 0) + ')">';
  VTGridPost('&sender=' + id + '&state=' + state);
}
function DoAsyncImageClick(sender, event, up) {
  VTGridPost('&cmd=moveRow&sender=' + sender.id + '&up=' + up);
}
function DoAsyncEditClick(sender, event, state) {
  if (!sender || sender.vtCommitted) return;
  var id = sender.id, s, el;
  if (state == 0) {
    if (sender.tagName !== 'DIV') return;
    s = VTGridTrim(sender.textContent || '');
    sender.outerHTML = '<input id="' + id + '" class="g_edit_box" style="width:100%;" type="input" value="' +
      VTGridHtml(s) + '" onkeydown="return DoAsyncKeyPress(this, event, 1)" onblur="DoAsyncEditClick(this, event, 1)">';
    el = document.getElementById(id);
    el.vtOldValue = s;
    VTGridPost('&sender=' + id + '&state=0&s=' + VTFWEncode(s));
    el.focus();
    el.select();
    return;
  }
  if (sender.tagName !== 'INPUT') return;
  sender.vtCommitted = true;
  s = VTGridTrim(sender.value);
  sender.outerHTML = '<div id="' + id + '" style="width:100%;cursor: pointer; cursor: hand;" ' +
    'onclick="DoAsyncEditClick(this, event, 0)">' + (s === '' ? '&nbsp;' : VTGridHtml(s)) + '</div>';
  VTGridPost('&sender=' + id + '&state=1&s=' + VTFWEncode(s === '' ? '&nbsp;' : s));
  if (VTGrid.nextCell) {
    var next = document.getElementById(VTGrid.nextCell);
    VTGrid.nextCell = null;
    if (next) DoAsyncEditClick(next, null, 0);
  }
}
function DoAsyncComboBoxClick(sender, event, state, selectedIndex, options) {
  if (!sender || sender.vtCommitted) return -1;
  var id = sender.id, s, el;
  if (state == 0) {
    if (sender.tagName !== 'DIV') return -1;
    s = VTGridTrim(sender.textContent || '');
    sender.outerHTML = '<select id="' + id + '" class="g_edit_box" style="width:100%;" ' +
      'onkeydown="return DoAsyncKeyPress(this, event, 2, ' + selectedIndex + ')" ' +
      'onBlur="DoAsyncComboBoxClick(this, event, 1, -1, ' + VTGridArg(options) + ');" ' +
      'onChange="DoAsyncComboBoxClick(this, event, 1, -1, ' + VTGridArg(options) + ');">' + options + '</select>';
    el = document.getElementById(id);
    VTGridPost('&sender=' + id + '&state=0&s=' + VTFWEncode(s));
    el.focus();
    return -1;
  }
  if (sender.tagName !== 'SELECT') return -1;
  sender.vtCommitted = true;
  var index = selectedIndex >= 0 ? selectedIndex : sender.selectedIndex, list = '';
  if (index < 0 || index >= sender.options.length) index = 0;
  for (var i = 0; i < sender.options.length; i++) {
    list += (i === index ? '<option selected>' : '<option>') + VTGridHtml(sender.options[i].text) + '</option>';
  }
  s = VTGridTrim(sender.options.length ? sender.options[index].text : '');
  sender.outerHTML = '<div id="' + id + '" style="width:100%;cursor: pointer; cursor: hand;" ' +
    'onclick="DoAsyncComboBoxClick(this, event, 0, ' + index + ', ' + VTGridArg(list) + ');">' +
    (s === '' ? '&nbsp;' : VTGridHtml(s)) + '</div>';
  VTGridPost('&sender=' + id + '&state=1&s=' + VTFWEncode(s));
  return -1;
}
function DoAsyncRemoveRowClick(sender, event, state) {
  var id = sender.id, cell = VTGridCell(id), mark = state == 0;
  sender.outerHTML = '<img id="' + id + '" src="files/Status' + (mark ? 'Red' : 'Gray') +
    '.jpg" onclick="DoAsyncRemoveRowClick(this, event, ' + (mark ? 1 : 0) + ')">';
  if (cell) {
    for (var c = 1; c <= 5; c++) {
      var el = document.getElementById('R' + cell.row + 'C' + c);
      if (el && el.parentNode) el.parentNode.style.backgroundColor = mark ? '#FAAFBA' : '';
    }
  }
  VTGridPost('&sender=' + id + '&state=' + state + '&cmd=' + (mark ? 'removeRow' : 'undo_removeRow'));
}
function DoAsyncKeyPress(sender, event, cellType, selectedIndex) {
  var key = event.keyCode || event.which;
  function stop() { if (event.preventDefault) event.preventDefault(); return false; }
  if (key === 13) {
    if (cellType == 1) DoAsyncEditClick(sender, event, 1);
    else DoAsyncComboBoxClick(sender, event, 1, -1, '');
    return stop();
  }
  if (key === 27) {
    if (cellType == 1) {
      sender.value = sender.vtOldValue === undefined ? sender.value : sender.vtOldValue;
      DoAsyncEditClick(sender, event, 1);
    } else {
      DoAsyncComboBoxClick(sender, event, 1, selectedIndex, '');
    }
    return stop();
  }
  if (key === 9 && cellType == 1) {
    var cell = VTGridCell(sender.id);
    if (cell && !event.shiftKey && cell.col >= 1 && cell.col <= 4) VTGrid.nextCell = 'R' + cell.row + 'C' + (cell.col + 1);
    if (cell && event.shiftKey && cell.col >= 2 && cell.col <= 5) VTGrid.nextCell = 'R' + cell.row + 'C' + (cell.col - 1);
    DoAsyncEditClick(sender, event, 1);
    return stop();
  }
  return String.fromCharCode(key) || true;
}
function editNewCell(id, tries) {
  var el = document.getElementById(id);
  tries = tries || 0;
  if (!el) {
    if (tries < 1000) setTimeout(function () { new editNewCell(id, tries + 1); }, 10);
    return;
  }
  if (el.scrollIntoView) el.scrollIntoView(false);
  DoAsyncEditClick(el, null, 0);
}
function addRow(event, gridName) {
  Busy();
  executeAjaxEvent(constructEventURL() + '&cmd=addRow', null, 'IWLABEL13.DoOnAsyncClick', true);
  var table = document.getElementById(gridName), rows = table ? table.rows.length : 0;
  setTimeout(function () { new editNewCell('R' + rows + 'C1'); }, 10);
}
function VTatb_l(el, background, border) {
  if (!el) return;
  el.style.background = background;
  el.style.borderColor = border;
}
function VTatb_d(el, background, from, to, gradient, type) {
  VTatb_l(el, background, to);
  if (gradient == '1') {
    el.style.backgroundImage = 'linear-gradient(' + (type == 1 ? 'to right' : 'to bottom') + ',' + from + ',' + to + ')';
  } else {
    el.style.backgroundImage = '';
  }
}
function VTFormInit() {
  var rule = '.g_edit_box {margin:0px 0; border:0px none; height:16px; padding:1px 0px; background: #FCFFD1;' +
    'font-face:Verdana;font-weight:normal;font-style:normal;text-decoration: none;' +
    'font-family:Helvetica, Arial, Verdana;FONT: 12px Verdana;}';
  if (!document.styleSheets.length) document.head.appendChild(document.createElement('style'));
  var sheet = document.styleSheets[0];
  if (sheet.insertRule) sheet.insertRule(rule, sheet.cssRules.length);
  else if (sheet.addRule) sheet.addRule('.g_edit_box', rule.replace(/^[^{]*\{|\}$/g, '').replace('border:0px none', 'border:0px solid'));
  var frame = document.getElementById('GRDVIRTUALPATHSIWCL');
  if (frame) frame.style.border = '0';
}
function VTInitTabcontrols() {
  var select = VTFW.tabSelect;
  VTFW.tabSelect = function (tcId, index) {
    select(tcId, index);
    for (var i = 0; ; i++) {
      var tab = document.getElementById(tcId + '_TAB' + i);
      if (!tab) break;
      tab.style.fontWeight = 'normal';
      if (i === index) {
        tab.style.fontSize = '13px'; tab.style.height = '25px'; tab.style.borderLeft = '';
        VTatb_d(tab, '#ffa500', '#F0E68C', '#FFA500', '1', 0);
      } else {
        tab.style.fontSize = '12px'; tab.style.height = '23px'; tab.style.borderLeft = '3px solid #D8E4F8';
        VTatb_d(tab, '#b0c4de', '#9DB9EB', '#D8E4F8', '1', 0);
      }
    }
  };
  var inputs = document.getElementsByTagName('input');
  for (var j = 0; j < inputs.length; j++) {
    var id = inputs[j].id || '';
    if (id.length > 7 && id.slice(-7) === '_ACTIVE') VTFW.tabSelect(id.slice(0, -7), parseInt(inputs[j].value, 10) || 0);
  }
}
)JS";
  return kScript;
}
