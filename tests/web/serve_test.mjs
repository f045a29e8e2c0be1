// The page's server (web/serve.mjs) serves its folder and nothing else:
// paths that climb out, encoded or not, a sibling folder whose name begins
// with the folder's, and symbolic links that lead out are refused; files
// inside, links that stay inside among them, are served.
//   node --test serve_test.mjs
import {spawn} from 'node:child_process';
import {mkdirSync, mkdtempSync, rmSync, symlinkSync, writeFileSync} from 'node:fs';
import {request} from 'node:http';
import {tmpdir} from 'node:os';
import {dirname, join} from 'node:path';
import {after, before, test} from 'node:test';
import {strict as assert} from 'node:assert';
import {fileURLToPath} from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const root = mkdtempSync(join(tmpdir(), 'transdemo-serve-'));
const site = join(root, 'web');
let server, port;

before(async () => {
  // root/web is served; beside it root/web-build (the same prefix) and a
  // file of root's own.
  mkdirSync(join(site, 'sub'), {recursive: true});
  mkdirSync(join(root, 'web-build'));
  writeFileSync(join(site, 'index.html'), '<p>page</p>');
  writeFileSync(join(site, 'transdemo.wasm'), 'wasm');
  writeFileSync(join(site, 'sub', 'notes.txt'), 'inside');
  writeFileSync(join(root, 'web-build', 'CMakeCache.txt'), 'sibling');
  writeFileSync(join(root, 'secret.txt'), 'outside');
  symlinkSync(join(root, 'secret.txt'), join(site, 'file-out'));
  symlinkSync('../web-build', join(site, 'folder-out'));
  symlinkSync('sub/notes.txt', join(site, 'link-in'));
  server = spawn(process.execPath, [join(here, '../../web/serve.mjs'), site, '0']);
  port = await new Promise((resolve, reject) => {
    server.stdout.once('data', line => resolve(new URL(String(line).split(' ')[0]).port));
    server.once('exit', () => reject(new Error('the server did not start')));
  });
});
after(() => {
  server.kill();
  rmSync(root, {recursive: true, force: true});
});

// GET of `path` exactly as written (no client-side normalising of "..").
function get(path) {
  return new Promise((resolve, reject) => {
    request({host: '127.0.0.1', port, path}, response => {
      let body = '';
      response.on('data', chunk => (body += chunk));
      response.on('end', () =>
        resolve({status: response.statusCode, type: response.headers['content-type'], body}));
    }).on('error', reject).end();
  });
}

test('files inside are served, with their types', async () => {
  assert.deepEqual(await get('/'), {status: 200, type: 'text/html; charset=utf-8',
                                    body: '<p>page</p>'});
  assert.equal((await get('/transdemo.wasm')).type, 'application/wasm');
  assert.equal((await get('/sub/notes.txt')).body, 'inside');
  assert.equal((await get('/sub/%6Eotes.txt')).body, 'inside', 'an encoded letter');
  assert.equal((await get('/sub/../sub/notes.txt')).body, 'inside', '".." that stays inside');
  assert.equal((await get('/link-in')).body, 'inside', 'a link to a file inside');
  assert.equal((await get('/missing.js')).status, 404);
  assert.equal((await get('/sub')).status, 404, 'a folder without its "/"');
});

test('an encoded ".." that climbs out is refused', async () => {
  for (const path of ['/..%2Fsecret.txt', '/%2E%2E%2Fsecret.txt', '/%2e%2e%2fsecret.txt',
                      '/sub/..%2F..%2Fsecret.txt', '/..%2F..%2F..%2F..%2Fetc%2Fpasswd']) {
    const got = await get(path);
    assert.equal(got.status, 403, path);
    assert.doesNotMatch(got.body, /outside|root:/, path);
  }
  // Whole encoded segments are taken as ".." when the URL is read: the
  // root's own file, which is not there.
  assert.equal((await get('/%2e%2e/secret.txt')).status, 404);
});

test('a sibling folder whose name begins with the folder\'s is outside', async () => {
  const got = await get('/..%2Fweb-build/CMakeCache.txt');
  assert.equal(got.status, 403);
  assert.doesNotMatch(got.body, /sibling/);
});

test('a symbolic link that leads out is refused, to a file or through a folder', async () => {
  assert.equal((await get('/file-out')).status, 403);
  assert.equal((await get('/folder-out/CMakeCache.txt')).status, 403);
});

test('a malformed escape is a bad request, and the server goes on', async () => {
  assert.equal((await get('/%E0%A4%A')).status, 400);
  assert.equal((await get('/%')).status, 400);
  assert.equal((await get('/sub/notes.txt')).body, 'inside');
});
