#!/bin/sh
# Installs the build into a fresh prefix, checks the installed layout and the public headers,
# then builds the consumer program outside the source tree against the installed files, through
# find_package (mode package) or pkg-config (mode pkg-config), and runs it on a NIST print.
# Usage: check_install.sh <mode> <work dir> <build dir> <source dir> <c++ compiler> <jni ON|OFF>
#            <toolchain file|-> <extra compile and link flags|-> [emulator command...]
set -eu
mode=$1 work=$2 build=$3 source=$4 cxx=$5 jni=$6 toolchain=$7 extra=$8
shift 8
[ "$extra" = "-" ] && extra=
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# 1. Only the deliverables are installed, and all of them.
allowed='^(lib/libzelvanfp\.so(\.2(\.0\.0)?)?|lib/libzelvanfp_jni\.so|include/zelvanfp/(ZelvanFinger|WsqCodec)\.h|lib/cmake/zelvanfp/zelvanfp(Config|ConfigVersion|Targets|Targets-[a-z]+)\.cmake|lib/pkgconfig/zelvanfp\.pc|share/java/zelvanfp\.jar|share/doc/zelvanfp/README\.md)$'
files=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
echo "installed:"
echo "$files" | sed 's/^/  /'
status=0
if echo "$files" | grep -Ev "$allowed"; then
    echo "unexpected installed files (above)"
    status=1
fi
required="lib/libzelvanfp.so lib/libzelvanfp.so.2 include/zelvanfp/ZelvanFinger.h include/zelvanfp/WsqCodec.h lib/cmake/zelvanfp/zelvanfpConfig.cmake lib/pkgconfig/zelvanfp.pc"
if [ "$jni" = "ON" ]; then
    required="$required lib/libzelvanfp_jni.so share/java/zelvanfp.jar"
else
    echo "$files" | grep -q jni && { echo "binding installed in a build without it"; status=1; }
fi
for f in $required; do
    [ -e "$prefix/$f" ] || { echo "missing: $f"; status=1; }
done

# 2. Each public header compiles on its own, included first by a file of one line.
for h in ZelvanFinger.h WsqCodec.h; do
    printf '#include <zelvanfp/%s>\n' "$h" |
        "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I "$prefix/include" -x c++ - ||
        { echo "$h does not compile alone"; status=1; }
done
[ $status -eq 0 ] || exit $status

# 3. The consumer, built against the installed files only.
consumer=$work/consumer
if [ "$mode" = "package" ]; then
    if [ "$toolchain" = "-" ]; then
        cmake -S "$source/tests/install/consumer" -B "$consumer" -DCMAKE_PREFIX_PATH="$prefix" \
            -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$extra" \
            -DCMAKE_EXE_LINKER_FLAGS="$extra" >"$work/configure.log"
    else
        # A cross toolchain looks for packages in its target tree: name the package's folder.
        cmake -S "$source/tests/install/consumer" -B "$consumer" \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -Dzelvanfp_DIR="$prefix/lib/cmake/zelvanfp" >"$work/configure.log"
    fi
    cmake --build "$consumer" >"$work/build.log"
    program=$consumer/consumer
else
    flags=$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config --cflags --libs zelvanfp)
    libdir=$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config --variable=libdir zelvanfp)
    echo "pkg-config --cflags --libs zelvanfp: $flags"
    mkdir -p "$consumer"
    # shellcheck disable=SC2086
    "$cxx" -std=c++17 -Wall -Wextra -Werror "$source/tests/install/consumer/main.cpp" $flags \
        $extra -Wl,-rpath,"$libdir" -o "$consumer/consumer"
    program=$consumer/consumer
fi
"$@" "$program" "$source/tests/data/wsq/fp11.wsq" 1
