// Draws one tracelens document. Every text from the document reaches the page
// through textContent (or a property that is never parsed as markup); nothing
// here builds HTML from strings. Long lists are drawn a slice at a time as
// they come near the viewport, and a folded turn is drawn when it is opened.
(function () {
  'use strict';

  var CHUNK = 40; // records or turns drawn per slice
  var FOLD_LINES = 16; // a longer text is folded
  var FOLD_CHARS = 1600;
  var OPEN_LIMIT = 300; // turns start unfolded when the timeline holds at most this many records
  var FILTER_DELAY = 160; // ms of quiet typing before the filter runs

  var ACTIVITY_STATES = ['running', 'needs-approval', 'finished', 'failed', 'cancelled', 'unknown'];
  var PARSER_STATUSES = ['succeeded', 'missing', 'failed'];
  var TODO_STATES = ['pending', 'current', 'done'];
  var KNOWN = {
    document: ['schemaVersion', 'parser', 'runId', 'harness', 'harnessVersion', 'scenario', 'parsedAt', 'state',
      'provenance', 'error'],
    state: ['activity', 'title', 'userTurns', 'messages', 'toolCalls', 'todos', 'subAgents', 'approvals',
      'toolErrors', 'contextArtifacts', 'snapshots'],
    message: ['position', 'id', 'role', 'text', 'timestamp', 'source'],
    call: ['position', 'toolUseId', 'name', 'input', 'resultText', 'isError', 'startedAt', 'endedAt', 'source']
  };

  performance.mark('report-start');

  // ---------------------------------------------------------------- helpers

  function h(tag, cls, text) {
    var node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text !== undefined && text !== null) node.textContent = String(text);
    return node;
  }
  function add(parent, child) {
    parent.appendChild(child);
    return child;
  }
  function clear(node) {
    while (node.firstChild) node.removeChild(node.firstChild);
  }
  function isObject(v) {
    return v !== null && typeof v === 'object' && !Array.isArray(v);
  }
  function str(v) {
    return typeof v === 'string' ? v : '';
  }
  function has(obj, key) {
    return Object.prototype.hasOwnProperty.call(obj, key);
  }
  function count(n) {
    return Number(n).toLocaleString('en-US');
  }
  function plural(n, one, many) {
    return count(n) + ' ' + (n === 1 ? one : (many || one + 's'));
  }
  function jsonText(v) {
    if (typeof v === 'string') return v;
    try {
      var s = JSON.stringify(v, null, 2);
      return s === undefined ? String(v) : s;
    } catch (e) {
      return String(v);
    }
  }
  function valueText(v) {
    return typeof v === 'string' ? v : JSON.stringify(v);
  }
  function timeOf(s) {
    var t = typeof s === 'string' && s ? Date.parse(s) : NaN;
    return isFinite(t) ? t : NaN;
  }
  function duration(ms) {
    if (ms < 1000) return Math.round(ms) + ' ms';
    var s = ms / 1000;
    if (s < 60) return (s < 10 ? s.toFixed(2) : s.toFixed(1)) + ' s';
    var m = Math.floor(s / 60);
    if (m < 60) return m + ' min ' + Math.round(s - m * 60) + ' s';
    return Math.floor(m / 60) + ' h ' + (m % 60) + ' min';
  }
  function bytes(n) {
    if (typeof n !== 'number' || !isFinite(n)) return '';
    if (n < 1024) return plural(n, 'byte');
    var units = ['KB', 'MB', 'GB', 'TB'], v = n / 1024, i = 0;
    while (v >= 1024 && i < units.length - 1) {
      v /= 1024;
      i++;
    }
    return v.toFixed(v < 10 ? 1 : 0) + ' ' + units[i];
  }

  // ------------------------------------------------------- reading the input

  var notes = [];
  function note(text) {
    notes.push(text);
  }
  function readJson(id) {
    var node = document.getElementById(id);
    if (!node) return {ok: false, error: 'the element is missing'};
    try {
      return {ok: true, value: JSON.parse(node.textContent)};
    } catch (e) {
      return {ok: false, error: String(e && e.message)};
    }
  }

  var metaRead = readJson('report-meta');
  var meta = metaRead.ok && isObject(metaRead.value) ? metaRead.value : {};
  var docRead = readJson('tracelens-document');
  performance.mark('report-parsed');
  var doc = docRead.ok && isObject(docRead.value) ? docRead.value : {};
  if (!docRead.ok) note('The document could not be read (' + docRead.error + '); nothing of it is shown.');
  if (meta.replacedUtf8Sequences > 0) {
    note('The input held ' + plural(meta.replacedUtf8Sequences, 'invalid UTF-8 sequence') +
      ', shown as \uFFFD.');
  }
  if (docRead.ok) {
    if (!has(doc, 'schemaVersion')) note('The document has no schemaVersion; it is read as version 2.');
    else if (doc.schemaVersion !== 2) {
      note('This page reads schemaVersion 2, the document says ' + valueText(doc.schemaVersion) +
        ': what the page knows is shown, other fields are listed as they are.');
    }
  }

  var state = isObject(doc.state) ? doc.state : {};
  if (docRead.ok && !isObject(doc.state)) note('The document has no "state" object, so it holds no records.');

  // The records of one list of the state; what is not an object is counted in a note.
  function records(owner, key, where) {
    var v = owner[key];
    if (!Array.isArray(v)) {
      if (isObject(owner) && owner === state && !isObject(doc.state)) return [];
      note(where + (v === undefined ? ' has no "' + key + '" list.' : ' "' + key + '" is not a list; it is left out.'));
      return [];
    }
    var out = [];
    for (var i = 0; i < v.length; i++) {
      if (isObject(v[i])) out.push(v[i]);
    }
    var bad = v.length - out.length;
    if (bad) note(plural(bad, 'item') + ' of "' + key + '" ' + (bad === 1 ? 'is not an object and is' : 'are not objects and are') + ' left out.');
    return out;
  }
  function positions(v) {
    return Array.isArray(v) ? v.filter(function (p) {
      return typeof p === 'number';
    }) : [];
  }

  var parser = isObject(doc.parser) ? doc.parser : {};
  if (docRead.ok && !isObject(doc.parser)) note('The document has no "parser" object.');
  var activity = isObject(state.activity) ? state.activity : {};
  if (isObject(doc.state) && !isObject(state.activity)) note('The state has no "activity" object.');

  var messages = records(state, 'messages', 'The state');
  var calls = records(state, 'toolCalls', 'The state');
  var todos = records(state, 'todos', 'The state');
  var turns = records(state, 'userTurns', 'The state');
  var subAgents = records(state, 'subAgents', 'The state');
  var approvals = records(state, 'approvals', 'The state');
  var toolErrors = records(state, 'toolErrors', 'The state');
  var contexts = records(state, 'contextArtifacts', 'The state');
  var provenance = Array.isArray(doc.provenance) ? doc.provenance.filter(isObject) : [];
  if (docRead.ok && !Array.isArray(doc.provenance)) note('The document has no "provenance" list.');

  if (has(parser, 'status') && PARSER_STATUSES.indexOf(parser.status) < 0) {
    note('Unknown parser status ' + JSON.stringify(parser.status) + '; it is shown as it is.');
  }
  if (has(activity, 'state') && ACTIVITY_STATES.indexOf(activity.state) < 0) {
    note('Unknown activity state ' + JSON.stringify(activity.state) + '; it is shown as it is.');
  }

  // ----------------------------------------------------------------- model

  function splitSource(source) {
    var m = /^(.*):(\d+)$/.exec(source);
    return m ? {file: m[1], line: Number(m[2])} : {file: null, line: 0};
  }

  function Entry(kind, index, data) {
    var where = splitSource(str(data.source));
    this.kind = kind;
    this.index = index;
    this.data = data;
    this.position = typeof data.position === 'number' ? data.position : index;
    this.file = where.file;
    this.line = where.line;
    this.time = timeOf(kind === 'message' ? data.timestamp : data.startedAt);
    this.failed = kind === 'call' && data.isError === true;
    this.inTurn = false;
    this.hay = null;
    this.input = undefined;
  }
  // A call's input as shown: an object as its fields in order, each string
  // value as its own text (so that commands and file contents read as they
  // are) and every other value as indented JSON; any other input as a whole.
  Entry.prototype.inputFields = function () {
    if (this.input === undefined) {
      var v = this.data.input;
      if (!has(this.data, 'input')) this.input = null;
      else if (isObject(v) && Object.keys(v).length) {
        this.input = Object.keys(v).map(function (k) {
          return [k, jsonText(v[k])];
        });
      } else this.input = [[null, jsonText(v)]];
    }
    return this.input;
  };
  Entry.prototype.inputText = function () {
    var fields = this.inputFields();
    return fields ? fields.map(function (f) {
      return (f[0] === null ? '' : f[0] + '\n') + f[1];
    }).join('\n') : '';
  };
  // What the filter searches: a message's text; a call's name, input and result.
  Entry.prototype.haystack = function () {
    if (this.hay === null) {
      var d = this.data;
      this.hay = (this.kind === 'message' ? str(d.text)
        : str(d.name) + '\n' + this.inputText() + '\n' + str(d.resultText)).toLowerCase();
    }
    return this.hay;
  };

  var messageEntries = messages.map(function (m, i) {
    return new Entry('message', i, m);
  });
  var callEntries = calls.map(function (c, i) {
    return new Entry('call', i, c);
  });
  var allEntries = messageEntries.concat(callEntries);
  var failedCalls = callEntries.filter(function (e) {
    return e.failed;
  }).length;

  function byPosition(list) {
    var map = new Map();
    list.forEach(function (item) {
      if (!map.has(item.position)) map.set(item.position, item);
    });
    return map;
  }
  var messageAt = byPosition(messageEntries);
  var callAt = byPosition(callEntries);
  var todoItems = todos.map(function (t, i) {
    return {data: t, position: typeof t.position === 'number' ? t.position : i, inTurn: false};
  });
  var todoAt = byPosition(todoItems);

  // Messages and calls of one turn, each in position order, merged: by line
  // when both come from the same file, else by time when both have one.
  function comesFirst(m, c) {
    if (m.file !== null && m.file === c.file) return m.line <= c.line;
    if (!isNaN(m.time) && !isNaN(c.time)) return m.time <= c.time;
    return true;
  }
  function merge(ms, cs) {
    var sort = function (a, b) {
      return a.position - b.position;
    };
    ms.sort(sort);
    cs.sort(sort);
    var out = [], i = 0, j = 0;
    while (i < ms.length && j < cs.length) out.push(comesFirst(ms[i], cs[j]) ? ms[i++] : cs[j++]);
    while (i < ms.length) out.push(ms[i++]);
    while (j < cs.length) out.push(cs[j++]);
    return out;
  }

  var dangling = 0;
  function resolve(list, map) {
    var out = [], seen = new Set();
    positions(list).forEach(function (p) {
      var item = map.get(p);
      if (!item) {
        dangling++;
      } else if (!seen.has(item)) {
        seen.add(item);
        item.inTurn = true;
        out.push(item);
      }
    });
    return out;
  }

  function Group(index, turn) {
    this.index = index;
    this.turn = turn;
    this.entries = [];
    this.todos = [];
    this.shown = [];
    this.open = false;
    this.saved = null;
    this.el = null;
    this.body = null;
    this.list = null;
    this.meta = null;
  }

  var groups = turns.map(function (turn, i) {
    var g = new Group(i, turn);
    g.entries = merge(resolve(turn.messagePositions, messageAt), resolve(turn.toolCallPositions, callAt));
    g.todos = resolve(turn.todoPositions, todoAt);
    return g;
  });
  if (dangling > 0) note(plural(dangling, 'position') + ' in the user turns name records that the document does not hold.');
  var loose = new Group(groups.length, null);
  loose.entries = merge(messageEntries.filter(function (e) {
    return !e.inTurn;
  }), callEntries.filter(function (e) {
    return !e.inTurn;
  }));
  loose.todos = todoItems.filter(function (t) {
    return !t.inTurn;
  });
  if (loose.entries.length || loose.todos.length) groups.push(loose);
  groups.forEach(function (g) {
    g.shown = g.entries;
    g.failed = g.entries.filter(function (e) {
      return e.failed;
    }).length;
  });
  var timelineSize = groups.reduce(function (n, g) {
    return n + g.entries.length;
  }, 0);
  groups.forEach(function (g) {
    g.open = timelineSize <= OPEN_LIMIT;
  });

  // ------------------------------------------------------------ lazy lists

  var observer = 'IntersectionObserver' in window ? new IntersectionObserver(function (seen) {
    seen.forEach(function (s) {
      if (s.isIntersecting && s.target.lazyList) s.target.lazyList.step();
    });
  }, {rootMargin: '1500px 0px'}) : null;

  // A list drawn CHUNK items at a time: a "show more" button at its end draws
  // the next slice when clicked or when it comes near the viewport.
  function LazyList(box, render, noun) {
    this.box = box;
    this.render = render;
    this.noun = noun;
    this.items = [];
    this.done = 0;
    this.more = null;
  }
  LazyList.prototype.reset = function (items, later) {
    this.items = items;
    this.done = 0;
    this.dropMore();
    clear(this.box);
    if (later) this.placeMore();
    else this.step();
  };
  LazyList.prototype.dropMore = function () {
    if (!this.more) return;
    if (observer) observer.unobserve(this.more);
    this.more.lazyList = null;
    if (this.more.parentNode) this.more.parentNode.removeChild(this.more);
    this.more = null;
  };
  LazyList.prototype.placeMore = function () {
    var left = this.items.length - this.done;
    if (left <= 0) return;
    var self = this;
    var more = h('button', 'more', 'Show ' + plural(Math.min(left, CHUNK), this.noun) +
      (left > CHUNK ? ' (' + count(left) + ' left)' : ''));
    more.type = 'button';
    more.lazyList = this;
    more.addEventListener('click', function () {
      self.step();
    });
    this.more = add(this.box, more);
    if (observer) observer.observe(more);
  };
  LazyList.prototype.step = function (all) {
    this.dropMore();
    var end = all ? this.items.length : Math.min(this.items.length, this.done + CHUNK);
    var frag = document.createDocumentFragment();
    for (; this.done < end; this.done++) frag.appendChild(this.render(this.items[this.done]));
    this.box.appendChild(frag);
    this.placeMore();
  };

  // ---------------------------------------------------------- record views

  // A text shown whole when short, else its first lines with a switch.
  function folded(text, cls) {
    var box = h('div', 'fold');
    var pre = add(box, h('pre', cls));
    var lines = text.split('\n');
    if (lines.length <= FOLD_LINES && text.length <= FOLD_CHARS) {
      pre.textContent = text;
      return box;
    }
    var cut = lines.slice(0, FOLD_LINES).join('\n');
    if (cut.length > FOLD_CHARS) cut = cut.slice(0, FOLD_CHARS);
    pre.textContent = cut + '\u2026';
    box.classList.add('is-folded');
    var more = 'Show all ' + (lines.length > 1 ? plural(lines.length, 'line') : plural(text.length, 'character'));
    var toggle = add(box, h('button', 'fold-toggle', more));
    toggle.type = 'button';
    toggle.addEventListener('click', function () {
      var open = box.classList.toggle('is-folded') === false;
      pre.textContent = open ? text : cut + '\u2026';
      toggle.textContent = open ? 'Show less' : more;
    });
    return box;
  }

  function chip(cls, text) {
    return h('span', 'chip ' + cls, text);
  }
  function stateChip(value, vocabulary) {
    var s = str(value);
    var known = vocabulary.indexOf(s) >= 0;
    return chip('state state-' + (known ? s : 'other'), s || 'no state');
  }
  function sourceLine(source, label) {
    var line = h('div', 'src');
    add(line, h('span', 'src-label', label || 'source'));
    add(line, h('span', 'src-path', str(source) || '(none)'));
    return line;
  }
  function extras(data, known, into) {
    Object.keys(data).forEach(function (key) {
      if (known.indexOf(key) >= 0) return;
      var row = add(into, h('div', 'extra'));
      add(row, h('span', 'extra-key', key + ':'));
      add(row, h('span', 'extra-value', valueText(data[key])));
    });
  }

  function renderMessage(e) {
    var d = e.data;
    var role = str(d.role) || 'no role';
    var card = h('article', 'rec msg role-' + (/^[a-z]+$/.test(role) ? role : 'other'));
    card.dataset.kind = 'message';
    card.dataset.position = String(e.position);
    var head = add(card, h('header', 'rec-head'));
    add(head, chip('role', role));
    if (d.timestamp) add(head, h('span', 'rec-time', d.timestamp));
    add(head, h('span', 'grow'));
    if (d.id) add(head, h('span', 'rec-id', d.id)).title = 'id';
    add(head, h('span', 'rec-pos', '#' + e.position)).title = 'message position';
    card.appendChild(folded(typeof d.text === 'string' ? d.text : '', 'rec-text'));
    extras(d, KNOWN.message, card);
    card.appendChild(sourceLine(d.source));
    return card;
  }

  function renderCall(e) {
    var d = e.data;
    var card = h('article', 'rec call' + (e.failed ? ' failed' : ''));
    card.dataset.kind = 'call';
    card.dataset.position = String(e.position);
    var head = add(card, h('header', 'rec-head'));
    add(head, h('span', 'tool-icon', '\u2699'));
    add(head, h('span', 'tool-name', str(d.name) || '(unnamed tool)'));
    if (e.failed) add(head, chip('mark mark-error', '\u2717 error'));
    else if (has(d, 'resultText')) add(head, chip('mark mark-ok', '\u2713 done'));
    else add(head, chip('mark mark-none', 'no result'));
    var start = timeOf(d.startedAt), end = timeOf(d.endedAt);
    if (!isNaN(start) && !isNaN(end) && end >= start) {
      add(head, h('span', 'dur', 'took ' + duration(end - start))).title = str(d.startedAt) + ' \u2192 ' + str(d.endedAt);
    } else if (d.startedAt) {
      add(head, h('span', 'rec-time', d.startedAt));
    }
    add(head, h('span', 'grow'));
    if (d.toolUseId) add(head, h('span', 'rec-id', d.toolUseId)).title = 'tool use id';
    add(head, h('span', 'rec-pos', '#' + e.position)).title = 'tool call position';
    var fields = e.inputFields();
    if (fields) {
      add(card, h('div', 'io-label', 'Input'));
      var box = add(card, h('div', 'fields'));
      fields.forEach(function (f) {
        if (f[0] === null) box.classList.add('whole');
        else add(box, h('div', 'field-key', f[0]));
        box.appendChild(folded(f[1], 'code'));
      });
    }
    if (has(d, 'resultText')) {
      add(card, h('div', 'io-label', e.failed ? 'Error' : 'Result'));
      card.appendChild(folded(str(d.resultText), 'code result'));
    }
    extras(d, KNOWN.call, card);
    card.appendChild(sourceLine(d.source));
    return card;
  }

  function renderEntry(e) {
    return e.kind === 'message' ? renderMessage(e) : renderCall(e);
  }

  var TODO_MARKS = {pending: '\u25CB', current: '\u25D0', done: '\u2713'};
  function renderTodo(t) {
    var d = t.data;
    var s = str(d.state);
    var row = h('li', 'todo todo-' + (TODO_STATES.indexOf(s) >= 0 ? s : 'other'));
    row.dataset.kind = 'todo';
    row.dataset.position = String(t.position);
    add(row, h('span', 'todo-mark', TODO_MARKS[s] || '?')).title = s || 'no state';
    var main = add(row, h('div', 'todo-main'));
    add(main, h('span', 'todo-text', str(d.content)));
    add(main, h('span', 'todo-state', s || 'no state'));
    main.appendChild(sourceLine(d.source));
    return row;
  }

  // ---------------------------------------------------------- the timeline

  var filter = {words: [], failedOnly: false};
  function filtering() {
    return filter.words.length > 0 || filter.failedOnly;
  }
  function matches(e) {
    if (filter.failedOnly && !e.failed) return false;
    if (!filter.words.length) return true;
    var hay = e.haystack();
    for (var i = 0; i < filter.words.length; i++) {
      if (hay.indexOf(filter.words[i]) < 0) return false;
    }
    return true;
  }

  function groupMeta(g) {
    var parts = [];
    var ms = 0, cs = 0;
    g.entries.forEach(function (e) {
      if (e.kind === 'message') ms++;
      else cs++;
    });
    if (filtering()) parts.push(count(g.shown.length) + ' of ' + count(g.entries.length) + ' match');
    parts.push(plural(ms, 'message'));
    parts.push(plural(cs, 'call'));
    if (g.failed) parts.push(count(g.failed) + ' failed');
    if (g.todos.length) parts.push(plural(g.todos.length, 'todo'));
    var first = NaN, last = NaN;
    g.entries.forEach(function (e) {
      var t = e.time, t2 = e.kind === 'call' ? timeOf(e.data.endedAt) : t;
      if (!isNaN(t) && (isNaN(first) || t < first)) first = t;
      if (!isNaN(t2) && (isNaN(last) || t2 > last)) last = t2;
    });
    if (!isNaN(first) && last > first) parts.push(duration(last - first));
    return parts.join(' \u00B7 ');
  }

  function buildGroup(g) {
    var turn = g.turn;
    var el = h('section', 'turn' + (turn ? '' : ' loose') + (g.failed ? ' has-failed' : ''));
    el.dataset.turn = turn ? String(typeof turn.position === 'number' ? turn.position : g.index) : 'none';
    var head = add(el, h('button', 'turn-head'));
    head.type = 'button';
    add(head, h('span', 'chev'));
    var label = add(head, h('span', 'turn-label', turn ? 'Turn ' + (g.index + 1) : 'Outside any turn'));
    if (turn) {
      label.title = 'turn position ' + valueText(turn.position);
      head.appendChild(stateChip(turn.state, ACTIVITY_STATES));
      add(head, h('span', 'turn-prompt', str(turn.prompt) || '(no prompt)'));
    } else {
      add(head, h('span', 'turn-prompt muted', 'Records that no user turn lists'));
    }
    g.meta = add(head, h('span', 'turn-meta', groupMeta(g)));
    head.addEventListener('click', function () {
      setOpen(g, !g.open, true);
    });
    g.el = el;
    g.head = head;
    applyOpen(g, !filtering() && timelineSize <= OPEN_LIMIT);
    return el;
  }

  function buildBody(g, now) {
    g.body = add(g.el, h('div', 'turn-body'));
    var turn = g.turn;
    if (turn) {
      var promptShown = g.entries.some(function (e) {
        return e.kind === 'message' && e.position === turn.startMessagePosition;
      });
      if (!promptShown && str(turn.prompt)) {
        var p = add(g.body, h('div', 'prompt'));
        add(p, h('div', 'io-label', 'Prompt'));
        p.appendChild(folded(turn.prompt, 'rec-text'));
      }
    }
    if (g.todos.length) {
      g.todoBox = add(g.body, h('div', 'todos'));
      add(g.todoBox, h('div', 'io-label', 'Todos'));
      var ol = add(g.todoBox, h('ol', 'todo-list'));
      new LazyList(ol, renderTodo, 'todo').reset(g.todos);
      g.todoBox.hidden = filtering();
    }
    var box = add(g.body, h('div', 'entries'));
    g.list = new LazyList(box, renderEntry, 'record');
    g.list.reset(g.shown, !now);
    if (!g.entries.length && !g.todos.length) add(box, h('p', 'muted empty', 'This turn lists no messages or calls.'));
  }

  function applyOpen(g, now) {
    if (!g.el) return;
    g.el.classList.toggle('open', g.open);
    g.head.setAttribute('aria-expanded', g.open ? 'true' : 'false');
    if (g.open && !g.body) buildBody(g, now);
    if (g.body) g.body.hidden = !g.open;
  }
  function setOpen(g, open, now) {
    g.open = open;
    applyOpen(g, now);
  }

  var timelineList = null;
  function shownGroups() {
    if (!filtering()) return groups;
    return groups.filter(function (g) {
      return g.shown.length > 0;
    });
  }

  // ---------------------------------------------------------------- layout

  var app = document.getElementById('app');

  function section(id, title, n) {
    var s = add(app, h('section', 'panel'));
    s.id = id;
    var head = add(s, h('h2', null, title));
    if (n !== undefined) add(head, h('span', 'count-badge', count(n)));
    return s;
  }
  function none(into, text) {
    add(into, h('p', 'muted empty', text || 'None.'));
  }
  function fact(into, label, value, cls) {
    var item = add(into, h('div', 'fact'));
    add(item, h('dt', null, label));
    var dd = add(item, h('dd', cls));
    if (value instanceof Node) dd.appendChild(value);
    else dd.textContent = value;
    return dd;
  }

  function renderHeader() {
    var top = add(app, h('header', 'top'));
    var brand = add(top, h('div', 'brand'));
    add(brand, h('span', 'logo', '\u25C8'));
    add(brand, h('span', null, 'tracelens report'));
    var title = str(state.title);
    add(top, h('h1', 'title' + (title ? '' : ' untitled'), title || 'Untitled run'));

    var act = add(top, h('div', 'activity'));
    var s = str(activity.state);
    var badge = add(act, h('span', 'badge state-' + (ACTIVITY_STATES.indexOf(s) >= 0 ? s : 'other'), s || 'no activity'));
    badge.title = 'activity';
    var why = add(act, h('div', 'activity-why'));
    add(why, h('span', 'reason', str(activity.reason) || 'No reason given.'));
    var ev = add(why, h('span', 'activity-detail'));
    if (activity.lastEventKind) add(ev, h('span', null, 'last event ' + activity.lastEventKind));
    why.appendChild(sourceLine(activity.source, 'evidence'));

    if (has(doc, 'error')) add(top, h('div', 'doc-error', 'Parser error: ' + valueText(doc.error)));

    var facts = add(top, h('dl', 'facts'));
    fact(facts, 'harness', [str(doc.harness), str(doc.harnessVersion)].filter(Boolean).join(' ') || '\u2014');
    fact(facts, 'parser', str(parser.name) || '\u2014', 'mono');
    var parserStatus = h('span');
    parserStatus.appendChild(stateChip(parser.status, PARSER_STATUSES));
    fact(facts, 'status', parserStatus);
    var res = parser.resolution === null || parser.resolution === undefined ? 'none' : valueText(parser.resolution);
    if (typeof parser.matchedVersion === 'string') res += ' \u2192 ' + parser.matchedVersion;
    fact(facts, 'resolution', res);
    fact(facts, 'run id', has(doc, 'runId') && doc.runId !== null ? valueText(doc.runId) : '\u2014', 'mono');
    fact(facts, 'scenario', has(doc, 'scenario') && doc.scenario !== null ? valueText(doc.scenario) : '\u2014');
    var parsedAt = typeof doc.parsedAt === 'number' ? new Date(doc.parsedAt) : null;
    fact(facts, 'parsed', parsedAt && isFinite(parsedAt.getTime())
      ? parsedAt.toISOString().replace('T', ' ').replace(/\.\d+Z$/, ' UTC') : '\u2014');
    fact(facts, 'schema', has(doc, 'schemaVersion') ? valueText(doc.schemaVersion) : '\u2014');

    var summary = add(top, h('div', 'summary'));
    summary.id = 'summary';
    [['turns', turns.length, 'turn'], ['messages', messages.length, 'message'],
      ['toolCalls', calls.length, 'tool call'], ['failedCalls', failedCalls, 'failed', 'failed'],
      ['todos', todos.length, 'todo'], ['subAgents', subAgents.length, 'sub-agent'],
      ['approvals', approvals.length, 'approval'], ['toolErrors', toolErrors.length, 'tool error'],
      ['contextArtifacts', contexts.length, 'context file']].forEach(function (c) {
      var item = add(summary, h('span', 'count' + (c[0] === 'failedCalls' && c[1] ? ' bad' : '')));
      item.dataset.count = c[0];
      add(item, h('b', null, count(c[1])));
      add(item, document.createTextNode(' ' + (c[1] === 1 || c[3] ? c[2] : c[2] + 's')));
    });

    var nav = add(top, h('nav', 'jump'));
    [['timeline', 'Timeline'], ['sub-agents', 'Sub-agents'], ['approvals', 'Approvals'],
      ['tool-errors', 'Tool errors'], ['context', 'Context files'], ['snapshots', 'Snapshots'],
      ['provenance', 'Provenance']].forEach(function (l) {
      var a = add(nav, h('a', null, l[1]));
      a.href = '#' + l[0];
    });
  }

  function renderNotes() {
    var box = add(app, h('section', 'notes'));
    box.id = 'notes';
    box.hidden = notes.length === 0;
    add(box, h('h2', null, 'Notes on this document'));
    var ul = add(box, h('ul'));
    notes.forEach(function (n) {
      add(ul, h('li', null, n));
    });
    var other = Object.keys(doc).filter(function (k) {
      return KNOWN.document.indexOf(k) < 0;
    }).map(function (k) {
      return ['', k];
    }).concat(Object.keys(state).filter(function (k) {
      return KNOWN.state.indexOf(k) < 0;
    }).map(function (k) {
      return ['state.', k];
    }));
    if (other.length) {
      box.hidden = false;
      add(box, h('p', null, 'Fields this page does not know:'));
      other.forEach(function (o) {
        var owner = o[0] ? state : doc;
        var row = add(box, h('div', 'extra'));
        add(row, h('span', 'extra-key', o[0] + o[1] + ':'));
        row.appendChild(folded(jsonText(owner[o[1]]), 'code'));
      });
    }
  }

  var status = null;
  var toolErrorList = null;
  var toolErrorItems = [];

  function renderToolbar() {
    var bar = add(app, h('div', 'toolbar'));
    var search = add(bar, h('input', 'filter'));
    search.type = 'search';
    search.id = 'filter';
    search.placeholder = 'Filter messages and tool calls\u2026';
    search.setAttribute('aria-label', 'Filter messages and tool calls by the words they contain');
    search.autocomplete = 'off';
    search.spellcheck = false;
    var sw = add(bar, h('label', 'switch'));
    var box = add(sw, h('input'));
    box.type = 'checkbox';
    box.id = 'failed-only';
    add(sw, h('span', null, 'Failed only'));
    var expand = add(bar, h('button', 'tool-button', 'Expand all'));
    expand.type = 'button';
    expand.id = 'expand-all';
    var collapse = add(bar, h('button', 'tool-button', 'Collapse all'));
    collapse.type = 'button';
    collapse.id = 'collapse-all';
    status = add(bar, h('span', 'filter-status'));
    status.id = 'filter-status';
    status.setAttribute('aria-live', 'polite');

    var timer = 0;
    function run() {
      clearTimeout(timer);
      timer = 0;
      var words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
      if (words.join(' ') === filter.words.join(' ') && box.checked === filter.failedOnly) return;
      filter.words = words;
      filter.failedOnly = box.checked;
      applyFilter();
    }
    search.addEventListener('input', function () {
      clearTimeout(timer);
      timer = setTimeout(run, FILTER_DELAY);
    });
    search.addEventListener('keydown', function (ev) {
      if (ev.key === 'Enter') run();
      if (ev.key === 'Escape') {
        search.value = '';
        run();
      }
    });
    box.addEventListener('change', run);
    expand.addEventListener('click', function () {
      shownGroups().forEach(function (g) {
        setOpen(g, true, false);
      });
    });
    collapse.addEventListener('click', function () {
      groups.forEach(function (g) {
        setOpen(g, false, false);
      });
    });
  }

  function updateStatus(visibleGroups) {
    var ms = 0, cs = 0;
    visibleGroups.forEach(function (g) {
      g.shown.forEach(function (e) {
        if (e.kind === 'message') ms++;
        else cs++;
      });
    });
    var shownTurns = visibleGroups.filter(function (g) {
      return g.turn;
    }).length;
    status.dataset.messages = String(ms);
    status.dataset.calls = String(cs);
    status.dataset.turns = String(shownTurns);
    var inTimelineMs = 0, inTimelineCs = 0;
    groups.forEach(function (g) {
      g.entries.forEach(function (e) {
        if (e.kind === 'message') inTimelineMs++;
        else inTimelineCs++;
      });
    });
    status.textContent = filtering()
      ? count(ms) + ' of ' + plural(inTimelineMs, 'message') + ' and ' + count(cs) + ' of ' +
        plural(inTimelineCs, 'tool call') + ' match, in ' + plural(shownTurns, 'turn')
      : plural(inTimelineMs, 'message') + ' and ' + plural(inTimelineCs, 'tool call') + ' in ' +
        plural(turns.length, 'turn');
    status.classList.toggle('active', filtering());
  }

  function applyFilter() {
    var t0 = performance.now();
    var active = filtering();
    groups.forEach(function (g) {
      g.shown = active ? g.entries.filter(matches) : g.entries;
      if (active) {
        if (g.saved === null) g.saved = g.open;
        g.open = g.shown.length > 0;
      } else if (g.saved !== null) {
        g.open = g.saved;
        g.saved = null;
      }
      if (g.el) {
        g.meta.textContent = groupMeta(g);
        if (g.todoBox) g.todoBox.hidden = active;
        if (g.list) g.list.reset(g.shown, true);
        applyOpen(g, false);
      }
    });
    var visible = shownGroups();
    timelineList.reset(visible);
    timelineEmpty.hidden = visible.length > 0;
    updateStatus(visible);
    document.body.classList.toggle('failed-only', filter.failedOnly);
    // Tool errors follow the filter too; with "failed only" they are all that shows besides the timeline.
    toolErrorList.reset(toolErrorItems.filter(function (t) {
      if (!filter.words.length) return true;
      var hay = str(t.text).toLowerCase();
      return filter.words.every(function (w) {
        return hay.indexOf(w) >= 0;
      });
    }));
    performance.measure('report-filter', {start: t0, end: performance.now()});
  }

  var timelineEmpty = null;
  function renderTimeline() {
    var s = section('timeline', 'Timeline', turns.length);
    if (!groups.length) none(s, 'The document holds no turns, messages or tool calls.');
    timelineEmpty = add(s, h('p', 'muted empty', 'Nothing matches.'));
    timelineEmpty.hidden = true;
    var box = add(s, h('div', 'turns'));
    timelineList = new LazyList(box, function (g) {
      return g.el || buildGroup(g);
    }, 'turn');
    timelineList.reset(groups);
  }

  function renderList(id, title, items, render, noun, empty) {
    var s = section(id, title, items.length);
    if (!items.length) none(s, empty);
    var box = add(s, h('div', 'rows'));
    var list = new LazyList(box, render, noun);
    list.reset(items);
    return list;
  }

  function renderSubAgent(a) {
    var card = h('article', 'rec agent');
    card.dataset.kind = 'subAgent';
    var head = add(card, h('header', 'rec-head'));
    add(head, h('span', 'agent-title', str(a.title) || '(untitled)'));
    head.appendChild(stateChip(a.state, ACTIVITY_STATES));
    add(head, h('span', 'grow'));
    add(head, h('span', 'rec-id', str(a.id))).title = 'sub-agent id';
    if (str(a.prompt)) card.appendChild(folded(a.prompt, 'rec-text'));
    card.appendChild(sourceLine(a.source));
    return card;
  }
  function renderApproval(a) {
    var card = h('article', 'rec approval');
    card.dataset.kind = 'approval';
    var head = add(card, h('header', 'rec-head'));
    add(head, chip('state state-needs-approval', str(a.state) || 'no state'));
    add(head, h('span', 'grow'));
    add(head, h('span', 'rec-pos', '#' + valueText(a.position)));
    card.appendChild(folded(str(a.text), 'code'));
    card.appendChild(sourceLine(a.source));
    return card;
  }
  function renderToolError(t) {
    var card = h('article', 'rec tool-error');
    card.dataset.kind = 'toolError';
    card.dataset.position = valueText(t.position);
    var head = add(card, h('header', 'rec-head'));
    add(head, chip('mark mark-error', '\u2717 tool error'));
    add(head, h('span', 'grow'));
    add(head, h('span', 'rec-pos', '#' + valueText(t.position)));
    card.appendChild(folded(str(t.text), 'code result'));
    card.appendChild(sourceLine(t.source));
    return card;
  }
  function renderContext(c) {
    var row = h('div', 'ctx-row');
    row.dataset.kind = 'contextArtifact';
    add(row, chip('kind', str(c.kind) || 'unknown kind'));
    var main = add(row, h('div', 'ctx-main'));
    add(main, h('div', 'ctx-path', str(c.path)));
    if (str(c.title)) add(main, h('div', 'ctx-title', c.title));
    var side = add(row, h('div', 'ctx-side'));
    add(side, h('span', 'ctx-size', bytes(c.sizeBytes))).title = typeof c.sizeBytes === 'number' ? plural(c.sizeBytes, 'byte') : '';
    var snap = add(side, h('span', 'ctx-snap'));
    add(snap, h('span', 'src-label', 'snapshot'));
    add(snap, h('span', 'src-path', str(c.source) || '(none)'));
    return row;
  }

  function renderSnapshots() {
    var s = section('snapshots', 'Snapshots');
    var v = state.snapshots;
    if (v === undefined || v === null || (Array.isArray(v) && !v.length)) {
      none(s, 'No snapshot metadata.');
      return;
    }
    var details = add(s, h('details', 'json-details'));
    add(details, h('summary', null, Array.isArray(v) ? plural(v.length, 'entry', 'entries')
      : isObject(v) ? Object.keys(v).join(', ') : 'value'));
    var drawn = false;
    details.addEventListener('toggle', function () {
      if (drawn || !details.open) return;
      drawn = true;
      details.appendChild(folded(jsonText(v), 'code'));
    });
  }

  function renderProvenance() {
    var s = section('provenance', 'Provenance', provenance.length);
    if (!provenance.length) none(s);
    var grid = add(s, h('div', 'prov'));
    provenance.forEach(function (p) {
      var row = add(grid, h('div', 'prov-row'));
      row.dataset.kind = 'provenance';
      add(row, h('span', 'prov-field', str(p.field)));
      add(row, h('span', 'prov-arrow', '\u2190'));
      add(row, h('span', 'prov-path', str(p.path)));
    });
  }

  function renderFooter() {
    var f = add(app, h('footer', 'foot'));
    f.textContent = 'Made by tracelens-report from a ' + bytes(meta.inputBytes) +
      ' document. Texts are shown as written in the logs; nothing from them is run or fetched.';
  }

  // ---------------------------------------------------------------- start

  // Filter haystacks are lower-cased while the browser is idle, so that the
  // first filter on a large run does not have to do it.
  function warmHaystacks() {
    var i = 0;
    var idle = window.requestIdleCallback || function (fn) {
      return setTimeout(function () {
        fn({timeRemaining: function () {
          return 8;
        }});
      }, 50);
    };
    function slice(deadline) {
      while (i < allEntries.length && deadline.timeRemaining() > 2) {
        for (var k = 0; k < 200 && i < allEntries.length; k++, i++) allEntries[i].haystack();
      }
      if (i < allEntries.length) idle(slice);
      else performance.mark('report-haystacks');
    }
    idle(slice);
  }

  function start() {
    renderHeader();
    renderNotes();
    renderToolbar();
    renderTimeline();
    renderList('sub-agents', 'Sub-agents', subAgents, renderSubAgent, 'sub-agent');
    renderList('approvals', 'Approvals', approvals, renderApproval, 'approval');
    toolErrorItems = toolErrors;
    toolErrorList = renderList('tool-errors', 'Tool errors', toolErrors, renderToolError, 'tool error');
    renderList('context', 'Context files', contexts, renderContext, 'context file');
    renderSnapshots();
    renderProvenance();
    renderFooter();
    updateStatus(groups);
    app.setAttribute('aria-busy', 'false');
    document.documentElement.dataset.ready = 'true';
    performance.mark('report-rendered');
    performance.measure('report-render', 'report-start', 'report-rendered');
    warmHaystacks();
    // A printed page shows everything.
    window.addEventListener('beforeprint', function () {
      groups.forEach(function (g) {
        setOpen(g, true, true);
      });
      timelineList.step(true);
      groups.forEach(function (g) {
        if (g.list) g.list.step(true);
      });
    });
  }

  try {
    start();
  } catch (err) {
    var box = add(app, h('div', 'doc-error', 'This page could not draw the document: ' + String(err && err.message)));
    box.id = 'draw-error';
    throw err;
  }
})();
