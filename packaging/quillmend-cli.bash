# bash completion for quillmend-cli

_quillmend_cli()
{
  local cur prev words cword
  _init_completion || return

  local commands="list show export convert carve find"
  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi

  local options
  case ${words[1]} in
    list) options="--keyword --format --status --not-in-index --sort --reverse --threads" ;;
    show) options="--raw" ;;
    export) options="--keyword --messages --not-in-index --overwrite --rebuild --mbox --attachments" ;;
    convert) options="--maildir --mbox-tree --eml-tree --imap --deleted --attachments --dry-run --imap-ca-file --allow-plaintext --oauth2-token-command" ;;
    carve) options="--format --lost-only --overwrite --rebuild --mbox --attachments" ;;
    find) options="--null -0" ;;
    *) return ;;
  esac

  case $prev in
    --format)
      COMPREPLY=($(compgen -W "table tsv json" -- "$cur"))
      return
      ;;
    --sort)
      COMPREPLY=($(compgen -W "date from to subject index" -- "$cur"))
      return
      ;;
    --keyword | --messages | --oauth2-token-command)
      return
      ;;
    --imap)
      COMPREPLY=($(compgen -W "imaps:// imap://" -- "$cur"))
      compopt -o nospace 2>/dev/null
      return
      ;;
    --mbox | --imap-ca-file)
      _filedir
      return
      ;;
    --attachments | --maildir | --mbox-tree | --eml-tree)
      _filedir -d
      return
      ;;
    --deleted)
      COMPREPLY=($(compgen -W "separate same skip" -- "$cur"))
      return
      ;;
  esac

  # Options until "--", which makes every later word an argument.
  local i
  for ((i = 2; i < cword; i++)); do
    [[ ${words[i]} == -- ]] && options=""
  done
  if [[ $cur == -* && -n $options ]]; then
    COMPREPLY=($(compgen -W "$options --help --" -- "$cur"))
    return
  fi

  # Mailboxes for the first argument of list, show and export; folders for the rest.
  local positional=0
  for ((i = 2; i < cword; i++)); do
    case ${words[i]} in
      --keyword | --format | --messages | --sort | --mbox | --attachments | --maildir | --mbox-tree | --eml-tree | --deleted | --imap | --imap-ca-file | --oauth2-token-command) ((i++)) ;;
      -*) ;;
      *) ((positional++)) ;;
    esac
  done
  if [[ ${words[1]} == find || ${words[1]} == convert || ( ${words[1]} == export && $positional -ge 1 ) ]]; then
    _filedir -d
  elif [[ $positional -eq 0 ]]; then
    _filedir mbx
    # Mac Eudora's mailboxes have no extension.
    [[ ${#COMPREPLY[@]} -eq 0 ]] && _filedir
  fi
} &&
  complete -F _quillmend_cli quillmend-cli
