#!/bin/sh
# tarnel rule blocks: exactly the listed tools get the block in their global rules file; the others lose
# it. Text outside the block is kept byte for byte (a CRLF file stays CRLF). Before tarnel first changes a
# file it is copied to <file>.tarnel.bak; later changes never overwrite that copy.
umask 077
LC_ALL=C
export LC_ALL
TOOLS='__TARNEL_TOOLS__'
RULE=$(cat <<'TARNEL_RULES_EOF'
__TARNEL_RULE_TEXT__
TARNEL_RULES_EOF
)
START=$(printf '%s\n' "$RULE" | sed -n 1p)
BODY=$(printf '%s\n' "$RULE" | sed -n 2p)
END=$(printf '%s\n' "$RULE" | sed -n '$p')
export START BODY END

[ -n "$HOME" ] || { echo "没有家目录" >&2; exit 1; }

NEW=
trap 'rm -f -- "$NEW"' EXIT
trap 'exit 1' HUP INT TERM

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

# Prints the file with the block put in (add) or taken out (remove). A block is the start line, the body
# line and the end line; a block whose end line was edited away is only its start and body lines, so the
# user's text after it stays. An added block goes in place of the old one, else at the end after one blank
# line; taking it out again gives back the file exactly as it was.
edit() { # add|remove, file
    open=0
    [ -s "$2" ] && [ -n "$(tail -c 1 "$2")" ] && open=1
    awk -v mode="$1" -v open="$open" '
        function bare(s) { sub(/\r$/, "", s); return s }
        function push(text, terminated) { o[++m] = text; t[m] = terminated }
        { line[++n] = $0 }
        END {
            start = ENVIRON["START"]; body = ENVIRON["BODY"]; stop = ENVIRON["END"]
            prefix = substr(body, 1, index(body, "`"))
            cr = ""
            for (i = 1; i <= n; i++) if (line[i] ~ /\r$/) { cr = "\r"; break }
            for (i = 1; i <= n; i++) {
                if (bare(line[i]) != start) { push(line[i], !(i == n && open)); continue }
                j = i + 1
                if (j <= n && index(bare(line[j]), prefix) == 1) j++
                if (j <= n && bare(line[j]) == stop) j++
                if (mode == "add" && !placed) {
                    push(start cr, 1); push(body cr, 1); push(stop cr, 1)
                    placed = 1
                } else if (m > 0 && bare(o[m]) == "") {
                    m--
                } else if (m > 0 && j > n) {
                    t[m] = 0
                }
                i = j - 1
            }
            if (mode == "add" && !placed) {
                if (m > 0 && t[m]) push(cr, 1)
                if (m > 0) t[m] = 1
                push(start cr, 1); push(body cr, 1); push(stop cr, 1)
            }
            for (k = 1; k <= m; k++) printf "%s%s", o[k], (t[k] ? "\n" : "")
        }' "$2"
}

has_block() { [ -f "$1" ] && tr -d '\r' <"$1" | grep -qxF -- "$START"; }

# Replaces the file's content with the new text (in place, so a linked file stays linked).
replace_file() { # file, new content file
    if [ -f "$1" ]; then
        cmp -s "$1" "$2" && return 0
        if ! [ -e "$1.tarnel.bak" ] && ! [ -L "$1.tarnel.bak" ]; then
            cp -p "$1" "$1.tarnel.bak" || return 1
        fi
        cat "$2" >"$1"
    else
        mv -f "$2" "$1"
    fi
}

HAVE=""
for tool in claude codex gemini; do
    FILE=$(file_of "$tool")
    if [ -e "$FILE" ] && ! [ -f "$FILE" ]; then
        echo "不是普通文件：$FILE" >&2
        exit 1
    fi
    if wanted "$tool"; then
        mkdir -p "$(dirname "$FILE")" || exit 1
        NEW=$(mktemp "$FILE.tarnel-new.XXXXXX") || exit 1
        if [ -f "$FILE" ]; then
            edit add "$FILE" >"$NEW" || exit 1
        else
            edit add /dev/null >"$NEW" || exit 1
        fi
        replace_file "$FILE" "$NEW" || exit 1
    elif has_block "$FILE"; then
        NEW=$(mktemp "$FILE.tarnel-new.XXXXXX") || exit 1
        edit remove "$FILE" >"$NEW" || exit 1
        replace_file "$FILE" "$NEW" || exit 1
    fi
    rm -f -- "$NEW"
    NEW=
    if has_block "$FILE"; then
        HAVE="${HAVE:+$HAVE,}$tool"
    fi
done
echo "TARNEL_RULES_OK $HAVE"
