# bash completion for orvana-cli
#
# The commands and their options come from the program itself (`orvana-cli --list-commands`), so
# this file never falls behind it. Installed as share/bash-completion/completions/orvana-cli; to
# try it from a build: source apps/orvana-cli/orvana-cli.bash

# The table of the program at $1: _orvana_cli_options[PATH] holds the options of the command
# PATH ("." for the program itself, "page read" for a nested one). Read once per program and shell.
_orvana_cli_load() {
  [[ ${_orvana_cli_loaded-} == "$1" ]] && return 0
  declare -gA _orvana_cli_options=()
  local line path
  # Split by hand: read would drop the program's own line's leading tab as white space.
  while IFS= read -r line; do
    path=${line%%$'\t'*}
    _orvana_cli_options[${path:-.}]=${line#*$'\t'}
  done < <("$1" --list-commands 2>/dev/null)
  ((${#_orvana_cli_options[@]})) || return 1
  _orvana_cli_loaded=$1
}

# The option words of PATH and of every command above it (global options work after a command).
_orvana_cli_words_of() {
  local path=$1 words=${_orvana_cli_options[.]}
  local -a parts
  read -ra parts <<<"$path"
  local at="" p
  for p in "${parts[@]}"; do
    at=${at:+$at }$p
    words+=" ${_orvana_cli_options[$at]}"
  done
  printf '%s\n' "$words"
}

# The completion kind of option $2 of PATH $1: "flag", "" (a value, nothing to offer), "@file",
# or its choices joined by '|'. Returns 1 for an unknown option.
_orvana_cli_kind() {
  local w
  local -a words
  read -ra words <<<"$(_orvana_cli_words_of "$1")"
  for w in "${words[@]}"; do
    if [[ $w == "$2" ]]; then
      echo flag
      return 0
    elif [[ $w == "$2="* ]]; then
      echo "${w#*=}"
      return 0
    fi
  done
  return 1
}

_orvana_cli() {
  local prog=${COMP_WORDS[0]/#\~/$HOME}
  COMPREPLY=()
  _orvana_cli_load "$prog" || return 0
  local cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}

  # The command so far: the words that name commands, past options and their values. bash splits
  # "--opt=value" (and ADDR:PORT) into several words; "=" ties a value to the option before it.
  local path="" i w kind
  for ((i = 1; i < cword; i++)); do
    w=${COMP_WORDS[i]}
    if [[ $w == -* ]]; then
      kind=$(_orvana_cli_kind "$path" "$w") || continue
      if [[ ${COMP_WORDS[i + 1]-} == "=" ]]; then
        ((i += 2))
      elif [[ $kind != flag ]]; then
        ((i += 1))
      fi
    elif [[ $w != . && -n ${_orvana_cli_options["${path:+$path }$w"]+set} ]]; then
      path=${path:+$path }$w
    fi
  done

  # A value: the option's choices, file names, or nothing.
  local option=""
  if [[ $cur == "=" ]]; then
    option=${COMP_WORDS[cword - 1]}
    cur=""
  elif [[ ${COMP_WORDS[cword - 1]-} == "=" ]]; then
    option=${COMP_WORDS[cword - 2]}
  elif ((cword > 1)); then
    option=${COMP_WORDS[cword - 1]}
  fi
  if [[ $option == -* ]] && kind=$(_orvana_cli_kind "$path" "$option") && [[ $kind != flag ]]; then
    case $kind in
      "") ;;
      @file)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        ;;
      *) mapfile -t COMPREPLY < <(compgen -W "${kind//|/ }" -- "$cur") ;;
    esac
    return 0
  fi

  if [[ $cur == -* ]]; then
    local -a words
    read -ra words <<<"$(_orvana_cli_words_of "$path")"
    mapfile -t COMPREPLY < <(compgen -W "${words[*]%%=*}" -- "$cur")
    return 0
  fi

  # The commands below PATH, else file names (the positional arguments are files).
  local -a subs=()
  local key prefix=${path:+$path }
  for key in "${!_orvana_cli_options[@]}"; do
    [[ $key != . && $key == "$prefix"* ]] || continue
    w=${key#"$prefix"}
    [[ $w == *" "* ]] || subs+=("$w")
  done
  if ((${#subs[@]})); then
    mapfile -t COMPREPLY < <(compgen -W "${subs[*]}" -- "$cur")
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

complete -F _orvana_cli orvana-cli
