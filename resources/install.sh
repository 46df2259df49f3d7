#!/bin/sh
# tarnel server side: puts the receiver under the base folder and authorises tarnel's key for it alone
# (a restricted key line that can only run the receiver). Prints its result as TARNEL_* lines.
umask 077
BASE='__TARNEL_BASE__'
PUBKEY='__TARNEL_PUBKEY__'
COMMENT='__TARNEL_COMMENT__'

fail() { echo "TARNEL_INSTALL_FAIL $*"; exit 1; }

[ -n "$HOME" ] || fail nohome
case "$BASE" in
"~/"*) BASE="$HOME/${BASE#??}" ;;
esac
case "$PUBKEY" in
*" $COMMENT") ;;
*) fail comment ;;
esac
echo "TARNEL_HOSTNAME $(hostname 2>/dev/null || uname -n)"

mkdir -p "$BASE/shots" "$BASE/bin" || fail mkdir
ABS=$(cd -P "$BASE" && pwd -P) || fail abspath
# The path goes unquoted into the key line's forced command and into pasted shot paths.
case "$ABS" in
*[!A-Za-z0-9._/@+-]*) fail "badpath $ABS" ;;
esac
MARKER="$BASE/.tarnel"
if [ -L "$MARKER" ] || { [ -e "$MARKER" ] && ! [ -f "$MARKER" ]; }; then fail marker; fi
[ -f "$MARKER" ] || : >"$MARKER" || fail marker
RECEIVER="$BASE/bin/tarnel-receiver"
# A fresh temporary name (nothing planted there can be followed); the rename replaces a link at the final name.
NEW=$(mktemp "$BASE/bin/.tarnel-receiver.XXXXXX") || fail receiver
cat >"$NEW" <<'TARNEL_RECEIVER_EOF' || { rm -f "$NEW"; fail receiver; }
__TARNEL_RECEIVER__
TARNEL_RECEIVER_EOF
chmod 755 "$NEW" && mv -f "$NEW" "$RECEIVER" || { rm -f "$NEW"; fail receiver; }
VERSION=$(sed -n 's/^TARNEL_RECEIVER_VERSION=\([0-9][0-9]*\).*/\1/p' "$RECEIVER" | head -n 1)
[ -n "$VERSION" ] || fail version

mkdir -p "$HOME/.ssh" && chmod 700 "$HOME/.ssh" || fail sshdir
KEYS="$HOME/.ssh/authorized_keys"
[ -e "$KEYS" ] || : > "$KEYS" || fail authorized_keys
KEYDATA=$(echo "$PUBKEY" | awk '{ print $2 }')
# Earlier lines of this same key go; another machine's line stays even when it carries the same comment.
TMP=$(mktemp "$HOME/.ssh/.authorized_keys.XXXXXX") || fail authorized_keys
awk -v k="$KEYDATA" '{ for (i = 1; i <= NF; i++) if ($i == k) next; print }' "$KEYS" > "$TMP" \
    && printf 'restrict,command="%s" %s\n' "$ABS/bin/tarnel-receiver" "$PUBKEY" >> "$TMP" \
    || { rm -f "$TMP"; fail authorized_keys; }
if [ -L "$KEYS" ]; then
    cat "$TMP" > "$KEYS" && rm -f "$TMP" || fail authorized_keys
else
    chmod 600 "$TMP" && mv -f "$TMP" "$KEYS" || { rm -f "$TMP"; fail authorized_keys; }
fi
chmod 600 "$KEYS" 2>/dev/null
echo "TARNEL_INSTALL_OK $VERSION $ABS"
