#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Fault run: kill -9 the agent while a client creates environments, restart it on the same state
# directory, and check that every create the agent acknowledged (a createResult reached the
# client) is still there, and that the state file always loads. Loopback only; bounded rounds.
# Usage: bench/fault_kill_restart.sh [build dir, default build/release] [rounds, default 11]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${2:-11}
agent=$build/bin/ovagent
send=$build/bin/ovlsend

dir=$(mktemp -d /tmp/agent-fault-XXXXXX)
pid=""
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
printf 'fault-run\n' > "$dir/pw"
hash=$("$agent" hash-password --iterations 1000 < "$dir/pw")
cat > "$dir/agent.xml" <<CONF
<ovagent>
  <listen>
    <tcp enabled="true" address="127.0.0.1" port="0"/>
    <tls enabled="false"/>
    <unix enabled="false"/>
  </listen>
  <users><user login="fault" domain="" password="$hash"/></users>
</ovagent>
CONF

start_agent() {
    rm -f "$dir/ports"
    "$agent" --config "$dir/agent.xml" --state-dir "$dir/state" --ports-file "$dir/ports" &
    pid=$!
    for _ in $(seq 100); do [ -s "$dir/ports" ] && break; sleep 0.05; done
    [ -s "$dir/ports" ] || { echo "agent did not start" >&2; exit 1; }
    port=$(awk '$1 == "tcp" { print $3 }' "$dir/ports")
}

send_packets() {
    "$send" -H "127.0.0.1:$port" -l fault --password-file "$dir/pw" --timeout 5000 "$@"
}

acknowledged=0
for round in $(seq "$rounds"); do
    start_agent
    # 400 creates in one input; the agent is killed while they are being stored.
    : > "$dir/creates.xml"
    for i in $(seq 400); do
        printf '<packet><target>environments</target><data><environments><create><name>r%d-%d</name><config><type>fault</type></config></create></environments></data></packet>\0' \
            "$round" "$i" >> "$dir/creates.xml"
    done
    send_packets "$dir/creates.xml" > "$dir/replies.txt" 2>/dev/null &
    client=$!
    sleep "0.$((RANDOM % 6 + 2))"
    kill -9 "$pid"
    wait "$pid" 2>/dev/null || true
    wait "$client" 2>/dev/null || true
    grep -o "<ns[0-9]*:name>r$round-[0-9]*</ns[0-9]*:name>" "$dir/replies.txt" |
        sed 's/<[^>]*>//g' >> "$dir/acked.txt" || true

    start_agent
    printf '<packet><target>environments</target><data><environments><list/></environments></data></packet>' > "$dir/list.xml"
    send_packets "$dir/list.xml" | grep -o "<ns[0-9]*:name>r[0-9]*-[0-9]*</ns[0-9]*:name>" |
        sed 's/<[^>]*>//g' | sort -u > "$dir/stored.txt"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""
    lost=$(sort -u "$dir/acked.txt" | comm -23 - "$dir/stored.txt" | wc -l)
    now=$(sort -u "$dir/acked.txt" | wc -l)
    echo "round $round: acknowledged $((now - acknowledged)) (total $now), stored $(wc -l < "$dir/stored.txt"), lost $lost"
    acknowledged=$now
    [ "$lost" -eq 0 ] || { echo "FAIL: acknowledged creates lost" >&2; exit 1; }
done
leftovers=$(find "$dir/state" -name 'state.xml.tmp*' | wc -l)
echo "done: $rounds kill -9 restarts, $acknowledged acknowledged creates, none lost; temporaries left: $leftovers"
