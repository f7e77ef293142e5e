// The handheld in a browser: draws the terminal's state as the server sends
// it (an event stream, one state per change) and turns what a person does
// on the page into the console's commands. Plain script, no libraries.
'use strict';

const $ = (id) => document.getElementById(id);
const el = (tag, props = {}, ...children) => {
  const e = document.createElement(tag);
  Object.assign(e, props);
  for (const c of children) e.append(c);
  return e;
};

// ------------------------------------------------------------------ requests
async function call(method, path, params = {}, body = undefined) {
  const query = new URLSearchParams(params).toString();
  const response = await fetch(path + (query ? '?' + query : ''), {
    method, body, credentials: 'same-origin', cache: 'no-store',
  });
  const type = response.headers.get('Content-Type') || '';
  const payload = type.startsWith('application/json') ? await response.json() : await response.text();
  return { status: response.status, payload };
}

function said(result) {
  const p = result.payload;
  let line = '';
  if (typeof p === 'string') line = p.trim();
  else if (p && p.problems) line = p.problems.trim();
  $('action-result').textContent = result.status === 200 ? line : `(${result.status}) ${line}`;
  return result;
}

// Actions go one after another, in the order they were made (a release after its hold).
let queue = Promise.resolve();
function act(method, path, params, body) {
  queue = queue.then(() => call(method, path, params, body).then(said)).catch((e) => {
    $('action-result').textContent = String(e);
  });
  return queue;
}

// ------------------------------------------------------------------ the live state
let state = null;
let source = null;

function setLink(kind, text) {
  const link = $('link');
  link.className = 'link ' + kind;
  link.textContent = text;
}

function connect() {
  if (source) source.close();
  source = new EventSource('/api/events');
  source.addEventListener('open', () => setLink('live', 'live'));
  source.addEventListener('state', (e) => {
    setLink('live', 'live');
    state = JSON.parse(e.data);
    render(state);
  });
  source.addEventListener('error', () => {
    if (source.readyState === EventSource.CLOSED) {
      // Refused (a server started again with another token) or gone: try again in a while.
      setLink('reconnecting', 'reconnecting');
      setTimeout(connect, 2000);
    } else {
      setLink('reconnecting', 'reconnecting');
    }
  });
}

function render(s) {
  $('root').textContent = s.root;
  renderDevice(s);
  renderWedge(s);
  renderView(s);
  renderFarEnd(s);
}

function renderDevice(s) {
  const screen = $('screen');
  screen.style.width = s.screen.width + 'px';
  screen.style.height = s.screen.height + 'px';
  const focus = s.focus ? s.focus.focus : '';
  $('app-title').textContent = focus ? focus : '(no focus)';
  const typed = $('typed');
  const text = s.text ? s.text.text : '';
  typed.classList.toggle('nofocus', !focus);
  if (typed.textContent !== text) {
    typed.textContent = text;
    typed.scrollTop = typed.scrollHeight;
  }
  const lights = $('lights');
  lights.replaceChildren(...s.lights.filter((l) => !l.vibrator && l.name !== 'unused').map((l) =>
    el('span', { className: `led ${l.colour} ${l.state ? 'on' : 'off'}`, title: `${l.name} light (${l.colour}): ${l.state ? 'on' : 'off'}` })));
  const vibrating = Array.isArray(s.vibrator) && s.vibrator.some((v) => v.now === 'on');
  $('vibrator').textContent = vibrating ? 'vibrating' : 'vibrator off';
  $('vibrator').classList.toggle('on', vibrating);
  const last = s.sounds.last[s.sounds.last.length - 1];
  $('sound').textContent = last ? `sound: ${last.name}` : 'no sound yet';
  const tray = Array.isArray(s.tray) ? s.tray : [];
  $('tray-icon').hidden = !tray.some((t) => t.icon !== undefined);
  const popup = tray.find((t) => t.popup !== undefined);
  renderMenu(popup);
  const boxes = Array.isArray(s.msgbox) ? s.msgbox : [];
  renderDialog(boxes.length, boxes[boxes.length - 1]);
}

// The last popup menu of the tray, on the screen until a click closes it.
let menuSeen = 0;
function renderMenu(popup) {
  const menu = $('menu');
  if (!popup || popup.popup === menuSeen) {
    if (!popup) menu.hidden = true;
    return;
  }
  const close = () => { menu.hidden = true; menuSeen = popup.popup; };
  menu.replaceChildren(...popup.items.split('|').map((item) => el('div', { textContent: item, onclick: close })),
    el('div', { className: 'dim', textContent: popup.choice ? `chosen: command ${popup.choice}` : 'closed without a choice', onclick: close }));
  menu.hidden = false;
}

const kAnswers = { 1: 'OK', 2: 'Cancel', 3: 'Abort', 4: 'Retry', 5: 'Ignore', 6: 'Yes', 7: 'No' };
const kButtons = [[1], [1, 2], [3, 4, 5], [6, 7, 2], [6, 7], [4, 2]];
let dialogSeen = 0;
function renderDialog(count, box) {
  const dialog = $('dialog');
  if (!box || count === dialogSeen) {
    if (!box) dialog.hidden = true;
    return;
  }
  $('dialog-caption').textContent = box.caption;
  $('dialog-text').textContent = box.text;
  const buttons = kButtons[box.type & 15] || [1];
  $('dialog-buttons').replaceChildren(...buttons.map((a) => {
    const b = el('button', { textContent: kAnswers[a], title: 'Close; this answer is given to the next message box' });
    if (a === box.answer) b.classList.add('answered');
    b.addEventListener('click', () => {
      dialogSeen = count;
      dialog.hidden = true;
      act('POST', '/api/answer', { answer: kAnswers[a].toLowerCase() });
    });
    return b;
  }));
  dialog.hidden = false;
}

function renderWedge(s) {
  const st = s.status || {};
  const line = $('wedge-state');
  if (st.running) {
    line.textContent = `wedge: running, pid ${st.pid ?? '?'}`;
    line.className = 'running';
  } else {
    line.textContent = 'wedge: not running' + (st.last_exit !== undefined ? `, ended with exit code ${st.last_exit}` : '');
    line.className = st.last_exit !== undefined ? 'ended' : '';
  }
  $('wedge-events').textContent = ['KVN_Loaded', 'KVN_Enable', 'KVN_Enable_State']
    .map((e) => `${e} ${st[e] === -1 ? 'none' : st[e] ?? '?'}`).join(' · ');
}

function renderView(s) {
  const items = Array.isArray(s.inView) ? s.inView : [];
  $('in-view').textContent = items.length === 0 ? 'nothing in view' :
    items.map((b) => b.image !== undefined ? `picture ${b.image}` :
      `${JSON.stringify(b.data)} symbology ${b.sym}${b.symid !== undefined ? ' (engine id ' + b.symid + ')' : ''}`).join('\n');
}

function framesTable(stream) {
  const head = el('tr', {}, ...['#', 'framing', 'seq', 'len', 'CRC', 'data', 'hex'].map((h) => el('th', { textContent: h })));
  const rows = stream.frames.map((f) => el('tr', { className: 'frame' },
    el('td', { textContent: f.frame }),
    el('td', { textContent: f.framing + (f.kind ? ' ' + f.kind : '') }),
    el('td', { textContent: f.sequence ?? '' }),
    el('td', { textContent: f.length ?? '' }),
    el('td', { textContent: f.crc ?? '', className: f.crc ? 'crc-' + f.crc : '' }),
    el('td', { textContent: f.data, className: 'data' }),
    el('td', { textContent: f.hex, className: 'hex' })));
  return el('table', { className: 'frames' }, head, ...rows);
}

function renderFarEnd(s) {
  $('peers').replaceChildren(...(s.peers.length ? s.peers : []).map((p) => el('div', { className: 'peer', id: 'peer-' + p.port },
    el('h3', { textContent: `${p.port}: ${p.stream.count} frame(s), ${p.stream.bytes} bytes` }), framesTable(p.stream))));
  if (!s.peers.length) $('peers').append(el('p', { className: 'dim', textContent: 'no serial peer has received anything' }));
  $('bluetooth').replaceChildren(...s.bluetooth.map((d) => el('div', { className: 'peer' },
    el('h3', { textContent: `Bluetooth ${d.address}${d.name ? ' "' + d.name + '"' : ''}${d.answers ? '' : ' (silent)'}: ${d.stream.count} frame(s)` }),
    framesTable(d.stream))));
  const trace = $('trace');
  const lines = s.trace ? s.trace.tail.join('\n') : '(no trace log: make the folder \\DebugADV)';
  if (trace.textContent !== lines) {
    const atEnd = trace.scrollTop + trace.clientHeight >= trace.scrollHeight - 4;
    trace.textContent = lines;
    if (atEnd) trace.scrollTop = trace.scrollHeight;
  }
  $('trace-count').textContent = s.trace ? `${s.trace.lines} lines` : '';
}

// ------------------------------------------------------------------ the scan key
let held = false;
function hold() {
  if (held) return;
  held = true;
  $('scan-key').setAttribute('aria-pressed', 'true');
  act('POST', '/api/key', { down: '1' });
}
function release() {
  if (!held) return;
  held = false;
  $('scan-key').setAttribute('aria-pressed', 'false');
  act('POST', '/api/key', { down: '0' });
}
function typing(e) {
  return e.target instanceof HTMLInputElement || e.target instanceof HTMLTextAreaElement || e.target instanceof HTMLSelectElement;
}

function wireDevice() {
  const key = $('scan-key');
  key.addEventListener('pointerdown', (e) => { key.setPointerCapture(e.pointerId); e.preventDefault(); hold(); });
  for (const ev of ['pointerup', 'pointercancel', 'lostpointercapture']) key.addEventListener(ev, release);
  key.addEventListener('keydown', (e) => { if (e.code === 'Space' || e.code === 'Enter') e.preventDefault(); });
  document.addEventListener('keydown', (e) => {
    if (e.code !== 'Space' || typing(e) || e.repeat) return;
    e.preventDefault();
    hold();
  });
  document.addEventListener('keyup', (e) => {
    if (e.code !== 'Space' || typing(e)) return;
    e.preventDefault();
    release();
  });
  window.addEventListener('blur', release);
  for (const b of document.querySelectorAll('[data-wedge]'))
    b.addEventListener('click', () => act('POST', '/api/wedge', { do: b.dataset.wedge }));
  for (const b of document.querySelectorAll('[data-word]'))
    b.addEventListener('click', () => act('POST', '/api/command', { word: b.dataset.word }));
  $('clear-text').addEventListener('click', () => act('POST', '/api/clear-text'));
  $('tray-icon').addEventListener('click', () => act('POST', '/api/tray'));
  for (const b of document.querySelectorAll('[data-menu]'))
    b.addEventListener('click', () => act('POST', '/api/menu', { choice: b.dataset.menu }));
}

// ------------------------------------------------------------------ the viewfinder
function wireViewfinder() {
  $('barcode-form').addEventListener('submit', (e) => {
    e.preventDefault();
    act('POST', '/api/view', { sym: $('barcode-sym').value }, $('barcode-data').value);
  });
  $('label-form').addEventListener('submit', (e) => {
    e.preventDefault();
    act('POST', '/api/label', { format: $('label-format').value, rotate: $('label-rotate').value, blur: $('label-blur').value },
      $('label-data').value);
  });
  $('swipe-form').addEventListener('submit', (e) => {
    e.preventDefault();
    act('POST', '/api/swipe', {}, $('swipe-data').value);
  });
  $('clear-view').addEventListener('click', () => act('POST', '/api/clear-view'));
  const drop = $('drop');
  const send = (file) => { if (file) act('POST', '/api/picture', {}, file); };
  drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    send(e.dataTransfer.files[0]);
  });
  $('picture').addEventListener('change', (e) => { send(e.target.files[0]); e.target.value = ''; });
}

// ------------------------------------------------------------------ the settings
const drafts = { ini: null, vqf: null };
let current = 'ini';
let effective = new Map();
let checkTimer = 0;
let checkRound = 0;

function lineCount(text) {
  return text.split('\n').length;
}

function renderGutter(findings) {
  const text = $('source').value;
  const byLine = new Map();
  for (const f of findings) {
    const list = byLine.get(f.line) || [];
    list.push(f);
    byLine.set(f.line, list);
  }
  const rank = { error: 3, warning: 2, note: 1 };
  const rows = [];
  for (let n = 1; n <= lineCount(text); ++n) {
    const here = byLine.get(n) || [];
    const worst = here.reduce((w, f) => (rank[f.severity] > (rank[w] || 0) ? f.severity : w), '');
    rows.push(el('div', { textContent: n, className: worst, title: here.map((f) => `${f.severity}: ${f.message}`).join('\n') }));
    rows[rows.length - 1].dataset.line = n;
  }
  $('gutter').replaceChildren(...rows);
  $('gutter').scrollTop = $('source').scrollTop;
  $('findings').replaceChildren(...findings.map((f) =>
    el('li', { className: f.severity, textContent: `${f.line ? 'line ' + f.line : 'file'}: ${f.severity}: ${f.message}` })));
}

async function check() {
  const round = ++checkRound;
  const text = $('source').value;
  $('check-state').textContent = 'checking...';
  const r = await call('POST', '/api/check', { file: current }, text);
  if (round !== checkRound) return;
  if (r.status !== 200) {
    $('check-state').textContent = `check refused (${r.status})`;
    return;
  }
  const findings = Array.isArray(r.payload.findings) ? r.payload.findings : [];
  effective = new Map();
  if (Array.isArray(r.payload.effective))
    for (const e of r.payload.effective) if (e.key !== undefined && !effective.has(e.key.toLowerCase())) effective.set(e.key.toLowerCase(), e);
  renderGutter(findings);
  const errors = findings.filter((f) => f.severity === 'error').length;
  $('check-state').textContent = findings.length === 0 ? 'check: clean' :
    `check: ${errors} error(s), ${findings.length - errors} other finding(s)`;
  $('check-state').dataset.round = round;
}

function scheduleCheck() {
  renderGutterNumbers();
  clearTimeout(checkTimer);
  checkTimer = setTimeout(check, 250);
}

function renderGutterNumbers() {
  const want = lineCount($('source').value);
  const gutter = $('gutter');
  while (gutter.children.length < want) {
    const n = gutter.children.length + 1;
    const d = el('div', { textContent: n });
    d.dataset.line = n;
    gutter.append(d);
  }
  while (gutter.children.length > want) gutter.lastChild.remove();
}

async function load(file) {
  current = file;
  for (const t of document.querySelectorAll('.tab')) t.setAttribute('aria-selected', String(t.dataset.file === file));
  if (drafts[file] === null) {
    const r = await call('GET', '/api/settings', { file });
    drafts[file] = r.status === 200 ? r.payload : '';
  }
  $('source').value = drafts[file];
  $('explain-form').hidden = file !== 'ini';
  await check();
}

function keyAt(event) {
  const area = $('source');
  const style = getComputedStyle(area);
  const y = event.clientY - area.getBoundingClientRect().top - parseFloat(style.paddingTop) + area.scrollTop;
  const n = Math.floor(y / parseFloat(style.lineHeight));
  const line = (area.value.split('\n')[n] || '').replace(/\r$/, '');
  const m = /^\s*([A-Za-z][A-Za-z0-9_]*)\s*=/.exec(line);
  return m ? m[1] : null;
}

function showEffective(key) {
  const hover = $('hover');
  if (!key) return;
  const e = effective.get(key.toLowerCase());
  // The draft's folder is the server's business: the file's name and line are the person's.
  const from = String(e ? e.from : '').replace(/[^\s(]*\/(?=[^/\s]+:\d+)/g, '');
  hover.textContent = e ? `${e.key} = ${e.value}  (${from})` : `${key}: no such key in the settings list`;
}

async function save(force) {
  const r = await call('PUT', '/api/settings', force ? { file: current, force: '1' } : { file: current }, $('source').value);
  if (r.status === 409) {
    const errors = (r.payload.findings || []).filter((f) => f.severity === 'error');
    const list = errors.map((f) => `line ${f.line}: ${f.message}`).join('\n');
    if (confirm(`${current === 'ini' ? 'Keyvane.ini' : 'DecodeSettings.Vqf'} has errors:\n${list}\n\nSave it anyway and restart the wedge?`))
      return save(true);
    $('action-result').textContent = 'not saved';
    return r;
  }
  said(r);
  if (r.status === 200) $('action-result').textContent = 'saved; the wedge started again';
  return r;
}

function wireSettings() {
  const area = $('source');
  area.addEventListener('input', () => { drafts[current] = area.value; scheduleCheck(); });
  area.addEventListener('scroll', () => { $('gutter').scrollTop = area.scrollTop; });
  area.addEventListener('mousemove', (e) => showEffective(keyAt(e)));
  for (const t of document.querySelectorAll('.tab')) t.addEventListener('click', () => load(t.dataset.file));
  $('save').addEventListener('click', () => save(false));
  $('explain-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    $('explain').textContent = 'the wedge reads it on a terminal of its own...';
    const text = drafts.ini !== null ? drafts.ini : '';
    const r = await call('POST', '/api/explain', { data: $('explain-data').value, sym: $('explain-sym').value }, text);
    const out = r.payload && r.payload.out;
    if (Array.isArray(out)) {
      $('explain').textContent = out.map((b) => Object.entries(b).map(([k, v]) => `${k}: ${typeof v === 'string' ? v : JSON.stringify(v)}`).join('\n')).join('\n\n');
    } else {
      $('explain').textContent = (r.payload && r.payload.problems) || String(r.payload);
    }
  });
}

window.addEventListener('DOMContentLoaded', () => {
  wireDevice();
  wireViewfinder();
  wireSettings();
  connect();
  load('ini');
});
