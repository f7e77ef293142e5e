// What the browser tests share: the served terminal (keyvane-terminal serve
// --from samples/terminal on a free port, ended with the test however the
// test ends) and headless Chromium driven by puppeteer-core.
'use strict';

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const build = process.env.KEYVANE_BUILD || path.resolve(__dirname, '../../build/default');
const source = path.resolve(__dirname, '../..');
const chromium = process.env.KEYVANE_CHROMIUM || '/usr/bin/chromium';
const artifacts = process.env.KEYVANE_ARTIFACTS || path.join(build, 'Testing', 'web');

// Children to end when this process ends, whichever way it ends.
const children = new Set();
function endChildren() {
  for (const child of children) {
    try { process.kill(-child.pid, 'SIGKILL'); } catch (e) { /* gone */ }
  }
  children.clear();
}
process.on('exit', endChildren);
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(signal, () => { endChildren(); process.exit(128 + os.constants.signals[signal]); });
process.on('uncaughtException', (e) => { console.error(e); endChildren(); process.exit(1); });
process.on('unhandledRejection', (e) => { console.error(e); endChildren(); process.exit(1); });

// Says why the test cannot run on this machine (exit code 77: skipped).
function skipUnlessReady() {
  const missing = [];
  if (!fs.existsSync(chromium)) missing.push(`Chromium (${chromium}; Debian: chromium)`);
  try { require.resolve('puppeteer-core'); } catch (e) { missing.push('puppeteer-core (npm ci in tests/web)'); }
  if (missing.length) {
    // CI has both and says so: there a missing one is a failure, not a skip.
    if (process.env.KEYVANE_REQUIRE_BROWSER === '1') {
      console.log(`FAILED: the browser tests need ${missing.join(' and ')}`);
      process.exit(1);
    }
    console.log(`SKIPPED: the browser tests need ${missing.join(' and ')}`);
    process.exit(77);
  }
}

// keyvane-terminal with these words, in a process group of its own (so that
// it and the wedge it starts end together); resolves with the URL it prints.
function startServer(words, options = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(path.join(build, 'keyvane-terminal'), words, {
      detached: true, stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, ...(options.env || {}) },
    });
    children.add(child);
    let out = '';
    let err = '';
    child.stdout.on('data', (d) => {
      out += d;
      const m = /open (http:\/\/\S+)/.exec(out);
      if (m) resolve({ child, url: m[1], port: Number(new URL(m[1]).port), token: new URL(m[1]).searchParams.get('token'), root: /serving (\S+)/.exec(out)[1] });
    });
    child.stderr.on('data', (d) => { err += d; });
    child.on('exit', (code) => {
      children.delete(child);
      reject(new Error(`keyvane-terminal ${words.join(' ')} ended (${code}) before it served: ${err}`));
    });
  });
}

// Ends a server as Ctrl-C does and waits until it has gone.
function stopServer(server) {
  return new Promise((resolve) => {
    if (server.child.exitCode !== null) return resolve(server.child.exitCode);
    server.child.once('exit', (code) => { children.delete(server.child); resolve(code); });
    process.kill(server.child.pid, 'SIGINT');
  });
}

function serveSample(extra = []) {
  return startServer(['serve', '--from', path.join(source, 'samples/terminal'), '--port', '0', ...extra]);
}

async function launchBrowser() {
  const puppeteer = require('puppeteer-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'keyvane-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: profile,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-dev-shm-usage'],
  });
  const proc = browser.process();
  if (proc) children.add({ pid: proc.pid });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close().catch(() => {});
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// Waits until `fn` (run in the page) answers truthy; fails with `what` after `ms`.
async function until(page, what, fn, arg, ms = 20000) {
  try {
    return await page.waitForFunction(fn, { timeout: ms, polling: 'mutation' }, arg);
  } catch (e) {
    throw new Error(`waited ${ms} ms for ${what}`);
  }
}

function keepArtifact(name, bytes) {
  fs.mkdirSync(artifacts, { recursive: true });
  const file = path.join(artifacts, name);
  fs.writeFileSync(file, bytes);
  return file;
}

module.exports = { build, source, artifacts, skipUnlessReady, startServer, stopServer, serveSample, launchBrowser, until, keepArtifact, endChildren };
