#!/usr/bin/env python3
"""Damaged inputs through zel-convert under AddressSanitizer and UBSan.

Makes small WMV, AVI, MPEG-1, WAV and WMA clips with ffmpeg, damages copies
of them (flipped bits, overwritten runs, cut files, time and size fields set
to large values), converts each with a time limit, and checks that no run
crashes, hangs, leaves its work folder or a temporary output behind, or ends
with 0 while its output is longer than what the input holds that ffmpeg can
decode, by more than a second. Prints one line per finding and a summary.

    scripts/fuzz-inputs.py [--count N] [--seed S] [--timeout SECONDS] [--keep DIR] [--zel PATH]

Needs python3, ffmpeg and ffprobe; builds build-asan/ (ZEL_SANITIZE=ON,
without the window) when its zel-convert is missing. Slow by design: a few
seconds per file under the sanitizers. Not part of the test suite.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ZEL = os.path.join(ROOT, "build-asan", "src", "cli", "zel-convert")
SANITIZER_ENV = {
    "ASAN_OPTIONS": "detect_leaks=1:abort_on_error=1:strict_string_checks=1",
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
}
REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")

# The clips, 3-4 s each: what the converter takes, with the codecs those
# containers usually carry.
CLIPS = {
    "clip.wmv": ["-f", "lavfi", "-i", "testsrc2=size=176x144:rate=15:duration=4",
                 "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050:duration=4",
                 "-c:v", "wmv2", "-g", "15", "-c:a", "wmav2", "-ac", "2"],
    "clip.avi": ["-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=3",
                 "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050:duration=3",
                 "-c:v", "mpeg4", "-g", "10", "-c:a", "pcm_s16le"],
    "clip.mpg": ["-f", "lavfi", "-i", "testsrc2=size=176x144:rate=25:duration=3",
                 "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=3",
                 "-c:v", "mpeg1video", "-g", "12", "-c:a", "mp2", "-f", "mpeg"],
    "clip.wav": ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=4",
                 "-c:a", "pcm_s16le"],
    "clip.wma": ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=5",
                 "-c:a", "wmav2", "-ac", "2"],
}
ASF_DATA = bytes.fromhex("3626b2758e66cf11a6d900aa0062ce6c")


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, errors="replace", **kwargs)


def build():
    if os.path.exists(ZEL):
        return
    subprocess.run(["cmake", "-S", ROOT, "-B", os.path.join(ROOT, "build-asan"), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DZEL_SANITIZE=ON",
                    "-DZEL_BUILD_APP=OFF", "-DZEL_BUILD_BENCH=OFF"], check=True)
    subprocess.run(["cmake", "--build", os.path.join(ROOT, "build-asan"), "--target",
                    "zel-convert"], check=True)


def enlarge(field, rng):
    """A 32-bit time or size field (little-endian) made large: minutes to days
    in milliseconds, or its third byte raised (a few damaged bytes), or an
    extreme."""
    value = struct.unpack("<I", field)[0]
    choice = rng.randrange(5)
    if choice == 0:
        value = rng.randint(600000, 72000000)
    elif choice == 1:
        value = (value & 0xFF00FFFF) | rng.randint(0x10, 0xFF) << 16
    elif choice == 2:
        value = rng.choice([0xFFFFFFFF, 0x7FFFFFFF, 1, 0])
    else:
        value = rng.getrandbits(32)
    return struct.pack("<I", value)


def time_fields(name, data, rng):
    """Offsets of 32-bit time, rate and size fields of the clip's format."""
    fields = []
    if name.endswith((".wmv", ".wma")):
        at = data.find(ASF_DATA)
        if at >= 0:
            start, size = at + 50, 3200  # ffmpeg's ASF packets
            packets = (len(data) - start) // size
            # the last packet always: its times decide where a seek to the
            # end lands, and so what a length check reads
            last = list(range(max(0, packets - 3), packets - 1))
            for k in [packets - 1] + rng.sample(last, rng.randint(0, len(last))):
                p = start + k * size
                fields += [p + 6, p + 24]  # send time, first payload's presentation time
    elif name.endswith(".avi"):
        for tag, offsets in ((b"avih", (8, 24, 40, 44)), (b"strh", (28, 32, 40, 44))):
            at = data.find(tag)
            while at >= 0:
                fields += [at + o for o in offsets]
                at = data.find(tag, at + 4)
    elif name.endswith(".wav"):
        fields = [22, 24, 28, 32, 40, 4]
    elif name.endswith(".mpg"):
        at = data.find(b"\x00\x00\x01\xba")
        while at >= 0:
            fields.append(at + 4)  # the pack's clock reference
            at = data.find(b"\x00\x00\x01\xba", at + 4)
        fields = fields[-6:]
    return [f for f in fields if f + 4 <= len(data)]


def damage(name, clean, rng):
    """A damaged copy of the clip's bytes and what was done to it."""
    data = bytearray(clean)
    kind = rng.choice(["flip", "overwrite", "truncate", "times", "times", "header"])
    if kind == "flip":
        for _ in range(rng.randint(1, 24)):
            at = rng.randrange(len(data))
            data[at] ^= 1 << rng.randrange(8)
    elif kind == "overwrite":
        for _ in range(rng.randint(1, 3)):
            at = rng.randrange(len(data))
            run_ = rng.randint(1, 64)
            data[at:at + run_] = bytes(rng.choice([0, 0xFF, rng.getrandbits(8)])
                                       if rng.random() < 0.5 else rng.getrandbits(8)
                                       for _ in range(run_))[:len(data) - at]
    elif kind == "truncate":
        del data[rng.randint(len(data) // 10, len(data) - 1):]
    elif kind == "times":
        fields = time_fields(name, data, rng) or [rng.randrange(len(data) - 4)]
        for at in rng.sample(fields, min(len(fields), rng.randint(1, 3))):
            data[at:at + 4] = enlarge(bytes(data[at:at + 4]), rng)
    else:
        for _ in range(rng.randint(1, 8)):
            data[rng.randrange(min(512, len(data)))] = rng.getrandbits(8)
    return bytes(data), kind


def content_seconds(path):
    """What ffmpeg decodes of the file: the longer of the sound (its samples)
    and the pictures (their count over the frame rate), in seconds, gaps not
    counted. Each kind is decoded alone, so that a stream whose decoder cannot
    open does not hide the other."""
    seconds = 0.0
    for kind in ("a", "v"):
        r = run(["ffmpeg", "-nostdin", "-v", "quiet", "-i", path, "-map", "0:%s:0" % kind,
                 "-fps_mode", "passthrough", "-f", "framecrc", "-"], timeout=300)
        base, total, frames = None, 0, 0
        for line in r.stdout.splitlines():
            if line.startswith("#tb 0:"):
                num, _, den = line.split(":")[1].strip().partition("/")
                base = (int(num), int(den))
            elif line and not line.startswith("#"):
                frames += 1
                total += int(line.split(",")[3])
        if kind == "a" and base:
            seconds = max(seconds, total * base[0] / base[1])
        elif kind == "v" and frames:
            rate = run(["ffprobe", "-v", "quiet", "-select_streams", "v:0", "-show_entries",
                        "stream=avg_frame_rate,r_frame_rate", "-of", "csv=p=0", path],
                       timeout=60).stdout.split(",")
            for value in rate:
                num, _, den = value.strip().partition("/")
                if den not in ("", "0") and num not in ("", "0"):
                    seconds = max(seconds, frames * float(den) / float(num))
                    break
    return seconds


def span_seconds(path):
    """How far the file's decodable content reaches on its timeline: from the
    earliest decoded frame of any stream to the end of the latest one, in
    seconds. Gaps inside that span are the converter's to fill (silence, a
    held picture); only output beyond the span is made up."""
    r = run(["ffprobe", "-v", "quiet", "-show_entries",
             "frame=best_effort_timestamp_time,duration_time,pkt_duration_time",
             "-of", "csv=p=0", path], timeout=300)
    first, last = None, None
    for line in r.stdout.splitlines():
        fields = [f for f in line.split(",") if f not in ("", "N/A")]
        try:
            values = [float(f) for f in fields]
        except ValueError:
            continue
        if not values:
            continue
        start = values[0]
        length = values[1] if len(values) > 1 else 0.0
        first = start if first is None else min(first, start)
        last = start + length if last is None else max(last, start + length)
    return 0.0 if first is None else max(0.0, last - min(first, 0.0))


def output_seconds(folder, enough):
    """The length of the 3GP files in folder, counted until it passes enough."""
    total = 0.0
    for entry in sorted(os.listdir(folder)):
        if total > enough:
            break
        if entry.endswith(".3gp"):
            r = run(["ffprobe", "-v", "quiet", "-show_entries", "format=duration", "-of",
                     "csv=p=0", os.path.join(folder, entry)], timeout=60)
            try:
                total += float(r.stdout.strip())
            except ValueError:
                pass
    return total


def convert_one(path, options, timeout, scratch, clean_seconds):
    out = tempfile.mkdtemp(dir=scratch, prefix="out-")
    tmp = tempfile.mkdtemp(dir=scratch, prefix="tmp-")
    env = dict(os.environ, TMPDIR=tmp, **SANITIZER_ENV)
    try:
        r = subprocess.run([ZEL, "-q", "--container", "3gp", "-o", out] + options + [path],
                           capture_output=True, text=True, errors="replace", env=env,
                           timeout=timeout, cwd=out)
        status, err = r.returncode, r.stderr
    except subprocess.TimeoutExpired as e:
        status, err = "hang", (e.stderr or b"").decode(errors="replace") if e.stderr else ""
    findings = []
    if status == "hang":
        findings.append("hang (over %d s)" % timeout)
    elif status < 0 or status > 2 or any(m in err for m in REPORTS):
        findings.append("crash (status %s): %s" % (status, err.strip()[-600:]))
    if os.listdir(tmp):
        findings.append("work folder left: %s" % os.listdir(tmp))
    partial = [f for f in os.listdir(out) if f.startswith(".") or f.endswith((".wav", ".bmp"))]
    if partial:
        findings.append("temporary outputs left: %s" % partial)
    if status == 0:
        # Gaps between decodable frames are the converter's to fill, within
        # the clean clip's span (damage changes or removes bytes, it adds no
        # time); beyond it, only what is decoded counts (a frame rate field
        # made smaller legitimately stretches the pictures).
        holds = max(content_seconds(path), min(span_seconds(path), clean_seconds))
        made = output_seconds(out, holds + 1.0)
        if made > holds + 1.0:
            findings.append("exit 0 with %.2f s of output for %.2f s of decodable content"
                            % (made, holds))
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(tmp, ignore_errors=True)
    return status, findings


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=60, help="damaged files per format")
    parser.add_argument("--seed", type=int, default=16)
    parser.add_argument("--timeout", type=int, default=180, help="seconds per file")
    parser.add_argument("--keep", help="copy files with findings into this folder")
    parser.add_argument("--zel", help="another zel-convert to run (an earlier build, say)")
    args = parser.parse_args()
    global ZEL
    if args.zel:
        ZEL = os.path.abspath(args.zel)
    build()
    rng = random.Random(args.seed)
    scratch = tempfile.mkdtemp(prefix="zel-fuzz-")
    statuses, findings_total, runs = {}, 0, 0
    try:
        for name, recipe in CLIPS.items():
            clean_path = os.path.join(scratch, name)
            subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y"] + recipe + [clean_path],
                           check=True)
            clean = open(clean_path, "rb").read()
            clean_seconds = span_seconds(clean_path)
            for i in range(args.count):
                data, kind = damage(name, clean, rng)
                stem, ext = os.path.splitext(name)
                path = os.path.join(scratch, "%s-%03d-%s%s" % (stem, i, kind, ext))
                with open(path, "wb") as f:
                    f.write(data)
                options = ["--split", "2"] if i % 4 == 3 else []
                status, findings = convert_one(path, options, args.timeout, scratch, clean_seconds)
                runs += 1
                statuses[status] = statuses.get(status, 0) + 1
                for finding in findings:
                    findings_total += 1
                    print("%s %s: %s" % (os.path.basename(path), " ".join(options), finding),
                          flush=True)
                if findings and args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    shutil.copy(path, args.keep)
                os.remove(path)
            print("%s: %d damaged files done" % (name, args.count), flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d runs, exit statuses %s, %d findings"
          % (runs, dict(sorted(statuses.items(), key=str)), findings_total))
    return 1 if findings_total else 0


if __name__ == "__main__":
    sys.exit(main())
