"""Self-check of the share-service emulator: its cipher against known answers, a bar request
and its reply, a queued failure, and the login page's redirect to the platform callback."""

import base64
import hashlib
import http.client
import json
import os
import re
import subprocess
import sys
import threading
import unittest
import urllib.parse

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

APPKEY = "4e2b91c07d5a38f6a10c9e73"
HERE = os.path.dirname(os.path.abspath(__file__))


def aes(appkey):
    key = hashlib.md5(appkey.encode()).hexdigest().upper()[:16].encode()
    return Cipher(algorithms.AES(key), modes.CBC(b"Qa7.kx3/Wm-R2p9e"))


def encipher(text, appkey=APPKEY):
    data = text.encode()
    data += b"\0" * (16 - len(data) % 16)
    encryptor = aes(appkey).encryptor()
    return base64.b64encode(encryptor.update(data) + encryptor.finalize()).decode()


def decipher(text, appkey=APPKEY):
    decryptor = aes(appkey).decryptor()
    return (decryptor.update(base64.b64decode(text)) + decryptor.finalize()).rstrip(b"\0").decode()


class ShareServiceEmulatorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "share_service.py"), "--appkey", APPKEY],
            stdout=subprocess.PIPE, text=True)
        first = cls.process.stdout.readline().split()
        assert first[0] == "PORT", first
        cls.port = int(first[1])
        # Its request lines are not read here; drain them so that it never blocks on a full pipe.
        threading.Thread(target=cls.process.stdout.read, daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.process.kill()
        cls.process.wait(5)
        cls.process.stdout.close()

    def request(self, method, path, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
        try:
            connection.request(method, path, body, headers or {})
            response = connection.getresponse()
            return response.status, response.getheaders(), response.read()
        finally:
            connection.close()

    def control(self, path, value=None):
        status, _, body = self.request("POST" if value is not None else "GET", path,
                                       json.dumps(value) if value is not None else None)
        self.assertEqual(status, 200)
        return json.loads(body)

    def bar(self, query):
        return self.request("GET", "/bar/get/%s/?ud_get=%s" % (APPKEY, encipher(query)))

    def setUp(self):
        self.control("/__emu/reset", {})

    def test_cipher_matches_known_answers(self):
        # Worked out once with an independent AES tool for this AppKey.
        self.assertEqual(encipher("abc"), "uFDWU4tY1r0+O0bIH0nZVA==")
        self.assertEqual(encipher(""), "qPeEm+/P2nTn/UxJAg5IAw==")
        self.assertEqual(len(base64.b64decode(encipher("x" * 16))), 32)

    def test_bar_request_keeps_the_entity_and_counts_views(self):
        query = "deviceudid=d1&tp=0&ak=%s&ek=-1&sdkv=5.2&dc=RAZududeDefault&ni=1&opid=1" % APPKEY
        status, headers, body = self.bar(query)
        self.assertEqual(status, 200)
        reply = json.loads(decipher(body.decode()))
        self.assertEqual(reply["st"], 200)
        data = reply["data"]
        self.assertEqual((data["pv"], data["lk"], data["cm"], data["sn"], data["fr"]),
                         (1, 0, 0, 0, 0))
        self.assertTrue(data["ek"] and data["uid"] and data["sid"])

        again = json.loads(decipher(self.bar(query)[2].decode()))["data"]
        self.assertEqual((again["ek"], again["uid"], again["pv"]), (data["ek"], data["uid"], 2))

        log = self.control("/__emu/log")
        self.assertEqual(log[0]["kind"], 3)
        self.assertEqual(log[0]["raw_query_order"],
                         ["deviceudid", "tp", "ak", "ek", "sdkv", "dc", "ni", "opid"])

        # A multipart share with "ud_post" first and the picture after it.
        boundary = "Boundary+0123456789ABCDEF"
        post = encipher(json.dumps({"ak": APPKEY, "uid": data["uid"], "ct": "hi",
                                    "sns": json.dumps({"tencent": "7"})}))
        form = ("--%s\r\nContent-Disposition: form-data; name=\"ud_post\"\r\n\r\n%s\r\n"
                "--%s\r\nContent-Disposition: form-data; name=\"pic\"; filename=\"pic.jpg\"\r\n"
                "Content-Type: file-data\r\n\r\n" % (boundary, post, boundary)).encode()
        form += b"\xff\xd8jpeg\r\n--" + boundary.encode() + b"--\r\n"
        status, _, body = self.request(
            "POST", "/share/multi_add/%s/%s/" % (APPKEY, data["ek"]), form,
            {"Content-Type": "multipart/form-data; boundary=" + boundary})
        reply = json.loads(decipher(body.decode()))
        self.assertEqual((status, reply["st"], reply["data"]["tencent"]["st"]), (200, 200, 200))
        record = self.control("/__emu/log")[-1]
        self.assertEqual((record["kind"], record["fields"]), (5, ["ud_post", "pic"]))
        self.assertEqual((record["pic"]["filename"], record["pic"]["size"]), ("pic.jpg", 6))

        # A form POST on a path that begins with "/", so below the base URL it has two slashes.
        token = {"ak": APPKEY, "uid": data["uid"], "to": "qzone", "access_token": "t+/="}
        status, _, body = self.request(
            "POST", "//share/token/%s/" % APPKEY,
            urllib.parse.urlencode({"ud_post": encipher(json.dumps(token))}),
            {"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(json.loads(decipher(body.decode()))["st"], 200)
        record = self.control("/__emu/log")[-1]
        self.assertEqual((record["kind"], record["path"]), (15, "//share/token/%s/" % APPKEY))
        self.assertEqual(record["raw_query_order"], ["ak", "uid", "to", "access_token"])

    def test_queued_failures_answer_once_each(self):
        query = "deviceudid=d2&ak=%s&dc=x&opid=1" % APPKEY
        self.control("/__emu/fail", {"kind": 3, "mode": "http500"})
        self.control("/__emu/fail", {"kind": 3, "mode": "st", "platform_st": {"sina": 5027}})
        self.assertEqual(self.bar(query)[0], 500)
        reply = json.loads(decipher(self.bar(query)[2].decode()))
        self.assertEqual((reply["st"], reply["data"]["sina"]["st"]), (510, 5027))
        self.assertEqual(json.loads(decipher(self.bar(query)[2].decode()))["st"], 200)

        status, _, _ = self.request("GET", "/bar/get/%s/?ud_get=bm90IGEgY2lwaGVy" % APPKEY)
        self.assertEqual(status, 400)
        self.assertIn("error", self.control("/__emu/log")[-1])

    def test_login_page_redirects_to_the_callback_with_a_token(self):
        query = "deviceudid=d3&ak=%s&uid=u7&via=sina&opid=10" % APPKEY
        status, headers, _ = self.request(
            "GET", "/share/auth/%s/-1?ud_get=%s" % (APPKEY, encipher(query)))
        self.assertEqual(status, 302)
        location = urllib.parse.urlsplit(dict(headers)["Location"])
        self.assertEqual((location.netloc, location.path), ("127.0.0.1:%d" % self.port,
                                                            "/sina2/main"))
        self.assertTrue(location.query.startswith("ud_get="))
        pairs = dict(p.split("=") for p in decipher(location.query[len("ud_get="):]).split("&"))
        self.assertEqual(set(pairs), {"access_key", "access_secret", "uid", "usid", "expires_in",
                                      "screen_name"})

        profile = "deviceudid=d3&ak=%s&uid=u7" % APPKEY
        _, _, body = self.request(
            "GET", "/user/profile/get/%s/u7/?ud_get=%s" % (APPKEY, encipher(profile)))
        accounts = json.loads(decipher(body.decode()))["data"]["accounts"]
        self.assertEqual(accounts["sina"]["usid"], pairs["uid"])

    def test_login_page_links_to_the_redirect_once(self):
        self.control("/__emu/oauth", {"page": True})
        query = "deviceudid=d4&ak=%s&uid=u8&via=tencent&opid=10" % APPKEY
        status, _, body = self.request(
            "GET", "/share/auth/%s/-1?ud_get=%s" % (APPKEY, encipher(query)))
        self.assertEqual(status, 200)
        page = body.decode()
        self.assertRegex(page, r"<h1[^>]*>Sign in to tencent</h1>")
        link = re.search(r'href="([^"]+)"', page).group(1)
        status, headers, _ = self.request("GET", link)
        self.assertEqual(status, 302)
        self.assertEqual(urllib.parse.urlsplit(dict(headers)["Location"]).path, "/tenc2/main")
        self.assertEqual(self.request("GET", link)[0], 404)

        # The next login redirects at once again.
        status, _, _ = self.request(
            "GET", "/share/auth/%s/-1?ud_get=%s" % (APPKEY, encipher(query)))
        self.assertEqual(status, 302)


if __name__ == "__main__":
    unittest.main()
