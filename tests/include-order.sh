#!/usr/bin/env bash
# The units of a source folder (X.cpp with its header X.h) stand in a
# one-way order: a unit needs another when it includes that unit's header,
# directly or through the folder's headers. Fails, naming them, when two
# units need each other or when units need each other round a longer loop.
#
#   tests/include-order.sh SOURCE_DIR FOLDER...
set -uo pipefail
root=$1
shift
status=0

# The folder's headers that a file includes, by their base name.
own_includes() {
  local file=$1 folder=$2
  sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)\.h".*/\1/p' "$file" |
    while read -r path; do
      if [[ $path == "$folder"/* && $path != "$folder"/*/* ]]; then
        echo "${path#"$folder"/}"
      elif [[ $path != */* ]]; then
        echo "$path"
      fi
    done
}

# Keeps in `left` the units that still need one of `left` (up), or that one
# of `left` still needs (down), until nothing more goes.
peel() {
  local direction=$1 a b
  while :; do
    keep=()
    for a in "${left[@]}"; do
      for b in "${left[@]}"; do
        if [[ $direction == up && ${needs[$a]} == *" $b "* ]] ||
           [[ $direction == down && ${needs[$b]} == *" $a "* ]]; then
          keep+=("$a")
          break
        fi
      done
    done
    ((${#keep[@]} == ${#left[@]})) && break
    left=("${keep[@]}")
  done
}

for folder in "$@"; do
  dir=$root/$folder
  if [[ ! -d $dir ]]; then
    echo "no folder $folder"
    status=1
    continue
  fi
  declare -A needs=()
  units=()
  for cpp in "$dir"/*.cpp; do
    [[ -e $cpp ]] || continue
    unit=$(basename "$cpp" .cpp)
    units+=("$unit")
    # Headers reached from the unit's file through the folder's headers.
    declare -A seen=()
    queue=($(own_includes "$cpp" "$folder"))
    while ((${#queue[@]})); do
      h=${queue[0]}
      queue=("${queue[@]:1}")
      [[ -n ${seen[$h]:-} ]] && continue
      seen[$h]=1
      [[ -f $dir/$h.h ]] && queue+=($(own_includes "$dir/$h.h" "$folder"))
    done
    list=" "
    for h in "${!seen[@]}"; do
      [[ $h != "$unit" && -f $dir/$h.cpp ]] && list+="$h "
    done
    needs[$unit]=$list
    unset seen
  done

  for a in "${units[@]}"; do
    for b in ${needs[$a]}; do
      if [[ $a < $b && ${needs[$b]} == *" $a "* ]]; then
        echo "$folder: $a.cpp and $b.cpp include each other's headers"
        status=1
      fi
    done
  done

  # Peel off the units that need no unit left, then those that no unit left
  # needs: what stays stands in a loop.
  left=("${units[@]}")
  peel up
  peel down
  if ((${#left[@]})); then
    echo "$folder: these units need each other round a loop: ${left[*]}"
    status=1
  fi
  unset needs
done
# The folder-to-folder map: every include of a mapped folder's source files
# (resolved beside the file, else from the source root) lies in the file's
# own folder or in one its line allows.
map=$(dirname "${BASH_SOURCE[0]}")/include-map.txt
declare -A allowed=()
while IFS= read -r line; do
  line=${line%%#*}
  [[ $line == *:* ]] || continue
  key=${line%%:*}
  key=${key//[[:space:]]/}
  allowed[$key]=" $key ${line#*:} "
done <"$map"

# The longest folder of the map that holds `path`.
map_folder() {
  local path=$1 best="" key
  for key in "${!allowed[@]}"; do
    [[ $path == "$key"/* && ${#key} -gt ${#best} ]] && best=$key
  done
  echo "$best"
}

tops=()
for key in "${!allowed[@]}"; do
  [[ $key == */* ]] || tops+=("$key")
done
while IFS= read -r file; do
  rel=${file#"$root"/}
  folder=$(map_folder "$rel")
  [[ -n $folder ]] || continue
  while IFS= read -r inc; do
    if [[ -f $(dirname "$file")/$inc ]]; then
      target=$(realpath -m --relative-to="$root" "$(dirname "$file")/$inc")
    elif [[ -f $root/$inc ]]; then
      target=$inc
    else
      continue
    fi
    ok=0
    for f in ${allowed[$folder]}; do
      [[ $target == "$f"/* ]] && ok=1 && break
    done
    if ((!ok)); then
      echo "$rel: includes \"$inc\", which tests/include-map.txt does not allow in $folder/"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(cd "$root" && find "${tops[@]}" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.rc' \) \
           -not -path '*/corpus/*' | sort | sed "s|^|$root/|")

exit $status
