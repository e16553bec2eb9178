#!/usr/bin/env bash
# Checks a built Debian package: usage: tests/package_test.sh kelvane_<version>_<arch>.deb
# Every fault is reported, then the script exits 1.
set -euo pipefail
deb="${1:?usage: $0 kelvane_<version>_<arch>.deb}"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

faults=0
fault() {
  echo "package_test: $*" >&2
  faults=$((faults + 1))
}

for program in kelvane kelvane-run; do
  [ -x "$root/usr/bin/$program" ] || fault "no executable /usr/bin/$program"
done

desktop="$root/usr/share/applications/kelvane.desktop"
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fault "kelvane.desktop does not validate (above)"
  # The menu entry must start what the package installs and show its icon.
  exec_line="$(sed -n 's/^Exec=//p' "$desktop")"
  [ -x "$root/usr/bin/${exec_line%% *}" ] || fault "Exec=$exec_line is not in /usr/bin"
  grep -qx 'Icon=kelvane' "$desktop" || fault "kelvane.desktop does not name the icon kelvane"
else
  fault "no /usr/share/applications/kelvane.desktop"
fi

icons="$root/usr/share/icons/hicolor"
[ -s "$icons/scalable/apps/kelvane.svg" ] || fault "no scalable icon kelvane.svg"
for size in 256 48; do
  png="$icons/${size}x${size}/apps/kelvane.png"
  if [ -f "$png" ]; then
    actual="$(identify -format '%wx%h' "$png")"
    [ "$actual" = "${size}x${size}" ] || fault "the ${size}x${size} icon is $actual"
  else
    fault "no ${size}x${size} icon"
  fi
done

manual="$root/usr/share/man/man1/kelvane-run.1.gz"
if [ -f "$manual" ]; then
  zcat "$manual" | grep -q 'species\\-radius' || fault "kelvane-run.1.gz does not list the options"
else
  fault "no manual page kelvane-run.1.gz"
fi
[ -f "$root/usr/share/man/man1/kelvane.1.gz" ] || fault "no manual page kelvane.1.gz"

# What Debian requires of every package: the copyright file (GPL-3.0-or-later,
# as the linked QCustomPlot binds the program) and a changelog whose newest
# entry is this package's version.
doc="$root/usr/share/doc/kelvane"
grep -qx 'License: GPL-3+' "$doc/copyright" 2>/dev/null || fault "no GPL-3+ copyright file"
version="$(dpkg-deb -f "$deb" Version)"
changelog_version="$( (zcat "$doc/changelog.gz" 2>/dev/null || true) | sed -n '1s/^kelvane (\([^)]*\)).*/\1/p')"
[ "$changelog_version" = "$version" ] ||
  fault "the changelog's newest entry is '$changelog_version', the package is $version"
[[ "$(dpkg-deb -f "$deb" Maintainer)" == *"<"*"@"*">" ]] || fault "no maintainer address"
if command -v lintian >/dev/null; then
  # Errors only; lintian warns that it runs as root, which is no fault here.
  errors="$(lintian --no-tag-display-limit "$deb" 2>/dev/null | grep '^E: ' || true)"
  [ -z "$errors" ] || fault "lintian reports errors: $errors"
else
  fault "lintian is not installed (scripts/deps.sh installs it)"
fi

# The README's pictures and pages are relative links: each must be in the package beside it.
if [ -f "$doc/README.md" ]; then
  while read -r picture; do
    [ -f "$doc/$picture" ] || fault "README.md shows $picture, which is not in the package"
  done < <(grep -o '](docs/[^)]*)' "$doc/README.md" | sed 's/^](//; s/)$//')
else
  fault "no /usr/share/doc/kelvane/README.md"
fi

depends="$(dpkg-deb -f "$deb" Depends)"
for package in libqt6widgets6 libqcustomplot libc6 libstdc++6; do
  [[ "$depends" == *"$package"* ]] || fault "Depends does not name $package: $depends"
done

if [ -x "$root/usr/bin/kelvane-run" ]; then
  if output="$("$root/usr/bin/kelvane-run" --version 2>&1)"; then
    [[ "$output" == *kelvane-run* ]] || fault "kelvane-run --version printed: $output"
  else
    fault "kelvane-run --version failed: $output"
  fi
fi

# The Python module, where Debian's python3 looks, with what it imports.
site="$root/usr/lib/python3/dist-packages"
if [ -f "$site/kelvane/__init__.py" ] && ls "$site"/kelvane/_kelvane*.so >/dev/null 2>&1; then
  if ! output="$(cd / && PYTHONPATH="$site" /usr/bin/python3 -c \
    'import kelvane; print(len(kelvane.run(kelvane.Session(), steps=2)))' 2>&1)"; then
    fault "python3 -c 'import kelvane' failed: $output"
  elif [ "$output" != 2 ]; then
    fault "kelvane.run(steps=2) gave $output steps"
  fi
else
  fault "no kelvane package (__init__.py and _kelvane*.so) in /usr/lib/python3/dist-packages"
fi
for package in python3 python3-numpy; do
  [[ ", $depends" == *", $package"* ]] || fault "Depends does not name $package: $depends"
done

if [ "$faults" -ne 0 ]; then
  echo "package_test: $faults fault(s) in $deb" >&2
  exit 1
fi
echo "package_test: $deb is complete"
