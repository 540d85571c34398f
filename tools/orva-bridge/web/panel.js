// A projector's page: its buttons through the bridge's WebSocket (a held key is
// repeated by the bridge, for as long as this page keeps saying it is held), the
// trace and status lines of this page's own exchanges, the projector's state, the
// data area as the window opens it, and the touch layout.
'use strict';
const body = document.body;
const windowBox = document.getElementById('window');
const control = name => document.querySelector(`[data-control="${name}"]`);
const lines = { txd: control('Label11'), rxd: control('Label12'), status: control('Label22') };
let socket = null;

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  socket = new WebSocket(`${scheme}//${location.host}/p/${encodeURIComponent(body.dataset.projector)}/ws`);
  socket.onmessage = event => {
    const m = JSON.parse(event.data);
    if (m.line && lines[m.line]) lines[m.line].textContent = m.text;
    if (m.state) showState(m.state);
  };
  socket.onclose = () => { release(); socket = null; setTimeout(connect, 2000); };
}
function say(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

// The state panel.
const stateBox = document.getElementById('state');
function showState(s) {
  const temps = s.temperatures && s.temperatures.S1 !== null
    ? `S1 ${s.temperatures.S1} °C, S2 ${s.temperatures.S2} °C, S3 ${s.temperatures.S3} °C` : '?';
  const fault = s.faults ? Object.keys(s.faults).filter(k => s.faults[k]).join(', ') || 'none' : '?';
  const fields = [
    ['available', s.available ? 'yes' : 'no'], ['power', s.power ?? '?'], ['input', s.input ?? '?'],
    ['mute', s.mute ? `picture ${s.mute.picture ? 'on' : 'off'}, sound ${s.mute.sound ? 'on' : 'off'}` : '?'],
    ['lamp hours', s.hours ?? '?'], ['temperatures', temps], ['fault', fault]];
  stateBox.replaceChildren(...fields.map(([name, value]) => {
    const span = document.createElement('span');
    span.dataset.field = name;
    span.textContent = `${name}: ${value}`;
    return span;
  }));
}

// Held keys: pressed by a pointer, a finger or the Space key; released by letting go,
// leaving, hiding the page or losing the connection. While held, the page says so
// every 150 ms: the bridge stops the repeat when it hears nothing for 500 ms.
let held = null;
let keepAlive = 0;
function press(button) {
  release();
  held = button;
  button.classList.add('held');
  say({ press: button.dataset.control });
  keepAlive = setInterval(() => say({ held: button.dataset.control }), 150);
}
function release() {
  if (!held) return;
  clearInterval(keepAlive);
  say({ release: held.dataset.control });
  held.classList.remove('held');
  held = null;
}
for (const button of document.querySelectorAll('button[data-action="hold"]')) {
  button.addEventListener('pointerdown', event => {
    if (event.button !== 0) return;
    button.setPointerCapture(event.pointerId);
    press(button);
  });
  for (const end of ['pointerup', 'pointercancel', 'lostpointercapture']) button.addEventListener(end, release);
  button.addEventListener('keydown', event => {
    if (event.key === ' ' && !event.repeat) { event.preventDefault(); press(button); }
  });
  button.addEventListener('keyup', event => { if (event.key === ' ') release(); });
  button.addEventListener('blur', release);
  button.addEventListener('contextmenu', event => event.preventDefault());
}
document.addEventListener('visibilitychange', () => { if (document.hidden) release(); });
window.addEventListener('pagehide', release);

for (const button of document.querySelectorAll('button[data-action="click"]'))
  button.addEventListener('click', () => say({ click: button.dataset.control }));
const entry = control('Text1');
control('Command95').addEventListener('click', () => say({ send: entry.value }));
control('Command96').addEventListener('click', () => { entry.value = ''; });
if (body.dataset.send !== 'yes') {
  entry.disabled = true;
  control('Command95').disabled = true;
}

// The data area, as the window opens it: Ctrl+H, the data button, a double-click
// on the word mark once the data area is open.
const dataButton = control('Command34');
let dataAreaFlag = 0;
function setHeight(height) {
  body.classList.remove('compact', 'data', 'service', 'full');
  body.classList.add(height);
}
document.addEventListener('keydown', event => {
  if (!event.ctrlKey || event.shiftKey || event.altKey || event.key.toLowerCase() !== 'h') return;
  event.preventDefault();
  setHeight('service');
  dataAreaFlag = 1;
  dataButton.textContent = 'CLOSE';
  dataButton.hidden = false;
});
control('Image1').addEventListener('dblclick', () => {
  if (dataAreaFlag !== 1) return;
  setHeight('full');
  dataButton.textContent = 'CLOSE';
  dataButton.hidden = false;
});
dataButton.addEventListener('click', () => {
  dataAreaFlag = 0;
  const open = !body.classList.contains('compact');
  setHeight(open ? 'compact' : 'data');
  dataButton.textContent = open ? 'データを表示する' : 'データを表示しない';
});

// The panel scaled to the screen's width; the touch layout on a narrow screen, or
// as the user chose.
const layoutButton = document.getElementById('layout');
function chooseLayout(touch) {
  body.classList.toggle('touch', touch);
  layoutButton.textContent = touch ? 'Panel layout' : 'Touch layout';
  scale();
}
function scale() {
  const width = 9495 / 15 + 4;
  windowBox.style.setProperty('--scale', body.classList.contains('touch') ? 1 : Math.min(2, document.documentElement.clientWidth / width));
}
layoutButton.addEventListener('click', () => {
  const touch = !body.classList.contains('touch');
  localStorage.setItem('orva-layout', touch ? 'touch' : 'panel');
  chooseLayout(touch);
});
window.addEventListener('resize', scale);
document.documentElement.style.overflowY = 'scroll';  // a width that a scroll bar does not change
const chosen = localStorage.getItem('orva-layout');
chooseLayout(chosen ? chosen === 'touch' : matchMedia('(max-width: 600px)').matches);
connect();
