#!/usr/bin/env python3
"""Decoding peer for the tests under Wine, which cannot start Linux programs.

    probe-peer.py PORT

Serves on 127.0.0.1:PORT:
    POST /probe                        the body is an encoded stream
    GET  /listen?port=P&mount=M&seconds=S
                                       listens S seconds (at most 60) on the
                                       mount M of the icecast2 on 127.0.0.1:P
                                       (MP3 up to its last whole frame)
and answers key=value lines about what it got: bytes, then ffprobe's
codec_name, sample_rate, channels and format_name, then decoded_seconds,
decode_errors (the first of them as first_decode_error) and rms_dbfs (the
level of all samples, -200 for silence) from ffmpeg decoding all of it.
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
            if errors:
                lines.append("first_decode_error=%s" % errors[0])
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


# Bit rates (kbps) of MPEG audio Layer III, by version: MPEG-1, then
# MPEG-2 and 2.5; and the sample rates of MPEG-1 (MPEG-2 halves them, 2.5
# quarters them).
LAYER3_KBPS = {3: (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320),
               2: (0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160)}
MPEG1_RATES = (44100, 48000, 32000)


def layer3_frame_length(data, at):
    """The length of the MPEG audio Layer III frame whose header is at `at`,
    0 if no such header is there."""
    if at + 4 > len(data) or data[at] != 0xFF or data[at + 1] & 0xE6 != 0xE2:
        return 0
    version = (data[at + 1] >> 3) & 3  # 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    rate_index = (data[at + 2] >> 2) & 3
    bitrate_index = data[at + 2] >> 4
    if version == 1 or rate_index == 3 or bitrate_index in (0, 15):
        return 0
    rate = MPEG1_RATES[rate_index] >> (0 if version == 3 else 1 if version == 2 else 2)
    kbps = LAYER3_KBPS[3 if version == 3 else 2][bitrate_index]
    padding = (data[at + 2] >> 1) & 1
    return (144 if version == 3 else 72) * kbps * 1000 // rate + padding


def whole_frames(data):
    """MP3 as a listener heard it, without the frame its leaving cut short.

    The listener stops at whatever byte its time ends on: a decoder finds
    the last frame incomplete, which is no fault of the stream. Only where
    the frames chain unbroken from the first to the end is the tail
    dropped; a stream that is not MP3, or whose frames break off inside,
    stays as it is so that the decoder judges it."""
    for start in range(min(len(data), 4096)):
        first = layer3_frame_length(data, start)
        if first and layer3_frame_length(data, start + first):
            break
    else:
        return data
    at = start
    while True:
        length = layer3_frame_length(data, at)
        if length == 0:
            # Inside the data a break is the stream's; at the end, the
            # header of the cut frame may itself be cut.
            return data[:at] if len(data) - at < 4 else data
        if at + length > len(data):
            return data[:at]
        at += length
        if at == len(data):
            return data


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
            self.answer(200, describe(whole_frames(listen(port, mount, seconds))))
        except Exception as e:
            self.answer(500, "error=%s\n" % e)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
    server.serve_forever()
