// The web page in a real browser: headless Chromium, driven by puppeteer-core,
// against the built site served on 127.0.0.1. The demo archive's list, the
// pictures and the sound are compared with what reelrip makes of the same
// movies. Needs the desktop build (build/, or REEL_BUILD_DIR) and the site
// (build-web/site/, or REEL_SITE_DIR).
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const build = process.env.REEL_BUILD_DIR || path.join(root, 'build');
const site = process.env.REEL_SITE_DIR || path.join(root, 'build-web', 'site');
const demo = path.join(build, 'demo', 'demo.tre');
const puppeteer = createRequire(path.join(root, 'web', 'package.json'))('puppeteer-core');

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'reel-web-'));
let server;
let browser;
let page;
const pageErrors = [];

function reelrip(...args) {
  return execFileSync(path.join(build, 'reelrip'), args, { encoding: 'utf8', stdio: 'pipe' });
}

function rip(offset, interlaced) {
  const dir = path.join(scratch, `rip-${offset}-${interlaced ? 'i' : '1'}`);
  reelrip(demo, '-offset', String(offset), ...(interlaced ? ['-i'] : []), '-o', dir);
  return dir;
}

// The samples of a WAV file's data chunk.
function wavSamples(file) {
  const bytes = fs.readFileSync(file);
  for (let at = 12; at + 8 <= bytes.length;) {
    const size = bytes.readUInt32LE(at + 4);
    if (bytes.toString('latin1', at, at + 4) === 'data') {
      const data = bytes.subarray(at + 8, at + 8 + size);
      return new Int16Array(data.buffer.slice(data.byteOffset, data.byteOffset + data.length));
    }
    at += 8 + size + (size & 1);
  }
  throw new Error(`no data chunk in ${file}`);
}

function startServer() {
  return new Promise((resolve, reject) => {
    server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
      '--directory', site], { stdio: ['ignore', 'pipe', 'ignore'] });
    let text = '';
    server.stdout.on('data', (chunk) => {
      text += chunk;
      const port = /port (\d+)/.exec(text);
      if (port) resolve(`http://127.0.0.1:${port[1]}/`);
    });
    server.on('exit', () => reject(new Error('the web server ended')));
  });
}

const $ = (selector, fn) => page.$eval(selector, fn);
const visible = (selector) => $(selector, (e) => !e.hidden);

async function choose(file) {
  const listings = await $('#deck', (e) => Number(e.dataset.listings || 0));
  const input = await page.$('#file');
  await input.uploadFile(file);
  await page.waitForFunction((n) => Number(document.getElementById('deck').dataset.listings) > n,
    {}, listings);
}

async function play(line, zoom) {
  await page.select('#zoom', zoom);
  await page.evaluate((l) => { document.getElementById('movies').selectedIndex = l; }, line);
  await page.click('#play');
  await page.waitForFunction(() => !document.getElementById('stage').hidden);
}

// Pauses with Space once `slots` pictures have been drawn; gives the slot on
// screen and the canvas's pixels (RGBA).
async function pauseAfter(slots) {
  await page.waitForFunction((n) => window.playerModule._web_drawn_slot() >= n, {}, slots);
  await page.keyboard.press(' ');
  await page.waitForFunction(() => window.playerModule._web_paused() === 1);
  const slot = await page.evaluate(() => window.playerModule._web_drawn_slot());
  return { slot, pixels: await canvasPixels() };
}

// The canvas's pixels (RGBA).
function canvasPixels() {
  return page.evaluate(() => {
    const canvas = document.getElementById('screen');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    return Array.from(data);
  });
}

// The RGBA pixels of a PNG file, decoded by the browser without any colour
// management.
function pngPixels(file) {
  return page.evaluate(async (bytes) => {
    const blob = new Blob([Uint8Array.from(bytes)], { type: 'image/png' });
    const image = await createImageBitmap(blob, {
      colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    return Array.from(context.getImageData(0, 0, image.width, image.height).data);
  }, Array.from(fs.readFileSync(file)));
}

const frameFile = (dir, slot) => path.join(dir, 'frames', `${String(slot).padStart(6, '0')}.png`);

// A rip's timeline: each slot's start and length in sample frames.
function timeline(dir) {
  return fs.readFileSync(path.join(dir, 'timeline.tsv'), 'utf8').trim().split('\n').slice(1)
    .map((line) => line.split('\t').map(Number)).map(([, start, frames]) => ({ start, frames }));
}
const rate = 22050;

before(async () => {
  const url = await startServer();
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: path.join(scratch, 'profile'),
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = await browser.newPage();
  page.on('pageerror', (error) => pageErrors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') pageErrors.push(message.text());
  });
  // Every sound buffer handed to Web Audio, as it is started.
  await page.evaluateOnNewDocument(() => {
    window.handedSound = [];
    const start = AudioBufferSourceNode.prototype.start;
    AudioBufferSourceNode.prototype.start = function startAndRecord(...args) {
      const b = this.buffer;
      const channels = [];
      for (let c = 0; c < b.numberOfChannels; ++c) channels.push(b.getChannelData(c).slice());
      window.handedSound.push(channels);
      return start.apply(this, args);
    };
    // The volume's gain, which the page puts between its blocks and the output.
    window.gains = [];
    const createGain = AudioContext.prototype.createGain;
    AudioContext.prototype.createGain = function createAndKeep(...args) {
      const gain = createGain.apply(this, args);
      window.gains.push(gain);
      return gain;
    };
  });
  await page.goto(url);
  await page.waitForFunction(() => !document.getElementById('file').disabled);
  // The page keeps its module private; the test reaches it through the
  // promise the module's loader gives.
  await page.evaluate(async () => {
    window.playerModule = await window.playerReady;
  });
});

after(async () => {
  if (browser) await browser.close();
  if (server) {
    server.removeAllListeners('exit');
    server.kill();
  }
  fs.rmSync(scratch, { recursive: true, force: true });
});

test('an archive lists its movies as the launcher does', async () => {
  await choose(demo);
  const expected = reelrip('--list', demo).trimEnd().split('\n').map((l) => l.split('\t')[1]);
  const shown = await $('#movies', (s) => Array.from(s.options, (o) => o.text));
  assert.deepEqual(shown, expected);
});

test('a paused 8-bit movie shows the rip\'s pictures exactly, also after Right; F fullscreen, Escape back',
  async () => {
    await choose(demo);
    await play(0, '0');
    const { slot, pixels } = await pauseAfter(5);
    const dir = rip(64, false);
    assert.deepEqual(pixels, await pngPixels(frameFile(dir, slot)));
    // Right seeks 5 s on while paused, and draws the picture it lands on.
    await page.keyboard.press('ArrowRight');
    await page.waitForFunction((s) => window.playerModule._web_drawn_slot() > s, {}, slot);
    const sought = await page.evaluate(() => window.playerModule._web_drawn_slot());
    assert.deepEqual(await canvasPixels(), await pngPixels(frameFile(dir, sought)));
    // Fullscreen: the largest whole factor that fits, square pixels.
    await page.keyboard.press('f');
    await page.waitForFunction(() => document.fullscreenElement?.id === 'stage');
    // The page fits the canvas at the fullscreenchange event, which comes with
    // the next frame.
    await page.evaluate(() => new Promise((resolve) => { requestAnimationFrame(resolve); }));
    const [width, height, across, down] = await page.evaluate(() => {
      const canvas = document.getElementById('screen');
      const style = getComputedStyle(canvas);
      return [parseFloat(style.width) / canvas.width, parseFloat(style.height) / canvas.height,
        innerWidth / canvas.width, innerHeight / canvas.height];
    });
    assert.equal(width, height);
    assert.equal(width, Math.floor(Math.min(across, down)));
    // The first Escape leaves fullscreen, the second the movie.
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.fullscreenElement);
    assert.equal(await visible('#stage'), true);
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.getElementById('deck').hidden);
    assert.equal(await visible('#stage'), false);
  });

test('the wheel seeks 5 s a notch and the display tells where; a click on its progress line seeks there; the volume keys',
  async () => {
    await choose(demo);
    await play(0, '0');
    await pauseAfter(3);
    await page.keyboard.press('Home');
    await page.waitForFunction(() => window.playerModule._web_drawn_slot() === 0);
    const slots = timeline(rip(64, false));
    const length = slots.at(-1).start + slots.at(-1).frames;
    const slotAt = (frame) => slots.findLastIndex((s) => s.start <= frame);
    const clock = (frames) => {
      const seconds = Math.floor(frames / rate);
      return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
    };
    const shows = async (slot) => {
      await page.waitForFunction((n) => window.playerModule._web_drawn_slot() === n, {}, slot);
      assert.equal(await $('#clock', (e) => e.textContent),
        `${clock(slots[slot].start)} / ${clock(length)}`);
      assert.equal(await $('#label', (e) => e.textContent), 'paused');
      assert.equal(await visible('#osd'), true);
    };
    const screen = await (await page.$('#screen')).boundingBox();
    await page.mouse.move(screen.x + screen.width / 2, screen.y + screen.height / 2);
    await page.mouse.wheel({ deltaY: -100 });
    await shows(slotAt(5 * rate));
    await page.mouse.wheel({ deltaY: 100 });
    await shows(0);
    // The middle of a slot past the middle of the movie.
    const target = Math.floor(slots.length * 0.6);
    const share = (slots[target].start + slots[target].frames / 2) / length;
    const line = await $('#line', (e) => {
      const r = e.getBoundingClientRect();
      return { x: r.x, y: r.y, width: r.width, height: r.height };
    });
    await page.mouse.click(line.x + line.width * share, line.y + line.height / 2);
    await shows(target);
    // The volume keys act on what is already queued too, at once.
    const gainIs = (value) => page.waitForFunction(
      (v) => window.gains.length === 1 && Math.abs(window.gains[0].gain.value - v) < 1e-6, {}, value);
    await page.keyboard.press('9');
    await gainIs(0.9);
    await page.keyboard.press('m');
    await gainIs(0);
    await page.keyboard.press('0');
    await gainIs(1);
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.getElementById('deck').hidden);
  });

test('S downloads the picture on screen as a PNG named as reelplay names it, with the rip\'s pixels',
  async () => {
    const downloads = path.join(scratch, 'downloads');
    const session = await browser.target().createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    await choose(demo);
    await play(0, '1');
    const { slot } = await pauseAfter(8);
    await page.keyboard.press('s');
    const pictures = () => (fs.existsSync(downloads) ? fs.readdirSync(downloads) : [])
      .filter((n) => n.endsWith('.png'));
    while (pictures().length === 0) await new Promise((resolve) => { setTimeout(resolve, 50); });
    const dir = rip(64, true);
    const ms = Math.floor((timeline(dir)[slot].start * 1000) / rate);
    const seconds = String(Math.floor(ms / 1000) % 60).padStart(2, '0');
    const millis = String(ms % 1000).padStart(3, '0');
    const name = `demo.tre-64-${Math.floor(ms / 60000)}m${seconds}.${millis}s.png`;
    assert.deepEqual(pictures(), [name]);
    assert.deepEqual(await pngPixels(path.join(downloads, name)), await pngPixels(frameFile(dir, slot)));
    assert.equal(await $('#label', (e) => e.textContent), name);
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.getElementById('deck').hidden);
  });

test('a 16-bit movie at "2x interlaced": exact picture when paused, its own sound, the list at its end',
  async () => {
    await choose(demo);
    await page.evaluate(() => { window.handedSound = []; });
    await play(2, '1');
    const { slot, pixels } = await pauseAfter(20);
    const dir = rip(1202264, true);
    assert.deepEqual(pixels, await pngPixels(frameFile(dir, slot)));
    await page.keyboard.press(' ');
    await page.waitForFunction(() => !document.getElementById('deck').hidden, { timeout: 30000 });
    const handed = Int16Array.from(await page.evaluate(() => {
      const samples = [];
      for (const channels of window.handedSound)
        for (let i = 0; i < channels[0].length; ++i)
          for (const c of channels) samples.push(Math.round(c[i] * 32768));
      return samples;
    }));
    const own = wavSamples(path.join(dir, 'audio.wav'));
    assert.ok(handed.length >= own.length, `${handed.length} samples handed, ${own.length} in the movie`);
    assert.deepEqual(handed.subarray(0, own.length), own);
    assert.ok(handed.subarray(own.length).every((s) => s === 0), 'only silence after the movie');
  });

test('a file without a movie gets a message', async () => {
  const cases = [
    ['junk.bin', 'No playable movie found in this file'],
    ['junk.tre', 'No playable movies found on this archive'],
  ];
  for (const [name, message] of cases) {
    const file = path.join(scratch, name);
    fs.writeFileSync(file, Buffer.from('This is not a movie, nor an archive of movies.'));
    await choose(file);
    assert.equal(await $('#message', (e) => e.textContent), message);
    assert.equal(await visible('#choice'), false);
  }
});

test('nothing went wrong inside the page', () => {
  assert.deepEqual(pageErrors, []);
});
