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
: > "$BASE/.tarnel" || fail marker
RECEIVER="$BASE/bin/tarnel-receiver"
cat > "$RECEIVER.new" <<'TARNEL_RECEIVER_EOF' || fail receiver
__TARNEL_RECEIVER__
TARNEL_RECEIVER_EOF
chmod 755 "$RECEIVER.new" && mv -f "$RECEIVER.new" "$RECEIVER" || fail receiver
VERSION=$(sed -n 's/^TARNEL_RECEIVER_VERSION=\([0-9][0-9]*\).*/\1/p' "$RECEIVER" | head -n 1)
[ -n "$VERSION" ] || fail version
ABS=$(cd "$BASE" && pwd -P) || fail abspath
echo "TARNEL_INSTALL_OK $VERSION $ABS"
