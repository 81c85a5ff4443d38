#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Builds everything, starts a local demo agent on loopback and then the console, whose connect form
# reaches that agent with its defaults (host empty = localhost, TCP 4433, peadmin in the System
# realm). The agent is stopped when the console closes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${JOBS:-$(nproc)}"

bin=build/release/bin
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display. Everything is built; start it from a desktop session, or under a virtual X server:" >&2
    echo "     xvfb-run -a scripts/run.sh" >&2
    exit 1
fi

# The demo agent keeps its state apart from a real agent's, so both may run on one machine.
state_dir="${XDG_STATE_HOME:-$HOME/.local/state}/ferrik-demo-agent"
run_dir="$(mktemp -d)"
agent_pid=""
cleanup() {
    if [ -n "$agent_pid" ]; then
        kill "$agent_pid" 2>/dev/null || true
        wait "$agent_pid" 2>/dev/null || true
    fi
    rm -rf "$run_dir"
}
trap cleanup EXIT

mkdir -p "$state_dir"
"$bin/ovagent" --demo --state-dir "$state_dir" --ports-file "$run_dir/ports" &
agent_pid=$!
for _ in $(seq 100); do
    [ -s "$run_dir/ports" ] && break
    if ! kill -0 "$agent_pid" 2>/dev/null; then
        wait "$agent_pid" || true
        agent_pid=""
        echo "run: the demo agent did not start (is another agent listening on 127.0.0.1:4433?)" >&2
        echo "     its log: $state_dir/ovagent.log" >&2
        exit 1
    fi
    sleep 0.1
done
echo "run: demo agent listening:"
sed 's/^/     /' "$run_dir/ports"

"$bin/Ferrik"
