#!/usr/bin/env bash
# Wine environments for the tests.
#   wine-prefix.sh template      make the template prefix once (fonts mapped)
#   wine-prefix.sh template32    make the template for 32-bit programs once:
#                                the template with its syswow64 filled from the
#                                emulated 32-bit Wine (scripts/wine32.sh)
#   wine-prefix.sh start DIR [--i686]
#                                copy the template to DIR/prefix, start an Xvfb
#                                and a wineserver of its own, write DIR/env;
#                                with --i686 the 32-bit template, and DIR/env
#                                puts the loader that also runs i686 programs
#                                first in PATH
#   wine-prefix.sh stop DIR      end that wineserver and that Xvfb (by pid)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

template=${NV_WINE_TEMPLATE:-${XDG_CACHE_HOME:-$HOME/.cache}/nvsetup/wine-template}
template32=${NV_WINE32_TEMPLATE:-${XDG_CACHE_HOME:-$HOME/.cache}/nvsetup/wine32-template}
# The marker of a finished template; a new name makes older templates anew.
ready=.nvsetup-ready-2
export WINEDEBUG=-all
# No Mono or Gecko prompts; no menu builder, which would write .desktop files
# and icons into the host's home folder for every shortcut an install makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

# A new prefix links the user's Desktop, Documents, Downloads, ... to the
# host's home folder: make each a real folder inside the prefix, so that
# nothing an install under test writes lands outside it.
isolate_user_folders() {
  local d
  for d in "$1"/drive_c/users/*/*; do
    if [ -L "$d" ]; then rm "$d" && mkdir "$d"; fi
  done
}

make_template() {
  [ -f "$template/$ready" ] && return 0
  mkdir -p "$(dirname "$template")"
  # Test runs of several build trees may start at once: one makes the
  # template, the others wait for it.
  exec 9>"$template.lock"
  flock 9
  if [ -f "$template/$ready" ]; then
    exec 9>&-
    return 0
  fi
  local tmp="$template.tmp.$$"
  rm -rf "$tmp"
  mkdir -p "$(dirname "$template")"
  echo "wine-prefix: creating template prefix $template"
  (
    export WINEPREFIX="$tmp"
    unset DISPLAY
    wineboot -i >/dev/null 2>&1
    wineserver -w
    isolate_user_folders "$tmp"
    # Chinese captions use "微软雅黑" and the default font is Tahoma:
    # map both to the installed CJK font so that text renders with glyphs.
    local reg="$tmp/fonts.reg"
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n'
      printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
      for f in "微软雅黑" "Microsoft YaHei" "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "SimSun" "宋体"; do
        printf '"%s"="WenQuanYi Micro Hei"\r\n' "$f"
      done
      printf '\r\n'
    } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$reg"
    wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
    rm -f "$reg"
    wineserver -w
  )
  touch "$tmp/$ready"
  rm -rf "$template"
  mv "$tmp" "$template"
  exec 9>&-
}

# The 32-bit template: a copy of the template whose syswow64 holds the i386
# DLLs of the emulated Wine (and Debian's i386 zlib1), with the 32-bit half
# of Wine's own set-up done by a 32-bit rundll32, as a new prefix with a 32-bit
# Wine gets it (the 32-bit COM classes such as the shell link, the 32-bit
# registry view's system values). Copies, not links: that set-up rewrites the
# files in syswow64. It takes a few minutes of emulation, once.
make_template32() {
  make_template
  "$here/wine32.sh" install
  [ -f "$template32/$ready" ] && return 0
  exec 9>"$template32.lock"
  flock 9
  if [ -f "$template32/$ready" ]; then
    exec 9>&-
    return 0
  fi
  local tmp="$template32.tmp.$$" w32
  w32=$("$here/wine32.sh" dir)
  rm -rf "$tmp"
  echo "wine-prefix: creating 32-bit template prefix $template32 (a few minutes)"
  cp -a "$template" "$tmp"
  rm -f "$tmp/$ready"
  cp -r "$w32"/sysroot/usr/lib/i386-linux-gnu/wine/i386-windows/. "$tmp/drive_c/windows/syswow64/"
  cp /usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll "$tmp/drive_c/windows/syswow64/"
  (
    export WINEPREFIX="$tmp" PATH="$w32/bin:$PATH"
    unset DISPLAY
    cd "$tmp/drive_c"
    wine 'C:\windows\syswow64\rundll32.exe' setupapi,InstallHinfSection Wow64Install 128 \
      "$(winepath -w /usr/share/wine/wine.inf 2>/dev/null)" </dev/null >/dev/null 2>&1
    wineserver -w
  )
  if ! grep -q 'Wow6432Node\\\\CLSID\\\\{00021401-0000-0000-C000-000000000046}' "$tmp/system.reg"; then
    echo "wine-prefix: the 32-bit set-up of $tmp did not register the 32-bit shell classes" >&2
    return 1
  fi
  isolate_user_folders "$tmp"
  touch "$tmp/$ready"
  rm -rf "$template32"
  mv "$tmp" "$template32"
  exec 9>&-
}

start_env() {
  local dir=$1 from=$template path_line="" debug=-all
  if [ "${2:-}" = "--i686" ]; then
    make_template32
    from=$template32
    path_line="export PATH=\"$("$here/wine32.sh" dir)/bin:\$PATH\""
    # Faults and unhandled exceptions are reported: the emulated route is
    # where they are most likely to be the route's and not the program's.
    debug=-all,err+seh
  else
    make_template
  fi
  mkdir -p "$dir"
  [ -f "$dir/env" ] && stop_env "$dir" || true
  rm -rf "$dir/prefix" "$dir/runs"
  cp -a "$from" "$dir/prefix"
  isolate_user_folders "$dir/prefix"
  rm -f "$dir/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
  local xpid=$!
  for _ in $(seq 1 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$dir/display" ]; then
    kill "$xpid" 2>/dev/null || true
    echo "wine-prefix: Xvfb did not start (see $dir/xvfb.log)" >&2
    return 1
  fi
  local display=":$(head -n1 "$dir/display")"
  cat > "$dir/env" <<ENV
export WINEPREFIX="$dir/prefix"
export DISPLAY="$display"
export WINEDEBUG=$debug
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES"
export NV_XVFB_PID=$xpid
$path_line
ENV
  # A persistent wineserver keeps the start of every test short.
  ( export WINEPREFIX="$dir/prefix"; wineserver -p </dev/null >/dev/null 2>&1 )
  # Start the prefix's services now, detached from any output: services that a
  # test's first program started would keep that test's output pipe open.
  ( . "$dir/env"; wine cmd /c exit </dev/null >/dev/null 2>&1 ) || true
  echo "wine-prefix: prefix $dir/prefix, display $display"
}

# The processes that run with the given prefix (wineserver, services, programs).
prefix_pids() {
  local prefix=$1 p
  for p in /proc/[0-9]*; do
    [ "${p#/proc/}" = "$$" ] && continue
    if tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$prefix"; then
      echo "${p#/proc/}"
    fi
  done
}

# True when pid is a running Xvfb (a stale pid may belong to another program).
is_xvfb() {
  [ -n "$1" ] && [ "$(tr '\0' ' ' < "/proc/$1/cmdline" 2>/dev/null | cut -d' ' -f1)" = "Xvfb" ]
}

stop_env() {
  local dir=$1
  [ -f "$dir/env" ] || return 0
  local prefix xpid pids
  prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$dir/env")
  xpid=$(sed -n 's/^export NV_XVFB_PID=\([0-9]*\)$/\1/p' "$dir/env")
  if [ -n "$prefix" ]; then
    ( export WINEPREFIX="$prefix"; wineserver -k; wineserver -w ) </dev/null >/dev/null 2>&1 || true
    # The programs of the prefix end a moment after their wineserver.
    for _ in $(seq 1 50); do
      pids=$(prefix_pids "$prefix")
      [ -z "$pids" ] && break
      sleep 0.2
    done
    if [ -n "$pids" ]; then
      echo "wine-prefix: ending what is left of $prefix: $(echo $pids)" >&2
      kill -9 $pids 2>/dev/null || true
    fi
  fi
  if is_xvfb "$xpid"; then
    kill "$xpid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      is_xvfb "$xpid" || break
      sleep 0.1
    done
    is_xvfb "$xpid" && kill -9 "$xpid" 2>/dev/null
  fi
  rm -f "$dir/env"
  return 0
}

case "${1:-}" in
  template) make_template ;;
  template32) make_template32 ;;
  start) start_env "$2" "${3:-}" ;;
  stop) stop_env "$2" ;;
  *) echo "usage: $0 template | template32 | start DIR [--i686] | stop DIR" >&2; exit 2 ;;
esac
