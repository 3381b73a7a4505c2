#!/usr/bin/python3
"""Drives a headless peer for `make demo`: greets the program when it appears,
answers each text, offers a small file and sets its business card.

Usage: demo_peer.py <qnchat-peer> <home dir> <file to offer>
Runs qnchat-peer itself (inside the caller's network namespace), writes its
commands to the peer's standard input and reads its JSON lines.
"""
import json
import subprocess
import sys
import threading
import time

peer_bin, home, offer = sys.argv[1:4]
peer = subprocess.Popen(
    [peer_bin, "--nick", "王小明", "--host", "demo-peer", "--uuid",
     "{0d3e1a2b-5c4f-4e6a-9b7c-1f2e3d4c5b6a}", "--home", home],
    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
lock = threading.Lock()


def send(command):
    with lock:
        peer.stdin.write(json.dumps(command, ensure_ascii=False) + "\n")
        peer.stdin.flush()


def greet(host, uuid):
    send({"command": "setcard", "nickName": "王小明", "section": "研发部",
          "position": "演示工程师", "telephone": "010-0000-0000",
          "email": "demo@example.invalid"})
    time.sleep(1.0)
    send({"command": "text", "hostName": host, "uuid": uuid,
          "text": "你好！我是演示用的同事小王。给我发条消息试试吧 🙂"})
    time.sleep(2.0)
    send({"command": "text", "hostName": host, "uuid": uuid,
          "text": "顺便发给你一个小文件："})
    send({"command": "sendfile", "hostName": host, "uuid": uuid, "path": offer})


greeted = set()
for line in peer.stdout:
    try:
        event = json.loads(line)
    except ValueError:
        continue
    kind = event.get("event")
    if kind == "OnPeerEntry":
        key = (event.get("hostName"), event.get("uuid"))
        if key not in greeted:
            greeted.add(key)
            print("demo peer: met %s, saying hello" % key[0], flush=True)
            threading.Thread(target=greet, args=key, daemon=True).start()
    elif kind == "OnRecvText":
        text = event.get("text", "")
        print("demo peer: got %r" % text, flush=True)
        send({"command": "text", "hostName": event.get("hostName"), "uuid": event.get("uuid"),
              "text": "收到：" + text})
    elif kind == "Stopped":
        break
