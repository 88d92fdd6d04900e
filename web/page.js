// The page around the show (inlined into index.html by the build).
//
// Loading: once the page has painted, the first title picture comes and is
// drawn at once; then the show's code (vornisk.js, vornisk.wasm, compiled
// once), the music and the closing picture load together under a progress
// bar, the big ones in a worker (the loader) that also decodes the music, so
// that a click starts the show at once and the page stays responsive.
//
// Files the visitor picks or drops are checked at once by the show's own
// loader and music start, compiled in the same WebAssembly (a separate
// instance, the checker), and are used only when they pass; a chosen file is
// never replaced by a default that arrives later.
//
// The show starts on a click on the picture or the start button, or Enter or
// Space on the focused picture (browsers allow sound only after such a
// gesture), each time in a fresh instance of the module, as each desktop run
// is a fresh process. Keys meant for the browser or the page (Tab, a lone
// Shift, Ctrl/Alt/Meta shortcuts, F1 to F12) do not end it. A hidden tab
// pauses picture and music together.
//
// With ?capture it runs the show on the virtual clock instead and writes one
// "FRAME CRC32" line per frame into #hashes.
'use strict';
(function () {
  const params = new URLSearchParams(location.search);
  const dataFolder = (params.get('data') || 'data').replace(/\/+$/, '');
  const names = ['title._vq', 'title2._vq', 'music._vq'];
  const $ = (id) => document.getElementById(id);
  const canvas = $('screen');
  const app = $('app');
  // What the tests and measurements read.
  const page = (window.vorniskPage = {
    framesShown: 0, firstFrameMs: null, titleShownMs: null, loadedMs: null, sources: {},
  });

  const state = () => document.body.dataset.state;
  const setState = (value) => {
    document.body.dataset.state = value;
    // Only in full screen does the layout change with the show's state.
    if (document.fullscreenElement) layout();
  };
  const say = (text) => { $('status').textContent = text; };
  const message = (line) => { $('messages').textContent += line + '\n'; };

  // file name -> {bytes, source: 'default' or 'chosen'}; an absent name stays absent.
  const files = {};
  const setFile = (name, bytes, source) => {
    files[name] = { bytes, source };
    page.sources[name] = source;
  };

  // ---------------------------------------------------------------------------
  // Downloads, with a progress bar over those that are still running.

  // The bar covers every download since the last time none was running.
  const progress = { loaded: 0, total: 0, running: 0, drawing: false };
  function showProgress() {
    if (progress.running === 0) progress.loaded = progress.total = 0;
    if (progress.drawing) return;
    // Once a frame at most, however many pieces arrive in between.
    progress.drawing = true;
    requestAnimationFrame(() => {
      progress.drawing = false;
      const bar = $('progress');
      bar.max = Math.max(progress.total, 1);
      bar.value = progress.loaded;
      $('loading').classList.toggle('done', progress.running === 0);
    });
  }

  // One download's share of the bar: count({loaded, total}) as it goes,
  // done() at its end.
  function counter() {
    let counted = { loaded: 0, total: 0 };
    ++progress.running;
    return {
      count({ loaded, total }) {
        // Compressed in transfer, the body outgrows its stated length.
        const now = { loaded, total: Math.max(total || 0, loaded) };
        progress.loaded += now.loaded - counted.loaded;
        progress.total += now.total - counted.total;
        counted = now;
        showProgress();
      },
      done() {
        --progress.running;
        showProgress();
      },
    };
  }

  // The bytes of `url`, or null when it is missing or the network fails. XHR
  // rather than fetch: the browser gathers the body itself and reports
  // progress now and then, where reading fetch's stream costs the page a turn
  // for every piece.
  function download(url, signal) {
    return new Promise((resolve) => {
      const request = new XMLHttpRequest();
      const share = counter();
      const finish = (bytes) => {
        share.done();
        resolve(bytes);
      };
      request.open('GET', url);
      request.responseType = 'arraybuffer';
      request.onprogress = (event) => share.count({ loaded: event.loaded, total: event.lengthComputable ? event.total : 0 });
      request.onload = () => finish(request.status === 200 ? new Uint8Array(request.response) : null);
      request.onerror = request.onabort = () => finish(null);
      if (signal) signal.addEventListener('abort', () => request.abort());
      request.send();
    });
  }

  // A small file (the title picture) with no share of the progress bar.
  const fetchSmall = (url, signal) => fetch(url, { signal })
    .then((response) => (response.ok ? response.arrayBuffer() : null))
    .then((body) => body && new Uint8Array(body), () => null);

  // A turn for the page: other tasks run, then this goes on (without the
  // 4 ms that nested timers wait).
  const nextTurn = () => new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = resolve;
    channel.port2.postMessage(null);
  });

  const loadScript = (src) => new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = src;
    script.onload = resolve;
    script.onerror = () => reject(new Error(`could not load ${src}`));
    document.head.appendChild(script);
  });

  // vornisk.js and the compiled module; every instance shares the compilation.
  let runtime = null;
  function loadRuntime() {
    if (!runtime) {
      runtime = Promise.all([
        loadScript('vornisk.js'),
        load('vornisk.wasm').then(({ bytes }) => {
          if (!bytes) throw new Error('could not load vornisk.wasm');
          return WebAssembly.compile(bytes);
        }),
      ]).then(([, compiled]) => compiled);
    }
    return runtime;
  }

  // The loader, a worker that downloads the big files (the show's code, the
  // closing picture, the music) and decodes the music, so that the page's own
  // thread stays free: taking in 3 MB of downloads costs it a tenth of a
  // second, decodeAudioData half a second at its end (on a phone, longer),
  // and so would 6,662 decoded frames copied into an AudioBuffer.
  //
  // An MP3 that LAME wrote (as the default music is) is decoded by WebCodecs;
  // its samples are decodeAudioData's, bit for bit (tests/web checks). The
  // page copies them into an AudioBuffer in small steps (audioBufferOf).
  //
  // Requests are {id, url} to download, {id, bytes, decode} to decode, {id,
  // abort}; answers are {id, loaded, total} now and then, and {id, bytes,
  // samples} at the end (bytes null when missing, samples null when not
  // decoded). This function runs in the worker, made from its source text.
  function loaderWorker() {
    // The file's audio frames, rate and channels, and the samples to drop at
    // either end: LAME's tag in the first frame gives its delay and padding,
    // and decoders add 529 samples of their own at the start. Null for any
    // other file.
    function lameMp3(bytes) {
      const bitRates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320];
      const rates = [44100, 48000, 32000];
      const frames = [];
      let at = 0;
      let rate = 0;
      let channels = 0;
      while (at + 4 <= bytes.length) {
        const rateIndex = (bytes[at + 2] >> 2) & 3;
        const bitRateIndex = bytes[at + 2] >> 4;
        // Sync, MPEG-1, layer III; then the same rate and channels throughout.
        if (bytes[at] !== 0xFF || (bytes[at + 1] & 0xFE) !== 0xFA || rateIndex === 3 || bitRateIndex % 15 === 0) break;
        const frameChannels = bytes[at + 3] >> 6 === 3 ? 1 : 2;
        if (frames.length && (rates[rateIndex] !== rate || frameChannels !== channels)) break;
        rate = rates[rateIndex];
        channels = frameChannels;
        const length = Math.floor((144000 * bitRates[bitRateIndex]) / rate) + ((bytes[at + 2] >> 1) & 1);
        if (at + length > bytes.length) break;
        frames.push([at, length]);
        at += length;
      }
      // The whole file (but a 128-byte ID3v1 tag), LAME's tag in the first frame.
      if (frames.length < 2 || (at !== bytes.length && at + 128 !== bytes.length)) return null;
      const [first, firstLength] = frames.shift();
      const tag = String.fromCharCode(...bytes.subarray(first, first + firstLength));
      const xing = Math.max(tag.indexOf('Xing'), tag.indexOf('Info'));
      const lame = tag.indexOf('LAME', xing);
      if (xing < 0 || lame < 0 || lame + 24 > firstLength) return null;
      const delay = (bytes[first + lame + 21] << 4) | (bytes[first + lame + 22] >> 4);
      const padding = ((bytes[first + lame + 22] & 15) << 8) | bytes[first + lame + 23];
      const length = frames.length * 1152 - delay - padding;
      return length > 0 ? { frames, rate, channels, skip: delay + 529, length } : null;
    }

    async function decode(bytes) {
      const mp3 = self.AudioDecoder && lameMp3(bytes);
      if (!mp3) return null;
      const config = { codec: 'mp3', sampleRate: mp3.rate, numberOfChannels: mp3.channels };
      if (!(await AudioDecoder.isConfigSupported(config)).supported) return null;
      const planes = [...Array(mp3.channels)].map(() => new Float32Array(mp3.length));
      let decoded = 0;  // samples out of the decoder so far, the dropped ones included
      let failed = false;
      const decoder = new AudioDecoder({
        output(data) {
          const from = Math.max(mp3.skip - decoded, 0);
          const to = Math.min(data.numberOfFrames, mp3.skip + mp3.length - decoded);
          for (let plane = 0; plane < planes.length && to > from; ++plane) {
            const at = decoded + from - mp3.skip;
            data.copyTo(planes[plane].subarray(at, at + to - from),
              { planeIndex: plane, frameOffset: from, frameCount: to - from, format: 'f32-planar' });
          }
          decoded += data.numberOfFrames;
          data.close();
        },
        error() { failed = true; },
      });
      decoder.configure(config);
      mp3.frames.forEach(([at, length], i) => decoder.decode(new EncodedAudioChunk(
        { type: 'key', timestamp: Math.round((i * 1152e6) / mp3.rate), data: bytes.subarray(at, at + length) })));
      await decoder.flush();
      decoder.close();
      return failed || decoded < mp3.skip + mp3.length ? null : { planes, rate: mp3.rate };
    }

    const aborts = new Map();
    async function download(id, url) {
      const abort = new AbortController();
      aborts.set(id, abort);
      try {
        const response = await fetch(url, { signal: abort.signal });
        if (!response.ok) return null;
        const total = Number(response.headers.get('Content-Length')) || 0;
        const parts = [];
        let loaded = 0;
        let told = 0;
        for (const reader = response.body.getReader(); ;) {
          const { done, value } = await reader.read();
          if (done) break;
          parts.push(value);
          loaded += value.length;
          if (performance.now() - told > 100) {
            told = performance.now();
            postMessage({ id, loaded, total });
          }
        }
        const bytes = new Uint8Array(loaded);
        parts.reduce((at, part) => (bytes.set(part, at), at + part.length), 0);
        return bytes;
      } catch (error) {
        return null;
      } finally {
        aborts.delete(id);
      }
    }

    onmessage = async ({ data: { id, url, bytes, decode: wanted, abort } }) => {
      if (abort) return aborts.has(id) && aborts.get(id).abort();
      const got = url ? await download(id, url) : bytes;
      const samples = got && wanted ? await decode(got).catch(() => null) : null;
      const transfer = got ? [got.buffer] : [];
      if (samples) transfer.push(...samples.planes.map((plane) => plane.buffer));
      postMessage({ id, bytes: got, samples }, transfer);
    };
  }

  // The loader, or null where there are no workers.
  let loader;
  const requests = new Map();  // id -> {resolve, share, fallback}
  let nextRequest = 1;
  function loaderOrNull() {
    if (loader !== undefined) return loader;
    try {
      const source = URL.createObjectURL(new Blob([`(${loaderWorker})()`], { type: 'text/javascript' }));
      loader = new Worker(source);
      URL.revokeObjectURL(source);
    } catch (error) {
      return (loader = null);
    }
    loader.onmessage = ({ data }) => {
      const request = requests.get(data.id);
      if (!request) return;
      if (!('bytes' in data)) return request.share && request.share.count(data);
      requests.delete(data.id);
      if (request.share) request.share.done();
      request.resolve(data);
    };
    // A loader that fails leaves its requests to the page's thread.
    loader.onerror = () => {
      loader.terminate();
      loader = null;
      for (const [, request] of requests) {
        if (request.share) request.share.done();
        request.resolve(request.fallback());
      }
      requests.clear();
    };
    return loader;
  }

  // A file of the site (its path relative to the page) as {bytes, samples},
  // through the loader where there is one: bytes null when it is missing,
  // samples those of the music with `decode` (null where not decoded).
  function load(path, signal, decode = false) {
    const url = new URL(path, location.href).href;  // the worker's own URL is a blob's
    const fallback = () => download(url, signal).then((bytes) => ({ bytes, samples: null }));
    if (!loaderOrNull()) return fallback();
    const id = nextRequest++;
    return new Promise((resolve) => {
      requests.set(id, { resolve, share: counter(), fallback });
      if (signal) signal.addEventListener('abort', () => loader && loader.postMessage({ id, abort: true }));
      loader.postMessage({ id, url, decode });
    });
  }

  // The MP3's samples, {planes, rate}, or null where the loader cannot decode it.
  function decodeMp3(bytes) {
    if (!window.AudioDecoder || !loaderOrNull()) return Promise.resolve(null);
    const id = nextRequest++;
    return new Promise((resolve) => {
      requests.set(id, { resolve: (answer) => resolve(answer.samples), fallback: () => ({ samples: null }) });
      const copy = bytes.slice();  // the page keeps its own
      loader.postMessage({ id, bytes: copy, decode: true }, [copy.buffer]);
    });
  }

  // The samples in an AudioBuffer, 16 Ki samples at a time with a turn for
  // the page between them: 60 MB copied at once would freeze it. Once the
  // show is waiting for it (`hurry`), the rest goes in one.
  let hurry = false;
  async function audioBufferOf({ planes, rate }) {
    const buffer = new AudioBuffer({ numberOfChannels: planes.length, length: planes[0].length, sampleRate: rate });
    const channels = planes.map((plane, channel) => buffer.getChannelData(channel));
    for (let at = 0; at < planes[0].length; at += 1 << 14) {
      planes.forEach((plane, channel) => channels[channel].set(plane.subarray(at, at + (1 << 14)), at));
      if (!hurry) await nextTurn();
    }
    return buffer;
  }

  function sameBytes(a, b) {
    if (a === b) return true;
    if (a.length !== b.length) return false;
    for (let i = 0; i < a.length; ++i) if (a[i] !== b[i]) return false;
    return true;
  }

  // Each music is decoded once, for its check and for the show, at its own
  // rate (the show's context runs at 44.1 kHz and the browser converts). A
  // music decoded ahead waits as samples until its AudioBuffer is asked for
  // (a copy of 60 MB for the default music, once the page has loaded).
  const decoded = [];  // {bytes, samples: a promise of {planes, rate} or null, buffer}
  page.decodedBy = null;
  function decodeAhead(bytes, samples) {
    for (const entry of decoded) if (sameBytes(entry.bytes, bytes)) return entry;
    const entry = { bytes, samples: samples ? Promise.resolve(samples) : decodeMp3(bytes), buffer: null };
    decoded.unshift(entry);
    decoded.length = Math.min(decoded.length, 2);
    return entry;
  }
  // Module.decodeAudio of the sound layer: bytes to a promised AudioBuffer.
  function decodeAudio(bytes) {
    const entry = decodeAhead(bytes);
    if (!entry.buffer) {
      entry.buffer = entry.samples.then((samples) => {
        page.decodedBy = samples ? 'WebCodecs' : 'decodeAudioData';
        return samples ? audioBufferOf(samples) : new OfflineAudioContext(2, 1, 44100).decodeAudioData(bytes.slice().buffer);
      });
      entry.buffer.then(() => { entry.samples = null; }, () => {});  // the planes are copied
      entry.buffer.catch(() => {});  // the sound layer reports it
    }
    return entry.buffer;
  }
  page.decodeAudio = decodeAudio;

  // A fresh instance with `files` in its working directory. Lines it prints go
  // to `print`; the loader's own chatter before that goes to the console only.
  async function makeInstance(settings, print) {
    const compiled = await loadRuntime();
    let live = false;
    const output = (line) => (live ? print(line) : console.log(line));
    const module = await createVornisk(Object.assign({
      canvas,
      print: output,
      printErr: output,
      onAbort: broken,
      decodeAudio,
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(compiled, imports).then((instance) => receive(instance, compiled), broken);
        return {};
      },
    }, settings));
    live = true;
    module.FS.mkdir('/show');
    module.FS.chdir('/show');
    return module;
  }

  // Something the show could not report itself (no WebAssembly, out of memory):
  // one line, and the run is over.
  function broken(error) {
    if (state() === 'error') return;  // reported already
    message('vornisk: ' + (error && error.message ? error.message : error));
    say('The show stopped with an error (see below).');
    setState('error');
  }

  // ---------------------------------------------------------------------------
  // Checking a chosen file with the show's own rules, in the checker instance
  // (one check at a time: the music's waits for the browser's decoder).

  let checker = null;
  let checkLines = null;  // where the checker's lines go during a check
  let checks = Promise.resolve();
  function check(name, bytes) {
    const run = async () => {
      if (!checker) checker = makeInstance({}, (line) => (checkLines ? checkLines.push(line) : console.log(line)));
      const module = await checker;
      const lines = (checkLines = []);
      module.FS.writeFile(name, bytes);
      try {
        if (name === 'music._vq') {
          await module.ccall('vornisk_check_music', null, ['string'], [name], { async: true });
        } else {
          module.ccall('vornisk_check_title', 'number', ['string'], [name]);
        }
      } finally {
        checkLines = null;
        module.FS.unlink(name);
      }
      return lines;
    };
    const result = checks.then(run);
    checks = result.catch(() => {});
    return result;
  }

  const what = { 'title._vq': 'title picture', 'title2._vq': 'closing picture', 'music._vq': 'music' };
  const pending = {};  // name -> the AbortController of its default download

  async function choose(name, file) {
    say(`Checking ${file.name}…`);
    const bytes = new Uint8Array(await file.arrayBuffer());
    let lines;
    try {
      lines = await check(name, bytes);
    } catch (error) {
      return broken(error);
    }
    if (lines.length) {
      for (const line of lines) message(line);
      const format = name === 'music._vq' ? 'music this browser can play'
        : 'a title picture in the show\'s format (an 18-byte header with the size, then blue, green and red bytes, at most 320 × 240 pixels)';
      const keeps = files[name] ? `keeps its ${files[name].source === 'chosen' ? 'earlier' : 'own'} ${what[name]}` : `has no ${what[name]} yet`;
      message(`${file.name} is not ${format}: the show ${keeps}.`);
      say(`${file.name} was not used (see below).`);
      return;
    }
    if (pending[name]) pending[name].abort();
    setFile(name, bytes, 'chosen');
    if (name === 'title._vq') drawStartScreen();
    say(`Your ${what[name]} (${file.name}) will be used.`);
  }

  // ---------------------------------------------------------------------------
  // Capture mode.

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
    await Promise.all(names.map(async (name) => {
      const bytes = await download(`${dataFolder}/${name}`);
      if (bytes) setFile(name, bytes, 'default');
    }));
    let lines = [];
    let count = 0;
    const flush = () => {
      if (lines.length) $('hashes').textContent += lines.join('\n') + '\n';
      lines = [];
    };
    const module = await makeInstance({
      onFrameHash: (frame, crc) => {
        lines.push(frame + ' ' + crc.toString(16).padStart(8, '0'));
        ++count;
      },
    }, message);
    for (const name of names) if (files[name]) module.FS.writeFile(name, files[name].bytes);
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

  // ---------------------------------------------------------------------------
  // The real-time page.

  // The start screen shows the first title picture as the show would load it:
  // 18-byte header, then blue-green-red pixels, bottom row first, packed with
  // the picture's own width into the 320 x 240 surface. Pictures the show
  // refuses never get here.
  function drawStartScreen() {
    // The canvas keeps the size the show gave it; a new size would clear it.
    if (canvas.width !== 320 || canvas.height !== 240) {
      canvas.width = 320;
      canvas.height = 240;
    }
    const context = canvas.getContext('2d');
    const image = context.createImageData(320, 240);
    const words = new Uint32Array(image.data.buffer);  // little-endian: 0xAABBGGRR
    words.fill(0xFF000000);
    const bytes = files['title._vq'] && files['title._vq'].bytes;
    const width = bytes && bytes.length >= 18 ? bytes[12] | (bytes[13] << 8) : 0;
    const height = bytes && bytes.length >= 18 ? bytes[14] | (bytes[15] << 8) : 0;
    if (bytes && width * height <= 320 * 240) {
      // Bytes a short file does not hold are black, as in the show.
      const pixels = Math.min(width * height, Math.ceil((bytes.length - 18) / 3));
      for (let i = 0, at = 18; i < pixels; ++i, at += 3) {
        const row = (i / width) | 0;
        words[(height - 1 - row) * width + (i - row * width)] =
          0xFF000000 | ((bytes[at] | 0) << 16) | ((bytes[at + 1] | 0) << 8) | (bytes[at + 2] | 0);
      }
    }
    context.putImageData(image, 0, 0);
  }

  // The picture and the panel side by side or one above the other, whichever
  // gives the larger picture; the picture at whole factors of device pixels
  // where at least 1:1 fits, so that every show pixel is a crisp block. The
  // panel never covers the picture; in full screen it hides while the show
  // runs, and comes back (beside or below) on pointer movement or a tap.
  let controlsShown = false;
  function layout() {
    // The viewport's size, read without making the browser lay out the page;
    // in full screen the viewport is the screen.
    const width = innerWidth;
    const height = innerHeight;
    const hidden = !!document.fullscreenElement && state() === 'running' && !controlsShown;
    const side = Math.max(140, Math.min(260, width * 0.35));
    const below = Math.max(100, Math.min(180, height * 0.35));
    const rowScale = Math.min((width - side) / 320, height / 240);
    const columnScale = Math.min(width / 320, (height - below) / 240);
    const row = !hidden && rowScale >= columnScale;
    let scale = hidden ? Math.min(width / 320, height / 240) : Math.max(rowScale, columnScale, 0.1);
    const ratio = window.devicePixelRatio || 1;
    if (scale * ratio >= 1) scale = Math.floor(scale * ratio) / ratio;
    canvas.style.width = 320 * scale + 'px';
    canvas.style.height = 240 * scale + 'px';
    app.classList.toggle('panel-hidden', hidden);
    app.classList.toggle('row', row);
    app.classList.toggle('column', !row && !hidden);
    const panel = $('panel');
    panel.style.width = row ? Math.max(side, width - 320 * scale) + 'px' : '';
    panel.style.height = row ? '' : Math.max(0, height - 240 * scale) + 'px';
  }

  let audioContext = null;
  let endedBy = null;  // 'key' or 'stop'
  let reducedMotionConfirmed = false;
  let everything = null;  // all the show needs, loaded

  // Made (or resumed) inside the gesture, so the browser lets it sound; at
  // 44.1 kHz, the music's own rate, which the browser converts for its device.
  function audioInGesture() {
    if (!audioContext && window.AudioContext) {
      try {
        audioContext = new AudioContext({ sampleRate: 44100 });
      } catch (error) {
        audioContext = new AudioContext();
      }
    }
    if (audioContext) audioContext.resume();
    page.audioContext = audioContext;
  }

  async function start() {
    if (!['ready', 'done', 'error'].includes(state())) return;
    if (!reducedMotionConfirmed && matchMedia('(prefers-reduced-motion: reduce)').matches) {
      $('confirm').hidden = false;
      $('confirm-start').focus();
      say('Start the show anyway?');
      return;
    }
    $('confirm').hidden = true;
    hurry = true;
    audioInGesture();
    $('messages').textContent = '';
    endedBy = null;
    setState('starting');
    if (page.loadedMs === null) say('The show starts as soon as it has loaded…');
    await everything;
    const clicked = performance.now();
    page.framesShown = 0;
    page.firstFrameMs = null;
    page.firstFrameAt = null;
    const module = await makeInstance({
      audioContext,
      onFramePresented: () => {
        if (page.framesShown++ === 0) {
          page.firstFrameAt = performance.now();
          page.firstFrameMs = page.firstFrameAt - clicked;
        }
      },
    }, message);
    for (const name of names) if (files[name]) module.FS.writeFile(name, files[name].bytes);
    page.show = module;
    say('The show is running. Any key stops it.');
    setState('running');
    const status = await module.ccall('vornisk_show', 'number', [], [], { async: true });
    page.show = null;
    say(status !== 0 ? 'The show stopped with an error (see below).'
      : endedBy === 'key' ? 'The show was ended by a key.'
        : endedBy === 'stop' ? 'The show was stopped.' : 'The show is over.');
    $('start').textContent = 'Watch again';
    setState(status === 0 ? 'done' : 'error');
    $('start').focus();
  }

  function stop(by) {
    if (state() !== 'running' || !page.show || !page.show.vorniskScreen) return;
    endedBy = by;
    page.show.vorniskScreen.press();
  }

  // Keys that belong to the browser or to moving around the page.
  const browserKeys = new Set(['Tab', 'Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'OS', 'Super', 'Hyper',
    'CapsLock', 'NumLock', 'ScrollLock', 'Fn', 'FnLock', 'Symbol', 'SymbolLock', 'ContextMenu', 'Dead',
    'Unidentified', 'Process']);
  const forTheShow = (event) => !event.ctrlKey && !event.altKey && !event.metaKey && !event.isComposing &&
    !browserKeys.has(event.key) && !/^F[0-9]{1,2}$/.test(event.key);
  const activates = (event) => event.key === 'Enter' || event.key === ' ';

  function onKey(event) {
    if (state() === 'running') {
      // Enter or Space on a focused control is that control's.
      if (!forTheShow(event) || (activates(event) && event.target.closest('button, input, summary'))) return;
      event.preventDefault();
      stop('key');
    } else if (event.target === canvas && activates(event) && !event.repeat) {
      event.preventDefault();
      start().catch(broken);
    }
  }

  // In full screen, the controls come back for a while on a move or a tap.
  let controlsTimer = null;
  function showControlsForAWhile() {
    if (!document.fullscreenElement || state() !== 'running') return;
    clearTimeout(controlsTimer);
    controlsTimer = setTimeout(() => {
      // Not while the keyboard is in the panel.
      if ($('panel').contains(document.activeElement)) return showControlsForAWhile();
      controlsShown = false;
      layout();
    }, 3000);
    if (!controlsShown) {
      controlsShown = true;
      layout();
    }
  }

  function toggleFullScreen() {
    if (document.fullscreenElement) return document.exitFullscreen();
    if (app.requestFullscreen) app.requestFullscreen().catch(() => {});
  }

  // A hidden tab pauses the picture and the music together, the show's clock
  // with them; back in view, all three go on from where they were.
  let visibilityTurn = 0;
  function onVisibility() {
    const show = page.show;
    if (!show || !show.vorniskScreen || !audioContext) return;
    const turn = ++visibilityTurn;
    // What the tests read: frames and the show's clock on leaving and coming back.
    const note = () => ({ frames: page.framesShown, clock: show.vorniskClock ? show.vorniskClock.last : null, audio: audioContext.state });
    if (document.hidden) {
      show.vorniskScreen.pause();
      show.vorniskClock && show.vorniskClock.hold();
      audioContext.suspend();
      page.hidden = note();
    } else {
      page.shown = note();
      audioContext.resume().then(() => {
        if (turn !== visibilityTurn || page.show !== show || !show.vorniskScreen) return;
        show.vorniskClock && show.vorniskClock.release();
        show.vorniskScreen.resume();
      });
    }
  }
  // How far the show's clock is ahead of the music, in milliseconds: what it
  // would read now (never less than it last read) against where the music is.
  page.syncMs = () => {
    const audio = page.show && page.show.vorniskAudio;
    const clock = page.show && page.show.vorniskClock;
    if (!audio || !audio.playing || !clock) return null;
    const now = clock.heldAt === null ? performance.now() : clock.heldAt;
    const reading = Math.max(clock.last, Math.floor(now + clock.offset));
    return (reading - audio.startMs) - (audio.context.currentTime - audio.startContextTime) * 1000;
  };

  function realTime() {
    layout();
    addEventListener('resize', layout);
    document.addEventListener('fullscreenchange', () => {
      controlsShown = false;
      layout();
    });
    for (const button of document.querySelectorAll('.fullscreen')) button.addEventListener('click', toggleFullScreen);
    $('stage').addEventListener('dblclick', toggleFullScreen);
    $('start').addEventListener('click', () => start().catch(broken));
    $('stop').addEventListener('click', () => stop('stop'));
    canvas.addEventListener('click', () => start().catch(broken));
    $('confirm-start').addEventListener('click', () => {
      reducedMotionConfirmed = true;
      start().catch(broken);
    });
    $('confirm-cancel').addEventListener('click', () => {
      $('confirm').hidden = true;
      say('Not started.');
      $('start').focus();
    });
    document.addEventListener('keydown', onKey);
    app.addEventListener('pointermove', (event) => event.pointerType === 'mouse' && showControlsForAWhile());
    app.addEventListener('pointerdown', showControlsForAWhile);
    document.addEventListener('visibilitychange', onVisibility);
    for (const input of document.querySelectorAll('input[type=file]')) {
      input.addEventListener('change', () => {
        if (input.files[0]) choose(input.dataset.name, input.files[0]);
        input.value = '';  // the same file again is a new choice
      });
    }
    // Dropped files go by name: the two pictures by theirs, anything else is music.
    addEventListener('dragover', (event) => event.preventDefault());
    addEventListener('drop', (event) => {
      event.preventDefault();
      for (const file of event.dataTransfer.files) choose(names.includes(file.name) ? file.name : 'music._vq', file);
    });

    // Shown as laid out; what loads comes after that first paint: the frame
    // after the first one has begun (or at once in a hidden tab, which draws no
    // frames, or after a second, should frames not come).
    app.classList.add('laid-out');
    let loading = null;
    const begin = () => loading || (loading = loadDefaults());
    if (document.hidden) return begin();
    requestAnimationFrame(() => requestAnimationFrame(begin));
    document.addEventListener('visibilitychange', begin, { once: true });
    setTimeout(begin, 1000);
  }

  function loadDefaults() {
    // A default file, unless the visitor has chosen one.
    // The title picture comes on this thread (it is small and first), the
    // rest through the loader; the music's samples go to the decoded ones.
    const fetchDefault = async (name) => {
      if (files[name]) return;
      pending[name] = new AbortController();
      const { bytes, samples } = name === 'title._vq' ? { bytes: await fetchSmall(`${dataFolder}/${name}`, pending[name].signal) }
        : await load(`${dataFolder}/${name}`, pending[name].signal, name === 'music._vq');
      delete pending[name];
      if (bytes && !files[name]) {
        setFile(name, bytes, 'default');
        if (samples) decodeAhead(bytes, samples);
      }
    };
    const title = fetchDefault('title._vq').then(nextTurn).then(() => {
      drawStartScreen();
      page.titleShownMs = performance.now();
      say('Click the picture or press Start.');
      if (state() === 'loading') setState('ready');
    });
    // The rest once the picture is in: it is what shows first. The music is
    // decoded now, rather than after the click (a failure is the show's to report).
    everything = title.then(nextTurn).then(() => Promise.all([
      loadRuntime(),
      fetchDefault('title2._vq'),
      fetchDefault('music._vq'),
    ])).then(() => {
      page.loadedMs = performance.now();
      if (state() === 'ready') say('Ready: click the picture or press Start.');
      // A second visit plays offline.
      if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
      // The music's AudioBuffer, made in small steps while the visitor looks,
      // so that a click starts the show at once.
      if (files['music._vq']) decodeAudio(files['music._vq'].bytes);
    });
    everything.catch(broken);
    return everything;
  }

  if (params.has('capture')) capture().catch(broken);
  else realTime();
})();
