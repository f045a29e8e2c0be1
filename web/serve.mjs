// Serves a folder on 127.0.0.1 (the page and its files) until stopped:
//   node web/serve.mjs [folder] [port]
// Port 0 takes a free one; the address is printed on the first line.
import {createServer} from 'node:http';
import {readFile} from 'node:fs/promises';
import {extname, join, normalize, resolve} from 'node:path';

const folder = resolve(process.argv[2] || 'build/web');
const port = Number(process.argv[3] ?? 8000);
const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.wasm': 'application/wasm', '.png': 'image/png', '.css': 'text/css',
};

const server = createServer(async (request, response) => {
  const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  const file = normalize(join(folder, path.endsWith('/') ? path + 'index.html' : path));
  if (!file.startsWith(folder)) {
    response.writeHead(403).end();
    return;
  }
  try {
    const body = await readFile(file);
    response.writeHead(200, {
      'Content-Type': types[extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-store',
    });
    response.end(body);
  } catch {
    response.writeHead(404, {'Content-Type': 'text/plain'}).end('not found\n');
  }
});
server.listen(port, '127.0.0.1', () => {
  console.log(`http://127.0.0.1:${server.address().port}/ serves ${folder}`);
});
