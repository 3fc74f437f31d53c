// The panel's page: polls the live readings, sends what the user sets, draws the
// acquisitions. Every request carries the access token of the page's own URL.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const POLL_MS = 150;  // more than five readings a second, with room for slow answers
const MODES = ['input', 'output', 'input, pull-up'];
const COLORS = ['#1f77b4', '#d62728', '#2ca02c', '#9467bd'];
const SVG = 'http://www.w3.org/2000/svg';
const $ = (id) => document.getElementById(id);

// Replaced by the server's own limits once /api/info answers.
let limits = {output_min: 0, output_max: 5, max_acquire_count: 2000, max_scan_count: 4000,
              max_sample_delay: 3000};
let levels = new Array(12).fill(null);
let modes = new Array(12).fill(null);

// One request to the server; resolves with the JSON body, or throws an Error whose
// message says in words what went wrong.
async function api(path, body) {
  const init = {headers: {'X-Panel-Token': token}};
  if (body !== undefined) {
    init.method = 'POST';
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch (e) {
    throw new Error('the panel\'s server does not answer (stopped?)');
  }
  let data = {};
  try {
    data = await response.json();
  } catch (e) {
    data = {};
  }
  if (!response.ok) {
    const error = new Error(data.error || ('the server answered ' + response.status));
    error.data = data;
    throw error;
  }
  return data;
}

function showMessage(text) {
  const m = $('message');
  m.textContent = text;
  m.hidden = !text;
}

// Runs a user's action: its failure is shown until the next action succeeds.
async function act(path, body) {
  try {
    const data = await api(path, body);
    showMessage('');
    applyRecords(data);
    return data;
  } catch (e) {
    showMessage(e.message);
    if (e.data) applyRecords(e.data);
    return null;
  }
}

// ---- Digital lines ----

function buildLines() {
  const body = document.querySelector('#lines tbody');
  for (let line = 0; line < 12; ++line) {
    const row = document.createElement('tr');
    const name = document.createElement('th');
    name.textContent = String(line);
    const bit = document.createElement('td');
    bit.className = 'note';
    bit.textContent = line < 8 ? '0.' + line : '1.' + (line - 8);
    const modeCell = document.createElement('td');
    const select = document.createElement('select');
    select.id = 'mode' + line;
    const unknown = new Option('not set', '');
    unknown.disabled = true;
    select.add(unknown);
    MODES.forEach((label, value) => select.add(new Option(label, String(value))));
    select.value = '';
    select.addEventListener('change', () => {
      act('/api/line-mode', {line, mode: Number(select.value)});
    });
    modeCell.appendChild(select);
    const levelCell = document.createElement('td');
    const button = document.createElement('button');
    button.id = 'level' + line;
    button.className = 'level';
    button.type = 'button';
    button.textContent = '—';
    button.addEventListener('click', () => {
      if (levels[line] === null) return;
      act('/api/line', {line, level: levels[line] ? 0 : 1});
    });
    levelCell.appendChild(button);
    row.append(name, bit, modeCell, levelCell);
    body.appendChild(row);
  }
}

function showLines() {
  for (let line = 0; line < 12; ++line) {
    const button = $('level' + line);
    const level = levels[line];
    button.textContent = level === null ? '—' : String(level);
    button.classList.toggle('high', level === 1);
    button.classList.toggle('low', level === 0);
    // An input's level is the pin's: only an output (or a line of unknown mode) is driven.
    button.disabled = level === null || (modes[line] !== null && modes[line] !== 1);
    button.title = button.disabled ? 'set the line to output to drive it' : 'toggle';
    const select = $('mode' + line);
    if (document.activeElement !== select) {
      select.value = modes[line] === null ? '' : String(modes[line]);
    }
  }
}

// What the panel set in this session, sent back with every answer.
function applyRecords(data) {
  if (Array.isArray(data.modes)) {
    modes = data.modes;
    showLines();
  }
  if (Array.isArray(data.outputs)) {
    data.outputs.forEach((volts, output) => {
      $('ao' + output + '-state').textContent =
          volts === null ? 'not set yet' : 'set to ' + volts.toFixed(3) + ' V';
    });
  }
}

// ---- Live readings ----

// Readings shown since the page loaded (tests measure the rate with it).
let readings = 0;

function showLive(data) {
  document.body.dataset.readings = String(++readings);
  data.inputs.forEach((volts, i) => {
    const cell = $('ai' + (i + 1));
    cell.textContent = volts.toFixed(3) + ' V';
    cell.classList.remove('stale');
  });
  levels = data.levels.slice();
  applyRecords(data);
  showLines();
  const state = $('connection');
  state.className = 'state live';
  state.textContent = 'Live: ' + new Date().toLocaleTimeString();
}

// A failed reading blanks every live value, so nothing stale passes for current.
function showNoLive(message) {
  for (let i = 1; i <= 4; ++i) {
    const cell = $('ai' + i);
    cell.textContent = '—';
    cell.classList.add('stale');
  }
  levels.fill(null);
  showLines();
  const state = $('connection');
  state.className = 'state failed';
  state.textContent = 'No live readings: ' + message;
}

async function poll() {
  const started = performance.now();
  try {
    showLive(await api('/api/live'));
  } catch (e) {
    showNoLive(e.message);
    if (e.data) applyRecords(e.data);
  }
  setTimeout(poll, Math.max(0, POLL_MS - (performance.now() - started)));
}

// ---- Analog outputs ----

function setUpOutput(output) {
  const form = $('ao' + output);
  const slider = $('ao' + output + '-slider');
  const number = $('ao' + output + '-number');
  slider.addEventListener('input', () => { number.value = slider.value; });
  slider.addEventListener('change', () => form.requestSubmit());
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    const volts = Number(number.value);
    if (number.value.trim() === '' || !Number.isFinite(volts) ||
        volts < limits.output_min || volts > limits.output_max) {
      showMessage('Output ' + output + ': enter a voltage from ' + limits.output_min +
                  ' to ' + limits.output_max + ' V');
      return;
    }
    slider.value = String(volts);
    act('/api/analog-out', {output, volts});
  });
}

// ---- Plots ----

function svgElement(name, attributes, text) {
  const element = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (text !== undefined) element.textContent = text;
  return element;
}

// Ticks at 1, 2 or 5 times a power of ten, about `count` of them over [0, top].
function ticks(top, count) {
  if (!(top > 0)) return [0];
  const raw = top / count;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw);
  const result = [];
  for (let t = 0; t <= top * (1 + 1e-9); t += step) result.push(t);
  return result;
}

function formatSeconds(t) {
  const round = (x) => String(Number(x.toPrecision(3)));
  if (t === 0) return '0';
  if (t < 1e-3) return round(t * 1e6) + ' µs';
  if (t < 1) return round(t * 1e3) + ' ms';
  return round(t) + ' s';
}

const FRAME = {left: 56, right: 770, top: 12, bottom: 262};

// Axes with a grid over [0, tEnd] seconds; yTicks are [pixel row, label] pairs, grid
// lines are drawn at the rows of yGrid. Returns the function that maps seconds to a
// pixel column.
function drawFrame(svg, tEnd, yTicks, yGrid) {
  svg.replaceChildren();
  const width = FRAME.right - FRAME.left;
  const x = (t) => FRAME.left + (tEnd > 0 ? (t / tEnd) * width : 0);
  for (const y of yGrid) {
    svg.appendChild(svgElement('line', {class: 'grid', x1: FRAME.left, x2: FRAME.right,
                                        y1: y, y2: y}));
  }
  for (const [y, label] of yTicks) {
    svg.appendChild(svgElement('text', {x: FRAME.left - 6, y: y + 4, 'text-anchor': 'end'},
                               label));
  }
  for (const t of ticks(tEnd, 8)) {
    svg.appendChild(svgElement('line', {class: 'grid', x1: x(t), x2: x(t), y1: FRAME.top,
                                        y2: FRAME.bottom}));
    svg.appendChild(svgElement('text', {x: x(t), y: FRAME.bottom + 16,
                                        'text-anchor': 'middle'}, formatSeconds(t)));
  }
  svg.appendChild(svgElement('path', {class: 'axis', fill: 'none',
    d: `M${FRAME.left},${FRAME.top} V${FRAME.bottom} H${FRAME.right}`}));
  svg.appendChild(svgElement('text', {x: FRAME.right, y: FRAME.bottom + 32,
                                      'text-anchor': 'end'}, 'time'));
  return x;
}

function drawAcquisition(data) {
  const svg = $('acquire-plot');
  const n = data.volts.length ? data.volts[0].length : 0;
  const tEnd = data.interval_s * Math.max(n - 1, 0);
  const vTop = Math.max(5, ...data.volts.flat());
  const y = (v) => FRAME.bottom - (v / vTop) * (FRAME.bottom - FRAME.top);
  const vTicks = ticks(vTop, 5);
  const x = drawFrame(svg, tEnd, vTicks.map((v) => [y(v), v + ' V']), vTicks.map(y));
  data.volts.forEach((trace, k) => {
    const input = data.inputs[k];
    const color = COLORS[(input - 1) % COLORS.length];
    const d = trace.map((v, i) => (i ? 'L' : 'M') + x(i * data.interval_s).toFixed(1) +
                                  ',' + y(v).toFixed(1)).join(' ');
    svg.appendChild(svgElement('path', {class: 'trace', 'data-input': input, stroke: color,
                                        d: n === 1 ? d + ' h4' : d}));
    svg.appendChild(svgElement('text', {x: FRAME.left + 10 + 80 * k, y: FRAME.bottom + 32,
                                        fill: color}, 'input ' + input));
  });
}

function drawScan(data) {
  const svg = $('scan-plot');
  const n = data.port.length;
  const tEnd = data.period_s * Math.max(n - 1, 0);
  const lane = (FRAME.bottom - FRAME.top) / 8;
  // Line 0 at the top; each lane draws high at 20 % and low at 80 % of its height.
  const y = (line, level) => FRAME.top + lane * (line + (level ? 0.2 : 0.8));
  const labels = [], borders = [];
  for (let line = 0; line < 8; ++line) {
    labels.push([FRAME.top + lane * (line + 0.5), 'line ' + line]);
    borders.push(FRAME.top + lane * line);
  }
  const x = drawFrame(svg, tEnd, labels, borders);
  for (let line = 0; line < 8; ++line) {
    let d = '';
    let previous = null;
    data.port.forEach((byte, i) => {
      const level = (byte >> line) & 1;
      const px = x(i * data.period_s).toFixed(1);
      if (previous === null) d = `M${px},${y(line, level)}`;
      else if (level !== previous) d += ` H${px} V${y(line, level)}`;
      previous = level;
    });
    d += ` H${x(tEnd) + (n === 1 ? 4 : 0)}`;
    svg.appendChild(svgElement('path', {class: 'lane', 'data-line': line,
                                        stroke: COLORS[0], d}));
  }
}

// The whole number in a form field, or an Error saying what is wrong with it.
function numberField(id, name, max) {
  const text = $(id).value.trim();
  const value = Number(text);
  if (text === '' || !Number.isInteger(value) || value < 0 || value > max) {
    throw new Error(name + ' must be a whole number from 0 to ' + max);
  }
  return value;
}

function setUpForms() {
  $('acquire-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    let body;
    try {
      body = {inputs: [1, 2, 3, 4].map((i) => $('acq-in' + i).checked),
              sample_count: numberField('acq-count', 'intervals', limits.max_acquire_count),
              sample_delay: numberField('acq-delay', 'extra delay', limits.max_sample_delay)};
      if (!body.inputs.some((on) => on)) throw new Error('choose at least one input');
    } catch (e) {
      showMessage('Acquisition: ' + e.message);
      return;
    }
    $('acquire-info').textContent = 'acquiring…';
    const data = await act('/api/acquire', body);
    if (!data) {
      $('acquire-info').textContent = 'failed';
      return;
    }
    drawAcquisition(data);
    $('acquire-info').textContent = data.volts[0].length + ' samples per input, ' +
        formatSeconds(data.duration_s) + ' in all';
  });
  $('scan-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    let body;
    try {
      body = {sample_count: numberField('scan-count', 'intervals', limits.max_scan_count),
              sample_delay: numberField('scan-delay', 'extra delay', limits.max_sample_delay)};
    } catch (e) {
      showMessage('Logic scan: ' + e.message);
      return;
    }
    $('scan-info').textContent = 'scanning…';
    const data = await act('/api/scan', body);
    if (!data) {
      $('scan-info').textContent = 'failed';
      return;
    }
    drawScan(data);
    $('scan-info').textContent = data.port.length + ' samples, ' +
        formatSeconds(data.period_s) + ' apart; port 1 at the end: ' + data.last_byte;
  });
}

async function start() {
  buildLines();
  setUpOutput(0);
  setUpOutput(1);
  setUpForms();
  poll();
  try {
    const info = await api('/api/info');
    limits = info.limits;
    $('controller').textContent = info.controller;
    $('library').textContent = info.library;
    $('firmware').textContent = info.firmware ? info.firmware.join(' ') :
                                                'unknown (' + info.firmware_error + ')';
  } catch (e) {
    $('controller').textContent = 'unknown';
    showMessage(e.message);
  }
}

start();
