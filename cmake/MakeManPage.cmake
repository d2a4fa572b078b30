# Makes a manual page, compressed, from a program's --help and --version
# with help2man (cmake/Packaging.cmake runs it when the program is built).
#   HELP2MAN, GZIP  the tools
#   PROGRAM         the program
#   INCLUDE         help2man's include file of the sections it cannot know
#                   (packaging/man/NAME.h2m)
#   COMMANDS        commands of the program with a --help of their own (CLI11's
#                   form), each made a section "THE command COMMAND" of the page
#   OUTPUT          the page to write, NAME.1.gz
#
# help2man reads a "Usage:" line with "  or:" lines after it; kelmar-cli's
# --help lists its forms under "Usage:" with wrapped lines, and its commands
# in a table at the left margin. help2man is given the same text with the
# wrapped forms joined into one line each and the table under "Commands:",
# through a stand-in program that prints it (help2man runs the program).
cmake_minimum_required(VERSION 3.22)

# A program of the sanitizer build runs here too; Qt's objects alive at exit
# are no finding for the manual page.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
set(ENV{LC_ALL} "C.UTF-8")
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

# The top --help in help2man's form (see above).
function(shape_help text out)
  split_lines("${text}" lines)
  set(shaped "")
  set(mode "")         # "usage" inside the forms
  set(form "")         # the form being joined
  set(prefix "Usage: ")
  set(seen_commands FALSE)
  set(entry "")
  foreach(line IN LISTS lines)
    decode(line)
    if(line STREQUAL "Usage:")
      set(mode usage)
      continue()
    endif()
    if(mode STREQUAL "usage")
      if(line MATCHES "^   +(.*)$" AND NOT form STREQUAL "")
        string(APPEND form " ${CMAKE_MATCH_1}")
        continue()
      endif()
      if(NOT form STREQUAL "")
        string(APPEND shaped "${prefix}${form}\n")
        set(prefix "  or:  ")
        set(form "")
      endif()
      if(line MATCHES "^  (${name}( .*)?)$")
        set(form "${CMAKE_MATCH_1}")
        continue()
      endif()
      set(mode "")
    endif()
    # The table of commands: "name   text", the text going on in lines
    # indented to it, each entry joined into one line.
    if(NOT entry STREQUAL "" AND line MATCHES "^   +(.*)$")
      string(APPEND entry " ${CMAKE_MATCH_1}")
      continue()
    endif()
    if(NOT entry STREQUAL "")
      string(APPEND shaped "${entry}\n")
      set(entry "")
    endif()
    if(line MATCHES "^([a-z]+)   +(.*)$")
      if(NOT seen_commands)
        string(APPEND shaped "Commands:\n")
        set(seen_commands TRUE)
      endif()
      set(entry "  ${CMAKE_MATCH_1}  ${CMAKE_MATCH_2}")
    else()
      string(APPEND shaped "${line}\n")
    endif()
  endforeach()
  if(NOT entry STREQUAL "")
    string(APPEND shaped "${entry}\n")
  endif()
  set(${out} "${shaped}" PARENT_SCOPE)
endfunction()

# A command's --help in CLI11's form (description, "Usage:", "Options:" or
# "Positionals:" with "  NAME VALUE   text" lines) as a section of roff.
function(command_section command text out)
  split_lines("${text}" lines)
  string(TOUPPER "${command}" upper)
  set(roff "[THE ${upper} COMMAND]\n")
  foreach(line IN LISTS lines)
    decode(line)
    if(line MATCHES "^Usage: (.*)$")
      escape_roff("${CMAKE_MATCH_1}" usage)
      string(APPEND roff ".PP\n.B ${usage}\n")
    elseif(line MATCHES "^([A-Z][a-z]+):$")
      string(APPEND roff ".SS ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  +([^ ]+)( [^ ]+)?   +(.*)$")
      escape_roff("${CMAKE_MATCH_1}" term)
      escape_roff("${CMAKE_MATCH_2}" value)
      escape_roff("${CMAKE_MATCH_3}" description)
      string(STRIP "${value}" value)
      if(value STREQUAL "")
        string(APPEND roff ".TP\n\\fB${term}\\fR\n${description}\n")
      else()
        string(APPEND roff ".TP\n\\fB${term}\\fR \\fI${value}\\fR\n${description}\n")
      endif()
    elseif(NOT line STREQUAL "")
      escape_roff("${line}" plain)
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
shape_help("${help}" shaped)
file(WRITE "${work}/help.txt" "${shaped}")
file(WRITE "${work}/version.txt" "${version}")
file(WRITE "${work}/${name}"
  "#!/bin/sh\n"
  "case $1 in --help) exec cat help.txt ;; --version) exec cat version.txt ;; esac\n"
  "exit 2\n")
file(CHMOD "${work}/${name}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)

set(includes "--include=${INCLUDE}")
set(sections "")
foreach(command IN LISTS COMMANDS)
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
