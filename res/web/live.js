// The live part of the printer server's page: every half second it asks for the jobs written since
// the newest one shown and puts each at the top (a status check into the run of status checks at
// the top, or a new run), and reads the printer's state into the boxes. Times, written by the
// server in UTC, are shown in the browser's time (the UTC time stays their title). Where the
// server lets the page change the state (serve --http-control), a click on a box sends the
// change. Every text of a job is set as text, never as markup.
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

  function two(n) {
    return n < 10 ? "0" + n : String(n);
  }

  // "2026-03-07 10:01:02" in the browser's time; the time of day alone where dateless is set.
  function localText(iso, dateless) {
    var d = new Date(iso);
    if (isNaN(d.getTime())) return iso;
    var day = d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate());
    var clock = two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
    return dateless ? clock : day + " " + clock;
  }

  // A <time> of an instant: its UTC text as the title, its text in the browser's time.
  function time(iso) {
    var t = make("time");
    t.setAttribute("datetime", iso);
    t.title = iso.replace("T", " ").replace(/Z$/, "") + " UTC";
    t.textContent = iso;
    return t;
  }

  // Shows the times below root in the browser's time; the second time of a run of status checks
  // without its date when it is on the first one's day.
  function localize(root) {
    Array.prototype.forEach.call(root.querySelectorAll("time[datetime]"), function (t) {
      var iso = t.getAttribute("datetime");
      var first = t.previousElementSibling;
      var sameDay = !!first && first.tagName === "TIME" &&
        localText(first.getAttribute("datetime")).slice(0, 10) === localText(iso).slice(0, 10);
      t.textContent = localText(iso, sameDay);
    });
  }

  // A run of status checks (one line that opens to their links), empty.
  function checksRun() {
    var run = make("details", "checks");
    run.setAttribute("data-count", "0");
    run.appendChild(make("summary"));
    run.appendChild(make("p", "links"));
    return run;
  }

  // Adds a status check (newer than those in it) to a run, and writes its line anew:
  // "3 status checks, FROM-TO".
  function addCheck(run, job) {
    var count = Number(run.getAttribute("data-count")) + 1;
    run.setAttribute("data-count", String(count));
    var summary = run.querySelector("summary");
    var from = summary.querySelector("time") ? summary.querySelector("time").getAttribute("datetime")
                                             : job.end;
    summary.textContent = count + (count === 1 ? " status check, " : " status checks, ");
    summary.appendChild(time(from));
    if (count > 1) {
      summary.appendChild(document.createTextNode("-"));
      summary.appendChild(time(job.end));
    }
    var links = run.querySelector(".links");
    var link = make("a", null, "Job " + six(job.number));
    link.href = "/jobs/" + job.number;
    links.insertBefore(document.createTextNode(" "), links.firstChild);
    links.insertBefore(link, links.firstChild);
    localize(summary);
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
    facts.appendChild(time(job.end));
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
        var full = make("a");
        full.href = "/api/jobs/" + job.number + "/receipts/" + k + ".png";
        full.title = "The receipt at full size";
        var img = make("img");
        img.src = full.href;
        img.alt = "receipt " + k + " of job " + job.number;
        full.appendChild(img);
        sheet.appendChild(full);
        article.appendChild(sheet);
      }
    }
    localize(article);
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
      if (job.status_check === true) {
        var top = list.firstElementChild;
        if (!top || !top.classList.contains("checks")) {
          top = checksRun();
          list.insertBefore(top, list.firstChild);
        }
        addCheck(top, job);
      } else {
        list.insertBefore(card(job), list.firstChild);
      }
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

  localize(document);
  setInterval(tick, kIntervalMs);
})();
