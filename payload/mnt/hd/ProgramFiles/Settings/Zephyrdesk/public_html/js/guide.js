// Zephyrdesk programme guide: search results as table rows, each with a
// button that sets a timer for the programme.
"use strict";

document.getElementById("search").addEventListener("submit", function (event) {
  event.preventDefault();
  var form = event.target;
  var query = "/api/epg?word=" + encodeURIComponent(form.word.value) + "&days=" + form.days.value;
  Zephyrdesk.get(query, function (programmes) {
    var body = document.querySelector("#guide tbody");
    body.textContent = "";
    programmes.forEach(function (p) {
      var row = body.insertRow();
      row.insertCell().textContent = Zephyrdesk.time(p.start);
      row.cells[0].className = "time";
      row.insertCell().textContent = p.channel;
      row.insertCell().textContent = p.title;
      var button = document.createElement("button");
      button.textContent = Zephyrdesk.texts.record || "Record";
      button.onclick = function () { Zephyrdesk.get("/api/timer/add?event=" + p.id, function () {}); };
      row.insertCell().appendChild(button);
    });
  });
});
