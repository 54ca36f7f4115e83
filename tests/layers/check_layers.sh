#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own, or Qt
# outside the Qt adapters. Layers, lowest first: the runtime (platform/),
# net/tcp, net/http, net/fetch (the client with its TLS handler), library, app. net/tls sees net/tcp only; settings_file and
# print_layout see the runtime only; version/ sees nothing of ours. Qt is for
# app/ and the adapters platform_qt, print_qt and settings_dialog, whose
# headers count as Qt for everyone else. The plain document logic in app/
# (app/Document*) sees the runtime, the settings file and itself: no Qt, no window.
# The commands and the fetch settings (app/DocumentCommands, app/FetchSettings)
# are plain code too, over the fetcher and the library.
# Usage: check_layers.sh <source root>; prints each offending line.
set -u
root=${1:?usage: check_layers.sh <source root>}
cd "$root" || exit 2

# The folders (and "qt") a file may include from.
allowed() {
  case $1 in
    app/DocumentCommands.* | app/FetchSettings.*)
      echo "platform/ settings/ net/tcp/ net/http/ net/tls/ net/fetch/ library/ app/Document app/FetchSettings" ;;
    app/Document*) echo "platform/ settings/ app/Document" ;;
    app/*) echo "ANY" ;;
    platform/Dialogs.*) echo "platform/ qt" ;;
    platform/*) echo "platform/" ;;
    version/*) echo "version/" ;;
    net/tcp/*) echo "platform/ net/tcp/" ;;
    net/tls/*) echo "platform/ net/tcp/ net/tls/" ;;
    net/http/*) echo "platform/ net/tcp/ net/http/" ;;
    net/fetch/*) echo "platform/ net/tcp/ net/http/ net/tls/ net/fetch/" ;;
    library/*) echo "platform/ net/tcp/ net/http/ net/fetch/ library/" ;;
    settings/PagewickDlg.* | settings/SettingText.*) echo "platform/ settings/ qt" ;;
    settings/*) echo "platform/ settings/" ;;
    print/PrintQt.*) echo "platform/ print/ qt" ;;
    print/*) echo "platform/ print/" ;;
    *) echo "UNKNOWN" ;;
  esac
}

# What including a header needs: "qt" for Qt and the adapters' headers, else its folder.
needs() {
  case $1 in
    \<Q*) echo "qt" ;;
    \"platform/Dialogs.h\" | \"print/PrintQt.h\" | \"settings/PagewickDlg.h\" | \"settings/SettingText.h\") echo "qt" ;;
    \"app/Document*) echo "app/Document" ;;
    \"app/FetchSettings*) echo "app/FetchSettings" ;;
    \"net/*/*) echo "${1:1}" | cut -d/ -f1-2 | sed 's|$|/|' ;;
    \"*/*) echo "${1:1}" | cut -d/ -f1 | sed 's|$|/|' ;;
    *) echo "" ;;
  esac
}

status=0
files=$(find platform version net settings print library app -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)
[ -n "$files" ] || { echo "no sources under $root"; exit 2; }
for file in $files; do
  permitted=$(allowed "$file")
  if [ "$permitted" = UNKNOWN ]; then
    echo "$file: not in any layer"
    status=1
    continue
  fi
  [ "$permitted" = ANY ] && continue
  while IFS= read -r line; do
    header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*//' <<<"${line#*:}")
    need=$(needs "$header")
    [ -z "$need" ] && continue
    case " $permitted " in
      *" $need "*) ;;
      *) echo "$file:${line%%:*}: includes $header from a layer above" ; status=1 ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file")
done
exit $status
