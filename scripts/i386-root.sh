# shellcheck shell=bash disable=SC2016
# A Debian root of its own for 32-bit Wine (sourced, or run as
# `scripts/i386-root.sh DIR` to make one). The machine keeps its own 64-bit
# Wine: the i386 user space that 32-bit Wine needs, put on the machine
# through multiarch, would break that. So it lives in an i386 debootstrap
# root under the build tree and runs there in new user, mount and PID
# namespaces: natively where the kernel runs i386 programs, else under
# qemu-user-static registered in a binfmt_misc instance of the namespace's
# own (Linux 6.7 and later), never in the machine's.
#   i386_root_make DIR         makes the root at DIR unless a complete one is there
#   i386_root_enter DIR PATH.. starts the namespace, the PATHs (absolute
#                              folders) seen inside at the same place
#   i386_run CMD...            runs CMD inside as an i386 process, from the
#                              folder current at i386_root_enter where that is
#                              seen inside; I386_COMMAND holds the command
#                              line that goes before CMD
#   i386_root_leave            ends the namespace and all that runs there
# Must run as root (the namespace maps every user to itself).

# What 32-bit Wine needs in the root: recommended libraries left out but
# for the X11 ones that windows and dialogs use and GnuTLS for bcrypt.
# With the preloader (only suggested) a Wine process under qemu starts in
# a second rather than most of a minute; the root is the same on both roads.
I386_ROOT_PACKAGES=(wine wine32 wine32-preloader libgnutls30 libxcursor1 libxrandr2 libxi6
  libxfixes3 libxinerama1 libxrender1 libxcomposite1 fonts-wine)
# Until i386_root_enter, i386_run fails.
I386_COMMAND=(false)

# Whether this kernel runs i386 programs itself: a 93-byte static i386
# program that only exits 0, written out and run once. TARVONA_I386_EMULATE=1
# takes the emulated road anyway.
i386_native() {
  if [ -z "${I386_NATIVE:-}" ]; then
    local probe
    probe=$(mktemp)
    printf %b \
      '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00' \
      '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
      '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00' \
      '\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    if [ "${TARVONA_I386_EMULATE:-0}" != 1 ] && "$probe" 2>/dev/null; then
      I386_NATIVE=1
    else
      I386_NATIVE=0
    fi
    rm -f "$probe"
  fi
  [ "$I386_NATIVE" = 1 ]
}

# Run by the namespace's PID 1, a shell of the machine's own: a /proc of
# the new PID namespace (emulated programs die on the machine's), and
# under emulation the namespace's binfmt_misc sending i386 programs to qemu
# (O: by an open file, P: argv[0] kept, F: the interpreter opened now,
# from the machine's files).
i386_namespace_init() {
  mount --make-rprivate /
  mount -t proc proc /proc
  if [ "$I386_NATIVE" = 0 ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    printf '%s' ':tarvona-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$I386_QEMU"':OPF' \
      >/proc/sys/fs/binfmt_misc/register
  fi
}

# What a program in the root I386_DIR sees: the machine's /dev and /sys, a
# /proc, /tmp and /run of its own, the X server's sockets, and the folders
# named in I386_SHARED at their own paths.
i386_namespace_mount_root() {
  local shared
  mount -t proc proc "$I386_DIR/proc"
  mount --rbind /dev "$I386_DIR/dev"
  mount --rbind /sys "$I386_DIR/sys"
  mount -t tmpfs tmpfs "$I386_DIR/tmp"
  mount -t tmpfs tmpfs "$I386_DIR/run"
  if [ -d /tmp/.X11-unix ]; then
    mkdir -p "$I386_DIR/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$I386_DIR/tmp/.X11-unix"
  fi
  # After the tmpfs, so a shared folder under /tmp or /run (a checkout
  # there) is seen, not covered.
  for shared in $I386_SHARED; do
    mkdir -p "$I386_DIR$shared"
    mount --bind "$shared" "$I386_DIR$shared"
  done
}
export -f i386_namespace_init i386_namespace_mount_root

# Starts "$@" in the background as PID 1 of new user, mount and PID
# namespaces, as root of a user namespace that maps every user and group
# of the machine to itself (apt and dpkg in the root need more than one).
# unshare maps more than one ID only through newuidmap, so the maps are
# written from here while "$@" waits at a gate. Sets I386_UNSHARE_PID.
i386_unshare() {
  local gate own
  if [ "$(id -u)" != 0 ]; then
    echo "the i386 root's namespaces map every user, which only root may do" >&2
    return 1
  fi
  gate=$(mktemp -u)
  mkfifo -m 600 "$gate"
  unshare --user --mount --pid --fork --kill-child -- \
    bash -c 'read -r _ <"$0"; rm -f "$0"; exec "$@"' "$gate" "$@" &
  I386_UNSHARE_PID=$!
  own=$(readlink /proc/self/ns/user)
  while [ "$(readlink "/proc/$I386_UNSHARE_PID/ns/user" 2>/dev/null)" = "$own" ]; do
    sleep 0.01
  done
  echo '0 0 4294967295' >"/proc/$I386_UNSHARE_PID/uid_map"
  echo '0 0 4294967295' >"/proc/$I386_UNSHARE_PID/gid_map"
  echo go >"$gate"
}

# The emulated road's interpreter, I386_QEMU: qemu-user-static's i386
# emulator (a static program; the kernel tells it that argv[0] comes
# along), unpacked from its package beside the root DIR. Installing the
# package would register it in the machine's binfmt_misc, taking every
# i386 program there off native execution.
i386_qemu() {  # DIR
  local qemu=$1.qemu
  I386_QEMU=$qemu/usr/bin/qemu-i386-static
  [ -x "$I386_QEMU" ] && return 0
  rm -rf "$qemu" "$qemu.part"
  mkdir -p "$qemu.part"
  (cd "$qemu.part" && apt-get download -q -o APT::Sandbox::User=root qemu-user-static >/dev/null) ||
    return 1
  dpkg-deb --fsys-tarfile "$qemu.part"/qemu-user-static_*.deb |
    tar -x -C "$qemu.part" ./usr/bin/qemu-i386-static || return 1
  rm -f "$qemu.part"/*.deb
  mv "$qemu.part" "$qemu"
}

# The mirror apt uses for SUITE's main component: from apt's lists, else
# from its sources (one-line and deb822 forms).
i386_mirror() {  # SUITE
  local sources=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
  {
    { apt-cache policy 2>/dev/null || true; } |
      awk -v want="$1/main" '$3 == want && $2 ~ /^https?:/ { print $2 }'
    { cat "${sources[@]}" 2>/dev/null || true; } | awk -v suite="$1" '
      $1 == "deb" && $3 == suite { print $2 }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) print uri }'
  } | awk '/^https?:\/\// && !found { print; found = 1 }'
}

# Makes the root at DIR unless a complete one is there: in DIR.part, moved
# into place only when complete, so a failed or stopped attempt is never
# taken for a root. From the mirror apt uses; its log in DIR.log. Two
# callers at once make it once: the second waits for the first.
i386_root_make() {  # DIR
  local dir lock status=0
  dir=$(realpath -m "$1")
  mkdir -p "$(dirname "$dir")"
  exec {lock}>"$dir.lock"
  flock "$lock"
  i386_root_make_unlocked "$dir" || status=$?
  exec {lock}>&-
  return "$status"
}

# How the root DIR's programs run: natively, or else under qemu.
i386_road() {  # DIR
  i386_native || i386_qemu "$1" && return 0
  echo "this kernel runs no i386 programs, and qemu-user-static could not be had" >&2
  return 1
}

i386_root_make_unlocked() {  # DIR
  local dir=$1 packages="${I386_ROOT_PACKAGES[*]}" suite mirror
  [ "$(cat "$dir/.tarvona-root" 2>/dev/null)" = "$packages" ] && return 0
  i386_road "$dir" || return 1
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(i386_mirror "$suite")
  if [ -z "$mirror" ]; then
    echo "apt knows no mirror for $suite/main" >&2
    return 1
  fi
  rm -rf "$dir" "$dir.part"
  mkdir -p "$dir.part"
  # debootstrap's second stage, as a container's, makes no device nodes,
  # which a user namespace may not.
  I386_DIR=$dir.part I386_SHARED='' I386_NATIVE=$I386_NATIVE I386_QEMU=${I386_QEMU:-} container=lxc \
    i386_unshare bash -c '
      set -e
      i386_namespace_init
      debootstrap --arch=i386 --variant=minbase "$0" "$I386_DIR" "$1"
      umount -R "$I386_DIR/proc" "$I386_DIR/sys" 2>/dev/null || true
      i386_namespace_mount_root
      chroot "$I386_DIR" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        sh -c "apt-get update -qq && apt-get install -y -qq --no-install-recommends $2 && apt-get clean"
    ' "$suite" "$mirror" "$packages" >"$dir.log" 2>&1
  if ! wait "$I386_UNSHARE_PID"; then
    tail -20 "$dir.log" >&2
    echo "making the i386 root failed; its log: $dir.log" >&2
    return 1
  fi
  printf '%s' "$packages" >"$dir.part/.tarvona-root"
  mv "$dir.part" "$dir"
}

# The namespace around the root DIR, kept by a shell of the machine's as
# its PID 1 until i386_root_leave.
i386_root_enter() {  # DIR SHARED...
  I386_ROOT=$(realpath "$1")
  shift
  i386_road "$I386_ROOT" || return 1
  local ready
  ready=$(mktemp -u)
  I386_DIR=$I386_ROOT I386_SHARED="$*" I386_NATIVE=$I386_NATIVE I386_QEMU=${I386_QEMU:-} \
    i386_unshare bash -c 'trap "exit 0" TERM
                          i386_namespace_init && i386_namespace_mount_root && : >"$0" &&
                          while :; do sleep 3600 & wait $!; done' "$ready"
  for _ in $(seq 200); do
    [ -e "$ready" ] && break
    kill -0 "$I386_UNSHARE_PID" 2>/dev/null || break
    sleep 0.05
  done
  I386_KEEPER=
  read -r I386_KEEPER _ <"/proc/$I386_UNSHARE_PID/task/$I386_UNSHARE_PID/children" 2>/dev/null || true
  if [ ! -e "$ready" ]; then
    echo "the namespace around $I386_ROOT did not start" >&2
    i386_root_leave
    return 1
  fi
  rm -f "$ready"
  I386_COMMAND=(nsenter --target "$I386_KEEPER" --user --mount --pid --
    setarch i686 chroot "$I386_ROOT" /bin/sh -c 'cd "$0" 2>/dev/null || cd /; exec "$@"' "$PWD")
}

i386_run() { "${I386_COMMAND[@]}" "$@"; }

# unshare ignores SIGTERM while it waits; the namespace's PID 1 takes it,
# and its end ends the namespace and all that still runs there.
i386_root_leave() {
  if [ -n "${I386_KEEPER:-}" ]; then
    kill -TERM "$I386_KEEPER" 2>/dev/null || true
  fi
  if [ -n "${I386_UNSHARE_PID:-}" ]; then
    wait "$I386_UNSHARE_PID" 2>/dev/null || true
  fi
  I386_UNSHARE_PID=
  I386_KEEPER=
  I386_COMMAND=(false)
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
  fi
  started=$(date +%s)
  i386_root_make "$1"
  echo "i386 root at $1 ($(du -sh "$1" | cut -f1)) in $(($(date +%s) - started)) s"
fi
