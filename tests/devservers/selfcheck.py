"""The dev servers refuse a tunnel's public name and accept localhost, as they do for a user; the
stand-in's edge hands them the public name; the browser sees live reload. These are the
refusals the gateway must get past.
Usage: /usr/bin/python3 selfcheck.py STAND_IN_CLIENT"""
import contextlib
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / 'support'))
import devservers  # noqa: E402

NAME = 'fare-write-waste-gadgets.trycloudflare.com'  # the stand-in's default public name
PUBLIC = 'https://' + NAME
LOCAL = 'localhost'  # stands for localhost:PORT of the server at hand

# server, request ('/path', 'chunk': a /_next/ script of the page, 'socket': live reload),
# Host, Origin, through the edge, expected status (0: no HTTP answer), text in the answer
CASES = [
    ('vite', '/', NAME, None, False, 403, f'Blocked request. This host ("{NAME}") is not allowed.'),
    ('vite', '/', LOCAL, None, False, 200, '<script type="module" src="/main.js">'),
    ('vite', '/', None, None, True, 403, f'Blocked request. This host ("{NAME}") is not allowed.'),
    ('vite', 'socket', NAME, PUBLIC, False, 400, 'Bad Request'),
    ('vite', 'socket', LOCAL, PUBLIC, False, 101, 'vite-hmr'),
    ('vite', 'socket', None, None, True, 400, 'Bad Request'),
    ('next', '/', NAME, None, False, 200, '/_next/static/chunks/'),
    ('next', 'chunk', LOCAL, PUBLIC, False, 403, 'Unauthorized'),
    ('next', 'chunk', NAME, 'http://localhost', False, 200, 'TURBOPACK'),
    ('next', 'socket', LOCAL, PUBLIC, False, 0, 'Unauthorized'),
    ('next', 'socket', LOCAL, 'http://localhost', False, 101, 'Switching Protocols'),
    ('django', '/', NAME, None, False, 400, f'Invalid HTTP_HOST header: &#x27;{NAME}&#x27;.'),
    ('django', '/', None, None, True, 400, f'Invalid HTTP_HOST header: &#x27;{NAME}&#x27;.'),
    ('django', '/', LOCAL, None, False, 200, 'hello from django'),
    ('django', '/go', LOCAL, None, False, 302, 'Location: http://localhost:{port}/done'),
]


def answer(server, edge, request, host, origin, through_edge):
    port = edge if through_edge else server.port
    host = server.local_host if host == LOCAL else host or f'127.0.0.1:{edge}'
    origin = origin and origin.replace('http://localhost', 'http://' + server.local_host)
    if request == 'socket':
        protocol = 'vite-hmr' if server.kind == 'vite' else None
        status, raw = devservers.upgrade(port, server.live_reload_path(), host, origin, protocol)
        return status, raw.decode(errors='replace')
    if request == 'chunk':
        page = devservers.get(server.port, '/', server.local_host)[2].decode()
        request = re.search(r'src="(/_next/static/chunks/[^"]+)"', page).group(1)
    status, headers, body = devservers.get(port, request, host, {'Origin': origin} if origin else {})
    head = ''.join(f'{name.title()}: {value}\n' for name, value in headers.items())
    return status, head + body.decode(errors='replace')


def main(client):
    failures = 0
    with contextlib.ExitStack() as stack:
        servers = {kind: stack.enter_context(start()) for kind, start in
                   (('vite', devservers.vite), ('next', devservers.next_dev), ('django', devservers.django))}
        edges = {kind: stack.enter_context(devservers.edge(client, s.port)) for kind, s in servers.items()}
        for kind, request, host, origin, through_edge, status, text in CASES:
            got, content = answer(servers[kind], edges[kind], request, host, origin, through_edge)
            text = text.format(port=servers[kind].port)
            ok = got == status and text in content
            failures += not ok
            print(f'{"ok" if ok else "FAIL"}: {kind} {request} Host={host} Origin={origin} '
                  f'edge={through_edge}: {got}' + ('' if ok else f', expected {status} with {text!r}\n{content[:600]}'))

        vite = servers['vite']
        with devservers.Browser({NAME: edges['vite']}) as browser:
            message = "document.getElementById('message').textContent"
            browser.goto(vite.url + '/')
            browser.wait_for(f"{message} == 'hello from vite'")
            main_js = vite.root / 'main.js'
            main_js.write_text(main_js.read_text().replace('hello from vite', 'edited'))
            browser.wait_for(f"{message} == 'edited'")  # over the live-reload socket
            browser.goto(f'http://{NAME}/')
            browser.wait_for("document.body.innerText.startsWith('Blocked request. This host')")
            print('ok: the browser follows a live reload, and sees the refusal through the edge')
    # The HAR validator the inspector's export is checked with takes a good log and names the
    # missing part of a bad one.
    har = {'log': {'version': '1.2', 'creator': {'name': 'Quillby', 'version': '1'}, 'entries': []}}
    good = devservers.har_errors(har) == []
    del har['log']['creator']
    bad = [e.get('params') for e in devservers.har_errors(har)] == [{'missingProperty': 'creator'}]
    print(f'{"ok" if good and bad else "FAIL"}: har-validator')
    failures += not (good and bad)
    print(f'{len(CASES) + 2 - failures} passed, {failures} failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
