#!/usr/bin/env bash
# Ends the Wine servers and virtual displays that tests started for each build tree.
for prefix in "$(dirname "$0")"/../build/*/wineprefix "$(dirname "$0")"/../build/*/wineprefix-*; do
  [[ -d $prefix ]] || continue
  WINEPREFIX=$(realpath "$prefix") wineserver -k 2>/dev/null
  WINEPREFIX=$(realpath "$prefix") wineserver -w 2>/dev/null
  if [[ -f $prefix.display ]] && read -r _ pid <"$prefix.display"; then
    kill "$pid" 2>/dev/null
    rm -f "$prefix.display"
  fi
done
exit 0
