// Zephyrdesk timers: the list of timers; timers that need the same tuner
// at the same time are marked.
"use strict";

Zephyrdesk.get("/api/timers", function (timers) {
  var body = document.querySelector("#timers tbody");
  timers.sort(function (a, b) { return a.start - b.start; });
  timers.forEach(function (t, i) {
    var row = body.insertRow();
    var next = timers[i + 1];
    if (next && next.start < t.end && next.tuner === t.tuner) row.className = "conflict";
    row.insertCell().textContent = Zephyrdesk.time(t.start);
    row.insertCell().textContent = Zephyrdesk.time(t.end);
    row.insertCell().textContent = t.channel;
    row.insertCell().textContent = t.title;
    var button = document.createElement("button");
    button.textContent = Zephyrdesk.texts["delete"] || "Delete";
    button.onclick = function () { Zephyrdesk.get("/api/timer/delete?slot=" + t.slot, function () { row.remove(); }); };
    row.insertCell().appendChild(button);
  });
});
