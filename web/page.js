// The page: choosing a file, its list of movies, and the stage the player
// module draws on. The file is read into the module's memory here and is
// never sent anywhere.
'use strict';

const $ = (id) => document.getElementById(id);
const deck = $('deck');
const stage = $('stage');
const canvas = $('screen');
const fileInput = $('file');
const drop = $('drop');
const status = $('status');
const message = $('message');
const choice = $('choice');
const movies = $('movies');
const zoom = $('zoom');

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
  canvas.style.setProperty('--shown-width', `${(canvas.width * factor) / ratio}px`);
  canvas.style.setProperty('--shown-height', `${(canvas.height * factor) / ratio}px`);
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
document.addEventListener('fullscreenchange', fitCanvas);
// Only a gesture may start the browser's sound; opening it at the first one
// spares the first Play that wait.
function prepareSound() {
  if (!player) return;
  player._web_prepare_sound();
  document.removeEventListener('pointerdown', prepareSound, true);
  document.removeEventListener('keydown', prepareSound, true);
}
document.addEventListener('pointerdown', prepareSound, true);
document.addEventListener('keydown', prepareSound, true);
window.addEventListener('resize', () => {
  if (!stage.hidden) fitCanvas();
});

// The module once loaded; the browser tests reach it through this too.
window.playerReady = load_player_module({
  canvas,
  // The player's keys reach it only while its canvas has the focus; the
  // list keeps the keyboard otherwise.
  keyboardListeningElement: canvas,
  // Every picture is drawn whole, so the canvas is never read back.
  screenIsReadOnly: true,
  // Sound is queued this many buffers ahead of what plays; fewer keep the
  // pictures closer to it.
  SDL_numSimultaneouslyQueuedBuffers: 3,
  toggleFullscreen,
  movieEnded,
});
window.playerReady.then((module) => {
  player = module;
  player.FS.mkdir(folder);
  player.FS.chdir(folder);
  fileInput.disabled = false;
  status.textContent = '';
  fileInput.focus();
}, () => {
  status.textContent = '';
  say('The player could not be loaded in this browser');
});
