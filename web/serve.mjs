// Serves a folder on 127.0.0.1 (the page and its files) until stopped:
//   node web/serve.mjs [folder] [port]
// Port 0 takes a free one; the address is printed on the first line.
// Nothing outside the folder is served: a path that climbs out (an encoded
// "..") or a symbolic link that leads out is refused with 403.
import {createServer} from 'node:http';
import {readFile, realpath} from 'node:fs/promises';
import {realpathSync} from 'node:fs';
import {extname, resolve, sep} from 'node:path';

let folder;
try {
  folder = realpathSync(resolve(process.argv[2] || 'build/web'));
} catch (error) {
  console.error(`serve.mjs: cannot serve ${process.argv[2] || 'build/web'}: ${error.message}`);
  process.exit(1);
}
const port = Number(process.argv[3] ?? 8000);
const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.wasm': 'application/wasm', '.png': 'image/png', '.css': 'text/css',
};

// The folder itself or below it: "/srv/web-build" is not inside "/srv/web".
const inside = path => path === folder || path.startsWith(folder + sep);

function answer(response, code, text) {
  response.writeHead(code, {'Content-Type': 'text/plain'}).end(text + '\n');
}

const server = createServer(async (request, response) => {
  let path;
  try {
    path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  } catch {
    return answer(response, 400, 'bad request');
  }
  const file = resolve(folder, '.' + (path.endsWith('/') ? path + 'index.html' : path));
  if (!inside(file)) return answer(response, 403, 'forbidden');
  let real;
  try {
    real = await realpath(file);
  } catch {
    return answer(response, 404, 'not found');
  }
  // The real path too: a symbolic link inside may lead out.
  if (!inside(real)) return answer(response, 403, 'forbidden');
  try {
    const body = await readFile(real);
    response.writeHead(200, {
      'Content-Type': types[extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-store',
    });
    response.end(body);
  } catch {
    answer(response, 404, 'not found');
  }
});
server.listen(port, '127.0.0.1', () => {
  console.log(`http://127.0.0.1:${server.address().port}/ serves ${folder}`);
});
