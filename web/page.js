// The page: choosing a file, its list of movies, and the stage the player
// module draws on. The file is read into the module's memory here and is
// never sent anywhere.
'use strict';

const $ = (id) => document.getElementById(id);
const deck = $('deck');
const stage = $('stage');
const picture = $('picture');
const canvas = $('screen');
const fileInput = $('file');
const drop = $('drop');
const status = $('status');
const message = $('message');
const choice = $('choice');
const movies = $('movies');
const zoom = $('zoom');
const osd = $('osd');

// The chosen file lives in the module's file system under its own name, in
// a folder of its own, so that a single movie's line reads as the launcher's.
const folder = '/chosen';
let player = null;
let chosen = null;

function say(text) {
  message.textContent = text;
  message.hidden = !text;
}

function lines(pointer) {
  const text = player.UTF8ToString(pointer);
  return text ? text.replace(/\n$/, '').split('\n') : [];
}

// Counts the files read, listed or refused, for whoever waits on the page.
function listed() {
  deck.dataset.listings = Number(deck.dataset.listings || 0) + 1;
}

async function choose(file) {
  if (!player || !file) return;
  say('');
  choice.hidden = true;
  status.textContent = `Reading ${file.name}\u2026`;
  let bytes;
  try {
    bytes = new Uint8Array(await file.arrayBuffer());
  } catch {
    status.textContent = '';
    say(`Cannot read ${file.name}`);
    listed();
    return;
  }
  if (chosen) player.FS.unlink(chosen);
  chosen = file.name;
  player.FS.writeFile(chosen, bytes, {canOwn: true});
  const count = player.ccall('web_list', 'number', ['string'], [chosen]);
  status.textContent = '';
  if (count === 0) {
    say(lines(player._web_list_messages()).join('\n'));
  } else {
    movies.replaceChildren(...lines(player._web_list_lines()).map((text) => new Option(text)));
    movies.selectedIndex = 0;
    $('file-name').textContent = file.name;
    choice.hidden = false;
    movies.focus();
  }
  listed();
}

// Whole factors only, in the screen's own pixels: the stage in fullscreen
// takes the largest that fits, the page one pixel per pixel (two on a
// screen of twice the density).
function fitCanvas() {
  const ratio = window.devicePixelRatio || 1;
  let factor = Math.max(1, Math.floor(ratio));
  if (document.fullscreenElement) {
    const fit = Math.min(Math.floor((stage.clientWidth * ratio) / canvas.width),
      Math.floor((stage.clientHeight * ratio) / canvas.height));
    factor = Math.max(1, fit);
  }
  picture.style.setProperty('--shown-width', `${(canvas.width * factor) / ratio}px`);
  picture.style.setProperty('--shown-height', `${(canvas.height * factor) / ratio}px`);
}

function toggleFullscreen() {
  if (document.fullscreenElement) document.exitFullscreen();
  else if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
}

function play() {
  if (!player || player._web_playing()) return;
  const line = Math.max(0, movies.selectedIndex);
  const interlace = zoom.value === '1' ? 1 : 0;
  if (player.ccall('web_play', 'number', ['string', 'number', 'number'],
    [chosen, line, interlace]) !== 0) {
    say('This movie cannot be played');
    return;
  }
  say('');
  deck.hidden = true;
  stage.hidden = false;
  fitCanvas();
  canvas.focus();
}

function movieEnded() {
  clearTimeout(osdTimer);
  osd.hidden = true;
  if (document.fullscreenElement) document.exitFullscreen();
  stage.hidden = true;
  deck.hidden = false;
  movies.focus();
}

fileInput.addEventListener('change', () => {
  const file = fileInput.files[0];
  // Emptied, so that choosing the same file again reads it again.
  fileInput.value = '';
  choose(file);
});
// A file is taken wherever on the page it is dropped, not opened by the
// browser; the box lights up meanwhile.
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  if (!deck.hidden) drop.classList.add('over');
});
document.addEventListener('dragleave', (event) => {
  if (!event.relatedTarget) drop.classList.remove('over');
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  if (!deck.hidden) choose(event.dataTransfer.files[0]);
});

choice.addEventListener('submit', (event) => {
  event.preventDefault();
  play();
});
movies.addEventListener('dblclick', play);
movies.addEventListener('keydown', (event) => {
  if (event.key !== 'Enter') return;
  event.preventDefault();
  play();
});
$('close').addEventListener('click', () => player._web_stop());
// A click beside the picture leaves the keys with the player.
stage.addEventListener('click', (event) => {
  if (event.target !== $('close')) canvas.focus();
});
canvas.addEventListener('dblclick', toggleFullscreen);
// The module's SDL queues the key; this has a display pass take it.
canvas.addEventListener('keydown', () => player._web_key());
// Esc in fullscreen leaves fullscreen, as in the desktop player; browsers
// mostly do it themselves, and the player must not also take it as "back to
// the list".
window.addEventListener('keydown', (event) => {
  if (event.key !== 'Escape' || !document.fullscreenElement) return;
  event.stopImmediatePropagation();
  document.exitFullscreen();
}, true);
// In fullscreen the pointer hides once it rests, as in reelplay.
let restTimer = 0;
function pointerActive() {
  stage.classList.remove('idle');
  clearTimeout(restTimer);
  restTimer = setTimeout(() => {
    if (document.fullscreenElement) stage.classList.add('idle');
  }, 2000);
}
document.addEventListener('fullscreenchange', () => {
  fitCanvas();
  pointerActive();
});
window.addEventListener('resize', () => {
  if (!stage.hidden) fitCanvas();
});

// The on-screen display, as reelplay's: shown for 2 seconds after a seek, a
// step, a pause, a volume change, a screenshot or a movement of the pointer,
// and for as long as the movie is paused. The module keeps what it says.
const osdSeconds = 2;
let osdTimer = 0;

function updateOsd() {
  $('clock').textContent = player.UTF8ToString(player._web_osd_clock());
  $('label').textContent = player.UTF8ToString(player._web_osd_label());
  const share = player._web_osd_progress();
  $('done').style.width = `${100 * Math.max(0, share)}%`;
}

function hideOsdWhenDue() {
  osdTimer = 0;
  // Paused, it stays until the movie plays on, which shows it again.
  if (player._web_paused()) return;
  osd.hidden = true;
  player._web_osd_hidden();
}

function showOsd() {
  if (!player || stage.hidden) return;
  updateOsd();
  osd.hidden = false;
  clearTimeout(osdTimer);
  osdTimer = setTimeout(hideOsdWhenDue, osdSeconds * 1000);
}

// A new picture: the clock and the line move on while the display shows.
function osdTick() {
  if (!osd.hidden) updateOsd();
}

// The picture on screen as a PNG file, downloaded. The canvas holds it at
// the movie's own size, pixel for pixel; PNG keeps them exactly.
function saveScreenshot(name) {
  canvas.toBlob((blob) => {
    if (!blob) return;
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }, 'image/png');
}

// The mouse wheel seeks 5 s a notch, forward when turned away from the user.
// A mouse's notch comes as one event of many pixels (or lines); a touchpad's
// small steps add up to notches.
const notchPixels = 100;
let wheelPixels = 0;
stage.addEventListener('wheel', (event) => {
  event.preventDefault();
  const pixels = event.deltaY * [1, 40, 800][event.deltaMode];
  if (Math.abs(pixels) >= notchPixels / 2) {
    wheelPixels = 0;
    player._web_wheel(pixels < 0 ? 1 : -1);
    return;
  }
  wheelPixels += pixels;
  const notches = Math.trunc(wheelPixels / notchPixels);
  if (notches === 0) return;
  wheelPixels -= notches * notchPixels;
  player._web_wheel(-notches);
}, { passive: false });
// Only real movement: the browser also reports the stage appearing under a
// pointer that stands still.
stage.addEventListener('pointermove', (event) => {
  if (!event.movementX && !event.movementY) return;
  pointerActive();
  player._web_pointer_moved();
});
// A click on the progress line seeks to that share of the movie.
$('progress').addEventListener('click', (event) => {
  const line = $('line').getBoundingClientRect();
  player._web_seek_share((event.clientX - line.left) / line.width);
});

// The module once loaded; the browser tests reach it through this too.
window.playerReady = load_player_module({
  canvas,
  // The player's keys reach it only while its canvas has the focus; the
  // list keeps the keyboard otherwise.
  keyboardListeningElement: canvas,
  toggleFullscreen,
  movieEnded,
  showOsd,
  osdTick,
  saveScreenshot,
});
window.playerReady.then((module) => {
  player = module;
  player.FS.mkdir(folder);
  player.FS.chdir(folder);
  // The sound's context is made now, outside any gesture: the Play click
  // has then only to resume it.
  player._web_prepare_sound();
  fileInput.disabled = false;
  status.textContent = '';
  fileInput.focus();
}, () => {
  status.textContent = '';
  say('The player could not be loaded in this browser');
});
