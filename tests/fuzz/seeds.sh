#!/bin/sh
# Fills <corpus>/<target>/ with seeds for each fuzz target: files of the fixture trees, plus a few
# texts that have no fixture (uevent messages, resolv.conf, settings, SMART answers).
# Usage: tests/fuzz/seeds.sh <corpus folder>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
fixtures="$here/../fixtures"
out=${1:?corpus folder}

seed() {  # seed <target> <file>...
    target=$1
    shift
    mkdir -p "$out/$target"
    for f in "$@"; do
        [ -f "$f" ] || continue
        # Named by content so reruns do not pile up copies.
        cp "$f" "$out/$target/seed-$(sha1sum <"$f" | cut -c1-16)"
    done
}
text() {  # text <target> <printf format>
    mkdir -p "$out/$1"
    tmp=$(mktemp)
    printf "$2" >"$tmp"
    seed "$1" "$tmp"
    rm -f "$tmp"
}

seed fuzz_procfs $(find "$fixtures" -path '*/proc/stat' -o -path '*/proc/loadavg' -o \
    -path '*/proc/cpuinfo' -o -path '*/proc/meminfo' -o -path '*/proc/vmstat')
seed fuzz_read $(find "$fixtures" -path '*/proc/loadavg' -o -name 'capacity' -o -name 'mm_stat' | head -20)
text fuzz_read '0x0300a1'
text fuzz_read ' 18446744073709551615 '
text fuzz_read '\377caf\303\251 \355\240\200 \360\237\230\200'
seed fuzz_sysfs $(find "$fixtures" -path '*/cpu/present' -o -path '*/cpu/online' -o -name mm_stat -o \
    -path '*power_supply/*/voltage_now' | head -30)
text fuzz_sysfs '0-3,6,8-9\n'
for ids in $(find "$fixtures" -name pci.ids); do
    tmp=$(mktemp)
    { printf '\200\206\000\000'; cat "$ids"; } >"$tmp"
    seed fuzz_pci_ids "$tmp"
    rm -f "$tmp"
done
text fuzz_resolv_conf '# generated\nsearch example.org\nnameserver 10.0.0.53\nnameserver   fe80::1%%eth0\noptions edns0\n'
text fuzz_resolv_conf 'nameserver 127.0.0.53\noptions edns0 trust-ad\n'
seed fuzz_mountinfo $(find "$fixtures" -path '*/proc/self/mountinfo')
[ -r /proc/self/mountinfo ] && seed fuzz_mountinfo /proc/self/mountinfo
text fuzz_uevent 'change@/devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0\000ACTION=change\000DEVPATH=/devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0\000SUBSYSTEM=power_supply\000POWER_SUPPLY_CAPACITY=74\000SEQNUM=4242\000'
text fuzz_uevent 'add@/devices/virtual/net/veth0\000ACTION=add\000SUBSYSTEM=net\000INTERFACE=veth0\000'
seed fuzz_desktop_entry $(find "$fixtures" -name '*.desktop')
seed fuzz_process_stat $(find "$fixtures" -path '*/proc/[0-9]*/stat' -o -path '*/proc/[0-9]*/statm' -o \
    -path '*/proc/[0-9]*/cgroup' | head -30)
seed fuzz_route $(find "$fixtures" -path '*/proc/net/route')
text fuzz_settings '{\n  "showsCPU": true,\n  "interval": 2.5,\n  "order": ["cpu", "memory"],\n  "name": "caf\303\251",\n  "nested": {"a": null, "b": -12}\n}\n'
text fuzz_settings '[1, 2]'
# SMART: descriptor-format sense with the ATA Status Return descriptor, then a passing RETURN STATUS.
text fuzz_smart '\162\001\000\035\000\000\000\016\011\014\000\000\000\000\000\000\000\117\000\302\000\120'
text fuzz_public_address 'IP: 192.0.2.7\n'
seed fuzz_prometheus_text "$fixtures/node-exporter.metrics"
text fuzz_prometheus_text 'm{a="x\\\\"y",b=""} 1.5e3 1700000000000\n'
text fuzz_formatter '%%d'
# History blocks: a minute of three samples, a day with one quarter.
text fuzz_history_block '\001\000\254\002\314\010\000\314\010\217\003'
text fuzz_history_block '\002\130\352\060\366\054\006'
for colour in '#1abc9c' 'E74C3C' '#fff' '0a0' '#' '#-12345' ' #abc'; do
    text fuzz_hex_colour "$colour"
done
