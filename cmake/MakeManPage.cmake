# Makes a manual page, compressed, from a program's --help and --version
# with help2man (cmake/Packaging.cmake runs it when the program is built).
#   HELP2MAN, GZIP  the tools
#   PROGRAM         the program
#   INCLUDE         help2man's include file of the sections it cannot know
#                   (packaging/man/NAME.h2m)
#   COMMANDS        not empty for a program with commands: each command the
#                   top --help lists under "Commands:" (which must list some)
#                   is made a section "THE command COMMAND" of the page from
#                   its own --help
#   OUTPUT          the page to write, NAME.1.gz
#
# help2man reads a "Usage:" line with "  or:" lines after it. The helps are
# wrapped to 80 columns (COLUMNS is unset here): a line indented deeper than
# its entry goes on with it, and is joined to it before anything is matched.
# help2man is given the top --help with those lines joined, through a
# stand-in program that prints it (help2man runs the program).
cmake_minimum_required(VERSION 3.22)

# A program of the sanitizer build runs here too; Qt's objects alive at exit
# are no finding for the manual page.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
set(ENV{LC_ALL} "C.UTF-8")
unset(ENV{COLUMNS})
get_filename_component(name "${PROGRAM}" NAME)

function(run_program out)
  execute_process(COMMAND "${PROGRAM}" ${ARGN} OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR text STREQUAL "")
    list(JOIN ARGN " " arguments)
    message(FATAL_ERROR "${name} ${arguments} failed (${status}): ${error}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Lines of `text` as a list. ";", "[" and "]" would split or join list
# elements: they stand in the list as <:sc:>, <:lb:>, <:rb:>, which
# `decode` turns back.
function(split_lines text out)
  string(REPLACE ";" "<:sc:>" text "${text}")
  string(REPLACE "[" "<:lb:>" text "${text}")
  string(REPLACE "]" "<:rb:>" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
macro(decode variable)
  string(REPLACE "<:sc:>" ";" ${variable} "${${variable}}")
  string(REPLACE "<:lb:>" "[" ${variable} "${${variable}}")
  string(REPLACE "<:rb:>" "]" ${variable} "${${variable}}")
endmacro()

# roff of a text: backslashes and minus signs escaped, no line taken for a request.
function(escape_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The lines of `text` with every continuation (a line indented by four
# blanks or more after a line that is not empty) joined to the line it
# continues; blanks inside a line are kept.
function(join_continued text out)
  split_lines("${text}" lines)
  set(joined "")
  set(pending "")
  set(have FALSE)
  foreach(line IN LISTS lines)
    if(have AND NOT pending STREQUAL "" AND line MATCHES "^    +(.*)$")
      string(APPEND pending " ${CMAKE_MATCH_1}")
      continue()
    endif()
    if(have)
      list(APPEND joined "${pending}")
    endif()
    set(pending "${line}")
    set(have TRUE)
  endforeach()
  if(have)
    list(APPEND joined "${pending}")
  endif()
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

# The top --help in help2man's form, and the commands its "Commands:" table names.
function(shape_help text out commands_out)
  join_continued("${text}" lines)
  set(shaped "")
  set(commands "")
  set(in_commands FALSE)
  foreach(line IN LISTS lines)
    decode(line)
    if(line STREQUAL "Commands:")
      set(in_commands TRUE)
    elseif(line STREQUAL "")
      set(in_commands FALSE)
    elseif(in_commands AND line MATCHES "^  ([a-z]+)( |$)")
      list(APPEND commands "${CMAKE_MATCH_1}")
    endif()
    string(APPEND shaped "${line}\n")
  endforeach()
  set(${out} "${shaped}" PARENT_SCOPE)
  set(${commands_out} "${commands}" PARENT_SCOPE)
endfunction()

# A command's --help (its forms after "Usage:" and "  or:", its description,
# then "Arguments:" or "Options:" with "  TERM VALUE  text" entries) as a
# section of roff.
function(command_section command text out)
  join_continued("${text}" lines)
  string(TOUPPER "${command}" upper)
  set(roff "[THE ${upper} COMMAND]\n")
  set(paragraph TRUE)  # the next plain line starts a paragraph
  foreach(line IN LISTS lines)
    decode(line)
    if(line STREQUAL "")
      set(paragraph TRUE)
    elseif(line MATCHES "^(Usage:|  or:) +(.*)$")
      escape_roff("${CMAKE_MATCH_2}" usage)
      string(APPEND roff ".PP\n.B ${usage}\n")
    elseif(line MATCHES "^([A-Z][a-z]+):$")
      string(APPEND roff ".SS ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  (-[^ ]+|[A-Z]+)( [^ ]+)?(  +(.*))?$")
      escape_roff("${CMAKE_MATCH_1}" term)
      escape_roff("${CMAKE_MATCH_2}" value)
      escape_roff("${CMAKE_MATCH_4}" description)
      string(STRIP "${value}" value)
      if(value STREQUAL "")
        string(APPEND roff ".TP\n\\fB${term}\\fR\n${description}\n")
      else()
        string(APPEND roff ".TP\n\\fB${term}\\fR \\fI${value}\\fR\n${description}\n")
      endif()
    else()
      escape_roff("${line}" plain)
      if(paragraph)
        string(APPEND roff ".PP\n")
        set(paragraph FALSE)
      endif()
      string(APPEND roff "${plain}\n")
    endif()
  endforeach()
  set(${out} "${roff}" PARENT_SCOPE)
endfunction()

# The stand-in for help2man, in a folder of its own: a path with blanks or
# other letters stays out of the command lines help2man hands to the shell.
set(work "${OUTPUT}.help2man")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
run_program(help --help)
run_program(version --version)
shape_help("${help}" shaped commands)
if(commands STREQUAL "" AND NOT COMMANDS STREQUAL "")
  message(FATAL_ERROR "${name} --help lists no commands under \"Commands:\": did its form change? "
                      "(cmake/MakeManPage.cmake)\n${help}")
endif()
file(WRITE "${work}/help.txt" "${shaped}")
file(WRITE "${work}/version.txt" "${version}")
file(WRITE "${work}/${name}"
  "#!/bin/sh\n"
  "case $1 in --help) exec cat help.txt ;; --version) exec cat version.txt ;; esac\n"
  "exit 2\n")
file(CHMOD "${work}/${name}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)

set(includes "--include=${INCLUDE}")
set(sections "")
foreach(command IN LISTS commands)
  run_program(help ${command} --help)
  command_section(${command} "${help}" section)
  string(APPEND sections "${section}\n")
endforeach()
if(sections)
  file(WRITE "${work}/commands.h2m" "${sections}")
  list(APPEND includes "--include=${work}/commands.h2m")
endif()

string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
execute_process(
  COMMAND "${HELP2MAN}" --no-info --section=1 ${includes} "--output=${page}" "./${name}"
  WORKING_DIRECTORY "${work}"
  RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man could not make the manual page of ${name} (${status}): ${error}")
endif()
file(READ "${page}" text)
if(NOT text MATCHES "\n\\.SH SYNOPSIS\n" OR NOT text MATCHES "\n\\.SH OPTIONS\n")
  message(FATAL_ERROR "The manual page of ${name} has no synopsis or no options: did the form of "
                      "${name} --help change? (cmake/MakeManPage.cmake)\n${text}")
endif()
file(REMOVE "${OUTPUT}")
execute_process(COMMAND "${GZIP}" -9nf "${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${page}")
endif()
file(REMOVE_RECURSE "${work}")
