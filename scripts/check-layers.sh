#!/usr/bin/env bash
# The layers' include rules (README: Layout): each folder includes only the folders it
# may depend on. Prints every include that breaks a rule; exit code 1 when any does.
set -euo pipefail
cd "$(dirname "$0")/.."
broken=0
# check FOLDER ALLOWED...: every project include in FOLDER names one of ALLOWED.
check() {
  local folder=$1
  shift
  local allowed="" name
  for name in "$@"; do
    # A folder allows everything in it; a file name allows that file alone.
    case $name in *.h) allowed+="${name//./\\.}\"|" ;; *) allowed+="$name/|" ;; esac
  done
  allowed=${allowed%|}
  while IFS= read -r hit; do
    echo "layering: $hit"
    broken=1
  done < <(grep -rnE '#include "[a-z_]+/' "$folder" --include='*.cpp' --include='*.h' |
           grep -vE "#include \"($allowed)" || true)
}
check platform platform
check transport transport platform
check protocol protocol transport platform
check device device protocol
check library library device protocol transport platform sim
# The simulator is the controller's side of the wire: the driver interface only.
check sim sim transport/driver.h transport/d2xx.h
# Tools are programs a user could have written: the public header and tools/ only;
# the helper programs of tools/doctor and tools/simulate may reach below.
for folder in tools/cli tools/panel tools/common tools/mqtt; do
  [ -d "$folder" ] && check "$folder" tools
done
check tools/simulate tools sim transport/d2xx.h
exit $broken
