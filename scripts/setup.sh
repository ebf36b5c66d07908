# Shared by ./run and ./test: installs the Debian packages the build needs
# (only when one is missing) and configures and builds a build folder.
# Build output goes to standard error so that standard output is the player's.

QB_PACKAGES_BUILD=(cmake ninja-build g++ pkg-config libgtest-dev zlib1g-dev libsdl2-dev libpng-dev libjpeg62-turbo-dev libx11-dev
    libfreetype-dev libfontconfig-dev ttf-bitstream-vera libgtk-3-dev
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev)
# xfonts-base: the X core fonts that SDL's message box needs, for the error
# box test under Xvfb; xdotool presses the box's button there; gdb shows
# where a player that never opened its window there stood; llvm's coverage
# tools make the mutation sweep's map of which tests run which lines.
QB_PACKAGES_TEST=(clang libclang-rt-14-dev xvfb x11-utils x11-apps xfonts-base libjpeg-turbo-progs imagemagick netpbm
    libpixman-1-dev sox libcairo2-dev libagg-dev xdotool libopencv-imgproc-dev
    libmagickcore-6.q16-dev libarchive-zip-perl lua5.4 libswscale-dev liblua5.4-dev libimagequant-dev
    python3-fonttools fonts-dejavu-core libgif-dev giflib-tools locales ffmpeg libsdl2-ttf-dev xclip
    python3-pyftpdlib curl libxmp-dev libopenmpt-dev lld clang-tools gdb llvm)

qb_ensure_packages() {
    local missing=()
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}" >&2
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update >&2
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}" >&2
    fi
}

# qb_configure DIR [cmake options...]: configures DIR with CMake and Ninja
# unless it already is, with the same build type and the same QB_* options (a
# folder left by an older checkout with another type, or without an option
# added since, is configured anew).
qb_configure() {
    local dir="$1"
    shift
    local stale="" arg name
    for arg in "$@"; do
        case "$arg" in
        -DCMAKE_BUILD_TYPE=* | -DQB_*=*)
            name="${arg#-D}"
            grep -qx "${name%%=*}:[A-Z]*=${name#*=}" "$dir/CMakeCache.txt" 2>/dev/null || stale=1
            ;;
        esac
    done
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S . -B "$dir" -G Ninja "$@" >&2
    elif [ -n "$stale" ]; then
        cmake "$dir" "$@" >&2
    fi
}

# qb_build DIR [cmake options...]: configures DIR if need be and builds all of it.
qb_build() {
    qb_configure "$@"
    ninja -C "$1" >&2
}

# The one optimised tree: the player users run, the tests' plain run and the
# benchmarks. g++ at -O3 (-DCMAKE_BUILD_TYPE=Release). ./test adds
# QB_WERROR_TREE to each tree it builds; ./run does not, so that a user's
# compiler never fails the build on a warning.
QB_MAIN_TREE=(build -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++)
QB_WERROR_TREE=(-DQB_WERROR=ON)
# What ./run needs of it: the player, the developer tools and the examples.
QB_RUN_TARGETS=(quenbrookplayer qbasm qbdis qbapplet examples)
