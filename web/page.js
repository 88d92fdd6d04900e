// The page around the show: fetches the data files (or takes the user's own),
// shows the start screen, starts the show on a click or key press (browsers
// allow sound only after such a gesture), says how it ended and offers to watch
// again. With ?capture it runs the show on the virtual clock instead and writes
// one "FRAME CRC32" line per frame into #hashes. Each show runs in a fresh
// instance of the WebAssembly module, as each desktop run is a fresh process.
'use strict';
(function () {
  const params = new URLSearchParams(location.search);
  const dataFolder = (params.get('data') || 'data').replace(/\/+$/, '');
  const names = ['title._vq', 'title2._vq', 'music._vq'];
  const $ = (id) => document.getElementById(id);
  const canvas = $('screen');
  const files = {};  // file name -> bytes; a name that is absent stays absent
  // What the tests and measurements read.
  const page = (window.vorniskPage = { framesShown: 0, firstFrameMs: null });

  const setState = (state) => { document.body.dataset.state = state; };
  const say = (text) => { $('status').textContent = text; };
  const message = (line) => { $('messages').textContent += line + '\n'; };

  async function fetchData() {
    await Promise.all(names.map(async (name) => {
      try {
        const response = await fetch(dataFolder + '/' + name);
        if (response.ok) files[name] = new Uint8Array(await response.arrayBuffer());
      } catch (error) { /* missing: the show reports it as the desktop does */ }
    }));
  }

  // Something the show could not report itself (no WebAssembly, out of memory):
  // one line, and the run is over.
  function broken(error) {
    if (document.body.dataset.state === 'error') return;  // reported already
    message('vornisk: ' + (error && error.message ? error.message : error));
    say('The show stopped with an error (see below).');
    $('again').hidden = false;
    setState('error');
  }

  // A fresh module with the data files in its working directory.
  // The loader's own chatter before the show runs goes to the console only.
  async function makeShow(settings) {
    let live = false;
    const print = (line) => (live ? message(line) : console.log(line));
    const module = await createVornisk(Object.assign({ canvas, print, printErr: print, onAbort: broken }, settings));
    live = true;
    module.FS.mkdir('/show');
    for (const name of names) if (files[name]) module.FS.writeFile('/show/' + name, files[name]);
    module.FS.chdir('/show');
    return module;
  }

  function whole(name, low, high, fallback) {
    if (!params.has(name)) return fallback;
    const text = params.get(name);
    const value = /^[0-9]{1,20}$/.test(text) ? Number(text) : NaN;
    if (!(value >= low && value <= high)) throw new Error(`${name} must be a whole number from ${low} to ${high}, not '${text}'`);
    return value;
  }

  async function capture() {
    document.body.classList.add('capture');
    let seed, fps, frames;
    try {
      seed = whole('seed', 0, 4294967295, 0);
      fps = whole('fps', 1, 4294967295, 60);
      frames = whole('frames', 0, Number.MAX_SAFE_INTEGER, -1);
    } catch (error) {
      message(error.message);
      say('Capture not started.');
      return setState('error');
    }
    say('Capturing…');
    setState('running');
    await fetchData();
    let lines = [];
    let count = 0;
    const flush = () => {
      if (lines.length) $('hashes').textContent += lines.join('\n') + '\n';
      lines = [];
    };
    const module = await makeShow({
      onFrameHash: (frame, crc) => {
        lines.push(frame + ' ' + crc.toString(16).padStart(8, '0'));
        ++count;
      },
    });
    const flusher = setInterval(flush, 500);
    const started = performance.now();
    const status = await module.ccall('vornisk_capture', 'number', ['number', 'number', 'number'], [seed, fps, frames], { async: true });
    const seconds = (performance.now() - started) / 1000;
    clearInterval(flusher);
    flush();
    page.captureFramesPerSecond = count / seconds;
    say(`${count} frames in ${seconds.toFixed(2)} s (${page.captureFramesPerSecond.toFixed(1)} frames/s)`);
    setState(status === 0 ? 'done' : 'error');
  }

  // The start screen shows the first title picture as the show would load it:
  // 18-byte header, then blue-green-red pixels, bottom row first, packed with
  // the picture's own width into the 320 x 240 surface.
  function drawStartScreen() {
    canvas.width = 320;
    canvas.height = 240;
    const context = canvas.getContext('2d');
    const image = context.createImageData(320, 240);
    const bytes = files['title._vq'];
    const width = bytes && bytes.length >= 18 ? bytes[12] | (bytes[13] << 8) : 0;
    const height = bytes && bytes.length >= 18 ? bytes[14] | (bytes[15] << 8) : 0;
    if (width * height <= 320 * 240) {
      for (let i = 0; i < width * height; ++i) {
        const word = (height - 1 - Math.floor(i / width)) * width + (i % width);
        const at = 18 + 3 * i;
        image.data[4 * word] = bytes[at + 2] || 0;
        image.data[4 * word + 1] = bytes[at + 1] || 0;
        image.data[4 * word + 2] = bytes[at] || 0;
      }
    }
    for (let i = 3; i < image.data.length; i += 4) image.data[i] = 255;
    context.putImageData(image, 0, 0);
  }

  // The largest 4:3 fit of the page, by whole factors of device pixels where
  // at least 1:1 fits, so that every show pixel is a crisp block.
  function fitCanvas() {
    const ratio = window.devicePixelRatio || 1;
    let scale = Math.min((innerWidth * ratio) / 320, (innerHeight * ratio) / 240);
    if (scale >= 1) scale = Math.floor(scale);
    canvas.style.width = (320 * scale) / ratio + 'px';
    canvas.style.height = (240 * scale) / ratio + 'px';
  }

  let audioContext = null;
  let keyEndedShow = false;

  async function start() {
    if (document.body.dataset.state !== 'ready') return;
    setState('running');
    const clicked = performance.now();
    // Made (or resumed) inside the gesture, so the browser lets it sound.
    if (!audioContext && window.AudioContext) audioContext = new AudioContext();
    if (audioContext) audioContext.resume();
    page.audioContext = audioContext;
    page.framesShown = 0;
    page.firstFrameMs = null;
    keyEndedShow = false;
    $('messages').textContent = '';
    const module = await makeShow({
      audioContext,
      onFramePresented: () => {
        if (page.framesShown++ === 0) page.firstFrameMs = performance.now() - clicked;
      },
    });
    page.show = module;
    const status = await module.ccall('vornisk_show', 'number', [], [], { async: true });
    say(status !== 0 ? 'The show stopped with an error (see below).'
      : keyEndedShow ? 'The show was ended by a key.' : 'The show is over.');
    $('again').hidden = false;
    setState(status === 0 ? 'done' : 'error');
  }

  function ready() {
    drawStartScreen();
    $('again').hidden = true;
    say('Click or press a key to start.');
    setState('ready');
  }

  async function useFile(name, file) {
    files[name] = new Uint8Array(await file.arrayBuffer());
    if (document.body.dataset.state === 'ready' && name === 'title._vq') drawStartScreen();
  }

  function realTime() {
    fitCanvas();
    addEventListener('resize', fitCanvas);
    document.addEventListener('fullscreenchange', fitCanvas);
    const fullScreen = () => $('stage').requestFullscreen && $('stage').requestFullscreen();
    $('fullscreen').addEventListener('click', fullScreen);
    $('stage').addEventListener('dblclick', fullScreen);
    $('again').addEventListener('click', (event) => { event.stopPropagation(); ready(); });
    $('stage').addEventListener('click', () => start().catch(broken));
    document.addEventListener('keydown', (event) => {
      if (document.body.dataset.state === 'running') keyEndedShow = true;
      else if (!event.target.closest('input, button')) start().catch(broken);
    });
    for (const input of document.querySelectorAll('input[type=file]')) {
      input.addEventListener('change', () => input.files[0] && useFile(input.dataset.name, input.files[0]));
    }
    // Dropped files go by name: the two pictures by theirs, anything else is music.
    addEventListener('dragover', (event) => event.preventDefault());
    addEventListener('drop', (event) => {
      event.preventDefault();
      for (const file of event.dataTransfer.files) {
        useFile(names.includes(file.name) ? file.name : 'music._vq', file);
      }
    });
    fetchData().then(ready);
  }

  if (params.has('capture')) capture().catch(broken);
  else realTime();
})();
