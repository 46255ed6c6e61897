#!/bin/bash
# The bash completion of loader-cli --port against published names that hold shell syntax:
# completing them runs nothing, expands nothing and offers each name whole.
# Usage: completion_test.sh COMPLETION_SCRIPT
set -u
script=$(realpath "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
touch fileA fileB  # what an unquoted * would turn into

# Stands in for loader-cli: its `ports` prints one name a line.
cat >fake-cli <<'CLI'
#!/bin/bash
[[ $1 == ports ]] || exit 2
printf '%s\n' 'sim$(touch PWNED)' 'sim*' 'sim a b' 'sim`touch PWNED2`' 'other'
CLI
chmod +x fake-cli

# The part of bash-completion that the script calls.
_init_completion() {
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
  split=false
}
complete() { :; }
# shellcheck source=/dev/null
source "$script"

fail=0
check() {  # check CUR EXPECTED...
  local cur=$1
  shift
  COMP_WORDS=(./fake-cli flash -p "$cur")
  COMP_CWORD=3
  COMPREPLY=()
  _loader_cli ./fake-cli "$cur" -p
  local want=("$@")
  if [[ "${COMPREPLY[*]-}" != "${want[*]-}" ]]; then
    echo "for '$cur': got [${COMPREPLY[*]-}], expected [${want[*]-}]"
    fail=1
  fi
}
# What goes onto the command line is each name quoted, so that running it is safe too.
check sim 'sim\$\(touch\ PWNED\)' 'sim\*' 'sim\ a\ b' 'sim\`touch\ PWNED2\`'
check 'sim*' 'sim\*'
check oth other
check none
if [[ -e PWNED || -e PWNED2 ]]; then
  echo "a name was run as a command"
  fail=1
fi
exit $fail
