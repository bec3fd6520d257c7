"""A PEP 503 simple index on 127.0.0.1 that twine can upload to.

usage: pypi_index.py <folder> <port file>

Serves <folder>/simple/<project>/ (links with #sha256=) and the files in
<folder>/files/, and takes twine's upload (POST of multipart form data with
:action=file_upload), rebuilding the project's page. The port it got is
written to <port file>.
"""
import email.parser
import email.policy
import hashlib
import html
import http.server
import os
import re
import sys


def normalized(name):
    return re.sub(r"[-_.]+", "-", name).lower()


class Index(http.server.SimpleHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers["Content-Length"])
        head = f"Content-Type: {self.headers['Content-Type']}\r\n\r\n".encode()
        message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(head + self.rfile.read(length))
        fields, upload = {}, None
        for part in message.iter_parts():
            name = part.get_param("name", header="content-disposition")
            if part.get_filename():
                upload = (os.path.basename(part.get_filename()), part.get_payload(decode=True))
            else:
                fields[name] = part.get_content()
        if fields.get(":action") != "file_upload" or upload is None or "name" not in fields:
            self.send_error(400, "not an upload")
            return
        filename, data = upload
        if hashlib.sha256(data).hexdigest() != fields.get("sha256_digest"):
            self.send_error(400, "sha256_digest does not match the file")
            return
        root = self.directory
        os.makedirs(os.path.join(root, "files"), exist_ok=True)
        with open(os.path.join(root, "files", filename), "wb") as f:
            f.write(data)
        write_pages(root, normalized(fields["name"]))
        self.send_response(200)
        self.end_headers()


def write_pages(root, project):
    page = os.path.join(root, "simple", project)
    os.makedirs(page, exist_ok=True)
    links = []
    for filename in sorted(os.listdir(os.path.join(root, "files"))):
        if normalized(filename.split("-")[0]) != project:
            continue
        with open(os.path.join(root, "files", filename), "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        links.append(f'<a href="../../files/{html.escape(filename)}#sha256={digest}">{html.escape(filename)}</a><br>')
    with open(os.path.join(page, "index.html"), "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html>\n<html><body>\n" + "\n".join(links) + "\n</body></html>\n")
    projects = sorted(os.listdir(os.path.join(root, "simple")))
    projects = [p for p in projects if os.path.isdir(os.path.join(root, "simple", p))]
    with open(os.path.join(root, "simple", "index.html"), "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html>\n<html><body>\n"
                + "\n".join(f'<a href="{p}/">{p}</a><br>' for p in projects) + "\n</body></html>\n")


def main():
    root, port_file = sys.argv[1], sys.argv[2]
    os.makedirs(os.path.join(root, "simple"), exist_ok=True)

    def handler(*args, **kwargs):
        return Index(*args, directory=root, **kwargs)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
