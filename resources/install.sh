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
: > "$BASE/.tarnel" || fail marker
RECEIVER="$BASE/bin/tarnel-receiver"
cat > "$RECEIVER.new" <<'TARNEL_RECEIVER_EOF' || fail receiver
__TARNEL_RECEIVER__
TARNEL_RECEIVER_EOF
chmod 755 "$RECEIVER.new" && mv -f "$RECEIVER.new" "$RECEIVER" || fail receiver
VERSION=$(sed -n 's/^TARNEL_RECEIVER_VERSION=\([0-9][0-9]*\).*/\1/p' "$RECEIVER" | head -n 1)
[ -n "$VERSION" ] || fail version
ABS=$(cd "$BASE" && pwd -P) || fail abspath

mkdir -p "$HOME/.ssh" && chmod 700 "$HOME/.ssh" || fail sshdir
KEYS="$HOME/.ssh/authorized_keys"
[ -e "$KEYS" ] || : > "$KEYS" || fail authorized_keys
KEYDATA=$(echo "$PUBKEY" | awk '{ print $2 }')
# Earlier lines of this same key go; another machine's line stays even when it carries the same comment.
TMP="$KEYS.tarnel.$$"
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
