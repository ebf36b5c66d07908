#!/usr/bin/env bash
# The one-caller checks (libswresample's and libswscale's converters, whole
# file reads, FFmpeg's frame rate guess, the system resolver, the VM's calls
# of a given function, the master clock's fields, the unbounded pixel
# sources) against small trees: a call on one line, a call whose
# parenthesis is on the next line, the function's address taken, its name
# handed to dlsym and a token paste each fail on their line outside the home
# file; a mention in a comment or a string, the home file and the listed
# peers pass; a wrapper beside a listed function fails; the real tree passes.
scripts="$1"
source_dir="$2"
source "$(dirname "$0")/harness.sh"

# side_doors CHECK FUNCTION HOME: a tree whose src/other.cpp reaches FUNCTION
# by each road, and whose HOME calls it.
side_doors() {
    local check="$1" function="$2" home="$3" tree="$work/$1-$2"
    mkdir -p "$(dirname "$tree/$home")" "$tree/tests" "$tree/bench"
    printf 'int a = %s(x, y);\n' "$function" >"$tree/$home"
    cat >"$tree/src/other.cpp" <<SRC
int a = $function(x, y);
int b = $function
    (x, y);
auto c = &$function;
auto d = $function;
// $function(x, y) in a comment
const char* e = "$function(x, y)";
void* f = dlsym(RTLD_DEFAULT, "$function");
#define PASTE(a, b) a##b
SRC
    "$scripts/$check.sh" "$tree" >"$work/$check.out" 2>&1 && fail "$check $function: the tree passed"
    local line
    for line in 1 2 4 5 8 9; do
        grep -q "^src/other.cpp:$line:" "$work/$check.out" || fail "$check $function: line $line passed"
    done
    [ "$(grep '^src/' "$work/$check.out" | sort -u | wc -l)" -eq 6 ] || { fail "$check $function: six lines expected"; cat "$work/$check.out"; }
    rm "$tree/src/other.cpp"
    "$scripts/$check.sh" "$tree" >"$work/$check.out" 2>&1 || { fail "$check $function: the home file failed"; cat "$work/$check.out"; }
}

side_doors check_swr_convert swr_convert src/platform/linux/avresample.cpp
side_doors check_sws_scale sws_scale src/platform/linux/avscale.cpp
side_doors check_whole_reads LoadFileToMemory src/core/filehelpers.cpp
side_doors check_frame_rate av_guess_frame_rate src/platform/linux/avcommon.h
side_doors check_lookups getaddrinfo src/libs/netresolve.cpp
side_doors check_lookups gethostbyname_r src/libs/netresolve.cpp
side_doors check_lookups SocketGetHostByName src/libs/netresolve.cpp
side_doors check_given_calls VmCall src/vm/do.cpp
side_doors check_given_calls VmPCall src/vm/do.cpp
side_doors check_master_clock hasSound src/media/videoclock.cpp
side_doors check_pixel_sources kPixelsNotRead src/core/pixelbuffer.h

# A listed file holds the call in the functions it names only: a wrapper
# beside them, which the rest of the player could call, fails.
tree="$work/wrapper"
mkdir -p "$tree/src/libs" "$tree/tests"
cat >"$tree/src/libs/socket.cpp" <<'SRC'
int SocketGetHostByName(const char* name) {
    return gethostbyname_r(name);
}
int ResolveQuickly(const char* name) { return gethostbyname_r(name); }
SRC
"$scripts/check_lookups.sh" "$tree" >"$work/wrapper.out" 2>&1 && fail "check_lookups: a wrapper in a listed file passed"
grep -q '^src/libs/socket.cpp:4:' "$work/wrapper.out" || { fail "check_lookups: the wrapper's line"; cat "$work/wrapper.out"; }
[ "$(grep -c '^src/' "$work/wrapper.out")" -eq 1 ] || { fail "check_lookups: the listed function failed"; cat "$work/wrapper.out"; }

for check in check_swr_convert check_sws_scale check_whole_reads check_given_calls check_frame_rate check_lookups \
    check_master_clock check_pixel_sources; do
    "$scripts/$check.sh" "$source_dir" || fail "$check: the source tree"
done

finish
