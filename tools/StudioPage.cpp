// The studio page. Every figure comes from the server; the script only
// renders the state, sends edits and polls simulations.
#include "StudioPage.h"

namespace tools {

const char* StudioPageHtml() {
    return R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>rulehost studio</title>
<style>
body{font-family:sans-serif;margin:1em 2em;color:#222}
h2{margin-top:1.5em;border-bottom:1px solid #ccc}
table{border-collapse:collapse;margin:.5em 0}
td,th{border:1px solid #ddd;padding:2px 6px;text-align:left;vertical-align:top}
th{background:#f3f3f3}
input{width:7em;font:inherit}
input.desc{width:12em}
.chance{font-family:monospace;font-size:110%;text-align:right}
tr.finding td{font-size:90%;border-top:none}
.error{color:#b00}.warning{color:#a60}.note{color:#557}
.grid td{width:6em;height:3em;text-align:center;font-size:85%}
.grid td.fixed{background:#dde8ff}
#status{position:sticky;top:0;background:#ffd;padding:4px;min-height:1.2em}
.box{display:inline-block;vertical-align:top;margin-right:2em}
</style></head><body>
<h1>rulehost studio</h1>
<div id="status"></div>
<div id="main">loading&hellip;</div>
<script>
'use strict';
const token = new URLSearchParams(location.search).get('token');
let state = null;
let teamSize = 1;
async function api(method, path, body) {
  const r = await fetch(path, {method, headers: {'X-Studio-Token': token, 'Content-Type': 'application/json'},
                               body: body === undefined ? undefined : JSON.stringify(body)});
  const j = await r.json();
  j._status = r.status;
  return j;
}
function esc(s) { return String(s).replace(/[&<>"']/g, c => ({'&':'&amp;','<':'&lt;','>':'&gt;','"':'&quot;',"'":'&#39;'}[c])); }
function pct(x) { return (x * 100).toFixed(3) + '%'; }
function status(text) { document.getElementById('status').textContent = text; }
function input(id, file, line, field, value, cls) {
  return `<input id="${id}" class="${cls || ''}" data-file="${esc(file)}" data-line="${line}" data-field="${field}" value="${esc(value)}">`;
}
function findingsAt(file, line) {
  return state.findings.filter(f => f.file === file && f.line === line);
}
function findingRows(file, line, cols) {
  return findingsAt(file, line).map(f =>
    `<tr class="finding"><td colspan="${cols}" class="${f.severity}">${esc(f.file)}:${f.line}: ${f.severity}${f.rule ? ' [' + esc(f.rule) + ']' : ''}: ${esc(f.message)}</td></tr>`).join('');
}
const MF = 'Npc/ModelProb.ini', NF = 'Npc/CreatorProb.ini';
function renderCreators() {
  let h = '<h2>Creators (Npc/ModelProb.ini)</h2>';
  for (const c of state.creators) {
    h += `<h3 id="creator-${c.creator}">creator ${c.creator} <small>[${esc(c.section)}] line ${c.line}; weights sum to ${c.sum}; a model draw finds nothing: <span class="chance" id="miss-c${c.creator}">${pct(c.missChance)}</span></small></h3>`;
    h += '<table><tr><th>line</th><th>model</th><th>weight</th><th>description</th><th>model index</th><th>exact chance</th><th>gets NPCs</th></tr>';
    h += findingRows(MF, c.line, 7);
    c.models.forEach((m, i) => {
      h += `<tr><td>${m.line}</td><td>${input(`m-c${c.creator}-${i}`, MF, m.line, 0, m.model)}</td><td>${input(`w-c${c.creator}-${i}`, MF, m.line, 1, m.weight)}</td>`
         + `<td>${input(`d-c${c.creator}-${i}`, MF, m.line, 2, m.description, 'desc')}</td><td>${input(`x-c${c.creator}-${i}`, MF, m.line, 3, m.index)} <a href="#index-${m.index}">&rarr;</a></td>`
         + `<td class="chance" id="chance-c${c.creator}-${i}">${pct(m.chance)}</td><td>${m.getsNpcs ? 'yes' : 'no'}</td></tr>`;
      h += findingRows(MF, m.line, 7);
    });
    h += '</table>';
  }
  return h;
}
function renderGrid(ix) {
  const chances = ix.slotChances[teamSize - 1] || [];
  let h = '<table class="grid">';
  for (let g = 0; g < 3; ++g) {
    h += '<tr>';
    for (let col = 0; col < 3; ++col) {
      const s = g * 3 + col, fixed = ix.fixedAt[s];
      h += `<td class="${fixed.length ? 'fixed' : ''}">slot ${s}<br>${fixed.length ? 'NPC ' + fixed.join(', ') : ''}<br><span id="slot-i${ix.index}-${s}">${pct(chances[s] || 0)}</span></td>`;
    }
    h += '</tr>';
  }
  return h + '</table>';
}
function renderIndexes() {
  let h = `<h2>NPC tables (Npc/CreatorProb.ini)</h2><p>Formation grids for the encounter of a team of <select id="team">${[1,2,3,4,5].map(t => `<option ${t === teamSize ? 'selected' : ''}>${t}</option>`).join('')}</select> (exact chance that each slot is taken; fixed NPCs shaded).</p>`;
  for (const ix of state.indexes) {
    h += `<h3 id="index-${ix.index}">model index ${ix.index} <small>line ${ix.line}; drawn weights sum to ${ix.sum}; a draw finds nothing: <span class="chance" id="miss-i${ix.index}">${pct(ix.missChance)}</span></small></h3><div class="box">`;
    h += '<table><tr><th>line</th><th>NPC config</th><th>weight / fixed slot</th><th>slot type</th><th>exact chance per draw</th></tr>';
    h += findingRows(NF, ix.line, 5);
    ix.npcs.forEach((n, k) => {
      const odds = n.fixed ? (n.fixedSlot >= 0 ? `always, slot ${n.fixedSlot}` : 'never (slot outside 0 to 8)') : pct(n.chance);
      h += `<tr><td>${n.line}</td><td>${input(`n-i${ix.index}-${k}`, NF, n.line, 0, n.npcConfig)}</td><td>${input(`w-i${ix.index}-${k}`, NF, n.line, 1, n.weight)}</td>`
         + `<td>${input(`t-i${ix.index}-${k}`, NF, n.line, 2, n.slotType)}</td><td class="chance" id="chance-i${ix.index}-${k}">${odds}</td></tr>`;
      h += findingRows(NF, n.line, 5);
    });
    h += '</table></div><div class="box">' + renderGrid(ix) + '</div>';
  }
  return h;
}
function renderSettings() {
  const b = state.areaBoss;
  let h = '<h2>Settings that apply</h2><table>';
  h += `<tr><th>area boss activity check</th><td>${b.found && b.line ? input('checkfreq', b.file, b.line, 0, b.checkFrequency) : b.checkFrequency} seconds (${esc(b.file)}${b.line ? ':' + b.line : ', not set'})</td></tr>`;
  h += `<tr><th>farm</th><td>a full team of ${state.farmTeamSize}: the leader's encounter holds ${esc(state.encounterSizes[state.farmTeamSize - 1] || 'no answer')} NPCs</td></tr>`;
  h += '<tr><th>encounter size (Rule/npc_creator.lua)</th><td>' + state.encounterSizes.map((s, i) => `team of ${i + 1}: <b id="size-${i + 1}">${esc(s)}</b>`).join('; ') + '</td></tr>';
  return h + '</table>';
}
function renderFindings() {
  let h = `<h2>check findings (${state.findings.length})</h2><ul>`;
  for (const f of state.findings) h += `<li class="${f.severity}">${esc(f.file)}${f.line ? ':' + f.line : ''}: ${f.severity}${f.rule ? ' [' + esc(f.rule) + ']' : ''}: ${esc(f.message)}</li>`;
  return h + '</ul>';
}
function renderDiff() {
  if (!state.baseline) return '';
  let h = `<h2>Against the baseline ${esc(state.baseline)} (${state.diff.length} changes)</h2><table id="diff"><tr><th>where</th><th>kind</th><th>what</th><th>before</th><th>after</th><th>change</th></tr>`;
  for (const e of state.diff) h += `<tr><td>${esc(e.file)}${e.line ? ':' + e.line : ''}</td><td>${esc(e.kind)}</td><td>${esc(e.subject)}</td><td>${esc(e.before)}</td><td>${esc(e.after)}</td><td>${esc(e.change || '')}</td></tr>`;
  return h + '</table>';
}
function renderSimulate() {
  return `<h2>Simulate through the real plug-in</h2><p>creator <select id="sim-creator">${state.creators.map(c => `<option>${c.creator}</option>`).join('')}</select>
    selects <input id="sim-selects" value="100000"> team of <input id="sim-team" value="1"> <button id="sim-start">simulate</button>
    <progress id="sim-progress" max="1" value="0"></progress></p><div id="sim-result"></div>`;
}
function renderHeader() {
  let h = `<p>folder <b>${esc(state.dir)}</b>; recomputed in <span id="timing">${state.recomputeMs.toFixed(1)}</span> ms.</p>`;
  if (state.edited.length) {
    h += '<p>unsaved: ' + state.edited.map(f => `${esc(f)} <button data-save="${esc(f)}">save</button> <button data-discard="${esc(f)}">discard</button>`).join(' ') + '</p>';
  } else {
    h += '<p id="clean">no unsaved changes</p>';
  }
  return h;
}
let simHtml = '';
function render() {
  document.getElementById('main').innerHTML = renderHeader() + renderSettings() + renderCreators() + renderIndexes() + renderFindings() + renderDiff() + renderSimulate();
  document.getElementById('sim-result').innerHTML = simHtml;
  for (const el of document.querySelectorAll('input[data-file]')) el.addEventListener('change', onEdit);
  for (const el of document.querySelectorAll('button[data-save]')) el.addEventListener('click', () => save(el.dataset.save, false));
  for (const el of document.querySelectorAll('button[data-discard]')) el.addEventListener('click', async () => show(await api('POST', '/api/discard', {file: el.dataset.discard})));
  document.getElementById('team').addEventListener('change', e => { teamSize = +e.target.value; render(); });
  document.getElementById('sim-start').addEventListener('click', simulate);
}
function show(j) {
  if (j.error) { status(j.error); return false; }
  state = j;
  render();
  return true;
}
async function onEdit(e) {
  const el = e.target;
  const j = await api('POST', '/api/edit', {file: el.dataset.file, line: +el.dataset.line, field: +el.dataset.field, value: el.value});
  if (show(j)) status(`recomputed every chance in ${j.editMs.toFixed(1)} ms`);
}
async function save(file, confirmed) {
  const j = await api('POST', '/api/save', {file, confirm: confirmed});
  if (j.needsConfirm) {
    if (confirm('check rates this data as an error:\n' + j.errors.join('\n') + '\n\nSave anyway?')) return save(file, true);
    status('not saved: ' + j.errors.join('; '));
    return;
  }
  if (show(j)) status(`saved ${j.saved} in ${j.saveMs.toFixed(1)} ms`);
}
function simTable(r) {
  let h = `<p>creator ${r.creator}: ${r.selects} selects, team of ${r.teamSize}, ${r.seconds.toFixed(2)} s; nothing sent ${pct(r.nothingSent.share)}</p>`;
  h += '<table id="sim-models"><tr><th>model</th><th>exact chance</th><th>expected share</th><th>observed</th></tr>';
  for (const m of r.models) h += `<tr><td>${m.model} ${esc(m.description)}</td><td class="chance">${pct(m.drawChance)}</td><td class="chance">${pct(m.expectedShare)}</td><td class="chance">${pct(m.share)}</td></tr>`;
  h += '</table><table><tr><th>NPC config</th><th>in selects</th><th>per select</th></tr>';
  for (const n of r.npcConfigs) h += `<tr><td>${n.npcConfig}${n.fixed ? '*' : ''}</td><td class="chance">${pct(n.shareOfSelects)}</td><td class="chance">${n.perSelect.toFixed(3)}</td></tr>`;
  return h + '</table>';
}
async function simulate() {
  const body = {creator: +document.getElementById('sim-creator').value, selects: +document.getElementById('sim-selects').value,
                teamSize: +document.getElementById('sim-team').value};
  const j = await api('POST', '/api/simulate', body);
  if (j.error) { status(j.error); return; }
  const poll = async () => {
    const s = await api('GET', '/api/simulation');
    const bar = document.getElementById('sim-progress');
    if (bar) bar.value = s.total ? s.done / s.total : 0;
    if (s.running) { setTimeout(poll, 250); return; }
    simHtml = s.result.error ? esc(s.result.error) : simTable(s.result);
    document.getElementById('sim-result').innerHTML = simHtml;
    status('simulation done');
  };
  poll();
}
(async () => { const j = await api('GET', '/api/state'); if (show(j)) status('ready'); })();
</script></body></html>
)HTML";
}

}  // namespace tools
