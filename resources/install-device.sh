#!/bin/sh
# tarnel on a linked machine: only the receiver under the base folder; its ~/.ssh is left alone.
umask 077
BASE='__TARNEL_BASE__'

fail() { echo "TARNEL_INSTALL_FAIL $*"; exit 1; }

[ -n "$HOME" ] || fail nohome
case "$BASE" in
"~/"*) BASE="$HOME/${BASE#??}" ;;
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
echo "TARNEL_INSTALL_OK $VERSION $ABS"
