// Zephyrdesk: what every page shares: texts in the chosen language and
// the small JSON calls to the receiver's web server.
"use strict";

var Zephyrdesk = {
  texts: {},

  get: function (path, done) {
    var request = new XMLHttpRequest();
    request.open("GET", path);
    request.onload = function () {
      if (request.status === 200) done(JSON.parse(request.responseText));
    };
    request.send();
  },

  // Replaces the text of every element with a data-text key by the
  // translation, when the language file has one.
  translate: function () {
    var elements = document.querySelectorAll("[data-text]");
    for (var i = 0; i < elements.length; i++) {
      var text = Zephyrdesk.texts[elements[i].getAttribute("data-text")];
      if (text) elements[i].textContent = text;
    }
  },

  time: function (seconds) {
    var d = new Date(seconds * 1000);
    function two(n) { return (n < 10 ? "0" : "") + n; }
    return two(d.getDate()) + "." + two(d.getMonth() + 1) + ". " + two(d.getHours()) + ":" + two(d.getMinutes());
  }
};

document.addEventListener("DOMContentLoaded", function () {
  var language = (document.cookie.match(/language=(\w+)/) || [])[1] || "eng";
  Zephyrdesk.get("lang/texts-" + language + ".json", function (texts) {
    Zephyrdesk.texts = texts;
    Zephyrdesk.translate();
  });
  var now = document.getElementById("now-playing");
  if (now) Zephyrdesk.get("/api/now", function (p) { now.textContent = p.channel + ": " + p.title; });
  var meter = document.getElementById("disk-meter");
  if (meter) Zephyrdesk.get("/api/disk", function (d) {
    meter.value = Math.round(100 * (d.total - d.free) / d.total);
    document.getElementById("disk-free").textContent = Math.round(d.free / 1e9) + " GB";
  });
});
