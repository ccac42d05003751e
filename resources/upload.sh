# Receives one pasted image on standard input and stores it under the remote home.
# Arguments: $1 the upload identifier (an upper-case UUID), $2 the number of image bytes
# that follow on standard input. On success it prints one line
# TARPELIX_UPLOAD_<identifier>=<absolute path> and exits 0; otherwise it explains the
# failure on standard error and exits non-zero. Kept free of backslashes and exclamation
# marks so every common login shell passes it to sh unchanged.
umask 077
fail() {
    echo "tarpelix upload: $1" >&2
    exit 1
}
id=${1-}
count=${2-}
case $id in
????????-????-????-????-????????????) ;;
*) fail "invalid upload identifier" ;;
esac
if [ -n "$(printf '%s' "$id" | tr -d '0123456789ABCDEF-')" ]; then
    fail "invalid upload identifier"
fi
if [ -z "$count" ] || [ -n "$(printf '%s' "$count" | tr -d '0123456789')" ] || [ "${#count}" -gt 12 ]; then
    fail "invalid byte count"
fi
case ${HOME-} in
/*) ;;
*) fail "no absolute home directory" ;;
esac
dir=$HOME/.cache/tarpelix/uploads
mkdir -p "$dir" || fail "cannot create $dir"
chmod 700 "$dir" || fail "cannot protect $dir"
target=$dir/$id.png
partial=$dir/.$id.png.partial
trap 'rm -f "$partial"' EXIT
trap 'exit 1' HUP INT TERM
head -c "$count" >"$partial" || fail "cannot write $partial"
received=$(wc -c <"$partial" | tr -d ' ')
case $received in
"$count") ;;
*) fail "received $received of $count bytes" ;;
esac
chmod 600 "$partial" || fail "cannot protect $partial"
mv -f "$partial" "$target" || fail "cannot move the image into place"
printf '%s' "TARPELIX_UPLOAD_$id=$target"
echo
