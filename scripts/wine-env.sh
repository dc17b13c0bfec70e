# Wine environment for running and testing Qinglan on Linux. Source it, then:
#
#   source scripts/wine-env.sh
#   wine_env_init "$build_dir"       # display, private prefix, browser recorder
#   trap wine_env_shutdown EXIT      # the caller decides; this file sets no traps
#
# Everything lives under the given directory:
#   <dir>/wine                  the prefix (32-bit, code page 936, 1024x768 virtual desktop;
#                               64-bit where only the 64-bit Wine runs, see wine_windows_arch)
#   <dir>/browser-recorder.sh   stands in for the browser: Wine's browser launcher calls it
#   <dir>/browser-calls.log     one line per call, the arguments as raw bytes
#   <dir>/browser-shims/        xdg-open & co. on PATH, also recording, should anything bypass
#                               the launcher's setting
#   <dir>/xvfb.log              output of the Xvfb started here, if one was needed
#
# Wine programs' output is always sent to files: Wine's background processes inherit file
# descriptors, so a pipe read from a Wine program can stay open long after the program ended.

# Size of the Windows desktop every program of the prefix runs in.
: "${QINGLAN_DESKTOP_SIZE:=1024x768}"
# Screen of the Xvfb started when there is no usable display.
: "${QINGLAN_XVFB_SCREEN:=1024x768x24}"

# True if the 32-bit Wine starts here. Some x86-64 kernels run no 32-bit programs at all (their
# 32-bit emulation is switched off), and the 32-bit Wine then fails with "Exec format error".
wine_runs_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The Windows build that Wine can run on this machine: i686, the program's own 32-bit target,
# or x86_64 where the 32-bit Wine cannot start. There the Windows tests run on a 64-bit build of
# the same sources under the 64-bit Wine. QINGLAN_WINDOWS_ARCH overrides it.
wine_windows_arch() {
    if [ -n "${QINGLAN_WINDOWS_ARCH:-}" ]; then
        echo "$QINGLAN_WINDOWS_ARCH"
    elif [ -e /usr/lib/wine/wine ] && ! wine_runs_32bit && [ -e /usr/lib/wine/wine64 ]; then
        echo x86_64
    else
        echo i686
    fi
}

# Sets WINEARCH for the build that Wine runs here. For the 64-bit one it also puts a "wine" that
# starts the 64-bit loader first on PATH, its script kept under <dir>: Debian's "wine" picks the
# 32-bit loader whenever it is installed, even where it cannot run.
wine_loader_vars() {
    local dir=$1
    QINGLAN_WINDOWS_ARCH=$(wine_windows_arch)
    export QINGLAN_WINDOWS_ARCH
    if [ "$QINGLAN_WINDOWS_ARCH" != x86_64 ]; then
        export WINEARCH=win32
        return 0
    fi
    export WINEARCH=win64
    mkdir -p "$dir/wine64-bin" || return 1
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$dir/wine64-bin/wine" &&
        chmod +x "$dir/wine64-bin/wine" || return 1
    case ":$PATH:" in
        *":$dir/wine64-bin:"*) ;;
        *) export PATH="$dir/wine64-bin:$PATH" ;;
    esac
}

# Sets the environment for the prefix under <dir>. Safe to call again.
wine_env_vars() {
    local dir=$1
    mkdir -p "$dir" || return 1
    QINGLAN_WINE_DIR=$(cd "$dir" && pwd) || return 1
    export QINGLAN_WINE_DIR
    export WINEPREFIX="$QINGLAN_WINE_DIR/wine"
    wine_loader_vars "$QINGLAN_WINE_DIR" || return 1
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs, and no menu entries or file associations on the host.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives 936.
    export LANG=zh_CN.UTF-8
    export LC_ALL=zh_CN.UTF-8
    case ":$PATH:" in
        *":$QINGLAN_WINE_DIR/browser-shims:"*) ;;
        *) export PATH="$QINGLAN_WINE_DIR/browser-shims:$PATH" ;;
    esac
}

# True if an X server answers on $DISPLAY. A busy server, one just started, can refuse a
# connection now and then (seen with several clients connecting at once), so it gets a few tries.
_wine_display_ok() {
    [ -n "${DISPLAY:-}" ] || return 1
    local i
    for i in 1 2 3 4 5; do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

# Uses $DISPLAY if a server answers there; otherwise starts Xvfb on a free display number.
wine_ensure_display() {
    _wine_display_ok && return 0
    local dir=${QINGLAN_WINE_DIR:-${TMPDIR:-/tmp}}
    local numfile="$dir/xvfb.display"
    rm -f "$numfile"
    # -displayfd lets Xvfb pick a free display and write its number once it accepts clients.
    Xvfb -displayfd 3 -screen 0 "$QINGLAN_XVFB_SCREEN" -nolisten tcp \
        3>"$numfile" >"$dir/xvfb.log" 2>&1 </dev/null &
    QINGLAN_XVFB_PID=$!
    export QINGLAN_XVFB_PID
    local i num=
    for ((i = 0; i < 100; i++)); do
        num=$(tr -dc 0-9 2>/dev/null <"$numfile") || true
        [ -n "$num" ] && break
        if ! kill -0 "$QINGLAN_XVFB_PID" 2>/dev/null; then
            echo "wine-env: Xvfb failed to start, see $dir/xvfb.log" >&2
            unset QINGLAN_XVFB_PID
            return 1
        fi
        sleep 0.1
    done
    if [ -z "$num" ]; then
        echo "wine-env: Xvfb did not report a display within 10 s" >&2
        kill "$QINGLAN_XVFB_PID" 2>/dev/null || true
        unset QINGLAN_XVFB_PID
        return 1
    fi
    export DISPLAY=":$num"
}

# Quotes a string for a bash script.
_wine_sh_quote() {
    printf "'%s'" "${1//\'/\'\\\'\'}"
}

# Writes the browser stand-in and the shims that point at it.
_wine_write_recorder() {
    local dir=$QINGLAN_WINE_DIR
    local recorder="$dir/browser-recorder.sh"
    {
        echo '#!/bin/bash'
        echo '# Stands in for a web browser: appends its arguments, space separated, as one line.'
        printf '%s >>%s\n' "printf '%s\\n' \"\$*\"" "$(_wine_sh_quote "$dir/browser-calls.log")"
    } >"$recorder.tmp" && chmod +x "$recorder.tmp" && mv -f "$recorder.tmp" "$recorder" ||
        return 1
    mkdir -p "$dir/browser-shims" || return 1
    local shim
    for shim in xdg-open xdg-email x-www-browser www-browser sensible-browser gnome-open kde-open \
        firefox firefox-esr chromium chromium-browser google-chrome konqueror mozilla opera \
        epiphany thunderbird; do
        ln -sfn ../browser-recorder.sh "$dir/browser-shims/$shim" || return 1
    done
}

# Ends the prefix's processes and its server, which then writes the registry to disk. Waiting
# for them to end on their own takes seconds longer, and the desktop process wineboot started
# would keep running without the virtual desktop setting.
_wine_stop_server() {
    wineserver -k >>"$QINGLAN_WINE_DIR/wine-setup.log" 2>&1 9>&- || true
    wineserver -w >>"$QINGLAN_WINE_DIR/wine-setup.log" 2>&1 9>&- || true
}

_wine_prefix_init_locked() {
    _wine_write_recorder || return 1
    # Wine programs below get "9>&-": the wineserver they start lives on and must not keep
    # the lock on descriptor 9.
    local log="$QINGLAN_WINE_DIR/wine-setup.log"
    local recorder="$QINGLAN_WINE_DIR/browser-recorder.sh"
    local marker="$WINEPREFIX/.qinglan-settings"
    local settings="desktop=$QINGLAN_DESKTOP_SIZE recorder=$recorder crashdialog=0"
    if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$marker" 2>/dev/null)" = "$settings" ]; then
        return 0
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wine wineboot -i >>"$log" 2>&1 9>&- </dev/null || {
            echo "wine-env: wineboot failed, see $log" >&2
            return 1
        }
    fi
    local reg_fail=0
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$log" 2>&1 9>&- ||
        reg_fail=1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$QINGLAN_DESKTOP_SIZE" /f \
        >>"$log" 2>&1 9>&- || reg_fail=1
    # The launcher splits the value like a command line, so the path is quoted.
    wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "\"$recorder\"" /f \
        >>"$log" 2>&1 9>&- || reg_fail=1
    wine reg add 'HKCU\Software\Wine\WineBrowser' /v Mailers /d "\"$recorder\"" /f \
        >>"$log" 2>&1 9>&- || reg_fail=1
    # A crashing program gets its backtrace written to its stdout and ends, instead of waiting
    # behind winedbg's crash dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >>"$log" 2>&1 9>&- || reg_fail=1
    if [ "$reg_fail" != 0 ]; then
        echo "wine-env: setting the prefix's registry failed, see $log" >&2
        return 1
    fi
    # The registry is on disk, and the next program starts a desktop with these settings.
    _wine_stop_server
    printf '%s' "$settings" >"$marker"
}

# Creates the prefix once and (re)applies its settings when they changed. Fast when nothing
# changed; otherwise it ends the programs running in the prefix. Scripts started side by side
# (ctest -j) take turns: the first sets the prefix up, the others then find it ready.
wine_prefix_init() {
    if [ -z "${WINEPREFIX:-}" ] || [ -z "${QINGLAN_WINE_DIR:-}" ]; then
        echo "wine-env: call wine_env_init <dir> first" >&2
        return 1
    fi
    (
        flock -w 600 9 || {
            echo "wine-env: another setup of $WINEPREFIX did not finish" >&2
            exit 1
        }
        _wine_prefix_init_locked
    ) 9>"$QINGLAN_WINE_DIR/.prefix.lock"
}

# Sets the environment, makes sure there is a display and that the prefix is ready.
wine_env_init() {
    local dir=${1:?usage: wine_env_init <dir>}
    wine_env_vars "$dir" && wine_ensure_display && wine_prefix_init
}

# Ends every Wine process of the prefix and the Xvfb started by wine_ensure_display.
wine_env_shutdown() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
    fi
    if [ -n "${QINGLAN_XVFB_PID:-}" ]; then
        kill "$QINGLAN_XVFB_PID" 2>/dev/null || true
        wait "$QINGLAN_XVFB_PID" 2>/dev/null || true
        unset QINGLAN_XVFB_PID
    fi
    return 0
}
