#!/usr/bin/env bash
# The bash completion against the program built: what each half-typed line
# offers. Usage: Completion.bash PROGRAM_FOLDER COMPLETION_FILE SOURCE_DIR
# Exits 77 (skipped) where bash-completion is not installed.
set -u
[[ -r /usr/share/bash-completion/bash_completion ]] || { echo "bash-completion not installed"; exit 77; }
source /usr/share/bash-completion/bash_completion
export PATH=$1:$PATH
source "$2"
cd "$3"

failures=0
offers() {  # offers WANTED WORD... : completing the last word offers WANTED
    local wanted=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _velkor_cli velkor-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
    if [[ " ${COMPREPLY[*]} " != *" $wanted "* ]]; then
        echo "FAIL: '$*' offers '${COMPREPLY[*]}', not $wanted"
        failures=$((failures + 1))
    fi
}

offers program velkor-cli pro
offers verify-eeprom velkor-cli verify-
offers atmega328p velkor-cli --expect atmega32
offers ATtiny13A velkor-cli --simulate ATtiny13
offers none velkor-cli --simulate no
offers lpt2 velkor-cli --port lp
offers --fuses velkor-cli program --fu
offers --keep-eeprom velkor-cli write --
offers --all-chips velkor-cli write --al
offers examples/blink.hex velkor-cli write examples/bli
offers silent-after-erase velkor-cli --sim-fault sil
echo "$((11 - failures)) passed, $failures failed"
((failures == 0))
