# Runs zsh's own completion on a command line and prints every match it offers, one a
# line, without a terminal of the caller's:
#   zsh -f complete.zsh FOLDER 'tarsel-cli sett'
# FOLDER holds the completion function (_tarsel-cli). An interactive zsh on a pseudo-
# terminal (zpty) loads compinit, reports what compadd adds, and exits as soon as the
# completion is done, which a Tab after the command line starts.
zmodload zsh/zpty || exit 3
folder=$1 line=$2

zpty shell zsh -f -i || exit 3
zpty -w shell 'stty -echo; PS1="" PROMPT="" RPROMPT=""'
zpty -w shell "fpath=(${(q)folder} \$fpath); autoload -Uz compinit; compinit -u -D"
# The markers are written split, so that the shell's echo of these lines holds neither.
zpty -w shell 'compadd() { local -a __m; builtin compadd -O __m "$@"; (( $#__m )) && print -rl -- "<ma""tch>"${^__m}; builtin compadd "$@" }'
zpty -w shell 'comppostfuncs=(__report_done); __report_done() { print -r -- "<do""ne>"; exit }'
zpty -w -n shell "$line"$'\t'
# Blocks until the marker comes; the caller bounds the wait.
zpty -r shell output '*<done>*' || { print -u2 "zsh did not finish the completion"; exit 4 }
zpty -d shell
print -r -- ${output//$'\r'/} | sed -n 's/^.*<match>//p'
