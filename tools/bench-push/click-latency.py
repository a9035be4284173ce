#!/usr/bin/env python3
"""Capture-to-server latency of one or more RTMP pushes of the same sound device.

Plays a short click into a PulseAudio sink several times while
  - a low-latency reader of the sink's monitor notes when each click reaches the device, and
  - a watcher of each FLV recording that nginx writes notes when each AAC frame arrives.
Afterwards each recording is decoded; the frame that holds a click's onset gives its arrival.
Latency = arrival of that frame at the server - the click at the device. Prints one line per
click and recording and the median. Not a test: it prints figures.

  click-latency.py --sink SINK --clicks N --gap SECONDS NAME=FLV [NAME=FLV...]
"""
import argparse
import array
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import wave

RATE = 48000
FRAME = 1024  # samples in one AAC frame: one FLV audio tag each
QUIET_S = 0.3  # silence needed before a sample counts as a click's onset


def onsets(samples, rate, threshold):
    """Indexes of the first loud sample after at least QUIET_S of quiet."""
    found, last_loud = [], -10 * rate
    for i, v in enumerate(samples):
        if abs(v) >= threshold:
            if i - last_loud >= QUIET_S * rate:
                found.append(i)
            last_loud = i
    return found


class DeviceWatch(threading.Thread):
    """Reads the monitor in 5 ms pieces; the onset time is the read time less what followed it."""

    def __init__(self, source):
        super().__init__(daemon=True)
        self.proc = subprocess.Popen(
            ["parec", "-d", source, "--raw", "--format=s16le", "--rate=%d" % RATE, "--channels=1",
             "--latency-msec=5"], stdout=subprocess.PIPE)
        self.times = []
        self.stopped = False

    def run(self):
        chunk, total, last_loud = RATE // 200, 0, -10 * RATE
        while not self.stopped:
            data = self.proc.stdout.read(chunk * 2)
            now = time.monotonic()
            if not data:
                break
            piece = array.array("h", data)
            for i, v in enumerate(piece):
                if abs(v) >= 8000:
                    if total + i - last_loud >= QUIET_S * RATE:
                        self.times.append(now - (len(piece) - i) / RATE)
                    last_loud = total + i
            total += len(piece)

    def stop(self):
        self.stopped = True
        self.proc.terminate()


class FlvWatch(threading.Thread):
    """Notes the arrival time of every raw AAC frame appended to an FLV file."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.path = path
        self.arrivals = []
        self.stopped = False

    def run(self):
        data, at, f = b"", None, None
        while not self.stopped:
            if f is None:
                try:
                    f = open(self.path, "rb")
                except OSError:
                    time.sleep(0.002)
                    continue
            more = f.read()
            now = time.monotonic()
            if not more:
                time.sleep(0.001)
                continue
            data += more
            if at is None:
                if len(data) < 9:
                    continue
                at = int.from_bytes(data[5:9], "big") + 4
            while at + 11 <= len(data):
                size = int.from_bytes(data[at + 1:at + 4], "big")
                if at + 11 + size > len(data):
                    break
                body = data[at + 11:at + 11 + size]
                if data[at] & 0x1f == 8 and size >= 2 and body[0] >> 4 == 10 and body[1] == 1:
                    self.arrivals.append(now)
                at += 11 + size + 4
        if f:
            f.close()


def decode(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-f", "s16le", "-"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
    return array.array("h", raw)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sink", required=True)
    parser.add_argument("--clicks", type=int, default=5)
    parser.add_argument("--gap", type=float, default=1.5)
    parser.add_argument("recordings", nargs="+")
    args = parser.parse_args()

    click = os.path.join(tempfile.mkdtemp(), "click.wav")
    with wave.open(click, "wb") as w:  # 5 ms of 1 kHz at half scale, stereo
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        burst = [int(16000 * (1 if (i // 24) % 2 == 0 else -1)) for i in range(RATE // 200)]
        w.writeframes(array.array("h", [v for v in burst for _ in (0, 1)]).tobytes())

    device = DeviceWatch(args.sink + ".monitor")
    device.start()
    watches = []
    for item in args.recordings:
        name, path = item.split("=", 1)
        watches.append((name, path, FlvWatch(path)))
        watches[-1][2].start()
    time.sleep(1.0)
    for _ in range(args.clicks):
        subprocess.run(["paplay", "-d", args.sink, click], check=True)
        time.sleep(args.gap)
    time.sleep(1.5)
    device.stop()
    for _, _, w in watches:
        w.stopped = True
        w.join()

    print("clicks at the device: %d of %d" % (len(device.times), args.clicks))
    for name, path, w in watches:
        pcm = decode(path)
        frames = len(w.arrivals)
        if len(pcm) < frames * FRAME:  # the file may have grown since; never shrink
            print("%s: %d samples decoded for %d frames: the frame count is off" % (name, len(pcm), frames))
        peak = max((abs(v) for v in pcm), default=0)
        latencies = []
        for i in onsets(pcm, RATE, max(peak * 0.3, 1000)):
            k = i // FRAME
            if k >= frames:
                continue
            arrival = w.arrivals[k]
            before = [t for t in device.times if t < arrival]
            if before:
                latencies.append(1000 * (arrival - before[-1]))
        shown = ", ".join("%.0f" % v for v in latencies)
        if latencies:
            print("%s: capture to server latency median %.0f ms (min %.0f, max %.0f, n %d): %s" % (
                name, statistics.median(latencies), min(latencies), max(latencies), len(latencies), shown))
        else:
            print("%s: no click found in the recording" % name)


if __name__ == "__main__":
    sys.exit(main())
