#!/bin/sh
# tarnel server side, removal: this machine's key line and the receiver; with purge also the files
# tarnel put into the base folder. The folder itself goes only when it carries tarnel's marker and is
# then empty, so a folder the user pointed tarnel at keeps everything of theirs.
umask 077
BASE='__TARNEL_BASE__'
COMMENT='__TARNEL_COMMENT__'
KEYDATA='__TARNEL_KEYDATA__'
PURGE='__TARNEL_PURGE__'
REVOKE='__TARNEL_REVOKE__'

fail() { echo "TARNEL_UNINSTALL_FAIL $*"; exit 1; }

[ -n "$HOME" ] || fail nohome
case "$BASE" in
"~/"*) BASE="$HOME/${BASE#??}" ;;
esac
case "$BASE" in
"$HOME" | "$HOME/" | / | "") fail badbase ;;
esac

REMOVED=0
KEYS="$HOME/.ssh/authorized_keys"
if [ "$REVOKE" = 1 ] && [ -f "$KEYS" ]; then
    TMP="$KEYS.tarnel.$$"
    # By key data; by the comment (last field) only when this machine no longer knows its key.
    awk -v k="$KEYDATA" -v c="$COMMENT" '
        k != "" { for (i = 1; i <= NF; i++) if ($i == k) next; print; next }
        NF > 0 && $NF == c { next }
        { print }' "$KEYS" > "$TMP" || { rm -f "$TMP"; fail authorized_keys; }
    BEFORE=$(awk 'END { print NR }' "$KEYS")
    AFTER=$(awk 'END { print NR }' "$TMP")
    REMOVED=$((BEFORE - AFTER))
    [ "$REMOVED" -ge 0 ] || REMOVED=0
    if [ "$REMOVED" -gt 0 ]; then
        if [ -L "$KEYS" ]; then
            cat "$TMP" > "$KEYS" && rm -f "$TMP" || fail authorized_keys
        else
            chmod 600 "$TMP" && mv -f "$TMP" "$KEYS" || { rm -f "$TMP"; fail authorized_keys; }
        fi
    else
        rm -f "$TMP"
    fi
fi

rm -f "$BASE/bin/tarnel-receiver" "$BASE/bin/tarnel-receiver.new" || fail receiver

PURGED=0
if [ "$PURGE" = 1 ]; then
    if [ -d "$BASE/shots" ]; then
        for f in "$BASE"/shots/[0-9]*-[0-9]*-[0-9]*.png "$BASE"/shots/[0-9]*-[0-9]*-[0-9]*.jpg \
            "$BASE"/shots/.[0-9]*.part; do
            [ -f "$f" ] && ! [ -L "$f" ] && rm -f "$f"
        done
        rmdir "$BASE/shots" 2>/dev/null
    fi
    rmdir "$BASE/bin" 2>/dev/null
    if [ -f "$BASE/.tarnel" ]; then
        rm -f "$BASE/.tarnel"
        rmdir "$BASE" 2>/dev/null
    fi
    [ -d "$BASE/shots" ] || PURGED=1
fi
echo "TARNEL_UNINSTALL_OK $REMOVED $PURGED"
