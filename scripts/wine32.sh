#!/usr/bin/env bash
# The emulated 32-bit Wine that runs the i686 product on this machine, whose
# kernel runs no 32-bit code: Debian's i386 Wine under qemu-i386-static, next
# to a private copy of the system's 64-bit loader that hands every 32-bit
# program to it. Everything lives in the cache folder; nothing is installed on
# the system and its package configuration is not changed (the i386 packages
# come through an apt state of its own).
#   wine32.sh install   make it once (idempotent; needs Debian's registry)
#   wine32.sh dir       print its folder; DIR/bin holds its wine and wineserver
#
# The folder (NV_WINE32_DIR, by default ~/.cache/nvsetup/wine32):
#   apt/            the private apt state: lists and downloaded packages
#   sysroot/        the i386 packages unpacked, with an ld.so cache of its own;
#                   usr/lib/wine/wine.i386 is Debian's i386 loader
#   qemu-i386-static
#   lib/wine/wine64 a real copy of the system's loader (Wine finds its own
#                   folder through /proc/self/exe)
#   lib/wine/wine   starts the i386 loader under the emulator; the i386
#                   loader's own folder links "wine" and "wine64" to these two,
#                   so that a program of either kind can start one of the other
#   bin/wine        the loader for tests: 64-bit programs run natively, 32-bit
#                   ones under the emulator
#   fonts.conf      the fonts the i386 side sees, with a cache of its own
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

cache=${XDG_CACHE_HOME:-$HOME/.cache}/nvsetup
dir=${NV_WINE32_DIR:-$cache/wine32}
# The marker of a finished set-up; a new name makes older ones anew.
ready=.nvsetup-ready-2

# i386 packages: Wine itself, the C library and what Wine's i386 side loads
# (X11, FreeType and fontconfig, PNG, zlib, unwinding). Wine's two halves talk
# to one wineserver, so the i386 Wine is the system Wine's version exactly.
i386_packages() {
  local v
  v=$(dpkg-query -W -f='${Version}' wine64)
  echo "libwine:i386=$v wine32:i386=$v libc6:i386 libgcc-s1:i386 libx11-6:i386 libxext6:i386 libxcb1:i386"
  echo "libxau6:i386 libxdmcp6:i386 libbsd0:i386 libmd0:i386 libfreetype6:i386 libpng16-16:i386 zlib1g:i386"
  echo "libbrotli1:i386 libfontconfig1:i386 libexpat1:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386"
  echo "libxcursor1:i386 libxfixes3:i386 libxinerama1:i386 libxcomposite1:i386 libxxf86vm1:i386 libunwind8:i386"
  echo "liblzma5:i386 libstdc++6:i386"
}
# Libraries the i386 side must resolve inside the sysroot (dlopen'ed by Wine).
check_libs="libfreetype.so.6 libfontconfig.so.1 libX11.so.6 libXext.so.6 libXrender.so.1 libXrandr.so.2 libXi.so.6
  libXcursor.so.1 libXinerama.so.1 libXcomposite.so.1 libXxf86vm.so.1 libunwind.so.8 libpng16.so.16"

apt_private() {
  # Lists and downloads of its own, with i386 known to this apt only: the
  # system's dpkg architectures and package lists stay as they are.
  apt-get -q -o Dir::State::Lists="$dir/apt/lists" -o Dir::Cache="$dir/apt/cache" \
    -o Dir::State::Status=/var/lib/dpkg/status -o Debug::NoLocking=1 -o APT::Sandbox::User=root \
    -o APT::Architectures::=amd64 -o APT::Architectures::=i386 "$@"
}

install() {
  [ -f "$dir/$ready" ] && return 0
  command -v dpkg-query >/dev/null && dpkg-query -W wine64 >/dev/null 2>&1 || {
    echo "wine32: the system's wine64 is missing (scripts/setup.sh installs it)" >&2
    return 1
  }
  mkdir -p "$(dirname "$dir")"
  # Two test runs may start at once: one makes it, the other waits.
  exec 8>"$dir.lock"
  flock 8
  if [ -f "$dir/$ready" ]; then
    exec 8>&-
    return 0
  fi
  echo "wine32: making the emulated 32-bit Wine in $dir"
  rm -rf "$dir"
  mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/debs"
  # A source that fails to update (a mirror in the middle of a sync) is only
  # a warning here: the download below says whether what is needed came.
  apt_private update >"$dir/apt/update.log" 2>&1 || true
  # shellcheck disable=SC2046
  if ! (cd "$dir/debs" && apt_private download $(i386_packages) qemu-user-static >"$dir/apt/download.log" 2>&1); then
    cat "$dir/apt/update.log" "$dir/apt/download.log" >&2
    echo "wine32: downloading the i386 packages failed" >&2
    return 1
  fi
  local deb
  for deb in "$dir"/debs/*.deb; do
    case $deb in
      */qemu-user-static_*)
        dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/qemu-i386-static >"$dir/qemu-i386-static"
        chmod 755 "$dir/qemu-i386-static" ;;
      *) dpkg-deb -x "$deb" "$dir/sysroot" ;;
    esac
  done
  rm -rf "$dir/debs" "$dir/apt/cache"
  local root="$dir/sysroot"
  # The i386 side finds its libraries through a cache of the sysroot's own
  # (the emulator maps /etc/ld.so.cache into the sysroot); without it, the
  # host's cache would resolve some libraries to the host's /lib32 and others
  # to nothing.
  printf 'include /etc/ld.so.conf.d/*.conf\n' >"$root/etc/ld.so.conf"
  ldconfig -r "$root"
  local missing
  missing=$(for lib in $check_libs; do
    "$dir/qemu-i386-static" -L "$root" "$root/lib/ld-linux.so.2" --list "$root/usr/lib/i386-linux-gnu/$lib" 2>&1 |
      grep 'not found' | sed "s|^|$lib: |" || true
  done)
  if [ -n "$missing" ]; then
    echo "wine32: libraries missing in the sysroot:" >&2
    echo "$missing" >&2
    return 1
  fi

  # Wine's fault handler needs the trap number the emulator leaves out
  # (wine32-trapfix.c); preloaded through the sysroot's own ld.so.preload, so
  # that 64-bit programs started from a 32-bit one do not see it.
  gcc -m32 -O2 -fPIC -shared -nostdlib -fno-stack-protector -o "$root/usr/lib/i386-linux-gnu/nvsetup-trapfix.so" \
    "$here/wine32-trapfix.c"
  echo /usr/lib/i386-linux-gnu/nvsetup-trapfix.so >"$root/etc/ld.so.preload"

  mkdir -p "$dir/lib/wine" "$dir/lib/x86_64-linux-gnu" "$dir/share" "$dir/bin" "$dir/fontconfig"
  cp /usr/lib/wine/wine64 "$dir/lib/wine/wine64"
  ln -sfn /usr/lib/wine/wineserver "$dir/lib/wine/wineserver"
  ln -sfn /usr/lib/x86_64-linux-gnu/wine "$dir/lib/x86_64-linux-gnu/wine"
  ln -sfn /usr/share/wine "$dir/share/wine"
  # The i386 side's fonts: the host's font folders and rules, with a cache in
  # this folder (not the system's /var/cache/fontconfig).
  cat >"$dir/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts</dir>
  <dir>/usr/local/share/fonts</dir>
  <include ignore_missing="yes">/etc/fonts/conf.d</include>
  <cachedir>$dir/fontconfig</cachedir>
</fontconfig>
CONF
  # Wine re-executes its loader by the name it was started with, from its
  # own folder: argv[0] "wine" and the links below make a 32-bit program's
  # child start through the emulator too, and a 64-bit child natively.
  mv "$root/usr/lib/wine/wine" "$root/usr/lib/wine/wine.i386"
  cat >"$dir/lib/wine/wine" <<SCRIPT
#!/bin/sh
# Debian's i386 Wine under the emulator (no preloader: the emulator lays out
# the address space).
export WINELOADERNOEXEC=1
export FONTCONFIG_FILE="$dir/fonts.conf"
exec "$dir/qemu-i386-static" -L "$root" -0 wine "$root/usr/lib/wine/wine.i386" "\$@"
SCRIPT
  chmod 755 "$dir/lib/wine/wine"
  ln -sfn "$dir/lib/wine/wine" "$root/usr/lib/wine/wine"
  ln -sfn "$dir/lib/wine/wine64" "$root/usr/lib/wine/wine64"
  cat >"$dir/bin/wine" <<SCRIPT
#!/bin/sh
unset WINELOADER
exec "$dir/lib/wine/wine64" "\$@"
SCRIPT
  chmod 755 "$dir/bin/wine"
  ln -sfn /usr/bin/wineserver "$dir/bin/wineserver"
  touch "$dir/$ready"
  exec 8>&-
}

case "${1:-}" in
  install) install ;;
  dir) echo "$dir" ;;
  *) echo "usage: $0 install | dir" >&2; exit 2 ;;
esac
