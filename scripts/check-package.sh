#!/usr/bin/env bash
# The package as a workstation gets it: builds it (scripts/package.sh, lintian
# included), unpacks it into a scratch root (dpkg-deb -x, nothing installed
# system-wide) and runs the unpacked program offscreen against a SQLite
# database named by the package's own /etc/devezozuvor/dbengine.ini, moved
# into that root, as an ordinary user (nobody, when this runs as root) who
# cannot write the program's directory. Passes when the program has found the
# client's archive through that file and made the user's own capture folder
# owner-only; fails loudly on any failure it logs, or if it dies.
set -euo pipefail
cd "$(dirname "$0")/.."

deb=$(scripts/package.sh | tail -n 1)
[ -f "$deb" ] || { echo "check-package: no package built" >&2; exit 1; }

scratch=$(mktemp -d)
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
root=$scratch/root
dpkg-deb -x "$deb" "$root"

program=$root/usr/bin/DeveZozuvor
config=$root/etc/devezozuvor/dbengine.ini
for f in "$program" "$config" "$root/usr/share/man/man1/DeveZozuvor.1.gz" \
         "$root/usr/share/devezozuvor/schema/sqlite.sql" "$root/usr/share/doc/devezozuvor/copyright"; do
    [ -e "$f" ] || { echo "check-package: $f is missing from $deb" >&2; exit 1; }
done

# The shipped file names /var/lib/devezozuvor/tervik.sqlite: point it into the root.
sed -i "s|^path=/var/lib/devezozuvor/|path=$root/var/lib/devezozuvor/|" "$config"
database=$root/var/lib/devezozuvor/tervik.sqlite
grep -q "^path=$database\$" "$config" || { echo "check-package: unexpected $config" >&2; cat "$config" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen build/bin/seeddemo --database "$database" --site http://127.0.0.1:9 \
    --config "$scratch/seed.ini" >"$scratch/seed.log" 2>&1 || { cat "$scratch/seed.log" >&2; exit 1; }

log=$scratch/log
home=$scratch/home
mkdir -p "$home"
runas=()
browser=(QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu)
if [ "$(id -u)" -eq 0 ]; then
    browser+=(QTWEBENGINE_DISABLE_SANDBOX=1)
    # The root stays root's; the user owns only its home and the database.
    chmod 755 "$scratch"
    chown -R nobody:nogroup "$home" "$root/var/lib/devezozuvor"
    runas=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
"${runas[@]}" env "${browser[@]}" HOME="$scratch/home" LC_ALL=pt_BR.UTF-8 QT_QPA_PLATFORM=offscreen DEVEZOZUVOR_CONFIG_DIR="$root/etc/devezozuvor" \
    QT_LOGGING_RULES='devezozuvor.*.debug=true' \
    QT_MESSAGE_PATTERN='%{type} %{category}: %{message}' "$program" 0 1 1001 >"$log" 2>&1 &
pid=$!

opened="info devezozuvor.store: banco de dados tervik aberto: SQLite $database configurado por $root/etc/devezozuvor/dbengine.ini"
archive="debug devezozuvor.store: filial 1 cliente 1001: arquivo de consultas aberto"
fail() {
    echo "check-package: the unpacked program $1; its output:" >&2
    cat "$log" >&2
    exit 1
}
# Bounded wait for the start-up's lines (60 s).
for _ in $(seq 1 300); do
    if grep -qE '^(warning|critical|fatal) devezozuvor\.' "$log"; then
        fail "logged a failure"
    fi
    if grep -qF "$opened" "$log" && grep -qF "$archive" "$log"; then
        kill "$pid"
        wait "$pid" 2>/dev/null || true
        pid=""
        captures=$home/.local/share/DeveZozuvor/DeveZozuvorWebBrowser
        [ "$(stat -c %a "$captures" 2>/dev/null)" = 700 ] || fail "did not make $captures owner-only"
        [ ! -e "$root/usr/bin/DeveZozuvorWebBrowser" ] || [ ${#runas[@]} -eq 0 ] \
            || fail "made a capture folder beside itself"
        echo "check-package: $deb unpacked and started against $database: ok"
        exit 0
    fi
    kill -0 "$pid" 2>/dev/null || fail "ended early"
    sleep 0.2
done
fail "did not open the client's archive within 60 s"
