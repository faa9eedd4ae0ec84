#!/usr/bin/python3
"""The gateway end to end: the built Quillby and its command line, the stand-in client with an
edge in front of it (Edge), real dev servers (Vite, Next.js, Django), headless Chromium and the
stand-in account API (tests/support/account_api.py). Run inside scripts/desktop-session.sh
--tray --notifications. One quick tunnel, "Dev", is pointed at each server in turn while it
runs: its one child and its URL last through every change. Then a tunnel on the user's own
domain, "Own", signed in, set up, and run again after a restart with no account call. What the
gateway does with each request is tst_gateway's and tst_proxy's. Screenshots go to --artifacts;
the row's options menu and refusal line also to $QUILLBY_SCREENSHOTS when set.
"""
import contextlib
import http.client
import json
import os
import re
import socket
import socketserver
import subprocess
import threading
from pathlib import Path

import pyatspi

from journey import Journey, answer, click, expect, log, main, quillby_windows, run, wait_for
import devservers  # noqa: E402 (journey puts tests/support on the path)

LABEL = 'quill-gateway-over-loopback'
NAME = LABEL + '.trycloudflare.com'
PUBLIC = 'https://' + NAME
HOST = 'dev.example.com'  # the own domain's tunnel's; the stand-in account's zone is example.com
DOCS = os.environ.get('QUILLBY_SCREENSHOTS')  # set to docs/screenshots to renew the README's
VITE_REFUSAL = 'Vite refuses the tunnel\'s address; turn on Open as localhost'
MESSAGE = "document.getElementById('message').textContent"  # on the pages of Vite and Next.js


class Edge(socketserver.ThreadingTCPServer):
    """The tunnel network's edge: a loopback listener that hands each visitor connection to the
    gateway of the newest client still running (its --url), the way a request comes there
    through the real edge and client. The edge's forwarding headers and the connector's tag are
    added, hop-by-hop ones dropped, a browser's Origin and Referer (plain http here) name the
    public https URL, a WebSocket upgrade passes as raw bytes both ways; with no gateway to
    reach, the visitor is hung up on.
    Chromium reaches it by mapping the public names to its port."""
    DROPPED = {'connection', 'keep-alive', 'proxy-connection', 'te', 'upgrade', 'x-forwarded-for',
               'x-forwarded-proto', 'cdn-loop', 'sec-websocket-version'}
    daemon_threads = True

    def __init__(self, gateway_port):
        super().__init__(('127.0.0.1', 0), lambda visitor, *_: self.serve(visitor))
        self.gateway_port, self.port = gateway_port, self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @staticmethod
    def pump(read, to, then=lambda: None):
        with contextlib.suppress(OSError):
            while chunk := read(65536):
                to.sendall(chunk)
        with contextlib.suppress(OSError):
            then()

    def serve(self, visitor):
        """Requests go rewritten to one gateway connection, answers come back untouched."""
        # With no client running port 0, refused too. The server closes the visitor's socket.
        with visitor.makefile('rb') as reader, contextlib.suppress(OSError), \
                socket.create_connection(('127.0.0.1', self.gateway_port() or 0)) as origin:
            answers = threading.Thread(target=self.pump, args=(
                origin.recv, visitor, lambda: visitor.shutdown(socket.SHUT_RDWR)))
            answers.start()
            try:
                while line := reader.readline(65536):
                    request, length, upgrade = self.rewrite(line, http.client.parse_headers(reader))
                    origin.sendall(request + reader.read(length))
                    if upgrade:
                        return self.pump(reader.read1, origin)
            finally:
                with contextlib.suppress(OSError):
                    origin.shutdown(socket.SHUT_WR)
                answers.join()

    def rewrite(self, line, fields):
        upgrade, public = fields.get('upgrade', '').lower() == 'websocket', re.escape(fields.get('host', ''))
        kept = [(n, re.sub(f'(?i)^http://({public})(?=/|$)', r'https://\1', v)) for n, v in fields.items()
                if not n.lower().startswith('cf-') and n.lower() not in self.DROPPED]
        kept += [('X-Forwarded-For', '127.0.0.1'), ('X-Forwarded-Proto', 'https'),
                 ('Cf-Connecting-Ip', '127.0.0.1'), ('Cf-Ray', os.urandom(8).hex() + '-AMS'),
                 ('Cf-Visitor', '{"scheme":"https"}'), ('Cdn-Loop', 'cloudflare; loops=1'),
                 ('Cf-Warp-Tag-Id', '0c5d9e3a-7b21-4f6e-9d84-2a1f6b3c8e57')]
        kept += [('Connection', 'Upgrade'), ('Upgrade', 'websocket'), ('Sec-WebSocket-Version', '13')] \
            if upgrade else [('Connection', 'keep-alive')]
        head = line.decode('latin-1') + ''.join(f'{n}: {v}\r\n' for n, v in kept) + '\r\n'
        return head.encode('latin-1'), int(fields.get('content-length') or 0), upgrade


class Gateway(Journey):
    def __init__(self, args):
        super().__init__(args)
        self.env.update(FAKE_CF_LABEL=LABEL)
        self.edge = Edge(lambda: next((port for pid, port in reversed(self.launches()) if pid in self.alive()), None))
        # The account API's log: "PORT n", then a line per call it answers.
        self.account_log = Path(self.home, 'account-api')
        with open(self.account_log, 'w') as out:
            self.stack.callback(devservers.stop, subprocess.Popen(
                ['/usr/bin/python3', Path(__file__).parent.parent / 'support/account_api.py', 'ok'],
                stdout=out, start_new_session=True))
        port = wait_for('the account API', lambda: re.match(r'PORT (\d+)\n', self.account_log.read_text()))
        self.env['TUNNEL_API_URL'] = f'http://127.0.0.1:{port.group(1)}'

    def account_calls(self):
        return [line.split()[0] for line in self.account_log.read_text().splitlines()[1:]]

    def q(self, *args, check=True):
        return run(self.quillby_path, *map(str, args), check=check, timeout=60, env=self.env).strip()

    def tunnel(self, name='Dev'):
        return next(t for t in json.loads(self.q('list', '--json'))['tunnels'] if t['name'] == name)

    def get(self, path='/', headers=None, host=NAME):
        return devservers.get(self.edge.port, path, host, headers)

    def repoint(self, port, **switches):
        self.q('set', 'Dev', '--port', port, *(f'--{k.replace("_", "-")}={v}' for k, v in switches.items()))

    def run(self):
        vite, next_dev, django = (self.stack.enter_context(start()) for start in
                                  (devservers.vite, devservers.next_dev, devservers.django))
        self.app = self.start_quillby('gateway')
        wait_for('the control socket', lambda: self.q('list', check=False))
        self.q('set', 'Tunnel', '--name', 'Dev', '--port', vite.port)
        expect('quillby share VITE_PORT', self.q('share', vite.port), PUBLIC)
        self.browser = self.stack.enter_context(devservers.Browser({NAME: self.edge.port, HOST: self.edge.port}))
        for step, *servers in ((self.vite, vite), (self.next, next_dev), (self.django, django), (self.refusal, vite),
                               (self.password, vite), (self.inspector, vite), (self.unable_to_bind,),
                               (self.own_domain, vite, django), (self.restarted, django)):
            step(*servers)

    def vite(self, vite):
        log('1. Vite through Quillby: the page, the live-reload socket, a file edit over it')
        # With the token Vite's client script holds.
        token = re.search(r'const wsToken = "([^"]+)"', devservers.get(vite.port, '/@vite/client')[2].decode())
        expect('the live-reload socket through the edge',
               devservers.upgrade(self.edge.port, '/?token=' + token.group(1), NAME, PUBLIC, 'vite-hmr'), 101)
        self.browser.goto(f'http://{NAME}/')
        self.edit(vite, 'hello from vite', 'edited')

    def edit(self, vite, old, new):
        """A file edit reaches the page in Chromium over the live-reload socket."""
        self.browser.wait_for(f"{MESSAGE} == '{old}'")
        (vite.root / 'main.js').write_text((vite.root / 'main.js').read_text().replace(old, new))
        self.browser.wait_for(f"{MESSAGE} == '{new}'")

    def next(self, next_dev):
        log('2. Next.js: a /_next/ script and the live-reload socket pass with the rewrite only; hydrated')
        # Next.js drops a refused socket unanswered, and the gateway says 502 for it.
        for rewrite, chunk, hmr in (('off', 403, 502), ('on', 200, 101)):
            self.repoint(next_dev.port, rewrite_host=rewrite)
            script = re.search(r'src="(/_next/static/chunks/[^"]+)"', self.get()[2].decode()).group(1)
            expect(f'rewrite {rewrite}: a /_next/ script, the live-reload socket',
                   (self.get(script, {'Origin': PUBLIC})[0],
                    devservers.upgrade(self.edge.port, '/_next/hmr?id=q', NAME, PUBLIC)), (chunk, hmr))
        self.browser.goto(f'http://{NAME}/', until=f"{MESSAGE} == 'hydrated'")

    def django(self, django):
        log('3. Django: 400 without the rewrite, 200 with it; a redirect built from Host is public')
        self.repoint(django.port, rewrite_host='off')
        expect('rewrite off', self.get()[0], 400)
        self.q('set', 'Dev', '--rewrite-host', 'on')
        expect('rewrite on', self.get()[:3:2], (200, b'hello from django'))
        status, headers, _ = self.get('/go')
        expect('the redirect', (status, headers.get('location')), (302, PUBLIC + '/done'))

    def refusal(self, vite):
        log('4. Rewrite off: Vite refuses, the row says why; on: passes, the line gone')
        self.repoint(vite.port, rewrite_host='off')
        expect('Vite through the edge', self.get()[0], 403)
        expect('the refusal line', wait_for('the line', lambda: self.tunnel()['problem']), VITE_REFUSAL)
        self.open_window()
        wait_for('the line in the row', lambda: self.showing(VITE_REFUSAL))
        self.screenshot('row-refusal', DOCS and os.path.join(DOCS, 'row-refusal.png'), cropped=True)
        # The row's options menu, shown for the README.
        button = wait_for('the options button', lambda: self.showing('Tunnel Options'))
        x, y, w, h = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        shown = len([g for g in quillby_windows() if g['viewable']])
        click(x + w // 2, y + h // 2)
        wait_for('the menu', lambda: len([g for g in quillby_windows() if g['viewable']]) > shown)
        self.screenshot('row-options-menu', DOCS and os.path.join(DOCS, 'row-options-menu.png'), cropped=True)
        run('xdotool', 'key', 'Escape')
        self.q('set', 'Dev', '--rewrite-host', 'on')
        expect('Vite through the edge', self.get()[0], 200)
        expect('the refusal line', self.tunnel()['problem'], None)

    def password(self, vite):
        log("5. A password: Chromium's basic auth with the URL's credentials, a file edit behind it")
        self.q('set', 'Dev', '--password', 'on')
        user_password = re.match(r'https://([^@]+)@', self.q('url', 'Dev', '--credentials')).group(1)
        expect('no credentials', self.get()[0], 401)
        self.browser.goto(f'http://{user_password}@{NAME}/')
        self.edit(vite, 'edited', 'protected')
        self.q('set', 'Dev', '--password', 'off')
        expect('password off', self.get()[0], 200)

    def inspector(self, vite):
        log("6. Inspection: the HAR to har-validator and DevTools; the requests window")
        self.q('set', 'Dev', '--inspect', 'on')
        self.browser.goto(f'http://{NAME}/', until=f"{MESSAGE} == 'protected'")
        har = json.loads(self.q('requests', 'Dev', '--har'))
        expect('har-validator', devservers.har_errors(har), [])
        no_creator = {'log': {k: v for k, v in har['log'].items() if k != 'creator'}}  # the validator does say no
        expect('har-validator, no creator', devservers.har_errors(no_creator), lambda e: 'creator' in str(e))
        self.browser.goto('devtools://devtools/bundled/devtools_app.html')
        imported = self.browser.evaluate(
            "import('./models/har/har.js').then(h => h.Importer.Importer.requestsFromHARLog("
            f"new h.HARFormat.HARRoot({json.dumps(har)}).log).map(r => [r.requestMethod, r.url(), r.statusCode]))")
        wanted = [[e['request']['method'], e['request']['url'], e['response']['status']] for e in har['log']['entries']]
        expect('DevTools imported', imported, lambda v: v == wanted and len(v) > 3)
        self.open_window()
        self.press('Show requests')  # and in the requests window
        wait_for('a request in the requests window', lambda: self.showing('/@vite/client'))
        self.screenshot('requests-window')
        run('xdotool', 'key', 'Escape')
        wait_for('the requests window to close', lambda: not self.showing('Requests, newest first'))
        self.q('set', 'Dev', '--inspect', 'off')
        # Every change so far (steps 1 to 6) kept the first launch of the client and its URL.
        expect('launches of the client; the URL', (len(self.launches()), self.q('url', 'Dev')), (1, PUBLIC))

    def unable_to_bind(self):
        log('7. The gateway cannot listen (no file descriptor left): no start, the row says why')
        self.q('stop', 'Dev')
        launches = len(self.launches())
        self.open_window()
        start = wait_for('Start', lambda: self.showing('Start'))
        # Every descriptor from the lowest free one on is refused; the window's Start comes
        # over the accessibility bus, which is open already. No command may run meanwhile: the
        # control socket could not take it.
        fds = {int(fd) for fd in os.listdir(f'/proc/{self.app.pid}/fd')}
        lowest = min(set(range(len(fds) + 1)) - fds)
        limits = run('prlimit', '--pid', str(self.app.pid), '--nofile', '--output=SOFT,HARD', '--noheadings').split()
        run('prlimit', '--pid', str(self.app.pid), f'--nofile={lowest}:{limits[1]}')
        start.queryAction().doAction(0)
        line = wait_for('the reason in the row', lambda: next(filter(lambda name: 'gateway cannot listen' in name, (
            answer(lambda: n.name, '') for n in self.nodes())), None))
        run('prlimit', '--pid', str(self.app.pid), f'--nofile={limits[0]}:{limits[1]}')
        self.screenshot('gateway-cannot-listen', cropped=True)
        expect('the row; launches of the client', (line, len(self.launches())),
               ('Cannot start: the gateway cannot listen (Too many open files)', launches))
        expect('quillby list', self.tunnel()['state'], 'stopped')

    def own_domain(self, vite, django):
        log(f'8. Signed in, a tunnel on {HOST}: set up, Active there; through it with the rewrite')
        expect('quillby login', self.q('login', '--wait', 20).splitlines()[-1], 'Signed in')
        self.q('add', '--port', vite.port, '--name', 'Own', '--hostname', HOST, '--start')
        expect('quillby url Own; the account API', (self.q('url', 'Own', '--wait', 20), self.account_calls()),
               ('https://' + HOST, ['POST', 'PUT']))  # created, routed
        # Vite answers a cross-origin request without the header, one from its own origin with it.
        status, headers, _ = self.get(headers={'Origin': 'https://' + HOST}, host=HOST)
        expect('Vite: the status; the origin it was sent', (status, headers.get('access-control-allow-origin')),
               (200, f'http://localhost:{vite.port}'))
        self.browser.goto(f'http://{HOST}/', until=f"{MESSAGE} == 'protected'")
        self.q('set', 'Own', '--port', django.port)
        status, headers, _ = self.get('/go', host=HOST)
        expect('a redirect Django built from Host', (status, headers.get('location')), (302, f'https://{HOST}/done'))

    def restarted(self, django):
        log('9. Quit, start Quillby again, Start: the same URL, no account call')
        calls = len(self.account_calls())
        self.quit_cleanly(self.app.terminate)
        self.app = self.start_quillby('restarted')
        wait_for('the control socket', lambda: self.q('list', check=False))
        self.q('start', 'Own')
        expect('quillby url Own', self.q('url', 'Own', '--wait', 20), 'https://' + HOST)
        expect('Django through the edge', self.get(host=HOST)[:3:2], (200, b'hello from django'))
        expect('account calls in this run', self.account_calls()[calls:], [])
        # The tunnel's secret stays in its credentials file: in nothing Quillby saves, writes or shows.
        credentials = next(Path(self.env['XDG_DATA_HOME'], 'quillby').rglob('*.json'))
        secret = json.loads(credentials.read_text())['TunnelSecret']
        run('dunstctl', 'close-all')  # its history holds the closed ones
        seen = [self.q('list', '--json'), run('dunstctl', 'history'),
                *(p.read_text(errors='replace') for p in [*Path(self.artifacts).glob('quillby-*.log'),
                                                          *Path(self.env['XDG_CONFIG_HOME']).rglob('*.conf')])]
        expect('the credentials file\'s mode; what shows its secret', (oct(credentials.stat().st_mode & 0o777),
               [text[:40] for text in seen if secret in text]), ('0o600', []))


if __name__ == '__main__':
    main(Gateway, __doc__)
