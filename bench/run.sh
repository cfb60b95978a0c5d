#!/usr/bin/env bash
# Builds the benchmarks in release mode in their own build directory and prints their figures:
# host list load and save, the scan history (recording, comparison), search, usage and free space
# on 10,001 tree rows and 65,534 hosts, ICMP sweeps on loopback, and TCP sweeps with silent hosts
# inside a network namespace of its own (root only) against the one-after-the-other design;
# in the same namespace both ICMP engines side by side (ping per address, and fping): a /24 of
# silent hosts, a /20 and a /16 that answer (the /16 by ping only with SLOW=1: it takes ten minutes).
# The CSV figures on both engines: inventory export and import, host list preview, backup. Opening a hosts
# window on 250,000 hosts against VACUUM alone. Both engines side by side: the same figures on
# the file and on a PostgreSQL server started for the run (Debian's postgresql package), the
# idle CPU time of following others' changes on each, and the change log: its share of a host
# save, and its window on 1,000,000 entries.
# BUILD_DIR chooses the build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZARVIN_BUILD_TESTS=OFF -DZARVIN_BUILD_BENCHMARKS=ON > /dev/null
cmake --build "$build" -j2 --target bench_hosts bench_scan bench_history bench_plan bench_transfer bench_open bench_engines bench_watch bench_changes > /dev/null
export QT_QPA_PLATFORM=offscreen
hosts=$(realpath "$build/bench/bench_hosts")
scan=$(realpath "$build/bench/bench_scan")
history=$(realpath "$build/bench/bench_history")
plan=$(realpath "$build/bench/bench_plan")
transfer=$(realpath "$build/bench/bench_transfer")
open=$(realpath "$build/bench/bench_open")
engines=$(realpath "$build/bench/bench_engines")
watch=$(realpath "$build/bench/bench_watch")
changes=$(realpath "$build/bench/bench_changes")

echo "== Both engines: the file and a PostgreSQL server on a local socket"
"$engines" 2> /dev/null || echo "skipped: no PostgreSQL server (sudo apt-get install postgresql libqt5sql5-psql)"

echo "== Following others' changes while nothing changes, on both engines"
"$watch" 2> /dev/null || echo "skipped: no PostgreSQL server"

echo "== The change log on both engines: a save of 254 hosts with and without it, 1,000,000 entries"
"$changes" 2> /dev/null

echo "== Host list"
"$hosts" 2> /dev/null

echo "== Opening a window on a large file"
"$open" 2> /dev/null

echo "== Scan history"
"$history" 2> /dev/null

echo "== Search, usage and free space"
"$plan" 2> /dev/null

echo "== CSV and backup"
"$transfer"

echo "== ICMP on loopback"
"$scan" ping-one
"$scan" icmp 127.0.0.0/24
"$scan" icmp 127.0.0.0/20

echo "== TCP with silent hosts, and both ICMP engines side by side"
if [ "$(id -u)" -ne 0 ] || ! command -v ip > /dev/null || ! command -v iptables > /dev/null; then
    echo "skipped: the silent hosts need root, ip and iptables (a network namespace that drops SYNs):"
    echo "  sudo apt-get install iproute2 iptables, then run bench/run.sh as root"
    exit 0
fi
ns=zarvin-scan-bench-$$
trap 'ip netns del "$ns" 2> /dev/null || true' EXIT
ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
listeners=127.0.0.10,127.0.0.100,127.0.0.200
# Inside the namespace only: SYNs to anything but the three listeners are dropped, so those
# addresses stay silent instead of refusing.
for address in ${listeners//,/ }; do
    ip netns exec "$ns" iptables -A INPUT -p tcp --syn -d "$address" -j ACCEPT
done
ip netns exec "$ns" iptables -A INPUT -p tcp --syn -j DROP
# Echo requests into 127.0.0.0/24 go unanswered but to the same three; the rest of 127/8 answers.
for address in ${listeners//,/ }; do
    ip netns exec "$ns" iptables -A INPUT -p icmp --icmp-type echo-request -d "$address" -j ACCEPT
done
ip netns exec "$ns" iptables -A INPUT -p icmp --icmp-type echo-request -d 127.0.0.0/24 -j DROP
ip netns exec "$ns" "$scan" tcp 127.0.0.0/24 "$listeners" --sequential
ip netns exec "$ns" "$scan" tcp 127.0.0.0/16 "$listeners"
if command -v fping > /dev/null; then
    for subnet in 127.0.0.0/24 127.0.16.0/20 127.1.0.0/16; do
        if [ "$subnet" != 127.1.0.0/16 ] || [ -n "${SLOW:-}" ]; then
            ip netns exec "$ns" "$scan" icmp "$subnet"
        fi
        ip netns exec "$ns" "$scan" fping "$subnet"
    done
else
    echo "ICMP by fping skipped: sudo apt-get install fping"
fi
