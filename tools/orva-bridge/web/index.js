// The index: every projector's state, pushed by the bridge as it changes.
'use strict';
function show(s) {
  const row = document.querySelector(`tr[data-projector="${CSS.escape(s.id)}"]`);
  if (!row) return;
  const t = s.temperatures;
  const values = {
    available: s.available ? 'yes' : 'no',
    power: s.power ?? '?',
    input: s.input ?? '?',
    mute: s.mute ? `picture ${s.mute.picture ? 'on' : 'off'}, sound ${s.mute.sound ? 'on' : 'off'}` : '?',
    hours: s.hours ?? '?',
    temperatures: t && t.S1 !== null ? `${t.S1} / ${t.S2} / ${t.S3} °C` : '?',
    fault: s.faults ? Object.keys(s.faults).filter(k => s.faults[k]).join(', ') || 'none' : '?',
  };
  for (const [field, value] of Object.entries(values)) row.querySelector(`[data-field="${field}"]`).textContent = value;
}
function connect() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const socket = new WebSocket(`${scheme}//${location.host}/ws`);
  socket.onmessage = event => {
    const m = JSON.parse(event.data);
    if (m.state) show(m.state);
  };
  socket.onclose = () => setTimeout(connect, 2000);
}
connect();
