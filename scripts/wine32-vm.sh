#!/usr/bin/env bash
# wine32 where the kernel runs no 32-bit programs: a small x86_64 Debian
# machine, booted under qemu's software emulation (no KVM needed), in which
# Debian's wine32 does run. The shipped DLL is 32-bit and so are its host
# program and the installers, so this is how the Wine tiers load the DLL we
# ship on such a machine, instead of a 64-bit stand-in.
#
#   scripts/wine32-vm.sh problem
#       why no emulated machine can be had here; prints nothing when it can
#   scripts/wine32-vm.sh image
#       makes the machine's disk image, once per machine; prints its folder
#   scripts/wine32-vm.sh run IO COMMAND...
#       boots the machine once. The repository is shared read-only, IO (a
#       folder of this machine) read-write at /io. Inside, a copy of the
#       repository (without build/, but with the files IO/build-files lists,
#       one path a line) in /jq runs COMMAND from /jq, with WINE32 naming the
#       machine's wine32 (below). The console goes to the screen (from the
#       init's first line) and all of it to IO/console.log; exits with
#       COMMAND's code, or 3 when the machine ended without one.
#
# The image: `debootstrap --variant=minbase` of this machine's Debian release
# from the mirror apt already uses, with wine32:i386, wine64, wine, xvfb,
# xauth, python3, nsis (makensis) and a kernel, as an ext4 image made with
# `mkfs.ext4 -d`. Its PID 1 is a small init that runs /io/run.sh and powers
# off. Once made, the image is booted once, writable, to make a WoW64 Wine
# prefix in it: under software emulation `wineboot -i` takes minutes (578 s
# measured on a busy machine, against 15 s natively), so the machine's `wine`
# (/usr/local/bin/wine, also WINE32) answers `wineboot -i` for a prefix not
# made yet with a copy of that one, which the same Wine made fresh; any
# other command goes to Wine's loader. The image is kept in
# build/cache/wine32-vm-KEY/ and machine-wide in JQ_VM_CACHE (default
# /var/cache/jqinst2k), so that a fresh clone on the same machine (as CI
# runs) links it instead of making it again. KEY is a hash of the recipe
# below: a changed recipe makes a new image. Making one needs root (or sudo)
# and the Debian mirror; booting it takes about 10 s.
#
# JQ_VM_MEMORY (MiB, default 4096), JQ_VM_CPUS (default 2) and JQ_VM_TIMEOUT
# (seconds for one boot, default 3600: the six wine32 steps take 15 to 40
# minutes under emulation, by how busy the machine is) size a run.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"

machine_cache=${JQ_VM_CACHE:-/var/cache/jqinst2k}
project_cache=$root/build/cache

say() { echo "wine32-vm: $*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

# This machine's Debian release, for the guest: the host builds the preview
# tool, which then runs inside, so both need the same C library.
suite() {
    local codename=
    # shellcheck disable=SC1091
    [ -r /etc/os-release ] && codename=$(. /etc/os-release && [ "${ID:-}" = debian ] && echo "${VERSION_CODENAME:-}")
    echo "${codename:-bookworm}"
}

# The Debian mirror this machine's apt already uses (deb822 or one-line
# sources), or Debian's own when none is named.
mirror() {
    local uri
    uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i ~ /\/debian\/?$/) { print $i; exit } }' \
        /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
    [ -z "$uri" ] && uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\/.*\/debian\/?$/) { print $i; exit } }' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -1)
    echo "${uri:-http://deb.debian.org/debian}"
}

# --- the recipe: everything in these functions goes into the image's key

# The guest's PID 1. Mounts the shares, runs /io/run.sh, powers off.
write_init() {  # FILE
    cat > "$1" <<'EOF'
#!/bin/sh
# PID 1 of the emulated machine: runs /io/run.sh from the 9p share "io",
# with the repository (share "repo", read-only) at /repo, then powers off.
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
export PATH HOME LANG
# The initrd hands over /proc, /sys, /dev and /run already mounted.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mountpoint -q /run || mount -t tmpfs tmpfs /run
mkdir -p /dev/pts /dev/shm /io /repo
mountpoint -q /dev/pts || mount -t devpts devpts /dev/pts
mountpoint -q /dev/shm || mount -t tmpfs tmpfs /dev/shm
mount -o remount,rw /   # the work goes on the disk: a WoW64 prefix is over 1 GB
echo jqvm > /proc/sys/kernel/hostname
modprobe 9pnet_virtio
modprobe 9p
shares="trans=virtio,version=9p2000.L,msize=524288"
mount -t 9p -o "$shares" io /io
mount -t 9p -o "$shares,ro" repo /repo
echo "vm-init: up after $(cut -d' ' -f1 /proc/uptime) s"
if [ -x /io/run.sh ]; then
    (cd /io && ./run.sh </dev/null; echo $? > /io/rc.new && mv /io/rc.new /io/rc)
else
    echo "vm-init: no /io/run.sh"
fi
sync
umount /io /repo
mount -o remount,ro /
echo o > /proc/sysrq-trigger
while :; do :; done  # a builtin: nothing touches the disk while the machine powers off
EOF
    chmod 755 "$1"
}

# The machine's `wine`: for `wineboot -i` of a prefix that does not exist
# yet, a copy of the prefix made with the image; else Wine's loader.
write_wine() {  # FILE
    cat > "$1" <<'WINE'
#!/bin/sh
# wine in the emulated machine. Under software emulation `wineboot -i` takes
# minutes; the prefix it would make is the one this image's Wine made when
# the image was built, copied (it holds no path of its own, so it moves).
template=/var/lib/jqvm/wine-prefix
prefix=${WINEPREFIX:-$HOME/.wine}
if [ $# -eq 2 ] && [ "$1" = wineboot ] && { [ "$2" = -i ] || [ "$2" = --init ]; } &&
    [ -f "$template/system.reg" ] && [ ! -e "$prefix/system.reg" ]; then
    mkdir -p "$prefix" && cp -a "$template/." "$prefix/" && exit 0
    echo "wine: cannot copy $template to $prefix" >&2
    exit 1
fi
exec /usr/lib/wine/wine "$@"
WINE
    chmod 755 "$1"
}

# Run once in the new image, writable: the WoW64 prefix the machine's wine copies.
write_template_script() {  # FILE
    cat > "$1" <<'SCRIPT'
#!/bin/sh
# Makes the WoW64 prefix that the machine's wine copies for `wineboot -i`,
# under a display, as the tests make theirs.
export WINEPREFIX=/var/lib/jqvm/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
started=$(date +%s)
xvfb-run -a sh -c '/usr/lib/wine/wine wineboot -i; /usr/lib/wine/wineserver -w' >/dev/null 2>&1
if [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wineboot -i made no WoW64 prefix"
    exit 1
fi
echo "vm: WoW64 prefix made in $(($(date +%s) - started)) s, $(du -sm "$WINEPREFIX" | cut -f1) MB"
started=$(date +%s)
cp -a "$WINEPREFIX/." /tmp/copy-test/ && rm -rf /tmp/copy-test
echo "vm: a copy of it takes $(($(date +%s) - started)) s"
SCRIPT
    chmod 755 "$1"
}

make_image() {  # DIR: writes DIR/root.img, DIR/vmlinuz, DIR/initrd.img
    local dir=$1 tree=$1/tree suite mirror
    suite=$(suite)
    mirror=$(mirror)
    export DEBIAN_FRONTEND=noninteractive
    say "debootstrap --variant=minbase $suite from $mirror"
    debootstrap --arch=amd64 --variant=minbase "$suite" "$tree" "$mirror" >"$dir/debootstrap.log" 2>&1 || {
        tail -20 "$dir/debootstrap.log" >&2
        return 1
    }
    # The guest installs from the sources this machine's apt uses.
    if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
        cp /etc/apt/sources.list.d/*.sources "$tree/etc/apt/sources.list.d/"
        rm -f "$tree/etc/apt/sources.list"
    fi
    cp /etc/resolv.conf "$tree/etc/resolv.conf"
    printf '#!/bin/sh\nexit 101\n' > "$tree/usr/sbin/policy-rc.d"  # no service starts in the chroot
    chmod 755 "$tree/usr/sbin/policy-rc.d"
    # A small initrd that only finds and mounts /dev/vda: seconds to make,
    # not the minute a generic one takes.
    mkdir -p "$tree/usr/share/initramfs-tools/modules.d" "$tree/etc/initramfs-tools/conf.d"
    printf 'virtio_pci\nvirtio_blk\next4\n' > "$tree/usr/share/initramfs-tools/modules.d/jqvm"
    echo MODULES=list > "$tree/etc/initramfs-tools/conf.d/jqvm"
    mount -t proc proc "$tree/proc" || return 1
    local rc=0
    say "installing wine32:i386, wine64, xvfb, python3 and a kernel in the image"
    {
        chroot "$tree" dpkg --add-architecture i386 &&
            chroot "$tree" apt-get update -qq &&
            chroot "$tree" apt-get install -y -qq --no-install-recommends \
                wine wine64 wine32:i386 xvfb xauth python3 nsis linux-image-amd64 &&
            chroot "$tree" apt-get clean
    } >"$dir/packages.log" 2>&1 || rc=$?
    umount "$tree/proc"
    if [ $rc -ne 0 ]; then
        tail -20 "$dir/packages.log" >&2
        return 1
    fi
    rm -f "$tree/usr/sbin/policy-rc.d" "$tree/etc/resolv.conf"
    rm -rf "$tree/var/lib/apt/lists/"*
    write_init "$tree/sbin/jqvm-init"
    write_wine "$tree/usr/local/bin/wine"
    mkdir -p "$tree/var/lib/jqvm"
    cp "$tree"/boot/vmlinuz-* "$dir/vmlinuz" && cp "$tree"/boot/initrd.img-* "$dir/initrd.img" || return 1
    say "ext4 image"
    # Sparse: 16 GB of room for the prefixes, about 1.5 GB written.
    mkfs.ext4 -q -F -L jqvm -d "$tree" "$dir/root.img" 16G || return 1
    rm -rf "$tree"
}

key() {
    { suite; declare -f write_init write_wine write_template_script make_image; } | sha256sum | cut -c1-16
}

# --- keeping the image

# DIR holds a finished image when its "done" file is there.
complete() { [ -f "$1/done" ] && [ -f "$1/root.img" ] && [ -f "$1/vmlinuz" ] && [ -f "$1/initrd.img" ]; }

# Puts an image into another folder: hard links where both are on one file
# system (the image is never written: every boot runs on a snapshot), else
# a sparse copy.
place() {  # FROM TO
    local from=$1 to=$2 file
    rm -rf "$to.new" && mkdir -p "$to.new" || return 1
    for file in root.img vmlinuz initrd.img done; do
        ln "$from/$file" "$to.new/$file" 2>/dev/null || cp --sparse=always "$from/$file" "$to.new/$file" || return 1
    done
    rm -rf "$to" && mv "$to.new" "$to"
}

image() {
    local key here there started
    key=$(key)
    here=$project_cache/wine32-vm-$key
    there=$machine_cache/wine32-vm-$key
    if complete "$here"; then
        echo "$here"
        return 0
    fi
    mkdir -p "$project_cache"
    # One build at a time on this machine; a second run waits and then links.
    local lock=$machine_cache/wine32-vm.lock
    { as_root mkdir -p "$machine_cache" && as_root touch "$lock"; } 2>/dev/null || lock=$project_cache/wine32-vm.lock
    exec 9>>"$lock"
    flock 9
    if complete "$there"; then
        say "linking the machine-wide image $there"
        place "$there" "$here" || return 1
        echo "$here"
        return 0
    fi
    jq_ensure_packages debootstrap e2fsprogs qemu-system-x86 >&2 || return 1
    say "making the image once for this machine (some minutes): $here"
    started=$(date +%s)
    rm -rf "$here.build" && mkdir -p "$here.build" || return 1
    if ! as_root bash -c "$(declare -f say suite mirror write_init write_wine make_image); make_image '$here.build'" >&2; then
        say "making the image failed; its logs are in $here.build"
        as_root umount "$here.build/tree/proc" 2>/dev/null
        return 1
    fi
    # The machine is booted as this user; the tree was made as root.
    [ "$(id -u)" -eq 0 ] || as_root chown -R "$(id -u):$(id -g)" "$here.build" || return 1
    say "root file system made in $(($(date +%s) - started)) s; booting it once to make the WoW64 prefix (minutes)"
    local io=$here.build/template-io rc
    mkdir -p "$io" && write_template_script "$io/run.sh" || return 1
    boot "$here.build" "$io" off "${JQ_VM_TIMEOUT:-3600}" >&2
    rc=$?
    if [ $rc -ne 0 ]; then
        say "the WoW64 prefix could not be made (exit code $rc); the console is in $io/console.log"
        return 1
    fi
    echo "made in $(($(date +%s) - started)) s on $(date -u +%Y-%m-%dT%H:%MZ)" > "$here.build/done"
    rm -rf "$here" && mv "$here.build" "$here" || return 1
    # Older recipes' images in this clone are of no further use.
    local old
    for old in "$project_cache"/wine32-vm-*; do
        [ "$old" = "$here" ] || [ ! -d "$old" ] || rm -rf "$old"
    done
    if as_root mkdir -p "$machine_cache" 2>/dev/null && place "$here" "$there" 2>/dev/null; then
        say "kept machine-wide in $there"
    fi
    echo "$here"
}

problem() {
    command -v qemu-system-x86_64 >/dev/null || jq_ensure_packages qemu-system-x86 >/dev/null 2>&1 ||
        { echo "no qemu-system-x86_64, and it could not be installed"; return; }
    complete "$project_cache/wine32-vm-$(key)" && return
    complete "$machine_cache/wine32-vm-$(key)" && return
    if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
        echo "no image of the emulated machine yet, and making one needs root"
    fi
}

# The console as the screen shows it: from the init's first line, without
# the firmware's screen codes and the kernel's own messages (console.log
# keeps everything), line by line as it comes.
console() {
    sed -u -n 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1bc//g; /vm-init: up/,$ { /^\[ *[0-9]*\.[0-9]*\] /!p; }'
}

# Boots DIR's image once, running IO/run.sh. SNAPSHOT "on" throws away what
# the machine writes; "off" (making the image) keeps it.
boot() {  # DIR IO SNAPSHOT SECONDS
    local dir=$1 io=$2 snapshot=$3 secs=$4 rc
    rm -f "$io/rc" "$io/console.log"
    # -cpu max,-smap: with SMAP, qemu's emulation faults Wine's user-mode
    # iret and the program is killed.
    timeout "$secs" qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -cpu max,-smap \
        -m "${JQ_VM_MEMORY:-4096}" -smp "${JQ_VM_CPUS:-2}" -nographic -no-reboot -nic none \
        -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 init=/sbin/jqvm-init quiet panic=-1" \
        -drive "file=$dir/root.img,format=raw,if=virtio,cache=unsafe,snapshot=$snapshot" \
        -virtfs "local,path=$io,mount_tag=io,security_model=none,id=io" \
        -virtfs "local,path=$root,mount_tag=repo,security_model=none,id=repo,readonly=on" \
        </dev/null 2>&1 | sed -u 's/\r$//' | tee "$io/console.log" | console
    rc=${PIPESTATUS[0]}
    if [ ! -f "$io/rc" ]; then
        if [ "$rc" -eq 124 ]; then
            say "the emulated machine ran over $secs s and was stopped"
        else
            say "the emulated machine ended without a result (qemu exit code $rc)"
        fi
        echo "--- the end of $io/console.log:" >&2
        tail -20 "$io/console.log" | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1bc//g' >&2
        return 3
    fi
    return "$(cat "$io/rc")"
}

run() {  # IO COMMAND...
    local io dir
    io=$(cd "$1" && pwd) || return 3
    shift
    dir=$(image) || return 3
    touch "$io/build-files"
    {
        cat <<'EOF'
#!/bin/bash
# Written by scripts/wine32-vm.sh: copies the repository to the guest's own
# disk (Wine prefixes are large and many small writes, too slow over 9p),
# then runs the command.
set -e
mkdir -p /jq
(cd /repo && tar -cf - --exclude=./build --exclude=./.git .) | tar -C /jq -xf -
while read -r path; do
    [ -n "$path" ] && (cd /repo && cp -a --parents "$path" /jq)
done < /io/build-files
cd /jq
export WINE32=/usr/local/bin/wine  # the machine's wine: see scripts/wine32-vm.sh
echo "vm: the repository copied after $(cut -d' ' -f1 /proc/uptime) s"
set +e
EOF
        printf 'exec'
        printf ' %q' "$@"
        echo
    } > "$io/run.sh"
    chmod 755 "$io/run.sh"
    say "booting the emulated x86_64 machine ($(sed 's/ on .*//' "$dir/done"))"
    # snapshot=on: the image stays as made; what the machine writes is
    # thrown away when it ends.
    boot "$dir" "$io" on "${JQ_VM_TIMEOUT:-3600}"
}

case ${1:-} in
problem) problem ;;
image) image ;;
run)
    [ $# -ge 3 ] || { sed -n 8,16p "$0"; exit 2; }
    shift
    run "$@"
    ;;
key) key ;;
*) sed -n 2,30p "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
