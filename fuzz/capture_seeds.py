#!/usr/bin/env python3
"""Captures real traffic of our own peers and servers in two private network
namespaces and writes seeds for the wire, HTTP, RTSP and RTP targets:
qnchat-peer A and B (198.18.203.1/.2) greet each other, exchange texts,
cards, a recall, a file offer (B downloads it, curl fetches it with ranges and
HEAD) and a screen share (A shares an Xvfb screen; B's player, ffmpeg, ffprobe
and gst-launch play it). A packet socket in B's namespace records every frame;
UDP datagrams and the bytes of each TCP direction are turned into inputs of the
targets' formats. The namespaces are removed on every way out. Root only.
Usage: fuzz/capture_seeds.py <qnchat-peer binary> [corpus dir]"""
import hashlib, json, os, select, shutil, socket, struct, subprocess, sys, tempfile, threading, time

peer_binary = os.path.abspath(sys.argv[1])
root = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
NS_A, NS_B = "qnfuzz-cap-a", "qnfuzz-cap-b"
ADDR_A, ADDR_B = "198.18.203.1", "198.18.203.2"
work = tempfile.mkdtemp(prefix="qnfuzz-cap-")


def sh(*args, check=True):
    return subprocess.run(list(args), check=check, capture_output=True, text=True)


def cleanup():
    for ns in (NS_A, NS_B):
        pids = sh("ip", "netns", "pids", ns, check=False).stdout.split()
        for pid in pids:
            try:
                os.kill(int(pid), 9)
            except OSError:
                pass
        sh("ip", "netns", "del", ns, check=False)


def setup():
    cleanup()
    for ns in (NS_A, NS_B):
        sh("ip", "netns", "add", ns)
        sh("ip", "-n", ns, "link", "set", "lo", "up")
    sh("ip", "link", "add", "eth0", "netns", NS_A, "type", "veth", "peer", "name", "eth0", "netns", NS_B)
    for ns, addr in ((NS_A, ADDR_A), (NS_B, ADDR_B)):
        sh("ip", "-n", ns, "addr", "add", addr + "/24", "dev", "eth0")
        sh("ip", "-n", ns, "link", "set", "eth0", "up")
        sh("ip", "-n", ns, "route", "add", "224.0.0.0/4", "dev", "eth0")


class Peer:
    def __init__(self, ns, nick, host, uuid, env=None):
        self.home = os.path.join(work, nick)
        os.makedirs(self.home)
        e = dict(os.environ)
        e.update(env or {})
        self.p = subprocess.Popen(["ip", "netns", "exec", ns, peer_binary, "--nick", nick, "--host", host,
                                   "--uuid", uuid, "--home", self.home], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=open(os.path.join(work, nick + ".log"), "w"),
                                  text=True, env=e)
        self.lines = []
        self.cv = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            try:
                v = json.loads(line)
            except ValueError:
                continue
            with self.cv:
                self.lines.append(v)
                self.cv.notify_all()

    def wait(self, pred, timeout=15):
        end = time.time() + timeout
        with self.cv:
            while True:
                for v in self.lines:
                    if pred(v):
                        return v
                left = end - time.time()
                if left <= 0:
                    return None
                self.cv.wait(left)

    def send(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()

    def quit(self):
        try:
            self.send("quit")
            self.p.wait(5)
        except Exception:
            self.p.kill()


def sniff(stop, frames):
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.ntohs(3))
    s.bind(("eth0", 0))
    while not stop.is_set():
        r, _, _ = select.select([s], [], [], 0.2)
        if r:
            frames.append(s.recv(65600))


def capture():
    setup()
    xvfb = subprocess.Popen(["Xvfb", ":177", "-screen", "0", "320x240x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pcap = os.path.join(work, "frames.bin")
    sniffer = subprocess.Popen(["ip", "netns", "exec", NS_B, sys.executable, os.path.abspath(__file__),
                                "--sniff", pcap])
    time.sleep(1)
    a = Peer(NS_A, "alice", "host-a", "uuid-a", {"DISPLAY": ":177"})
    b = Peer(NS_B, "bob", "host-b", "uuid-b")
    try:
        for p in (a, b):
            p.wait(lambda v: v.get("event") == "Started")
        a.wait(lambda v: v.get("event") == "OnPeerEntry")
        b.wait(lambda v: v.get("event") == "OnPeerEntry")
        a.send("text host-b uuid-b hello <b>bob</b> &amp; <img src=\":/image/face/emoji_05.png\"/>")
        b.send("text host-a uuid-a " + "\u4e2d\u6587 long text " * 300)
        a.send("card host-b uuid-b")
        b.send(json.dumps({"command": "setcard", "nickName": "Bob B", "section": "QA", "position": "tester",
                           "telephone": "123", "email": "b@example.org"}))
        a.send("ping host-b uuid-b")
        done = a.wait(lambda v: v.get("event") == "OnSendMessageCompleted")
        if done and "seq" in done:
            a.send("recall %d host-b uuid-b" % done["seq"])
        path = os.path.join(work, "offer.bin")
        with open(path, "wb") as f:
            f.write(os.urandom(100000))
        a.send("sendfile host-b uuid-b " + path)
        offer = b.wait(lambda v: v.get("event") == "OnRecvFileUrl")
        if offer:
            url = offer["url"]
            b.send("download %s %s" % (url, work))
            b.wait(lambda v: v.get("event") == "DownloadResult", 20)
            for extra in ([], ["-r", "0-99"], ["-r", "500-"], ["-I"], ["--http1.0"], ["-H", "Connection: close"],
                          ["-X", "POST", "-d", "x=1"], ["-H", "Range: bytes=1-2,5-6"]):
                subprocess.run(["ip", "netns", "exec", NS_B, "curl", "-s", "-o", "/dev/null", "-m", "5"] + extra +
                               [url], check=False)
            subprocess.run(["ip", "netns", "exec", NS_B, "curl", "-s", "-o", "/dev/null", "-m", "5",
                            url + "/../../etc/passwd"], check=False)
        a.send("share host-b uuid-b")
        share = b.wait(lambda v: v.get("event") == "OnRecvShareScreenUrl", 20)
        if share:
            url = share["url"]
            b.send("watch " + url)
            b.wait(lambda v: v.get("event") == "OnFrame", 15)
            b.send("unwatch")
            tools = [["ffprobe", "-v", "quiet", "-rtsp_transport", "tcp", url],
                     ["ffmpeg", "-v", "quiet", "-rtsp_transport", "tcp", "-i", url, "-frames:v", "5", "-f", "null", "-"],
                     ["ffmpeg", "-v", "quiet", "-rtsp_transport", "udp", "-i", url, "-frames:v", "5", "-f", "null", "-"],
                     ["gst-launch-1.0", "-q", "rtspsrc", "location=" + url, "protocols=tcp", "num-buffers=5", "!",
                      "fakesink"],
                     ["gst-launch-1.0", "-q", "rtspsrc", "location=" + url, "!", "fakesink", "num-buffers=5"]]
            for t in tools:
                subprocess.run(["ip", "netns", "exec", NS_B, "timeout", "8"] + t, check=False,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            a.send("closeshare")
        time.sleep(1)
    finally:
        a.quit()
        b.quit()
        sniffer.terminate()
        sniffer.wait()
        xvfb.terminate()
        cleanup()
    return pcap


def frames_from(pcap):
    with open(pcap, "rb") as f:
        data = f.read()
    at = 0
    while at + 4 <= len(data):
        (n,) = struct.unpack_from("<I", data, at)
        yield data[at + 4:at + 4 + n]
        at += 4 + n


def write(target, blobs, limit=40):
    d = os.path.join(root, target)
    os.makedirs(d, exist_ok=True)
    seen = set()
    for blob in blobs:
        name = hashlib.sha1(blob).hexdigest()
        if name in seen or not blob:
            continue
        seen.add(name)
        with open(os.path.join(d, name), "wb") as f:
            f.write(blob)
        if len(seen) >= limit:
            break
    print(target, len(seen))


def convert(pcap):
    udp = []
    streams = {}
    for fr in frames_from(pcap):
        if len(fr) < 34 or fr[12:14] != b"\x08\x00":
            continue
        ip = fr[14:]
        ihl = (ip[0] & 15) * 4
        total = struct.unpack_from(">H", ip, 2)[0]
        proto = ip[9]
        src, dst = socket.inet_ntoa(ip[12:16]), socket.inet_ntoa(ip[16:20])
        l4 = ip[ihl:total]
        if proto == 17 and len(l4) >= 8:
            sport, dport = struct.unpack_from(">HH", l4)
            udp.append((sport, dport, l4[8:]))
        elif proto == 6 and len(l4) >= 20:
            sport, dport, seq = struct.unpack_from(">HHI", l4)
            off = (l4[12] >> 4) * 4
            payload = l4[off:]
            if payload:
                key = (src, sport, dst, dport)
                s = streams.setdefault(key, {})
                s.setdefault(seq, payload)  # retransmissions once
    ordered = {}
    for key, parts in streams.items():
        ordered[key] = b"".join(parts[k] for k in sorted(parts))
    return udp, ordered


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--sniff":
        stop = threading.Event()
        frames = []
        import signal
        signal.signal(signal.SIGTERM, lambda *a: stop.set())
        sniff(stop, frames)
        with open(sys.argv[2], "wb") as f:
            for fr in frames:
                f.write(struct.pack("<I", len(fr)) + fr)
        return
    try:
        pcap = capture()
        udp, tcp = convert(pcap)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    # Sort the TCP streams by what the server port is.
    http = [b for (s, sp, d, dp), b in tcp.items() if b.startswith((b"GET ", b"HEAD ", b"POST "))]
    rtsp = [b for (s, sp, d, dp), b in tcp.items() if b[:8] in (b"OPTIONS ", b"DESCRIBE") or b" RTSP/1.0" in b[:200]
            and not b.startswith(b"RTSP/")]
    chat_tcp = [b for k, b in tcp.items() if b not in http and b not in rtsp and not b.startswith((b"RTSP/", b"HTTP/"))
                and not b.startswith(b"$")]
    chat_udp = [p for sp, dp, p in udp if len(p) > 20 and sp == dp]
    print("udp", len(udp), "chat udp", len(chat_udp), "tcp streams", len(tcp), "http", len(http), "rtsp", len(rtsp),
          "chat tcp", len(chat_tcp))
    # Wire messages: the payload after the 20-byte packet header (single-packet messages).
    write("chat_deserialize_fuzzer", [p[20:] for p in chat_udp if struct.unpack_from(">I", p, 8)[0] <= 1] +
          [b[20:] for b in chat_tcp])
    # Assembler: each real packet as a record of the sender's kind (payload <= 127 per record):
    # kind (length << 1 | 1), seq, counter, total, index, payload piece.
    recs = []
    for p in chat_udp + chat_tcp:
        body = p[20:]
        pieces = [body[i:i + 127] for i in range(0, len(body), 127)][:7]
        if not pieces:
            continue
        seq = p[3]
        rec = b""
        for i, piece in enumerate(pieces):
            rec += bytes([(len(piece) << 1) | 1, seq, 1, len(pieces), i]) + piece
        recs.append(rec)
        if len(p) <= 127:
            recs.append(bytes([len(p) << 1]) + p)  # as received, header included
    write("chat_packet_assembler_fuzzer", recs)
    # TCP framing: whole streams in reads of 1 + 37 * b bytes.
    def chunks(stream, b):
        out, at, n = b"", 0, 1 + 37 * b
        while at < len(stream):
            out += bytes([b]) + stream[at:at + n]
            at += n
        return out
    write("chat_recv_connection_fuzzer", [chunks(s, b) for s in chat_tcp for b in (255, 3)])
    # HTTP: header (body size, send buffer, answer) then pieces of up to 64 bytes.
    def pieces(stream, control):
        out, at, n = b"", 0, ((control & 0x3f) + 1) * (1, 4, 16, 64)[control >> 6]
        while at < len(stream):
            out += bytes([control]) + stream[at:at + n]
            at += n
        return out
    write("http_connection_fuzzer", [bytes([20, 4, 1]) + pieces(s, 0xff) for s in http] +
          [bytes([3, 0, 0]) + pieces(s, 0x07) for s in http])
    # RTSP: read size byte, then the client's stream; Transport headers alone.
    write("rtsp_reader_fuzzer", [bytes([255]) + s for s in rtsp] + [bytes([9]) + s for s in rtsp[:8]])
    transports = []
    for s in rtsp:
        for line in s.split(b"\r\n"):
            if line.lower().startswith(b"transport:"):
                transports.append(line.split(b":", 1)[1].strip())
    write("rtsp_transport_fuzzer", transports)
    # RTP: interleaved ($) or UDP RTP from the server, rebuilt into an Annex B picture per marker.
    nal = []
    rtp_packets = [p for sp, dp, p in udp if len(p) > 12 and p[0] >> 6 == 2]
    for key, b in tcp.items():
        if b.startswith(b"$") or b.startswith(b"RTSP/"):
            at = b.find(b"$")
            while 0 <= at and at + 4 <= len(b):
                n = struct.unpack_from(">H", b, at + 2)[0]
                if b[at + 1] % 2 == 0:
                    rtp_packets.append(b[at + 4:at + 4 + n])
                at = b.find(b"$", at + 4 + n) if b[at + 4 + n:at + 5 + n] != b"$" else at + 4 + n
    pictures, cur, frag = [], b"", b""
    for p in rtp_packets:
        if len(p) < 13:
            continue
        payload = p[12 + 4 * (p[0] & 15):]
        if not payload:
            continue
        t = payload[0] & 31
        if t == 28 and len(payload) > 2:
            if payload[1] & 0x80:
                frag = bytes([(payload[0] & 0xe0) | (payload[1] & 31)])
            frag += payload[2:]
            if payload[1] & 0x40:
                cur += b"\x00\x00\x00\x01" + frag
        elif t == 24:
            i = 1
            while i + 2 <= len(payload):
                n = struct.unpack_from(">H", payload, i)[0]
                cur += b"\x00\x00\x00\x01" + payload[i + 2:i + 2 + n]
                i += 2 + n
        elif t < 24:
            cur += b"\x00\x00\x00\x01" + payload
        if p[1] & 0x80 and cur:
            pictures.append(cur)
            cur = b""
    # A spread of sizes (the still screen makes many tiny pictures), none huge.
    unique = sorted(set(p for p in pictures if len(p) <= 30000), key=len)
    small = [unique[i * len(unique) // 24] for i in range(24)] if len(unique) > 24 else unique
    write("rtp_packetizer_fuzzer", [struct.pack(">H", mp) + pic for pic, mp in
                                    zip(small, [1200, 100, 3, 1400, 20, 2999] * 6)])


if __name__ == "__main__":
    main()
