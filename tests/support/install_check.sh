#!/usr/bin/env bash
# What an install puts where, checked on the build tree BUILD of version VERSION:
#   install_check.sh tree BUILD VERSION   cmake --install into a scratch prefix: exactly the expected
#                                         files, and both programs run from there
#   install_check.sh deb BUILD VERSION    cpack -G DEB: the package's name, version, section and
#                                         library dependencies, its files, and its programs run
# CMAKE and CPACK name the tools of the build (by default those on the PATH).
set -euo pipefail
mode="$1" build="$2" version="$3"
app_id=io.github.quenmar.Tavelo
expected=(
    bin/tavelo
    bin/tavelo-scan
    share/applications/$app_id.desktop
    share/icons/hicolor/scalable/apps/$app_id.svg
    share/metainfo/$app_id.metainfo.xml
    share/man/man1/tavelo.1.gz
    share/man/man1/tavelo-scan.1.gz
)
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The programs under PREFIX print their version without a display.
check_programs() {
    local prefix="$1" out
    for program in tavelo tavelo-scan; do
        out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$program" --version)" ||
            fail "$prefix/bin/$program --version exited with $?"
        [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
    done
}

case "$mode" in
tree)
    "${CMAKE:-cmake}" --install "$build" --prefix "$scratch/prefix" >/dev/null
    actual="$(cd "$scratch/prefix" && find . -type f -printf '%P\n' | sort)"
    wanted="$(printf '%s\n' "${expected[@]}" | sort)"
    [ "$actual" = "$wanted" ] || fail "installed files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$actual") || true)"
    for f in bin/tavelo bin/tavelo-scan; do
        [ -x "$scratch/prefix/$f" ] || fail "$f is not executable"
    done
    gzip -t "$scratch/prefix/share/man/man1/tavelo.1.gz" "$scratch/prefix/share/man/man1/tavelo-scan.1.gz"
    # The launcher names the icon and the program, the metainfo the launcher: all by the one id.
    entry="$scratch/prefix/share/applications/$app_id.desktop"
    metainfo="$scratch/prefix/share/metainfo/$app_id.metainfo.xml"
    grep -qx "Icon=$app_id" "$entry" || fail "the launcher does not name the icon $app_id"
    grep -qx "Exec=tavelo" "$entry" || fail "the launcher does not start tavelo"
    grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $app_id.desktop"
    check_programs "$scratch/prefix"
    ;;
deb)
    "${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
        fail "cpack failed: $(cat "$scratch/cpack.log")"
    debs=("$scratch"/out/tavelo_"$version"_*.deb)
    [ -f "${debs[0]}" ] || fail "no tavelo_${version}_*.deb: $(ls "$scratch/out")"
    deb="${debs[0]}"
    [ "$(dpkg-deb -f "$deb" Package)" = tavelo ] || fail "package name $(dpkg-deb -f "$deb" Package)"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
    [ "$(dpkg-deb -f "$deb" Section)" = mail ] || fail "section $(dpkg-deb -f "$deb" Section)"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
    depends="$(dpkg-deb -f "$deb" Depends)"
    for library in libc6 libqt6core6 libqt6network6 libqt6widgets6 libqt6multimedia6 libqt6svg6 libqt6keychain1 liblz4-1 libpcre2-16-0 qt6-qpa-plugins; do
        [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
            fail "Depends lacks $library: $depends"
    done
    listed="$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sed 's|^\./usr/||' | sort)"
    wanted="$(printf '%s\n' "${expected[@]}" | sort)"
    [ "$listed" = "$wanted" ] || fail "the package's files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$listed") || true)"
    dpkg-deb -x "$deb" "$scratch/root"
    check_programs "$scratch/root/usr"
    ;;
*)
    fail "usage: install_check.sh tree|deb BUILD VERSION"
    ;;
esac
echo "ok: $mode"
