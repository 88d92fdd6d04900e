#!/usr/bin/env python3
"""The show in a web browser, driven through headless Chromium. The site is
served from a folder deep below the server's root (relative paths only):

- first visit on an emulated 20 Mbit/s, 40 ms link: the title picture shows
  while the rest still loads, a file chosen meanwhile is not replaced by the
  default's download;
- the start screen and the show in real time: keys meant for the browser do not
  end it, Enter on the picture starts it, one click on "Watch again" starts it
  again; frames paced to 60 a second on a 144 Hz display, sound playing, the
  desktop's messages for bad files;
- files checked when chosen; reduced motion asks first; a hidden tab pauses
  picture and music together; a phone-sized touch screen in full screen, where
  a tap brings the controls back and the end panel shows; the layout never
  covers the picture;
- the music decoded by WebCodecs equals decodeAudioData's;
- capture mode's hash lines equal the native vornisk-capture's;
- a second visit, with the server gone, plays from the service worker's cache.

Exits 77 (skipped) with its reason when Chromium, chromedriver, selenium or the
web build is absent.

usage: web_test.py SITE_FOLDER NATIVE_BIN_FOLDER SOURCE_FOLDER"""
import functools
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77
site, native_bin, source = map(os.path.abspath, sys.argv[1:4])


def skip(reason):
    print('SKIPPED:', reason)
    # CI sets VORNISK_NO_SKIP: there a missing tool is a failure, not a skip.
    sys.exit(1 if os.environ.get('VORNISK_NO_SKIP') else SKIPPED)


if not os.path.isfile(os.path.join(site, 'vornisk.wasm')):
    skip(f'no web build in {site} (cmake --workflow --preset web)')
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys
except ImportError:
    skip('selenium is missing (apt-get install python3-selenium)')
for tool in ('chromium', 'chromedriver'):
    if not shutil.which(tool):
        skip(f'{tool} is missing (scripts/install-deps.sh --with-web)')

# (seed, fps, data folder): whole shows in capture mode. At 60 fps Intensity
# reaches its floor; 4294900000 wraps the clock 67.3 s in; at 2 fps the
# other folder's pictures and Ogg music go through every phase in 348 frames.
CAPTURES = [(0, 60, 'data'), (12345, 12, 'data'), (4294900000, 25, 'data'), (7, 2, 'other')]
GARBAGE = b'this is not music at all ' * 40
# (data folder, what the page must show): real-time starts on a click.
REAL_TIME = [
    ('data', ''),
    ('missing_title', 'vornisk: title._vq: could not open image file for reading\n'),
    ('garbage_music', 'Error!\nUnknown file format\n'),
]
SITE_PATH = 'any/folder/vornisk'  # where the site sits below the server's root


def make_root(root):
    """The site, plus the data folders the cases name, and files to choose."""
    folder = os.path.join(root, SITE_PATH)
    os.makedirs(folder)
    for name in os.listdir(site):
        os.symlink(os.path.join(site, name), os.path.join(folder, name))
    data = os.path.join(site, 'data')
    folders = {
        'other': {'title._vq': os.path.join(data, 'title2._vq'), 'title2._vq': os.path.join(data, 'title._vq'),
                  'music._vq': os.path.join(source, 'tests/data/tone.ogg')},
        'missing_title': {'title2._vq': os.path.join(data, 'title2._vq')},
        'garbage_music': {'title._vq': os.path.join(data, 'title._vq'), 'title2._vq': os.path.join(data, 'title2._vq'),
                          'music._vq': GARBAGE},
        'chosen': {'garbage.bin': GARBAGE},
    }
    for name, files in folders.items():
        os.mkdir(os.path.join(folder, name))
        for file, origin in files.items():
            if isinstance(origin, bytes):
                with open(os.path.join(folder, name, file), 'wb') as out:
                    out.write(origin)
            else:
                os.symlink(origin, os.path.join(folder, name, file))
    return folder


def serve(root):
    # Nothing kept in the browser's HTTP cache: offline, only the service
    # worker's cache can serve the site.
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def end_headers(self):
            self.send_header('Cache-Control', 'no-store')
            super().end_headers()

    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Quiet, directory=root))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f'http://127.0.0.1:{server.server_port}/{SITE_PATH}/index.html'


def browser():
    options = webdriver.ChromeOptions()
    for argument in ('--headless=new', '--no-sandbox', '--window-size=1024,768', '--mute-audio'):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service(shutil.which('chromedriver')), options=options)


def wait_for(driver, script, timeout, what):
    end = time.time() + timeout
    while time.time() < end:
        value = driver.execute_script('return ' + script)
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f'timed out waiting for {what}; page says: ' + page_text(driver))


def page_text(driver):
    return driver.execute_script(
        "return document.body.dataset.state + ' | ' + document.getElementById('status').textContent"
        " + ' | ' + document.getElementById('messages').textContent")


def state(driver):
    return driver.execute_script('return document.body.dataset.state')


def canvas_image(driver):
    return driver.execute_script("return document.getElementById('screen').toDataURL()")


def messages(driver):
    return driver.execute_script("return document.getElementById('messages').textContent")


def click(driver, element_id):
    ActionChains(driver).move_to_element(driver.find_element('id', element_id)).click().perform()


def keys(driver, *sequence):
    chain = ActionChains(driver)
    for key in sequence:
        if isinstance(key, tuple):  # (modifier, key): a shortcut
            chain.key_down(key[0]).send_keys(key[1]).key_up(key[0])
        else:
            chain.send_keys(key)
    chain.perform()


def frames_advance(driver):
    before = driver.execute_script('return vorniskPage.framesShown')
    time.sleep(0.3)
    return driver.execute_script('return vorniskPage.framesShown') > before


def open_page(driver, url, query=''):
    driver.get(url + query)
    wait_for(driver, "document.body.dataset.state == 'ready'", 60, 'the start screen')
    wait_for(driver, 'vorniskPage.loadedMs', 60, 'everything loaded')


def end_show(driver, key='x'):
    keys(driver, key)
    wait_for(driver, "['done', 'error'].includes(document.body.dataset.state)", 30, 'the end')


failures = []


def check(condition, what):
    print(('ok   ' if condition else 'FAIL ') + what, flush=True)
    if not condition:
        failures.append(what)


def first_visit(driver, url):
    """Cold caches on a 20 Mbit/s, 40 ms link: the picture first, then the rest."""
    driver.execute_cdp_cmd('Network.enable', {})
    driver.execute_cdp_cmd('Network.setCacheDisabled', {'cacheDisabled': True})
    driver.execute_cdp_cmd('Network.emulateNetworkConditions', {
        'offline': False, 'latency': 40, 'downloadThroughput': 2_500_000, 'uploadThroughput': 2_500_000})
    try:
        driver.get(url)
        wait_for(driver, "document.body.dataset.state == 'ready'", 30, 'the title picture')
        shown = driver.execute_script('return [vorniskPage.titleShownMs, vorniskPage.loadedMs]')
        # Then the rest comes under a progress bar (over a second at this speed).
        bar = wait_for(driver, "(() => { const bar = document.getElementById('progress');"
                       " return vorniskPage.loadedMs !== null ? 'loaded' :"
                       " !document.getElementById('loading').classList.contains('done') && bar.value > 0"
                       " && bar.value < bar.max && 'shown'; })()", 30, 'the progress bar')
        check(shown[1] is None and bar == 'shown',
              f'first visit: the title picture shows, then the rest loads under a progress bar ({bar})')
        # A closing picture chosen while its default is still on the way stays.
        driver.execute_script("document.getElementById('own-files').open = true")
        driver.find_element('css selector', 'input[data-name="title2._vq"]').send_keys(
            os.path.join(site, 'data', 'title._vq'))
        click(driver, 'screen')  # started at once: it waits for what it needs
        wait_for(driver, 'vorniskPage.framesShown > 0', 60, 'the first frame')
        loaded, first, sources = driver.execute_script(
            'return [vorniskPage.loadedMs, vorniskPage.firstFrameAt, vorniskPage.sources]')
        check(sources.get('title2._vq') == 'chosen' and sources.get('music._vq') == 'default',
              f'first visit: a file chosen during loading is kept: {sources}')
        print(f'     title picture {shown[0]:.0f} ms after navigation; all loaded {loaded:.0f} ms;'
              f' first show frame {first:.0f} ms (started while loading)')
        end_show(driver)
    finally:
        driver.execute_cdp_cmd('Network.emulateNetworkConditions', {
            'offline': False, 'latency': 0, 'downloadThroughput': -1, 'uploadThroughput': -1})
        driver.execute_cdp_cmd('Network.setCacheDisabled', {'cacheDisabled': False})


def real_time(driver, url):
    """Start on a click, frames at 60 a second, sound, a key ends, messages."""
    for folder, expected_messages in REAL_TIME:
        open_page(driver, url, f'?data={folder}')
        start_screen = canvas_image(driver)
        # A 144 Hz display: the show must still run at 60 frames per second.
        driver.execute_script('window.requestAnimationFrame = (f) => setTimeout(() => f(performance.now()), 7)')
        click(driver, 'screen')
        if folder == 'missing_title':
            wait_for(driver, "document.body.dataset.state == 'error'", 60, 'the error')
        else:
            wait_for(driver, 'vorniskPage.framesShown > 20', 60, 'frames')
            first = canvas_image(driver)
            rate = 'return [vorniskPage.framesShown, performance.now()]'
            frames, now = driver.execute_script(rate)
            time.sleep(1.5)
            frames_later, later = driver.execute_script(rate)
            # One-sided: a busy machine may only make it slower.
            check((frames_later - frames) * 1000 / (later - now) < 61.5, f'{folder}: at most 60 frames/s on 144 Hz')
            check(first != canvas_image(driver) and first != start_screen, f'{folder}: the canvas shows changing frames')
            # The music plays, unless it could not be decoded; the audio clock runs.
            sound = "const c = vorniskPage.audioContext; return [c.state, c.currentTime, " \
                "!!vorniskPage.show.vorniskAudio.playing]"
            before = driver.execute_script(sound)
            time.sleep(0.5)
            after = driver.execute_script(sound)
            check(after[0] == 'running' and after[1] > before[1] and after[2] == (not expected_messages),
                  f'{folder}: the audio runs, music playing: {after[2]}')
            print(f"     first frame {driver.execute_script('return vorniskPage.firstFrameMs'):.0f} ms after the click")
            end_show(driver)
            check('ended by a key' in page_text(driver), f'{folder}: a key ends the show and the page says so')
        check(messages(driver) == expected_messages, f'{folder}: messages {messages(driver)!r}')


def keyboard(driver, url):
    """Tab reaches the controls, Enter on the picture starts, keys for the
    browser do not end the show, Watch again starts in one action."""
    open_page(driver, url)
    driver.execute_script('document.activeElement.blur()')
    keys(driver, Keys.TAB)
    focused = driver.execute_script('return document.activeElement.id')
    keys(driver, Keys.TAB, Keys.SHIFT, Keys.CONTROL, Keys.ALT)
    check(focused == 'screen' and driver.execute_script('return document.activeElement.id') == 'start'
          and state(driver) == 'ready', 'keys: Tab moves to the picture, then the start button; nothing starts')
    keys(driver, (Keys.SHIFT, Keys.TAB), Keys.ENTER)
    wait_for(driver, 'vorniskPage.framesShown > 5', 30, 'the show started by Enter on the picture')
    keys(driver, Keys.SHIFT, Keys.CONTROL, Keys.ALT, Keys.META, Keys.TAB, (Keys.CONTROL, 'c'), (Keys.ALT, 'x'), Keys.F1)
    check(state(driver) == 'running' and frames_advance(driver),
          'keys: Shift, Ctrl, Alt, Meta, Tab, Ctrl+C, Alt+X and F1 leave the show running')
    driver.execute_script("document.getElementById('screen').focus()")
    end_show(driver, Keys.ESCAPE)
    focused = driver.execute_script('return [document.activeElement.id, document.activeElement.textContent]')
    keys(driver, Keys.ENTER)
    wait_for(driver, 'vorniskPage.framesShown > 5', 30, 'the show again')
    check(focused == ['start', 'Watch again'], f'keys: after the end, Enter on "Watch again" starts it again ({focused})')
    end_show(driver)


def files_at_pick_time(driver, url):
    """Chosen files checked at once, bad ones refused with the desktop's lines."""
    open_page(driver, url)
    driver.execute_script("document.getElementById('own-files').open = true")
    default_screen = canvas_image(driver)
    garbage = os.path.join(root_folder, 'chosen', 'garbage.bin')
    size = f'{GARBAGE[12] | GARBAGE[13] << 8} x {GARBAGE[14] | GARBAGE[15] << 8}'
    cases = [  # (input, file, what must be said first, whose title and music are used after)
        ('title._vq', garbage, f'vornisk: title._vq: image of {size} pixels is larger than the 320 x 240 title'
         ' surface\ngarbage.bin is not a title picture', ['default', 'default']),
        ('music._vq', garbage, 'Error!\nUnknown file format\ngarbage.bin is not music', ['default', 'default']),
        ('title._vq', os.path.join(site, 'data', 'title2._vq'), '', ['chosen', 'default']),
    ]
    for name, path, said, used in cases:
        driver.execute_script("document.getElementById('messages').textContent = ''")
        driver.find_element('css selector', f'input[data-name="{name}"]').send_keys(path)
        wait_for(driver, "/not used|will be used/.test(document.getElementById('status').textContent)", 30,
                 f'the check of {os.path.basename(path)} as {name}')
        got = messages(driver)
        sources = driver.execute_script("return [vorniskPage.sources['title._vq'], vorniskPage.sources['music._vq']]")
        check(got.startswith(said) if said else got == '', f'files: {os.path.basename(path)} as {name}: {got!r}')
        check(sources == used and (used[0] == 'chosen') == (canvas_image(driver) != default_screen),
              f'files: {os.path.basename(path)} as {name}: title and music used {sources}, start screen to match')
    driver.find_element('css selector', 'input[data-name="music._vq"]').send_keys(garbage)
    wait_for(driver, "document.getElementById('messages').textContent", 30, 'a message')
    click(driver, 'start')
    wait_for(driver, 'vorniskPage.framesShown > 2', 30, 'the show')
    check(messages(driver) == '', 'files: the last messages are cleared at the start')
    end_show(driver)


def reduced_motion(driver, url):
    driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': [{'name': 'prefers-reduced-motion', 'value': 'reduce'}]})
    try:
        open_page(driver, url)
        click(driver, 'screen')
        time.sleep(0.3)
        asked = driver.execute_script("return !document.getElementById('confirm').hidden")
        check(asked and state(driver) == 'ready', 'reduced motion: a click asks before starting')
        click(driver, 'confirm-start')
        wait_for(driver, 'vorniskPage.framesShown > 2', 30, 'the show after the confirmation')
        end_show(driver)
    finally:
        driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})


def hidden_tab(driver, url):
    """Another tab in front: picture, music and the show's clock wait together."""
    open_page(driver, url)
    click(driver, 'screen')
    wait_for(driver, 'vorniskPage.framesShown > 30 && vorniskPage.syncMs() !== null', 30, 'frames with music')
    show_tab = driver.current_window_handle
    driver.switch_to.new_window('tab')
    time.sleep(1.5)
    driver.close()
    driver.switch_to.window(show_tab)
    wait_for(driver, 'vorniskPage.shown && vorniskPage.framesShown > vorniskPage.shown.frames + 10', 30,
             'the show going on')
    hidden, shown = driver.execute_script('return [vorniskPage.hidden, vorniskPage.shown]')
    check(hidden['frames'] == shown['frames'] and shown['audio'] == 'suspended' and shown['clock'] - hidden['clock'] < 50,
          f'hidden tab: no frame, music suspended, the clock held ({hidden} -> {shown})')
    time.sleep(0.5)
    drift = [driver.execute_script('return vorniskPage.syncMs()') for _ in range(5)]
    check(all(abs(ms) < 1000 / 60 for ms in drift), f'hidden tab: the clock back within a frame of the music ({drift})')
    end_show(driver)


def touch_and_full_screen(driver, url):
    """A phone in landscape: taps start, full screen, the controls come back on
    a tap, Stop ends, the end panel shows in full screen, Watch again in one tap."""
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': 740, 'height': 360, 'deviceScaleFactor': 2, 'mobile': True})
    driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': True, 'maxTouchPoints': 5})

    def tap(selector):
        x, y = driver.execute_script(
            f"const r = document.querySelector('{selector}').getBoundingClientRect();"
            "return [r.left + r.width / 2, r.top + r.height / 2]")
        for kind, points in (('touchStart', [{'x': x, 'y': y}]), ('touchEnd', [])):
            driver.execute_cdp_cmd('Input.dispatchTouchEvent', {'type': kind, 'touchPoints': points})
        time.sleep(0.2)

    visible = "(id) => { const r = document.getElementById(id).getBoundingClientRect();" \
        " return r.width > 0 && r.height > 0 && r.bottom <= innerHeight && r.right <= innerWidth; }"
    try:
        open_page(driver, url)
        tap('#screen')
        wait_for(driver, 'vorniskPage.framesShown > 2', 30, 'the show started by a tap')
        tap('.during-show .fullscreen')
        wait_for(driver, 'document.fullscreenElement && vorniskPage.framesShown', 10, 'full screen')
        time.sleep(3.5)  # the controls brought by the tap hide again
        hidden = driver.execute_script(f"return !({visible})('stop')")
        tap('#screen')
        shown = driver.execute_script(f"return ({visible})('stop')")
        check(hidden and shown and state(driver) == 'running', 'touch: in full screen a tap brings back the Stop control')
        tap('#stop')
        wait_for(driver, "document.body.dataset.state == 'done'", 30, 'the end')
        check(driver.execute_script(f"return document.fullscreenElement && ({visible})('start') && ({visible})('status')")
              and 'stopped' in page_text(driver), 'touch: after the end the panel shows in full screen')
        tap('#start')
        wait_for(driver, 'vorniskPage.framesShown > 2', 30, 'the show again')
        check(state(driver) == 'running', 'touch: one tap on "Watch again" starts the show again')
        time.sleep(3.5)  # the controls hide again; a key ends the show
        end_show(driver)
        check(driver.execute_script(f"return document.fullscreenElement && ({visible})('start')"),
              'full screen: the end panel shows when a key ends the show')
        driver.execute_script('document.exitFullscreen()')
    finally:
        driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': False})
        driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})


def layout(driver, url):
    """The controls never cover the picture; the status stays readable; at
    1280 x 800 the picture gets three screen pixels a show pixel."""
    open_page(driver, url)
    geometry = """const box = (id) => document.getElementById(id).getBoundingClientRect();
        const s = box('screen'), p = box('panel'), t = box('status');
        const apart = s.right <= p.left || p.right <= s.left || s.bottom <= p.top || p.bottom <= s.top;
        const inside = (r) => r.top >= 0 && r.left >= 0 && r.bottom <= innerHeight && r.right <= innerWidth;
        return [apart && inside(s), inside(t) && t.width >= 100,
                parseFloat(getComputedStyle(document.getElementById('status')).fontSize), s.width, s.height,
                getComputedStyle(document.getElementById('screen')).cursor];"""
    for width, height in ((1280, 800), (300, 200), (740, 360), (360, 740)):
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': False})
        time.sleep(0.2)
        apart, readable, font, picture_width, picture_height, _ = driver.execute_script(geometry)
        check(apart and readable and font >= 12 and (width, height) != (1280, 800) or (picture_width, picture_height) == (960, 720),
              f'layout {width} x {height}: picture {picture_width:.0f} x {picture_height:.0f} on screen, beside or'
              f' above the controls, status on screen, 100 px wide or more, {font:.0f} px')
    click(driver, 'screen')
    wait_for(driver, 'vorniskPage.framesShown > 2', 30, 'the show')
    check(driver.execute_script(geometry)[5] == 'none', 'layout: no pointer over the running show')
    end_show(driver)
    driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})


def webcodecs_equals_decode_audio_data(driver, url):
    open_page(driver, url)
    same = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        (async () => {
          const bytes = new Uint8Array(await (await fetch('data/music._vq')).arrayBuffer());
          const fast = await vorniskPage.decodeAudio(bytes);
          const slow = await new OfflineAudioContext(2, 1, 44100).decodeAudioData(bytes.slice().buffer);
          let equal = fast.length === slow.length && fast.numberOfChannels === slow.numberOfChannels;
          for (let c = 0; equal && c < slow.numberOfChannels; ++c) {
            const a = fast.getChannelData(c), b = slow.getChannelData(c);
            for (let i = 0; equal && i < b.length; ++i) equal = a[i] === b[i];
          }
          return [vorniskPage.decodedBy, equal, slow.length];
        })().then(done, (error) => done(String(error)));""")
    check(same[:2] == ['WebCodecs', True] and same[2] == 174 * 44100,
          f'music: WebCodecs in a worker gives decodeAudioData\'s 174 s, sample for sample ({same})')


def captures(driver, url):
    native = {case: subprocess.Popen(
        [os.path.join(native_bin, 'vornisk-capture'), '--seed', str(case[0]), '--fps', str(case[1]),
         '--data', os.path.join(root_folder, case[2]), '--hash'], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for case in CAPTURES}
    for case in CAPTURES:
        seed, fps, folder = case
        driver.get(f'{url}?capture&seed={seed}&fps={fps}&data={folder}')
        wait_for(driver, "['done', 'error'].includes(document.body.dataset.state)", 400, f'capture {case}')
        hashes, said, rate = driver.execute_script(
            "return [document.getElementById('hashes').textContent,"
            " document.getElementById('messages').textContent, vorniskPage.captureFramesPerSecond]")
        expected, summary = native[case].communicate()
        check(native[case].returncode == 0 and hashes == expected and said == '' and hashes.count('\n') == 174 * fps,
              f'capture seed {seed} fps {fps} data {folder}: {hashes.count(chr(10))} hash lines equal native')
        print(f'     Chromium {rate:.1f} frames/s; native, run alongside: {summary.strip().splitlines()[-1]}')


def offline_second_visit(driver, url, server):
    """The service worker keeps the site: with the server gone, it still plays."""
    driver.get(url)
    cached = wait_for(driver, "navigator.serviceWorker.controller && vorniskPage.loadedMs", 60, 'the service worker')
    errors = driver.execute_cdp_cmd('Page.getInstallabilityErrors', {}).get('installabilityErrors')
    check(errors == [], f'install: the browser can install the page ({errors})')
    count = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        caches.keys().then((keys) => caches.open(keys[0])).then((cache) => cache.keys())
          .then((requests) => done(requests.length), () => done(0));""")
    server.shutdown()
    server.server_close()
    open_page(driver, url)
    click(driver, 'screen')
    wait_for(driver, 'vorniskPage.framesShown > 20 && vorniskPage.show.vorniskAudio.playing', 30, 'the show offline')
    check(bool(cached) and count == 10 and messages(driver) == '',
          f'offline: a second visit plays from the service worker\'s {count} files')
    end_show(driver)


def main():
    global root_folder
    with tempfile.TemporaryDirectory() as root:
        root_folder = make_root(root)
        server, url = serve(root)
        driver = browser()
        started = time.time()
        try:
            for case in (first_visit, real_time, keyboard, files_at_pick_time, reduced_motion, hidden_tab,
                         touch_and_full_screen, layout, webcodecs_equals_decode_audio_data, captures):
                try:
                    case(driver, url)
                except Exception as error:  # one case's failure does not hide the others'
                    check(False, f'{case.__name__}: {error}'.splitlines()[0])
            offline_second_visit(driver, url, server)
        finally:
            driver.quit()
        print(f'     {time.time() - started:.0f} s in the browser')
    if failures:
        sys.exit('failed: ' + '; '.join(failures))


main()
