// What the web page costs a user: headless Chromium showing the demo's page
// (build/web, from ./go web) in a 900x800 viewport, the scene still and then
// moving (keys pressed through every frame), with the share of one core taken
// by all of Chromium's processes, and by the page's renderer process (where
// the demo and the board run) with its resident memory.
//   node bench/page_cost.mjs [seconds per run, default 5]
// Chromium is driven with tests/web's puppeteer-core (npm ci in tests/web).
import {spawn} from 'node:child_process';
import {readFileSync, readdirSync} from 'node:fs';
import {createRequire} from 'node:module';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const puppeteer = createRequire(join(root, 'tests/web/package.json'))('puppeteer-core');
const seconds = Number(process.argv[2] || 5);
const ticksPerSecond = 100;  // Linux's USER_HZ

// A process's stat fields after its name: state is [0], ppid [1], utime [11], stime [12].
const stat = pid => readFileSync(`/proc/${pid}/stat`, 'utf8').replace(/^.*\) /, '').split(' ');
function descendants(pid) {
  const children = new Map();
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const parent = stat(entry)[1];
      children.set(parent, [...(children.get(parent) || []), entry]);
    } catch { /* gone meanwhile */ }
  }
  const all = [String(pid)];
  for (let i = 0; i < all.length; i++) all.push(...(children.get(all[i]) || []));
  return all;
}
function cpuTicks(pids) {
  let sum = 0;
  for (const pid of pids) {
    try {
      const f = stat(pid);
      sum += Number(f[11]) + Number(f[12]);
    } catch { /* gone meanwhile */ }
  }
  return sum;
}
function rssMb(pid) {
  const line = readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmRSS:\s+(\d+)/);
  return line ? Number(line[1]) / 1024 : 0;
}
// The renderer: the process whose command line says so, largest first.
function renderer(pids) {
  let best = null, most = -1;
  for (const pid of pids) {
    try {
      if (!readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('--type=renderer')) continue;
      const rss = rssMb(pid);
      if (rss > most) [best, most] = [pid, rss];
    } catch { /* gone meanwhile */ }
  }
  return best;
}

const server = spawn(process.execPath, [join(root, 'web/serve.mjs'), join(root, 'build/web'), '0']);
const address = await new Promise(resolve =>
  server.stdout.once('data', line => resolve(String(line).split(' ')[0])));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
const tab = await browser.newPage();
await tab.setViewport({width: 900, height: 800});
await tab.goto(address);
await tab.waitForFunction(() => document.getElementById('console').textContent.endsWith('continue'),
                          {timeout: 20000});
await tab.keyboard.press('Space');

console.log(`Chromium ${await browser.version()}, 900x800, ${seconds} s a run`);
for (const scene of ['still', 'moving']) {
  let typing = scene === 'moving';
  const typist = (async () => {
    // About a key a frame, as the demo takes one a frame.
    for (let i = 0; typing; i++) {
      await tab.keyboard.press(i % 2 ? 'KeyF' : 'KeyH');
      await new Promise(resolve => setTimeout(resolve, 16));
    }
  })();
  await new Promise(resolve => setTimeout(resolve, 1500));
  const pids = descendants(browser.process().pid), page = renderer(pids);
  const before = cpuTicks(pids), pageBefore = cpuTicks([page]), start = Date.now();
  await new Promise(resolve => setTimeout(resolve, seconds * 1000));
  const used = cpuTicks(pids) - before, pageUsed = cpuTicks([page]) - pageBefore;
  const elapsed = (Date.now() - start) / 1000;
  const share = ticks => (100 * ticks / ticksPerSecond / elapsed).toFixed(1) + ' %';
  typing = false;
  await typist;
  console.log(`${scene.padEnd(7)} all of Chromium ${share(used)} of a core; the page's ` +
              `renderer ${share(pageUsed)}, ${rssMb(page).toFixed(0)} MB`);
}
await browser.close();
server.kill();
