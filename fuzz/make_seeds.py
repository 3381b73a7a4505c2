#!/usr/bin/env python3
"""Writes the seeds of the targets whose inputs are texts the tests already
name (message HTML, offered file names, share URLs, service answers). The
seeds of the wire, HTTP and RTSP targets come from captured traffic
(capture_seeds.sh). Usage: fuzz/make_seeds.py [corpus dir]"""
import base64, hashlib, os, subprocess, sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")


def write(target, blobs):
    d = os.path.join(root, target)
    os.makedirs(d, exist_ok=True)
    for blob in blobs:
        name = hashlib.sha1(blob).hexdigest()
        with open(os.path.join(d, name), "wb") as f:
            f.write(blob)


def utf8(prefix, texts):
    return [bytes([prefix]) + t.encode("utf-8") for t in texts]


def utf16(texts):
    return [b"\x01" + t.encode("utf-16-le", "surrogatepass") for t in texts]


# Message texts as the input box writes them, and the hostile ones the tests try.
messages = [
    "hello",
    "a&nbsp;b<br/>second line",
    "<img src=\":/image/face/emoji_05.png\"/>",
    "x<br><br /><img src=\":/image/face/emoji_20.png\" />",
    "<img src=\":/image/face/emoji_21.png\"/><img src=\"qrc:/image/face/emoji_01.png\"/>",
    "<img src=\"/etc/passwd\"/><img src=\"file:///tmp/fifo\"/><img src=\"data:image/png;base64,AAAA\"/>",
    "<a href = \"http://example.org/x?a=1&amp;b=2\">http://example.org/x?a=1&amp;b=2</a>&nbsp;",
    "<a href = \"www.example.com\">www.example.com</a><a href = \"HTTPS://E.ORG\">e</a>",
    "&lt;tag&gt;&amp;&quot;&#39;&#x4E2D;&#128512;&#0;&#xD800;&#1114112;&bogus;&",
    "<style>@import url(file:///etc/passwd);</style>x",
    "<p style=\"background-image:url(/etc/passwd)\">x</p>",
    "<link rel=\"stylesheet\" href=\"/etc/passwd\"><table background=\"/etc/passwd\"><tr><td>x</td></tr></table>",
    "<a href = \"javascript:alert(1)\">javascript:alert(1)</a>",
    "<a href = \"file:///etc/passwd\">file:///etc/passwd</a>",
    "<a name=\"x\">x</a></a>stray",
    "<!-- comment --><script>alert(1)</script>",
    "<b>bold</b><i>it</i><h1>head</h1><font color=red>r</font>",
    "<a href = \"http://a.org\"><a href = \"http://b.org\">x</a></a>",
    "<a href = \"http://a.org/\"><b>\">x</a>",
    "<a href = \"www.ab&nbsp;cd\">www.ab&nbsp;cd</a>",
    "<a href = \"www.a b\">www.a b</a> tail",
    "<div style=\"x\"><a href = \"http://a\"><img src=\":/image/face/emoji_00.png\"/></a></div>",
    "\u4e2d\u6587\u6d88\u606f<br/>\u8868\u60c5<img src=\":/image/face/emoji_12.png\"/>",
    "tab\there\r\nline\x01\x7f\u0085",
    "<img src=\":/image/face/emoji_03.png\"/>" * 40,
    "<a href=\"http://x\"\n>x</a\t>",
    "<IMG SRC=\":/image/face/emoji_07.png\"><BR/><A HREF = \"Http://X.org\">X</A>",
]
write("message_html_fuzzer", utf8(0, messages) + utf16(["\ud800x<br/>", "a\udc00<a href = \"www.x\">", "\U0001F600 ok"]))

# File names offered by peers.
names = [
    "report.pdf", "photo 2023.jpg", "../../.config/autostart/x.desktop", "/etc/passwd",
    "a/b\\c", "..\\..\\evil.exe", ".", "..", "...", "", " ", ".hidden", "  spaced  .txt",
    "\u6587\u4ef6.docx", "exe\u202etxt.exe", "x\u200fy\u2066z.zip", "tab\tname\n.txt",
    "a" * 300 + ".tar.gz", "\u4e2d" * 100 + ".txt", "b" * 250, "name." + "c" * 40,
    "\U0001F600" * 60 + ".png", "dir/", "dir//", "C:\\Users\\x\\file.txt", "\x00nul.txt",
    "con", "\u0085\u009fc1.bin", ". . .", "./.", "a.b.c.d",
]
write("file_name_fuzzer", utf8(0, names) + utf16(["\ud83d.txt", "ok\udfff", "\U0001F4C4 doc.txt"]))


def share(host, url):
    h = host.encode()
    return bytes([len(h)]) + h + url.encode()


shares = [
    share("198.18.0.1", "rtsp://198.18.0.1:8554/screen"),
    share("198.18.0.1", "rtsp://198.18.0.1/screen"),
    share("198.18.0.2", "rtsp://198.18.0.1:8554/screen"),
    share("host-a.lan", "rtsp://HOST-A.lan:554/live/0"),
    share("::1", "rtsp://[::1]:8554/screen"),
    share("fe80::1", "rtsp://[fe80::1]/x"),
    share("198.18.0.1", "rtsp://user:pw@198.18.0.1:8554/screen"),
    share("198.18.0.1", "rtsp://198.18.0.1@evil:8554/screen"),
    share("198.18.0.1", "rtsp://198.18.0.1:0/screen"),
    share("198.18.0.1", "rtsp://198.18.0.1:65536/screen"),
    share("198.18.0.1", "rtsp://198.18.0.1:/screen"),
    share("198.18.0.1", "rtsp://198.18.0.1:8554"),
    share("198.18.0.1", "http://198.18.0.1:8554/screen"),
    share("198.18.0.1", "rtsp://198.18.0.1:8554/scr een"),
    share("198.18.0.1", "rtsp://198.18.0.1:8554/a\\b"),
    share("198.18.0.1", "rtsp://198.18.0.1:8554/a\x01"),
    share("198.18.0.1", "rtsp://198.18.0.1:8554/" + "a" * 600),
    share("", "rtsp://198.18.0.1/x"),
    share("198.18.0.1", "rtsp://[198.18.0.1]/x"),
    share("198.18.0.1", "rtsp://198.18.0.1:08554/x?y#z"),
]
write("share_url_fuzzer", shares)

# Answers of the update service: status selector byte (below 0xf0 means 200), body.
key = b"QNfuzzKey0123456"


def encrypt(text):
    iv = bytes(range(16))
    out = subprocess.run(["openssl", "enc", "-aes-128-cbc", "-K", key.hex(), "-iv", iv.hex()],
                         input=text.encode(), capture_output=True, check=True).stdout
    return base64.b64encode(iv + out).decode()


answers = [
    (0, '{"errcode":0,"errmsg":"ok","result":"plain"}'),
    (0, '{"errcode":0,"errmsg":"ok","encrypt":1,"result":"%s"}' % encrypt('{"version":"1.2.0","url":"https://u/x.deb"}')),
    (0, '{"errcode":0,"encrypt":1,"result":"%s"}' % encrypt("")),
    (0, '{"errcode":0,"encrypt":1,"result":"bm90IGEgY2lwaGVy"}'),
    (0, '{"errcode":0,"encrypt":0,"result":"x"}'),
    (0, '{"errcode":1001,"errmsg":"sign error"}'),
    (0, '{"errcode":"0","result":"x"}'),
    (0, '{"errcode":0.0}'),
    (0, '{"errcode":-1}'),
    (0, '{"errcode":4294967296}'),
    (0, '{"errcode":0,"encrypt":true,"result":"x"}'),
    (0, '{"errcode":0,"result":{"a":1}}'),
    (0, '[0]'), (0, 'null'), (0, ''), (0, '{"errcode":0'), (0, '<html>502</html>'),
    (0, '{"errcode":0,"errcode":1}'),
    (0xf0, ''), (0xf1, 'curl: (6) could not resolve'), (0xf8, '{"errcode":0}'), (0xf9, 'Internal Server Error'),
    (0, '{"errcode":0,"encrypt":1,"result":"%s"}' % encrypt("x" * 100)),
    (0, '\ufeff{"errcode":0}  '),
    (0, '{"errcode":0 /* c */, "result":"a\\u0000b"}'),
]
write("update_answer_fuzzer", [bytes([s]) + b.encode() for s, b in answers])
