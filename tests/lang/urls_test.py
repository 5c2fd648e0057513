#!/usr/bin/env python3
"""URLs as a whole program uses them: decode-url against Python's urlsplit,
read, write, load, save and do of http and https URLs, and the remote-file
cache. Every request goes to servers on the loopback interface that this
test starts (HTTPS with a certificate it makes); nothing leaves the machine.

Usage: urls_test.py PATH-TO-ZUV
"""
import hashlib
import http.server
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from zuvtest import ZUV, check, check_that, finish  # noqa: E402

WORK = tempfile.mkdtemp(prefix="zuv-urls-")
HOME = os.path.join(WORK, "home")
os.mkdir(HOME)


def environment():
    """The programs' environment: HOME in the test's folder, no CA file named."""
    env = {k: v for k, v in os.environ.items() if k != "SSL_CERT_FILE"}
    env["HOME"] = HOME
    return env


def run(sections):
    """Runs the sections (name, code) as one script, for the start-up of a
    program is slow in the checking builds; answers the lines each printed."""
    path = os.path.join(WORK, "t.zuv")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zuv []\n" + "".join(f'print "==== {name}"\n{code}\n' for name, code in sections))
    p = subprocess.run([ZUV, path], cwd=WORK, env=environment(), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=600)
    printed, name = {}, None
    for line in p.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("==== "):
            name = line[5:]
            printed[name] = []
        elif name:
            printed[name].append(line)
    check_that("the script ends with status 0", p.returncode == 0,
               f"status {p.returncode}:\n{p.stdout.decode(errors='replace')}")
    return printed


def err(expr):
    """A line printing the error id that expr raises (none when it raises none)."""
    return f"e: try [{expr}] print either error? e [e/id] ['none]\n"


# ---- the loopback servers ----

class Handler(http.server.BaseHTTPRequestHandler):
    """Answers by path; every request is recorded in the server's list."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=(("Content-Type", "text/plain"),), raw=b""):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        if raw:
            self._headers_buffer.append(raw)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = self.path
        self.server.requests.append((self.command, path, dict(self.headers.items()), body))
        self.server.hits[path] = self.server.hits.get(path, 0) + 1
        if path == "/text":
            self.answer(200, b"a\r\nb\r\n")
        elif path == "/bytes":
            self.answer(200, b"\x00\x01\xff", (("Content-Type", "application/octet-stream"),))
        elif path == "/headers":
            self.answer(200, b"", (("Set-Cookie", "a=1"), ("Set-Cookie", "b=2"), ("X-One", "1")),
                        raw=b"X-Tight:value\r\nX-Wide:    spaced\r\n")
        elif path == "/redirect":
            self.answer(302, b"", (("Location", "/text"),))
        elif path == "/script":
            self.answer(200, b'Zuv [Title: "remote"]\r\nprint "hi from script"\r\nx: [1 2]\r\n')
        elif path == "/json":
            self.answer(200, b'{"a": [1, 2]}', (("Content-Type", "application/json"),))
        elif path == "/tagged":
            self.answer(200, b"payload", (("Content-Type", "text/x-test; charset=utf-8"),))
        elif path.startswith("/counter"):
            self.answer(200, f"n={self.server.hits[path]}".encode())
        elif path == "/slow":
            # Answers once the test lets it (or a deadline passes).
            self.server.arrived.set()
            self.server.release.wait(60)
            try:
                self.answer(200, b"late")
            except OSError:
                pass  # the client is gone
        elif path.startswith("/echo"):
            self.answer(200, b"echoed")
        else:
            self.answer(404, b"no such page")

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = handle_any


def serve(context=None):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.requests = []
    server.hits = {}
    server.arrived, server.release = threading.Event(), threading.Event()
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, server.server_address[1]


def closed_port():
    """A port on which nothing listens (bound, then released)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


# ---- the servers, the certificate, the URLs ----

server, port = serve()
URL = f"http://127.0.0.1:{port}"
dead = closed_port()

cert, key = os.path.join(WORK, "cert.pem"), os.path.join(WORK, "key.pem")
subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost",
                "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
secure, secure_port = serve(context)

RFC_URLS = [
    "ftp://ftp.is.co.za/rfc/rfc1808.txt",
    "http://www.ietf.org/rfc/rfc2396.txt",
    "ldap://[2001:db8::7]/c=GB?objectClass?one",
    "mailto:John.Doe@example.com",
    "news:comp.infosystems.www.servers.unix",
    "tel:+1-816-555-1212",
    "telnet://192.0.2.16:80/",
    "urn:oasis:names:specification:docbook:dtd:xml:4.1.2",
    "foo://example.com:8042/over/there?name=ferret#nose",
    "https://user:pw@host.example:8080/a/b/c.html?x=1&y=2#top",
    "file:///etc/hosts",
    "http://example.com",
]


def key_of(url):
    return hashlib.md5(url.encode("utf-8")).hexdigest().upper()


def cached(url):
    k = key_of(url)
    return os.path.join(HOME, ".zuv", "cache", k[:2], k)


# Two URLs whose keys start with the same two digits.
first = f"{URL}/counter/0"
twin = next(f"{URL}/counter/{i}" for i in range(1, 100000) if key_of(f"{URL}/counter/{i}")[:2] == key_of(first)[:2])

out = run([
    # The parts of each URL, then whether encode-url gives it back.
    ("parts", "".join(
        f'p: decode-url "{u}" print mold reduce [p/scheme p/user-info p/host p/port p/path p/target p/query '
        f'p/fragment]\nprint equal? to url! "{u}" encode-url p\n' for u in RFC_URLS)),
    ("read", f"""
probe read {URL}/text
probe read/binary {URL}/bytes
probe read/lines {URL}/text
r: read/info {URL}/text
print [length? r integer? r/1 r/1 map? r/2 r/2/Content-Type mold r/3]
r: read/info/binary {URL}/missing
print [r/1 mold r/3]
probe read {URL}/redirect
"""),
    ("write", f"""
probe write {URL}/echo/1 [post [X-Test: "yes" Accept: text/html] "a^M^/b"]
write {URL}/echo/2 [delete []]
write {URL}/echo/3 [get []]
write {URL}/echo/4 [Get []]
write {URL}/echo/5 [GET []]
write {URL}/echo/6 [put [] #{{00FF}}]
write {URL}/echo/7 "x=1"
write {URL}/echo/8 []
r: write/info {URL}/echo/9 [head []]
print [r/1 r/2/Content-Length mold r/3]
"""),
    ("headers", f"""
h: second read/info {URL}/headers
print mold reduce [h/Set-Cookie h/X-One h/X-Tight h/X-Wide h/set-cookie]
"""),
    ("failures",
     err(f"read http://127.0.0.1:{dead}/") +
     err(f"write http://127.0.0.1:{dead}/ [get []]") +
     err(f"read/part {URL}/text 1") +
     err(f"write {URL}/echo/bad [post [X-Bad: \"a^/b\"] \"\"]") +
     err(f"write {URL}/echo/bad [post [X-Odd] \"\"]") +
     err(f"write {URL}/echo/bad [post [\"X Y\" 1] \"\"]") +
     err(f"read {URL}/missing")),
    ("load", f"""
put system/codecs 'test make object! [
    title: "test" name: 'test mime-type: [text/x-test] suffixes: []
    encode: func [value where] [value]
    decode: func [data] [reduce ['decoded to string! data]]
]
print mold/flat load {URL}/script
probe load {URL}/tagged
print mold/flat load {URL}/json
probe load {URL}/missing
probe save {URL}/echo/save [a "b"]
do {URL}/script
"""),
    # HTTPS: first with the system's authorities, then with the test's.
    ("https", err(f"read https://127.0.0.1:{secure_port}/text") + f"""
set-env "SSL_CERT_FILE" "{cert}"
probe read https://127.0.0.1:{secure_port}/text
"""),
    ("cache", f"""
print path-thru {first}
print path-thru {twin}
print exists-thru? {URL}/never
print exists? first split-path path-thru {URL}/never
print read-thru {first}
print read-thru {first}
print read-thru/update {first}
print read-thru {first}
probe read-thru/binary {twin}
probe load-thru {URL}/missing
print exists-thru? {URL}/missing
print mold/flat load-thru {URL}/script
do-thru {URL}/script
"""),
])

# ---- what the program printed ----

lines = out.get("parts", [])
check("two lines per URL", len(lines), 2 * len(RFC_URLS))


def lit(text):
    return "none" if text is None else '"' + text + '"'


for u, got, same in zip(RFC_URLS, lines[0::2], lines[1::2]):
    s = urllib.parse.urlsplit(u)
    userinfo, _, hostport = s.netloc.rpartition("@")
    host = hostport if hostport.startswith("[") else hostport.split(":")[0]
    folder = target = None
    if s.path:
        folder, target = s.path[: s.path.rfind("/") + 1] or "./", s.path[s.path.rfind("/") + 1:] or None
    expected = "[" + " ".join([
        s.scheme,
        lit(userinfo or None),
        lit(host if "//" in u else None),
        str(s.port) if s.port is not None else "none",
        "%" + folder if folder else "none",
        "%" + target if target else "none",
        lit(s.query or None),
        lit(s.fragment or None),
    ]) + "]"
    check(f"decode-url {u} as urlsplit splits it", got, expected)
    check(f"encode-url gives back {u}", same, "true")

check("read: text with LF line ends, bytes, lines; info; a redirect", out.get("read"), [
    '"a^/b^/"', "#{0001FF}", '["a" "b"]', '3 true 200 true text/plain "a^/b^/"',
    "404 #{6E6F20737563682070616765}", '"a^/b^/"'])
check("write answers the body; HEAD an empty one", out.get("write"), ['"echoed"', '200 6 ""'])
check("answer headers: repeated, without a blank, with many", out.get("headers"),
      ['[["a=1" "b=2"] "1" "value" "spaced" ["a=1" "b=2"]]'])
check("failures", out.get("failures"),
      ["no-connect", "no-connect", "not-done", "invalid-arg", "invalid-arg", "invalid-arg", "none"])
check("load (as code, by content type, a 404), save and do", out.get("load"), [
    '[Zuv [Title: "remote"] print "hi from script" x: [1 2]]', '[decoded "payload"]', '#[a: [1 2]]', "none",
    '"echoed"', "hi from script"])
check("HTTPS fails without the test's authority, works with it", out.get("https"), ["no-connect", '"a^/b^/"'])

sent = {}
for r in server.requests:
    sent.setdefault(r[1], r)
plain = sent["/text"]
check("a plain read sends the three default headers",
      (plain[0], plain[2].get("Content-Type"), plain[2].get("Accept-Charset"), plain[2].get("User-Agent")),
      ("GET", "application/x-www-form-urlencoded", "UTF-8", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"))
paths = [r[1] for r in server.requests]
check("a redirect is followed", paths[paths.index("/redirect") + 1], "/text")
w = sent["/echo/1"]
check("a header block is sent in place of the defaults",
      (w[0], w[2].get("X-Test"), w[2].get("Accept"), "Accept-Charset" in w[2], "User-Agent" in w[2],
       w[2].get("Content-Type"), w[3]),
      ("POST", "yes", "text/html", False, False, None, b"a\r\nb"))
check("method words", [sent[f"/echo/{i}"][0] for i in range(2, 10)],
      ["DELETE", "GET", "GET", "GET", "PUT", "POST", "GET", "HEAD"])
check("bodies: binary, a string as POST with the defaults, none for GET",
      (sent["/echo/6"][3], sent["/echo/7"][3], sent["/echo/7"][2].get("User-Agent") is not None, sent["/echo/3"][3]),
      (b"\x00\xff", b"x=1", True, b""))
check("a header block that would break the request sends nothing", "/echo/bad" in sent, False)
check("save posts the molded values", (sent["/echo/save"][0], sent["/echo/save"][3]), ("POST", b'a "b"'))

lines = out.get("cache", [])
check("path-thru", lines[:2], [cached(first), cached(twin)])
check("two keys with the same first digits share a folder",
      os.path.dirname(cached(first)) == os.path.dirname(cached(twin)), True)
check("exists-thru? of a URL never fetched: false, and its folder made", lines[2:4], ["false", "true"])
check("read-thru asks once, /update again", (lines[4:8], server.hits.get("/counter/0")),
      (["n=1", "n=1", "n=2", "n=2"], 2))
with open(cached(first), "rb") as f:
    check("the copy is overwritten by /update", f.read(), b"n=2")
check("read-thru/binary", lines[8:9], ["#{6E3D31}"])
check("a 404 loads as none and is not cached", lines[9:11], ["none", "false"])
check("load-thru of a script, do-thru runs it", lines[11:13],
      ['[Zuv [Title: "remote"] print "hi from script" x: [1 2]]', "hi from script"])
# load, do and load-thru asked once each; do-thru did not.
check("do-thru used the copy", server.hits.get("/script"), 3)

# ---- Ctrl+C at the prompt stops a request that waits for its answer ----

p = subprocess.Popen([ZUV], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                     env=environment())
p.stdin.write(f"read {URL}/slow\nprint 'after\n".encode())
p.stdin.close()
if server.arrived.wait(300):
    p.send_signal(signal.SIGINT)
halted = p.stdout.read().decode("utf-8", "replace")
p.wait(timeout=300)
server.release.set()
check("Ctrl+C halts a request", (halted, p.returncode), ("(halted)\nafter\n", 0))

# ---- the copies without the server ----

secure.shutdown()
server.shutdown()
server.server_close()
out = run([("stopped", f"print mold/flat load-thru {URL}/script\n" + err(f"read {URL}/script"))])
check("a script cached by load-thru loads the same with the server stopped", out.get("stopped"),
      ['[Zuv [Title: "remote"] print "hi from script" x: [1 2]]', "no-connect"])

shutil.rmtree(WORK, ignore_errors=True)
finish()
