#!/usr/bin/env python3
"""crates.io gets dist/'s .crate itself: scripts/release/publish_crate.py
uploads it to a stand-in for crates.io's publish API on 127.0.0.1, which
keeps what it receives. The upload must be the .crate's bytes, with the
metadata cargo would send (name, version, dependencies, the README); a second
run finds the same bytes published and is done; a .crate with other bytes
for the same version is a failure; no token, a failure.

usage: crate_upload.py --dist DIR --version-file VERSION --publish PY
"""
import argparse
import hashlib
import http.server
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading

CRATE = "quillmar-gpuinfo"
NOT_PUBLISHED = 3
failures = 0


def check(cond, message):
    global failures
    print(f"{'ok' if cond else 'FAIL'}: {message}", flush=True)
    failures += not cond


class Registry(http.server.BaseHTTPRequestHandler):
    published = {}  # (name, version) -> (metadata, bytes)
    tokens = []

    def log_message(self, *args):
        pass

    def answer(self, code, body):
        data = json.dumps(body).encode()
        self.send_response(code)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        found = self.published.get(tuple(parts[3:5])) if parts[:3] == ["api", "v1", "crates"] else None
        if found is None:
            self.answer(404, {"errors": [{"detail": "Not Found"}]})
        else:
            self.answer(200, {"version": {"num": parts[4], "checksum": hashlib.sha256(found[1]).hexdigest()}})

    def do_PUT(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        self.tokens.append(self.headers.get("Authorization"))
        size = struct.unpack_from("<I", body)[0]
        meta = json.loads(body[4:4 + size])
        crate_size = struct.unpack_from("<I", body, 4 + size)[0]
        crate = body[8 + size:8 + size + crate_size]
        self.published[(meta["name"], meta["vers"])] = (meta, crate)
        self.answer(200, {"warnings": {"invalid_categories": [], "invalid_badges": [], "other": []}})


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--dist", "--version-file", "--publish"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    with open(args.version_file, encoding="utf-8") as f:
        version = f.readline().strip()
    crate = os.path.join(args.dist, f"{CRATE}-{version}.crate")
    with open(crate, "rb") as f:
        released = f.read()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Registry)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = {**os.environ, "CRATES_IO_API": f"http://127.0.0.1:{server.server_address[1]}"}
    env.pop("CARGO_REGISTRY_TOKEN", None)

    def publish(*extra, path=crate, token=None):
        run = subprocess.run([sys.executable, args.publish, *extra, path], capture_output=True, text=True,
                             env={**env, **({"CARGO_REGISTRY_TOKEN": token} if token else {})})
        print("   ", (run.stdout + run.stderr).strip())
        return run.returncode

    try:
        check(publish("--check") == NOT_PUBLISHED, "before the upload: not published")
        check(publish() == 1 and not Registry.published, "without CARGO_REGISTRY_TOKEN: a failure, nothing sent")
        check(publish(token="release-test-token") == 0, "the upload")
        meta, uploaded = Registry.published.get((CRATE, version), ({}, b""))
        check(uploaded == released, f"crates.io received dist/'s .crate byte for byte "
                                    f"(sha256 {hashlib.sha256(uploaded).hexdigest()}, "
                                    f"dist/ {hashlib.sha256(released).hexdigest()})")
        deps = {(d["name"], d["version_req"], d["target"]) for d in meta.get("deps", [])}
        check(meta.get("vers") == version and ("serde", "1", None) in deps and
              ("libloading", "0.7", 'cfg(all(windows, target_arch = "x86_64"))') in deps and
              meta.get("readme"), f"the metadata: {meta.get('name')} {meta.get('vers')}, dependencies {sorted(deps, key=str)}")
        check(Registry.tokens == ["release-test-token"], "the token went with the upload")
        check(publish(token="release-test-token") == 0 and len(Registry.tokens) == 1,
              "again: already published with these bytes, done, nothing sent")
        with tempfile.TemporaryDirectory() as work:
            other = os.path.join(work, os.path.basename(crate))
            with open(other, "wb") as f:
                f.write(released[:-1] + bytes([released[-1] ^ 1]))
            check(publish(path=other, token="release-test-token") == 1 and len(Registry.tokens) == 1,
                  "another .crate for the same version: a failure, nothing sent")
    finally:
        server.shutdown()
    print(f"crate upload checks: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
