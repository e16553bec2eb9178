#!/usr/bin/env bash
# Installs a built Debian package on a fresh, minimal Debian 12 (debootstrap
# into a folder, then apt in a chroot) and starts both programs there, so that
# a dependency missing from the package shows here rather than on a user's
# machine. Usage:
#   tests/fresh_install_test.sh kelvane_<version>_<arch>.deb [base-tarball]
# With a base tarball, the downloaded base system is kept there and reused on
# later runs. Needs root, debootstrap and the network; skips (exit 77) without.
# KELVANE_DEBIAN_MIRROR picks another mirror.
set -euo pipefail
deb="$(realpath "${1:?usage: $0 kelvane_<version>_<arch>.deb [base-tarball]}")"
tarball="${2:+$(realpath -m "$2")}"
mirror="${KELVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}"

skip() {
  echo "fresh_install_test: skipped: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot)"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
wget -q -T 20 -t 1 --spider "$mirror/dists/bookworm/Release" || skip "cannot reach $mirror"

target="$(mktemp -d)"
# apt downloads as the user _apt, who must be able to enter the root.
chmod 755 "$target"
cleanup() {
  if mountpoint -q "$target/proc"; then
    umount "$target/proc"
  fi
  # Nothing may stay mounted below a folder that is about to be deleted.
  if ! findmnt -rn -o TARGET | grep -q "^$target/"; then
    rm -rf --one-file-system "$target"
  else
    echo "fresh_install_test: $target still has mounts, left in place" >&2
  fi
}
trap cleanup EXIT

step_start=0
step() {
  step_start=$SECONDS
  echo "fresh_install_test: $*"
}
step_done() { echo "fresh_install_test:   took $((SECONDS - step_start)) s"; }
in_target() { chroot "$target" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

if [ -n "$tarball" ] && [ ! -f "$tarball" ]; then
  step "downloading the Debian 12 base into $tarball"
  # Written aside first, so that an interrupted download leaves no tarball.
  debootstrap --variant=minbase --make-tarball="$target/base.tgz" bookworm "$target/download" \
    "$mirror"
  mv "$target/base.tgz" "$tarball"
  rm -rf "$target/download"
  step_done
fi
step "installing the Debian 12 base (minbase) into $target"
debootstrap --variant=minbase ${tarball:+--unpack-tarball="$tarball"} bookworm "$target" "$mirror"
step_done

mount -t proc proc "$target/proc"

# As on an installed system: the point release and its security updates.
cat >"$target/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp "$deb" "$target/tmp/"
step "apt install ./$(basename "$deb")"
in_target apt-get update -q
# Without Recommends: Depends alone must give programs that start.
in_target env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  -o Dpkg::Use-Pty=0 "./tmp/$(basename "$deb")"
step_done

step "kelvane-run"
in_target kelvane-run --version
in_target sh -c 'cd /tmp && kelvane-run --steps 10 --curves run --csv run/run.csv'
[ "$(grep -c ' ; ' "$target/tmp/run/N1(t).txt")" -eq 10 ] ||
  { echo "fresh_install_test: kelvane-run wrote no 10 steps" >&2; exit 1; }
step_done

step "python3 -c 'import kelvane'"
# The same run from Python: the package's Depends bring python3 and numpy.
in_target sh -c 'cd /tmp && python3 -c "import kelvane; kelvane.run(kelvane.Session(), steps=10).write_csv(\"py.csv\")"'
cmp "$target/tmp/py.csv" "$target/tmp/run/run.csv" ||
  { echo "fresh_install_test: kelvane.run wrote other bytes than kelvane-run" >&2; exit 1; }
step_done

# The window runs offscreen here, but on a desktop Qt loads its X11 plugin:
# every library that plugin needs must have come with the package too.
step "libraries of Qt's X11 platform plugin"
missing="$(in_target sh -c 'ldd /usr/lib/*/qt6/plugins/platforms/libqxcb.so' | grep 'not found' || true)"
if [ -n "$missing" ]; then
  echo "fresh_install_test: Qt's X11 plugin lacks libraries:" >&2
  echo "$missing" >&2
  exit 1
fi
step_done

step "kelvane, offscreen, for 5 s"
log="$target/tmp/kelvane.log"
status=0
in_target env QT_QPA_PLATFORM=offscreen timeout 5 kelvane >"$log" 2>&1 || status=$?
cat "$log"
if [ "$status" -ne 124 ]; then
  echo "fresh_install_test: kelvane ended with $status before 5 s" >&2
  exit 1
fi
if grep -Eq 'error while loading|not found|Could not (load|find)|Cannot find font' "$log"; then
  echo "fresh_install_test: kelvane reported a missing library, plugin or font (above)" >&2
  exit 1
fi
step_done

echo "fresh_install_test: $(basename "$deb") installs and runs on a fresh Debian 12 ($SECONDS s)"
