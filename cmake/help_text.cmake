# SPDX-License-Identifier: Apache-2.0
# Makes a program's help text into a C++ header and a troff manual page
# (see HelpText.cmake):
#
#   cmake -DTEXT=usage.txt -DPARAMS=params.cmake -DHEADER=usage_text.h
#         -DMAN=NAME.1 -P help_text.cmake
#
# PARAMS sets NAME, VERSION, SUMMARY, SEE_ALSO and PLACEHOLDER.
cmake_minimum_required(VERSION 3.20)
include(${PARAMS})

file(READ ${TEXT} text)
string(REPLACE "\r" "" text "${text}")

# --- The header ---------------------------------------------------------

if(text MATCHES "\\)usage\"")
  message(FATAL_ERROR "${TEXT} contains ')usage\"', which ends the raw string")
endif()
get_filename_component(source ${TEXT} NAME)
file(WRITE ${HEADER} "// Made from ${NAME}'s ${source} at build time; edit that file.
#pragma once

// What `${NAME} --help` prints.
inline constexpr char kUsage[] = R\"usage(${text})usage\";
")

# --- The manual page ----------------------------------------------------

# Text as troff reads it: backslashes escaped, option dashes as minus
# signs, and a line that would start with a control character made safe.
function(prose line out)
  string(REPLACE "\\" "\\(rs" line "${line}")
  # Paths are not hyphenated.
  string(REGEX REPLACE "(^| )([^ ]*[/\\][^ ]*)" "\\1\\\\%\\2" line "${line}")
  string(REPLACE "--" "\\-\\-" line "${line}")
  string(REGEX REPLACE "(^|[ ([|])-" "\\1\\\\-" line "${line}")
  if(line MATCHES "^[.']")
    set(line "\\&${line}")
  endif()
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# A command line as man pages show it: what is typed as it stands in bold,
# what the user fills in (the upper-case words) in italics.
function(command_line line out)
  set(result "")
  while(NOT line STREQUAL "")
    if(line MATCHES "^([A-Z][A-Z0-9_]*(\\.[a-z]+)?)(.*)$")
      string(APPEND result "\\fI${CMAKE_MATCH_1}\\fR")
      set(line "${CMAKE_MATCH_3}")
    elseif(line MATCHES "^([a-z0-9-]+)(.*)$")
      string(REPLACE "-" "\\-" word "${CMAKE_MATCH_1}")
      string(APPEND result "\\fB${word}\\fR")
      set(line "${CMAKE_MATCH_2}")
    else()
      string(SUBSTRING "${line}" 0 1 char)
      string(SUBSTRING "${line}" 1 -1 line)
      if(char STREQUAL "\\")
        set(char "\\(rs")
      endif()
      string(APPEND result "${char}")
    endif()
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

if(NOT PLACEHOLDER STREQUAL "")
  string(REPLACE "%s" "${PLACEHOLDER}" text "${text}")
endif()
# One list element per line: semicolons, which would split elements, are
# held in a stand-in meanwhile.
string(REPLACE ";" "@semicolon@" text "${text}")
string(REGEX REPLACE "\n$" "" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
list(LENGTH lines count)

set(synopsis "")
set(description "")
set(exit_status "")
# Where a line goes: synopsis, description or exit_status.
set(part synopsis)
# What the description's last line was: start (of a section), blank, text,
# entry (a tagged paragraph) or indented (text).
set(last start)
math(EXPR end "${count} - 1")
foreach(i RANGE ${end})
  list(GET lines ${i} line)
  string(REPLACE "@semicolon@" ";" line "${line}")
  set(next "")
  if(i LESS end)
    math(EXPR j "${i} + 1")
    list(GET lines ${j} next)
  endif()

  if(part STREQUAL "synopsis")
    if(line MATCHES "^(Usage:)? +(.*)$")
      command_line("${CMAKE_MATCH_2}" formatted)
      string(APPEND synopsis "${formatted}\n")
      continue()
    endif()
    set(part description)
  endif()
  if(line MATCHES "^Exit status: (.*)$")
    set(part exit_status)
    set(line "${CMAKE_MATCH_1}")
  endif()
  if(part STREQUAL "exit_status")
    if(line STREQUAL "")
      set(part description)
      set(last blank)
    else()
      prose("${line}" formatted)
      string(APPEND exit_status "${formatted}\n")
    endif()
    continue()
  endif()

  # An entry: a term indented by two spaces, its description beside it
  # after two spaces or more, or on the lines below, indented further.
  set(term "")
  set(term_description "")
  if(line MATCHES "^  ([^ ]+( [^ ]+)*)(  +(.*))?$")
    set(term "${CMAKE_MATCH_1}")
    set(term_description "${CMAKE_MATCH_4}")
    if(term_description STREQUAL "" AND NOT next MATCHES "^    ")
      set(term "")
    endif()
  endif()

  if(line STREQUAL "")
    if(NOT last STREQUAL "start")
      set(last blank)
    endif()
  elseif(line MATCHES "^([A-Z][A-Za-z]*):$")
    string(APPEND description ".SS ${CMAKE_MATCH_1}\n")
    set(last start)
  elseif(line MATCHES "^    +(.*)$")
    # The description of an entry, continued.
    prose("${CMAKE_MATCH_1}" formatted)
    string(APPEND description "${formatted}\n")
  elseif(NOT term STREQUAL "")
    command_line("${term}" formatted)
    string(APPEND description ".TP\n${formatted}\n")
    if(NOT term_description STREQUAL "")
      prose("${term_description}" formatted)
      string(APPEND description "${formatted}\n")
    endif()
    set(last entry)
  elseif(line MATCHES "^  +(.*)$")
    prose("${CMAKE_MATCH_1}" formatted)
    if(NOT last STREQUAL "indented")
      string(APPEND description ".IP\n")
    endif()
    string(APPEND description "${formatted}\n")
    set(last indented)
  else()
    prose("${line}" formatted)
    if(NOT last MATCHES "^(start|text)$")
      string(APPEND description ".PP\n")
    endif()
    string(APPEND description "${formatted}\n")
    set(last text)
  endif()
endforeach()

string(TOUPPER "${NAME}" title)
prose("${SUMMARY}" summary)
set(page ".TH ${title} 1 \"\" \"add-firstclass ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${summary}
.SH SYNOPSIS
.nf
${synopsis}.fi
.SH DESCRIPTION
${description}")
if(NOT exit_status STREQUAL "")
  string(APPEND page ".SH EXIT STATUS\n${exit_status}")
endif()
if(NOT SEE_ALSO STREQUAL "")
  string(APPEND page ".SH SEE ALSO\n")
  set(separator "")
  foreach(other IN LISTS SEE_ALSO)
    string(APPEND page "${separator}.BR ${other} (1)")
    set(separator ",\n")
  endforeach()
  string(APPEND page "\n")
endif()
file(WRITE ${MAN} "${page}")
