#!/usr/bin/env bash
# Builds everything, starts a local demo agent on loopback and then the console.
# The agent is stopped when the console closes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${JOBS:-$(nproc)}"

bin=build/release/bin
agent_pid=""
cleanup() { [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ -x "$bin/ovagent" ]; then
    "$bin/ovagent" --demo &
    agent_pid=$!
fi

if [ ! -x "$bin/Ferrik" ]; then
    echo "run: the console is not built yet; the libraries and tests are in build/release" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display. Start it from a desktop session, or under Xvfb:" >&2
    echo "     xvfb-run -a scripts/run.sh" >&2
    exit 1
fi
"$bin/Ferrik"
