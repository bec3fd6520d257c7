#!/usr/bin/env python3
"""Makes a release file the same bytes from the same inputs.

usage: normalize.py zip FILE        entries dated SOURCE_DATE_EPOCH, in their
                                    order; a NuGet .psmdcp part named from its
                                    content rather than a random GUID
       normalize.py tgz FILE        entries dated SOURCE_DATE_EPOCH, owned by
                                    0:0, gzip header without time or name
       normalize.py spdx IN OUT     the document's creation time and namespace
                                    from SOURCE_DATE_EPOCH and the content
"""
import gzip
import hashlib
import io
import json
import os
import re
import sys
import tarfile
import time
import uuid
import zipfile

ZIP_EARLIEST = (1980, 1, 1, 0, 0, 0)


def epoch():
    return int(os.environ.get("SOURCE_DATE_EPOCH", "1767225600"))


def zip_date():
    return max(ZIP_EARLIEST, time.gmtime(epoch())[:6])


def normalize_zip(path):
    with zipfile.ZipFile(path) as z:
        entries = [(info, z.read(info)) for info in z.infolist()]
    renames = {}
    for info, data in entries:
        m = re.fullmatch(r"(package/services/metadata/core-properties/)[0-9a-f]+\.psmdcp", info.filename)
        if m:
            renames[info.filename] = f"{m.group(1)}{hashlib.sha256(data).hexdigest()[:32]}.psmdcp"
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as out:
        for info, data in entries:
            name = renames.get(info.filename, info.filename)
            for old, new in renames.items():
                data = data.replace(b"/" + old.encode(), b"/" + new.encode())
            fixed = zipfile.ZipInfo(name, zip_date())
            fixed.compress_type = info.compress_type
            fixed.external_attr = info.external_attr
            fixed.create_system = 3
            out.writestr(fixed, data, compresslevel=9 if info.compress_type == zipfile.ZIP_DEFLATED else None)
    with open(path, "wb") as f:
        f.write(buf.getvalue())


def normalize_tgz(path):
    with tarfile.open(path, "r:gz") as t:
        members = [(m, t.extractfile(m).read() if m.isfile() else None) for m in t.getmembers()]
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.PAX_FORMAT if any(
            len(m.name) > 99 for m, _ in members) else tarfile.USTAR_FORMAT) as out:
        for m, data in members:
            m.mtime = epoch()
            m.uid = m.gid = 0
            m.uname = m.gname = ""
            m.pax_headers = {}
            out.addfile(m, io.BytesIO(data) if data is not None else None)
    packed = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", fileobj=packed, mtime=0, compresslevel=9) as g:
        g.write(raw.getvalue())
    with open(path, "wb") as f:
        f.write(packed.getvalue())


def normalize_spdx(src, dst):
    with open(src, encoding="utf-8") as f:
        doc = json.load(f)
    doc["creationInfo"]["created"] = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch()))
    doc["documentNamespace"] = ""
    # The tool lists files and packages in the order its threads finish, and
    # gives the root package a random SWID tag id.
    for key in ("files", "packages", "relationships", "documentDescribes"):
        if isinstance(doc.get(key), list):
            doc[key].sort(key=lambda item: json.dumps(item, sort_keys=True))
    for package in doc.get("packages", []):
        package.get("hasFiles", []).sort()
        for ref in package.get("externalRefs", []):
            locator = ref.get("referenceLocator", "")
            if "tag_id=" in locator:
                stable = uuid.uuid5(uuid.NAMESPACE_URL, locator.split("?")[0])
                ref["referenceLocator"] = re.sub(r"tag_id=[0-9a-fA-F-]+", f"tag_id={stable}", locator)
    digest = hashlib.sha256(json.dumps(doc, sort_keys=True).encode()).hexdigest()
    doc["documentNamespace"] = (f"https://github.com/quillmar/quillmar-dxgi-gpu-info/"
                                f"{doc['name'].replace(' ', '-')}/{digest}")
    with open(dst, "w", encoding="utf-8", newline="\n") as f:
        json.dump(doc, f, indent=2, sort_keys=True)
        f.write("\n")


def main():
    kind, args = sys.argv[1], sys.argv[2:]
    if kind == "zip" and len(args) == 1:
        normalize_zip(args[0])
    elif kind == "tgz" and len(args) == 1:
        normalize_tgz(args[0])
    elif kind == "spdx" and len(args) == 2:
        normalize_spdx(*args)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
