#!/usr/bin/env python3
"""A native member of a multicast group on loopback, for the multicast tests.

echo GROUP PORTFILE: joins GROUP on 127.0.0.1 on a port of the system's choice, writes the port
  to PORTFILE, and answers every datagram with b"peer:" + the datagram, sent to the group at the
  sender's port.
broadcast PORTFILE: listens on every address of its namespace on a port of the system's choice,
  writes the port to PORTFILE, and answers every datagram with b"peer:" + the datagram, sent to
  its sender (run in the private network's second namespace, reached by a directed broadcast).
send GROUP PORT TEXT: sends TEXT to GROUP:PORT from loopback every 100 ms until killed.
echo6 GROUP PORTFILE: as echo, for an IPv6 group: joins it on every interface and answers by the
  route the system chooses (one end of the private network's veth pair, which delivers to the
  other end in the same namespace).
Nothing leaves loopback: IP_MULTICAST_IF is 127.0.0.1 and the TTL stays 1; the IPv6 peer, with
hops 1, runs only in the tests' private network, which has no way out.
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


def echo6(group, port_file):
    s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_HOPS, 1)
    s.bind(("::", 0))
    for _, name in socket.if_nameindex():
        membership = socket.inet_pton(socket.AF_INET6, group) + struct.pack("@I", socket.if_nametoindex(name))
        try:
            s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_JOIN_GROUP, membership)
        except OSError:
            pass  # an interface without multicast
    own_port = s.getsockname()[1]
    with open(port_file, "w") as f:
        f.write(str(own_port))
    while True:
        data, sender = s.recvfrom(65535)
        if sender[1] != own_port:
            s.sendto(b"peer:" + data, (group, sender[1]))


def broadcast(port_file):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("", 0))
    with open(port_file, "w") as f:
        f.write(str(s.getsockname()[1]))
    while True:
        data, sender = s.recvfrom(65535)
        s.sendto(b"peer:" + data, sender)


def send(group, port, text):
    s = group_socket()
    s.bind((LOOPBACK, 0))
    while True:
        s.sendto(text.encode(), (group, int(port)))
        time.sleep(0.1)


if __name__ == "__main__":
    {"echo": echo, "echo6": echo6, "broadcast": broadcast, "send": send}[sys.argv[1]](*sys.argv[2:])
