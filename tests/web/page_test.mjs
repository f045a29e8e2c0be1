// The web page in headless Chromium: it loads, shows the instructions, takes
// keys, draws the native build's pixels bit for bit, follows resizes, ends
// with the demo's status, and says what the terminal would say when the
// texture is missing or a setting is bad, showing values byte for byte as
// the native board does; what a page cannot honour it refuses at start.
//   node page_test.mjs <page folder> <native transdemo>
// Exits 77 (skipped) when Chromium, puppeteer-core or the page is missing.
import {spawn, spawnSync} from 'node:child_process';
import {copyFileSync, existsSync, mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';
import {readPng} from './png.mjs';

const [pageDir, demo] = process.argv.slice(2).map(path => resolve(path));
const here = dirname(fileURLToPath(import.meta.url));
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
function skip(why) {
  console.log('skipped: ' + why);
  process.exit(77);
}
if (!existsSync(chromium)) skip(`no Chromium at ${chromium} (apt-get install chromium)`);
for (const file of ['index.html', 'page.js', 'transdemo.js', 'transdemo.wasm', 'tex.3df',
                    'wireframe.js', 'wireframe.wasm', 'mipmap-floor.js', 'lightmap.js', 'palette.js'])
  if (!existsSync(join(pageDir, file))) skip(`no ${file} in ${pageDir}: build the page (./go web)`);
let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch {
  skip('no puppeteer-core: npm ci in tests/web');
}

// A folder served on a free port of 127.0.0.1; the server's address.
async function serve(folder) {
  const server = spawn(process.execPath, [join(here, '../../web/serve.mjs'), folder, '0']);
  const address = await new Promise((resolve, reject) => {
    server.stdout.once('data', line => resolve(String(line).split(' ')[0]));
    server.once('exit', () => reject(new Error('the server did not start')));
  });
  return {address, stop: () => server.kill()};
}

const work = mkdtempSync(join(tmpdir(), 'transdemo-web-'));
const noTexture = join(work, 'no-texture');
spawnSync('mkdir', [noTexture]);
for (const file of ['index.html', 'page.js', 'transdemo.js', 'transdemo.wasm'])
  copyFileSync(join(pageDir, file), join(noTexture, file));
const page = await serve(pageDir), bare = await serve(noTexture);
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         `--user-data-dir=${join(work, 'profile')}`],
});

const instructions = 'This demo demonstrates the\n' +
  'translucency/texture/gouraud shading capabilities\n' +
  'of your 3D card, to move the transparent triangle\n' +
  'use the f,g,h,b keys, to change the opacity of the\n' +
  'translucent triangle use the o,p keys,\n' +
  'to quit press esc.\n' +
  'Press any key to continue';

// The page at `query`, its console errors gathered, once the prompt shows.
async function open(query, {server = page, width = 900, height = 800, scale = 1} = {}) {
  const tab = await browser.newPage();
  await tab.setViewport({width, height, deviceScaleFactor: scale});
  tab.errors = [];
  tab.on('console', message => message.type() === 'error' && tab.errors.push(message.text()));
  tab.on('pageerror', error => tab.errors.push('page error: ' + error.message));
  await tab.goto(server.address + query);
  await tab.waitForFunction(
      text => document.getElementById('console').textContent.endsWith(text),
      {timeout: 20000}, 'continue');
  return tab;
}
const text = tab => tab.$eval('#console', e => e.textContent);
const status = tab => tab.$eval('#status', e => e.textContent);
// Lets the demo's loop run `n` frames: it takes a key a frame.
const frames = (tab, n) => tab.evaluate(n => new Promise(resolve => {
  const next = () => (n-- <= 0 ? resolve() : requestAnimationFrame(next));
  next();
}), n);
async function type(tab, keys) {
  for (const key of keys) await tab.keyboard.press(key === ' ' ? 'Space' : 'Key' + key.toUpperCase());
  await frames(tab, keys.length + 4);
}
async function ended(tab) {
  await tab.waitForFunction(() => Module.softboardExitStatus !== undefined, {timeout: 20000});
  return tab.evaluate(() => Module.softboardExitStatus);
}
async function canvas(tab) {
  return tab.evaluate(() => {
    const c = document.getElementById('screen');
    const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let bytes = '';
    for (let i = 0; i < data.length; i += 0x8000)
      bytes += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return {width: c.width, height: c.height, css: c.getBoundingClientRect().width,
            rgba: btoa(bytes)};
  }).then(c => ({...c, rgba: Buffer.from(c.rgba, 'base64')}));
}
// The native demo's last frame, headless, after the same keys.
function native(settings, keys) {
  const shot = join(work, 'native.png');
  const env = {...process.env, SOFTBOARD_DISPLAY: 'headless', SOFTBOARD_SCREENSHOT: shot};
  for (const [name, value] of Object.entries(settings)) env['SOFTBOARD_' + name.toUpperCase()] = value;
  const run = spawnSync(demo, {cwd: dirname(demo), input: ' ' + keys + '\x1b', env});
  if (run.status !== 0) throw new Error('the native demo failed: ' + run.stderr);
  return readPng(shot);
}
function samePixels(got, want) {
  if (got.width !== want.width || got.height !== want.height)
    return `the canvas is ${got.width}x${got.height}, the native frame ${want.width}x${want.height}`;
  for (let i = 0; i < want.rgba.length; i++) {
    if (got.rgba[i] !== want.rgba[i]) {
      const p = i >> 2;
      return `at ${p % want.width}, ${Math.floor(p / want.width)} channel ${i & 3}: ` +
             `${got.rgba[i]} in the page, ${want.rgba[i]} native`;
    }
  }
  return null;
}

const cases = [];
const test = (name, body) => cases.push({name, body});
function expect(ok, what) {
  if (!ok) throw new Error(what);
}

const keys = 'hhhhhbbbpppp';
test('the instructions, a key, and frames as the native build draws them', async () => {
  const tab = await open('?scale=1');
  expect(await text(tab) === instructions, 'the console shows ' + JSON.stringify(await text(tab)));
  await type(tab, ' ');
  const first = samePixels(await canvas(tab), native({scale: '1'}, ''));
  expect(!first, 'the first frame: ' + first);
  await type(tab, keys);
  const moved = samePixels(await canvas(tab), native({scale: '1'}, keys));
  expect(!moved, 'after the keys: ' + moved);
  await tab.keyboard.press('Escape');
  expect(await ended(tab) === 0, 'Esc ends with status 0');
  expect(await status(tab) === 'The demo ended (exit status 0).', await status(tab));
  expect(tab.errors.length === 0, tab.errors.join('; '));
  await tab.close();
});

for (const settings of [{scale: '1', color: '16'}, {scale: '1', ssaa: '2'},
                        {scale: '1.5', color: '16', dither: '2x2', ssaa: '2'}]) {
  const query = '?' + new URLSearchParams(settings);
  test(`the native pixels with ${query}`, async () => {
    const tab = await open(query);
    await type(tab, ' ' + keys);
    const wrong = samePixels(await canvas(tab), native(settings, keys));
    expect(!wrong, wrong);
    await tab.close();
  });
}

test('drawn at the device pixels of its box, and again when the box changes', async () => {
  const tab = await open('?dither=off', {width: 800, height: 700, scale: 2});
  await type(tab, ' ' + keys);
  let shown = await canvas(tab);
  expect(shown.css * 2 === shown.width, `${shown.width} pixels across ${shown.css} CSS pixels`);
  let wrong = samePixels(shown, native({scale: String(shown.width / 640), dither: 'off'}, keys));
  expect(!wrong, wrong);
  await tab.setViewport({width: 500, height: 600, deviceScaleFactor: 2});
  await frames(tab, 4);
  const resized = await canvas(tab);
  expect(resized.width < shown.width, `still ${resized.width} wide after the resize`);
  wrong = samePixels(resized, native({scale: String(resized.width / 640), dither: 'off'}, keys));
  expect(!wrong, 'after the resize: ' + wrong);
  await tab.close();
});

test('a missing tex.3df says so and ends with status 1', async () => {
  const tab = await open('', {server: bare});
  await tab.keyboard.press('Space');
  expect(await ended(tab) === 1, 'status 1');
  expect(await text(tab) === instructions + "Couldn't load tex.3df file!", await text(tab));
  expect(await status(tab) === 'The demo ended (exit status 1).', await status(tab));
  await tab.close();
});

test('bad settings get the usual complaint in the console, and their default', async () => {
  const tab = await open('?color=17&ssaa=3&scale=1');
  await type(tab, ' ');
  const complaints = tab.errors.filter(line => line.startsWith('softboard: '));
  expect(complaints.join('\n') ===
         'softboard: SOFTBOARD_SSAA="3" is not a valid value; it takes 1, 2 or 4 (using 1)\n' +
         'softboard: SOFTBOARD_COLOR="17" is not a valid value; it takes 32 or 16 (using 32)',
         complaints.join('\n'));
  const wrong = samePixels(await canvas(tab), native({scale: '1'}, ''));
  expect(!wrong, wrong);
  await tab.close();
});

// The page's console area, and the board's lines in it (standard error).
const complaints = tab => tab.evaluate(() => Module.softboardErrors.slice());
const refusal = (name, value, why, fallback) =>
  `softboard: ${name}="${value}" cannot be honoured: ${why} (using ${fallback})`;

test('what the page cannot honour is refused at start, saying why, in its console', async () => {
  const tab = await open('?display=terminal&screenshot=shot.png&scale=1');
  const said = [
    refusal('SOFTBOARD_DISPLAY', 'terminal', 'a web page has no terminal', 'window'),
    refusal('SOFTBOARD_SCREENSHOT', 'shot.png',
            'a web page saves its canvas instead, with F12 or its button', 'none')];
  expect(await text(tab) === said.join('\n') + '\n' + instructions,
         'the console shows ' + JSON.stringify(await text(tab)));
  // Then the demo runs on its canvas, and ends with no screenshot to fail.
  await type(tab, ' ' + keys);
  const wrong = samePixels(await canvas(tab), native({scale: '1'}, keys));
  expect(!wrong, wrong);
  await tab.keyboard.press('Escape');
  expect(await ended(tab) === 0, 'Esc ends with status 0');
  expect((await complaints(tab)).join('\n') === said.join('\n'), (await complaints(tab)).join('\n'));
  expect(tab.errors.join('\n') === said.join('\n'), 'the browser console: ' + tab.errors.join('; '));
  await tab.close();

  for (const [query, line] of [
    ['?display=fullscreen', refusal('SOFTBOARD_DISPLAY', 'fullscreen',
                                    'the browser puts a web page full screen, with F11', 'window')],
    ['?display=kiosk', 'softboard: SOFTBOARD_DISPLAY="kiosk" is not a valid value; it takes ' +
                       'window or headless (using window)'],
    ['?display=window&screenshot=', null],
  ]) {
    const tab = await open(query);
    const lines = await complaints(tab);
    expect(lines.join('\n') === (line ?? ''), `${query}: ${JSON.stringify(lines)}`);
    await tab.close();
  }
});

// The values of `query` given to the native demo as its environment, byte
// for byte: its lines on standard error.
function nativeComplaints(query) {
  let script = '';
  for (const pair of query.slice(1).split('&')) {
    const [name, value] = pair.split('=');
    const bytes = Buffer.from(
        value.replace(/%([0-9A-Fa-f]{2})/g, (_, hex) => String.fromCharCode(parseInt(hex, 16))),
        'latin1');
    const octal = [...bytes].map(b => '\\' + b.toString(8).padStart(3, '0')).join('');
    script += `export SOFTBOARD_${name.toUpperCase()}="$(printf '${octal}')"\n`;
  }
  const run = spawnSync('sh', ['-c', script + 'exec "$0"', demo],
                        {cwd: dirname(demo), input: ' \x1b',
                         env: {...process.env, SOFTBOARD_DISPLAY: 'headless'}});
  if (run.status !== 0) throw new Error('the native demo failed: ' + run.stderr);
  return String(run.stderr).trimEnd().split('\n');
}

test('every value is shown escaped byte for byte, as the native board shows it', async () => {
  // Marks that reorder a line, C0 and C1 controls, DEL, bytes that are not
  // UTF-8, a line separator, quotes and backslashes, UTF-8 that stays as it
  // is, and a value cut at 40 bytes between two characters.
  const query = '?dither=%E2%80%AE4x4&color=%1B%5B31m16&ssaa=%C2%852&present=gpu%7F' +
                '&terminal=%FF%FEkitty&vsync=1%E2%80%A8&scale=%22%5C&boards=%C3%A9' +
                '&threads=' + 'x'.repeat(37) + '%C3%A9%C3%A9';
  const tab = await open(query);
  const page = await complaints(tab);
  const want = nativeComplaints(query);
  expect(want.length === 9, 'the native demo said ' + JSON.stringify(want));
  expect(page.join('\n') === want.join('\n'),
         `the page said\n${page.join('\n')}\nthe native demo\n${want.join('\n')}`);
  const dither = 'softboard: SOFTBOARD_DITHER="\\xE2\\x80\\xAE4x4" is not a valid value; ' +
                 'it takes 4x4, 2x2 or off (using 4x4)';
  expect(page.includes(dither), 'no line ' + dither);
  expect((await text(tab)).startsWith(want.join('\n') + '\n'), 'the console area shows them');
  await tab.close();

  // Those the page alone refuses: a display value that is no display, a
  // screenshot path cut at 256 bytes like every path, a NUL that a value
  // cannot hold.
  const long = 'd/'.repeat(140) + 'shot.png';
  const alone = await open(`?display=%E2%81%A6terminal&screenshot=${long}&color=16%00x`);
  expect((await complaints(alone)).join('\n') === [
    'softboard: SOFTBOARD_COLOR holds a NUL byte (%00), which no value can (using its default)',
    'softboard: SOFTBOARD_DISPLAY="\\xE2\\x81\\xA6terminal" is not a valid value; it takes ' +
        'window or headless (using window)',
    refusal('SOFTBOARD_SCREENSHOT', long.slice(0, 256) + '...',
            'a web page saves its canvas instead, with F12 or its button', 'none'),
  ].join('\n'), (await complaints(alone)).join('\n'));
  await alone.close();
});

test('?program= runs an example, and refuses a name it does not know', async () => {
  const tab = await browser.newPage();
  tab.errors = [];
  tab.on('console', message => message.type() === 'error' && tab.errors.push(message.text()));
  await tab.goto(page.address + '?program=nonesuch');
  await tab.waitForFunction(() => document.getElementById('status').textContent.startsWith('Unknown'),
                            {timeout: 20000});
  expect(await status(tab) ===
         'Unknown program "nonesuch": the page runs transdemo, fogged-object, sprites, wireframe, ' +
             'mipmap-floor, lightmap, palette.',
         await status(tab));
  expect(tab.errors.length === 1, tab.errors.join('\n'));
  await tab.goto(page.address + '?program=wireframe&scale=1');
  await tab.waitForFunction(() => document.getElementById('status').textContent === 'Running',
                            {timeout: 20000});
  await frames(tab, 10);
  const shown = await canvas(tab);
  let lit = 0;
  for (let i = 0; i < shown.rgba.length; i += 4) lit += shown.rgba[i + 2] > 100 ? 1 : 0;
  expect(lit > 2000, 'the globe is drawn: ' + lit + ' bright pixels');
  await tab.keyboard.press('Escape');
  expect(await ended(tab) === 0, 'Esc ends it');
  expect(await status(tab) === 'The program wireframe ended (exit status 0).', await status(tab));
  await tab.close();
});

test('the texture units\' examples run in the page, take their keys and end', async () => {
  // Each: what a frame of it must show, and a key it takes before Esc.
  const programs = [
    {name: 'mipmap-floor', key: 'm', drawn: rgba => {
      // The sky above the corridor's far end, tiles and bricks below and beside it.
      let sky = 0, lit = 0;
      for (let i = 0; i < rgba.length; i += 4) {
        if (rgba[i] === 0x60 && rgba[i + 1] === 0x80 && rgba[i + 2] === 0xB0) sky++;
        else if (rgba[i] + rgba[i + 1] + rgba[i + 2] > 300) lit++;
      }
      return sky > 100 && lit > 20000 ? '' : `sky ${sky}, lit ${lit}`;
    }},
    {name: 'lightmap', key: 'l', drawn: rgba => {
      let bright = 0, dim = 0;
      for (let i = 0; i < rgba.length; i += 4) {
        if (rgba[i] > 150) bright++;
        else if (rgba[i] > 0 && rgba[i] < 60) dim++;
      }
      return bright > 5000 && dim > 5000 ? '' : `bright ${bright}, dim ${dim}`;
    }},
    {name: 'palette', key: 'p', drawn: rgba => {
      const colours = new Set();
      for (let i = 0; i < rgba.length; i += 4 * 97) colours.add(rgba[i] << 16 | rgba[i + 1] << 8 | rgba[i + 2]);
      return colours.size > 100 ? '' : `${colours.size} colours`;
    }},
  ];
  for (const program of programs) {
    const tab = await browser.newPage();
    await tab.goto(page.address + `?program=${program.name}&scale=1`);
    await tab.waitForFunction(() => document.getElementById('status').textContent === 'Running',
                              {timeout: 20000});
    await frames(tab, 10);
    const why = program.drawn((await canvas(tab)).rgba);
    expect(why === '', `${program.name} draws its scene: ${why}`);
    await tab.keyboard.press(program.key);
    await frames(tab, 3);
    await tab.keyboard.press('Escape');
    expect(await ended(tab) === 0, `${program.name}: Esc ends it`);
    await tab.close();
  }
});

let failed = 0;
for (const {name, body} of cases) {
  try {
    await body();
    console.log('ok   ' + name);
  } catch (error) {
    failed++;
    console.log('FAIL ' + name + ': ' + error.message);
  }
}
await browser.close();
page.stop();
bare.stop();
rmSync(work, {recursive: true, force: true});
process.exit(failed ? 1 : 0);
