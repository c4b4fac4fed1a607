#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on a fresh Debian 12 machine.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
    cmake make g++ libgtest-dev                     # native core and unit tests
    libbenchmark-dev                                # growth benchmarks against the fakes
    clang-14 libclang-rt-14-dev                     # libFuzzer targets
    mingw-w64                                       # servicepack.exe (cross build, windres)
    wine wine64                                     # end-to-end runs, Wine's msi.dll as installer
    wixl msitools                                   # sample product MSI for the installer tests
    python3 python3-olefile python3-pytest          # host tools and the test harness
    python3-pytest-xdist                            # end-to-end modules side by side
    python3-pefile                                  # reading built executables, their string tables
    osslsigncode openssl                            # Authenticode signing and its tests
    xvfb xauth imagemagick fonts-wqy-microhei       # screenshots of the boxes (xvfb-run)
    locales                                         # the locales below
)

# Every locale the tests and the demo run programs under. Wine takes the user's language from the
# name alone, but the code page it converts Linux arguments and environment with comes from the
# generated locale: without it, non-ASCII text reaches the program garbled. The second line holds
# regional variants of the tables' languages, each of which must read its language's table.
locales=(cs_CZ de_DE en_US es_ES fr_FR hu_HU it_IT ja_JP ko_KR nl_NL pl_PL pt_BR ru_RU zh_CN zh_TW
         de_AT de_CH en_GB es_MX fr_BE fr_CA it_CH pt_PT zh_HK zh_SG)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# glibc lists a generated locale under its normalized name (de_DE.utf8).
available=$(locale -a 2>/dev/null || true)
missing_locales=()
for l in "${locales[@]}"; do
    grep -qx "$l.utf8" <<<"$available" || missing_locales+=("$l")
done
if [ ${#missing_locales[@]} -gt 0 ]; then
    echo "Generating locales: ${missing_locales[*]}"
    for l in "${missing_locales[@]}"; do
        grep -qx "$l.UTF-8 UTF-8" /etc/locale.gen ||
            echo "$l.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
    done
    $sudo locale-gen --keep-existing >/dev/null
fi
