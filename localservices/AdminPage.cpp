#include "localservices/AdminPage.h"

std::string AdminPage::html()
{
    return R"HTML(<!DOCTYPE html>
<html lang="zh">
<head>
<meta charset="utf-8">
<title>Tavio local services</title>
<style>
body { font-family: sans-serif; margin: 2em; }
fieldset { margin-bottom: 1em; }
label { margin-right: 1em; }
pre { background: #f4f4f4; padding: 1em; }
</style>
</head>
<body>
<h1>Tavio local services: phone side</h1>
<fieldset><legend>User</legend>
<label>userId <input id="userId" value="10001"></label>
</fieldset>
<fieldset><legend>Room and microphone</legend>
<label>roomId <input id="roomId" value="8001"></label>
<button onclick="call('room', {roomId: val('roomId')})">enter room</button>
<button onclick="call('room', {roomId: ''})">leave room</button>
<button onclick="call('mic', {on: '1'})">on microphone</button>
<button onclick="call('mic', {on: '0'})">off microphone</button>
<button onclick="call('ban', {banned: '1'})">ban microphone</button>
<button onclick="call('ban', {banned: '0'})">lift ban</button>
</fieldset>
<fieldset><legend>End the session</legend>
<label>msg <input id="endMsg" value=""></label>
<button onclick="call('end', {code: '3190', msg: val('endMsg')})">end (3190)</button>
<button onclick="call('end', {code: '3191', msg: val('endMsg')})">end (3191)</button>
</fieldset>
<fieldset><legend>Service behaviour</legend>
<label>delay ms <input id="delayMs" value="3000" size="6"></label>
<button onclick="call('fault', {mode: 'slow', delayMs: val('delayMs')})">slow</button>
<button onclick="call('fault', {mode: 'error500'})">HTTP 500</button>
<button onclick="call('fault', {mode: 'garbage'})">garbage</button>
<button onclick="call('fault', {mode: 'none'})">normal</button>
<button onclick="call('reset', {})">reset all</button>
</fieldset>
<h2>Answer</h2><pre id="answer"></pre>
<h2>State</h2><pre id="state"></pre>
<script>
function val(id) { return document.getElementById(id).value; }
async function call(action, params) {
  params.userId = val('userId');
  const r = await fetch('/admin/' + action, {method: 'POST',
    headers: {'Content-Type': 'application/json'}, body: JSON.stringify(params)});
  document.getElementById('answer').textContent = await r.text();
  refresh();
}
async function refresh() {
  const r = await fetch('/admin/state');
  document.getElementById('state').textContent = JSON.stringify(await r.json(), null, 2);
}
refresh();
setInterval(refresh, 2000);
</script>
</body>
</html>
)HTML";
}
