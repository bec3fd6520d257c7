#!/usr/bin/env python3
"""The npm registry copy of registry_npm.py (verdaccio on 127.0.0.1, this
package served from its own storage only), kept running for another client:
writes its URL to WORK/url and a publisher's token to WORK/token, then serves
until it is stopped. The Windows verification uses it (no process groups
there: verdaccio ends with the job).

usage: serve_npm_registry.py WORK NPM NODE VERDACCIO_VERSION
"""
import argparse
import os
import subprocess
import sys
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import registry_npm  # noqa: E402


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    work, npm, node, version = sys.argv[1:]
    args = argparse.Namespace(npm=npm, cache=os.path.join(work, "cache"), verdaccio_version=version)
    os.makedirs(args.cache, exist_ok=True)
    port = registry_npm.free_port()
    config = registry_npm.write_config(work, port)
    process = subprocess.Popen([node, registry_npm.verdaccio_program(args), "--config", config], cwd=work)
    url = f"http://127.0.0.1:{port}/"
    deadline = time.monotonic() + registry_npm.START_TIMEOUT_S
    while True:
        try:
            with urllib.request.urlopen(url + "-/ping", timeout=5):
                break
        except (urllib.error.URLError, ConnectionError):
            if process.poll() is not None or time.monotonic() > deadline:
                process.kill()
                sys.exit(f"FAIL: verdaccio did not answer at {url}")
            time.sleep(0.5)
    holder = argparse.Namespace(url=url)
    token = registry_npm.Verdaccio.add_user(holder)
    with open(os.path.join(work, "token"), "w") as f:
        f.write(token)
    with open(os.path.join(work, "url"), "w") as f:
        f.write(url)
    return process.wait()


if __name__ == "__main__":
    sys.exit(main())
