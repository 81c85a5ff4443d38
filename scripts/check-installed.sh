#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Installs the packages in build/debs with dpkg (as root) and checks the installed files: the
# programs' versions, the unit, the guides in /usr/share/doc and the paths they name, the licence,
# the default configuration under the unit's user, a normal user reaching the service through its
# socket and over TLS (the files' modes, `ovagent fingerprint` against known_agents, a clean TLS
# close), the demo agent answering ovlsend on loopback, the console writing its settings in the
# user's configuration directory, and the consumer project building against /usr. Removes the
# packages at the end (--keep: leave them installed).
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
client_versions() {
    [ "$(/usr/bin/ovlsend --version)" = "ovlsend $version" ]
    # No display is needed for --version and --help.
    [ "$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/Ferrik --version)" = "Ferrik $version" ]
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/Ferrik --help | grep -q -- '--version'
}
check "ovlsend --version and Ferrik --version say $version" client_versions
# Documentation=man: is checked by running man, which a minimal system may lack: then the page's
# file is checked instead.
unit_verifies() {
    if command -v man >/dev/null; then
        systemd-analyze verify /lib/systemd/system/ovagent.service
    else
        systemd-analyze verify --man=no /lib/systemd/system/ovagent.service
        test -s /usr/share/man/man8/ovagent.8.gz
    fi
}
check "the unit verifies" unit_verifies
check "the unit is enabled" test -L /etc/systemd/system/multi-user.target.wants/ovagent.service
check "desktop entry" desktop-file-validate /usr/share/applications/org.ferrik.console.desktop
check "AppStream metadata" appstreamcli validate --no-net /usr/share/metainfo/org.ferrik.console.metainfo.xml
check "icons in hicolor" test -s /usr/share/icons/hicolor/48x48/apps/ferrik.png -a \
    -s /usr/share/icons/hicolor/scalable/apps/ferrik.svg
manpages() {
    if command -v man >/dev/null; then
        for page in ferrik ovlsend ovagent; do man -w "$page"; done
    else
        test -s /usr/share/man/man1/ferrik.1.gz -a -s /usr/share/man/man1/ovlsend.1.gz -a \
            -s /usr/share/man/man8/ovagent.8.gz
    fi
}
check "manual pages" manpages

# The guides are installed, and every /usr/share/doc path that --help or a manual page names exists.
guides() {
    local doc
    for doc in ovagent/agent.md ovagent/protocol.md ovlsend/client.md ovlsend/protocol.md \
        ferrik/console.md ferrik/images/reply-status.png; do
        test -s "/usr/share/doc/$doc" || { echo "/usr/share/doc/$doc is missing"; return 1; }
    done
    {
        /usr/bin/ovagent --help
        /usr/bin/ovlsend --help
        env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/Ferrik --help
        zcat /usr/share/man/man1/ferrik.1.gz /usr/share/man/man1/ovlsend.1.gz /usr/share/man/man8/ovagent.8.gz
        cat /lib/systemd/system/ovagent.service
    } | grep -o '/usr/share/doc/[A-Za-z0-9_./-]*' | sed 's/[.]$//' | sort -u >"$work/doc-paths"
    [ -s "$work/doc-paths" ]
    local path
    while read -r path; do
        test -e "$path" || { echo "named but not installed: $path"; return 1; }
    done <"$work/doc-paths"
}
check "the guides are installed where --help and the manual pages say" guides

# Every absolute path in agent.md's service section (as installed) is an installed file or
# directory, or is named by one of the ovagent package's files (the unit, the configuration,
# logrotate, the manual page): the runtime paths the service makes. Its logrotate block is the
# package's.
documented_paths() {
    local doc=/usr/share/doc/ovagent/agent.md path
    awk '/^## Running as a service/ {on = 1; next} /^## / {on = 0} on' "$doc" >"$work/service.md"
    [ -s "$work/service.md" ]
    mapfile -t owned < <(dpkg -L ovagent | while read -r f; do [ -f "$f" ] && echo "$f"; done)
    # Absolute paths only: after a blank, a backquote or a parenthesis (not "</user>", "~/.config").
    grep -oE '(^|[ `(])/[a-z][A-Za-z0-9_./-]*' "$work/service.md" | sed 's/^[ `(]//; s/[.,]$//' | sort -u \
        >"$work/service-paths"
    cat "$work/service-paths"
    [ "$(wc -l <"$work/service-paths")" -ge 8 ]
    while read -r path; do
        [ -e "$path" ] && continue
        zgrep -qF -- "$path" "${owned[@]}" || { echo "agent.md names $path, which the package does not"; return 1; }
    done <"$work/service-paths"
    awk '/^### Rotating the log/ {on = 1} on && /^```$/ {n++; next} on && n == 1' "$doc" >"$work/rotate"
    diff "$work/rotate" /etc/logrotate.d/ovagent
}
check "the paths of agent.md's service section are the package's" documented_paths

licence() {
    local package
    for package in "${packages[@]}"; do
        grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
            "/usr/share/doc/$package/copyright"
        grep -qx 'License: Apache-2.0' "/usr/share/doc/$package/copyright"
    done
    grep -q '<project_license>Apache-2.0</project_license>' \
        /usr/share/metainfo/org.ferrik.console.metainfo.xml
}
check "the licence: Apache-2.0 in each package's copyright and in the AppStream metadata" licence
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

# The service with an account: a normal user (nobody) reaches it through its socket and over TLS;
# the files' modes; the fingerprint that the first TLS contact stored is what `ovagent fingerprint`
# publishes; ovlsend's TLS close leaves no "read failed" record.
service_users() {
    install -d -o ovagent -g ovagent -m 0711 "$work/state2"
    install -d -o ovagent -g ovagent -m 0755 /run/ovagent
    install -d -o ovagent -g ovagent -m 0750 /var/log/ovagent
    rm -f /var/log/ovagent/ovagent.log
    local hash
    hash=$(echo 'user pass' | /usr/bin/ovagent hash-password --iterations 1000)
    sed "s|<users>|<users><user login=\"alice\" domain=\"\" password=\"$hash\"><realm>System</realm></user>|" \
        /etc/ovagent/ovagent.xml >"$work/ovagent.xml"
    chown root:ovagent "$work/ovagent.xml"
    chmod 0640 "$work/ovagent.xml"
    # The agent under the umask the unit gives it; the modes do not depend on it.
    setpriv --reuid=ovagent --regid=ovagent --clear-groups --no-new-privs \
        sh -c 'umask 0077; exec "$@"' ovagent /usr/bin/ovagent --config "$work/ovagent.xml" \
        --state-dir "$work/state2" --ports-file "$work/state2/ports" &
    local pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    wait_for "$work/state2/ports" "$pid" || { echo "the agent did not start"; return 1; }
    local tls
    tls=$(awk '$1 == "tls" {print $3}' "$work/state2/ports")

    # A home and a password file of nobody's own.
    install -d -o nobody -g nogroup -m 0700 "$work/nobody"
    echo 'user pass' >"$work/nobody/password"
    chown nobody:nogroup "$work/nobody/password"
    chmod 0600 "$work/nobody/password"
    as_nobody() {
        setpriv --reuid=nobody --regid=nogroup --clear-groups \
            env -i HOME="$work/nobody" PATH=/usr/bin:/bin "$@"
    }

    ls -l "$work/state2" /run/ovagent /var/log/ovagent
    [ "$(stat -c '%a' /run/ovagent)" = 755 ]
    [ "$(stat -c '%F %a' /run/ovagent/ovagent.sock)" = "socket 666" ]
    [ "$(stat -c '%U %a' "$work/state2/tls-cert.pem")" = "ovagent 644" ]
    [ "$(stat -c '%U %a' "$work/state2/tls-key.pem")" = "ovagent 600" ]
    [ "$(stat -c '%U %a' "$work/state2/state.xml")" = "ovagent 600" ]
    [ "$(stat -c '%U %a' "$work/state2/ports")" = "ovagent 644" ]
    [ "$(stat -c '%U:%G %a' /var/log/ovagent/ovagent.log)" = "ovagent:ovagent 640" ]
    # The certificate is readable by clients by its path; the key is not.
    as_nobody openssl x509 -in "$work/state2/tls-cert.pem" -noout -subject
    if as_nobody cat "$work/state2/tls-key.pem" >/dev/null 2>&1; then
        echo "nobody reads the key"
        return 1
    fi
    # The log: the group ovagent reads it, other users do not.
    setpriv --reuid=nobody --regid=ovagent --clear-groups grep -q "started, state in" /var/log/ovagent/ovagent.log
    if as_nobody cat /var/log/ovagent/ovagent.log >/dev/null 2>&1; then
        echo "a user outside the group ovagent reads the log"
        return 1
    fi

    # Through the socket, named and as the empty host's default.
    as_nobody ovlsend -t NamedPipe -H /run/ovagent/ovagent.sock -l alice --password-file "$work/nobody/password" \
        --timeout 10000 "$work/echo.xml" | tee "$work/reply-socket"
    grep -q '<ns2:text>hi</ns2:text>' "$work/reply-socket"
    as_nobody ovlsend -t NamedPipe -l alice --password-file "$work/nobody/password" --timeout 10000 \
        "$work/echo.xml" | grep -q '<ns2:text>hi</ns2:text>'

    # Over TLS: the first contact stores the fingerprint that `ovagent fingerprint` prints.
    as_nobody ovlsend -t SSL -H "127.0.0.1:$tls" -l alice --password-file "$work/nobody/password" \
        --timeout 10000 "$work/echo.xml" | grep -q '<ns2:text>hi</ns2:text>'
    local fingerprint
    fingerprint=$(/usr/bin/ovagent fingerprint --config "$work/ovagent.xml" --state-dir "$work/state2")
    echo "fingerprint: $fingerprint"
    [ "$(cat "$work/nobody/.config/ovl/known_agents")" = "127.0.0.1:$tls $fingerprint" ]
    # Three sessions closed, none of them with a "read failed" record.
    for _ in $(seq 200); do
        [ "$(grep -c ': closed$' /var/log/ovagent/ovagent.log)" -ge 3 ] && break
        sleep 0.05
    done
    [ "$(grep -c ': closed$' /var/log/ovagent/ovagent.log)" -ge 3 ]
    if grep 'read failed' /var/log/ovagent/ovagent.log; then
        return 1
    fi
    kill -TERM "$pid"
    wait "$pid"
}
check "a normal user reaches the service through its socket and over TLS" service_users

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
