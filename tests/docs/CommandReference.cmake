# The command reference three times over: velkor-cli's own --help (and each
# command's), the man page as man shows it, and the README's "Commands" list
# must name the same commands, the same options (the program's and each
# command's) and the same --sim-fault kinds; the kinds are also those the
# program's parser names when it refuses one. Each source gives a list
# of items: "command NAME", "option --NAME", "option COMMAND --NAME",
# "kind KIND[:ARG]".
# cmake -DCLI=velkor-cli -DGROFF=groff -DMANPAGE=velkor-cli.1 -DREADME=README.md -P CommandReference.cmake

# The lines of a text as a list. Semicolons would split a line and square
# brackets would keep lines together, so they become "," and "<", ">".
function(lines_of text out)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "[" "<" text "${text}")
  string(REPLACE "]" ">" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The first column of a line: its words up to the first run of two spaces.
function(tag_of line out)
  string(REGEX MATCH "^ *([^ ]+( [^ ]+)*)" tag "${line}")
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# Appends "option PREFIX--NAME" for each option word of a synopsis or tag:
# "<--serial ADDRESS:START<:STEP>>" and "-h,--help" give --serial, -h, --help.
function(add_options items text prefix)
  string(REGEX REPLACE "[<>|, ]+" ";" words "${text}")
  foreach(word IN LISTS words)
    if(word MATCHES "^--?[a-z][a-z-]*$" AND NOT (prefix AND word MATCHES "^(-h|--help)$"))
      list(APPEND ${items} "option ${prefix}${word}")
    endif()
  endforeach()
  set(${items} "${${items}}" PARENT_SCOPE)
endfunction()

# Appends "kind K" for each K of a list "A | B | C", "A, B or C".
function(add_kinds items text)
  string(REGEX REPLACE "( \\| |, | or )" ";" kinds "${text}")
  foreach(kind IN LISTS kinds)
    string(STRIP "${kind}" kind)
    list(APPEND ${items} "kind ${kind}")
  endforeach()
  set(${items} "${${items}}" PARENT_SCOPE)
endfunction()

function(run out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE error RESULT_VARIABLE status)
  set(${out} "${output}${error}" PARENT_SCOPE)
endfunction()

# "--help" output: the sections "Commands:" and "Options:", each up to a
# blank line; the kinds follow "repeatable:" in --sim-fault's line.
function(help_items items help prefix)
  lines_of("${help}" lines)
  set(section "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([A-Za-z]+):$")
      set(section ${CMAKE_MATCH_1})
    elseif(line STREQUAL "")
      set(section "")
    elseif(section STREQUAL "Commands" AND line MATCHES "^  ([a-z][a-z-]*)")
      list(APPEND ${items} "command ${CMAKE_MATCH_1}")
    elseif(section STREQUAL "Options" AND line MATCHES "^  -")
      tag_of("${line}" tag)
      add_options(${items} "${tag}" "${prefix}")
      if(line MATCHES "^  --sim-fault .*repeatable: (.*)$")
        add_kinds(${items} "${CMAKE_MATCH_1}")
      endif()
    endif()
  endforeach()
  set(${items} "${${items}}" PARENT_SCOPE)
endfunction()

run(help ${CLI} --help)
set(fromHelp)
help_items(fromHelp "${help}" "")
set(programItems ${fromHelp})
foreach(item IN LISTS programItems)
  if(item MATCHES "^command (.*)$")
    run(commandHelp ${CLI} ${CMAKE_MATCH_1} --help)
    help_items(fromHelp "${commandHelp}" "${CMAKE_MATCH_1} ")
  endif()
endforeach()

run(refusal ${CLI} --simulate ATmega8 --sim-fault ? signature)
set(fromParser)
if(refusal MATCHES "use ([^\n]*)")
  add_kinds(fromParser "${CMAKE_MATCH_1}")
endif()

# The man page as man renders it, one paragraph a line: tags at 7 spaces,
# their text (and a nested list's tags) at 14.
if(NOT GROFF)
  message(FATAL_ERROR "groff is needed to render the man page (apt-get install groff-base)")
endif()
run(manText ${GROFF} -man -Tascii -P-cbou -rLL=250n ${MANPAGE})
lines_of("${manText}" lines)
set(fromMan)
set(section "")
set(tagged "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Z][A-Z ]*)$")
    set(section ${CMAKE_MATCH_1})
  elseif(line MATCHES "^       ([^ ]+)")
    set(tagged ${CMAKE_MATCH_1})
    tag_of("${line}" tag)
    if(section STREQUAL "COMMANDS" AND tagged MATCHES "^[a-z][a-z-]*$")
      list(APPEND fromMan "command ${tagged}")
      add_options(fromMan "${tag}" "${tagged} ")
    elseif(section STREQUAL "OPTIONS" AND tagged MATCHES "^-")
      add_options(fromMan "${tag}" "")
    endif()
  elseif(section STREQUAL "OPTIONS" AND tagged STREQUAL "--sim-fault")
    if(line MATCHES "^              ([a-z][a-z-]*(:[A-Z]+)?)( |$)")
      list(APPEND fromMan "kind ${CMAKE_MATCH_1}")
    endif()
  endif()
endforeach()

# The README: the first code block under "## Commands". "velkor-cli" lines
# and their continuations hold the program's options, a line of one command
# and its continuations that command's, "KIND" the kinds.
file(READ ${README} readme)
set(fromReadme)
if(readme MATCHES "\n## Commands\n[^`]*```\n([^`]*)```")
  lines_of("${CMAKE_MATCH_1}" lines)
  set(owner "")
  foreach(line IN LISTS lines)
    tag_of("${line}" tag)
    if(line MATCHES "^velkor-cli ")
      set(owner "")
      add_options(fromReadme "${line}" "")
    elseif(line MATCHES "^  ([a-z][a-z-]*)")
      set(owner "${CMAKE_MATCH_1} ")
      list(APPEND fromReadme "command ${CMAKE_MATCH_1}")
      add_options(fromReadme "${tag}" "${owner}")
    elseif(line MATCHES "^ +<")
      add_options(fromReadme "${tag}" "${owner}")
    elseif(line MATCHES "^KIND +(.*)$")
      add_kinds(fromReadme "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endif()

# Each list against the help's; every difference is named.
set(failed FALSE)
function(compare name items expected)
  set(missing ${expected})
  set(extra ${items})
  if(items)
    list(REMOVE_ITEM missing ${items})
  endif()
  list(REMOVE_ITEM extra ${expected})
  if(missing OR extra)
    string(REPLACE ";" ", " missing "${missing}")
    string(REPLACE ";" ", " extra "${extra}")
    message(SEND_ERROR "${name} differs from velkor-cli --help: missing [${missing}], not in --help [${extra}]")
    set(failed TRUE PARENT_SCOPE)
  endif()
endfunction()

set(helpKinds ${fromHelp})
list(FILTER helpKinds INCLUDE REGEX "^kind ")
if(NOT fromHelp MATCHES "command signature" OR NOT helpKinds)
  message(FATAL_ERROR "no commands or --sim-fault kinds in velkor-cli --help:\n${help}")
endif()
compare("the man page ${MANPAGE}" "${fromMan}" "${fromHelp}")
compare("the README's Commands list" "${fromReadme}" "${fromHelp}")
compare("the kinds velkor-cli's parser names" "${fromParser}" "${helpKinds}")
if(failed)
  message(FATAL_ERROR "the command reference has drifted")
endif()
