#!/usr/bin/python3
# A web server with awkward folders for the crawler's tests, on 127.0.0.1:PORT. Every
# request line goes to FOLDER/requests.log; MP3 files are FOLDER/sample.mp3, with ranges.
#   /site/          links to each folder below, a file, and links that lead nowhere new
#   /site/loop/     links to itself, its parent and, through a redirect, to itself again
#   /site/deep/...  an endless tree (each level lists d/ and fN.mp3, N its depth)
#   /site/huge/     a 33 MiB listing
#   /site/slow/     a listing that trickles (the crawler must give up)
#   /site/busy/     429 with Retry-After: 1 the first time
#   /site/away/     redirects to another server
#   /site/private/  forbidden by robots.txt
#   /gone/          five folders; once FOLDER/die exists, the server ends when one is asked
#   /tree/...       every folder lists 5000 folders with long names (a hostile tree), the
#                   same at each depth
#   /wide/          20000 MP3 files "song NNNNN q.mp3"
#   robots.txt      FOLDER/robots.txt when it exists (also at /moved/robots.txt); while
#                   FOLDER/robots-redirect exists, /robots.txt answers 302 to its content
#   /shared/S/      twenty folders f00..f19 for a source of any name S, each with five MP3
#                   files "S fNN song K.mp3"; while FOLDER/hold exists, f10 and later wait
import http.server, os, re, sys, threading, time

port, folder = int(sys.argv[1]), sys.argv[2]
lock = threading.Lock()
seen = {}
pages = {}  # cached large pages by name


def page(links):
    rows = "".join('<a href="%s">%s</a>\n' % (link, link) for link in links)
    return ("<html><body><h1>Index</h1><pre>\n%s</pre></body></html>\n" % rows).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        if not any(name == "Content-Type" for name, _ in headers):
            self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path
        with lock:
            seen[path] = seen.get(path, 0) + 1
            count = seen[path]
            with open(os.path.join(folder, "requests.log"), "a") as log:
                log.write(path + "\n")
        redirect = os.path.join(folder, "robots-redirect")
        if path == "/robots.txt" and os.path.exists(redirect):
            with open(redirect) as f:
                return self.send(302, b"", [("Location", f.read().strip())])
        own = os.path.join(folder, "robots.txt")
        if path in ("/robots.txt", "/moved/robots.txt") and os.path.exists(own):
            with open(own, "rb") as f:
                return self.send(200, f.read(), [("Content-Type", "text/plain")])
        if path == "/robots.txt":
            return self.send(200, b"User-agent: *\nDisallow: /site/private/\n",
                             [("Content-Type", "text/plain")])
        if path.startswith("/tree/") and path.endswith("/"):
            depth = path.count("/")  # no folder lists what its parent lists
            return self.send(200, self.cached("tree%d" % depth, lambda: page(
                ["%s%d-%05d/" % ("long-folder-name-" * 11, depth, i) for i in range(5000)])))
        if path == "/wide/":
            return self.send(200, self.cached("wide", lambda: page(
                ["song%%20%05d%%20q.mp3" % i for i in range(20000)])))
        if path.endswith(".mp3"):
            return self.mp3()
        if path == "/site/":
            return self.send(200, page(["../", "./", "?C=N;O=D", "http://127.0.0.2/x/",
                                        "loop/", "deep/", "private/", "huge/", "slow/", "busy/",
                                        "away/", "a.mp3"]))
        if path == "/site/loop/":
            return self.send(200, page(["./", "../", "/site/loop/", "/site/", "again/", "x.mp3"]))
        if path == "/site/loop/again/":
            return self.send(301, b"", [("Location", "/site/loop/")])
        if path.startswith("/site/deep/"):  # each level lists its own file
            return self.send(200, page(["d/", "f%d.mp3" % (path.count("/") - 2)]))
        if path == "/site/huge/":
            line = b'<a href="file-with-a-rather-long-name-to-fill-the-page.mp3">x</a>\n'
            return self.send(200, line * (33 * 1024 * 1024 // len(line) + 1))
        if path == "/site/slow/":
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            for _ in range(60):  # one byte a second, a minute at most
                try:
                    self.wfile.write(b" ")
                    self.wfile.flush()
                except OSError:
                    return
                time.sleep(1)
            return
        if path == "/site/busy/":
            if count == 1:
                return self.send(429, b"", [("Retry-After", "1")])
            return self.send(200, page(["b.mp3"]))
        if path == "/site/away/":
            return self.send(301, b"", [("Location", "http://127.0.0.2:%d/site/" % port)])
        if path == "/site/private/":
            return self.send(200, page(["secret.mp3"]))
        m = re.fullmatch(r"/shared/(\w+)/(f\d\d/)?", path)
        if m and not m.group(2):
            return self.send(200, page(["f%02d/" % i for i in range(20)]))
        if m:
            while int(m.group(2)[1:3]) >= 10 and os.path.exists(os.path.join(folder, "hold")):
                time.sleep(0.05)
            time.sleep(0.02)  # a crawl long enough for searches to meet it under way
            name = "%s %s song " % (m.group(1), m.group(2)[:3])
            return self.send(200, page([name.replace(" ", "%20") + "%d.mp3" % k
                                        for k in range(5)]))
        if path == "/gone/":
            return self.send(200, page(["one/", "two/", "three/", "four/", "five/", "top.mp3"]))
        if path.startswith("/gone/"):
            if os.path.exists(os.path.join(folder, "die")):
                os._exit(0)  # the server goes away in the middle of a walk
            return self.send(200, page(["inner.mp3"]))
        self.send(404, b"not here")

    def cached(self, name, make):
        with lock:
            if name not in pages:
                pages[name] = make()
            return pages[name]

    def mp3(self):
        with open(os.path.join(folder, "sample.mp3"), "rb") as f:
            data = f.read()
        wanted = self.headers.get("Range", "")
        m = re.fullmatch(r"bytes=(\d*)-(\d*)", wanted)
        if not m:
            return self.send(200, data, [("Content-Type", "audio/mpeg")])
        if m.group(1) == "":
            start = max(0, len(data) - int(m.group(2)))
            end = len(data) - 1
        else:
            start = int(m.group(1))
            end = min(len(data) - 1, int(m.group(2)) if m.group(2) else len(data) - 1)
        self.send(206, data[start:end + 1],
                  [("Content-Type", "audio/mpeg"),
                   ("Content-Range", "bytes %d-%d/%d" % (start, end, len(data)))])


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a client that hangs up is no news; nobody reads this server's output


server = Server(("127.0.0.1", port), Handler)
server.daemon_threads = True
server.serve_forever()
