#!/usr/bin/env python3
"""The rules every GitHub workflow of the project keeps, beyond what
actionlint checks:

- a `run:` step is one call of a script in the repository (which CI runs
  here), nothing more: no second command, no pipe, no inline program;
- every action is pinned by a full commit SHA;
- every checkout keeps no credentials (persist-credentials: false);
- the workflow has a concurrency group, and every job a timeout;
- a job that can write (contents, id-token, packages, attestations) or that
  reads a secret sits behind an environment;
- where a workflow has a verify-windows job, every job that can write needs
  it (directly or through another job), and the job that pushes the Go tag
  needs every other job that can write.

usage: check_workflow_rules.py --repo ROOT WORKFLOW...
       check_workflow_rules.py --repo ROOT --fixtures DIR
           each fixture's first line, "# refused: <regex>", says what it
           breaks: the check must refuse it saying so
"""
import argparse
import os
import re
import sys

import yaml

SCRIPT_CALL = re.compile(r"^(?:(?:bash|sh|pwsh|python3?) )?((?:\./)?(?:scripts|tests)/[\w./-]+\.(?:sh|ps1|py))"
                         r"(?: [\w\"${}./:=@-]+)*$")
PINNED = re.compile(r"^[\w.-]+/[\w./-]+@[0-9a-f]{40}$")
WRITE_SCOPES = ("contents", "id-token", "packages", "attestations")
VERIFICATION_JOB = "verify-windows"
LAST_SCRIPT = "scripts/release/go_tag.sh"


def writes(job):
    permissions = job.get("permissions") or {}
    if not isinstance(permissions, dict):
        return permissions == "write-all"
    return any(permissions.get(scope) == "write" for scope in WRITE_SCOPES)


def needs(job):
    value = job.get("needs") or []
    return [value] if isinstance(value, str) else list(value)


def upstream(jobs, name, seen=None):
    seen = set() if seen is None else seen
    for parent in needs(jobs.get(name, {})):
        if parent not in seen:
            seen.add(parent)
            upstream(jobs, parent, seen)
    return seen


def problems(repo, path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    workflow = yaml.safe_load(text)
    found = []
    if "concurrency" not in workflow:
        found.append("no concurrency group")
    jobs = workflow.get("jobs") or {}
    for name, job in jobs.items():
        where = f"job {name}"
        if "timeout-minutes" not in job:
            found.append(f"{where}: no timeout-minutes")
        uses_secret = "secrets." in yaml.safe_dump(job)
        if (writes(job) or uses_secret) and "environment" not in job:
            found.append(f"{where}: writes or reads a secret without an environment")
        for number, step in enumerate(job.get("steps") or [], 1):
            at = f"{where}, step {number}"
            if "uses" in step:
                action = str(step["uses"])
                if not action.startswith("./") and not PINNED.match(action):
                    found.append(f"{at}: {action} is not pinned by a full commit SHA")
                if action.startswith("actions/checkout@") and (step.get("with") or {}).get(
                        "persist-credentials") is not False:
                    found.append(f"{at}: a checkout without persist-credentials: false")
            if "run" in step:
                command = str(step["run"]).strip()
                call = SCRIPT_CALL.match(command) if "\n" not in command else None
                if call is None:
                    found.append(f"{at}: run: is not one call of a repository script: {command!r}")
                elif not os.path.isfile(os.path.join(repo, call.group(1))):
                    found.append(f"{at}: run: calls {call.group(1)}, which the repository lacks")
    if VERIFICATION_JOB in jobs:
        writers = [name for name, job in jobs.items() if writes(job)]
        for name in writers:
            if VERIFICATION_JOB not in upstream(jobs, name):
                found.append(f"job {name}: can write but does not need {VERIFICATION_JOB}")
        for name, job in jobs.items():
            if LAST_SCRIPT in yaml.safe_dump(job.get("steps") or []):
                missing = [w for w in writers if w != name and w not in upstream(jobs, name)]
                if missing:
                    found.append(f"job {name}: pushes the Go tag before {', '.join(missing)}")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repo", required=True)
    parser.add_argument("--fixtures")
    parser.add_argument("workflows", nargs="*")
    args = parser.parse_args()
    failures = 0
    for workflow in args.workflows:
        found = problems(args.repo, workflow)
        for problem in found:
            print(f"FAIL: {workflow}: {problem}")
        print(f"{workflow}: {len(found)} problem(s)")
        failures += bool(found)
    if args.fixtures:
        for name in sorted(os.listdir(args.fixtures)):
            path = os.path.join(args.fixtures, name)
            with open(path, encoding="utf-8") as f:
                first = f.readline()
            expected = re.match(r"# refused: (.*)", first)
            if expected is None:
                print(f"FAIL: {name} says nothing of what it breaks")
                failures += 1
                continue
            found = problems(args.repo, path)
            refused = [p for p in found if re.search(expected.group(1).strip(), p)]
            print(f"{'ok' if refused else 'FAIL'}: fixture {name} refused: {refused or found}")
            failures += not refused
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
