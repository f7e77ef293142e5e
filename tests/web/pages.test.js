// Many pages and a server that comes and goes: 50 pages open at once (each
// in a browser context of its own, as 50 people's browsers: one browser
// holds only six connections to one server) all see one scan made by the
// console; a page open across a wedge killed, a wedge started from the
// console and the server ended and started again shows the wedge ended with
// its exit code and the new one running, says it is reconnecting, and comes
// back by itself.
'use strict';

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const t = require('./support');

t.skipUnlessReady();

const console_ = path.join(t.build, 'keyvane-terminal');
const kPages = 50;

function terminalCommand(root, ...words) {
  return execFileSync(console_, ['--root', root, ...words], { encoding: 'utf8' });
}

async function openPage(browser, url) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  await page.goto(url, { waitUntil: 'domcontentloaded' });
  await t.until(page, 'the live stream', () => document.getElementById('link').textContent === 'live', undefined, 60000);
  return page;
}

async function manyPagesSeeOneScan(browser) {
  const server = await t.serveSample();
  try {
    const pages = [];
    for (let i = 0; i < kPages; ++i) pages.push(await openPage(browser, server.url));
    terminalCommand(server.root, 'scan', 'MANY-50', '--sym', 'code128', '--symid', 'code128');
    await Promise.all(pages.map((page, i) => t.until(page, `the scan on page ${i + 1}`,
      () => document.getElementById('typed').textContent.includes('C128 MANY-50 END'), undefined, 60000)));
    console.log(`${kPages} pages saw the scan`);
    await Promise.all(pages.map((p) => p.browserContext().close()));
  } finally {
    await t.stopServer(server);
  }
}

async function aPageOutlivesTheWedgeAndTheServer(browser) {
  // A root of its own (not --from): the server started again serves the same terminal.
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'keyvane-web-root-'));
  try {
    terminalCommand(root, 'init', '--from', path.join(t.source, 'samples/terminal'));
    terminalCommand(root, 'start');
    let server = await t.startServer(['--root', root, 'serve', '--port', '0']);
    const port = String(server.port);
    const page = await openPage(browser, server.url);
    await t.until(page, 'the wedge running', () => /running, pid \d+/.test(document.getElementById('wedge-state').textContent));

    // Killed as kill -9 kills it: the page shows it ended, with its exit code.
    const status = JSON.parse(terminalCommand(root, '--json', 'status'));
    process.kill(status.pid, 'SIGKILL');
    await t.until(page, 'the wedge shown ended by SIGKILL',
      () => document.getElementById('wedge-state').textContent === 'wedge: not running, ended with exit code 137');

    // A wedge started from the console shows up.
    terminalCommand(root, 'start');
    const started = JSON.parse(terminalCommand(root, '--json', 'status')).pid;
    await t.until(page, 'the wedge started from the console',
      (pid) => document.getElementById('wedge-state').textContent === `wedge: running, pid ${pid}`, started);

    // The server ends: the page says so and waits for it.
    await t.stopServer(server);
    await t.until(page, 'the page reconnecting', () => document.getElementById('link').textContent === 'reconnecting');
    // The wedge started again meanwhile.
    terminalCommand(root, 'stop');
    terminalCommand(root, 'start');
    server = await t.startServer(['--root', root, 'serve', '--port', port]);
    try {
      await t.until(page, 'the page live again', () => document.getElementById('link').textContent === 'live', undefined, 30000);
      await t.until(page, 'the new wedge running', () => /running, pid \d+/.test(document.getElementById('wedge-state').textContent));
      // And it works as before: a scan from the page.
      await page.$eval('#barcode-data', (e) => { e.value = 'AGAIN-1'; });
      await page.click('#barcode-form button');
      await t.until(page, 'the barcode in view', () => /AGAIN-1/.test(document.getElementById('in-view').textContent));
      await page.focus('#scan-key');
      await page.$eval('#scan-key', (e) => e.blur());
      await page.keyboard.down('Space');
      await t.until(page, 'the scan typed', () => document.getElementById('typed').textContent.includes('C128 AGAIN-1 END'));
      await page.keyboard.up('Space');
      await t.until(page, 'the scan key let go', () => document.getElementById('scan-key').getAttribute('aria-pressed') === 'false');
    } finally {
      await t.stopServer(server);
      terminalCommand(root, 'stop');
    }
    await page.browserContext().close();
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
}

(async () => {
  const browser = await t.launchBrowser();
  try {
    await manyPagesSeeOneScan(browser);
    await aPageOutlivesTheWedgeAndTheServer(browser);
  } finally {
    await browser.close();
  }
  console.log('passed');
})();
