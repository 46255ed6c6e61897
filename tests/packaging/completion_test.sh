#!/bin/bash
# Completing loader-cli --port against published names that hold shell syntax runs nothing,
# expands nothing and offers each name whole, quoted. Usage: completion_test.sh SCRIPT
set -u
script=$(realpath "$1")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
touch fileA fileB # what an unquoted * would turn into
printf '#!/bin/sh\nprintf "%%s\\n" %s\n' "'sim\$(touch PWNED)' 'sim*' 'sim a b' 'sim\`touch PWNED2\`' other" >fake-cli
chmod +x fake-cli
_init_completion() { # the part of bash-completion the script calls
  cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD split=false
}
complete() { :; }
source "$script"
fail=0
check() { # check CUR EXPECTED...
  COMP_WORDS=(./fake-cli flash -p "$1") COMP_CWORD=3 COMPREPLY=()
  _loader_cli ./fake-cli "$1" -p
  local cur=$1
  shift
  [[ "${COMPREPLY[*]-}" == "$*" ]] || { echo "'$cur': got [${COMPREPLY[*]-}], expected [$*]"; fail=1; }
}
check sim 'sim\$\(touch\ PWNED\)' 'sim\*' 'sim\ a\ b' 'sim\`touch\ PWNED2\`'
check 'sim*' 'sim\*'
check oth other
check none
[[ ! -e PWNED && ! -e PWNED2 ]] || { echo "a name was run as a command"; fail=1; }
exit $fail
