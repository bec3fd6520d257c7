#!/usr/bin/env python3
"""The release's symbols archive: every PDB where a symbol server has it, for
the image dist/ ships.

usage: check_symbols.py --dist DIR --check-binary check_binary.py

The archive holds exactly <name>.pdb/<GUID><age>/<name>.pdb for the DLL and
gpuinfo.exe; each PDB's own GUID and age (read from the PDB) make its folder's
key, and match the CodeView entry of dist/'s signed image of that name
(check_binary.py --match-pdb). A PDB under another key, or one that is not its
image's, is reported.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import zipfile

IMAGES = {"quillmar-dxgi-gpu-info.pdb": "quillmar-dxgi-gpu-info.dll", "gpuinfo.pdb": "gpuinfo.exe"}
failures = 0


def check(cond, message):
    global failures
    print(("ok: " if cond else "FAIL: ") + message)
    failures += not cond
    return cond


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dist", required=True)
    parser.add_argument("--check-binary", required=True)
    args = parser.parse_args()
    # The PDB reader and the GUID's spelling are the binary check's own.
    sys.path.insert(0, os.path.dirname(os.path.abspath(args.check_binary)))
    import check_binary as binary

    archives = [f for f in os.listdir(args.dist) if f.endswith("-symbols.zip")]
    if not check(len(archives) == 1, f"one symbols archive in {args.dist}: {archives}"):
        return 1
    with tempfile.TemporaryDirectory() as work, zipfile.ZipFile(os.path.join(args.dist, archives[0])) as z:
        members = sorted(z.namelist())
        print("\n".join(f"  {m}" for m in members))
        names = sorted(m.split("/")[0] for m in members)
        check(names == sorted(IMAGES), f"one PDB each for {sorted(IMAGES.values())}: {names}")
        for member in members:
            parts = member.split("/")
            if not check(len(parts) == 3 and parts[0] == parts[2] and parts[0] in IMAGES,
                         f"{member} is laid out as <name>.pdb/<GUID><age>/<name>.pdb"):
                continue
            pdb = os.path.join(work, parts[0])
            with open(pdb, "wb") as f:
                f.write(z.read(member))
            guid, age = binary.read_pdb_identity(pdb)
            key = f"{binary.guid_text(guid)}{age:X}"
            check(parts[1] == key, f"{member}: its folder is the PDB's GUID and age, {key}")
            image = os.path.join(args.dist, IMAGES[parts[0]])
            run = subprocess.run([sys.executable, args.check_binary, "--match-pdb", image, pdb],
                                 capture_output=True, text=True)
            check(run.returncode == 0, f"{IMAGES[parts[0]]} in dist/ names {parts[0]} with its GUID and age:\n"
                  + run.stdout.strip())
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
