// The page's service worker: keeps the whole site, default data included, so
// that a second visit plays without a network. Every URL is relative to this
// file, so the site works from any folder. The build fills in the cache's name
// from the files' contents: a site that changes in any byte installs afresh,
// and the old cache goes once the new one is complete.
'use strict';
const CACHE = 'vornisk-@CACHE_VERSION@';
const FILES = [
  'index.html', 'vornisk.js', 'vornisk.wasm', 'manifest.webmanifest',
  'icons/icon-32.png', 'icons/icon-192.png', 'icons/icon-512.png',
  'data/title._vq', 'data/title2._vq', 'data/music._vq',
];

self.addEventListener('install', (event) => {
  // The page registers this once its own downloads are done, so these mostly
  // come from the browser's HTTP cache.
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((keys) => Promise.all(keys.filter((key) => key.startsWith('vornisk-') && key !== CACHE)
      .map((key) => caches.delete(key))))
    .then(() => self.clients.claim()));
});

// The site's own files from the cache (the page's query, ?capture and the
// like, does not choose another file; the folder itself is index.html);
// anything else from the network.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  const folder = event.request.mode === 'navigate' && new URL(event.request.url).pathname.endsWith('/');
  const file = folder ? new URL('index.html', event.request.url).href : event.request;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(file, { ignoreSearch: true }))
    .then((cached) => cached || fetch(event.request)));
});
