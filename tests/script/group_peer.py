#!/usr/bin/env python3
"""A native member of a multicast group on loopback, for the multicast tests.

echo GROUP PORTFILE: joins GROUP on 127.0.0.1 on a port of the system's choice, writes the port
  to PORTFILE, and answers every datagram with b"peer:" + the datagram, sent to the group at the
  sender's port.
send GROUP PORT TEXT: sends TEXT to GROUP:PORT from loopback every 100 ms until killed.
Nothing leaves loopback: IP_MULTICAST_IF is 127.0.0.1 and the TTL stays 1.
"""
import socket
import struct
import sys
import time

LOOPBACK = "127.0.0.1"


def group_socket():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(LOOPBACK))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    return s


def echo(group, port_file):
    s = group_socket()
    s.bind(("", 0))
    membership = struct.pack("4s4s", socket.inet_aton(group), socket.inet_aton(LOOPBACK))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
    own_port = s.getsockname()[1]
    with open(port_file, "w") as f:
        f.write(str(own_port))
    while True:
        data, (_, port) = s.recvfrom(65535)
        if port != own_port:  # not its own answer coming back
            s.sendto(b"peer:" + data, (group, port))


def send(group, port, text):
    s = group_socket()
    s.bind((LOOPBACK, 0))
    while True:
        s.sendto(text.encode(), (group, int(port)))
        time.sleep(0.1)


if __name__ == "__main__":
    {"echo": echo, "send": send}[sys.argv[1]](*sys.argv[2:])
