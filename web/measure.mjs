// Measures the page in headless Chromium: the site's size gzipped, the time
// from the press on Play to the first picture put on the canvas, and the
// processor time the browser spends while a movie plays against the same
// span idle. Run by "./scripts/web measure", with the site served at the
// address given.
//   node web/measure.mjs URL SITE_DIR ARCHIVE
//
// The first picture is timed twice: with Play as the first gesture on a page
// just opened (a fresh browser first, then fresh tabs), where the browser's
// sound starts within that press; and for each movie of the archive on a
// page already in use. The load of the machine is printed too, as another
// program's work slows the browser down.
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
const load = () => `load ${os.loadavg()[0].toFixed(2)} on ${os.cpus().length} cores`;
console.log(`machine: ${load()}`);

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'reel-measure-'));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: profile,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});

// Puppeteer's own evaluations count as user gestures: everything before
// the press on Play goes through the protocol, which lets the page be.
async function quiet(cdp, expression) {
  const { result } = await cdp.send('Runtime.evaluate',
    { expression, returnByValue: true, awaitPromise: true, userGesture: false });
  return result.value;
}
async function until(cdp, expression) {
  while (!(await quiet(cdp, expression)))
    await new Promise((resolve) => { setTimeout(resolve, 20); });
}

// A tab with the archive chosen, Play not yet pressed, and no gesture.
async function openPage() {
  const page = await browser.newPage();
  const cdp = await page.createCDPSession();
  await page.evaluateOnNewDocument(() => {
    const put = CanvasRenderingContext2D.prototype.putImageData;
    CanvasRenderingContext2D.prototype.putImageData = function putAndNote(...args) {
      if (window.firstPictureAt === null) window.firstPictureAt = performance.now();
      return put.apply(this, args);
    };
    window.firstPictureAt = 0;
    document.addEventListener('pointerdown', (event) => {
      if (event.target.id !== 'play') return;
      window.pressedAt = performance.now();
      window.firstPictureAt = null;
    }, true);
  });
  await page.goto(url);
  await until(cdp, "!document.getElementById('file').disabled");
  const { root } = await cdp.send('DOM.getDocument');
  const { nodeId } = await cdp.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#file' });
  await cdp.send('DOM.setFileInputFiles', { nodeId, files: [path.resolve(archive)] });
  await until(cdp, "!document.getElementById('choice').hidden");
  return { page, cdp };
}

// Presses Play (a real press, where the browser sees it) for list line;
// the milliseconds until the first picture.
async function start({ page, cdp }, line) {
  await quiet(cdp, `document.getElementById('movies').selectedIndex = ${line}`);
  const { root } = await cdp.send('DOM.getDocument');
  const { nodeId } = await cdp.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#play' });
  const { model } = await cdp.send('DOM.getBoxModel', { nodeId });
  const [x0, y0, , , x1, y1] = model.content;
  await page.mouse.click((x0 + x1) / 2, (y0 + y1) / 2);
  await until(cdp, 'window.firstPictureAt !== null');
  return quiet(cdp, 'window.firstPictureAt - window.pressedAt');
}

const backToList = ({ cdp }) => until(cdp, "!document.getElementById('deck').hidden");

const firsts = [];
for (let n = 0; n < 3; ++n) {
  const tab = await openPage();
  if (await quiet(tab.cdp, 'navigator.userActivation.hasBeenActive'))
    throw new Error('the page had a gesture before Play');
  firsts.push(await start(tab, 0));
  await tab.page.close();
}
console.log(`Play as the page's first gesture, movie 1: first picture ${
  firsts.map((ms) => ms.toFixed(1)).join(', ')} ms after the press (the first in a fresh browser)`);

const tab = await openPage();
const count = await quiet(tab.cdp, "document.getElementById('movies').options.length");
// A gesture before Play, as anyone's who picks a movie.
await tab.page.click('#movies');
for (let line = 0; line < count; ++line) {
  const ms = await start(tab, line);
  console.log(`movie ${line + 1}: first picture ${ms.toFixed(1)} ms after the press on Play`);
  await tab.page.keyboard.press('Escape');
  await backToList(tab);
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
await start(tab, longest);
await new Promise((resolve) => { setTimeout(resolve, 1000); });
const playing = await share(span);
console.log(`browser, idle on the list: ${(100 * idle).toFixed(1)}% of one core`);
console.log(`browser, playing movie ${longest + 1}: ${(100 * playing).toFixed(1)}% of one core`);
console.log(`machine: ${load()}`);
await browser.close();
fs.rmSync(profile, { recursive: true, force: true });
