#!/bin/sh
# tarnel rule blocks: exactly the listed tools get the block in their global rules file; the others lose
# it. A file is backed up to <file>.tarnel.bak before it changes; text outside the block is kept.
umask 077
TOOLS='__TARNEL_TOOLS__'
RULE=$(cat <<'TARNEL_RULES_EOF'
__TARNEL_RULE_TEXT__
TARNEL_RULES_EOF
)
START=$(printf '%s\n' "$RULE" | sed -n 1p)
END=$(printf '%s\n' "$RULE" | sed -n '$p')

[ -n "$HOME" ] || { echo "没有家目录" >&2; exit 1; }

file_of() {
    case "$1" in
    claude) echo "$HOME/.claude/CLAUDE.md" ;;
    codex) echo "$HOME/.codex/AGENTS.md" ;;
    gemini) echo "$HOME/.gemini/GEMINI.md" ;;
    esac
}

wanted() {
    for t in $TOOLS; do [ "$t" = "$1" ] && return 0; done
    return 1
}

# The file without our block (and without the blank line we put before it).
strip_block() {
    awk -v s="$START" -v e="$END" '
        $0 == s { inside = 1; pending = 0; next }
        inside { if ($0 == e) inside = 0; next }
        pending { print ""; pending = 0 }
        $0 == "" { pending = 1; next }
        { print }
        END { if (pending) print "" }' "$1"
}

has_block() { [ -f "$1" ] && grep -qxF -- "$START" "$1"; }

replace_file() { # file, new content file
    if [ -f "$1" ]; then
        cmp -s "$1" "$2" && { rm -f "$2"; return 0; }
        cp -p "$1" "$1.tarnel.bak" || return 1
        cat "$2" > "$1" && rm -f "$2"
    else
        mv -f "$2" "$1"
    fi
}

HAVE=""
for tool in claude codex gemini; do
    FILE=$(file_of "$tool")
    NEW="$FILE.tarnel-new.$$"
    if wanted "$tool"; then
        mkdir -p "$(dirname "$FILE")" || exit 1
        {
            if [ -f "$FILE" ]; then
                strip_block "$FILE" > "$NEW.body" || exit 1
                cat "$NEW.body"
                [ -s "$NEW.body" ] && [ -n "$(tail -c 1 "$NEW.body")" ] && echo
                [ -s "$NEW.body" ] && [ -n "$(tail -n 1 "$NEW.body")" ] && echo
                rm -f "$NEW.body"
            fi
            printf '%s\n' "$RULE"
        } > "$NEW" || exit 1
        replace_file "$FILE" "$NEW" || exit 1
    elif has_block "$FILE"; then
        strip_block "$FILE" > "$NEW" || exit 1
        replace_file "$FILE" "$NEW" || exit 1
    fi
    if has_block "$FILE"; then
        HAVE="${HAVE:+$HAVE,}$tool"
    fi
done
echo "TARNEL_RULES_OK $HAVE"
