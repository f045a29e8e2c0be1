// The page's side of its programs (index.html). Loaded by the page, it picks
// the program from ?program=<name> (the demo by default) and loads it; run
// again inside that program, before it starts: its standard output in the
// console area, keys to the console, the canvas the board draws on, the
// board's settings from the query string, the texture fetched from beside
// the page, and how a run ends.
var softboardPrograms = ['transdemo', 'fogged-object', 'sprites', 'wireframe', 'mipmap-floor',
                         'lightmap', 'palette'];
if (typeof Module === 'undefined') (function () {
  const name = new URLSearchParams(location.search).get('program') || 'transdemo';
  if (!softboardPrograms.includes(name)) {
    const why = 'Unknown program "' + name + '": the page runs ' + softboardPrograms.join(', ') + '.';
    console.error(why);
    document.getElementById('status').textContent = why;
    return;
  }
  const script = document.createElement('script');
  script.src = name + '.js';
  document.body.appendChild(script);
})(); else (function () {
  const text = document.getElementById('console');
  const status = document.getElementById('status');
  const canvas = document.getElementById('screen');
  const box = document.getElementById('screen-box');
  const context = canvas.getContext('2d', {alpha: false});

  // What the program writes, a byte at a time: the prompt has no line end,
  // and must be seen while the program waits for a key. Standard output and
  // standard error both show in the console area, as in a terminal;
  // standard error (the board's complaints) a line at a time, set apart.
  function show(piece, error) {
    const last = text.lastChild;
    if (!error && last && last.nodeType === Node.TEXT_NODE) {
      last.appendData(piece);
    } else if (error) {
      const line = document.createElement('span');
      line.className = 'error';
      line.textContent = piece;
      text.appendChild(line);
    } else {
      text.appendChild(document.createTextNode(piece));
    }
    text.scrollTop = text.scrollHeight;
  }
  const out = new TextDecoder();
  function write(byte) {
    show(out.decode(new Uint8Array([byte]), {stream: true}), false);
  }
  // Each line of standard error also goes to the browser's console.
  const errors = new TextDecoder();
  let line = '';
  Module.softboardErrors = [];
  function writeError(byte) {
    line += errors.decode(new Uint8Array([byte]), {stream: true});
    const end = line.indexOf('\n');
    if (end < 0) return;
    show(line.slice(0, end + 1), true);
    console.error(line.slice(0, end));
    Module.softboardErrors.push(line.slice(0, end));
    line = line.slice(end + 1);
  }
  function say(message) {
    const bytes = new TextEncoder().encode('softboard: ' + message + '\n');
    for (let i = 0; i < bytes.length; i++) writeError(bytes[i]);
  }

  // The query's bytes, as a server reads them: "+" a space, %XX a byte. So a
  // value reaches the board byte for byte, and its complaints show it as they
  // would show the environment's (URLSearchParams would make bytes that are
  // not UTF-8 into U+FFFD).
  function queryBytes(part) {
    const bytes = [];
    const pieces = part.replace(/\+/g, ' ').match(/%[0-9A-Fa-f]{2}|[^%]+|%/g) || [];
    pieces.forEach(piece => {
      if (/^%[0-9A-Fa-f]{2}$/.test(piece)) return bytes.push(parseInt(piece.slice(1), 16));
      new TextEncoder().encode(piece).forEach(b => bytes.push(b));
    });
    return bytes;
  }

  // The board's settings: ?color=16&dither=2x2 is SOFTBOARD_COLOR=16 and
  // SOFTBOARD_DITHER=2x2, read and judged as the environment's would be (the
  // board refuses what the page cannot honour). Emscripten writes each
  // character of ENV as one byte, so a value is kept as a string of its
  // bytes. A name is letters, digits and "_"; a value cannot hold a NUL.
  // (Written for the old JavaScript that emscripten's optimizer reads.)
  const settings = {};
  const refused = [];
  location.search.slice(1).split('&').forEach(pair => {
    if (!pair) return;
    const at = pair.indexOf('=');
    const name = new TextDecoder().decode(new Uint8Array(queryBytes(at < 0 ? pair : pair.slice(0, at))));
    const value = queryBytes(at < 0 ? '' : pair.slice(at + 1));
    if (!/^[A-Za-z0-9_]+$/.test(name) || name === 'program') return;
    const key = 'SOFTBOARD_' + name.toUpperCase();
    if (value.indexOf(0) >= 0) {
      delete settings[key];
      refused.push(key + ' holds a NUL byte (%00), which no value can (using its default)');
      return;
    }
    settings[key] = String.fromCharCode.apply(null, value);
  });

  Module.preRun = [function () {
    for (const name in settings) ENV[name] = settings[name];
    FS.init(null, write, writeError);
    refused.forEach(say);
    // The texture lies beside the page; without it the demo says so, as it
    // would without the file.
    addRunDependency('tex.3df');
    fetch('tex.3df')
      .then(response => (response.ok ? response.arrayBuffer() : null))
      .catch(() => null)
      .then(data => {
        if (data) FS.writeFile('tex.3df', new Uint8Array(data));
        removeRunDependency('tex.3df');
      });
  }];
  // main is started here rather than by the runtime: once it first waits
  // (for a key, for a frame) it returns, and its end comes later, when its
  // last wait is over. Then the run ends with main's status, as it would in
  // a terminal.
  Module.noInitialRun = true;
  Module.onRuntimeInitialized = () => {
    status.textContent = 'Running';
    const ended = code => { try { exit(code); } catch (e) { if (!(e instanceof ExitStatus)) throw e; } };
    const code = callMain([]);
    if (!Asyncify.currData) return ended(code);
    Asyncify.whenDone().then(ended, e => { if (!(e instanceof ExitStatus)) throw e; });
  };
  Module.onExit = code => {
    Module.softboardExitStatus = code;
    status.textContent = programName() + ' ended (exit status ' + code + ').';
  };
  function programName() {
    const name = new URLSearchParams(location.search).get('program');
    return name && name !== 'transdemo' ? 'The program ' + name : 'The demo';
  }
  Module.onAbort = what => {
    Module.softboardExitStatus = 1;
    status.textContent = 'The demo failed: ' + what;
  };

  // Keys as the old console gives them: a character, or 0 or 0xE0 then a
  // scan code. F12 saves a picture; the browser keeps its own chords.
  const extended = {ArrowUp: 0x48, ArrowDown: 0x50, ArrowLeft: 0x4B, ArrowRight: 0x4D,
                    Home: 0x47, End: 0x4F, PageUp: 0x49, PageDown: 0x51, Insert: 0x52,
                    Delete: 0x53};
  const plain = {Escape: 27, Enter: 13, Backspace: 8, Tab: 9};
  function codes(event) {
    if (event.ctrlKey || event.altKey || event.metaKey) return null;
    if (event.key.length === 1) {
      const c = event.key.charCodeAt(0);
      return c >= 0x20 && c < 0x7F ? [c] : null;
    }
    if (event.key in plain) return [plain[event.key]];
    if (event.key in extended) return [0xE0, extended[event.key]];
    const f = /^F([1-9]|10)$/.exec(event.key);
    return f ? [0, 0x3A + Number(f[1])] : null;
  }
  let waiting = [];
  Module.softboardNextKey = () => new Promise(resolve => waiting.push(resolve));
  document.addEventListener('keydown', event => {
    if (event.key === 'F12') {
      event.preventDefault();
      savePicture();
      return;
    }
    const keys = codes(event);
    if (!keys || !Module._console_queue_key) return;
    event.preventDefault();
    for (const code of keys) Module._console_queue_key(code);
    const woken = waiting;
    waiting = [];
    for (const resolve of woken) resolve();
  });

  // The canvas: as many pixels as the device has under its box, so the board
  // draws sharp at its size; shown one canvas pixel a device pixel.
  let resized = false;
  function ratio() { return window.devicePixelRatio || 1; }
  new ResizeObserver(() => { resized = true; }).observe(box);
  function watchRatio() {
    matchMedia('(resolution: ' + ratio() + 'dppx)').addEventListener('change', () => {
      resized = true;
      watchRatio();
    }, {once: true});
  }
  watchRatio();
  Module.softboardCanvasSize = () =>
    [Math.floor(box.clientWidth * ratio()), Math.floor(box.clientHeight * ratio())];
  Module.softboardTakeResized = () => {
    const was = resized;
    resized = false;
    return was;
  };
  Module.softboardPutRows = (heap, at, width, height, first, rows) => {
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    canvas.style.width = width / ratio() + 'px';
    canvas.style.height = height / ratio() + 'px';
    const pixels = new Uint8ClampedArray(heap.buffer, at, width * rows * 4);
    context.putImageData(new ImageData(pixels, width, rows), 0, first);
  };

  let saved = 0;
  function savePicture() {
    canvas.toBlob(blob => {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = 'screenshot-' + String(++saved).padStart(4, '0') + '.png';
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 1000);
    }, 'image/png');
  }
  document.getElementById('save').addEventListener('click', savePicture);
})();
