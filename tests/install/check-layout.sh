# check-layout.sh: sourced by the install tests. check_layout ROOT PREFIX checks
# an installed tree as the desktop sees it: ROOT is where the files were put
# (a DESTDIR, or a package extracted with dpkg-deb -x), PREFIX the prefix the
# desktop entry is read under. Every fault is printed; `failures` counts them.

app_id=org.pealix.Pealix
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# desktop_value FILE KEY: KEY's value in the [Desktop Entry] group.
desktop_value() {
  awk -v key="$2" '
    /^\[/ { group = $0; next }
    group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$1"
}

# exec_program ROOT PREFIX EXEC: the installed file that the first word of an
# Exec line starts, looked up as the desktop does (a bare name on the PATH,
# whose directories for an installed program are PREFIX/bin).
exec_program() {
  local root=$1 prefix=$2 word=${3%% *}
  case $word in
    /*) echo "$root$word" ;;
    */* | '') echo "" ;;
    *) echo "$root$prefix/bin/$word" ;;
  esac
}

check_layout() {
  local root=$1 prefix=$2
  local share=$root$prefix/share
  local desktop=$share/applications/$app_id.desktop
  local metainfo=$share/metainfo/$app_id.metainfo.xml

  if [ ! -f "$desktop" ]; then
    fail "no desktop entry at ${desktop#"$root"}"
    return
  fi
  local report
  report=$(desktop-file-validate --no-hints "$desktop" 2>&1) || fail "desktop-file-validate: $report"

  local exec program
  exec=$(desktop_value "$desktop" Exec)
  program=$(exec_program "$root" "$prefix" "$exec")
  if [ -z "$program" ] || [ ! -f "$program" ] || [ ! -x "$program" ]; then
    fail "Exec=$exec does not lead to an installed program under $prefix"
  elif ! head -c 4 "$program" | grep -q 'ELF'; then
    fail "Exec=$exec leads to ${program#"$root"}, which is not a program"
  fi
  # The "Talk or Send" action must start the same program.
  local line
  while IFS= read -r line; do
    [ "$(exec_program "$root" "$prefix" "${line#Exec=}")" = "$program" ] ||
      fail "an action's ${line} starts another program than Exec=$exec"
  done < <(grep '^Exec=' "$desktop" | tail -n +2)

  local icon found=""
  icon=$(desktop_value "$desktop" Icon)
  case $icon in
    */*) fail "Icon=$icon is a path, not a theme icon name" ;;
    *)
      for f in "$share"/icons/hicolor/*/apps/"$icon".svg "$share"/icons/hicolor/*/apps/"$icon".png; do
        [ -f "$f" ] && found=$f && break
      done
      if [ -z "$found" ]; then
        fail "Icon=$icon is not in the hicolor theme under $prefix/share/icons"
      elif [[ $found == */scalable/apps/*.svg ]] && ! grep -q '<svg' "$found"; then
        fail "the scalable icon ${found#"$root"} is not an SVG image"
      fi
      ;;
  esac

  if [ ! -f "$metainfo" ]; then
    fail "no AppStream metainfo at ${metainfo#"$root"}"
    return
  fi
  report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $report"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
  grep -q "<binary>${exec%% *}</binary>" "$metainfo" ||
    fail "the metainfo does not name the program ${exec%% *} that the desktop entry starts"
}
