#!/bin/bash
# Each folder includes only from the folders below it, and the layers below the
# windows stay free of widgets (storage and books of Qt altogether).
set -u
cd "$1" || exit 2
declare -A allowed=(
  [storage]="storage"
  [books]="storage books"
  [export]="storage books export"
  [widgets]="storage books widgets"
  [forms]="storage books export widgets forms"
  [cli]="storage books export cli"
  [app]="storage books export widgets forms app"
)
declare -A noqt=([storage]="" [books]="")
fail=0
for dir in "${!allowed[@]}"; do
  [ -d "$dir" ] || continue
  while IFS=: read -r file line inc; do
    top=${inc%%/*}
    case " ${allowed[$dir]} " in
      *" $top "*) ;;
      *) echo "$file:$line: $dir/ may not include $inc"; fail=1 ;;
    esac
  done < <(grep -rnoE '#include "[^"]+"' --include='*.h' --include='*.cpp' "$dir" | sed -E 's/#include "([^"]+)"/\1/')
  if [ -n "${noqt[$dir]+x}" ] && grep -rnE '#include <Q' --include='*.h' --include='*.cpp' "$dir"; then
    echo "$dir/ must not use Qt"; fail=1
  fi
  if [ "$dir" != widgets ] && [ "$dir" != forms ] && [ "$dir" != app ] &&
     grep -rnE '#include <(QWidget|QDialog|QMainWindow|QtWidgets|QApplication|QMessageBox)' --include='*.h' --include='*.cpp' "$dir"; then
    echo "$dir/ must not use widgets"; fail=1
  fi
done
[ $fail = 0 ] && echo "layers hold"
exit $fail
