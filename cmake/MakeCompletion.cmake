# Makes the bash completion of kelmar-cli from the words its parser declares
# (`kelmar-cli --completion-words`, see src/cli/cli_options.h) and the
# template packaging/kelmar-cli.bash.in (cmake/Packaging.cmake runs it when
# the program is built).
#   PROGRAM   kelmar-cli
#   TEMPLATE  packaging/kelmar-cli.bash.in
#   OUTPUT    the completion file to write
cmake_minimum_required(VERSION 3.22)

set(ENV{ASAN_OPTIONS} "detect_leaks=0")
execute_process(COMMAND "${PROGRAM}" --completion-words
                OUTPUT_VARIABLE words ERROR_VARIABLE error RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR words STREQUAL "")
  message(FATAL_ERROR "kelmar-cli --completion-words failed (${status}): ${error}")
endif()

# One line per command; the words of the line after the command's name.
string(REPLACE "\n" ";" lines "${words}")
set(top "")
set(cases "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REPLACE " " ";" items "${line}")
  list(POP_FRONT items command)
  if(command STREQUAL "kelmar-cli")
    string(REPLACE ";" " " top "${items}")
    continue()
  endif()
  set(options "")
  set(files "")
  set(dirs "")
  set(values "")
  set(positional "")
  set(choices "")
  foreach(item IN LISTS items)
    if(item MATCHES "^=(.+)$")
      set(positional "${CMAKE_MATCH_1}")
    elseif(item MATCHES "^(--[a-z0-9-]+)=(.+)$")
      set(option "${CMAKE_MATCH_1}")
      set(kind "${CMAKE_MATCH_2}")
      list(APPEND options "${option}")
      if(kind STREQUAL "FILE")
        list(APPEND files "${option}")
      elseif(kind STREQUAL "DIR")
        list(APPEND dirs "${option}")
      elseif(kind MATCHES "\\|")
        string(REPLACE "|" " " names "${kind}")
        string(APPEND choices "                ${option}) choices='${names}' ;;\n")
      else()
        list(APPEND values "${option}")
      endif()
    elseif(item MATCHES "^--[a-z0-9-]+$")
      list(APPEND options "${item}")
    else()
      message(FATAL_ERROR "kelmar-cli --completion-words gave a word this script does not know: '${item}'")
    endif()
  endforeach()
  foreach(list IN ITEMS options files dirs values)
    string(REPLACE ";" " " ${list} "${${list}}")
  endforeach()
  string(APPEND cases
    "        ${command})\n"
    "            options='${options}'\n"
    "            files=' ${files} '\n"
    "            dirs=' ${dirs} '\n"
    "            values=' ${values} '\n"
    "            positional='${positional}'\n")
  if(choices)
    string(APPEND cases "            case \$prev in\n${choices}            esac\n")
  endif()
  string(APPEND cases "            ;;\n")
endforeach()
if(top STREQUAL "" OR cases STREQUAL "")
  message(FATAL_ERROR "kelmar-cli --completion-words gave no commands:\n${words}")
endif()

set(KELMAR_CLI_WORDS "${top}")
set(KELMAR_CLI_COMMANDS "${cases}")
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
