"""A loopback emulator of the share service's server, for the tests and the demo.

    python3 tests/peers/share_service.py --appkey KEY [--state-file PATH]

Binds 127.0.0.1 on a free port, prints "PORT <n>" as its first line and serves until killed.
The SDK is given "http://127.0.0.1:<n>/" as its base URL ("baseURL" of "SocialSDK-config").
Paths that begin with a slash arrive as "//share/token/..."; both forms are accepted.

Protocol, as the SDK speaks it:
- Key: the first 16 characters of the uppercase MD5 hex of the AppKey, as ASCII bytes; AES-128
  in CBC mode with the fixed IV "Qa7.kx3/Wm-R2p9e"; the plain text is filled with zero bytes to
  the next multiple of 16 (a whole block when it is one already); Base64 with "=" padding.
- GET: the query is "ud_get=" and the cipher of "k=v&k=v..." (Base64 not percent-escaped).
- POST: a form body whose field "ud_post" holds the cipher of a JSON object; a multipart POST
  carries "ud_post" first and the picture as the file part "pic".
- Replies: the cipher of the JSON envelope {"st": <code>, "msg": <text>, "data": {...}}, as
  "text/plain; charset=utf-8". Codes of this server besides 200 and 510: 5001 a missing or bad
  parameter, 5002 a wrong "zizoz_secret", 5003 an unknown entity key, 5004 no such account.
- A request that cannot be deciphered, or whose plain text is not what its transport needs,
  gets HTTP 400 with a plain body; an unknown path 404; a wrong method 405.

Request kinds, by path (A the AppKey, which must be this server's): 0 comment/add/A/E,
1 like/update/A/E, 2 comment/get/A/E, 3 bar/get/A, 4 share/add/A/E, 5 share/multi_add/A/E,
6 comment/binding/A, 7 comment/unbinding/A, 8 share/auth_delete/A, 9 share/auth/A/E (the login
page), 10 user/profile/get/A/U, 11 share/userinfo/A/USID, 12 share/friends/A/USID,
13 share/follow/A/USID, 14 user/custom_account/A/U, 15 share/token/A, 16 GET share/keysecret/A,
17 share/validate_token/A, 18 app/oper/A, 19 POST share/keysecret/A, 20 link/add/A.

Replies worth knowing:
- 3: data {"cm","lk","pv","sn","sid","uid","fr","ek"}; the entity key of (AppKey, "dc") is made
  on the first request and kept; "pv" counts the requests; a request without "uid" gets the
  device's uid (by "deviceudid"), made on first sight or taken from the seeded "uid".
- 2: data {"comments": [{"uid","ct","lc","dt","username","icon"}...]}, newest first, only those
  older than "lct" unless it is "-1".
- 5: data {platform: {"st": 200, "msg": "ok"}} for each entry of "sns"; no "ct", "pic" or
  "furl" gives 510 with "st" 5007 per platform.
- 10: data {"accounts": {platform: {"username","icon","usid","profile_url"}}, "username",
  "default" (with a custom account), "loginaccount" {platform: account} (after kind 6)}.
- 12: data {usid: {"link_name","name","profile_image_url","pinyin"}}: the seeded friends of the
  platform, or two made-up ones.
- 16 and 19: data {platform: settings}; 19 needs "zizoz_secret" = the AppKey reversed and merges
  every pair that is not a base parameter into the settings.
- 17: data {platform: true or false}: whether the user holds an unexpired token for it.
- 20: data {"new": "<base>l/<n>" (which redirects to the URL), "url": <the url>}.
- 9: HTTP 302 to the platform's callback path on this host ("/sina2/main", "/qzone/main",
  "/tenc2/main", "/renr2/main", "/douban/main") with the query "ud_get=" and the cipher of
  "access_key=..&access_secret=..&uid=<usid>&usid=<usid>&expires_in=..&screen_name=..";
  the account is then stored for the user. The callback path itself answers a small page.
Beside the kinds: GET /avatar/... answers a one-pixel PNG, /profile/... a small page and
/l/<n> redirects to the URL of link <n>, so that no URL handed out leaves this host.

Every decoded request is printed as one line "REQ " + compact JSON {"kind": int or null,
"method", "path" (without query), "params" (GET: the deciphered pairs in order; POST: the
deciphered JSON object in order), "pic": {"filename","content_type","size","sha256"} or null,
"raw_query_order": [keys in order], "fields": [form field names in order], "error" (only when
the request was refused), "fault" (only when a queued failure answered it)}.

Control, plain JSON, never enciphered:
- GET /__emu/log: the records above, as an array. POST /__emu/log/clear empties it.
- POST /__emu/fail {"kind": k, "mode": m, ...}: the next reply of kind k fails (one shot each,
  queued in order). Modes: "http500"; "garbled" (Base64 that deciphers to no JSON); "array" (an
  enciphered JSON array); "slow" (waits "seconds", then answers normally); "reset" (the
  connection is dropped with RST); "empty" (200, no body); "missing_st" (an envelope without
  "st"); "huge" (64 MiB of garbage); "st" (the envelope {"st": <"st">, "msg": "error"}; with
  "platform_st" {platform: code, ...} its data holds {platform: {"st": code}} and "st"
  defaults to 510). Only "slow" lets the request change the state.
- POST /__emu/oauth {"no_uid": true, "expires_in": n or null, "page": true}: the next login
  callback lacks "uid" (and stores nothing), or carries that "expires_in" (null leaves it out).
  With "page" the next login request answers a login page instead of the redirect: HTML whose
  <h1> reads "Sign in to <platform>" and whose one link, "/oauth/approve/<ticket>", answers
  the 302 to the callback that the redirect would have given (once; then 404).
- GET /__emu/state returns the state; POST /__emu/state merges the given members into it (one
  level deep for objects), e.g. {"uid": "u1", "accounts": {"u1": {"sina": {"usid": "9",
  "username": "w", "expires_at": 0}}}, "friends": {"sina": {...}}}. An account may hold
  "usid", "username", "icon", "profile_url" (a leading "/" is made absolute on this host),
  "access_token", "expires_at" (seconds since 1970; absent: no expiry) and "valid" (false makes
  kind 17 report it invalid). POST /__emu/reset empties state, log, queued failures and login
  settings.
With --state-file the state is read from that JSON file at start and written after each change.
"""

import argparse
import base64
import collections
import hashlib
import http.server
import json
import os
import re
import socket
import socketserver
import struct
import threading
import time
import traceback
import urllib.parse
import zlib

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

IV = b"Qa7.kx3/Wm-R2p9e"

CALLBACK_PATHS = {"sina": "/sina2/main", "qzone": "/qzone/main", "tencent": "/tenc2/main",
                  "renren": "/renr2/main", "douban": "/douban/main"}

BASE_KEYS = {"mac", "deviceudid", "pcv", "en", "de", "os", "dt", "sdkv", "tp", "uid", "ek", "ak",
             "wid"}

ST_OK, ST_REFUSED, ST_BAD_PARAMETER, ST_BAD_SECRET, ST_NO_ENTITY, ST_NO_ACCOUNT = (
    200, 510, 5001, 5002, 5003, 5004)

FAIL_MODES = {"http500", "garbled", "array", "slow", "reset", "empty", "missing_st", "huge", "st"}


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


# One opaque grey pixel, for the avatar URLs of accounts, friends and comments.
AVATAR_PNG = (b"\x89PNG\r\n\x1a\n"
              + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0))
              + png_chunk(b"IDAT", zlib.compress(b"\x00\x80\x80\x80"))
              + png_chunk(b"IEND", b""))


class BadRequest(Exception):
    """A request this server cannot read; answered with HTTP 400."""


class ShareCipher:
    """The share service's payload cipher, keyed by an AppKey."""

    def __init__(self, appkey):
        self.key = hashlib.md5(appkey.encode("utf-8")).hexdigest().upper()[:16].encode("ascii")

    def encrypt(self, text):
        data = text.encode("utf-8")
        data += b"\0" * (16 - len(data) % 16)
        encryptor = Cipher(algorithms.AES(self.key), modes.CBC(IV)).encryptor()
        return base64.b64encode(encryptor.update(data) + encryptor.finalize()).decode("ascii")

    def decrypt(self, text):
        """The plain text of a Base64 cipher text, without the zero fill. Only canonical Base64
        (padded, no line breaks, zero trailing bits) is accepted, so that a sloppy encoder on
        the other side shows up here."""
        try:
            raw = base64.b64decode(text, validate=True)
        except ValueError as error:
            raise BadRequest("cipher text is not Base64: %s" % error)
        if base64.b64encode(raw).decode("ascii") != text:
            raise BadRequest("cipher text is not canonical Base64")
        if not raw or len(raw) % 16:
            raise BadRequest("cipher length %d is not a multiple of 16" % len(raw))
        decryptor = Cipher(algorithms.AES(self.key), modes.CBC(IV)).decryptor()
        plain = decryptor.update(raw) + decryptor.finalize()
        if not plain.endswith(b"\0"):
            raise BadRequest("plain text lacks its zero fill")
        try:
            return plain.rstrip(b"\0").decode("utf-8")
        except UnicodeDecodeError:
            raise BadRequest("plain text is not UTF-8")


def as_int(text):
    """The integer a decimal text holds, or None."""
    try:
        return int(text)
    except (TypeError, ValueError):
        return None


def parse_pairs(text):
    """"k=v&k=v" as an ordered list of pairs; the values are taken as they stand."""
    pairs = []
    for piece in text.split("&"):
        if piece:
            key, _, value = piece.partition("=")
            pairs.append((key, value))
    return pairs


def parse_multipart(body, content_type):
    """The parts of a multipart/form-data body: [(name, filename or None, content type, data)]."""
    match = re.search(r'boundary="?([^";]+)"?', content_type)
    if not match:
        raise BadRequest("multipart body without boundary")
    delimiter = b"--" + match.group(1).encode("ascii")
    pieces = body.split(delimiter)
    if len(pieces) < 3 or not pieces[-1].startswith(b"--"):
        raise BadRequest("multipart body without its closing boundary")
    parts = []
    for piece in pieces[1:-1]:
        if not piece.startswith(b"\r\n") or not piece.endswith(b"\r\n"):
            raise BadRequest("multipart part not framed by CRLF")
        head, separator, data = piece[2:-2].partition(b"\r\n\r\n")
        if not separator:
            raise BadRequest("multipart part without headers")
        headers = {}
        for line in head.decode("utf-8").split("\r\n"):
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        disposition = headers.get("content-disposition", "")
        name = re.search(r'\bname="([^"]*)"', disposition)
        filename = re.search(r'\bfilename="([^"]*)"', disposition)
        if not name:
            raise BadRequest("multipart part without a name")
        parts.append((name.group(1), filename.group(1) if filename else None,
                      headers.get("content-type"), data))
    return parts


# (kind, method, leading path segments, names of the segments that follow)
ROUTES = [
    (0, "POST", ("comment", "add"), ("appkey", "ek")),
    (1, "POST", ("like", "update"), ("appkey", "ek")),
    (2, "GET", ("comment", "get"), ("appkey", "ek")),
    (3, "GET", ("bar", "get"), ("appkey",)),
    (4, "POST", ("share", "add"), ("appkey", "ek")),
    (5, "POST", ("share", "multi_add"), ("appkey", "ek")),
    (6, "POST", ("comment", "binding"), ("appkey",)),
    (7, "POST", ("comment", "unbinding"), ("appkey",)),
    (8, "POST", ("share", "auth_delete"), ("appkey",)),
    (9, "GET", ("share", "auth"), ("appkey", "ek")),
    (10, "GET", ("user", "profile", "get"), ("appkey", "uid")),
    (11, "GET", ("share", "userinfo"), ("appkey", "usid")),
    (12, "GET", ("share", "friends"), ("appkey", "usid")),
    (13, "POST", ("share", "follow"), ("appkey", "usid")),
    (14, "POST", ("user", "custom_account"), ("appkey", "uid")),
    (15, "POST", ("share", "token"), ("appkey",)),
    (16, "GET", ("share", "keysecret"), ("appkey",)),
    (17, "GET", ("share", "validate_token"), ("appkey",)),
    (18, "POST", ("app", "oper"), ("appkey",)),
    (19, "POST", ("share", "keysecret"), ("appkey",)),
    (20, "POST", ("link", "add"), ("appkey",)),
]


def route(method, path):
    """(kind, path arguments) of a request; kind None for no route, and -1 for a route that
    exists only for the other method."""
    segments = [urllib.parse.unquote(segment) for segment in path.lstrip("/").split("/")]
    if segments and segments[-1] == "":
        segments.pop()  # the trailing slash
    other_method = False
    for kind, route_method, head, names in ROUTES:
        if tuple(segments[:len(head)]) == head and len(segments) == len(head) + len(names):
            if route_method == method:
                return kind, dict(zip(names, segments[len(head):]))
            other_method = True
    return (-1 if other_method else None), None


def empty_state():
    return {"seq": 0, "uid": None, "devices": {}, "entities": {}, "accounts": {}, "login": {},
            "custom": {}, "friends": {}, "follows": [], "appinfo": {}, "ops": {}, "links": {}}


class Store:
    """The server's state, kept in memory and, when given a file, on disk."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.RLock()
        self.data = empty_state()
        if path and os.path.exists(path):
            with open(path, encoding="utf-8") as stored:
                self.data.update(json.load(stored))

    def next_id(self, prefix):
        self.data["seq"] += 1
        return "%s%06d" % (prefix, self.data["seq"])

    def save(self):
        if self.path:
            temporary = self.path + ".tmp"
            with open(temporary, "w", encoding="utf-8") as stored:
                json.dump(self.data, stored, ensure_ascii=False, indent=1)
            os.replace(temporary, self.path)

    def seed(self, values):
        for key, value in values.items():
            if isinstance(value, dict) and isinstance(self.data.get(key), dict):
                self.data[key].update(value)
            else:
                self.data[key] = value

    def reset(self):
        self.data = empty_state()


def envelope(st=ST_OK, msg="ok", data=None):
    return {"st": st, "msg": msg, "data": {} if data is None else data}


class ShareService:
    """What each request kind does with the state. Every method takes the request and answers
    the reply envelope; the caller holds the store's lock."""

    def __init__(self, appkey, cipher, store):
        self.appkey = appkey
        self.cipher = cipher
        self.store = store
        self.oauth = {}
        self.tickets = {}  # login-page ticket -> the callback it approves

    @property
    def state(self):
        return self.store.data

    # Users and entities

    def device_uid(self, params, create):
        """The user of a request: its "uid", else the one the device was given."""
        uid = params.get("uid")
        device = params.get("deviceudid") or params.get("mac")
        if uid:
            if device:
                self.state["devices"][device] = uid
            return uid
        uid = self.state["devices"].get(device) if device else None
        if uid is None and create:
            uid = self.state["uid"] or self.store.next_id("uid")
            if device:
                self.state["devices"][device] = uid
        return uid

    def entity_by_key(self, ek):
        for entity in self.state["entities"].values():
            if entity["ek"] == ek:
                return entity
        return None

    def accounts_of(self, uid):
        return self.state["accounts"].setdefault(uid, {}) if uid else {}

    @staticmethod
    def absolute(base, url):
        return base + url.lstrip("/") if url and url.startswith("/") else url

    def account_view(self, base, account):
        return {"username": account.get("username", ""),
                "icon": self.absolute(base, account.get("icon", "")),
                "usid": account.get("usid", ""),
                "profile_url": self.absolute(base, account.get("profile_url", ""))}

    def store_account(self, uid, platform, fields):
        account = self.accounts_of(uid).setdefault(platform, {})
        account.update({key: value for key, value in fields.items() if value is not None})
        usid = account.get("usid", "")
        account.setdefault("username", "%s_user_%s" % (platform, usid))
        account.setdefault("icon", "/avatar/%s/%s.png" % (platform, usid))
        account.setdefault("profile_url", "/profile/%s/%s" % (platform, usid))
        if fields.get("expires_in") is not None:
            account["expires_at"] = time.time() + int(fields["expires_in"])
        return account

    @staticmethod
    def has_content(params):
        return bool(params.get("ct") or params.get("pic") or params.get("furl"))

    # Kinds

    def bar(self, request):  # 3
        params = request.params
        descriptor = params.get("dc")
        if not descriptor:
            return envelope(ST_BAD_PARAMETER, "dc missing")
        uid = self.device_uid(params, create=True)
        key = "%s|%s" % (self.appkey, descriptor)
        entity = self.state["entities"].get(key)
        if entity is None:
            entity = {"ek": self.store.next_id("ek"), "descriptor": descriptor, "pv": 0, "lk": 0,
                      "cm": 0, "sn": 0, "sid": self.store.next_id("sid"), "likes": [],
                      "comments": []}
            self.state["entities"][key] = entity
        if "name" in params:
            entity["title"] = params["name"]
        entity["pv"] += 1
        return envelope(data={"cm": entity["cm"], "lk": entity["lk"], "pv": entity["pv"],
                              "sn": entity["sn"], "sid": entity["sid"], "uid": uid,
                              "fr": 1 if uid in entity["likes"] else 0, "ek": entity["ek"]})

    def like(self, request):  # 1
        entity = self.entity_by_key(request.args["ek"])
        if entity is None:
            return envelope(ST_NO_ENTITY, "unknown entity key")
        uid = self.device_uid(request.params, create=True)
        wanted = request.params.get("st")
        if wanted not in ("0", "1"):
            return envelope(ST_BAD_PARAMETER, "st must be 0 or 1")
        if wanted == "1" and uid not in entity["likes"]:
            entity["likes"].append(uid)
            entity["lk"] += 1
        elif wanted == "0" and uid in entity["likes"]:
            entity["likes"].remove(uid)
            entity["lk"] = max(0, entity["lk"] - 1)
        return envelope(data={"lk": entity["lk"], "fr": 1 if uid in entity["likes"] else 0})

    def add_comment(self, request):  # 0
        entity = self.entity_by_key(request.args["ek"])
        if entity is None:
            return envelope(ST_NO_ENTITY, "unknown entity key")
        params = request.params
        if not params.get("ct"):
            return envelope(ST_BAD_PARAMETER, "ct missing")
        uid = self.device_uid(params, create=True)
        comment = {"uid": uid, "ct": params["ct"], "lc": params.get("lc"),
                   "dt": as_int(params.get("dt")) or int(time.time() * 1000),
                   "pic": request.pic["sha256"] if request.pic else None}
        entity["comments"].append(comment)
        entity["cm"] += 1
        return envelope(data={"cm": entity["cm"]})

    def comments(self, request):  # 2
        entity = self.entity_by_key(request.args["ek"])
        before = as_int(request.params.get("lct"))
        if before is None:
            return envelope(ST_BAD_PARAMETER, "lct missing")
        listed = sorted(entity["comments"] if entity else [], key=lambda c: -c["dt"])
        if before != -1:
            listed = [c for c in listed if c["dt"] < before]
        base = request.base
        return envelope(data={"comments": [
            {"uid": c["uid"], "ct": c["ct"], "lc": c.get("lc"), "dt": c["dt"],
             "username": self.state["custom"].get(c["uid"], {}).get("username", c["uid"]),
             "icon": base + "avatar/user/%s.png" % c["uid"]} for c in listed[:20]]})

    def share(self, request):  # 4
        params = request.params
        to = params.get("to")
        if not to:
            return envelope(ST_BAD_PARAMETER, "to missing")
        if not self.has_content(params):
            return envelope(ST_REFUSED, "empty content", {to: {"st": 5007, "msg": "empty"}})
        entity = self.entity_by_key(request.args["ek"])
        if entity:
            entity["sn"] += 1
        return envelope(data={to: {"st": ST_OK, "msg": "ok"}})

    def multi_share(self, request):  # 5
        params = request.params
        try:
            targets = json.loads(params.get("sns") or "null",
                                 object_pairs_hook=collections.OrderedDict)
        except ValueError:
            targets = None
        if not isinstance(targets, dict) or not targets:
            return envelope(ST_BAD_PARAMETER, "sns missing")
        if not self.has_content(params):
            return envelope(ST_REFUSED, "empty content",
                            {name: {"st": 5007, "msg": "empty"} for name in targets})
        entity = self.entity_by_key(request.args["ek"])
        if entity:
            entity["sn"] += len(targets)
        return envelope(data={name: {"st": ST_OK, "msg": "ok"} for name in targets})

    def bind(self, request):  # 6
        uid = self.device_uid(request.params, create=False)
        platform = request.params.get("sns")
        if platform not in self.accounts_of(uid):
            return envelope(ST_NO_ACCOUNT, "no account on %s" % platform)
        self.state["login"][uid] = platform
        return envelope()

    def unbind(self, request):  # 7
        self.state["login"].pop(self.device_uid(request.params, create=False) or "", None)
        return envelope()

    def unauthorise(self, request):  # 8
        uid = self.device_uid(request.params, create=False)
        platform = request.params.get("via")
        if self.accounts_of(uid).pop(platform, None) is None:
            return envelope(ST_NO_ACCOUNT, "no account on %s" % platform)
        if self.state["login"].get(uid) == platform:
            del self.state["login"][uid]
        return envelope()

    def profile(self, request):  # 10
        uid = request.args["uid"]
        base = request.base
        accounts = self.state["accounts"].get(uid, {})
        data = {"accounts": {name: self.account_view(base, account)
                             for name, account in accounts.items()}}
        custom = self.state["custom"].get(uid)
        data["username"] = custom["username"] if custom else "user_%s" % uid
        if custom:
            data["default"] = custom["username"]
        login = self.state["login"].get(uid)
        if login in accounts:
            data["loginaccount"] = {login: self.account_view(base, accounts[login])}
        return envelope(data=data)

    def user_info(self, request):  # 11
        uid = self.device_uid(request.params, create=False)
        platform = request.params.get("sns")
        account = self.accounts_of(uid).get(platform)
        if account is None or account.get("usid") != request.args["usid"]:
            return envelope(ST_NO_ACCOUNT, "no account on %s" % platform)
        return envelope(data=dict(self.account_view(request.base, account), platform=platform))

    def friends(self, request):  # 12
        platform = request.params.get("to")
        if not platform:
            return envelope(ST_BAD_PARAMETER, "to missing")
        friends = self.state["friends"].get(platform)
        if friends is None:
            avatar = request.base + "avatar/%s/%%s.png" % platform
            friends = {"1001": {"link_name": "alice_w", "name": "Alice W",
                                "profile_image_url": avatar % "1001", "pinyin": "alicew"},
                       "1002": {"link_name": "赵云", "name": "赵云",
                                "profile_image_url": avatar % "1002", "pinyin": "zhaoyun"}}
        return envelope(data=friends)

    def follow(self, request):  # 13
        params = request.params
        followed = [usid for usid in (params.get("fusid") or "").split(",") if usid]
        if not followed or not params.get("to"):
            return envelope(ST_BAD_PARAMETER, "fusid or to missing")
        self.state["follows"].append({"to": params["to"], "usid": request.args["usid"],
                                      "fusid": followed})
        return envelope(data={usid: ST_OK for usid in followed})

    def custom_account(self, request):  # 14
        params = request.params
        if not params.get("username"):
            return envelope(ST_BAD_PARAMETER, "username missing")
        uid = request.args["uid"]
        self.state["custom"][uid] = {key: params[key] for key in
                                     ("username", "usid", "gender", "birthday", "extend", "icon")
                                     if key in params}
        return envelope(data={"uid": uid, "username": params["username"]})

    def token(self, request):  # 15
        params = request.params
        platform, token = params.get("to"), params.get("access_token")
        if not platform or not token:
            return envelope(ST_BAD_PARAMETER, "to or access_token missing")
        if "expires_in" in params and as_int(params["expires_in"]) is None:
            return envelope(ST_BAD_PARAMETER, "expires_in is not a number")
        uid = self.device_uid(params, create=True)
        usid = params.get("usid") or params.get("openid") or ""
        fields = {key: params.get(key) for key in ("access_token", "openid", "refresh_token",
                                                   "app_id", "app_secret", "expires_in")}
        fields["usid"] = usid
        self.store_account(uid, platform, fields)
        return envelope(data={"uid": uid, "to": platform, "usid": usid})

    def app_info(self, request):  # 16
        return envelope(data=self.settings(request.base))

    def settings(self, base):
        info = {"sina": {"key": "emu-sina-key", "secret": "emu-sina-secret",
                         "redirect_url": base + "sina2/main"},
                "qzone": {"key": "emu-qzone-id", "secret": "emu-qzone-secret"},
                "tencent": {"key": "emu-tencent-key", "secret": "emu-tencent-secret"}}
        info.update(self.state["appinfo"])
        return info

    def post_app_info(self, request):  # 19
        params = request.params
        if params.get("zizoz_secret") != self.appkey[::-1]:
            return envelope(ST_BAD_SECRET, "zizoz_secret does not match")
        for key, value in params.items():
            if key not in BASE_KEYS and key != "zizoz_secret":
                self.state["appinfo"][key] = value
        return envelope(data=self.settings(request.base))

    def validate(self, request):  # 17
        uid = self.device_uid(request.params, create=False)
        accounts = self.accounts_of(uid)
        now = time.time()
        validity = {}
        for platform in (request.params.get("platforms") or "").split(","):
            if platform:
                account = accounts.get(platform)
                validity[platform] = bool(account and account.get("valid", True)
                                          and (account.get("expires_at") is None
                                               or account["expires_at"] > now))
        return envelope(data=validity)

    def operations(self, request):  # 18
        try:
            counts = json.loads(request.params.get("param") or "null")
            counts = {key: int(value) for key, value in counts.items()}
        except (ValueError, TypeError, AttributeError):
            return envelope(ST_BAD_PARAMETER, "param is not a JSON object of counts")
        for key, value in counts.items():
            self.state["ops"][key] = self.state["ops"].get(key, 0) + value
        return envelope()

    def link(self, request):  # 20
        url = request.params.get("url")
        if not url:
            return envelope(ST_BAD_PARAMETER, "url missing")
        name = self.store.next_id("")
        self.state["links"][name] = url
        return envelope(data={"new": request.base + "l/" + name, "url": url})

    def login_redirect(self, request):  # 9: the login page
        platform = request.params.get("via")
        if platform not in CALLBACK_PATHS:
            raise BadRequest("no login page for platform %r" % platform)
        control, self.oauth = self.oauth, {}
        uid = self.device_uid(request.params, create=True)
        account = self.accounts_of(uid).get(platform)
        usid = account["usid"] if account else self.store.next_id("")
        token = self.store.next_id("tok")
        expires_in = control.get("expires_in", 86400)
        pairs = [("access_key", token), ("access_secret", token[::-1])]
        if not control.get("no_uid"):
            pairs += [("uid", usid), ("usid", usid)]
            self.store_account(uid, platform, {"usid": usid, "access_token": token,
                                               "expires_in": expires_in})
        if expires_in is not None:
            pairs.append(("expires_in", str(expires_in)))
        pairs.append(("screen_name", "%s_user_%s" % (platform, usid)))
        query = "&".join("%s=%s" % pair for pair in pairs)
        location = request.base + CALLBACK_PATHS[platform].lstrip("/") + "?ud_get=" + \
            self.cipher.encrypt(query)
        if not control.get("page"):
            return location, None
        ticket = self.store.next_id("t")
        self.tickets[ticket] = location
        # A dark heading and one broad blue link under it, easy to find in a picture and to tap.
        page = ("<html><head><title>Sign in</title></head><body style=\"margin:0\">"
                "<h1 style=\"margin:0;font-size:32px;color:#202020\">Sign in to %s</h1>"
                "<a href=\"/oauth/approve/%s\" style=\"display:block;height:120px;"
                "margin-top:20px;background:#1a73e8;color:#ffffff\">Authorize</a>"
                "</body></html>" % (platform, ticket))
        return location, page

    HANDLERS = {0: add_comment, 1: like, 2: comments, 3: bar, 4: share, 5: multi_share, 6: bind,
                7: unbind, 8: unauthorise, 10: profile, 11: user_info, 12: friends, 13: follow,
                14: custom_account, 15: token, 16: app_info, 17: validate, 18: operations,
                19: post_app_info, 20: link}


class Request:
    def __init__(self, kind, args, params, pic, base):
        self.kind, self.args, self.params, self.pic, self.base = kind, args, params, pic, base


class Emulator:
    """Everything the handler threads share: the service, its log and the queued failures."""

    def __init__(self, appkey, state_file):
        self.cipher = ShareCipher(appkey)
        self.store = Store(state_file)
        self.service = ShareService(appkey, self.cipher, self.store)
        self.lock = threading.Lock()
        self.log = []
        self.failures = collections.defaultdict(collections.deque)

    def record(self, entry):
        line = "REQ " + json.dumps(entry, ensure_ascii=False, separators=(",", ":"))
        with self.lock:
            self.log.append(entry)
            print(line, flush=True)

    def next_failure(self, kind):
        with self.lock:
            queue = self.failures.get(kind)
            return queue.popleft() if queue else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes: without this, each reply's body waits for
    # the client's delayed acknowledgement of its headers (some 40 ms on every request).
    disable_nagle_algorithm = True
    emulator = None  # set by main

    def log_message(self, *args):
        pass

    # Transport

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0"))
        return self.rfile.read(length) if length else b""

    def reply(self, status, body=b"", content_type="text/plain; charset=utf-8", headers=()):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def reply_json(self, status, value):
        self.reply(status, json.dumps(value, ensure_ascii=False), "application/json")

    def reply_envelope(self, value):
        text = json.dumps(value, ensure_ascii=False, separators=(",", ":"))
        self.reply(200, self.emulator.cipher.encrypt(text))

    def reset_connection(self):
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True

    def reply_huge(self):
        chunk = bytes((i * 131 + 17) % 256 for i in range(1 << 16)) * 16
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(64 << 20))
        self.end_headers()
        try:
            for _ in range(64):
                self.wfile.write(chunk)
        except OSError:
            pass  # the client gave up reading, as it should
        self.close_connection = True

    @property
    def target(self):
        """The request target as it came, with a leading "//" that the base class folds."""
        words = self.requestline.split()
        return words[1] if len(words) == 3 else self.path

    @property
    def base(self):
        return "http://%s/" % (self.headers.get("Host") or "127.0.0.1:%d" %
                               self.server.server_address[1])

    # Dispatch

    def handle_any(self):
        try:
            path, _, query = self.target.partition("?")
            url = urllib.parse.SplitResult("", "", path, query, "")
            body = self.read_body() if self.command == "POST" else b""
            if url.path.startswith("/__emu/"):
                self.control(url.path, body)
            else:
                self.share_request(url, body)
        except (ConnectionError, BrokenPipeError):
            self.close_connection = True
        except Exception:
            traceback.print_exc()
            try:
                self.reply(500, "internal error")
            except OSError:
                self.close_connection = True

    do_GET = do_POST = do_PUT = do_DELETE = handle_any

    def control(self, path, body):
        emulator = self.emulator
        try:
            value = json.loads(body) if body else {}
        except ValueError:
            self.reply(400, "control body is not JSON")
            return
        if path == "/__emu/log" and self.command == "GET":
            with emulator.lock:
                self.reply_json(200, list(emulator.log))
        elif path == "/__emu/log/clear":
            with emulator.lock:
                emulator.log.clear()
            self.reply_json(200, {})
        elif path == "/__emu/fail":
            if not isinstance(value.get("kind"), int) or value.get("mode") not in FAIL_MODES:
                self.reply(400, "fail needs an integer kind and a known mode")
                return
            with emulator.lock:
                emulator.failures[value["kind"]].append(value)
            self.reply_json(200, {})
        elif path == "/__emu/oauth":
            with emulator.store.lock:
                emulator.service.oauth = dict(value)
            self.reply_json(200, {})
        elif path == "/__emu/state":
            with emulator.store.lock:
                if self.command == "POST":
                    emulator.store.seed(value)
                    emulator.store.save()
                self.reply_json(200, emulator.store.data)
        elif path == "/__emu/reset":
            with emulator.store.lock, emulator.lock:
                emulator.store.reset()
                emulator.store.save()
                emulator.service.oauth = {}
                emulator.service.tickets = {}
                emulator.log.clear()
                emulator.failures.clear()
            self.reply_json(200, {})
        else:
            self.reply(404, "no such control")

    def decode(self, url, body, entry):
        """The request's parameters (ordered) and picture, deciphered from its transport."""
        cipher = self.emulator.cipher
        if self.command == "GET":
            pairs = parse_pairs(url.query)
            if any(key == "ud_get" for key, _ in pairs):
                # Everything after "ud_get=" is the cipher: Base64 may hold "=" itself.
                text = urllib.parse.unquote(url.query.split("ud_get=", 1)[1])
                pairs = parse_pairs(cipher.decrypt(text))
            elif entry["kind"] is not None:
                raise BadRequest("query without ud_get")
            entry["raw_query_order"] = [key for key, _ in pairs]
            return collections.OrderedDict(pairs), None
        content_type = self.headers.get("Content-Type", "")
        if content_type.startswith("multipart/form-data"):
            parts = parse_multipart(body, content_type)
            fields = [(name, data.decode("utf-8")) for name, filename, _, data in parts
                      if filename is None]
            files = [(filename, kind, data) for name, filename, kind, data in parts
                     if name == "pic" and filename is not None]
            entry["fields"] = [part[0] for part in parts]
        elif content_type.startswith("application/x-www-form-urlencoded"):
            fields = urllib.parse.parse_qsl(body.decode("ascii"), keep_blank_values=True)
            files = []
            entry["fields"] = [name for name, _ in fields]
        else:
            raise BadRequest("POST body of type %r" % content_type)
        posted = [value for name, value in fields if name == "ud_post"]
        if len(posted) != 1:
            raise BadRequest("POST needs exactly one ud_post field")
        try:
            params = json.loads(cipher.decrypt(posted[0]),
                                object_pairs_hook=collections.OrderedDict)
        except ValueError:
            raise BadRequest("ud_post is not JSON")
        if not isinstance(params, dict):
            raise BadRequest("ud_post is not a JSON object")
        entry["raw_query_order"] = list(params)
        pic = None
        if files:
            filename, kind, data = files[0]
            pic = {"filename": filename, "content_type": kind, "size": len(data),
                   "sha256": hashlib.sha256(data).hexdigest()}
        return params, pic

    def share_request(self, url, body):
        emulator = self.emulator
        kind, args = route(self.command, url.path)
        entry = collections.OrderedDict([("kind", kind), ("method", self.command),
                                         ("path", url.path), ("params", {}), ("pic", None),
                                         ("raw_query_order", []), ("fields", [])])
        if kind == -1:
            entry["kind"], entry["error"] = None, "wrong method"
            emulator.record(entry)
            self.reply(405, "wrong method")
            return
        try:
            params, pic = self.decode(url, body, entry)
        except UnicodeDecodeError:
            error = BadRequest("form text is not UTF-8")
        except BadRequest as caught:
            error = caught
        else:
            error = None
        if error:
            entry["kind"], entry["error"] = None, str(error)
            emulator.record(entry)
            self.reply(400, str(error))
            return
        entry["params"], entry["pic"] = params, pic
        if kind is None:
            self.side_path(url, entry)
            return
        failure = emulator.next_failure(kind)
        if failure:
            entry["fault"] = failure["mode"]
        emulator.record(entry)
        if failure and failure["mode"] != "slow":
            self.fail(failure)
            return
        if failure:
            time.sleep(float(failure.get("seconds", 5)))
        request = Request(kind, args, params, pic, self.base)
        with emulator.store.lock:
            if args["appkey"] != emulator.service.appkey:
                reply = envelope(ST_BAD_PARAMETER, "unknown appkey")
            elif kind == 9:
                try:
                    location, page = emulator.service.login_redirect(request)
                except BadRequest as error:
                    self.reply(400, str(error))
                    return
                emulator.store.save()
                if page:
                    self.reply(200, page, "text/html; charset=utf-8")
                else:
                    self.reply(302, "moved", headers=[("Location", location)])
                return
            else:
                reply = ShareService.HANDLERS[kind](emulator.service, request)
            emulator.store.save()
        self.reply_envelope(reply)

    def side_path(self, url, entry):
        """Paths beside the share service's kinds: login callbacks, avatars, profiles, links."""
        path = url.path
        if path in CALLBACK_PATHS.values():
            self.emulator.record(entry)
            self.reply(200, "<html><body><p>Authorised.</p></body></html>",
                       "text/html; charset=utf-8")
        elif path.startswith("/oauth/approve/") and self.command == "GET":
            self.emulator.record(entry)
            with self.emulator.store.lock:
                location = self.emulator.service.tickets.pop(path[len("/oauth/approve/"):], None)
            if location:
                self.reply(302, "moved", headers=[("Location", location)])
            else:
                self.reply(404, "no such login ticket")
        elif path.startswith("/avatar/") and self.command == "GET":
            self.reply(200, AVATAR_PNG, "image/png")
        elif path.startswith("/profile/") and self.command == "GET":
            self.reply(200, "<html><body>%s</body></html>" % path, "text/html; charset=utf-8")
        elif path.startswith("/l/") and self.command == "GET":
            with self.emulator.store.lock:
                target = self.emulator.store.data["links"].get(path[3:])
            if target:
                self.reply(302, "moved", headers=[("Location", target)])
            else:
                self.reply(404, "no such link")
        else:
            entry["error"] = "no such path"
            self.emulator.record(entry)
            self.reply(404, "no such path")

    def fail(self, failure):
        mode = failure["mode"]
        cipher = self.emulator.cipher
        if mode == "http500":
            self.reply(500, "server error")
        elif mode == "garbled":
            self.reply(200, base64.b64encode(bytes(range(7, 55))).decode("ascii"))
        elif mode == "array":
            self.reply(200, cipher.encrypt('[{"st":200,"msg":"ok","data":{}}]'))
        elif mode == "reset":
            self.reset_connection()
        elif mode == "empty":
            self.reply(200, b"")
        elif mode == "missing_st":
            self.reply_envelope({"msg": "no status", "data": {}})
        elif mode == "huge":
            self.reply_huge()
        else:  # "st"
            platforms = failure.get("platform_st") or {}
            data = {name: {"st": st, "msg": "error"} for name, st in platforms.items()}
            self.reply_envelope(envelope(failure.get("st", ST_REFUSED if platforms else 500),
                                         "error", data))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        traceback.print_exc()


def main():
    parser = argparse.ArgumentParser(description="Loopback emulator of the share service.")
    parser.add_argument("--appkey", required=True)
    parser.add_argument("--state-file")
    options = parser.parse_args()
    Handler.emulator = Emulator(options.appkey, options.state_file)
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
