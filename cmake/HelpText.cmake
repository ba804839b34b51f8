# SPDX-License-Identifier: Apache-2.0
# A program's --help text lives in a plain text file, and is made into two
# things at build time (by help_text.cmake, so that a cross build, whose
# programs cannot run here, gets both too):
#
# - usage_text.h, which defines kUsage, the text as a C++ string, for the
#   program to print;
# - its manual page in section 1, NAME.1, gzipped when gzip is at hand,
#   in man/ of the build folder. The global property AFC_MAN_PAGES lists
#   the pages, for installation.
#
#   afc_help_text(TARGET TEXT usage.txt SUMMARY "what it does"
#                 [SEE_ALSO OTHER...] [PLACEHOLDER "what %s stands for"])
#
# The man page's NAME line is "TARGET - SUMMARY". The help text's "Usage:"
# lines become the SYNOPSIS, a paragraph starting "Exit status:" the EXIT
# STATUS, and the rest the DESCRIPTION: "Word:" lines are subsections, and
# lines indented by two spaces with a description beside or below them
# (indented further) are tagged paragraphs. A text that the program fills
# in with printf has its %s replaced by PLACEHOLDER.
include_guard(GLOBAL)

find_program(AFC_GZIP gzip)

function(afc_help_text target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TEXT;SUMMARY;PLACEHOLDER" "SEE_ALSO")
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/help_text.cmake)
  set(text ${CMAKE_CURRENT_SOURCE_DIR}/${arg_TEXT})
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/help_text)
  set(header ${gen}/usage_text.h)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  # What the script is told beyond the file names, written only when it
  # changes, so that a change to it remakes the page.
  set(params ${gen}/params.cmake)
  set(name ${target})
  set(version ${PROJECT_VERSION})
  file(CONFIGURE OUTPUT ${params} @ONLY CONTENT [==[
set(NAME [=[@name@]=])
set(VERSION [=[@version@]=])
set(SUMMARY [=[@arg_SUMMARY@]=])
set(SEE_ALSO [=[@arg_SEE_ALSO@]=])
set(PLACEHOLDER [=[@arg_PLACEHOLDER@]=])
]==])
  set(outputs ${header} ${page})
  set(compress)
  set(installed ${page})
  if(AFC_GZIP)
    list(APPEND outputs ${page}.gz)
    set(compress COMMAND ${AFC_GZIP} -9nkf ${page})
    set(installed ${page}.gz)
  endif()
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -DTEXT=${text} -DPARAMS=${params} -DHEADER=${header} -DMAN=${page}
            -P ${script}
    ${compress}
    DEPENDS ${text} ${params} ${script}
    COMMENT "Generating the help text and manual page of ${target}"
    VERBATIM)
  # Building the program makes its page as well.
  target_sources(${target} PRIVATE ${header} ${installed})
  target_include_directories(${target} PRIVATE ${gen})
  set_property(GLOBAL APPEND PROPERTY AFC_MAN_PAGES ${installed})
endfunction()
