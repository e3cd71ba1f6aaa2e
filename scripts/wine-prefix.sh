#!/usr/bin/env bash
# Wine environments for the tests.
#   wine-prefix.sh template      make the template prefix once (fonts mapped)
#   wine-prefix.sh start DIR     copy the template to DIR/prefix, start an Xvfb
#                                and a wineserver of its own, write DIR/env
#   wine-prefix.sh stop DIR      end that wineserver and that Xvfb (by pid)
set -euo pipefail

template=${NV_WINE_TEMPLATE:-${XDG_CACHE_HOME:-$HOME/.cache}/nvsetup/wine-template}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

make_template() {
  [ -f "$template/.nvsetup-ready" ] && return 0
  local tmp="$template.tmp.$$"
  rm -rf "$tmp"
  mkdir -p "$(dirname "$template")"
  echo "wine-prefix: creating template prefix $template"
  (
    export WINEPREFIX="$tmp"
    unset DISPLAY
    wineboot -i >/dev/null 2>&1
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
  touch "$tmp/.nvsetup-ready"
  rm -rf "$template"
  mv "$tmp" "$template"
}

start_env() {
  local dir=$1
  make_template
  mkdir -p "$dir"
  [ -f "$dir/env" ] && stop_env "$dir" || true
  rm -rf "$dir/prefix"
  cp -a "$template" "$dir/prefix"
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
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export NV_XVFB_PID=$xpid
ENV
  # A persistent wineserver keeps the start of every test short.
  ( export WINEPREFIX="$dir/prefix"; wineserver -p </dev/null >/dev/null 2>&1 )
  # Start the prefix's services now, detached from any output: services that a
  # test's first program started would keep that test's output pipe open.
  ( . "$dir/env"; wine cmd /c exit </dev/null >/dev/null 2>&1 ) || true
  echo "wine-prefix: prefix $dir/prefix, display $display"
}

stop_env() {
  local dir=$1
  [ -f "$dir/env" ] || return 0
  # shellcheck disable=SC1091
  . "$dir/env"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -n "${NV_XVFB_PID:-}" ]; then
    kill "$NV_XVFB_PID" 2>/dev/null || true
  fi
  rm -f "$dir/env"
}

case "${1:-}" in
  template) make_template ;;
  start) start_env "$2" ;;
  stop) stop_env "$2" ;;
  *) echo "usage: $0 template | start DIR | stop DIR" >&2; exit 2 ;;
esac
