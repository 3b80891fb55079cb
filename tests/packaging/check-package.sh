#!/bin/sh
# Builds the Debian package from a built tree, unpacks it with dpkg -x into a
# temporary root and checks it as an engineer's desktop would meet it: the
# files are where the desktop looks, the desktop entry and the metainfo
# validate, the package depends on the libraries its programs link, and every
# program in it starts from there without help.
#
# usage: check-package.sh BUILD_DIR VERSION APP_ID
# $CPACK names the cpack of the CMake that configured BUILD_DIR (default: cpack).
set -eu

build=$1
version=$2
app_id=$3

work=$(mktemp -d)
tool_pid=
cleanup() {
    if [ -n "$tool_pid" ]; then
        kill -KILL "$tool_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
# A shell killed by a signal skips its EXIT trap; CTest ends a test that runs
# too long with one.
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
    tries=$1
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# --- The package -----------------------------------------------------------

if ! "${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack -G DEB" >&2
    exit 1
fi
deb="$work/out/qv58link-upgrade_${version}_$(dpkg --print-architecture).deb"
if [ ! -f "$deb" ]; then
    ls "$work/out" >&2
    echo "FAIL: no package named $(basename "$deb")" >&2
    exit 1
fi

[ "$(dpkg-deb --field "$deb" Package)" = qv58link-upgrade ] || fail "package name"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
# Taken from the linked libraries, not written by hand: these must all be there.
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6svg6 \
    libcurl4 libssl3 ca-certificates; do
    case ", $depends," in
    *", $library "* | *", $library,"*) ;;
    *) fail "Depends lacks $library" ;;
    esac
done
# A build-only package would drag a compiler tool chain onto the engineer's machine.
echo "$depends" | grep -q -- '-dev' && fail "Depends names a development package"

root="$work/root"
dpkg -x "$deb" "$root"
usr="$root/usr"

for path in \
    bin/qv58link-upgrade bin/qv58link-pack bin/qv58link-probe-sim bin/qv58link-serve bin/qv58link-flash \
    "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$app_id.svg" \
    share/man/man1/qv58link-upgrade.1.gz share/man/man1/qv58link-pack.1.gz \
    share/man/man1/qv58link-probe-sim.1.gz share/man/man1/qv58link-serve.1.gz \
    share/man/man1/qv58link-flash.1.gz share/bash-completion/completions/qv58link-flash \
    share/doc/qv58link-upgrade/copyright share/doc/qv58link-upgrade/changelog.gz; do
    [ -f "$usr/$path" ] || fail "missing /usr/$path"
done
for program in "$usr"/bin/*; do
    [ -x "$program" ] || fail "$program is not executable"
done
# Only the package's own programs: no test or benchmark slipped in.
[ "$(ls "$usr/bin" | wc -l)" -eq 5 ] || fail "bin/ holds $(ls "$usr/bin" | tr '\n' ' ')"

# A PNG's width and height are the two big-endian words after its signature and IHDR tag.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'
}
for size in 16 32 48 256; do
    png="$usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    if [ ! -f "$png" ]; then
        fail "missing icon $size px"
    elif [ "$(png_size "$png")" != "${size}x${size}" ]; then
        fail "icon $size px is $(png_size "$png")"
    fi
done

# --- Desktop entry and metainfo --------------------------------------------

desktop="$usr/share/applications/$app_id.desktop"
metainfo="$usr/share/metainfo/$app_id.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$usr/bin/$exec_line" ] || fail "the desktop entry starts '$exec_line', which is not in /usr/bin"
[ "$(sed -n 's/^Icon=//p' "$desktop")" = "$app_id" ] || fail "the desktop entry's icon is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

# --- The companion commands ------------------------------------------------

for command in qv58link-pack qv58link-probe-sim qv58link-serve qv58link-flash; do
    if ! "$usr/bin/$command" --help >"$work/help" 2>"$work/help.err"; then
        cat "$work/help.err" >&2
        fail "$command --help"
        continue
    fi
    [ -s "$work/help.err" ] && fail "$command --help wrote to standard error: $(cat "$work/help.err")"
    for option in --help --version; do
        grep -q -- "$option" "$work/help" || fail "$command --help does not name $option"
    done
    shown=$("$usr/bin/$command" --version) || fail "$command --version"
    [ "$shown" = "$command $version" ] || fail "$command --version shows '$shown'"

    # A bad command line ends alike for every companion, as their pages say.
    "$usr/bin/$command" --no-such-option >/dev/null 2>"$work/bad.err" && code=0 || code=$?
    [ "$code" -eq 2 ] || fail "$command --no-such-option ended with $code, not 2"
    [ -s "$work/bad.err" ] || fail "$command --no-such-option said nothing on standard error"

    # Every option the help names is described in the manual page.
    gzip -dc "$usr/share/man/man1/$command.1.gz" | sed 's/\\-/-/g' >"$work/man"
    for option in $(grep -o -- '--[a-z][a-z-]*' "$work/help" | sort -u); do
        grep -q -- "$option" "$work/man" || fail "the manual page of $command lacks $option"
    done
done

# --- The tool itself -------------------------------------------------------
# Offscreen, with no probe: the start-up box about the missing probe waits for
# an answer. A second start in the same session must reach this copy and end,
# which shows the first one is up and serving its event loop; then it is ended.

session="$work/session"
mkdir -m 700 "$session"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$session" QV58LINK_DRIVES= QV58LINK_TRACE_ACTIVATION=1
registered() { ls "$session"/qv58link-*_All >/dev/null 2>&1; }
# Gone or a zombie: kill -0 would still reach one that has not been waited for.
ended() {
    state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$tool_pid/status" 2>/dev/null)
    [ -z "$state" ] || [ "$state" = Z ]
}
brought_forward() { grep -q "asked to come forward" "$work/tool.err"; }

# Started directly, not through a function or a subshell, so that $! is the
# tool itself and the kill below cannot miss it.
"$usr/bin/qv58link-upgrade" --ignored-argument >"$work/tool.out" 2>"$work/tool.err" &
tool_pid=$!
if ! wait_for 600 registered; then
    fail "qv58link-upgrade did not come up"
elif ! timeout -s KILL 60 "$usr/bin/qv58link-upgrade" >/dev/null 2>&1; then
    fail "a second start of qv58link-upgrade did not end with code 0"
elif ! wait_for 300 brought_forward; then
    fail "the running qv58link-upgrade did not answer a second start"
fi
if ! ended; then
    kill -TERM "$tool_pid"
    if ! wait_for 300 ended; then
        fail "qv58link-upgrade did not end on SIGTERM"
        kill -KILL "$tool_pid"
    fi
    wait "$tool_pid" || true
else
    wait "$tool_pid" && code=0 || code=$?
    fail "qv58link-upgrade ended by itself with code $code"
fi
tool_pid=
# The offscreen screen says which window calls it cannot honour; anything else
# (a missing plugin or library, a broken picture) is a fault.
if grep -v -e "asked to come forward" -e "^This plugin does not support" "$work/tool.err" | grep -q .; then
    echo "qv58link-upgrade said:" >&2
    cat "$work/tool.err" >&2
    fail "qv58link-upgrade wrote to standard error"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package $(basename "$deb"): all checks passed"
