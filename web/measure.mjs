// Measures the page in headless Chromium: the site's size gzipped, the time
// from the Play click to the first picture put on the canvas for each movie
// of an archive, and the processor time the browser spends while a movie
// plays against the same span idle. Run by "./scripts/web measure", with the
// site served at the address given.
//   node web/measure.mjs URL SITE_DIR ARCHIVE
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

const [url, site, archive] = process.argv.slice(2);
const puppeteer = createRequire(import.meta.url)('puppeteer-core');

let gzipped = 0;
for (const name of fs.readdirSync(site))
  gzipped += zlib.gzipSync(fs.readFileSync(path.join(site, name)), { level: 9 }).length;
console.log(`site: ${(gzipped / 1024).toFixed(1)} KiB gzipped`);

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'reel-measure-'));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: profile,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = await browser.newPage();
await page.evaluateOnNewDocument(() => {
  const put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function putAndNote(...args) {
    if (window.firstPictureAt === null) window.firstPictureAt = performance.now();
    return put.apply(this, args);
  };
  window.firstPictureAt = 0;
  document.addEventListener('click', (event) => {
    if (event.target.id !== 'play') return;
    window.clickedAt = performance.now();
    window.firstPictureAt = null;
  }, true);
});
await page.goto(url);
await page.waitForFunction(() => !document.getElementById('file').disabled);
await (await page.$('#file')).uploadFile(archive);
await page.waitForFunction(() => !document.getElementById('choice').hidden);
const count = await page.$eval('#movies', (s) => s.options.length);

const backToList = () => page.waitForFunction(() => !document.getElementById('deck').hidden);
async function start(line) {
  await page.evaluate((l) => { document.getElementById('movies').selectedIndex = l; }, line);
  await page.click('#play');
  await page.waitForFunction(() => window.firstPictureAt !== null);
  return page.evaluate(() => window.firstPictureAt - window.clickedAt);
}
for (let line = 0; line < count; ++line) {
  const ms = await start(line);
  // No gesture came before the first Play here (the file was handed to the
  // input directly), so the browser opens its sound device within it.
  const note = line === 0 ? ' (the first gesture on the page)' : '';
  console.log(`movie ${line + 1}: first picture ${ms.toFixed(1)} ms after the click${note}`);
  await page.keyboard.press('Escape');
  await backToList();
}

// Processor time of the browser and all its children, in seconds.
const hz = Number(execFileSync('getconf', ['CLK_TCK'], { encoding: 'utf8' }));
function treeSeconds(pid) {
  let ticks = 0;
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  ticks += Number(stat[11]) + Number(stat[12]);
  const children = fs.readFileSync(`/proc/${pid}/task/${pid}/children`, 'utf8').trim();
  for (const child of children ? children.split(' ') : []) {
    try {
      ticks += treeSeconds(child) * hz;
    } catch {
      // ended meanwhile
    }
  }
  return ticks / hz;
}
const pid = browser.process().pid;
async function share(seconds) {
  const cpu = treeSeconds(pid);
  const wall = performance.now();
  await new Promise((resolve) => { setTimeout(resolve, seconds * 1000); });
  return (treeSeconds(pid) - cpu) / ((performance.now() - wall) / 1000);
}
const span = 8;
// Idle after the movies above, once the module's code has been compiled in full.
await new Promise((resolve) => { setTimeout(resolve, 2000); });
const idle = await share(span);
// The last movie plays (the demo archive's longest); its first second is left out.
const longest = count - 1;
await start(longest);
await new Promise((resolve) => { setTimeout(resolve, 1000); });
const playing = await share(span);
console.log(`browser, idle on the list: ${(100 * idle).toFixed(1)}% of one core`);
console.log(`browser, playing movie ${longest + 1}: ${(100 * playing).toFixed(1)}% of one core`);
await browser.close();
fs.rmSync(profile, { recursive: true, force: true });
