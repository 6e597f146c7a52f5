#!/bin/bash
# Keeps the layers apart (ARCHITECTURE.md, Layout): which of the project's
# folders each folder's sources may include.
#   check_layering.sh SOURCE_DIR    checks the tree, names every offending line
#   check_layering.sh --self-test   proves each rule fails on a tree that breaks it
set -uo pipefail

PROJECT_FOLDERS='platform|interfaces|framework|module|catalogproxy|doctypes|filters|components|archive|tools|tests'

# folder: the folders its sources may include ("*" for any)
RULES=(
  "platform: platform"
  "interfaces: platform interfaces"
  "components: platform interfaces components"
  "framework: platform interfaces framework"
)
# folder: a folder its sources must not include (beyond the rules above)
FORBIDDEN=(
  "catalogproxy: filters"
)

# Prints "file:line:target" for each include of a project folder under $2.
project_includes() {
  local root=$1 folder=$2 hit file line
  [ -d "$root/$folder" ] || return 0
  (cd "$root" && grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($PROJECT_FOLDERS)/" \
     --include='*.h' --include='*.cpp' --include='*.c' "$folder") |
    while IFS= read -r hit; do
      file=${hit%%:*}
      line=${hit#*:}
      line=${line%%:*}
      echo "$file:$line:$(sed -nE "${line}s/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]([^\">]+)[\">].*/\1/p" "$root/$file")"
    done
}

check() {
  local root=$1 failures=0 rule folder listed hit target
  for rule in "${RULES[@]}"; do
    folder=${rule%%:*}
    listed=" ${rule#*: } "
    while IFS= read -r hit; do
      target=${hit##*:}
      [[ $listed == *" ${target%%/*} "* ]] && continue
      echo "${hit%:*}: includes $target; $folder/ may include only${listed% }"
      failures=$((failures + 1))
    done < <(project_includes "$root" "$folder")
  done
  for rule in "${FORBIDDEN[@]}"; do
    folder=${rule%%:*}
    listed=" ${rule#*: } "
    while IFS= read -r hit; do
      target=${hit##*:}
      [[ $listed == *" ${target%%/*} "* ]] || continue
      echo "${hit%:*}: includes $target; $folder/ must not include${listed% }"
      failures=$((failures + 1))
    done < <(project_includes "$root" "$folder")
  done
  # The stand-ins are built without the module's framework, as the machine's
  # own programs are.
  hit=$(grep -nE 'zytframework|zytmodule' "$root/components/CMakeLists.txt" 2>/dev/null | head -1)
  if [ -n "$hit" ]; then
    echo "components/CMakeLists.txt:${hit%%:*}: links the framework or the module"
    failures=$((failures + 1))
  fi
  [ "$failures" -eq 0 ] || { echo "$failures layering violation(s)"; return 1; }
  echo "layering holds"
}

scratch=
self_test() {
  local status=0 out
  scratch=$(mktemp -d) || exit 1
  chmod 700 "$scratch"
  trap 'rm -rf "$scratch"' EXIT
  mkdir -p "$scratch"/{platform/win32,interfaces,components/filters,framework,catalogproxy}
  # One allowed include of each kind first, so a rule that rejects everything fails too.
  printf '#include "platform/win32/WinTypes.h"\n' >"$scratch/platform/win32/Ok.h"
  printf '#include "platform/com/Guid.h"\n#include "interfaces/ClassIds.h"\n' >"$scratch/interfaces/Ok.h"
  printf '#include "interfaces/ClassIds.h"\n#include "components/X.h"\n' >"$scratch/components/Ok.cpp"
  printf '#include "framework/LogStream.h"\n#include "interfaces/OrreryFilter.h"\n' >"$scratch/framework/Ok.cpp"
  printf '#include "framework/AbstractProxyFilter.h"\n#include "platform/mime/MimeMessage.h"\n' >"$scratch/catalogproxy/Ok.cpp"
  printf 'add_library(zytcomponents_objects OBJECT X.cpp)\ntarget_link_libraries(zytcomponents_objects PUBLIC zytcomobject)\n' \
    >"$scratch/components/CMakeLists.txt"
  out=$(check "$scratch") || { echo "a tree that keeps the rules was refused:"; echo "$out"; return 1; }

  local -a breaks=(
    "platform/win32/Bad.cpp|#include \"framework/RegistryKey.h\""
    "interfaces/Bad.h|#include \"module/FiltersModule.h\""
    "components/filters/Bad.cpp|#include \"framework/FilterInit.h\""
    "components/Bad2.cpp|  #  include <catalogproxy/ProductServices.h>"
    "framework/Bad.h|#include \"module/ClassIds.h\""
    "catalogproxy/Bad.cpp|#include \"filters/items/EmailFilter.h\""
  )
  local b file text
  for b in "${breaks[@]}"; do
    file=${b%%|*}
    text=${b#*|}
    printf '%s\n' "$text" >"$scratch/$file"
    if out=$(check "$scratch"); then
      echo "not caught: $file: $text"
      status=1
    elif [[ $out != *"$file:1: "* ]]; then
      echo "caught, but the file is not named: $file"
      echo "$out"
      status=1
    fi
    rm "$scratch/$file"
  done
  printf 'target_link_libraries(zytcomponents_objects PUBLIC zytframework)\n' >>"$scratch/components/CMakeLists.txt"
  if out=$(check "$scratch") || [[ $out != *"components/CMakeLists.txt:3: "* ]]; then
    echo "the components linking the framework was not caught: $out"
    status=1
  fi
  [ "$status" -eq 0 ] && echo "every rule fails when broken"
  return "$status"
}

case "${1:-}" in
  --self-test) self_test ;;
  "") echo "usage: $0 SOURCE_DIR | --self-test" >&2; exit 2 ;;
  *) check "$1" ;;
esac
