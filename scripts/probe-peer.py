#!/usr/bin/env python3
"""Decoding peer for the tests under Wine, which cannot start Linux programs.

    probe-peer.py PORT

Serves on 127.0.0.1:PORT:
    POST /probe                        the body is an encoded stream
    GET  /listen?port=P&mount=M&seconds=S
                                       listens S seconds (at most 60) on the
                                       mount M of the icecast2 on 127.0.0.1:P
and answers key=value lines about what it got: bytes, then ffprobe's
codec_name, sample_rate, channels and format_name, then decoded_seconds,
decode_errors and rms_dbfs (the level of all samples, -200 for silence) from
ffmpeg decoding all of it.
"""
import array
import http.client
import http.server
import math
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse


def describe(data):
    lines = ["bytes=%d" % len(data)]
    fd, path = tempfile.mkstemp(prefix="velmora-probe-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        probed = subprocess.run(
            ["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=codec_name,sample_rate,channels:format=format_name",
             "-of", "default=nw=1", path],
            capture_output=True, text=True, timeout=60)
        fields = dict(line.split("=", 1) for line in probed.stdout.splitlines() if "=" in line)
        lines += ["%s=%s" % item for item in sorted(fields.items())]
        rate = int(fields.get("sample_rate", "0") or 0)
        channels = int(fields.get("channels", "0") or 0)
        if rate > 0 and channels > 0:
            decoded = subprocess.run(
                ["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "s16le", "-"],
                capture_output=True, timeout=120)
            errors = [l for l in decoded.stderr.decode("utf-8", "replace").splitlines() if l.strip()]
            lines.append("decoded_seconds=%.3f" % (len(decoded.stdout) / (rate * channels * 2.0)))
            lines.append("decode_errors=%d" % len(errors))
            samples = array.array("h")
            samples.frombytes(decoded.stdout[:len(decoded.stdout) // 2 * 2])
            if sys.byteorder != "little":
                samples.byteswap()
            power = sum(x * x for x in samples) / len(samples) if samples else 0.0
            level = math.sqrt(power) / 32768.0
            lines.append("rms_dbfs=%.2f" % (20.0 * math.log10(level) if level > 0 else -200.0))
    finally:
        os.unlink(path)
    return "\n".join(lines) + "\n"


def listen(port, mount, seconds):
    """What a listener on the mount receives in `seconds` (loopback only)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    connection.request("GET", mount, headers={"User-Agent": "velmora-probe"})
    reply = connection.getresponse()
    if reply.status != 200:
        raise ValueError("listener got %d %s" % (reply.status, reply.reason))
    data = bytearray()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        piece = reply.read1(65536)
        if not piece:
            break
        data += piece
    connection.close()
    return bytes(data)


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self, status, text):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        if self.path != "/probe":
            return self.answer(404, "unknown path\n")
        length = int(self.headers.get("Content-Length", "0"))
        try:
            self.answer(200, describe(self.rfile.read(length)))
        except Exception as e:  # the test reads the reason
            self.answer(500, "error=%s\n" % e)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path != "/listen":
            return self.answer(404, "unknown path\n")
        try:
            port = int(query["port"][0])
            mount = query["mount"][0]
            seconds = min(60.0, float(query.get("seconds", ["5"])[0]))
            if not mount.startswith("/"):
                raise ValueError("mount must begin with /")
            self.answer(200, describe(listen(port, mount, seconds)))
        except Exception as e:
            self.answer(500, "error=%s\n" % e)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
    server.serve_forever()
