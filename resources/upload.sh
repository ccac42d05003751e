# Receives one pasted image on standard input and stores it under the remote home.
# Arguments: $1 the upload identifier (an upper-case UUID), $2 the number of image bytes
# that follow on standard input. On success it prints one line
# TARPELIX_UPLOAD_<identifier>=<absolute path> and exits 0; otherwise it explains the
# failure on standard error and exits non-zero. Kept free of backslashes and exclamation
# marks so every common login shell passes it to sh unchanged. Every check is a shell
# builtin: a successful upload starts three programs (cat, wc, mv), the folder's first
# upload two more.
umask 077
partial=
fail() {
    [ -z "$partial" ] || rm -f "$partial"
    echo "tarpelix upload: $1" >&2
    exit 1
}
id=${1-}
count=${2-}
x=[0-9A-F-]
case $id in
$x$x$x$x$x$x$x$x-$x$x$x$x-$x$x$x$x-$x$x$x$x-$x$x$x$x$x$x$x$x$x$x$x$x) ;;
*) fail "invalid upload identifier" ;;
esac
case ${#count} in
[1-9] | 1[012]) ;;
*) fail "invalid byte count" ;;
esac
digits=$count
while [ -n "$digits" ]; do
    case $digits in
    [0-9]*) digits=${digits#?} ;;
    *) fail "invalid byte count" ;;
    esac
done
case ${HOME-} in
/*) ;;
*) fail "no absolute home directory" ;;
esac
dir=$HOME/.cache/tarpelix/uploads
[ -d "$dir" ] || {
    mkdir -p "$dir" || fail "cannot create $dir"
    chmod 700 "$dir" || fail "cannot protect $dir"
}
target=$dir/$id.png
partial=$dir/.$id.png.partial
trap 'rm -f "$partial"; exit 1' HUP INT TERM
# A fresh file (noclobber) made under umask 077 is private from its first byte.
set -C
# The sender closes the stream after the image: all of it is the image, and a stream cut
# short or too long is refused by the count below.
cat >"$partial" || fail "cannot write $partial"
received=$(wc -c <"$partial")
received=${received##* }
case $received in
"$count") ;;
*) fail "received $received of $count bytes" ;;
esac
mv -f "$partial" "$target" || fail "cannot move the image into place"
printf '%s' "TARPELIX_UPLOAD_$id=$target"
echo
