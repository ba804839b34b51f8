# SPDX-License-Identifier: Apache-2.0
# Run by CPack once the files are staged, before it packs them: takes out of
# the programs the two sections that strip leaves in and Debian's packages do
# without, .comment (the compiler's version) and .note.
file(GLOB_RECURSE afc_staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
list(FILTER afc_staged INCLUDE REGEX "/bin/[^/]+$")
foreach(program IN LISTS afc_staged)
  execute_process(COMMAND "${CPACK_OBJCOPY_EXECUTABLE}" --remove-section=.comment
                          --remove-section=.note "${program}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objcopy failed on ${program}")
  endif()
endforeach()
