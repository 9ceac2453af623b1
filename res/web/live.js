// The live part of the printer server's page: every half second it asks for the jobs written since
// the newest one shown and puts each at the top, and reads the printer's state into the boxes.
// Where the server lets the page change the state (serve --http-control), a click on a box sends
// the change. Every text of a job is set as text, never as markup.
(function () {
  "use strict";
  var kIntervalMs = 500;
  var kPage = 50;
  var body = document.body;
  var list = document.getElementById("jobs");
  if (!list) return;
  var empty = document.getElementById("empty");
  var newest = Number(body.getAttribute("data-newest")) || 0;
  var live = body.getAttribute("data-live") !== "0";  // an older page of jobs takes no new ones
  var paper = body.getAttribute("data-paper") || "paper p80";
  var boxes = Array.prototype.slice.call(document.querySelectorAll("#states input[data-state]"));
  var busy = false;
  var changing = 0;

  function make(tag, className, text) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function six(n) {
    var s = String(n);
    while (s.length < 6) s = "0" + s;
    return s;
  }

  function card(job) {
    var article = make("article", "job");
    article.id = "job-" + job.number;
    var title = make("h2");
    var link = make("a", null, "Job " + six(job.number));
    link.href = "/jobs/" + job.number;
    title.appendChild(link);
    article.appendChild(title);
    var facts = make("p", "facts");
    var ended = job.ended + (job.reason ? " (" + job.reason + ")" : "");
    facts.appendChild(make("span", "source", job.source));
    facts.appendChild(document.createTextNode(" "));
    facts.appendChild(make("time", null, job.end));
    facts.appendChild(document.createTextNode(" "));
    facts.appendChild(make("span", "bytes", job.bytes + (job.bytes === 1 ? " byte" : " bytes")));
    facts.appendChild(document.createTextNode(" "));
    facts.appendChild(make("span", "ended", ended));
    article.appendChild(facts);
    if (job.folder === null) {
      article.appendChild(make("p", "note", "Not saved: no pictures."));
    } else {
      for (var k = 1; k <= job.receipts; k++) {
        var sheet = make("div", paper);
        var img = make("img");
        img.src = "/api/jobs/" + job.number + "/receipts/" + k + ".png";
        img.alt = "receipt " + k + " of job " + job.number;
        sheet.appendChild(img);
        article.appendChild(sheet);
      }
    }
    return article;
  }

  function json(response) {
    if (!response.ok) throw new Error(response.status);
    return response.json();
  }

  function showStatus(status) {
    boxes.forEach(function (box) {
      var on = status[box.getAttribute("data-state")] === true;
      box.checked = box.hasAttribute("data-inverted") ? !on : on;
    });
  }

  function addJobs(page) {
    if (!live) return false;
    page.jobs.forEach(function (job) {
      if (job.number <= newest) return;
      list.insertBefore(card(job), list.firstChild);
      newest = job.number;
    });
    if (page.jobs.length > 0 && empty) empty.hidden = true;
    return page.jobs.length === kPage;
  }

  function tick() {
    if (busy) return;
    busy = true;
    fetch("/api/jobs?after=" + newest + "&limit=" + kPage, { cache: "no-store" })
      .then(json)
      .then(function (page) {
        if (addJobs(page)) setTimeout(tick, 0);
      })
      .then(function () {
        if (changing > 0) return null;
        return fetch("/api/status", { cache: "no-store" }).then(json).then(function (status) {
          if (changing === 0) showStatus(status);
        });
      })
      .catch(function () {})
      .then(function () {
        busy = false;
      });
  }

  boxes.forEach(function (box) {
    box.addEventListener("change", function () {
      var change = {};
      var checked = box.checked;
      change[box.getAttribute("data-state")] = box.hasAttribute("data-inverted") ? !checked : checked;
      changing++;
      fetch("/api/status", {
        method: "PUT",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify(change)
      })
        .then(json)
        .then(showStatus)
        .catch(function () {})
        .then(function () {
          changing--;
        });
    });
  });

  setInterval(tick, kIntervalMs);
})();
