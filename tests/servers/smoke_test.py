#!/usr/bin/env python3
"""Proves that the test servers of scripts/servers answer as the plugin's tests need, by
driving curl against them. Reads the env file named by VODAREZAZUV_SERVERS_ENV.

Usage: smoke_test.py [unittest arguments, e.g. a class name such as DavTest]
"""

import calendar
import email.utils
import json
import os
import pathlib
import re
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import xml.etree.ElementTree as ET

ENV = {}
MAX_TIME = "20"
PROPFIND_BODY = (b'<?xml version="1.0" encoding="utf-8"?>'
                 b'<D:propfind xmlns:D="DAV:"><D:allprop/></D:propfind>')
SEEDED_FILES = {  # name below /dav/ -> size
    "small.txt": 40,
    "empty.txt": 0,
    "one-kib.bin": 1024,
    "64-kib.bin": 65536,
    "one-mib.bin": 1048576,
    "twenty-mib.bin": 20971520,
    "name with spaces.txt": 7,
    "Grüße aus Köln – Übermaß.txt": 8,
    "100% sure.txt": 8,
    "#hash and % both.txt": 5,
}
SEEDED_COLLECTIONS = {"nested/", "Ordner mit Ä/", "empty-collection/", "large/"}


def load_env():
    path = os.environ.get("VODAREZAZUV_SERVERS_ENV")
    if not path:
        raise SystemExit("VODAREZAZUV_SERVERS_ENV names no env file")
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        key, _, value = line.partition("=")
        ENV[key] = value


def pattern(length, start=0):
    period = bytes(range(251))
    data = period * ((start + length) // 251 + 2)
    return data[start % 251:start % 251 + length]


def quote(name):
    return urllib.parse.quote(name, safe="/")


class Reply:
    def __init__(self, exit_code, status, connect_status, headers, body, stderr):
        self.exit_code, self.status, self.connect_status = exit_code, status, connect_status
        self.headers, self.body, self.stderr = headers, body, stderr

    def __repr__(self):
        return (f"curl exit {self.exit_code}, status {self.status}, "
                f"CONNECT {self.connect_status}, stderr {self.stderr.strip()!r}")


def curl(url, *options, data=None):
    """Runs curl once; the headers are those of the last response."""
    with tempfile.TemporaryDirectory() as folder:
        head, body, sent = (os.path.join(folder, name) for name in ("head", "body", "sent"))
        command = ["curl", "-sS", "--max-time", MAX_TIME, "-D", head, "-o", body,
                   "-w", "%{http_code} %{http_connect}", *options]
        if data is not None:
            with open(sent, "wb") as f:
                f.write(data)
            command += ["--data-binary", "@" + sent]
        result = subprocess.run(command + [url], capture_output=True, timeout=60)
        status, connect = result.stdout.decode().split()
        headers = {}
        if os.path.exists(head):
            blocks = re.split(rb"\r\n\r\n", pathlib.Path(head).read_bytes().strip())
            for line in blocks[-1].decode("latin-1").split("\r\n")[1:]:
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
        content = pathlib.Path(body).read_bytes() if os.path.exists(body) else b""
        return Reply(result.returncode, int(status), int(connect), headers, content,
                     result.stderr.decode(errors="replace"))


def propfind(url, depth="1", *options):
    return curl(url, "-X", "PROPFIND", "-H", f"Depth: {depth}", "-H",
                "Content-Type: application/xml", *options, data=PROPFIND_BODY)


def multistatus(body):
    """Maps each href (decoded) of a multistatus body to (content length, is collection,
    last modified)."""
    ns = {"D": "DAV:"}
    entries = {}
    for response in ET.fromstring(body).findall("D:response", ns):
        href = urllib.parse.unquote(response.findtext("D:href", namespaces=ns))
        length = response.findtext(".//D:getcontentlength", namespaces=ns)
        collection = response.find(".//D:resourcetype/D:collection", ns) is not None
        modified = response.findtext(".//D:getlastmodified", namespaces=ns)
        entries[href] = (int(length) if length is not None else None, collection, modified)
    return entries


def log_lines(path, predicate, count=1, wait=3.0):
    """Lines of a log that the predicate accepts, waiting briefly for the server to write
    them (a server logs a request just after answering it)."""
    deadline = time.monotonic() + wait
    while True:
        with open(path, encoding="utf-8", errors="replace") as f:
            found = [line for line in f if predicate(line)]
        if len(found) >= count or time.monotonic() > deadline:
            return found
        time.sleep(0.05)


def unique(label):
    return f"smoke-{label}-{os.getpid()}-{time.monotonic_ns()}"


class DavTest(unittest.TestCase):
    def test_depth_1_lists_the_seeded_tree_with_sizes_and_dates(self):
        reply = propfind(ENV["DAV_URL"])
        self.assertEqual(reply.status, 207, reply)
        entries = multistatus(reply.body)
        seeded = calendar.timegm(time.strptime(ENV["SEED_MTIME"], "%Y-%m-%dT%H:%M:%SZ"))
        expected_date = email.utils.formatdate(seeded, usegmt=True)
        for name, size in SEEDED_FILES.items():
            with self.subTest(name=name):
                self.assertIn("/dav/" + name, entries)
                self.assertEqual(entries["/dav/" + name], (size, False, expected_date))
        for name in SEEDED_COLLECTIONS:
            with self.subTest(name=name):
                self.assertIn("/dav/" + name, entries)
                self.assertTrue(entries["/dav/" + name][1])

    def test_nested_collections_list_their_members(self):
        cases = [("nested/", {"inner file.txt", "deeper/"}),
                 ("nested/deeper/", {"leaf.txt"}),
                 ("Ordner mit Ä/", {"Datei ß.txt"}),
                 ("empty-collection/", set())]
        for collection, members in cases:
            with self.subTest(collection=collection):
                reply = propfind(ENV["DAV_URL"] + quote(collection))
                self.assertEqual(reply.status, 207, reply)
                listed = {href[len("/dav/" + collection):] for href in multistatus(reply.body)}
                self.assertEqual(listed - {""}, members)

    def test_the_sparse_file_lists_as_five_gib(self):
        if not ENV["SPARSE_FILE"]:
            self.skipTest("the start script could not make a sparse file here")
        reply = propfind(ENV["DAV_URL"] + ENV["SPARSE_FILE"], "0")
        self.assertEqual(reply.status, 207, reply)
        (length, collection, _), = multistatus(reply.body).values()
        self.assertEqual((length, collection), (5 * 1024**3, False))

    def test_get_returns_the_bytes_on_disk_for_awkward_names(self):
        for name in ["small.txt", "empty.txt", "one-mib.bin", "name with spaces.txt",
                     "Grüße aus Köln – Übermaß.txt", "100% sure.txt", "#hash and % both.txt",
                     "Ordner mit Ä/Datei ß.txt"]:
            with self.subTest(name=name):
                reply = curl(ENV["DAV_URL"] + quote(name))
                self.assertEqual(reply.status, 200, reply)
                on_disk = pathlib.Path(ENV["DAV_ROOT"], name).read_bytes()
                self.assertEqual(reply.body, on_disk)
        self.assertEqual(curl(ENV["DAV_URL"] + "one-mib.bin").body, pattern(1048576))


class AuthTest(unittest.TestCase):
    CASES = [  # location, curl option of the right scheme, user key, password key
        ("BASIC_URL", "--basic", "BASIC_USER", "BASIC_PASSWORD"),
        ("DIGEST_URL", "--digest", "DIGEST_USER", "DIGEST_PASSWORD"),
        ("HTTPS_BASIC_URL", "--basic", "BASIC_USER", "BASIC_PASSWORD"),
        ("HTTPS_DIGEST_URL", "--digest", "DIGEST_USER", "DIGEST_PASSWORD"),
    ]

    def test_a_wrong_or_missing_password_gets_401_and_the_right_one_passes(self):
        for url_key, scheme, user_key, password_key in self.CASES:
            url, user, password = ENV[url_key], ENV[user_key], ENV[password_key]
            tls = ["--cacert", ENV["CA_CERT"]]
            with self.subTest(url=url, credentials="none"):
                reply = propfind(url, "1", *tls)
                self.assertEqual(reply.status, 401, reply)
                self.assertTrue(reply.headers["www-authenticate"].lower()
                                .startswith(scheme[2:]), reply.headers)
            with self.subTest(url=url, credentials="wrong password"):
                reply = propfind(url, "1", *tls, scheme, "-u", f"{user}:{password}x")
                self.assertEqual(reply.status, 401, reply)
            with self.subTest(url=url, credentials="right"):
                reply = propfind(url, "1", *tls, scheme, "-u", f"{user}:{password}")
                self.assertEqual(reply.status, 207, reply)
                self.assertIn(urllib.parse.urlsplit(url).path + "small.txt",
                              multistatus(reply.body))

    def test_digest_refuses_the_right_password_sent_as_basic(self):
        reply = propfind(ENV["DIGEST_URL"], "1", "--basic", "-u",
                         f"{ENV['DIGEST_USER']}:{ENV['DIGEST_PASSWORD']}")
        self.assertEqual(reply.status, 401, reply)


class TlsTest(unittest.TestCase):
    def test_server_certificates(self):
        ca = ["--cacert", ENV["CA_CERT"]]
        other_ca = ["--cacert", os.path.join(os.path.dirname(ENV["CA_CERT"]),
                                             "untrusted-client.crt")]
        port = ENV["HTTPS_PORT"]
        cases = [  # name, url, curl options, curl exit code, text in curl's error
            ("trusted with the test CA", ENV["HTTPS_DAV_URL"], ca, 0, ""),
            ("trusted under the name localhost", f"https://localhost:{port}/dav/",
             ca + ["--resolve", f"localhost:{port}:127.0.0.1"], 0, ""),
            ("refused when another CA is trusted", ENV["HTTPS_DAV_URL"], other_ca, 60,
             "certificate"),
            ("expired", ENV["EXPIRED_CERT_URL"], ca, 60, "expired"),
            ("wrong name", ENV["WRONG_NAME_CERT_URL"], ca, 60, "subject name"),
        ]
        for name, url, options, exit_code, error in cases:
            with self.subTest(name):
                reply = propfind(url, "1", *options)
                self.assertEqual(reply.exit_code, exit_code, reply)
                self.assertIn(error, reply.stderr)
                if exit_code == 0:
                    self.assertEqual(reply.status, 207, reply)


class ClientCertTest(unittest.TestCase):
    def test_client_certificate_locations(self):
        ca = ["--cacert", ENV["CA_CERT"]]
        offers = [  # name, curl options, accepted
            ("no certificate", [], False),
            ("PEM of the test CA", ["--cert", ENV["CLIENT_CERT_PEM"]], True),
            ("separate certificate and key", ["--cert", ENV["CLIENT_CERT"],
                                              "--key", ENV["CLIENT_KEY"]], True),
            ("PKCS#12 without password", ["--cert-type", "P12",
                                          "--cert", ENV["CLIENT_CERT_P12"] + ":"], True),
            ("certificate of an unknown CA", ["--cert", ENV["UNTRUSTED_CLIENT_CERT_PEM"]], False),
        ]
        for url_key in ["CLIENT_CERT_URL", "CLIENT_CERT_HANDSHAKE_URL"]:
            for name, options, accepted in offers:
                with self.subTest(url=url_key, offer=name):
                    marker = unique("client-cert")
                    reply = propfind(ENV[url_key] + "?" + marker, "1", *ca, *options)
                    if accepted:
                        self.assertEqual((reply.exit_code, reply.status), (0, 207), reply)
                        line, = log_lines(ENV["APACHE_ACCESS_LOG"], lambda l: marker in l)
                        self.assertIn(f'client="{ENV["CLIENT_CERT_CN"]}"', line)
                    else:
                        # Apache ends the TLS connection with an alert: no HTTP answer.
                        self.assertNotEqual(reply.exit_code, 0, reply)
                        self.assertEqual(reply.status, 0, reply)

    def test_the_env_file_names_the_client_certificate_as_it_is(self):
        subject_serial = subprocess.run(
            ["openssl", "x509", "-in", ENV["CLIENT_CERT"], "-noout", "-serial", "-subject",
             "-nameopt", "multiline"], capture_output=True, text=True, check=True).stdout
        self.assertIn(f"serial={ENV['CLIENT_CERT_SERIAL']}\n", subject_serial)
        self.assertIn(f"commonName                = {ENV['CLIENT_CERT_CN']}\n", subject_serial)


class ProxyTest(unittest.TestCase):
    def test_proxies_with_and_without_authentication(self):
        right = ["--proxy-user", f"{ENV['PROXY_USER']}:{ENV['PROXY_PASSWORD']}"]
        wrong = ["--proxy-user", f"{ENV['PROXY_USER']}:{ENV['PROXY_PASSWORD']}x"]
        http = ENV["DAV_URL"] + "small.txt"
        https = ENV["HTTPS_DAV_URL"] + "small.txt"
        cases = [  # proxy key, target, credentials, status, CONNECT status
            ("PROXY_AUTH", http, [], 407, 0),
            ("PROXY_AUTH", http, wrong, 407, 0),
            ("PROXY_AUTH", http, right, 200, 0),
            ("PROXY_AUTH", https, [], 0, 407),
            ("PROXY_AUTH", https, wrong, 0, 407),
            ("PROXY_AUTH", https, right, 200, 200),
            ("PROXY", http, [], 200, 0),
            ("PROXY", https, [], 200, 200),
        ]
        for proxy_key, target, credentials, status, connect_status in cases:
            with self.subTest(proxy=proxy_key, target=target, credentials=credentials):
                marker = unique("proxy")
                reply = curl(f"{target}?{marker}", "--proxy", "http://" + ENV[proxy_key],
                             "--cacert", ENV["CA_CERT"], *credentials)
                self.assertEqual((reply.status, reply.connect_status),
                                 (status, connect_status), reply)
                if status == 407:
                    self.assertTrue(reply.headers["proxy-authenticate"].startswith("Basic"))
                if status == 200:
                    self.assertEqual(reply.body, b"Hello from the vodarezazuv test server.\n")
                    line, = log_lines(ENV["APACHE_ACCESS_LOG"], lambda l: marker in l)
                    if target == http:
                        # Apache sees the proxy's Via header; through a tunnel it cannot.
                        self.assertIn('via="1.1 vodarezazuv-proxy', line)
                        port = ENV[proxy_key].rpartition(":")[2]
                        line, = log_lines(ENV["PROXY_LOG"], lambda l: marker in l)
                        self.assertIn(f" port={port} GET ", line)
                        user = ENV["PROXY_USER"] if credentials else "-"
                        self.assertIn(f" user={user} ", line)

    def test_the_proxies_reach_only_the_test_servers(self):
        for target in ["http://127.0.0.1:22/", "https://127.0.0.1:22/"]:
            with self.subTest(target=target):
                reply = curl(target, "--proxy", "http://" + ENV["PROXY"])
                self.assertEqual(max(reply.status, reply.connect_status), 403, reply)


class RedirectTest(unittest.TestCase):
    def test_redirects_point_into_dav(self):
        for key, status in [("REDIRECT_301_URL", 301), ("REDIRECT_302_URL", 302)]:
            for method in ["GET", "PROPFIND"]:
                with self.subTest(url=key, method=method):
                    reply = curl(ENV[key] + "small.txt", "-X", method)
                    self.assertEqual(reply.status, status, reply)
                    self.assertEqual(reply.headers["location"], ENV["DAV_URL"] + "small.txt")
            with self.subTest(url=key, follow=True):
                reply = curl(ENV[key] + "small.txt", "-L")
                self.assertEqual(reply.status, 200, reply)
                self.assertEqual(reply.body, b"Hello from the vodarezazuv test server.\n")


class UploadTest(unittest.TestCase):
    def test_put_sizes_reach_the_access_log_and_the_disk(self):
        folder = unique("upload")
        base = ENV["DAV_URL"] + folder + "/"
        self.assertEqual(curl(base, "-X", "MKCOL").status, 201)
        try:
            for size in [0, 1, 2, 70001]:
                with self.subTest(size=size):
                    name = f"file-{size}.bin"
                    reply = curl(base + name, "-X", "PUT", "-H", "Content-Type:",
                                 data=pattern(size))
                    self.assertEqual(reply.status, 201, reply)
                    path = f"/dav/{folder}/{name}"
                    line, = log_lines(ENV["APACHE_ACCESS_LOG"],
                                      lambda l: l.split(" ")[1:4] == ["PUT", f'"{path}"', "201"])
                    self.assertIn(f" length={size} ", line)
                    received = int(re.search(r" in=(\d+) ", line).group(1))
                    self.assertGreater(received, size)
                    on_disk = pathlib.Path(ENV["DAV_ROOT"], folder, name)
                    self.assertEqual(on_disk.read_bytes(), pattern(size))
                    if os.geteuid() == 0:
                        self.assertEqual(on_disk.owner(), "www-data")
        finally:
            self.assertEqual(curl(base, "-X", "DELETE").status, 204)


class ScriptedTest(unittest.TestCase):
    def url(self, exchange, label):
        return f"{ENV['SCRIPTED_URL']}{exchange}/{unique(label)}"

    def logged(self, url, count=1):
        path = urllib.parse.urlsplit(url).path
        lines = log_lines(ENV["SCRIPTED_LOG"], lambda l: json.loads(l)["path"] == path, count)
        return [json.loads(line) for line in lines]

    def test_replays_an_exchange_and_logs_the_request(self):
        url = self.url("hello", "hello")
        reply = curl(url, "-X", "PUT", "-H", "X-Test: yes", data=b"x" * 5000)
        self.assertEqual((reply.exit_code, reply.status), (0, 200), reply)
        self.assertEqual(reply.body, b"Hello from the scripted server.")
        self.assertEqual(reply.headers["x-exchange"], "hello")
        self.assertEqual(reply.headers["content-length"], "31")
        entry, = self.logged(url)
        self.assertEqual((entry["method"], entry["exchange"], entry["body_size"]),
                         ("PUT", "hello", 5000))
        self.assertIn(["X-Test", "yes"], entry["headers"])

    def test_cuts_a_body_after_n_bytes(self):
        reply = curl(self.url("cut", "cut"))
        self.assertEqual((reply.exit_code, reply.status), (18, 200), reply)  # partial file
        self.assertEqual(reply.headers["content-length"], "100000")
        self.assertEqual(reply.body, pattern(40000))

    def test_a_cut_download_resumes_with_a_range(self):
        url = self.url("resume", "resume")
        first = curl(url)
        self.assertEqual((first.exit_code, len(first.body)), (18, 300000), first)
        second = curl(url, "-H", f"Range: bytes={len(first.body)}-")
        self.assertEqual((second.exit_code, second.status), (0, 206), second)
        self.assertEqual(second.headers["content-range"], "bytes 300000-1048575/1048576")
        self.assertEqual(first.body + second.body, pattern(1048576))
        self.assertEqual([entry["reply"] for entry in self.logged(url, 2)], [1, 2])

    def test_ranges(self):
        size = 1048576
        cases = [  # Range header, status, Content-Range, first byte, length
            (None, 200, None, 0, size),
            ("bytes=0-9", 206, f"bytes 0-9/{size}", 0, 10),
            ("bytes=1000-", 206, f"bytes 1000-{size - 1}/{size}", 1000, size - 1000),
            (f"bytes={size - 1}-{size + 50}", 206, f"bytes {size - 1}-{size - 1}/{size}",
             size - 1, 1),
            (f"bytes={size}-", 416, f"bytes */{size}", 0, 0),
        ]
        for header, status, content_range, first, length in cases:
            with self.subTest(range=header):
                options = ["-H", f"Range: {header}"] if header else []
                reply = curl(self.url("range", "range"), *options)
                self.assertEqual((reply.exit_code, reply.status), (0, status), reply)
                self.assertEqual(reply.headers.get("content-range"), content_range)
                self.assertEqual(reply.headers["content-length"], str(length))
                self.assertEqual(reply.body, pattern(length, first))

    def test_statuses_and_failures(self):
        cases = [  # exchange, curl options, curl exit code, status
            ("status-412", ["-X", "COPY"], 0, 412),
            ("status-250", [], 0, 250),
            ("close", [], 52, 0),  # empty reply
            ("hang", ["--max-time", "1"], 28, 0),  # time-out
            ("no-such-exchange", [], 0, 404),
        ]
        for exchange, options, exit_code, status in cases:
            with self.subTest(exchange=exchange):
                reply = curl(self.url(exchange, exchange), *options)
                self.assertEqual((reply.exit_code, reply.status), (exit_code, status), reply)

    def test_slow_answers(self):
        started = time.monotonic()
        reply = curl(self.url("slow", "slow"))
        self.assertEqual(reply.body, b"slow")
        self.assertGreaterEqual(time.monotonic() - started, 1.5)
        reply = curl(self.url("trickle", "trickle"), "--max-time", "1")
        self.assertEqual(reply.exit_code, 28, reply)
        self.assertLess(len(reply.body), 200000)
        self.assertEqual(reply.body, pattern(len(reply.body)))

    def test_endless_redirection(self):
        url = self.url("loop", "loop")
        reply = curl(url, "-L", "--max-redirs", "5")
        self.assertEqual(reply.exit_code, 47, reply)  # too many redirects
        entry, = self.logged(url)
        following = [json.loads(line) for line in log_lines(
            ENV["SCRIPTED_LOG"], lambda l: json.loads(l)["seq"] > entry["seq"], 5)]
        self.assertGreaterEqual(len({e["path"] for e in following if e["exchange"] == "loop"}), 5)

    def test_an_upload_refused_before_its_body(self):
        for exchange, status in [("reject-401-before-body", 401), ("reject-403-before-body", 403)]:
            with self.subTest(exchange=exchange):
                url = self.url(exchange, exchange)
                reply = curl(url, "-X", "PUT", "-H", "Expect: 100-continue",
                             data=b"y" * 100000)
                self.assertEqual(reply.status, status, reply)
                entry, = self.logged(url)
                self.assertEqual(entry["body_size"], 0)


if __name__ == "__main__":
    load_env()
    unittest.main(verbosity=2)
