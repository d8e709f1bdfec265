# Sourced by run.sh and test.sh: installs, through apt-get, the Debian
# packages from the given list that this machine lacks. Nothing is done, and
# no package list is fetched, when all are installed.

jq_missing_packages() {
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q "install ok installed"; then
            echo "$package"
        fi
    done
}

jq_ensure_packages() {
    local missing sudo=""
    # Inside the emulated machine of scripts/wine32-vm.sh, which has no
    # network: its packages are the image's.
    [ -n "${JQ_IN_EMULATED_MACHINE:-}" ] && return 0
    missing=$(jq_missing_packages "$@")
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "not root and no sudo: install $missing" >&2; return 1; }
        sudo="sudo"
    fi
    echo "Installing: $(echo $missing)"
    # 32-bit packages (wine32:i386) come from the i386 architecture, which a
    # fresh amd64 Debian does not list until it is added.
    if echo "$missing" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386 || return 1
    fi
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

# What each test tier needs (scripts/test.sh installs those of the tiers it
# is asked for). The native tiers and the mutation run: the product against
# the simulator, with GoogleTest.
JQ_PACKAGES_NATIVE=(cmake make g++ python3 libgtest-dev libgmock-dev googletest)
# The shipped i686 DLL and its static checks; GoogleTest's sources for the
# cross-built contract tests.
JQ_PACKAGES_WIN32=(cmake make python3 googletest g++-mingw-w64-i686-win32 binutils-mingw-w64-i686)
# The shipped DLL under wine32, the installers, and the preview tool (a
# native build) that the agreement test compares with.
JQ_PACKAGES_WINE32=("${JQ_PACKAGES_NATIVE[@]}" g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
                    wine wine64 wine32:i386 xvfb xauth nsis)
# The x86_64 build under wine64.
JQ_PACKAGES_WIN64=(cmake make python3 googletest g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
                   wine wine64 xvfb xauth nsis)
# The fuzzers: scripts/fuzz.sh installs its compiler itself.
JQ_PACKAGES_FUZZ=(cmake make)

# Everything the builds and the tests need.
JQ_PACKAGES=(
    cmake make g++ python3
    libgtest-dev libgmock-dev googletest
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 xvfb xauth
    nsis
)

# The packages of the given test tiers (scripts/test.sh's names), one a line.
jq_tier_packages() {
    local tier
    for tier in "$@"; do
        case $tier in
        native) printf '%s\n' "${JQ_PACKAGES_NATIVE[@]}" chromium ;;  # chromium renders the HTML report
        native-asan | mutation) printf '%s\n' "${JQ_PACKAGES_NATIVE[@]}" ;;
        win32) printf '%s\n' "${JQ_PACKAGES_WIN32[@]}" ;;
        wine32) printf '%s\n' "${JQ_PACKAGES_WINE32[@]}" ;;
        win64) printf '%s\n' "${JQ_PACKAGES_WIN64[@]}" ;;
        fuzz) printf '%s\n' "${JQ_PACKAGES_FUZZ[@]}" ;;
        esac
    done | sort -u
}

# npm, for the Inno Setup compiler that the installer tests take from the npm
# registry. Node.js and npm may come from elsewhere than Debian (a machine
# image's own Node.js): Debian's npm is installed only when there is none.
jq_ensure_npm() {
    command -v npm >/dev/null 2>&1 || jq_ensure_packages npm
}

# Why this machine cannot run the 32-bit Wine loader, or nothing when it can.
# Whether a machine runs 32-bit programs is the kernel's choice (its IA-32
# emulation), not the distribution's: machines of one kind differ, so it is
# asked each time, never assumed.
jq_wine32_problem() {
    local loader=${WINE32:-/usr/lib/wine/wine} out
    [ -x "$loader" ] || { echo "no $loader: wine32:i386 is not installed"; return; }
    if ! out=$("$loader" --version 2>&1 </dev/null); then
        echo "this machine cannot run 32-bit programs: $(echo "$out" | tail -1 | sed "s/^.*: line [0-9]*: //")"
    fi
}
