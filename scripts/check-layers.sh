#!/usr/bin/env bash
# Fails when a platform layer uses a layer above it, naming each file and line. The layers, from the bottom:
#   machine  the simulated PC (profiles, state, firmware)
#   win      Windows base services
#   com      the COM runtime
#   msxml    the XML DOM document (an in-process COM class)
#   wbem     WMI
# A layer may include the public headers (include/) of the layers below it and link their targets; an include
# of an upper layer's header, a path into an upper layer's folder, or an upper layer's target named in a
# layer's CMakeLists.txt is refused. System code (ZmrMC, vrxBIOS, Include, tools, tests) sits above every
# layer and is not checked.
#
# Usage: scripts/check-layers.sh [PLATFORM_FOLDER]   (default: the platform folder of this tree)
set -euo pipefail

platform=${1:-"$(cd "$(dirname "$0")/.." && pwd)/platform"}
[ -d "$platform" ] || { echo "check-layers.sh: no folder $platform" >&2; exit 2; }
platform=$(cd "$platform" && pwd)
layers=(machine win com msxml wbem)
order="machine < win < com < msxml < wbem"

declare -A header_layer=() target_layer=()
for rank in "${!layers[@]}"; do
  layer=${layers[$rank]}
  [ -d "$platform/$layer" ] || { echo "check-layers.sh: no layer folder $platform/$layer" >&2; exit 2; }
  if [ -d "$platform/$layer/include" ]; then
    while IFS= read -r header; do
      name=${header#"$platform/$layer/include/"}
      if [ -n "${header_layer[$name]:-}" ]; then
        echo "check-layers.sh: header $name is public in two layers" >&2
        exit 2
      fi
      header_layer[$name]=$rank
    done < <(find "$platform/$layer/include" -type f)
  fi
  while IFS= read -r target; do
    target_layer[$target]=$rank
  done < <(find "$platform/$layer" -name CMakeLists.txt -exec sed -nE \
             's/^[[:space:]]*add_(library|executable)\([[:space:]]*([A-Za-z0-9_]+).*/\2/p' {} +)
done

shown() { echo "${1#"$(dirname "$platform")/"}"; }
violations=0
refuse() {  # file line what rank-of-file rank-used
  echo "$(shown "$1"):$2: $3 of the ${layers[$5]} layer; ${layers[$4]} may use only the layers below it ($order)"
  violations=$((violations + 1))
}

for rank in "${!layers[@]}"; do
  layer=${layers[$rank]}
  # Includes in sources and headers.
  while IFS= read -r file; do
    while IFS=$'\t' read -r line name; do
      used=${header_layer[$name]:-}
      if [[ $name == */* ]]; then
        # A path: where it lands decides (a relative path into another layer's folder, private headers too).
        target=$(realpath -m "$(dirname "$file")/$name")
        for other in "${!layers[@]}"; do
          [[ $target == "$platform/${layers[$other]}/"* ]] && used=$other
        done
      fi
      if [ -n "$used" ] && [ "$used" -gt "$rank" ]; then refuse "$file" "$line" "includes \"$name\"" "$rank" "$used"; fi
    done < <(awk '{ if (match($0, /^[ \t]*#[ \t]*include[ \t]*[<"][^>"]+[>"]/)) {
                      s = substr($0, RSTART, RLENGTH); sub(/^[^<"]*[<"]/, "", s); sub(/[>"]$/, "", s);
                      print FNR "\t" s } }' "$file")
  done < <(find "$platform/$layer" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' -o -name '*.cc' -o -name '*.inc' \) | sort)
  # Build files: an upper layer's target or folder named outside comments.
  while IFS= read -r file; do
    while IFS=$'\t' read -r line code; do
      for word in $(grep -oE '[A-Za-z0-9_]+' <<<"$code" | sort -u); do
        used=${target_layer[$word]:-}
        if [ -n "$used" ] && [ "$used" -gt "$rank" ]; then refuse "$file" "$line" "names target $word" "$rank" "$used"; fi
      done
      for other in "${!layers[@]}"; do
        if [ "$other" -gt "$rank" ] && grep -qE "(\.\./|platform/)${layers[$other]}(/|\$|[[:space:])])" <<<"$code"; then
          refuse "$file" "$line" "names a folder" "$rank" "$other"
        fi
      done
    done < <(awk '{ sub(/#.*/, ""); if ($0 ~ /[^ \t]/) print FNR "\t" $0 }' "$file")
  done < <(find "$platform/$layer" -name CMakeLists.txt | sort)
done

if [ "$violations" -gt 0 ]; then
  echo "check-layers.sh: $violations use(s) run up the platform layers ($order)" >&2
  exit 1
fi
echo "check-layers.sh: the platform layers are in line ($order)"
