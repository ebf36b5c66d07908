#!/usr/bin/env bash
# scripts/check_lookups.sh [ROOT]: fails, naming file and line, on a call of
# the system resolver outside the two files that wrap it, and on a call of
# those wrappers outside src/libs/netresolve.cpp. The resolver waits as
# long as its own settings say, with no way to stop it: only a lookup
# thread of netresolve, bounded by the network time-out while the main
# thread pumps events, may ask it (src/README.md, "Network waits").
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
source "$(dirname "$0")/one_caller.sh"
cd "$root"
status=0
one_caller check_lookups src/libs/netresolve.cpp \
    '\b(getaddrinfo(_a)?|gethostbyname[0-9]?(_r)?|gethostbyaddr(_r)?|getnameinfo|res_n?(query|search|send|querydomain))\b' \
    "look names up through LookUpIPv4 or LookUpHostTable (src/libs/network.h)" \
    "src/libs/socket.cpp@SocketGetHostByName,SocketGetHostByAddr|SocketGetHostByName and SocketGetHostByAddr, called by netresolve's threads only" ||
    status=1
one_caller check_lookups src/libs/netresolve.cpp '\bSocketGetHostBy(Name|Addr)\b' \
    "look names up through LookUpIPv4 or LookUpHostTable (src/libs/network.h)" \
    "src/libs/socket.h@SocketGetHostByName,SocketGetHostByAddr|their declarations" \
    "src/libs/socket.cpp@SocketGetHostByName,SocketGetHostByAddr|their definitions" || status=1
exit "$status"
