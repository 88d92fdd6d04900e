#!/usr/bin/env bash
# Lighthouse 12.2.3 against the web build (build/web/site) in Debian's
# Chromium, with the phone (the default: 4x slower processor, slow 4G) and the
# desktop settings. The site is served the way static hosts serve it: every
# response gzip-compressed when the browser accepts it. Prints the scores, the
# first visit's bytes and the main metrics; fails unless performance,
# accessibility and best practices all score 100 and the page's weight raises
# no payload warning.
#
# Lighthouse is installed once, pinned, into build/lighthouse (npm, not
# globally). Performance scores come from the page's main-thread tasks as this
# machine runs them: on a machine shared with other builds they come out low
# (see README.md, "In a web browser").
# Needs: cmake --workflow --preset web; scripts/install-deps.sh --with-web; npm.
# Usage: scripts/lighthouse-check.sh [mobile|desktop ...]   (default: both)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
site="$root/build/web/site"
tools="$root/build/lighthouse"
version=12.2.3
fail() {
  echo "lighthouse-check: $*" >&2
  exit 1
}
[[ -f "$site/vornisk.wasm" ]] || fail "no web build in $site (cmake --workflow --preset web)"
command -v chromium >/dev/null || fail "chromium is missing (scripts/install-deps.sh --with-web)"
command -v npm >/dev/null || fail "npm is missing"
lighthouse="$tools/node_modules/.bin/lighthouse"
if [[ ! -x "$lighthouse" || "$("$lighthouse" --version)" != "$version" ]]; then
  mkdir -p "$tools"
  npm install --prefix "$tools" --save-exact --no-audit --no-fund --loglevel=error "lighthouse@$version"
fi

work="$(mktemp -d)"
server=""
cleanup() {
  [[ -n "$server" ]] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A static server that compresses every response, on a free port.
cat >"$work/serve.py" <<'EOF'
import functools, gzip, http.server, io, os, sys
class Compressing(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, '.wasm': 'application/wasm',
                      '.webmanifest': 'application/manifest+json', '.js': 'text/javascript'}
    def log_message(self, *args):
        pass
    def send_head(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path):
            path = os.path.join(path, 'index.html')
        if 'gzip' not in self.headers.get('Accept-Encoding', '') or not os.path.isfile(path):
            return super().send_head()
        with open(path, 'rb') as file:
            body = gzip.compress(file.read(), 6)
        self.send_response(200)
        self.send_header('Content-Type', self.guess_type(path))
        self.send_header('Content-Encoding', 'gzip')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        return io.BytesIO(body)
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Compressing, directory=sys.argv[1]))
print(server.server_port, flush=True)
server.serve_forever()
EOF
/usr/bin/python3 "$work/serve.py" "$site" >"$work/port" &
server=$!
for _ in $(seq 50); do [[ -s "$work/port" ]] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")/"

status=0
for form in "${@:-mobile desktop}"; do
  for factor in $form; do
    preset=()
    [[ "$factor" == desktop ]] && preset=(--preset=desktop)
    CHROME_PATH="$(command -v chromium)" "$lighthouse" "$url" "${preset[@]}" --quiet \
      --chrome-flags="--headless=new --no-sandbox" \
      --only-categories=performance,accessibility,best-practices \
      --output=json --output-path="$work/$factor.json"
    /usr/bin/python3 - "$work/$factor.json" "$factor" <<'EOF' || status=1
import json, sys
report = json.load(open(sys.argv[1]))
scores = {key: round(category['score'] * 100) for key, category in report['categories'].items()}
audits = report['audits']
metrics = ', '.join(f"{name} {audits[key]['displayValue']}" for name, key in (
    ('FCP', 'first-contentful-paint'), ('LCP', 'largest-contentful-paint'), ('TBT', 'total-blocking-time'),
    ('CLS', 'cumulative-layout-shift'), ('SI', 'speed-index')))
weight = audits['total-byte-weight']
print(f"{sys.argv[2]}: {scores}; {weight['numericValue']:.0f} bytes transferred; {metrics}")
# A payload warning is the weight audit scoring under Lighthouse's pass mark.
bad = [key for key, score in scores.items() if score < 100] + (['payload'] if weight['score'] < 0.9 else [])
for key in bad:
    print(f"  {sys.argv[2]}: {key} below 100" if key != 'payload' else f"  {sys.argv[2]}: payload warning")
sys.exit(1 if bad else 0)
EOF
  done
done
[[ $status -eq 0 ]] && echo "lighthouse-check: 100 in every category, no payload warning"
exit $status
