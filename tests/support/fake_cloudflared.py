#!/usr/bin/python3
# A stand-in for the cloudflared quick-tunnel client, for tests and benchmarks. It accepts
# `tunnel [--no-autoupdate] [--config PATH] --url http://127.0.0.1:PORT` and `--version`,
# writes log lines to standard error the way the real client does, and behaves as its
# environment asks. Every generation's lines are tst_clientlog's table; here only what tests
# with a real child need:
#
#   FAKE_CF_VERSION     what --version names, X.Y.Z (default 2023.7.3); from 2024.12 on, a
#                       metrics address that cannot be bound is worded as then.
#   FAKE_CF_MODE        url (default)   banner, box with the URL, a registered connection,
#                                       then runs until signalled
#                       api-failure     no internet: the service cannot be reached, exit 1
#                       origin-refused  URL, registered, then a refused request every interval
#                       vanish          URL, registered; after one interval /ready counts no
#                                       connection, and no line says so
#                       no-url          banner only, then runs until signalled
#                       flood           FAKE_CF_FLOOD_MIB MiB of log lines, URL in the middle
#   FAKE_CF_LABEL       the random label of the URL (default fare-write-waste-gadgets)
#   FAKE_CF_IGNORE_TERM 1: SIGTERM is ignored
#   FAKE_CF_STDOUT_MIB  MiB written to standard output first
#   FAKE_CF_PIDFILE     append "<pid> <port>\n" to this file at start
#   FAKE_CF_EXIT_AFTER_FLOOD 1: mode flood exits 0 when done instead of running on
#   FAKE_CF_INTERVAL_MS pause between repeated lines (default 5000, as the real client)
#   FAKE_CF_WORDING     unknown: registrations worded as no client words them
#   FAKE_CF_BOX         unknown: the URL given in a layout no client has, without https://
# SIGUSR1 makes it exit with status 1 (a crash on demand).
# `--metrics ADDRESS`: it serves /ready and /quicktunnel there once the URL exists, as the real
# client does (metrics/metrics.go, metrics/readiness.go), unless FAKE_CF_METRICS=off; an address
# that cannot be bound ends it at once with the client's lines and status 1.
# Named tunnels: `tunnel run --credentials-file PATH --url URL UUID` registers four
# connections; the account's commands (`tunnel login`, `create`, `route dns`, `delete`) are
# tests/support/account_api.py's, run in this process.
import contextlib, math, os, re, signal, socketserver, sys, threading

connected = 0  # connections registered now, as /ready counts them
metrics_address, hostname = "", ""


def env(name, fallback=""):
    return os.environ.get(name) or fallback


def write(text, fd=2):
    data = memoryview(os.fsencode(text))
    try:
        while data:
            data = data[os.write(fd, data):]
    except OSError:
        os._exit(3)


# Writes the lines that end a run and ends it with status.
def fail(text, status=1):
    write(text)
    sys.exit(status)


INF, ERR = "2026-12-06T19:10:57Z INF ", "2026-12-06T19:10:57Z ERR "
URL = f"https://{env('FAKE_CF_LABEL', 'fare-write-waste-gadgets')}.trycloudflare.com"


def metrics_answer(request_line):
    # Quillby asks /ready and /quicktunnel only; any other path is answered as the latter.
    readiness, ready = " /ready " in request_line, connected
    status = "503 Service Unavailable" if readiness and not ready else "200 OK"
    body = (f'{{"status":{status[:3]},"readyConnections":{ready},'
            '"connectorId":"0c5d9e3a-7b21-4f6e-9d84-2a1f6b3c8e57"}' if readiness
            else f'{{"hostname":"{hostname}"}}')
    return (f"HTTP/1.1 {status}\r\nContent-Type: text/plain; charset=utf-8\r\n"
            f"Content-Length: {len(body)}\r\nConnection: close\r\n\r\n{body}").encode()


# One request per connection, in turn: enough for the few asks a test makes. The server shuts
# its side after the answer; a failed one goes unsaid, as the log is the client's own.
class Metrics(socketserver.TCPServer):
    allow_reuse_address, request_queue_size = True, 16  # as Go's listeners do
    handle_error = lambda *args: None

    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            request_line = self.rfile.readline(65536)
            while self.rfile.readline(65536).strip():  # the headers, up to the blank line
                pass
            self.wfile.write(metrics_answer(request_line.decode("latin-1")))


# The client's end when its explicit address cannot be bound, as its version words it.
def fail_to_bind(error):
    why = os.strerror(error)  # in Go's words: "address already in use"
    reason = f"listen tcp {metrics_address}: bind: {why[:1].lower()}{why[1:]}"
    version = re.match(r"(\d+)(?:\.(\d+))?", env("FAKE_CF_VERSION", "2023.7.3"))
    if version and int(version[1]) * 100 + int(version[2] or 0) >= 202412:
        reason = f"failed to bind to address ({metrics_address}): {reason}"
    fail(f'{ERR}Error opening metrics server listener error="{reason}"\n'
         f"Error opening metrics server listener: {reason}\n")


# Serves from the first call on: the real client starts it once the quick tunnel exists.
def start_metrics():
    global hostname
    if hostname or not metrics_address or env("FAKE_CF_METRICS") == "off":
        return
    hostname, (host, _, port) = URL[8:], metrics_address.rpartition(":")
    try:
        server = Metrics((host, int(port)), Metrics.Handler)
    except OSError as error:
        fail_to_bind(error.errno)
    write(f"{INF}Starting metrics server on {metrics_address}/metrics\n")
    threading.Thread(target=server.serve_forever, daemon=True).start()


# A line of a box the client draws: "|  TEXT", padded, "|".
def box_line(inner):
    return f"{INF}{('|  ' + inner).ljust(94)}|\n"


# The URL, the metrics server and a registered connection, in that order.
def url_ready():
    if env("FAKE_CF_BOX") == "unknown":
        write(f"{INF}Quick Tunnel ready hostname={URL[8:]}\n")
    else:
        border = INF + "+" + "-" * 92 + "+\n"
        write(border + box_line("Your quick Tunnel has been created! Visit it at (it may take "
                                "some time to be reachable):") + box_line(URL) + border)
    start_metrics()
    registered()


def registered(index=0):
    global connected
    connected += 1
    if env("FAKE_CF_WORDING") == "unknown":
        write(f"{INF}Edge connection {index} is up location=ams01 protocol=quic\n")
    else:
        write(f"{INF}Registered tunnel connection connIndex={index} connection=3f1c0a52-2f7e-"
              f"4b8e-9a41-0c6d2f9e1b7{index} event=0 ip=198.41.200.1{3 + index} location=ams01 "
              "protocol=quic\n")


# The pair every request prints while nothing answers on the local port, as a format for its
# cfRay.
def origin_refused(port):
    error = ('error="Unable to reach the origin service. The service may be down or it may not '
             f"be responding to traffic from cloudflared: dial tcp 127.0.0.1:{port}: connect: "
             'connection refused"')
    return (f"{ERR} {error} cfRay={{:016x}}-AMS event=1 ingressRule=0 "
            f"originService=http://127.0.0.1:{port}\n{ERR}Request failed {error} "
            f"connIndex=0 dest={URL}/ event=0 ip=198.41.200.13 type=http\n")


# FAKE_CF_FLOOD_MIB of a busy tunnel whose server is down, the URL in the middle.
def flood(port):
    total = int(float(env("FAKE_CF_FLOOD_MIB", "1")) * 1048576)
    pair = origin_refused(port).replace("{:016x}", "%016x").encode()
    per_block = -(-64 * 1024 // len(pair % 0))  # pairs of a fixed length, 64 KiB or just over
    written, url_done, n = 0, False, 0
    while written < total or not url_done:
        if not url_done and written >= total // 2:
            url_ready()
            url_done = True
        count = per_block if written < total else 0
        block = b"".join([pair % ray for ray in range(n, n + count)])
        write(block)
        written, n = written + len(block), n + count


# Waits one interval; a crash asked meanwhile is answered.
def pause(seconds):
    if signal.sigtimedwait([signal.SIGUSR1], seconds):
        fail(ERR + "connection lost\n")


def run_until_signalled():
    signal.sigwait([signal.SIGUSR1])
    fail(ERR + "connection lost\n")


def has_data(path):
    with contextlib.suppress(OSError), open(path, "rb") as file:
        return bool(file.read(1))
    return False


def main(argv):
    global metrics_address, connected
    # tunnel [--no-autoupdate] [--config PATH] --url URL, as Quillby starts it; or tunnel with
    # a command: login, create, route dns, list, delete, run.
    options = dict.fromkeys(("--metrics", "--config", "--url", "--credentials-file"), "")
    words, args = [], iter(argv[2:])
    for arg in args:
        if arg in options and (value := next(args, None)) is not None:
            options[arg] = value
        elif arg != "--no-autoupdate":  # the only one; it always runs so
            words.append(arg)
    metrics_address, config, origin_url, credentials = options.values()
    if argv[1:2] == ["tunnel"] and words and words[0] != "run":
        # The account's side is played beside the stand-in account API, which Python finds
        # next to this file (the link bin/cloudflared resolved).
        import account_api
        account_api.client(argv[2:])
        return 0
    for name in ("SIGINT", "SIGPIPE"):  # ended by them as a native program is
        signal.signal(getattr(signal, name), signal.SIG_DFL)
    if argv[1:] == ["--version"]:
        version = env("FAKE_CF_VERSION", "2023.7.3")
        write(f"cloudflared version {version} (built {version[:4]}-01-01-0000 UTC)\n", 1)
        return 0
    port = origin_url.rpartition(":")[2]
    if argv[1:2] != ["tunnel"] or not origin_url:
        fail("stand-in cloudflared: expected `tunnel [--no-autoupdate] [--config PATH] "
             "--url http://127.0.0.1:PORT`\n", 2)

    # A crash asked waits, blocked, until the next pause, as every thread started later does.
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGUSR1])
    if env("FAKE_CF_IGNORE_TERM") == "1":
        signal.signal(signal.SIGTERM, signal.SIG_IGN)

    if env("FAKE_CF_PIDFILE"):
        with open(env("FAKE_CF_PIDFILE"), "a") as pidfile:
            pidfile.write(f"{os.getpid()} {port}\n")
    if config and not has_data(config):  # Quillby's /dev/null
        write(f"{ERR}Configuration file {config} was empty\n")
    # In blocks of 64 KiB.
    write(("o" * (64 * 1024 - 1) + "\n") * math.ceil(float(env("FAKE_CF_STDOUT_MIB", "0")) * 16), 1)

    if words:  # `run --credentials-file PATH --url URL UUID`: no URL printed
        if not os.access(credentials, os.R_OK):
            fail(f"Tunnel credentials file '{credentials}' doesn't exist or is not a file\n")
        write(f"{INF}Starting tunnel tunnelID={(words + [''])[1]}\n")
        for index in range(4):
            registered(index)
        run_until_signalled()
    interval = int(env("FAKE_CF_INTERVAL_MS", "5000")) / 1000

    write("2026-01-01T00:00:00Z INF Thank you for trying Cloudflare Tunnel. Doing so, without a "
          "Cloudflare account, is a quick way to experiment and try it out.\n"
          "2026-01-01T00:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...\n")
    # Each mode writes its lines after the banner, then ends or runs until signalled.
    mode = env("FAKE_CF_MODE", "url")
    if mode in ("url", "origin-refused", "vanish"):
        url_ready()
    if mode == "api-failure":
        fail('failed to request quick Tunnel: Post "https://api.trycloudflare.com/tunnel": dial '
             "tcp: lookup api.trycloudflare.com on 127.0.0.53:53: no such host\n")
    while mode == "origin-refused":
        pause(interval)
        write(origin_refused(port).format(0x8173fa0bd1e6b397))
    if mode == "vanish":
        pause(interval)
        connected = 0
    if mode == "flood":
        flood(port)
        if env("FAKE_CF_EXIT_AFTER_FLOOD") == "1":
            return
    if mode not in ("url", "vanish", "no-url", "flood"):  # no-url: connecting while it runs
        fail(f"stand-in cloudflared: unknown FAKE_CF_MODE {mode}\n", 2)
    run_until_signalled()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
