// The demo's frame time in the web page's WebAssembly, in headless Chromium
// and in Node, beside the native build's in the same run:
//   node bench/web_frame_time.mjs     (after ./go web and a native release build;
//                                      Chromium driven with tests/web's puppeteer-core)
import {execFileSync, spawn} from 'node:child_process';
import {createRequire} from 'node:module';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const page = join(root, 'build/web');
const puppeteer = createRequire(join(root, 'tests/web/package.json'))('puppeteer-core');

const node = execFileSync(process.execPath, ['--no-experimental-fetch', 'frame_bench.js'],
                          {cwd: page, encoding: 'utf8'});
console.log('Node ' + process.version + ':\n' + node.trim());

const server = spawn(process.execPath, [join(root, 'web/serve.mjs'), page, '0']);
const address = await new Promise(resolve =>
  server.stdout.once('data', line => resolve(String(line).split(' ')[0])));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
const tab = await browser.newPage();
await tab.goto(address + 'bench.html');
await tab.waitForFunction(() => document.getElementById('out').textContent.includes('done'),
                          {timeout: 120000});
console.log(await browser.version() + ':\n' +
            (await tab.$eval('#out', e => e.textContent)).replace(/Measuring...\n|done\n/g, '').trim());
await browser.close();
server.kill();

const native = execFileSync(join(root, 'build/release/bin/softboard_bench'),
                            ['--benchmark_filter=BM_DemoFrame(16)?/', '--benchmark_min_time=0.3',
                             '--no-peer'], {encoding: 'utf8'});
console.log('native (build/release/bin/softboard_bench):\n' +
            native.split('\n').filter(l => l.startsWith('BM_')).join('\n'));
