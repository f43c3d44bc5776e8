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
      'provenance', 'error', 'usage'],
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
  var doc = docRead.ok && isObject(docRead.value) ? docRead.value : {};
  // The messages and tool calls follow the document in parts, each naming its
  // list. Each part is read and its element dropped, so the page never holds
  // the document's text twice.
  (function readParts() {
    var partsOf = {};
    var nodes = document.querySelectorAll('script.tracelens-records');
    for (var i = 0; i < nodes.length; i++) {
      var list = nodes[i].getAttribute('data-list');
      var value = null;
      try {
        value = JSON.parse(nodes[i].textContent);
      } catch (e) {
        note('A part of "' + list + '" could not be read (' + String(e && e.message) + '); it is left out.');
      }
      nodes[i].parentNode.removeChild(nodes[i]);
      if (!Array.isArray(value)) continue;
      (partsOf[list] = partsOf[list] || []).push(value);
    }
    if (!isObject(doc.state)) return;
    Object.keys(partsOf).forEach(function (list) {
      if (Array.isArray(doc.state[list]) && doc.state[list].length === 0) {
        doc.state[list] = [].concat.apply([], partsOf[list]);
      }
    });
  })();
  var docNode = document.getElementById('tracelens-document');
  if (docNode) docNode.parentNode.removeChild(docNode);
  performance.mark('report-parsed');
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
  }
  // Members of a call's input that only the harness needs.
  var BOOKKEEPING = ['call_id', 'callID', 'tool_call_id', 'toolCallId', 'internal_chat_message_metadata_passthrough'];
  // A call's input as shown: an object as its fields in order, each string
  // value as its own text (so that commands and file contents read as they
  // are) and every other value as indented JSON; any other input as a whole.
  // Arguments given as a JSON text are read; then the members beside them,
  // and bookkeeping members anywhere, are listed apart as [key, text, true].
  Entry.prototype.inputFields = function () {
    var result;
    {
      var v = this.data.input;
      if (!has(this.data, 'input')) result = null;
      else if (isObject(v) && Object.keys(v).length) {
        var args = v.arguments, parsed = null;
        if (typeof args === 'string') {
          try {
            parsed = JSON.parse(args);
          } catch (e) {
            parsed = null;
          }
        } else if (isObject(args)) parsed = args;
        var fields = [];
        if (isObject(parsed)) {
          Object.keys(parsed).forEach(function (k) {
            fields.push([k, jsonText(parsed[k]), false, parsed[k]]);
          });
        }
        Object.keys(v).forEach(function (k) {
          var aside = isObject(parsed) || BOOKKEEPING.indexOf(k) >= 0;
          if (isObject(parsed) && k === 'arguments') fields.push([k, jsonText(v[k]), true, v[k]]);
          else fields.push([k, jsonText(v[k]), aside, v[k]]);
        });
        result = fields;
      } else result = [[null, jsonText(v), false, v]];
    }
    return result;
  };
  Entry.prototype.inputText = function () {
    var fields = this.inputFields();
    return fields ? fields.map(function (f) {
      return (f[0] === null ? '' : f[0] + '\n') + f[1];
    }).join('\n') : '';
  };
  // What the filter searches: a message's text; a call's name, input and result.
  // It is lowered on each use rather than kept, which would hold a second copy of every text.
  Entry.prototype.haystack = function () {
    var d = this.data;
    return (this.kind === 'message' ? str(d.text)
      : str(d.name) + '\n' + this.inputText() + '\n' + str(d.resultText)).toLowerCase();
  };

  var messageEntries = messages.map(function (m, i) {
    return new Entry('message', i, m);
  });
  var callEntries = calls.map(function (c, i) {
    return new Entry('call', i, c);
  });
  var allEntries = messageEntries.concat(callEntries);

  // Sub-agents: a record whose source file is a sub-agent's own log (its file
  // name holds the sub-agent's id, or it is the sub-agent's source file and
  // not a file of the main conversation) belongs to that sub-agent and is
  // shown under it. A sub-agent sits under the call that launched it: the
  // call whose id, source or result names it, else whose prompt is its prompt.
  function fileName(f) {
    return f.slice(f.lastIndexOf('/') + 1);
  }
  var agents = subAgents.map(function (a, i) {
    var where = splitSource(str(a.source));
    return {data: a, index: i, id: str(a.id), file: where.file !== null ? where.file : str(a.source), entries: [],
      shown: [], call: null, box: null, list: null, drawn: false};
  });
  function namesAgent(file) {
    var name = fileName(file);
    return agents.some(function (ag) {
      return ag.id.length >= 6 && name.indexOf(ag.id) >= 0;
    });
  }
  // The files of the main conversation: where its turns start, unless a sub-agent's id names the file.
  var mainFiles = new Set();
  var starts = new Set(turns.map(function (t) {
    return t.startMessagePosition;
  }));
  messageEntries.forEach(function (e) {
    if (starts.has(e.position) && e.file && !mainFiles.has(e.file) && !namesAgent(e.file)) mainFiles.add(e.file);
  });
  // Records come from few files: the owner is found once per file.
  var ownerOfFile = new Map();
  function ownerOf(e) {
    if (!e.file) return null;
    if (ownerOfFile.has(e.file)) return ownerOfFile.get(e.file);
    var name = fileName(e.file), owner = null;
    for (var i = 0; i < agents.length && !owner; i++) {
      var ag = agents[i];
      if (ag.id.length >= 6 && name.indexOf(ag.id) >= 0) owner = ag;
      else if (ag.file && e.file === ag.file && !mainFiles.has(e.file)) owner = ag;
    }
    ownerOfFile.set(e.file, owner);
    return owner;
  }
  var ownMessages = new Map(), ownCalls = new Map();
  allEntries.forEach(function (e) {
    var ag = agents.length ? ownerOf(e) : null;
    if (!ag) return;
    e.agent = ag;
    var own = e.kind === 'message' ? ownMessages : ownCalls;
    if (!own.has(ag)) own.set(ag, []);
    own.get(ag).push(e);
  });
  // Where to look for a sub-agent's launch: calls by id, by source and by
  // prompt; results are searched only in calls whose name says they start agents.
  function index(key) {
    var map = new Map();
    callEntries.forEach(function (c) {
      var k = key(c);
      if (k && !map.has(k)) map.set(k, []);
      if (k) map.get(k).push(c);
    });
    return map;
  }
  var callsById = index(function (c) {
    return str(c.data.toolUseId);
  });
  var callsBySource = index(function (c) {
    return str(c.data.source);
  });
  var callsByPrompt = index(function (c) {
    var input = c.data.input;
    return isObject(input) ? str(input.prompt) || str(input.task) : '';
  });
  // The id-like words of those results (letters, digits, "_" and "-").
  var callsByResultWord = new Map();
  callEntries.forEach(function (c) {
    if (!agents.length || !/agent|task|spawn|delegate/i.test(str(c.data.name))) return;
    var words = str(c.data.resultText).match(/[A-Za-z0-9_-]{6,}/g) || [];
    words.forEach(function (w) {
      if (!callsByResultWord.has(w)) callsByResultWord.set(w, []);
      var list = callsByResultWord.get(w);
      if (list[list.length - 1] !== c) list.push(c);
    });
  });
  agents.forEach(function (ag) {
    ag.entries = merge(ownMessages.get(ag) || [], ownCalls.get(ag) || []);
    ag.shown = ag.entries;
    var candidates = [callsById.get(ag.id) || [], callsBySource.get(str(ag.data.source)) || [],
      ag.id.length >= 6 ? callsByResultWord.get(ag.id) || [] : [], callsByPrompt.get(str(ag.data.prompt)) || []];
    for (var t = 0; t < candidates.length && !ag.call; t++) {
      for (var i = 0; i < candidates[t].length; i++) {
        var c = candidates[t][i];
        if (c.agent !== ag && !(c.agents && c.agents.length)) {
          ag.call = c;
          c.agents = [ag];
          break;
        }
      }
    }
  });
  var looseAgents = agents.filter(function (ag) {
    return !ag.call;
  });

  // A "tool" message that repeats a call's result is shown as a pointer to the call.
  var resultOf = new Map();
  callEntries.forEach(function (c) {
    var r = str(c.data.resultText);
    if (r && !resultOf.has(r)) resultOf.set(r, c);
  });
  messageEntries.forEach(function (e) {
    var role = str(e.data.role);
    if (role === 'tool' || role === 'toolResult' || role === 'tool_result' || role === 'function') {
      var c = resultOf.get(str(e.data.text));
      if (c) e.dupOf = c;
    }
  });
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

  function notAgents(list) {
    return list.filter(function (e) {
      return !e.agent;
    });
  }
  var groups = [];
  turns.forEach(function (turn, i) {
    var g = new Group(i, turn);
    var all = merge(resolve(turn.messagePositions, messageAt), resolve(turn.toolCallPositions, callAt));
    g.entries = notAgents(all);
    g.todos = resolve(turn.todoPositions, todoAt);
    // A turn made only of a sub-agent's records is that sub-agent's, not the conversation's.
    if (all.length && !g.entries.length && !g.todos.length) return;
    g.index = groups.length;
    groups.push(g);
  });
  var mainTurns = groups.length;
  if (dangling > 0) note(plural(dangling, 'position') + ' in the user turns name records that the document does not hold.');
  var loose = new Group(groups.length, null);
  loose.entries = merge(messageEntries.filter(function (e) {
    return !e.inTurn && !e.agent;
  }), callEntries.filter(function (e) {
    return !e.inTurn && !e.agent;
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
  var lazyLists = [];
  function LazyList(box, render, noun) {
    lazyLists.push(this);
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

  // A long text is clipped to its first lines with a switch; the whole text
  // is in the page (so the browser's find and printing see it) unless it is
  // very long, when the rest is drawn on demand. A text that holds the
  // filter's words shows whole.
  var CUT_CHARS = 20000;
  var printing = false; // while printing, every text is drawn whole
  function folded(text, cls, content) {
    var box = h('div', 'fold');
    var lines = text.split('\n');
    var long = lines.length > FOLD_LINES || text.length > FOLD_CHARS;
    var node = content || h('pre', cls);
    if (!content) node.textContent = long && text.length > CUT_CHARS ? text.slice(0, CUT_CHARS) + '\u2026' : text;
    box.fullText = text;
    add(box, node);
    if (!long) return box;
    box.classList.add('is-folded');
    var more = 'Show all ' + (lines.length > 1 ? plural(lines.length, 'line') : plural(text.length, 'character'));
    var toggle = add(box, h('button', 'fold-toggle', more));
    toggle.type = 'button';
    box.unfold = function (open) {
      if (open && !content && text.length > CUT_CHARS && node.textContent.length <= CUT_CHARS + 1) {
        node.textContent = text;
        if (filter.words.length) highlight(node);
      }
      box.classList.toggle('is-folded', !open);
      toggle.textContent = open ? 'Show less' : more;
    };
    toggle.addEventListener('click', function () {
      box.unfold(box.classList.contains('is-folded'));
    });
    if (printing || (filter.words.length && holdsWords(text))) box.unfold(true);
    return box;
  }

  // ---------------------------------------------------------- markdown

  // Messages are Markdown. markdown-it reads them (raw HTML off, so tags stay
  // text) and its tokens become elements here from a fixed list of tags; no
  // HTML text is ever parsed. Links are inert: their target shows as a title.
  var md = typeof window.markdownit === 'function'
    ? window.markdownit({html: false, linkify: false, typographer: false, breaks: true}) : null;
  var BLOCK_TAGS = ['p', 'h1', 'h2', 'h3', 'h4', 'h5', 'h6', 'ul', 'ol', 'li', 'blockquote', 'table', 'thead',
    'tbody', 'tr', 'th', 'td'];
  var INLINE_TAGS = {strong: 'strong', em: 'em', s: 's'};
  var MD_LIMIT = 200000; // longer texts are shown as plain text
  function mdInline(tokens, parent) {
    var stack = [parent];
    (tokens || []).forEach(function (t) {
      var top = stack[stack.length - 1];
      if (t.type === 'link_open') {
        var link = add(top, h('span', 'md-link'));
        link.title = t.attrGet('href') || '';
        stack.push(link);
      } else if (t.nesting === 1) {
        stack.push(add(top, document.createElement(INLINE_TAGS[t.tag] || 'span')));
      } else if (t.nesting === -1) {
        if (stack.length > 1) stack.pop();
      } else if (t.type === 'code_inline') {
        add(top, h('code', 'md-code', t.content));
      } else if (t.type === 'softbreak' || t.type === 'hardbreak') {
        add(top, document.createElement('br'));
      } else if (t.type === 'image') {
        add(top, h('span', 'md-image', '[image: ' + (t.content || '') + '] ' + (t.attrGet('src') || '')));
      } else {
        add(top, document.createTextNode(t.content));
      }
    });
  }
  function markdown(text) {
    var root = h('div', 'md rec-text');
    if (!md || text.length > MD_LIMIT) {
      root.classList.add('plain');
      root.textContent = text;
      return root;
    }
    var stack = [root];
    md.parse(text, {}).forEach(function (t) {
      var top = stack[stack.length - 1];
      if (t.nesting === 1) {
        var el = document.createElement(BLOCK_TAGS.indexOf(t.tag) >= 0 ? t.tag : 'div');
        if (t.type === 'ordered_list_open' && t.attrGet('start')) el.setAttribute('start', String(Number(t.attrGet('start')) || 1));
        stack.push(add(top, el));
      } else if (t.nesting === -1) {
        if (stack.length > 1) stack.pop();
      } else if (t.type === 'inline') {
        mdInline(t.children, top);
      } else if (t.type === 'fence' || t.type === 'code_block') {
        var lang = str(t.info).trim().split(/\s+/)[0];
        add(top, lang === 'diff' || lang === 'patch' ? diffPre(t.content.replace(/\n$/, '')) : h('pre', 'code md-pre', t.content.replace(/\n$/, '')));
      } else if (t.type === 'hr') {
        add(top, document.createElement('hr'));
      } else if (t.content) {
        add(top, h('div', 'md-text', t.content));
      }
    });
    return root;
  }

  // ---------------------------------------------------------- diffs

  // A patch or unified diff, each line coloured by its first character.
  function diffPre(text) {
    var pre = h('pre', 'code diff');
    text.split('\n').forEach(function (line, i) {
      if (i) pre.appendChild(document.createTextNode('\n'));
      var c = line.charAt(0);
      var cls = line.indexOf('***') === 0 || line.indexOf('@@') === 0 || line.indexOf('+++') === 0 ||
        line.indexOf('---') === 0 ? 'd-head' : c === '+' ? 'd-add' : c === '-' ? 'd-del' : 'd-ctx';
      add(pre, h('span', cls, line));
    });
    return pre;
  }
  // The unified diff of two texts by lines (longest common subsequence);
  // runs of more than 6 unchanged lines keep 3 on each side.
  var DIFF_CELLS = 4000000;
  function unifiedDiff(a, b) {
    var x = a.split('\n'), y = b.split('\n');
    var n = x.length, m = y.length, out = [];
    if (n * m > DIFF_CELLS) {
      x.forEach(function (l) {
        out.push('-' + l);
      });
      y.forEach(function (l) {
        out.push('+' + l);
      });
      return out.join('\n');
    }
    var w = m + 1, t = new Uint32Array((n + 1) * w);
    for (var i = n - 1; i >= 0; i--) {
      for (var j = m - 1; j >= 0; j--) {
        t[i * w + j] = x[i] === y[j] ? t[(i + 1) * w + j + 1] + 1 : Math.max(t[(i + 1) * w + j], t[i * w + j + 1]);
      }
    }
    var ops = [];
    i = 0;
    j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && x[i] === y[j]) {
        ops.push(' ' + x[i]);
        i++;
        j++;
      } else if (i < n && (j === m || t[(i + 1) * w + j] >= t[i * w + j + 1])) {
        ops.push('-' + x[i++]);
      } else {
        ops.push('+' + y[j++]);
      }
    }
    for (var k = 0; k < ops.length;) {
      if (ops[k].charAt(0) !== ' ') {
        out.push(ops[k++]);
        continue;
      }
      var e = k;
      while (e < ops.length && ops[e].charAt(0) === ' ') e++;
      var keepHead = k === 0 ? 0 : 3, keepTail = e === ops.length ? 0 : 3;
      if (e - k > keepHead + keepTail + 1) {
        out.push.apply(out, ops.slice(k, k + keepHead));
        out.push('@@ ' + plural(e - k - keepHead - keepTail, 'unchanged line') + ' @@');
        out.push.apply(out, ops.slice(e - keepTail, e));
      } else {
        out.push.apply(out, ops.slice(k, e));
      }
      k = e;
    }
    return out.join('\n');
  }
  var EDIT_PAIRS = [['old_string', 'new_string'], ['old_str', 'new_str'], ['oldString', 'newString'],
    ['old_text', 'new_text'], ['oldText', 'newText']];
  var PATH_KEYS = ['file_path', 'path', 'filePath', 'notebook_path', 'filename', 'file'];
  var COMMAND_KEYS = ['command', 'cmd'];
  function isPatch(text) {
    return /^\*\*\* Begin Patch|^diff --git |^--- \S/.test(text);
  }

  function chip(cls, text) {
    return h('span', 'chip ' + cls, text);
  }
  function stateChip(value, vocabulary) {
    var s = str(value);
    var known = vocabulary.indexOf(s) >= 0;
    return chip('state state-' + (known ? s : 'other'), s || 'no state');
  }
  // Where a record was read, folded into a small details view.
  function sourceLine(source, label) {
    var line = h('details', 'src');
    add(line, h('summary', 'src-label', label || 'source'));
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
    card.id = 'message-' + e.position;
    var head = add(card, h('header', 'rec-head'));
    add(head, chip('role', role));
    if (d.timestamp) add(head, h('span', 'rec-time', d.timestamp));
    add(head, h('span', 'grow'));
    if (d.id) add(head, h('span', 'rec-id', d.id)).title = 'id';
    add(head, h('span', 'rec-pos', '#' + e.position)).title = 'message position';
    var text = typeof d.text === 'string' ? d.text : '';
    if (e.dupOf) {
      card.classList.add('dup');
      var p = add(card, h('p', 'dup-note', 'The result of '));
      var link = add(p, h('a', null, str(e.dupOf.data.name) + ' #' + e.dupOf.position));
      link.href = '#call-' + e.dupOf.position;
      p.appendChild(document.createTextNode(', shown with the call.'));
    } else {
      card.appendChild(folded(text, 'rec-text', markdown(text)));
    }
    extras(d, KNOWN.message, card);
    card.appendChild(sourceLine(d.source));
    return card;
  }

  function inputValue(key, f, d) {
    var v = f[3];
    if (key !== null && COMMAND_KEYS.indexOf(key) >= 0 && (typeof v === 'string' || Array.isArray(v))) {
      var cmd = Array.isArray(v) ? v.map(function (a) {
        return typeof a === 'string' && /^[\w@%+=:,./-]+$/.test(a) ? a : JSON.stringify(a);
      }).join(' ') : v;
      return folded(Array.isArray(v) ? cmd : f[1], 'code cmd');
    }
    if (key !== null && PATH_KEYS.indexOf(key) >= 0 && typeof v === 'string') return folded(f[1], 'code path');
    if (typeof v === 'string' && (isPatch(v) || /patch/i.test(str(d.name)) && /^[-+@ *]/m.test(v))) {
      return folded(v, 'code diff', diffPre(v));
    }
    return folded(f[1], 'code');
  }

  function renderCall(e) {
    var d = e.data;
    var card = h('article', 'rec call' + (e.failed ? ' failed' : ''));
    card.dataset.kind = 'call';
    card.dataset.position = String(e.position);
    card.id = 'call-' + e.position;
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
      var input = isObject(d.input) ? d.input : {};
      var args = fields.filter(function (f) {
        return !f[2];
      });
      var edit = EDIT_PAIRS.filter(function (pair) {
        return typeof input[pair[0]] === 'string' && typeof input[pair[1]] === 'string';
      })[0];
      args.forEach(function (f) {
        if (edit && (f[0] === edit[0] || f[0] === edit[1])) {
          if (f[0] !== edit[0]) return;
          add(box, h('div', 'field-key', 'change'));
          box.appendChild(folded(unifiedDiff(input[edit[0]], input[edit[1]]), 'code diff',
            diffPre(unifiedDiff(input[edit[0]], input[edit[1]]))));
          return;
        }
        if (f[0] === null) box.classList.add('whole');
        else add(box, h('div', 'field-key', f[0]));
        box.appendChild(inputValue(f[0], f, d));
      });
      var aside = fields.filter(function (f) {
        return f[2];
      });
      if (aside.length) {
        var more = add(card, h('details', 'bookkeeping'));
        add(more, h('summary', null, 'Other members: ' + aside.map(function (f) {
          return f[0];
        }).join(', ')));
        var grid = add(more, h('div', 'fields'));
        aside.forEach(function (f) {
          add(grid, h('div', 'field-key', f[0]));
          grid.appendChild(folded(f[1], 'code'));
        });
      }
    }
    if (has(d, 'resultText')) {
      add(card, h('div', 'io-label', e.failed ? 'Error' : 'Result'));
      card.appendChild(folded(str(d.resultText), 'code result'));
    }
    extras(d, KNOWN.call, card);
    card.appendChild(sourceLine(d.source));
    (e.agents || []).forEach(function (ag) {
      card.appendChild(renderAgent(ag));
    });
    return card;
  }

  // ---------------------------------------------------------- sub-agents

  var usage = isObject(doc.usage) ? doc.usage : null;
  var TOKEN_KEYS = [['inputTokens', 'in'], ['outputTokens', 'out'], ['cacheReadTokens', 'cache read'],
    ['cacheWriteTokens', 'cache write'], ['reasoningTokens', 'reasoning']];
  function usageText(figures) {
    if (!isObject(figures)) return '';
    var parts = TOKEN_KEYS.filter(function (k) {
      return typeof figures[k[0]] === 'number';
    }).map(function (k) {
      return count(figures[k[0]]) + ' ' + k[1];
    });
    if (typeof figures.costUsd === 'number') parts.push('$' + figures.costUsd.toFixed(figures.costUsd < 1 ? 4 : 2));
    return parts.length ? 'tokens ' + parts.join(', ') : '';
  }
  function usageFor(list, key, value) {
    if (!usage || !Array.isArray(usage[list])) return null;
    for (var i = 0; i < usage[list].length; i++) {
      if (isObject(usage[list][i]) && usage[list][i][key] === value) return usage[list][i];
    }
    return null;
  }
  function spanOf(entries) {
    var first = NaN, last = NaN;
    entries.forEach(function (e) {
      var t = e.time, t2 = e.kind === 'call' ? timeOf(e.data.endedAt) : t;
      if (!isNaN(t) && (isNaN(first) || t < first)) first = t;
      if (!isNaN(t2) && (isNaN(last) || t2 > last)) last = t2;
      if (!isNaN(t) && (isNaN(last) || t > last)) last = t;
    });
    return !isNaN(first) && last > first ? last - first : NaN;
  }

  var expandedAll = false;
  // A sub-agent as a folded box: its title, state, duration and usage; opened,
  // its prompt and its own messages and calls.
  function renderAgent(ag) {
    var a = ag.data;
    var box = h('details', 'agent');
    box.dataset.kind = 'subAgent';
    box.id = 'agent-' + ag.index;
    var sum = add(box, h('summary', 'agent-head'));
    add(sum, h('span', 'agent-label', 'Sub-agent'));
    add(sum, h('span', 'agent-title', str(a.title) || '(untitled)'));
    sum.appendChild(stateChip(a.state, ACTIVITY_STATES));
    var span = spanOf(ag.entries);
    var facts = [plural(ag.entries.length, 'record')];
    if (!isNaN(span)) facts.push(duration(span));
    var u = usageText(usageFor('subAgents', 'subAgentId', a.id));
    if (u) facts.push(u);
    add(sum, h('span', 'agent-meta', facts.join(' \u00B7 ')));
    ag.box = box;
    ag.drawn = false;
    ag.list = null;
    ag.draw = function () {
      if (ag.drawn) return;
      ag.drawn = true;
      var body = add(box, h('div', 'agent-body'));
      var id = add(body, h('div', 'agent-id', 'id '));
      add(id, h('span', 'rec-id', str(a.id)));
      if (str(a.prompt)) {
        add(body, h('div', 'io-label', 'Prompt'));
        body.appendChild(folded(a.prompt, 'rec-text', markdown(a.prompt)));
      }
      body.appendChild(sourceLine(a.source));
      var list = add(body, h('div', 'entries'));
      ag.list = new LazyList(list, renderEntry, 'record');
      ag.list.reset(ag.shown);
    };
    box.addEventListener('toggle', function () {
      if (box.open) ag.draw();
    });
    if (expandedAll || (filtering() && ag.shown.length && ag.shown.length < ag.entries.length + 1 && filter.words.length)) {
      box.open = true;
      ag.draw();
    }
    return box;
  }

  function renderEntry(e) {
    var card = e.kind === 'message' ? renderMessage(e) : renderCall(e);
    if (filter.words.length) highlight(card);
    return card;
  }

  // ---------------------------------------------------------- highlights

  function holdsWords(text) {
    var low = text.toLowerCase();
    return filter.words.some(function (w) {
      return low.indexOf(w) >= 0;
    });
  }
  // Marks every place a filter word occurs in the texts below `root` (not in
  // the sub-agent boxes, which mark their own when drawn).
  function highlight(root) {
    var walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
    var nodes = [];
    for (var n = walker.nextNode(); n; n = walker.nextNode()) {
      if (n.parentNode.closest('summary.src-label, .fold-toggle')) continue;
      nodes.push(n);
    }
    nodes.forEach(function (node) {
      var text = node.nodeValue, low = text.toLowerCase(), at = 0, found = [];
      while (at < low.length) {
        var best = -1, len = 0;
        filter.words.forEach(function (w) {
          var i = low.indexOf(w, at);
          if (i >= 0 && (best < 0 || i < best)) {
            best = i;
            len = w.length;
          }
        });
        if (best < 0) break;
        found.push([best, len]);
        at = best + len;
      }
      if (!found.length) return;
      var frag = document.createDocumentFragment(), last = 0;
      found.forEach(function (f) {
        if (f[0] > last) frag.appendChild(document.createTextNode(text.slice(last, f[0])));
        add(frag, h('mark', 'hit', text.slice(f[0], f[0] + f[1])));
        last = f[0] + f[1];
      });
      if (last < text.length) frag.appendChild(document.createTextNode(text.slice(last)));
      node.parentNode.replaceChild(frag, node);
    });
    // Open what holds a mark: folded texts, source and bookkeeping views.
    var marks = root.querySelectorAll('mark.hit');
    for (var i = 0; i < marks.length; i++) {
      for (var p = marks[i].parentNode; p && p !== root.parentNode; p = p.parentNode) {
        if (p.unfold && p.classList.contains('is-folded')) p.unfold(true);
        if (p.tagName === 'DETAILS' && !p.classList.contains('agent')) p.open = true;
      }
    }
  }

  var TODO_MARKS = {pending: '\u25CB', current: '\u25D0', done: '\u2713'};
  function renderTodo(t) {
    var d = t.data;
    var s = str(d.state);
    var row = h('li', 'todo todo-' + (TODO_STATES.indexOf(s) >= 0 ? s : 'other'));
    row.dataset.kind = 'todo';
    row.dataset.position = String(t.position);
    add(row, h('span', 'todo-mark', has(TODO_MARKS, s) ? TODO_MARKS[s] : '?')).title = s || 'no state';
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
  // A call that launched sub-agents also shows when one of their records matches.
  function matchesDeep(e) {
    if (matches(e)) return true;
    if (!e.agents) return false;
    return e.agents.some(function (ag) {
      return ag.shown.length > 0;
    });
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
    if (g.turn) {
      var u = usageText(usageFor('turns', 'turnPosition', g.turn.position));
      if (u) parts.push(u);
    }
    return parts.join(' \u00B7 ');
  }

  function buildGroup(g) {
    var turn = g.turn;
    var el = h('section', 'turn' + (turn ? '' : ' loose') + (g.failed ? ' has-failed' : ''));
    el.dataset.turn = turn ? String(typeof turn.position === 'number' ? turn.position : g.index) : 'none';
    el.id = turn ? 'turn-' + (g.index + 1) : 'turn-none';
    var anchor = add(el, h('a', 'turn-anchor', '#'));
    anchor.href = '#' + el.id;
    anchor.title = 'link to this turn';
    anchor.setAttribute('aria-label', 'link to ' + (turn ? 'turn ' + (g.index + 1) : 'the records outside any turn'));
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

  // The header is in the page already (tracelens-report writes it); here
  // the final reply becomes Markdown and the failed count a way to the failures.
  function enhanceHeader() {
    var fin = document.querySelector('#final-reply .md-src');
    var link = document.querySelector('#final-reply .final-link');
    if (fin && link) {
      var e = messageAt.get(Number(link.getAttribute('href').replace('#message-', '')));
      var text = e ? str(e.data.text) : fin.textContent;
      var box = folded(text, 'rec-text', markdown(text));
      box.classList.add('final-text');
      fin.parentNode.replaceChild(box, fin);
    }
    var failedLink = document.getElementById('failed-count');
    if (failedLink) {
      failedLink.addEventListener('click', function (ev) {
        ev.preventDefault();
        nextFailed(1);
      });
    }
  }

  // Brings a record, turn or sub-agent into view: draws and opens what holds it.
  function reveal(id) {
    var m = /^(message|call|turn|agent)-(\d+)$/.exec(id);
    if (!m) return false;
    var n = Number(m[2]), target = null;
    if (m[1] === 'turn') {
      target = groups[n - 1];
      if (!target || !target.turn) return false;
      drawUntil(target);
      setOpen(target, true, true);
      target.el.scrollIntoView();
      return true;
    }
    if (m[1] === 'agent') {
      var ag = agents[n];
      if (!ag) return false;
      if (ag.call) revealEntry(ag.call);
      if (ag.box) {
        ag.box.open = true;
        ag.draw();
        ag.box.scrollIntoView();
      }
      return true;
    }
    var e = (m[1] === 'message' ? messageAt : callAt).get(n);
    return e ? revealEntry(e) : false;
  }
  function drawUntil(g) {
    var at = timelineList.items.indexOf(g);
    if (at < 0 && filtering()) {
      clearFilter();
      at = timelineList.items.indexOf(g);
    }
    while (at >= 0 && timelineList.done <= at) timelineList.step();
  }
  function revealEntry(e) {
    if (e.agent) {
      var ag = e.agent;
      if (ag.call) revealEntry(ag.call);
      else document.getElementById('sub-agents').scrollIntoView();
      if (!ag.box) return false;
      ag.box.open = true;
      ag.draw();
      var i = ag.list.items.indexOf(e);
      while (i >= 0 && ag.list.done <= i) ag.list.step();
    } else {
      var g = groups.filter(function (x) {
        return x.entries.indexOf(e) >= 0;
      })[0];
      if (!g) return false;
      drawUntil(g);
      setOpen(g, true, true);
      var k = g.list.items.indexOf(e);
      if (k < 0 && filtering()) {
        clearFilter();
        return revealEntry(e);
      }
      while (k >= 0 && g.list.done <= k) g.list.step();
    }
    var el = document.getElementById((e.kind === 'message' ? 'message-' : 'call-') + e.position);
    if (!el) return false;
    el.scrollIntoView();
    var flashed = document.querySelectorAll('.flash');
    for (var i = 0; i < flashed.length; i++) flashed[i].classList.remove('flash');
    el.classList.add('flash');
    setTimeout(function () {
      el.classList.remove('flash');
    }, 1200);
    return true;
  }
  var failedAt = -1;
  var failedEntries = callEntries.filter(function (e) {
    return e.failed;
  });
  function nextFailed(step) {
    if (!failedEntries.length) return;
    failedAt = (failedAt + step + failedEntries.length) % failedEntries.length;
    revealEntry(failedEntries[failedAt]);
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
  var clearFilter = function () {};
  var startView = false;
  var searchBox = null, failedBox = null;
  var timelineBadge = null;
  var hitAt = -1;
  function saveView() {
    var hash = filter.words.length ? '#q=' + encodeURIComponent(searchBox.value.trim()) + (filter.failedOnly ? '&failed' : '')
      : filter.failedOnly ? '#failed' : '';
    if (hash === location.hash || (!hash && !/^#(q=|failed)/.test(location.hash))) return;
    try {
      history.replaceState(null, '', hash || location.pathname + location.search);
    } catch (e) {
      // an address that cannot change stays as it is
    }
  }
  // Moves to the next (or previous) place a filter word shows, drawing every
  // turn that matches first.
  function nextHit(step) {
    if (!filter.words.length) return;
    timelineList.step(true);
    shownGroups().forEach(function (g) {
      setOpen(g, true, true);
      if (g.list) g.list.step(true);
    });
    agents.forEach(function (ag) {
      if (ag.list && ag.box.open) ag.list.step(true);
    });
    var marks = document.querySelectorAll('#timeline mark.hit');
    if (!marks.length) return;
    var old = document.querySelector('mark.hit.current');
    if (old) old.classList.remove('current');
    hitAt = (hitAt + step + marks.length) % marks.length;
    marks[hitAt].classList.add('current');
    marks[hitAt].scrollIntoView({block: 'center'});
    status.dataset.hit = String(hitAt + 1);
    status.textContent = status.textContent.replace(/ \u00B7 match \d+ of \d+$/, '') + ' \u00B7 match ' +
      (hitAt + 1) + ' of ' + marks.length;
  }
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
    var prev = add(bar, h('button', 'tool-button hit-nav', '\u2191'));
    prev.type = 'button';
    prev.id = 'hit-prev';
    prev.title = 'previous match (Shift+Enter)';
    prev.setAttribute('aria-label', 'previous match');
    var next = add(bar, h('button', 'tool-button hit-nav', '\u2193'));
    next.type = 'button';
    next.id = 'hit-next';
    next.title = 'next match (Enter)';
    next.setAttribute('aria-label', 'next match');
    status = add(bar, h('span', 'filter-status'));
    status.id = 'filter-status';
    status.setAttribute('aria-live', 'polite');
    prev.addEventListener('click', function () {
      nextHit(-1);
    });
    next.addEventListener('click', function () {
      nextHit(1);
    });
    clearFilter = function () {
      search.value = '';
      box.checked = false;
      run();
    };
    // The view in the address: #q=words and &failed, so a link shows the same.
    var view = /^#q=([^&]*)(&failed)?$|^#failed$/.exec(location.hash);
    if (view) {
      try {
        search.value = decodeURIComponent(view[1] || '');
      } catch (e) {
        search.value = '';
      }
      box.checked = !!view[2] || location.hash === '#failed';
      startView = true;
    }
    searchBox = search;
    failedBox = box;

    var timer = 0;
    function run() {
      clearTimeout(timer);
      timer = 0;
      var words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
      if (words.join(' ') === filter.words.join(' ') && box.checked === filter.failedOnly) return false;
      filter.words = words;
      filter.failedOnly = box.checked;
      applyFilter();
      return true;
    }
    search.addEventListener('input', function () {
      clearTimeout(timer);
      timer = setTimeout(run, FILTER_DELAY);
    });
    search.addEventListener('keydown', function (ev) {
      if (ev.key === 'Enter' && !run() && filter.words.length) nextHit(ev.shiftKey ? -1 : 1);
      if (ev.key === 'Escape') {
        search.value = '';
        run();
      }
    });
    box.addEventListener('change', run);
    expand.addEventListener('click', function () {
      expandedAll = true;
      shownGroups().forEach(function (g) {
        setOpen(g, true, false);
      });
      agents.forEach(function (ag) {
        if (ag.box) {
          ag.box.open = true;
          ag.draw();
        }
      });
    });
    collapse.addEventListener('click', function () {
      expandedAll = false;
      groups.forEach(function (g) {
        setOpen(g, false, false);
      });
      agents.forEach(function (ag) {
        if (ag.box) ag.box.open = false;
      });
    });
  }

  // Counts the records that match, also those of sub-agents shown under a call.
  function updateStatus(visibleGroups) {
    var ms = 0, cs = 0;
    function tally(e) {
      if (!matches(e)) return;
      if (e.kind === 'message') ms++;
      else cs++;
    }
    visibleGroups.forEach(function (g) {
      g.shown.forEach(function (e) {
        tally(e);
        (e.agents || []).forEach(function (ag) {
          ag.shown.forEach(tally);
        });
      });
    });
    var shownTurns = visibleGroups.filter(function (g) {
      return g.turn;
    }).length;
    status.dataset.messages = String(ms);
    status.dataset.calls = String(cs);
    status.dataset.turns = String(shownTurns);
    var inTimelineMs = 0, inTimelineCs = 0;
    function total(e) {
      if (e.kind === 'message') inTimelineMs++;
      else inTimelineCs++;
      (e.agents || []).forEach(function (ag) {
        ag.entries.forEach(total);
      });
    }
    groups.forEach(function (g) {
      g.entries.forEach(total);
    });
    status.textContent = filtering()
      ? count(ms) + ' of ' + plural(inTimelineMs, 'message') + ' and ' + count(cs) + ' of ' +
        plural(inTimelineCs, 'tool call') + ' match, in ' + plural(shownTurns, 'turn')
      : plural(inTimelineMs, 'message') + ' and ' + plural(inTimelineCs, 'tool call') + ' in ' +
        plural(mainTurns, 'turn');
    status.classList.toggle('active', filtering());
  }

  function applyFilter() {
    var t0 = performance.now();
    var active = filtering();
    agents.forEach(function (ag) {
      ag.shown = active ? ag.entries.filter(matches) : ag.entries;
      if (ag.list) {
        ag.list.reset(ag.shown);
        if (active && ag.shown.length) ag.box.open = true;
      }
    });
    groups.forEach(function (g) {
      g.shown = active ? g.entries.filter(matchesDeep) : g.entries;
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
    timelineBadge.textContent = active ? count(visible.filter(function (g) {
      return g.turn;
    }).length) + ' of ' + count(mainTurns) : count(mainTurns);
    saveView();
    hitAt = -1;
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
    var s = section('timeline', 'Timeline', mainTurns);
    timelineBadge = s.querySelector('.count-badge');
    if (!groups.length) none(s, 'The document holds no turns, messages or tool calls.');
    timelineEmpty = add(s, h('p', 'muted empty', 'Nothing matches.'));
    timelineEmpty.hidden = true;
    var box = add(s, h('div', 'turns'));
    timelineList = new LazyList(box, function (g) {
      return g.el || buildGroup(g);
    }, 'turn');
    timelineList.reset(groups);
    // A small run is drawn whole (sub-agents' boxes drawn, closed), so that
    // the browser's own find sees every text; a large one is drawn as it is
    // scrolled, and its filter finds what is not drawn yet.
    var agentRecords = agents.reduce(function (n, ag) {
      return n + ag.entries.length;
    }, 0);
    if (timelineSize + agentRecords <= OPEN_LIMIT) {
      timelineList.step(true);
      groups.forEach(function (g) {
        if (g.list) g.list.step(true);
      });
      for (var pass = 0, drawn = -1; drawn !== 0 && pass < 20; pass++) {
        drawn = 0;
        agents.forEach(function (ag) {
          if (ag.box && !ag.drawn) {
            ag.draw();
            ag.list.step(true);
            drawn++;
          }
        });
      }
    }
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
  var APPROVAL_WORDS = {waiting_or_recent: 'waiting, or asked recently', pending: 'waiting for an answer',
    approved: 'approved', denied: 'denied', rejected: 'rejected'};
  // The call a tool error comes from: the call read from the same place, else
  // a failed call whose result holds the error's text.
  function callOfError(t) {
    var source = str(t.source), text = str(t.text).trim();
    var bySource = callEntries.filter(function (c) {
      return source && str(c.data.source) === source;
    })[0];
    if (bySource) return bySource;
    return failedEntries.filter(function (c) {
      return text && str(c.data.resultText).indexOf(text) >= 0;
    })[0] || null;
  }
  function renderApproval(a) {
    var card = h('article', 'rec approval');
    card.dataset.kind = 'approval';
    var head = add(card, h('header', 'rec-head'));
    var words = (has(APPROVAL_WORDS, str(a.state)) ? APPROVAL_WORDS[str(a.state)] : str(a.state).replace(/[_-]+/g, ' ')) ||
      'no state';
    add(head, chip('state state-needs-approval', words)).title = 'approval state ' + str(a.state);
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
    var c = callOfError(t);
    if (c) {
      var link = add(card, h('a', 'error-call', 'Go to the call: ' + (str(c.data.name) || 'tool') + ' #' + c.position));
      link.href = '#call-' + c.position;
    }
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
    details.drawNow = function () {
      if (drawn) return;
      drawn = true;
      details.appendChild(folded(jsonText(v), 'code'));
    };
    details.addEventListener('toggle', function () {
      if (details.open) details.drawNow();
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

  function start() {
    enhanceHeader();
    renderNotes();
    renderToolbar();
    renderTimeline();
    var agentSection = renderList('sub-agents', 'Sub-agents not tied to a call', looseAgents, renderAgent, 'sub-agent',
      agents.length ? 'Every sub-agent is shown under the call that launched it.' : 'None.');
    if (agents.length > looseAgents.length) {
      agentSection.box.parentNode.insertBefore(h('p', 'muted', plural(agents.length - looseAgents.length, 'sub-agent') +
        ' shown under the calls that launched them.'), agentSection.box);
    }
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
    performance.mark('report-haystacks'); // nothing is prepared for the filter ahead
    // A printed page shows everything, unfolded and uncut.
    window.addEventListener('afterprint', function () {
      printing = false;
    });
    window.addEventListener('beforeprint', function () {
      printing = true;
      expandedAll = true;
      groups.forEach(function (g) {
        setOpen(g, true, true);
      });
      timelineList.step(true);
      groups.forEach(function (g) {
        if (g.list) g.list.step(true);
      });
      agents.forEach(function (ag) {
        if (!ag.box) return;
        ag.box.open = true;
        ag.draw();
        ag.list.step(true);
      });
      // Every list drawn to its end, also the lists that drawing makes.
      for (var rounds = 0, left = 1; left && rounds < 50; rounds++) {
        left = 0;
        lazyLists.slice().forEach(function (l) {
          if (l.done < l.items.length && l.box.isConnected) {
            l.step(true);
            left++;
          }
        });
        agents.forEach(function (ag) {
          if (ag.box && !ag.drawn) {
            ag.box.open = true;
            ag.draw();
            left++;
          }
        });
      }
      var lazy = document.querySelectorAll('#app details');
      for (var d = 0; d < lazy.length; d++) {
        if (lazy[d].drawNow) lazy[d].drawNow();
      }
      var folds = document.querySelectorAll('.fold.is-folded');
      for (var i = 0; i < folds.length; i++) folds[i].unfold(true);
      var details = document.querySelectorAll('#app details');
      for (var k = 0; k < details.length; k++) details[k].open = true;
    });
    // Links within the page draw and open what they point at.
    document.addEventListener('click', function (ev) {
      var a = ev.target.closest && ev.target.closest('a[href^="#"]');
      if (!a) return;
      var id = a.getAttribute('href').slice(1);
      if (reveal(id)) {
        ev.preventDefault();
        try {
          history.replaceState(null, '', '#' + id);
        } catch (e) {
          // the address stays
        }
      }
    });
    // Keys: f and Shift+F go to the next and previous failed call, / to the filter.
    document.addEventListener('keydown', function (ev) {
      var t = ev.target;
      if (ev.ctrlKey || ev.metaKey || ev.altKey || (t && (t.tagName === 'INPUT' || t.tagName === 'TEXTAREA'))) return;
      if (ev.key === 'f' || ev.key === 'F') {
        ev.preventDefault();
        nextFailed(ev.key === 'F' ? -1 : 1);
      } else if (ev.key === '/') {
        ev.preventDefault();
        searchBox.focus();
      }
    });
    if (startView) {
      filter.words = searchBox.value.toLowerCase().split(/\s+/).filter(Boolean);
      filter.failedOnly = failedBox.checked;
      applyFilter();
    } else if (location.hash.length > 1) {
      reveal(location.hash.slice(1));
    }
  }

  try {
    start();
  } catch (err) {
    var box = add(app, h('div', 'doc-error', 'This page could not draw the document: ' + String(err && err.message)));
    box.id = 'draw-error';
    throw err;
  }
})();
