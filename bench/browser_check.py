#!/usr/bin/env python3
"""Opens saved pages from disk in headless Chromium and counts failed loads.

    browser_check.py DIR COUNT [LIST]

Run it where the network is loopback only (the bench script uses `unshare -n`).
Opens up to COUNT pages below DIR (spread over the copy, sorted by path), each as a
file: URL, through the DevTools protocol, and counts the images, stylesheets, fonts
and scripts whose load failed. With LIST (a file of paths below DIR, one a line) it
opens those pages instead. Prints one JSON object: pages, requests, failed,
failed_by_type, styled (pages with at least one stylesheet and no failed one),
examples. Standard library only: a minimal WebSocket client.
"""
import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

TYPES = {"Image", "Stylesheet", "Font", "Script"}


class WebSocket:
    def __init__(self, url):
        parts = urllib.parse.urlsplit(url)
        self.sock = socket.create_connection((parts.hostname, parts.port), timeout=30)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {parts.path} HTTP/1.1\r\nHost: {parts.netloc}\r\n"
                           "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                           f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            head += self.sock.recv(1)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise RuntimeError("no WebSocket upgrade: " + head.decode(errors="replace"))
        self.next_id = 0

    def _recv_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def send(self, method, **params):
        self.next_id += 1
        payload = json.dumps({"id": self.next_id, "method": method, "params": params}).encode()
        header = bytes([0x81])
        n = len(payload)
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))
        return self.next_id

    def call(self, method, **params):
        """Sends a command and waits for its answer (events before it are dropped)."""
        wanted = self.send(method, **params)
        while True:
            msg = self.receive(30)
            if msg.get("id") == wanted:
                return msg

    def receive(self, timeout):
        self.sock.settimeout(timeout)
        message = b""
        while True:
            b0, b1 = self._recv_exact(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._recv_exact(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._recv_exact(8))[0]
            message += self._recv_exact(n)
            if b0 & 0x80:
                return json.loads(message)


def pick_pages(root, count):
    pages = []
    for dirpath, _, files in os.walk(root):
        for name in files:
            if name.lower().endswith((".html", ".htm")):
                pages.append(os.path.join(dirpath, name))
    pages.sort()
    if len(pages) <= count:
        return pages
    step = len(pages) / count
    return [pages[int(i * step)] for i in range(count)]


def main():
    root, count = sys.argv[1], int(sys.argv[2])
    if len(sys.argv) > 3:
        chosen = [os.path.join(root, line.strip()) for line in open(sys.argv[3]) if line.strip()]
    else:
        chosen = pick_pages(root, count)
    profile = tempfile.mkdtemp(prefix="tandril-chromium-")
    browser = subprocess.Popen(
        ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
         "--disable-background-networking", "--disable-component-update", "--no-first-run",
         "--disable-sync", "--disable-extensions", "--disable-default-apps",
         "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
         f"--user-data-dir={profile}", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    result = {"pages": 0, "requests": 0, "failed": 0, "failed_by_type": {}, "styled": 0,
              "examples": []}
    try:
        port_file = os.path.join(profile, "DevToolsActivePort")
        for _ in range(300):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        for page in chosen:
            req = urllib.request.Request(f"http://127.0.0.1:{port}/json/new?about:blank",
                                         method="PUT")
            target = json.load(urllib.request.urlopen(req, timeout=30))
            ws = WebSocket(target["webSocketDebuggerUrl"])
            # Subresources load while the page parses: watch before it starts.
            ws.call("Network.enable")
            ws.call("Page.enable")
            ws.send("Page.navigate", url="file://" + urllib.parse.quote(page))
            types, failed = {}, []
            deadline = time.time() + 15
            loaded_at = None
            while time.time() < deadline:
                # After the load event, wait for a quiet half second (fonts load late).
                wait = 0.5 if loaded_at else max(0.1, deadline - time.time())
                try:
                    msg = ws.receive(wait)
                except (socket.timeout, TimeoutError):
                    if loaded_at:
                        break
                    continue
                method = msg.get("method")
                params = msg.get("params", {})
                if method == "Network.requestWillBeSent":
                    types[params["requestId"]] = (params.get("type"), params["request"]["url"])
                elif method == "Network.loadingFailed":
                    failed.append((params["requestId"], params.get("type"),
                                   params.get("errorText")))
                elif method == "Page.loadEventFired":
                    loaded_at = time.time()
            sheets = ws.call("Runtime.evaluate", expression="document.styleSheets.length")
            sheet_count = sheets.get("result", {}).get("result", {}).get("value", 0)
            failed_sheets = sum(1 for rid, kind, _ in failed
                                if (kind or types.get(rid, (None, ""))[0]) == "Stylesheet")
            if sheet_count > 0 and failed_sheets == 0:
                result["styled"] += 1
            result["pages"] += 1
            result["requests"] += sum(1 for t, _ in types.values() if t in TYPES)
            for request_id, kind, error in failed:
                kind = kind or types.get(request_id, (None, ""))[0]
                if kind not in TYPES:
                    continue
                result["failed"] += 1
                result["failed_by_type"][kind] = result["failed_by_type"].get(kind, 0) + 1
                if len(result["examples"]) < 10:
                    url = types.get(request_id, (None, "?"))[1]
                    result["examples"].append(f"{os.path.relpath(page, root)}: {url} ({error})")
            ws.sock.close()
            urllib.request.urlopen(f"http://127.0.0.1:{port}/json/close/{target['id']}", timeout=30)
    finally:
        browser.terminate()
        try:
            browser.wait(10)
        except subprocess.TimeoutExpired:
            browser.kill()
        shutil.rmtree(profile, ignore_errors=True)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
