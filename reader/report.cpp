#include "reader/report.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "reader/collation.h"
#include "reader/time_online.h"
#include "reader/zone_time.h"

namespace plumeta::reader {
namespace {

constexpr int kHourSeconds = 3600;
constexpr int64_t kRecentDays = 32;  // a session that ends before the log's last 30 days counts in none

// "2 godz. 5 min", "40 min", "0 min".
std::string Duration(int64_t seconds) {
    const int64_t minutes = (seconds + 30) / 60;
    std::string text = minutes >= 60 ? std::to_string(minutes / 60) + "\xC2\xA0godz." : "";
    if (minutes % 60 || minutes < 60) text += (text.empty() ? "" : " ") + std::to_string(minutes % 60) + "\xC2\xA0min";
    return text;
}

// The hours of the day a contact is most often online, by the shares of
// its heat map: the best hour and its neighbours with at least half its
// share, as "18\u201322"; "" when it never was.
std::string UsualHours(const int (&percent)[kWeekHours]) {
    int byHour[24] = {};
    for (int h = 0; h < kWeekHours; ++h) byHour[h % 24] += percent[h];
    const int best = static_cast<int>(std::max_element(byHour, byHour + 24) - byHour);
    if (byHour[best] == 0) return "";
    int from = best, to = best + 1;
    while (from > 0 && byHour[from - 1] * 2 >= byHour[best]) --from;
    while (to < 24 && byHour[to] * 2 >= byHour[best]) ++to;
    return std::to_string(from) + "\xE2\x80\x93" + std::to_string(to);
}

constexpr int64_t kWeekSeconds = int64_t{kWeekHours} * kHourSeconds;

// Rounded down, for times before 1970 too.
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b < 0); }

// The hour of the week, Monday 00-01 being 0 (1970-01-01 was a Thursday).
int HourOfWeek(int64_t seconds) {
    const int64_t hours = FloorDiv(seconds, kHourSeconds) + 3 * 24;  // Thursday 00-01 is hour 72
    return static_cast<int>(hours - FloorDiv(hours, kWeekHours) * kWeekHours);
}

// Spreads [from, to) over the hours of the week: its whole weeks to every
// hour at once, then the rest hour by hour, so that a span of years costs
// no more than one of days. Within 1 to 9999 a bin holds under 2^32 s.
template <typename Bins>
void AddSpan(Bins& bins, int64_t from, int64_t to) {
    if (from >= to) return;
    const int64_t weeks = (to - from) / kWeekSeconds;
    if (weeks) {
        for (auto& bin : bins) bin += static_cast<uint32_t>(weeks * kHourSeconds);
        from += weeks * kWeekSeconds;
    }
    // The first hour's rest, then whole hours, without dividing again.
    int hour = HourOfWeek(from);
    int64_t next = std::min(to, (FloorDiv(from, kHourSeconds) + 1) * kHourSeconds);
    while (from < to) {
        bins[hour] += static_cast<uint32_t>(next - from);
        hour = hour + 1 == kWeekHours ? 0 : hour + 1;
        from = next;
        next = std::min(to, from + kHourSeconds);
    }
}

// Spreads the real time [from, to) (moments) over the local hours of the
// week: each stretch of one UTC offset shifted by it, so that an hour the
// clock repeats counts twice and one it skips not at all.
template <typename Bins>
void AddRealSpan(Bins& bins, ZoneOffsets& offsets, int64_t from, int64_t to) {
    while (from < to) {
        const int64_t offset = offsets.At(from);
        int64_t end = to;
        if (offsets.At(to - 1) != offset) {
            // The first moment of another offset: a halving search.
            int64_t same = from, other = to - 1;
            while (other - same > 1) {
                const int64_t middle = same + (other - same) / 2;
                (OffsetAt(middle) == offset ? same : other) = middle;
            }
            end = other;
        }
        AddSpan(bins, from + offset, end + offset);
        from = end;
    }
}

// A heat map's cell for an hour of the week, as an SVG path step: the days
// down, the hours across, right of the day names.
std::string Cell(int hourOfWeek) {
    return "M" + std::to_string(3 + hourOfWeek % 24) + " " + std::to_string(1 + hourOfWeek / 24) + "h1v1h-1z";
}

std::string DateText(const LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

// The page's texts are written here in UTF-8 (the sources are converted to
// Windows-1250 on the way, so they go back through the formatter).
constexpr const char* kDayNames[] = {"Pn", "Wt", "Śr", "Cz", "Pt", "So", "Nd"};
constexpr const char* kWeekdays[] = {"pon.", "wt.", "śr.", "czw.", "pt.", "sob.", "niedz."};

// The heat map's shares in five shades, each at least 1.3:1 in contrast
// from the next; a covered hour at 0 % is grey, one the log never covered
// white.
struct Shade {
    int upTo;  // percent
    const char* colour;
};
constexpr Shade kShades[] = {{20, "#b3dcbc"}, {40, "#74bf86"}, {60, "#3f9a57"}, {80, "#1f7436"}, {100, "#0b4a1c"}};
constexpr char kCoveredColour[] = "#eeeeee";

// A number as Polish writes it: groups of three digits from 10 000 on,
// apart by a no-break space.
std::string Grouped(uint64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 5) return digits;
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) grouped += "\xC2\xA0";
        grouped += digits[i];
    }
    return grouped;
}

int Weekday(const LocalTime& t) {  // 0 Monday (1970-01-01 was a Thursday)
    const int64_t days = DaysFromCivil(t.year, t.month, t.day) + 3;
    return static_cast<int>(days - FloorDiv(days, 7) * 7);
}

// Light and dark (the reader's choice of scheme), every text at least 4.5:1
// on its background in both; on paper whole tables, whole days, no box.
constexpr char kStyle[] =
    ":root{color-scheme:light dark;--bg:#fff;--fg:#222;--muted:#555;--line:#ddd;--online:#1a7a33;"
    "--link:#0b57d0;--visited:#7b2fa8;--pre:#f6f6f6}"
    "@media (prefers-color-scheme:dark){:root{--bg:#15171a;--fg:#e8e8e8;--muted:#b4b4b4;--line:#454a50;"
    "--online:#7ddc95;--link:#8ab4f8;--visited:#d7aefb;--pre:#202328}}"
    "body{font-family:'DejaVu Sans',Verdana,sans-serif;font-size:14px;margin:1.5em auto;max-width:1100px;"
    "padding:0 1em;color:var(--fg);background:var(--bg);overflow-wrap:anywhere}"
    "a{color:var(--link)}a:visited{color:var(--visited)}"
    "h1{font-size:1.6em}h2{margin-top:2em;border-bottom:1px solid var(--line)}"
    ".contact{border:1px solid var(--line);border-radius:6px;padding:.6em 1em;margin:1em 0;display:grid;"
    "grid-template-columns:minmax(0,400px) minmax(0,1fr);gap:.4em 1.5em;"
    "content-visibility:auto;contain-intrinsic-size:auto 320px}"
    ".contact h3,.contact .up{grid-column:1/-1;margin:.2em 0}.contact small{color:var(--muted);font-weight:normal}"
    ".up{font-size:.85em}"
    "@media (max-width:700px){.contact{grid-template-columns:minmax(0,1fr)}}"
    ".online{color:var(--online);font-weight:bold}.facts p{margin:.2em 0}"
    "ul{margin:.2em 0;padding-left:1.2em}time,.nowrap{white-space:nowrap}li time,td time{color:var(--muted)}"
    ".wide{overflow-x:auto;max-width:100%}.wide:focus-visible{outline:2px solid var(--link)}"
    // A box that scrolls says so where it does: a phone's width.
    ".cue{display:none;font-size:.85em;color:var(--muted);margin:.2em 0}"
    ".day svg{display:block;width:100%;height:auto}"
    "@media (max-width:700px){.cue{display:block}.day svg{width:760px}}"
    "pre{background:var(--pre);padding:.5em;overflow:auto;white-space:pre-wrap}"
    "table{border-collapse:collapse;overflow-wrap:normal}"
    "td,th{border-bottom:1px solid var(--line);padding:.2em .8em;text-align:left}.index td,.index th{white-space:nowrap}"
    // Links at least 24 px high, as fingers need.
    ".index a,.up a{display:inline-block;min-height:24px;line-height:24px}"
    // At 320 px: the name, when online and the status; network and count go.
    "@media (max-width:480px){.index td,.index th{white-space:normal;padding:.2em .4em}"
    ".index td:nth-child(2),.index th:nth-child(2),.index td:nth-child(5),.index th:nth-child(5){display:none}}"
    "details{margin:.5em 0}summary{cursor:pointer;font-weight:bold;min-height:24px}svg{height:auto}"
    ".heat{display:block;width:100%;max-width:392px;height:auto}.heat text{fill:var(--fg)}"
    ".heat-box{max-width:392px}.heat-key{font-size:.85em}"
    ".key{display:inline-block;margin-right:.8em;white-space:nowrap;font-size:.85em}"
    ".key b{display:inline-block;width:1em;height:1em;vertical-align:-.15em;margin-right:.25em;"
    "border:1px solid #767676}"
    ".key .nd{background:repeating-linear-gradient(45deg,#fff 0 2px,#8c8c8c 2px 3px)}"
    ".story{grid-column:1/-1;margin:.2em 0}.story table{width:100%}.story td{vertical-align:top}"
    ".story button{font-size:1em;min-height:24px;margin-right:.5em}"
    "[hidden]{display:none!important}#find{font-size:1em;padding:.3em;width:20em;max-width:100%}"
    "#found{margin-left:.6em}"
    "tr.online td:first-child a{color:var(--online);font-weight:bold}"
    "@media print{:root{--bg:#fff;--fg:#000;--muted:#333;--line:#999;--link:#000;--visited:#000}"
    "*{-webkit-print-color-adjust:exact;print-color-adjust:exact}"
    "body{max-width:none;margin:0;font-size:10pt}#search,#none,.up,.cue{display:none!important}"
    ".wide{overflow:visible}.index td,.index th{white-space:normal;padding:.1em .3em}"
    ".contact{break-inside:avoid;content-visibility:visible;contain:none}"
    ".day svg{width:100%}details{break-inside:avoid}table{width:100%}tr{break-inside:avoid}}";

// The filter box: shown by the script alone, so that a page without script
// is whole (the index too, which with script lists the first 50 that match
// and a button for the rest). Part of a name, identifier or description,
// case and Polish letters aside ("lodz" finds "Łódź"): NFD leaves "ł" whole,
// so it is folded by hand. Each key press changes only the rows and cards
// whose state changes, a whole card by one attribute, and says how many
// match; the cards below an index that fills the window follow just after
// the paint; the days' timelines keep the rows of the cards shown.
// No "<" in it: the page's only markup is the reader's own.
constexpr char kFilterScript[] =
    "<script>\n"
    "(function () {\n"
    "  var box = document.getElementById('find'), found = document.getElementById('found');\n"
    "  var none = document.getElementById('none');\n"
    "  var rows = document.querySelectorAll('tr[data-find]'), cards = document.querySelectorAll('section[data-find]');\n"
    "  function fold(s) { return s.toLowerCase().normalize('NFD').replace(/[\\u0300-\\u036f]/g, '')"
    ".replace(/\\u0142/g, 'l'); }\n"
    "  window.plumetaFold = fold;\n"
    "  window.plumetaShown = function (card) { return shown[card - 1] !== false; };\n"
    "  var keys = [], shown = [];\n"
    "  for (var i = 0; i !== cards.length; i++) {\n"
    "    var about = cards[i].querySelector('.descriptions');\n"
    "    keys.push(fold(cards[i].getAttribute('data-find') + ' ' + (about ? about.textContent : '')));\n"
    "    shown.push(true);\n"
    "  }\n"
    "  document.getElementById('search').hidden = false;\n"
    "  function say(n) {\n"
    "    found.textContent = n === 0 ? 'Nic nie znaleziono' : 'Pasuje: ' + n + ' z ' + cards.length;\n"
    "    none.hidden = n !== 0;\n"
    "  }\n"
    "  // The index lists the first LISTED that match, and a button the rest:\n"
    "  // a table of a thousand rows takes long to lay out again.\n"
    "  var LISTED = 50, all = false, listed = [];\n"
    "  var more = document.createElement('p'), button = document.createElement('button');\n"
    "  more.id = 'more';\n"
    "  button.type = 'button';\n"
    "  more.appendChild(button);\n"
    "  document.querySelector('.index').parentNode.after(more);\n"
    "  button.onclick = function () { all = true; filter(); };\n"
    "  // The cards follow at once where they may be in sight; below an index\n"
    "  // that fills the window, just after the next paint (the page says\n"
    "  // plumetaPending meanwhile), so that a key shows its index at once.\n"
    "  var wanted = [], pending = false;\n"
    "  function showCards() {\n"
    "    pending = window.plumetaPending = false;\n"
    "    var changed = false;\n"
    "    for (var i = 0; i !== cards.length; i++) {\n"
    "      if (wanted[i] === shown[i]) continue;\n"
    "      cards[i].hidden = !(shown[i] = wanted[i]);\n"
    "      changed = true;\n"
    "    }\n"
    "    if (changed && window.plumetaPlace) window.plumetaPlace();\n"
    "    requestAnimationFrame(cue);  // with the frame's own layout, not one more\n"
    "  }\n"
    "  function filter() {\n"
    "    var q = fold(box.value.trim()), n = 0, rowsListed = 0;\n"
    "    for (var i = 0; i !== cards.length; i++) {\n"
    "      var show = wanted[i] = q === '' || keys[i].indexOf(q) !== -1;\n"
    "      n += show ? 1 : 0;\n"
    "      var list = show && (all || n <= LISTED);\n"
    "      rowsListed += list ? 1 : 0;\n"
    "      if (rows[i] && list !== listed[i]) rows[i].hidden = !(listed[i] = list);\n"
    "    }\n"
    "    say(n);\n"
    "    more.hidden = all || n <= LISTED || rows.length === 0;\n"
    "    button.textContent = 'Poka\\u017c wszystkie (' + n + ')';\n"
    "    if (rows.length === 0 || rowsListed * 24 < window.innerHeight) return showCards();\n"
    "    if (pending) return;\n"
    "    pending = window.plumetaPending = true;\n"
    "    requestAnimationFrame(function () { setTimeout(function () { if (pending) showCards(); }); });\n"
    "  }\n"
    "  for (var r = 0; r !== rows.length; r++) listed.push(true);\n"
    "  box.oninput = function () { all = false; filter(); };\n"
    "  // A cue only where its box does scroll (a closed day's box, unknown, keeps it).\n"
    "  var cues = document.querySelectorAll('.cue');\n"
    "  function cue() {\n"
    "    for (var c = 0; c !== cues.length; c++) {\n"
    "      var scrolled = cues[c].nextElementSibling;\n"
    "      cues[c].hidden = scrolled.clientWidth > 0 && scrolled.scrollWidth <= scrolled.clientWidth;\n"
    "    }\n"
    "  }\n"
    "  filter();\n"
    "  window.addEventListener('resize', cue);\n"
    "  document.addEventListener('toggle', cue, true);\n"
    "  // 'dzi\\u015b' and 'wczoraj' where the page is read, on the day it is read.\n"
    "  function iso(d) { return d.getFullYear() + '-' + ('0' + (d.getMonth() + 1)).slice(-2) + '-' +"
    " ('0' + d.getDate()).slice(-2); }\n"
    "  var now = new Date(), today = iso(now);\n"
    "  var yesterday = iso(new Date(now.getFullYear(), now.getMonth(), now.getDate() - 1));\n"
    "  var days = document.querySelectorAll('time[datetime] span');\n"
    "  for (var d = 0; d !== days.length; d++) {\n"
    "    var at = days[d].parentNode.getAttribute('datetime').slice(0, 10);\n"
    "    if (at === today || at === yesterday) days[d].textContent = at === today ? 'dzi\\u015b' : 'wczoraj';\n"
    "  }\n"
    "})();\n"
    "</script>\n";

// What the page draws itself, so that a page of a thousand contacts stays
// small: each card's heat map from its data-heat as the card comes within
// 600 px of the window (a row a day, an hour a cell, darker for a larger
// share, each day's shares as its row's title); each day's rows from the
// data beside its picture when the day is open (the newest is, at once).
// Everything before printing.
constexpr char kDrawScript[] = R"JS(<script>
(function () {
  var NS = 'http://www.w3.org/2000/svg';
  function el(name, attributes, parent) {
    var made = document.createElementNS(NS, name);
    for (var key in attributes) made.setAttribute(key, attributes[key]);
    parent.appendChild(made);
    return made;
  }
  var words = document.getElementById('heat');
  var days = words ? words.getAttribute('data-days').split(',') : [];
  var covered = words ? words.getAttribute('data-covered') : '';
  var shades = words ? words.getAttribute('data-shades').split(',').map(function (s) { return s.split(' '); }) : [];
  function cell(h) { return 'M' + (3 + h % 24) + ' ' + (1 + Math.floor(h / 24)) + 'h1v1h-1z'; }
  function heat(box) {
    if (box.firstChild) return;
    var share = box.closest('section').getAttribute('data-heat').split(',').map(Number);
    var svg = el('svg', {'class': 'heat', viewBox: '0 0 28 8.6', width: 392, height: 120, role: 'img',
                         'font-size': '.8'}, box);
    el('title', {}, svg).textContent = words.getAttribute('data-title');
    el('rect', {x: 3, y: 1.4, width: 24, height: 7, fill: 'url(#nd)', stroke: '#767676', 'stroke-width': '.05'}, svg);
    if (covered) el('path', {fill: words.getAttribute('data-covered-fill'), d: covered}, svg);
    for (var hour = 0; hour !== 24; hour += 3) el('text', {x: 3 + hour, y: 1.1}, svg).textContent = hour;
    for (var s = 0; s !== shades.length; s++) {
      var from = s ? +shades[s - 1][0] : 0, path = '';
      for (var h = 0; h !== 168; h++) if (share[h] > from && !(share[h] > +shades[s][0])) path += cell(h);
      if (path) el('path', {fill: shades[s][1], d: path}, svg);
    }
    for (var day = 0; day !== 7; day++) {
      var said = '';
      for (var at = 0; at !== 24; at++) {
        var v = share[day * 24 + at];
        if (v) said += (said ? ', ' : ' ') + at + '\u2013' + (at + 1) + ' ' + v + ' %';
      }
      el('text', {x: 0, y: day + 2.1}, svg).textContent = days[day];
      var row = el('rect', {x: 3, y: day + 1.4, width: 24, height: 1, fill: '#000000', 'fill-opacity': 0}, svg);
      el('title', {}, row).textContent = days[day] + ':' + (said || words.getAttribute('data-none'));
    }
  }
  // A day's rows, drawn once when the day is open: each a <g> for the card
  // it is, named as the card; placed, and left out where the filter hides
  // its card, by place(), again on every change of the filter.
  function rows(day) {
    var data = day.querySelector('script.rows'), svg = day.querySelector('svg');
    if (!data || !svg) return;
    if (!day.drawn) {
      var t = JSON.parse(data.textContent), all = el('g', {}, svg), drawn = [];
      var clock = function (m) { return ('0' + Math.floor(m / 60)).slice(-2) + ':' + ('0' + m % 60).slice(-2); };
      t.r.forEach(function (row) {
        var card = document.getElementById('c' + row[0]), g = el('g', {}, all);
        var full = card ? card.querySelector('h3').firstChild.textContent.slice(0, -1) : '', chars = Array.from(full);
        var name = el('text', {x: 10, y: t.h - 2}, g);
        name.textContent = chars.length > t.n ? chars.slice(0, t.n).join('') + '\u2026' : full;
        el('title', {}, name).textContent = full;
        for (var b = 1; b < row.length; b += 5) {
          var kind = t.s[row[b + 2]];
          var bar = el('rect', {x: row[b] / 100, y: 2, width: row[b + 1] / 100, height: t.h - 2, fill: t.f[kind[0]]}, g);
          el('title', {}, bar).textContent = full + ': ' + kind[1] + ' ' + clock(row[b + 3]) + '\u2013' + clock(row[b + 4]);
        }
        drawn.push([row[0], g]);
      });
      var n = t.r.length;
      day.drawn = {t: t, all: all, rows: drawn, labels: [], hours: svg.querySelectorAll('text.h'),
                   end: t.t + (n ? n + Math.floor((n - 1) / t.e) : 0) * t.k};  // where the rows ended as made
    }
    place(day);
  }
  function place(day) {
    day.stale = false;
    var d = day.drawn, t = d.t, svg = day.querySelector('svg'), n = 0, y = t.t, labels = 0;
    d.all.style.display = '';
    d.rows.forEach(function (row) {
      var show = !window.plumetaShown || window.plumetaShown(row[0]);
      row[1].style.display = show ? '' : 'none';
      if (!show) return;
      if (n && n % t.e === 0) {  // the hours again
        var again = d.labels[labels] || (d.labels[labels] = el('g', {}, svg));
        if (!again.firstChild) d.hours.forEach(function (h) { again.appendChild(h.cloneNode(true)); });
        again.style.display = '';
        again.setAttribute('transform', 'translate(0,' + (y + t.k - 8 - (t.t - 14)) + ')');
        labels++;
        y += t.k;
      }
      row[1].setAttribute('transform', 'translate(0,' + y + ')');
      y += t.k;
      n++;
    });
    for (var l = labels; l < d.labels.length; l++) d.labels[l].style.display = 'none';
    svg.querySelectorAll('line.g').forEach(function (line) { line.setAttribute('y2', y); });
    svg.querySelector('g.legend').setAttribute('transform', 'translate(0,' + (y - d.end) + ')');
    var box = svg.getAttribute('viewBox').split(' ');
    box[3] = +box[3] + y - (d.placed || d.end);
    d.placed = y;
    svg.setAttribute('viewBox', box.join(' '));
    svg.setAttribute('height', box[3]);
  }
  var boxes = document.querySelectorAll('.heat-box'), dayBoxes = document.querySelectorAll('details.day');
  // Placed again as the filter changes where a day is in sight, else once
  // it comes near (a thousand rows are a long layout, for a day no one sees).
  var inSight = 'IntersectionObserver' in window && new IntersectionObserver(function (seen) {
    seen.forEach(function (e) {
      e.target.inSight = e.isIntersecting;
      if (e.isIntersecting && e.target.stale) place(e.target);
    });
  }, {rootMargin: '600px'});
  window.plumetaPlace = function () {
    for (var p = 0; p !== dayBoxes.length; p++) {
      var day = dayBoxes[p];
      if (!day.drawn) continue;
      if (inSight && !day.inSight) {
        day.stale = true;
        day.drawn.all.style.display = 'none';  // out of the layout until placed
      } else {
        place(day);
      }
    }
  };
  window.addEventListener('beforeprint', function () {
    for (var i = 0; i !== boxes.length; i++) heat(boxes[i]);
    for (var j = 0; j !== dayBoxes.length; j++) rows(dayBoxes[j]);  // and places each
  });
  for (var d = 0; d !== dayBoxes.length; d++) {
    if (inSight) inSight.observe(dayBoxes[d]);
    if (dayBoxes[d].open) rows(dayBoxes[d]);
    dayBoxes[d].addEventListener('toggle', function () { if (this.open) rows(this); });
  }
  var near = 'IntersectionObserver' in window && new IntersectionObserver(function (seen) {
    seen.forEach(function (e) { if (e.isIntersecting) { heat(e.target); near.unobserve(e.target); } });
  }, {rootMargin: '600px'});
  for (var i = 0; i !== boxes.length; i++) near ? near.observe(boxes[i]) : heat(boxes[i]);
})();
</script>
)JS";

// A contact's whole story, when its card's story is opened (or the address
// names the card: #c<n>): its file beside the page loaded as a script
// (story.h), the changes newest first, 50 a page, each with what changed
// (old -> new), and a search box over their times, statuses and
// descriptions.
constexpr char kStoryScript[] = R"JS(<script>
(function () {
  var about = document.getElementById('stories');
  if (!about) return;
  var info = JSON.parse(about.textContent), words = info.w, waiting = {}, SIZE = 50;
  function grouped(n) { var s = String(n); return s.length < 5 ? s : s.replace(/\B(?=(\d{3})+(?!\d))/g, '\u00a0'); }
  function add(name, parent, text) {
    var made = document.createElement(name);
    if (text !== undefined) made.textContent = text;
    parent.appendChild(made);
    return made;
  }
  function parse(data) {
    var rows = [], t = 0, status = '', described = false, text = '', slots = [], written = 0;
    data.split('\n').forEach(function (line) {
      var a = line.indexOf('|'), b = line.indexOf('|', a + 1);
      t += parseInt(line.slice(0, a), 36);
      var w = b < 0 ? line.slice(a + 1) : line.slice(a + 1, b), word = w === '' ? '' : words[parseInt(w, 36)];
      var change = [];
      if (word !== '' && word !== status) change.push('status: ' + (status ? status + ' \u2192 ' : '') + word);
      if (b >= 0) {
        var was = described ? '\u201e' + text + '\u201d' : 'bez opisu';
        var mark = line.charAt(b + 1);
        described = mark === '=' || mark === '~';
        text = mark === '=' ? (slots[written++ % 8] = line.slice(b + 2)) : mark === '~' ? slots[+line.charAt(b + 2)] : '';
        change.push('opis: ' + (rows.length ? was + ' \u2192 ' : '') + (described ? '\u201e' + text + '\u201d' : 'bez opisu'));
      }
      if (word !== '') status = word;
      rows.push([new Date(t * 1000).toISOString().slice(0, 19).replace('T', ' '), word, described ? text : '',
                 change.join('; ') || 'bez zmian']);
    });
    return rows.reverse();
  }
  function show(story, rows) {
    var box = story.querySelector('.story-box'), shown = rows, page = 0;
    box.textContent = '';
    var search = add('p', box), label = add('label', search, 'Szukaj w historii: '), said = add('span', search);
    var find = add('input', label);
    find.type = 'search';
    said.setAttribute('role', 'status');
    add('p', box, 'Tabela przewija si\u0119 w bok \u2192').className = 'cue';
    var wide = add('div', box), table = add('table', wide), nav = add('p', box);
    wide.className = 'wide';
    wide.tabIndex = 0;
    wide.setAttribute('role', 'region');
    wide.setAttribute('aria-label', story.getAttribute('data-name') + ': historia');
    var newer = add('button', nav, '\u2190 Nowsze'), where = add('span', nav), older = add('button', nav, 'Starsze \u2192');
    newer.type = older.type = 'button';
    function draw() {
      var pages = Math.max(1, Math.ceil(shown.length / SIZE));
      page = Math.min(page, pages - 1);
      table.textContent = '';
      var head = add('tr', table);
      ['Czas', 'Status', 'Opis', 'Co si\u0119 zmieni\u0142o'].forEach(function (h) { add('th', head, h); });
      shown.slice(page * SIZE, page * SIZE + SIZE).forEach(function (row) {
        var tr = add('tr', table);
        row.slice(0, 4).forEach(function (cell) { add('td', tr, cell); });
      });
      said.textContent = shown === rows ? ' Zmian: ' + grouped(rows.length)
                                        : ' Pasuje: ' + grouped(shown.length) + ' z ' + grouped(rows.length);
      where.textContent = 'Strona ' + (page + 1) + ' z ' + pages + ' ';
      newer.disabled = page === 0;
      older.disabled = page === pages - 1;
    }
    newer.onclick = function () { page--; draw(); };
    older.onclick = function () { page++; draw(); };
    find.oninput = function () {
      var q = plumetaFold(find.value.trim());
      shown = q === '' ? rows : rows.filter(function (row) {
        return (row[4] || (row[4] = plumetaFold(row.slice(0, 3).join(' ')))).indexOf(q) !== -1;
      });
      page = 0;
      draw();
    };
    draw();
  }
  window.plumetaStory = function (n, data) {
    var story = waiting[n];
    delete waiting[n];
    if (story) show(story, parse(data));
  };
  function open(story) {
    if (story.querySelector('.story-box')) return;
    var box = add('div', story, 'Wczytuj\u0119 histori\u0119\u2026'), n = story.getAttribute('data-story');
    box.className = 'story-box';
    waiting[n] = story;
    var file = info.d + '/k' + n + '.js', script = document.createElement('script');
    script.src = encodeURIComponent(info.d) + '/k' + n + '.js';
    script.onerror = function () {
      box.textContent = 'Nie mo\u017cna wczyta\u0107 pliku ' + file + ': musi le\u017ce\u0107 obok strony.';
    };
    document.head.appendChild(script);
  }
  var stories = document.querySelectorAll('details.story');
  for (var i = 0; i !== stories.length; i++) {
    stories[i].addEventListener('toggle', function () { if (this.open) open(this); });
  }
  function fromAddress() {
    var card = /^#c\d+$/.test(location.hash) && document.getElementById(location.hash.slice(1));
    var story = card && card.querySelector('details.story');
    if (story) story.open = true;
  }
  window.addEventListener('hashchange', fromAddress);
  fromAddress();
})();
</script>
)JS";

// Asks the processor to fetch [from, from + bytes) into the cache, to be
// written; nothing where the compiler has no way to ask.
void Fetch(const void* from, std::size_t bytes) {
#if defined(__GNUC__)
    const char* at = static_cast<const char*>(from);
    for (std::size_t i = 0; i < bytes; i += 64) __builtin_prefetch(at + i, 1);
#else
    (void)from;
    (void)bytes;
#endif
}

}  // namespace

void Report::CountOnline(Contact& contact, int64_t from, int64_t to) {
    AddRealSpan(contact.onlineSeconds, offsets_, std::max(from, contact.countedTo), to);
    contact.countedTo = std::max(contact.countedTo, to);
}

void Report::AddFile(const std::string& file, const std::string& problem) { files_.emplace_back(file, problem); }

void Report::AddSkipped(const std::string& file, uint64_t line, const std::string& why) {
    if (skippedCount_++ < kMaxSkipped) skipped_.emplace_back(file + ":" + std::to_string(line) + ": ", why);
}

// Keeps the record for the timelines: their days as they are so far, and
// each contact's latest record before them (in its Contact).
void Report::KeepForTimelines(const LogRecord& record, Contact* contact) {
    const std::tuple<int, int, int> day(record.time.year, record.time.month, record.time.day);
    if (contact && (days_.empty() || newest_ != day)) {  // mostly the newest day again
        days_.insert(day);
        newest_ = *days_.rbegin();
        oldest_ = *days_.begin();
        if (days_.size() > static_cast<std::size_t>(kTimelineDays)) {
            days_.erase(days_.begin());
            oldest_ = *days_.begin();
            // The days before the oldest now leave: what is kept of them is
            // only each contact's state when the days begin.
            while (!keptDays_.empty() && keptDays_.front().day < oldest_) {
                LeaveDay(keptDays_.front());
                spareDays_.push_back(std::move(keptDays_.front()));
                keptDays_.erase(keptDays_.begin());
            }
        }
    }
    if (overflowed_) return;
    if (!days_.empty() && day < oldest_) {  // before the oldest day's 00:00:00
        if (contact) KeepBefore(*contact, record.time, record.moment, record.status, record.gender, record.name);
        return;
    }
    // Its day: mostly the last; one a clock or a spill put among them found.
    auto at = keptDays_.empty() ? keptDays_.end() : keptDays_.end() - 1;
    if (at == keptDays_.end() || at->day != day) {
        at = std::lower_bound(keptDays_.begin(), keptDays_.end(), day,
                              [](const KeptDay& kept, const std::tuple<int, int, int>& d) { return kept.day < d; });
        if (at == keptDays_.end() || at->day != day) {
            KeptDay fresh;
            if (!spareDays_.empty()) {
                fresh = std::move(spareDays_.back());
                spareDays_.pop_back();
            }
            fresh.day = day;
            at = keptDays_.insert(at, std::move(fresh));
        }
    }
    KeptDay& kept = *at;
    kept.records.push_back(Kept{contact, record.moment, static_cast<uint32_t>(kept.names.size()),
                                static_cast<uint32_t>(record.name.size()), record.status.value_or(0),
                                static_cast<uint8_t>(record.time.hour), static_cast<uint8_t>(record.time.minute),
                                static_cast<uint8_t>(record.time.second), record.status.has_value(), record.gender});
    kept.names += record.name;
    keptBytes_ += sizeof(Kept) + record.name.size();
    if (keptBytes_ > kMaxKeptBytes) {
        overflowed_ = true;
        std::vector<KeptDay>().swap(keptDays_);
        std::vector<KeptDay>().swap(spareDays_);
    }
}

void Report::LeaveDay(KeptDay& day) {
    // Each contact's latest of the day (the one KeepBefore would keep,
    // taking them one by one) is handed over once. The contacts are all
    // over memory: each fetched a few ahead.
    const auto secondOf = [](const Kept& kept) { return kept.hour * 3600 + kept.minute * 60 + kept.second; };
    ++sweep_;
    const std::vector<Kept>& records = day.records;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i + 8 < records.size() && records[i + 8].contact) Fetch(&records[i + 8].contact->sweep, 1);
        const Kept& kept = records[i];
        keptBytes_ -= sizeof kept + kept.nameSize;
        Contact* of = kept.contact;
        if (!of) continue;
        if (of->sweep != sweep_) {
            of->sweep = sweep_;
            of->latest = &kept;
            swept_.push_back(of);
        } else if (secondOf(kept) >= secondOf(*of->latest)) {
            of->latest = &kept;
        }
    }
    const auto [year, month, dayOfMonth] = day.day;
    for (std::size_t i = 0; i < swept_.size(); ++i) {
        if (i + 8 < swept_.size()) Fetch(&swept_[i + 8]->before, 1);
        const Kept& latest = *swept_[i]->latest;
        KeepBefore(*swept_[i], LocalTime{year, month, dayOfMonth, latest.hour, latest.minute, latest.second},
                   latest.moment, latest.hasStatus ? std::optional<uint32_t>(latest.status) : std::nullopt,
                   latest.gender, std::string_view(day.names).substr(latest.nameAt, latest.nameSize));
    }
    swept_.clear();
    day.records.clear();
    day.names.clear();
}

void Report::Add(const LogRecord& record) { Add(record, numbers_.Of(record)); }

void Report::Expect(uint32_t later, uint32_t sooner) const {
    if (later < byNumber_.size()) {  // else a contact not yet seen, or none
        const Contact* contact = byNumber_[later];
        Fetch(contact, static_cast<std::size_t>(reinterpret_cast<const char*>(&contact->recent) -
                                                reinterpret_cast<const char*>(contact)));
    }
    if (sooner < byNumber_.size()) {
        const Contact& contact = *byNumber_[sooner];
        Fetch(contact.story.waiting.data() + contact.story.waiting.size(), 1);  // where its next row goes
        Fetch(contact.seen.last.description.data(), 1);  // compared with the next one
    }
}
void Report::Add(const LogRecord& record, uint32_t number) {
    ++records_;
    spilled_ += record.spilled;
    if (!first_ || Earlier(record.time, *first_)) first_ = record.time;
    if (!last_ || Earlier(*last_, record.time)) last_ = record.time;
    firstMoment_ = std::min(firstMoment_, record.moment);
    lastMoment_ = std::max(lastMoment_, record.moment);
    if (record.kind == RecordKind::Own) {
        KeepForTimelines(record, nullptr);
        own_.push_back(record);
        if (own_.size() > kMaxOwnChanges) {
            own_.pop_front();
            ++olderOwn_;
        }
        return;
    }
    if (number == byNumber_.size()) {  // its first record
        byNumber_.push_back(&contacts_.try_emplace({std::string(record.network), record.id}).first->second);
    }
    Contact& contact = *byNumber_.at(number);
    // A change offline counts its session into the heat map's hours, at the
    // far end of the entry: fetched now, counted after the rest.
    if (record.status && contact.onlineFrom && !IsOnline(*record.status)) {
        Fetch(contact.onlineSeconds.data(), sizeof contact.onlineSeconds);
    }
    KeepForTimelines(record, &contact);
    // Its change before this one, until AddToSeen makes this one the last.
    const LogRecord* before = contact.seen.changes ? &contact.seen.last : nullptr;
    // Whether its description is that change's text: asked once, for its
    // story, its card and its last change.
    const bool sameText = before && record.description == before->description;
    if (stories_) stories_->Add(contact.story, record, before, sameText);
    // A change without one clears the description: setting the same again is
    // setting it.
    if (record.described && !record.description.empty() && !(before && before->described && sameText)) {
        // The oldest kept makes room (its text's room reused).
        Described& slot = contact.descriptions[contact.described++ % kMaxDescriptions];
        slot.time = record.time;
        slot.text.assign(record.description);
    }
    AddToSeen(contact.seen, record, sameText);
    if (!record.status) return;  // a code without a word tells nothing
    const int64_t now = record.moment;
    const bool online = IsOnline(*record.status);
    if (contact.onlineFrom && !online) {
        CountOnline(contact, *contact.onlineFrom, now);
        // For the card's time online: the sessions that may end in the last
        // month of the log.
        contact.recent.emplace_back(*contact.onlineFrom, now);
        while (contact.recent.front().second < now - kRecentDays * 86400) contact.recent.pop_front();
    }
    if (!online) contact.onlineFrom.reset();
    if (online && !contact.onlineFrom) contact.onlineFrom = now;
}

// A kept record as a timeline takes it (DayTimeline::Add): its contact's
// identifier and network from the contact's entry.
LogRecord Report::Record(const Kept& kept, const KeptDay& day) {
    LogRecord record;
    record.kind = kept.contact ? RecordKind::Contact : RecordKind::Own;
    const auto [year, month, dayOfMonth] = day.day;
    record.time = LocalTime{year, month, dayOfMonth, kept.hour, kept.minute, kept.second};
    record.moment = kept.moment;
    if (kept.hasStatus) record.status = kept.status;
    record.gender = kept.gender;
    record.name.assign(day.names, kept.nameAt, kept.nameSize);
    if (kept.contact) {
        record.id = kept.contact->seen.last.id;
        record.network = kept.contact->seen.last.network;
    }
    return record;
}

LogRecord Report::Record(const Contact& contact, const Before& before) {
    LogRecord record;
    record.time = before.time;
    record.moment = before.moment;
    record.status = before.status;
    record.gender = before.gender;
    record.name = before.name;
    record.id = contact.seen.last.id;
    record.network = contact.seen.last.network;
    return record;
}

// The contact's latest record before the timelines' days so far.
void Report::KeepBefore(Contact& contact, const LocalTime& time, int64_t moment, std::optional<uint32_t> status,
                        char gender, std::string_view name) {
    if (contact.before && Earlier(time, contact.before->time)) return;
    Before& before = contact.before ? *contact.before : contact.before.emplace(Before{});
    before.time = time;
    before.moment = moment;
    before.status = status;
    before.gender = gender;
    before.name.assign(name);
}

void Report::StartTimelines() {
    secondPass_ = true;
    std::vector<KeptDay>().swap(keptDays_);
    std::vector<KeptDay>().swap(spareDays_);
    for (auto& [key, contact] : contacts_) contact.before.reset();
    timelines_.clear();
    for (auto day = days_.rbegin(); day != days_.rend(); ++day) {
        const auto [year, month, dayOfMonth] = *day;
        timelines_.emplace_back(year, month, dayOfMonth);
    }
}

void Report::AddToTimelines(const LogRecord& record) {
    if (timelines_.empty()) return;
    if (record.kind == RecordKind::Contact && Earlier(record.time, timelines_.back().day())) {
        const auto contact = contacts_.find({std::string(record.network), record.id});
        if (contact != contacts_.end()) {
            KeepBefore(contact->second, record.time, record.moment, record.status, record.gender, record.name);
        }
        return;
    }
    for (DayTimeline& timeline : timelines_) timeline.Add(record);
}

void Report::FinishTimelines() {
    if (!secondPass_) {  // what Add kept is what a second pass would give
        std::vector<KeptDay> kept;
        kept.swap(keptDays_);
        std::vector<std::optional<Before>> before;
        for (auto& [key, contact] : contacts_) before.push_back(std::move(contact.before));
        StartTimelines();
        std::size_t i = 0;
        for (auto& [key, contact] : contacts_) contact.before = std::move(before[i++]);
        // By day, each in the order of the logs: a timeline takes a day's
        // changes from that day alone, and its state before from the latest.
        for (const KeptDay& day : kept) {
            for (const Kept& record : day.records) AddToTimelines(Record(record, day));
        }
    }
    for (DayTimeline& timeline : timelines_) {
        for (auto& [key, contact] : contacts_) {
            if (contact.before) timeline.Add(Record(contact, *contact.before));
        }
    }
    for (auto& [key, contact] : contacts_) contact.before.reset();
}

// The Polish of a warning's text (UTF-8), anything after its reason (the
// spill's name) kept; the text itself when it is no known reason.
std::string PolishReason(std::string_view why, const RecordFormatter& format) {
    for (const SkipReason& reason : kSkipReasons) {
        const std::string_view english = reason.english;
        const std::size_t hole = english.find("{}");
        const std::string_view head = english.substr(0, hole);
        if (why.substr(0, head.size()) != head) continue;
        std::string polish = format.Utf8(reason.polish);
        std::size_t rest = head.size();
        if (hole != std::string_view::npos) {
            const std::string_view tail = english.substr(hole + 2);
            std::size_t digits = rest;
            while (digits < why.size() && (why[digits] == '-' || (why[digits] >= '0' && why[digits] <= '9'))) ++digits;
            if (why.substr(digits, tail.size()) != tail) continue;
            polish.replace(polish.find("{}"), 2, std::string(why.substr(rest, digits - rest)));
            rest = digits + tail.size();
        }
        return polish + std::string(why.substr(rest));
    }
    return std::string(why);
}

std::string Report::Html(const RecordFormatter& format) const {
    auto text = [&](const char* utf8InSource) { return EscapeMarkup(format.Utf8(utf8InSource)); };
    auto from1250 = [&](const std::string& cp1250) { return EscapeMarkup(format.Utf8(cp1250)); };
    // A moment where a person reads it: its weekday and date (which the
    // page's script turns into "dziś" or "wczoraj" on the day it is read),
    // the full time in its title.
    auto dayOf = [&](const LocalTime& t) {
        char date[16];
        std::snprintf(date, sizeof date, "%02d.%02d.%04d", t.day, t.month, t.year);
        return "<span>" + text(kWeekdays[Weekday(t)]) + "</span> " + date;
    };
    auto when = [&](const LocalTime& t) {
        char clock[8];
        std::snprintf(clock, sizeof clock, "%02d:%02d", t.hour, t.minute);
        return "<time datetime=\"" + TimeText(t) + "\">" + dayOf(t) + ", " + clock + "</time>";
    };
    // "niewidziany" or "niewidziana" by the gender the lines tell.
    auto neverSeen = [&](char gender, bool capital) {
        const char* word = gender == 'f' ? "niewidziana" : gender == 'm' ? "niewidziany" : "niewidziany(-a)";
        std::string shown = text(word);
        if (capital) shown[0] = 'N';
        return shown;
    };
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"pl\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    // The key's swatches take the shades of the table above.
    std::string shades = std::string(".s0{background:") + kCoveredColour + "}";
    for (std::size_t shade = 0; shade < std::size(kShades); ++shade) {
        shades += ".s" + std::to_string(shade + 1) + "{background:" + kShades[shade].colour + "}";
    }
    html += "<title>" + text("Statusy kontaktów") + "</title>\n<style>" + kStyle + shades + "</style>\n</head>\n<body>\n";
    html += "<header><h1>" + text("Statusy kontaktów") + "</h1></header>\n<main>\n";
    // The heat maps' hatch for hours the log does not cover, defined once.
    html += "<svg width=\"0\" height=\"0\" aria-hidden=\"true\" style=\"position:absolute\"><defs>"
            "<pattern id=\"nd\" width=\".5\" height=\".5\" patternUnits=\"userSpaceOnUse\" "
            "patternTransform=\"rotate(45)\"><rect width=\".5\" height=\".5\" fill=\"#ffffff\"/>"
            "<path d=\"M0 0V.5\" stroke=\"#8c8c8c\" stroke-width=\".12\"/></pattern></defs></svg>\n";

    // What was read.
    html += "<section id=\"read\">\n<p>" + text("Pliki: ");
    for (std::size_t i = 0; i < files_.size(); ++i) {
        html += (i ? ", " : "") + std::string("<code>") + EscapeMarkup(files_[i].first) + "</code>";
        if (!files_[i].second.empty()) html += " (" + text("nie można odczytać: ") + EscapeMarkup(files_[i].second) + ")";
    }
    html += "</p>\n";
    if (today_) html += "<p>" + text("Strona zrobiona: ") + when(*today_) + "</p>\n";
    if (first_) {
        html += "<p>" + text("Okres: ") + when(*first_) + " \xE2\x80\x93 " + when(*last_) + "</p>\n";
    }
    html += "<p data-records=\"" + std::to_string(records_) + "\">" + text("Zmian: ") + Grouped(records_) +
            "</p>\n";
    if (spilled_) {
        html += "<p data-spilled=\"" + std::to_string(spilled_) + "\">" +
                text("Jeszcze nie w pliku ze statusami (czekają w pliku zaległych obok niego): ") + Grouped(spilled_) +
                "</p>\n";
    }
    html += "<p data-skipped=\"" + std::to_string(skippedCount_) + "\">" + text("Pominięte wiersze: ") +
            Grouped(skippedCount_);
    if (skippedCount_ > skipped_.size()) {
        html += text(" (pierwsze ") + std::to_string(skipped_.size()) + ")";
    }
    html += "</p>\n";
    if (!skipped_.empty()) {
        html += "<pre>\n";
        for (const auto& [where, why] : skipped_) html += EscapeMarkup(where + PolishReason(why, format)) + "\n";
        html += "</pre>\n";
    }
    html += "</section>\n";
    if (records_ == 0) {
        html += "<p><strong>" + text("Dziennik jest pusty: nie ma w nim żadnej zmiany statusu.") +
                "</strong></p>\n</main>\n</body>\n</html>\n";
        return html;
    }

    // The hours of the week the log covers, for the shares.
    std::array<uint32_t, kWeekHours> covered{};
    const int64_t end = lastMoment_;
    ZoneOffsets offsets;
    AddRealSpan(covered, offsets, firstMoment_, end);
    // The log's last day, for the cards' time online.
    const LocalTime lastLocal = ToLocalTime(end);
    const int64_t lastDay = DaysFromCivil(lastLocal.year, lastLocal.month, lastLocal.day);
    // Where its day, its week and its 30 days begin and where it ends, as
    // moments: the same for every card (each asks the zone a few times).
    const int64_t lastDayEnd = DayStart(lastDay + 1);
    const int64_t windows[3] = {DayStart(lastDay), DayStart(PeriodStart(Period::Week, lastDay)),
                                DayStart(lastDay - 29)};
    std::string lastDayText;
    {
        const LocalTime date = CivilFromDays(lastDay);
        char shown[16];
        std::snprintf(shown, sizeof shown, "%02d.%02d.%04d", date.day, date.month, date.year);
        lastDayText = "<time datetime=\"" + TimeText(date).substr(0, 10) + "\">" + shown + "</time>";
    }

    // Contacts by last seen, newest first: online now, then by the last time
    // online, then those never seen online, by their last change.
    struct Entry {
        const Contact* contact;
        std::string name;  // UTF-8
        std::string find;  // name and identifier, escaped: what the filter box looks in
    };
    std::vector<Entry> entries;
    for (const auto& [key, contact] : contacts_) {
        const std::string name = format.Utf8(contact.seen.last.name);
        entries.push_back({&contact, name, EscapeMarkup(name) + " " + from1250(contact.seen.last.id)});
    }
    auto rank = [](const Entry& e) {
        const ContactSeen& s = e.contact->seen;
        const LocalTime& when = s.online ? s.last.time : s.lastSeenOnline ? *s.lastSeenOnline : s.last.time;
        return std::make_tuple(s.online ? 2 : s.lastSeenOnline ? 1 : 0, when.year, when.month, when.day, when.hour,
                               when.minute, when.second);
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        const auto ra = rank(a), rb = rank(b);
        return ra != rb ? ra > rb : PolishLess(a.contact->seen.last.name, b.contact->seen.last.name);
    });

    // The hours the log covers, grey under the shares; the others white.
    std::string coveredPath;
    for (int h = 0; h < kWeekHours; ++h) {
        if (covered[h]) coveredPath += Cell(h);
    }

    // The index: a row per contact in the cards' order, those online now
    // standing out; the filter box above it, which the script shows.
    html += "<h2 id=\"index\">" + text("Spis kontaktów") + "</h2>\n";
    html += "<p id=\"search\" hidden><label for=\"find\">" + text("Szukaj (imię, identyfikator lub opis):") +
            "</label> <input id=\"find\" type=\"search\"><span id=\"found\" role=\"status\" aria-live=\"polite\">"
            "</span></p>\n<p id=\"none\" hidden>" + text("Nic nie znaleziono.") + "</p>\n";
    html += "<p class=\"cue\">" + text("Tabela przewija się w bok ") + "\xE2\x86\x92" + "</p>\n";
    html += "<div class=\"wide\" tabindex=\"0\" role=\"region\" aria-label=\"" + text("Spis kontaktów") +
            "\"><table class=\"index\">\n<tr><th>" + text("Kontakt") + "</th><th>" + text("Sieć") +
            "</th><th>" + text("W sieci") + "</th><th>" + text("Status") + "</th><th>" + text("Zmian") + "</th></tr>\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ContactSeen& seen = entries[i].contact->seen;
        html += std::string(seen.onlineSince ? "<tr class=\"online\"" : "<tr") + " data-find=\"" +
                entries[i].find + "\"><td><a href=\"#c" + std::to_string(i + 1) + "\">" +
                EscapeMarkup(entries[i].name) + "</a></td><td>" + std::string(seen.last.network) + "</td><td>";
        if (seen.onlineSince) {
            html += text("teraz, od ") + when(*seen.onlineSince);
        } else if (seen.lastSeenOnline) {
            html += text("ostatnio ") + when(*seen.lastSeenOnline);
        } else {
            html += neverSeen(seen.last.gender, false);
        }
        html += "</td><td>" +
                (seen.last.status ? EscapeMarkup(format.StatusWord(*seen.last.status, seen.last.gender)) : "") +
                "</td><td>" + Grouped(seen.changes) + "</td></tr>\n";
    }
    html += "</table></div>\n";

    html += "<h2>" + text("Kontakty") + "</h2>\n";
    // What the heat maps are made of, and their key, once for every card.
    std::string shadeList;
    for (std::size_t shade = 0; shade < std::size(kShades); ++shade) {
        shadeList += (shade ? "," : "") + std::to_string(kShades[shade].upTo) + " " + kShades[shade].colour;
    }
    std::string dayList;
    for (int d = 0; d < 7; ++d) dayList += (d ? "," : "") + text(kDayNames[d]);
    html += "<div id=\"heat\" hidden data-covered=\"" + coveredPath + "\" data-covered-fill=\"" + kCoveredColour +
            "\" data-shades=\"" + shadeList +
            "\" data-days=\"" + dayList + "\" data-title=\"" + text("Udział każdej godziny tygodnia w sieci") +
            "\" data-none=\"" + text(" 0 % o każdej godzinie") + "\"></div>\n";
    // Where the stories are, and the status words their rows count in.
    const bool stories = stories_ && stories_->problem().empty();
    if (stories) {
        html += "<script type=\"application/json\" id=\"stories\">{\"d\":" + JsonInScript(storyLink_) + ",\"w\":[";
        for (std::size_t w = 0; w < stories_->words().size(); ++w) {
            html += (w ? "," : "") + JsonInScript(stories_->words()[w]);
        }
        html += "]}</script>\n";
    }
    html += "<p class=\"heat-key\">" + text("Mapa tygodnia (dni w dół, godziny w poprzek): ") +
            "<span class=\"key\"><b class=\"nd\"></b>" + text("poza dziennikiem") + "</span>" +
            "<span class=\"key\"><b class=\"s0\"></b>0 %</span>";
    for (std::size_t shade = 0; shade < std::size(kShades); ++shade) {
        html += "<span class=\"key\"><b class=\"s" + std::to_string(shade + 1) + "\"></b>" +
                std::to_string(shade ? kShades[shade - 1].upTo + 1 : 1) + "\xE2\x80\x93" +
                std::to_string(kShades[shade].upTo) + " %</span>";
    }
    html += "</p>\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const ContactSeen& seen = e.contact->seen;
        std::array<uint32_t, kWeekHours> online = e.contact->onlineSeconds;
        if (e.contact->onlineFrom) AddRealSpan(online, offsets, std::max(*e.contact->onlineFrom, e.contact->countedTo), end);
        std::string heat;
        int percent[kWeekHours];
        for (int h = 0; h < kWeekHours; ++h) {
            percent[h] = covered[h] ? static_cast<int>((static_cast<uint64_t>(online[h]) * 100 + covered[h] / 2) /
                                                       covered[h])
                                    : 0;
            heat += (h ? "," : "") + std::to_string(percent[h]);
        }
        html += "<section class=\"contact\" id=\"c" + std::to_string(i + 1) + "\" data-find=\"" + e.find +
                "\" data-network=\"" + std::string(seen.last.network) + "\" data-id=\"" +
                from1250(seen.last.id) + "\" data-changes=\"" + std::to_string(seen.changes) + "\"";
        if (seen.onlineSince) html += " data-online-since=\"" + TimeText(*seen.onlineSince) + "\"";
        if (seen.lastSeenOnline) html += " data-last-seen=\"" + TimeText(*seen.lastSeenOnline) + "\"";
        html += " data-heat=\"" + heat + "\">\n";
        html += "<h3>" + EscapeMarkup(e.name) + " <small>(" + from1250(seen.last.id);
        if (!seen.last.network.empty()) html += ", " + std::string(seen.last.network);
        html += ")</small></h3>\n<p class=\"up\"><a href=\"#index\">\xE2\x86\x91 " + text("spis") +
                "</a></p>\n<div class=\"facts\">\n";
        if (seen.onlineSince) {
            html += "<p class=\"online\">" + text("W sieci od ") + when(*seen.onlineSince) + "</p>\n";
        } else if (seen.lastSeenOnline) {
            html += "<p>" + text("Ostatnio w sieci: ") + when(*seen.lastSeenOnline) + "</p>\n";
        } else {
            html += "<p>" + neverSeen(seen.last.gender, true) + text(" w sieci") + "</p>\n";
        }
        if (seen.last.status) {
            html += "<p>" + text("Status: ") + EscapeMarkup(format.StatusWord(*seen.last.status, seen.last.gender)) +
                    " (" + when(seen.last.time) + ")</p>\n";
        }
        html += "<p>" + text("Zmian: ") + Grouped(seen.changes) + "</p>\n";
        {
            // Time online up to the log's last record: its day, its week, its
            // last 30 days (what `plumeta-log online` counts for them).
            int64_t within[3] = {};  // its day, week, 30 days
            const auto add = [&](int64_t from, int64_t to) {
                for (int w = 0; w < 3; ++w) {
                    within[w] += std::max<int64_t>(0, std::min(to, lastDayEnd) - std::max(from, windows[w]));
                }
            };
            for (const auto& [from, to] : e.contact->recent) add(from, to);
            if (e.contact->onlineFrom) add(*e.contact->onlineFrom, end);
            html += "<p>" + text("Czas w sieci: ") + "<span class=\"nowrap\">" + text("w dniu ") + lastDayText + " " +
                    Duration(within[0]) + "</span>, <span class=\"nowrap\">" + text("w jego tygodniu ") + Duration(within[1]) +
                    "</span>, <span class=\"nowrap\">" + text("w 30 dniach do niego ") + Duration(within[2]) + "</span></p>\n";
            const std::string usual = UsualHours(percent);
            if (!usual.empty()) html += "<p>" + text("Zwykle w sieci: ") + usual + "</p>\n";
        }
        // The week's heat map: drawn by the page's script from data-heat when
        // the card comes near (kDrawScript), so that a page of a thousand
        // contacts stays small; the key is above the cards, once.
        html += "<div class=\"heat-box\"></div>\n";
        html += "</div>\n<div>\n";
        const uint64_t described = e.contact->described;
        if (described == 0) {
            html += "<p>" + text("Bez opisów") + "</p>\n";
        } else {
            html += "<ul class=\"descriptions\">\n";
            for (uint64_t n = described; n > 0 && n + kMaxDescriptions > described; --n) {
                const Described& it = e.contact->descriptions[(n - 1) % kMaxDescriptions];
                html += "<li>" + when(it.time) + " " + EscapeMarkup(OneLine(format.Utf8(it.text))) + "</li>\n";
            }
            html += "</ul>\n";
            if (described > kMaxDescriptions) {
                html += "<p>" + text("i starszych: ") + Grouped(described - kMaxDescriptions) + "</p>\n";
            }
        }
        html += "</div>\n";
        if (stories) {
            html += "<details class=\"story\" data-story=\"" + std::to_string(e.contact->story.number) +
                    "\" data-name=\"" + EscapeMarkup(e.name) + "\"><summary>" + text("Cała historia") +
                    "</summary></details>\n";
        }
        html += "</section>\n";
    }

    // The last seven days with changes, the newest open; their rows name
    // the cards, for the filter to narrow them.
    std::map<const Contact*, std::size_t> cards;
    for (std::size_t i = 0; i < entries.size(); ++i) cards[entries[i].contact] = i + 1;
    const DayTimeline::CardOf cardOf = [&](const Key& key) {
        const auto contact = contacts_.find(key);
        return contact == contacts_.end() ? 0 : cards[&contact->second];
    };
    html += "<h2>" + text("Ostatnie dni") + "</h2>\n";
    if (timelines_.empty()) html += "<p>" + text("Brak") + "</p>\n";
    for (std::size_t i = 0; i < timelines_.size(); ++i) {
        // The rows as data, drawn by kDrawScript when the day is open.
        std::string rows;
        std::string svg = timelines_[i].Svg(format, &rows, cardOf);
        if (svg.compare(0, 5, "<?xml") == 0) svg.erase(0, svg.find('\n') + 1);
        const LocalTime& day = timelines_[i].day();
        char date[16];
        std::snprintf(date, sizeof date, "%02d.%02d.%04d", day.day, day.month, day.year);
        html += std::string(i == 0 ? "<details open class=\"day\">" : "<details class=\"day\">") +
                "<summary><time datetime=\"" + DateText(day) + "\">" + dayOf(day) +
                "</time></summary>\n<p class=\"cue\">" + text("Dzień przewija się w bok ") + "\xE2\x86\x92" +
                "</p>\n<div class=\"wide\" tabindex=\"0\" role=\"region\" aria-label=\"" +
                text("Statusy kontaktów, ") + date + "\">" + svg + "<script type=\"application/json\" class=\"rows\">" +
                rows + "</script></div></details>\n";
    }

    // The user's own changes, newest first.
    html += "<h2>" + text("Twoje zmiany") + "</h2>\n";
    if (own_.empty()) {
        html += "<p>" + text("Brak") + "</p>\n";
    } else {
        html += "<div class=\"wide\" tabindex=\"0\" role=\"region\" aria-label=\"" + text("Twoje zmiany") +
                "\"><table class=\"own\">\n<tr><th>" + text("Czas") + "</th><th>" + text("Sieć") +
                "</th><th>" + text("Status") + "</th><th>" + text("Opis") + "</th></tr>\n";
        for (auto it = own_.rbegin(); it != own_.rend(); ++it) {
            html += "<tr><td>" + when(it->time) + "</td><td>" + std::string(it->network) +
                    "</td><td>" + (it->status ? EscapeMarkup(format.StatusWord(*it->status, it->gender))
                                              : text("bez zmiany")) +
                    "</td><td>" + EscapeMarkup(OneLine(format.Utf8(it->description))) + "</td></tr>\n";
        }
        html += "</table></div>\n";
        if (olderOwn_) html += "<p>" + text("i starszych: ") + Grouped(olderOwn_) + "</p>\n";
    }
    html += "</main>\n";
    html += kFilterScript;
    html += kDrawScript;
    html += kStoryScript;
    html += "</body>\n</html>\n";
    return html;
}

}  // namespace plumeta::reader
