// The served sample terminal in a real browser: the page shows the device; a
// label drawn by the console put in view and the scan key held on the page
// type "C128 ... END" on the device's screen and show the XR1 frame with a
// good CRC; a mistake planted in the settings editor is marked on its line,
// fixed, saved, the wedge started again, and the next scan follows the new
// settings, and explain tells what a barcode becomes under it; a photo
// chosen on the page is read by the engine and a card swiped. A screenshot
// of the page is kept in the test artifacts.
'use strict';

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const t = require('./support');

t.skipUnlessReady();

async function holdScanKeyUntil(page, what, fn, arg) {
  const key = await page.$('#scan-key');
  await key.scrollIntoView();
  const box = await key.boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  try {
    await t.until(page, what, fn, arg);
  } finally {
    await page.mouse.up();
  }
  await t.until(page, 'the scan key let go', () => document.getElementById('scan-key').getAttribute('aria-pressed') === 'false');
}

async function putLabelInView(page, data) {
  await page.$eval('#label-data', (e, d) => { e.value = d; }, data);
  await page.select('#label-format', 'Code128');
  await page.click('#label-form button');
  await t.until(page, 'the label in view', () => /picture/.test(document.getElementById('in-view').textContent));
}

async function editorLine(page, pattern) {
  return page.$eval('#source', (e, p) => e.value.split('\n').findIndex((l) => new RegExp(p).test(l)) + 1, pattern);
}

async function replaceInEditor(page, from, to) {
  await page.$eval('#source', (e, [a, b]) => {
    e.value = e.value.replace(a, b);
    e.dispatchEvent(new Event('input'));
  }, [from, to]);
}

(async () => {
  const server = await t.serveSample();
  const browser = await t.launchBrowser();
  const page = await browser.newPage();
  await page.setViewport({ width: 1500, height: 1100 });
  const problems = [];
  page.on('pageerror', (e) => problems.push(String(e)));
  try {
    await page.goto(server.url, { waitUntil: 'domcontentloaded' });
    // The address's token became a cookie and left the address.
    assert.equal(new URL(page.url()).search, '');

    // The device.
    await t.until(page, 'the live stream', () => document.getElementById('link').textContent === 'live');
    await t.until(page, 'the wedge running', () => /running, pid \d+/.test(document.getElementById('wedge-state').textContent));
    const screen = await page.$eval('#screen', (e) => [e.style.width, e.style.height]);
    assert.deepEqual(screen, ['240px', '320px'], 'the screen at the terminal\'s size');
    assert.equal(await page.$eval('#app-title', (e) => e.textContent), 'Edit');
    assert.equal(await page.$eval('#tray-icon', (e) => e.hidden), false, 'the wedge\'s tray icon');

    // A label in view, the scan key held: the screen and the far end.
    await putLabelInView(page, 'KV-2026');
    await holdScanKeyUntil(page, 'the barcode typed on the screen',
      () => document.getElementById('typed').textContent.includes('C128 KV-2026 END'));
    await t.until(page, 'the XR1 frame at COM3', () => {
      const rows = [...document.querySelectorAll('#peer-COM3 tr.frame')];
      return rows.some((r) => r.querySelector('.data').textContent === 'KV-2026');
    });
    const frame = await page.$$eval('#peer-COM3 tr.frame', (rows) => {
      const r = rows.find((x) => x.querySelector('.data').textContent === 'KV-2026');
      return [...r.children].map((c) => c.textContent);
    });
    assert.equal(frame[1], 'xr1');
    assert.equal(frame[3], '7', 'the length byte');
    assert.equal(frame[4], 'ok', 'the CRC');
    await t.until(page, 'the good-read sound', () => document.getElementById('sound').textContent === 'sound: good read');

    // The tray: its menu's Exit chosen asks first, in a message box on the screen; No keeps the wedge.
    await page.click('[data-menu="exit"]');
    await t.until(page, 'the choice scripted', () => document.getElementById('action-result').textContent === '');
    await page.click('#tray-icon');
    await t.until(page, 'the tray menu on the screen', () => !document.getElementById('menu').hidden &&
      /Exit/.test(document.getElementById('menu').textContent));
    await t.until(page, 'the message box on the screen', () => !document.getElementById('dialog').hidden);
    const dialog = await page.$eval('#dialog', (e) => ({
      caption: e.querySelector('#dialog-caption').textContent,
      text: e.querySelector('#dialog-text').textContent,
      buttons: [...e.querySelectorAll('#dialog-buttons button')].map((b) => b.textContent + (b.classList.contains('answered') ? '*' : '')),
    }));
    assert.match(dialog.caption, /^Keyvane /);
    assert.equal(dialog.text, 'Are you sure you want to close Keyvane');
    assert.deepEqual(dialog.buttons, ['Yes', 'No*'], 'Yes/No, answered No');
    await page.click('#dialog-buttons button:last-child');
    await t.until(page, 'the message box closed', () => document.getElementById('dialog').hidden);
    await page.click('#menu div');
    assert.match(await page.$eval('#wedge-state', (e) => e.textContent), /running/);

    // The settings: a planted mistake is marked on its line.
    await t.until(page, 'the settings file in the editor', () => document.getElementById('source').value.includes('[Barcode1]'));
    await replaceInEditor(page, 'prefix = 67,49,50,56,32\n', 'prefix = 67,49,50,56,32,X\n');
    const line = await editorLine(page, '^prefix = 67,49,50,56,32,X');
    assert.ok(line > 0);
    await t.until(page, `line ${line} marked as an error`,
      (n) => document.querySelector(`#gutter div[data-line="${n}"]`)?.className === 'error', line);
    const mark = await page.$eval(`#gutter div[data-line="${line}"]`, (e) => e.title);
    assert.match(mark, /neither digits nor commas/);
    // The effective value of the key under the mouse.
    const area = await page.$('#source');
    const box = await area.boundingBox();
    const lineHeight = await page.$eval('#source', (e) => parseFloat(getComputedStyle(e).lineHeight));
    await page.$eval('#source', (e) => { e.scrollTop = 0; });
    const ending = await editorLine(page, '^EnableLEDs');
    await page.mouse.move(box.x + 40, box.y + 4 + (ending - 1) * lineHeight + lineHeight / 2);
    await t.until(page, 'the effective value of EnableLEDs', () => /^EnableLEDs = 1 {2}\(Keyvane\.ini:\d+\)$/.test(document.getElementById('hover').textContent));

    // Saving a file with errors asks first; said no, nothing is saved.
    page.once('dialog', (d) => d.dismiss());
    await page.click('#save');
    await t.until(page, 'the save refused', () => document.getElementById('action-result').textContent === 'not saved');

    // Fixed, the mark goes; saved, the wedge starts again on it.
    await replaceInEditor(page, 'prefix = 67,49,50,56,32,X\n', 'prefix = 60,60\n');
    await t.until(page, `line ${line} no longer marked`,
      (n) => document.querySelector(`#gutter div[data-line="${n}"]`)?.className === '', line);
    const before = await page.$eval('#wedge-state', (e) => e.textContent);
    await page.click('#save');
    await t.until(page, 'the settings saved', () => document.getElementById('action-result').textContent === 'saved; the wedge started again', undefined, 40000);
    await t.until(page, 'a new wedge running', (b) => {
      const now = document.getElementById('wedge-state').textContent;
      return /running, pid \d+/.test(now) && now !== b;
    }, before);
    await page.click('#clear-text');
    await t.until(page, 'the screen cleared', () => document.getElementById('typed').textContent === '');
    await putLabelInView(page, 'KV-2027');
    await holdScanKeyUntil(page, 'the next scan under the new settings',
      () => document.getElementById('typed').textContent.includes('<<KV-2027 END'));

    // What a barcode becomes under the file in the editor.
    await page.$eval('#explain-data', (e) => { e.value = 'E-1'; });
    await page.click('#explain-form button');
    await t.until(page, 'explain\'s answer', () => document.getElementById('explain').textContent.includes('typed: <<E-1 END'), undefined, 60000);
    assert.match(await page.$eval('#explain', (e) => e.textContent), /serial: xr1 sequence 1 length 3 crc ok data E-1/);

    // A photo chosen from the disk, read by the real engine; a card swiped.
    const photo = path.join(server.root, '..', `keyvane-photo-${process.pid}.png`);
    execFileSync(path.join(t.build, 'keyvane-terminal'), ['--root', server.root, 'label', 'PIC-9', '--sym', 'Code128',
      '--out', photo, '--rotate', '4', '--blur', '0.6']);
    try {
      await page.click('#clear-text');
      await t.until(page, 'the screen cleared', () => document.getElementById('typed').textContent === '');
      const chooser = await page.$('#picture');
      await chooser.uploadFile(photo);
      await t.until(page, 'the photo in view', () => /picture .*picture-/.test(document.getElementById('in-view').textContent));
      await holdScanKeyUntil(page, 'the photo\'s barcode typed',
        () => document.getElementById('typed').textContent.includes('<<PIC-9 END'));
    } finally {
      fs.rmSync(photo, { force: true });
    }
    await page.$eval('#swipe-data', (e) => { e.value = '%B4111111111111111^DOE/JOHN^2512?'; });
    await page.click('#swipe-form button');
    await t.until(page, 'the card typed', () => document.getElementById('typed').textContent.includes('4111111111111111\n'));

    const shot = await page.screenshot({ fullPage: true });
    console.log(`screenshot: ${t.keepArtifact('device.png', shot)}`);
    assert.deepEqual(problems, [], 'no script errors on the page');
  } catch (e) {
    // What the page showed when it failed.
    t.keepArtifact('device-failed.png', await page.screenshot({ fullPage: true }).catch(() => Buffer.alloc(0)));
    console.error('action result:', await page.$eval('#action-result', (x) => x.textContent).catch(() => '?'), problems);
    throw e;
  } finally {
    await browser.close();
    const code = await t.stopServer(server);
    assert.equal(code, 0, 'the server ends cleanly on Ctrl-C');
  }
  console.log('passed');
})();
