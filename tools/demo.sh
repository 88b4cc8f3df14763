#!/usr/bin/env bash
# The demo: a fresh database in a temporary directory, a simulated week of
# every kind of data written through the database process, what each level
# holds, charts, reads of the file while a process runs on it, the series
# as Prometheus metrics (OpenMetrics, and a Prometheus reading it), a recovery
# between two databases, the process's metrics, and a check of the file once
# the process has stopped.
set -euo pipefail
bin=${1:-build/Release}
out=${2:-build/demo}
ctl="$bin/tools/tsdbctl"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
db="$dir/demo.tsdb"
mkdir -p "$out"
say() { printf '\n== %s\n' "$*"; }

say "A new database"
"$ctl" init "$db" --size 256M

say "A simulated week: 24 continuous, 4 monotonic, 4 enum and 4 incident series"
"$ctl" load "$db" --type continuous --series 24 --days 7   # ids 0 to 23
"$ctl" load "$db" --type monotonic --series 4 --days 7     # ids 24 to 27
"$ctl" load "$db" --type enum --series 4 --days 7          # ids 28 to 31
"$ctl" load "$db" --type incident --series 4 --days 7      # ids 32 to 35

say "What is stored at each resolution"
"$ctl" describe "$db" 0
"$ctl" describe "$db" 28

say "The last hour of series 0, in six intervals"
"$ctl" get "$db" 0 --from -1h --points 6

say "The newest record of a series of each type"
"$ctl" last "$db" 0 24 28 32

say "Charts"
"$ctl" graph "$db" 0 --from -7d -o "$out/continuous.svg"
"$ctl" graph "$db" 28 --from -12h -o "$out/enum.svg"
"$ctl" graph "$db" 32 --from -7d -o "$out/incidents.svg"
"$ctl" graph "$db" 24 --from -1d --rate --hrule 0.05:threshold -o "$out/rate.svg"

say "Reading while the database process runs: a get and a chart of its last commit"
mkfifo "$dir/commands"
"$ctl" shell "$db" <"$dir/commands" >"$dir/shell.out" &
shell=$!
exec 3>"$dir/commands"
echo "last 0" >&3
for _ in $(seq 100); do grep -q '^OK' "$dir/shell.out" && break; sleep 0.1; done
grep -q '^OK' "$dir/shell.out" || { echo "the shell did not answer"; exit 1; }
"$ctl" get "$db" 0 --from -1h --points 6
"$ctl" graph "$db" 0 --from -1d -o "$out/live.svg"
echo "chart of the live database: $out/live.svg"
echo quit >&3
exec 3>&-
wait "$shell"

say "Beyond one node: series named, their history as OpenMetrics, and a Prometheus asking this node"
printf 'check,name\n0,cpu.load,host=demo,service=cpu\n24,net.bytes,host=demo,service=net\n' >"$db.labels"
"$ctl" list "$db" | head -3
"$ctl" export "$db" --format openmetrics --from -1h >"$out/last-hour.om"
grep -m 2 '^tsdb_avg{' "$out/last-hour.om"
promtool tsdb create-blocks-from openmetrics "$out/last-hour.om" "$dir/blocks" | tail -n 1
"$ctl" serve "$db" --listen 127.0.0.1:0 2>"$dir/serve.out" &
server=$!
prometheus_port=$((20000 + RANDOM % 20000))
mkdir "$dir/prometheus"
for _ in $(seq 100); do grep -q serving "$dir/serve.out" && break; sleep 0.1; done
served=$(grep -o 'http://[0-9.:]*' "$dir/serve.out")
printf 'remote_read:\n  - url: %s/api/v1/read\n    read_recent: true\n' "$served" \
    >"$dir/prometheus/prometheus.yml"
prometheus --config.file="$dir/prometheus/prometheus.yml" --storage.tsdb.path="$dir/prometheus" \
    --web.listen-address=127.0.0.1:$prometheus_port --log.level=error 2>/dev/null &
prometheus=$!
for _ in $(seq 300); do curl -sf "http://127.0.0.1:$prometheus_port/-/ready" >/dev/null && break; sleep 0.1; done
echo "Prometheus, reading through $served: max_over_time(tsdb_max{name=\"cpu.load\"}[1h])"
curl -s "http://127.0.0.1:$prometheus_port/api/v1/query" \
    --data-urlencode 'query=max_over_time(tsdb_max{name="cpu.load"}[1h])'
echo
curl -s "$served/metrics" | grep -E '^tsdb_serve_(requests|samples)'
kill "$prometheus" "$server"
wait "$prometheus" "$server" || true

say "Recovery: series 0 extracted and merged into a second database"
copy="$dir/copy.tsdb"
"$ctl" init "$copy" --size 16M
"$ctl" create "$copy" --type continuous --level 1m:1440 --level 5m:2016 --level 1h:8760
"$ctl" extract "$db" 0 -o "$dir/series0.patch"
"$ctl" merge "$copy" 0 "$dir/series0.patch"
original=$("$ctl" checksum "$db" 0)
restored=$("$ctl" checksum "$copy" 0)
echo "checksum in the original: $original"
echo "checksum in the copy:     $restored"
[ "$original" = "$restored" ] && echo "equal"

say "The whole database dumped as text and restored into a file of 8 KiB blocks"
moved="$dir/moved.tsdb"
"$ctl" dump "$db" >"$dir/dump.jsonl"
echo "dump: $(wc -l <"$dir/dump.jsonl") lines, $(du -h "$dir/dump.jsonl" | cut -f1)"
"$ctl" restore "$moved" "$dir/dump.jsonl" --block-size 8192 --size 256M
for id in 0 24 28 32; do
    [ "$("$ctl" checksum "$db" $id)" = "$("$ctl" checksum "$moved" $id)" ] &&
        echo "series $id: equal checksums"
done
"$ctl" diff "$db" 0 "$moved" 0

say "Series 1 moved to two days of minutes and a year of days, keeping its id"
"$ctl" resize "$db" 1 --level 1m:2880 --level 1d:365
"$ctl" describe "$db" 1

say "An RRDtool file made here, imported as a series with a level per archive"
rrd="$dir/load.rrd"
first=$(($(date +%s) / 600 * 600 - 6000))
rrdtool create "$rrd" --step 60 --start "$first" DS:load:GAUGE:120:U:U RRA:AVERAGE:0.5:1:60 \
    RRA:MIN:0.5:10:30 RRA:AVERAGE:0.5:10:30 RRA:MAX:0.5:10:30
rrdtool update "$rrd" $(for k in $(seq 1 99); do echo "$((first + 60 * k)):$((k % 17))"; done)
"$ctl" import "$db" "$rrd"
"$ctl" describe "$db" 36

say "One process serving several commands, then its metrics"
"$ctl" shell "$db" <<'COMMANDS'
get 5 --from -10m
oldest
metrics
COMMANDS

say "The file after the process stopped"
"$bin/tools/tsdb-inspect" check "$db"
