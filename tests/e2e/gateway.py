#!/usr/bin/python3
"""The gateway end to end: the built Quillby and its command line, the stand-in client playing
the edge in front of the gateway (FAKE_CF_EDGE), real dev servers (Vite, Next.js, Django) and
headless Chromium. Run inside scripts/desktop-session.sh --tray --notifications. One tunnel,
"Dev", is pointed at each server in turn while it runs: its one child and its URL last through
every change. What the gateway does with each request is tst_gateway's and tst_proxy's. Screenshots go to --artifacts; the row's options menu and refusal line also to
$QUILLBY_SCREENSHOTS when set.
"""
import contextlib
import json
import os
import re
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent / 'support')]
import devservers  # noqa: E402
from journey import (Journey, JourneyFailure, gvariant, key, log, main, popup,  # noqa: E402
                     quillby_windows, run, wait_for)

LABEL = 'quill-gateway-over-loopback'
NAME = LABEL + '.trycloudflare.com'
PUBLIC = 'https://' + NAME
DOCS = os.environ.get('QUILLBY_SCREENSHOTS')  # set to docs/screenshots to renew the README's
VITE_REFUSAL = 'Vite refuses the tunnel\'s address; turn on Open as localhost'
MESSAGE = "document.getElementById('message').textContent"  # on the pages of Vite and Next.js


def expect(what, got, wanted):
    ok = wanted(got) if callable(wanted) else got == wanted
    log(f"   {'ok' if ok else 'FAIL'}: {what}: {str(got)[:160]}")
    if not ok:
        raise JourneyFailure(f'{what}: got {got!r}' + ('' if callable(wanted) else f', expected {wanted!r}'))


class Gateway(Journey):
    def __init__(self, args):
        super().__init__(args)
        self.stack = contextlib.ExitStack()
        self.env.update(FAKE_CF_LABEL=LABEL, FAKE_CF_EDGE='1',
                        FAKE_CF_EDGE_PORT_FILE=os.path.join(self.home, 'edge-port'))

    def q(self, *args, check=True):
        result = subprocess.run([self.quillby_path, *map(str, args)], env=self.env, text=True,
                                capture_output=True, timeout=60)
        if check and result.returncode:
            raise JourneyFailure(f'quillby {" ".join(map(str, args))}: {result.stderr}')
        return result.stdout.strip()

    def tunnel(self, name='Dev'):
        return next(t for t in json.loads(self.q('list', '--json'))['tunnels'] if t['name'] == name)

    def edge(self):
        return int(wait_for('the edge', lambda: Path(self.env['FAKE_CF_EDGE_PORT_FILE']).exists()
                            and Path(self.env['FAKE_CF_EDGE_PORT_FILE']).read_text()))

    def get(self, path='/', headers=None):
        return devservers.get(self.edge(), path, NAME, headers)

    def repoint(self, port, **switches):
        self.q('set', 'Dev', '--port', port, *(f'--{k.replace("_", "-")}={v}' for k, v in switches.items()))

    def one_child(self):
        """Every change so far kept the first launch of the client and its URL."""
        expect('launches of the client; the URL', (len(self.launches()), self.q('url', 'Dev')), (1, PUBLIC))

    def run(self):
        vite, next_dev, django = (self.stack.enter_context(start()) for start in
                                  (devservers.vite, devservers.next_dev, devservers.django))
        self.app = self.start_quillby('gateway')
        wait_for('the control socket', lambda: self.q('list', check=False))
        self.q('set', 'Tunnel', '--name', 'Dev', '--port', vite.port)
        expect('quillby share VITE_PORT', self.q('share', vite.port), PUBLIC)
        self.browser = self.stack.enter_context(devservers.Browser({NAME: self.edge()}))
        self.vite(vite)
        self.next(next_dev)
        self.django(django)
        self.refusal(vite)
        self.password(vite)
        self.inspector(vite)
        self.unable_to_bind()

    def vite(self, vite):
        log('1. Vite through Quillby: the page, the live-reload socket, a file edit over it')
        path = vite.live_reload_path()
        expect('the live-reload socket through the edge',
               devservers.upgrade(self.edge(), path, NAME, PUBLIC, 'vite-hmr')[0], 101)
        self.browser.goto(f'http://{NAME}/')
        self.edit(vite, 'hello from vite', 'edited')

    def edit(self, vite, old, new):
        """A file edit reaches the page in Chromium over the live-reload socket."""
        self.browser.wait_for(f"{MESSAGE} == '{old}'")
        (vite.root / 'main.js').write_text((vite.root / 'main.js').read_text().replace(old, new))
        self.browser.wait_for(f"{MESSAGE} == '{new}'")
        expect(f'the page after an edit to {new!r}', self.browser.evaluate(MESSAGE), new)

    def next(self, next_dev):
        log('2. Next.js: a /_next/ script and the live-reload socket pass with the rewrite only; hydrated')
        # Next.js drops a refused socket unanswered, and the gateway says 502 for it.
        for rewrite, chunk, hmr in (('off', 403, 502), ('on', 200, 101)):
            self.repoint(next_dev.port, rewrite_host=rewrite)
            page = self.get()[2].decode()
            script = re.search(r'src="(/_next/static/chunks/[^"]+)"', page).group(1)
            expect(f'rewrite {rewrite}: a /_next/ script, the live-reload socket',
                   (self.get(script, {'Origin': PUBLIC})[0],
                    devservers.upgrade(self.edge(), '/_next/hmr?id=q', NAME, PUBLIC)[0]), (chunk, hmr))
        self.browser.goto(f'http://{NAME}/')
        self.browser.wait_for(f"{MESSAGE} == 'hydrated'")
        self.one_child()

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
        self.options_menu()
        self.q('set', 'Dev', '--rewrite-host', 'on')
        expect('Vite through the edge', self.get()[0], 200)
        expect('the refusal line', self.tunnel()['problem'], None)

    def options_menu(self):
        button = wait_for('the options button', lambda: self.showing('Tunnel Options'))
        x, y, w, h = gvariant(button.call('org.a11y.atspi.Component.GetExtents', 'uint32 0'))
        shown = len([g for g in quillby_windows() if g['viewable']])
        run('xdotool', 'mousemove', str(x + w // 2), str(y + h // 2), 'click', '1')
        wait_for('the menu', lambda: len([g for g in quillby_windows() if g['viewable']]) > shown)
        self.screenshot('row-options-menu', DOCS and os.path.join(DOCS, 'row-options-menu.png'), cropped=True)
        key('Escape')

    def password(self, vite):
        log("5. A password: Chromium's basic auth with the URL's credentials, a file edit behind it")
        self.q('set', 'Dev', '--password', 'on')
        credentials = self.q('url', 'Dev', '--credentials')
        user_password = re.match(r'https://([^@]+)@', credentials).group(1)
        expect('no credentials', self.get()[0], 401)
        self.browser.goto(f'http://{user_password}@{NAME}/', f'http://{NAME}/')
        self.edit(vite, 'edited', 'protected')
        self.q('set', 'Dev', '--password', 'off')
        expect('password off', self.get()[0], 200)
        self.one_child()

    def inspector(self, vite):
        log("6. Inspection: the HAR to har-validator and DevTools; the requests window")
        self.q('set', 'Dev', '--inspect', 'on')
        self.browser.goto(f'http://{NAME}/')
        self.browser.wait_for(f"{MESSAGE} == 'protected'")
        har = json.loads(self.q('requests', 'Dev', '--har'))
        expect('har-validator', devservers.har_errors(har), [])
        creator = har['log'].pop('creator')  # the validator does say no
        expect('har-validator, no creator', devservers.har_errors(har), lambda e: 'creator' in str(e))
        har['log']['creator'] = creator
        self.browser.call('Page.navigate', url='devtools://devtools/bundled/devtools_app.html')
        self.browser.wait_for('document.readyState != "loading"')
        imported = self.browser.evaluate(
            "import('./models/har/har.js').then(h => h.Importer.Importer.requestsFromHARLog("
            f"new h.HARFormat.HARRoot({json.dumps(har)}).log).map(r => [r.requestMethod, r.url(), r.statusCode]))")
        wanted = [[e['request']['method'], e['request']['url'], e['response']['status']] for e in har['log']['entries']]
        expect('DevTools imported', imported, lambda v: v == wanted and len(v) > 3)
        if not popup():
            self.open_window()
        self.press('Show requests')  # and in the requests window
        wait_for('a request in the requests window', lambda: self.showing('/@vite/client'))
        self.screenshot('requests-window')
        key('Escape')
        wait_for('the requests window to close', lambda: not self.showing('Requests, newest first'))
        self.q('set', 'Dev', '--inspect', 'off')
        self.one_child()

    def unable_to_bind(self):
        log('7. The gateway cannot listen (no file descriptor left): no start, the row says why')
        self.q('stop', 'Dev')
        launches = len(self.launches())
        if not popup():
            self.open_window()
        start = wait_for('Start', lambda: self.showing('Start'))
        # Every descriptor from the lowest free one on is refused; the window's Start comes
        # over the accessibility bus, which is open already. No command may run meanwhile: the
        # control socket could not take it.
        fds = {int(fd) for fd in os.listdir(f'/proc/{self.app.pid}/fd')}
        lowest = min(set(range(len(fds) + 1)) - fds)
        limits = run('prlimit', '--pid', str(self.app.pid), '--nofile', '--output=SOFT,HARD', '--noheadings').split()
        run('prlimit', '--pid', str(self.app.pid), f'--nofile={lowest}:{limits[1]}')
        start.call('org.a11y.atspi.Action.DoAction', 'int32 0')
        line = wait_for('the reason in the row', lambda: [
            n.name for n in self.a11y.showing(self.app.pid) if 'gateway cannot listen' in n.name])
        run('prlimit', '--pid', str(self.app.pid), f'--nofile={limits[0]}:{limits[1]}')
        self.screenshot('gateway-cannot-listen', cropped=True)
        expect('the row; launches of the client', (line[0], len(self.launches())),
               ('Cannot start: the gateway cannot listen (Too many open files)', launches))
        expect('quillby list', self.tunnel()['state'], 'stopped')

    def cleanup(self):
        self.stack.close()
        super().cleanup()


if __name__ == '__main__':
    main(Gateway, __doc__)
