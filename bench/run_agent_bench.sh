#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Runs the agent load benchmark and, for a well-known peer in the same run, wrk against nginx
# serving a 200-byte file on loopback with 1 and 8 connections. nginx runs from a temporary
# directory on a spare loopback port, never as the system service.
# Usage: bench/run_agent_bench.sh [build dir, default build/release] [extra bench_agent arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true

dir=$(mktemp -d /tmp/agent-bench-XXXXXX)
trap 'if [ -f "$dir/nginx.pid" ]; then kill "$(cat "$dir/nginx.pid")" 2>/dev/null || true; fi; rm -rf "$dir"' EXIT
mkdir -p "$dir/www" "$dir/logs"
head -c 200 /dev/zero | tr '\0' 'x' > "$dir/www/reply.txt"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$dir/nginx.conf" <<CONF
worker_processes 2;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $dir/body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    keepalive_requests 100000000;
    server {
        listen 127.0.0.1:$port;
        root $dir/www;
    }
}
CONF
nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log"
sleep 0.5
echo "=== nginx (200-byte file) with wrk, 5 s each"
for c in 1 8; do
    t=$([ "$c" = 1 ] && echo 1 || echo 2)
    echo "--- $c connection(s)"
    wrk -t"$t" -c"$c" -d5s --latency "http://127.0.0.1:$port/reply.txt" | grep -E "Requests/sec|50%|99%"
done
echo "=== bench_agent"
"$build/bin/bench_agent" "$@"
