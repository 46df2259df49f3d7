#!/bin/sh
# tarnel server side, removal: this machine's key line and the receiver; with purge also the files
# tarnel put into the base folder. Files go only from a base folder that carries tarnel's marker, only
# with tarnel's exact names and only as regular files in the real shots folder (never through a link);
# the folder itself goes only when it is then empty, so a folder the user pointed tarnel at keeps
# everything of theirs.
umask 077
LC_ALL=C
export LC_ALL
BASE='__TARNEL_BASE__'
KEYDATA='__TARNEL_KEYDATA__'
PURGE='__TARNEL_PURGE__'
REVOKE='__TARNEL_REVOKE__'

fail() { echo "TARNEL_UNINSTALL_FAIL $*"; exit 1; }

# Regular files directly in $1 whose names match the extended pattern $2, one name a line.
files_named() {
    find "$1/." ! -name . -prune -type f -print | sed 's|.*/||' | grep -E "$2"
}

[ -n "$HOME" ] || fail nohome
case "$BASE" in
"~/"*) BASE="$HOME/${BASE#??}" ;;
esac
case "$BASE" in
"$HOME" | "$HOME/" | / | "") fail badbase ;;
esac
# The same check on the resolved folders: a base written another way, or a link, may still be the home,
# the root or a folder above the home.
HOMEREAL=$(cd -P -- "$HOME" 2>/dev/null && pwd -P) || fail nohome
REAL=
if [ -d "$BASE" ]; then
    REAL=$(cd -P -- "$BASE" 2>/dev/null && pwd -P) || fail badbase
    [ "$REAL" != / ] || fail badbase
    case "$HOMEREAL/" in "$REAL"/*) fail badbase ;; esac
fi

REMOVED=0
KEYS="$HOME/.ssh/authorized_keys"
# Only the line carrying this machine's key data goes: a comment is shared by every machine of that name.
if [ "$REVOKE" = 1 ] && [ -n "$KEYDATA" ] && [ -f "$KEYS" ]; then
    TMP=$(mktemp "$HOME/.ssh/.authorized_keys.XXXXXX") || fail authorized_keys
    awk -v k="$KEYDATA" '{ for (i = 1; i <= NF; i++) if ($i == k) next; print }' "$KEYS" >"$TMP" \
        || { rm -f "$TMP"; fail authorized_keys; }
    BEFORE=$(awk 'END { print NR }' "$KEYS")
    AFTER=$(awk 'END { print NR }' "$TMP")
    REMOVED=$((BEFORE - AFTER))
    [ "$REMOVED" -ge 0 ] || REMOVED=0
    if [ "$REMOVED" -gt 0 ]; then
        if [ -L "$KEYS" ]; then
            cat "$TMP" >"$KEYS" && rm -f "$TMP" || fail authorized_keys
        else
            chmod 600 "$TMP" && mv -f "$TMP" "$KEYS" || { rm -f "$TMP"; fail authorized_keys; }
        fi
    else
        rm -f "$TMP"
    fi
fi

[ -n "$REAL" ] || { echo "TARNEL_UNINSTALL_OK $REMOVED $PURGE"; exit 0; }
BIN="$REAL/bin"
if [ -d "$BIN" ] && ! [ -L "$BIN" ]; then
    rm -f "$BIN/tarnel-receiver" "$BIN/tarnel-receiver.new" || fail receiver
    files_named "$BIN" '^\.tarnel-receiver\.[A-Za-z0-9]{6}$' | (cd "$BIN" && xargs rm -f --) || fail receiver
fi

PURGED=0
if [ "$PURGE" = 1 ] && [ -f "$REAL/.tarnel" ] && ! [ -L "$REAL/.tarnel" ]; then
    SHOTS="$REAL/shots"
    if [ -d "$SHOTS" ] && ! [ -L "$SHOTS" ]; then
        # Shots, unfinished puts, and the pid-named unfinished puts of earlier versions.
        SHOT='[0-9]{8}-[0-9]{6}-[0-9]{1,4}\.(png|jpg)'
        files_named "$SHOTS" "^($SHOT|\\.$SHOT\\.part\\.[A-Za-z0-9]{6}|\\.$SHOT(\\.[0-9]+)?\\.part)\$" |
            (cd "$SHOTS" && xargs rm -f --) || fail purge
        rmdir "$SHOTS" 2>/dev/null
    fi
    [ -L "$BIN" ] || rmdir "$BIN" 2>/dev/null
    rm -f "$REAL/.tarnel"
    rmdir "$REAL" 2>/dev/null
    [ -e "$SHOTS" ] || PURGED=1
fi
echo "TARNEL_UNINSTALL_OK $REMOVED $PURGED"
