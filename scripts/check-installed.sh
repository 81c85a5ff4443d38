#!/usr/bin/env bash
# Installs the packages in build/debs with dpkg (as root) and checks the installed files: the
# agent's version and unit, the default configuration under the unit's user, the demo agent
# answering ovlsend on loopback, the console writing its settings in the user's configuration
# directory, and the consumer project building against /usr. Removes the packages at the end
# (--keep: leave them installed).
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
[ "${1:-}" = "--keep" ] && keep=1
if [ "$(id -u)" -ne 0 ]; then
    echo "check-installed: run as root (installs packages)" >&2
    exit 1
fi

version=$(dpkg-parsechangelog -S Version)
mapfile -t debs < <(ls build/debs/*.deb | grep -v -- '-dbgsym_')
packages=()
for deb in "${debs[@]}"; do packages+=("$(dpkg-deb -f "$deb" Package)"); done

# What is installed here already is someone's: this script would replace and then remove it.
for package in "${packages[@]}"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)" = installed ]; then
        echo "check-installed: $package is installed on this machine; remove it first (dpkg --purge)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
    rm -rf "$work" /run/ovagent
    if [ $keep -eq 0 ]; then
        dpkg --purge "${packages[@]}" >/dev/null || true
    fi
}
trap cleanup EXIT

passed=0
failed=0
# check WHAT COMMAND...: runs COMMAND in a subshell that stops at its first failing command.
check() {
    local what=$1 status
    shift
    set +e
    (
        set -e
        "$@"
    ) >"$work/out" 2>&1
    status=$?
    set -e
    if [ $status -eq 0 ]; then
        echo "ok: $what"
        passed=$((passed + 1))
    else
        echo "FAILED: $what"
        sed 's/^/    /' "$work/out"
        failed=$((failed + 1))
    fi
}

# Waits until FILE has content or PID has died.
wait_for() {
    local file=$1 pid=$2
    for _ in $(seq 200); do
        [ -s "$file" ] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

echo "=== installing ${packages[*]}"
dpkg -i "${debs[@]}"

agent_version() {
    /usr/bin/ovagent --version | grep -qx "ovagent $version (protocol [0-9]*)"
}
check "ovagent --version says $version" agent_version
check "the unit verifies" systemd-analyze verify /lib/systemd/system/ovagent.service
check "the unit is enabled" test -L /etc/systemd/system/multi-user.target.wants/ovagent.service
check "desktop entry" desktop-file-validate /usr/share/applications/org.ferrik.console.desktop
check "AppStream metadata" appstreamcli validate --no-net /usr/share/metainfo/org.ferrik.console.metainfo.xml
check "icons in hicolor" test -s /usr/share/icons/hicolor/48x48/apps/ferrik.png -a \
    -s /usr/share/icons/hicolor/scalable/apps/ferrik.svg
manpages() {
    for page in ferrik ovlsend ovagent; do man -w "$page"; done
}
check "manual pages" manpages
config_private() {
    [ "$(stat -c '%U:%G %a' /etc/ovagent/ovagent.xml)" = "root:ovagent 640" ]
}
check "the configuration is readable by the group ovagent only" config_private

# The service as its unit starts it: user ovagent, the state, runtime and log directories that
# systemd would make, the installed configuration.
service_agent() {
    install -d -o ovagent -g ovagent -m 0700 "$work/state"
    install -d -o ovagent -g ovagent -m 0755 /run/ovagent
    install -d -o ovagent -g ovagent -m 0750 /var/log/ovagent
    setpriv --reuid=ovagent --regid=ovagent --clear-groups --no-new-privs \
        /usr/bin/ovagent --config /etc/ovagent/ovagent.xml --state-dir "$work/state" \
        --ports-file "$work/state/ports" &
    local pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    wait_for "$work/state/ports" "$pid" || { echo "the agent did not start"; return 1; }
    cat "$work/state/ports"
    # Loopback only, and the socket where the unit's RuntimeDirectory is.
    if grep -v -e '^tcp 127\.0\.0\.1 ' -e '^tls 127\.0\.0\.1 ' -e '^unix /run/ovagent/ovagent\.sock$' \
        "$work/state/ports"; then
        echo "the default configuration listens beyond loopback"
        return 1
    fi
    # The certificate is generated on the first start, the key private to the service.
    [ "$(stat -c '%U %a' "$work/state/tls-key.pem")" = "ovagent 600" ]
    openssl x509 -in "$work/state/tls-cert.pem" -noout -subject
    # No account: the demo login is refused.
    local port
    port=$(awk '$1 == "tcp" {print $3}' "$work/state/ports")
    echo 5t6y7u >"$work/password"
    printf '<packet><target>system</target><data><system><echo><text>hi</text></echo></system></data></packet>' \
        >"$work/echo.xml"
    if ovlsend -H "127.0.0.1:$port" -l peadmin --password-file "$work/password" --timeout 5000 "$work/echo.xml"; then
        echo "the default configuration let the demo account in"
        return 1
    fi
    grep -q "started, state in" /var/log/ovagent/ovagent.log
    kill -TERM "$pid"
    wait "$pid"
}
check "the default configuration under the unit's user" service_agent

demo_agent() {
    mkdir -p "$work/demo"
    /usr/bin/ovagent --demo --state-dir "$work/demo" --ports-file "$work/demo/ports" &
    local pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    wait_for "$work/demo/ports" "$pid" || { echo "the demo agent did not start"; return 1; }
    local port
    port=$(awk '$1 == "tcp" {print $3}' "$work/demo/ports")
    echo 5t6y7u >"$work/password"
    ovlsend -H "127.0.0.1:$port" -l peadmin --password-file "$work/password" --timeout 10000 \
        "$work/echo.xml" | tee "$work/reply"
    grep -q '<ns2:text>hi</ns2:text>' "$work/reply"
    kill -TERM "$pid"
    wait "$pid"
}
check "the installed demo agent answers ovlsend on loopback" demo_agent

# The console as an unprivileged user, for whom /usr/bin is not writable.
console_settings() {
    install -d -o nobody -g nogroup "$work/home"
    cd "$work/home"
    setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env -i HOME="$work/home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen /usr/bin/Ferrik &
    local pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    # The configuration directory is made at start; SIGTERM then ends the console as closing does.
    for _ in $(seq 200); do
        [ -d "$work/home/.config/Ferrik" ] && break
        kill -0 "$pid" 2>/dev/null || { echo "the console did not start"; return 1; }
        sleep 0.05
    done
    sleep 0.5
    kill -TERM "$pid"
    wait "$pid"
    ls -l "$work/home/.config/Ferrik"
    [ "$(stat -c %U "$work/home/.config/Ferrik/ferrik.xml")" = nobody ]
    xmllint --noout "$work/home/.config/Ferrik/ferrik.xml"
    [ ! -e /usr/bin/ferrik.xml ]
}
check "the installed console writes its settings in the user's configuration directory" console_settings

check "a project builds against OVLCore in /usr" \
    cmake -DPREFIX=/usr -DWORK_DIR="$work/consumer" -P tests/install-consumer/run.cmake

echo "check-installed: $passed passed, $failed failed"
[ $failed -eq 0 ]
