# Manual pages. keyvane(1) and keyvane-terminal(1) are written by hand
# (dist/man); keyvane.ini(5) is printed at build time by the console from the
# settings reference table, so that it lists every key the reader knows.
# Pages are compressed with gzip when it is there, as distributions ship them.


find_program(KEYVANE_GZIP gzip)
mark_as_advanced(KEYVANE_GZIP)
set(KEYVANE_MAN_DIR ${CMAKE_BINARY_DIR}/man)

# keyvane_manpage(NAME SECTION SOURCE file | COMMAND console arguments... [DEPENDS files...])
# Builds ${KEYVANE_MAN_DIR}/NAME.SECTION[.gz] and installs it.
function(keyvane_manpage name section)
  cmake_parse_arguments(PARSE_ARGV 2 page "" "SOURCE" "COMMAND;DEPENDS")
  set(page_file ${KEYVANE_MAN_DIR}/${name}.${section})
  set(output ${page_file})
  if(KEYVANE_GZIP)
    set(output ${page_file}.gz)
  endif()
  if(page_SOURCE)
    set(how -DSOURCE=${page_SOURCE})
    set(depends ${page_SOURCE})
  else()
    string(REPLACE ";" "\\;" console_args "${page_COMMAND}")
    set(how -DCONSOLE=$<TARGET_FILE:keyvane-terminal> "-DCONSOLE_ARGS=${console_args}")
    set(depends keyvane-terminal)
  endif()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} ${how} -DPAGE=${page_file} -DGZIP=${KEYVANE_GZIP}
            -P ${CMAKE_SOURCE_DIR}/cmake/make_manpage.cmake
    DEPENDS ${depends} ${page_DEPENDS} ${CMAKE_SOURCE_DIR}/cmake/make_manpage.cmake
    COMMENT "Manual page ${name}(${section})"
    VERBATIM)
  add_custom_target(manpage_${name}_${section} ALL DEPENDS ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

keyvane_manpage(keyvane 1 SOURCE ${CMAKE_SOURCE_DIR}/dist/man/keyvane.1)
keyvane_manpage(keyvane-terminal 1 SOURCE ${CMAKE_SOURCE_DIR}/dist/man/keyvane-terminal.1)
# keyvane.ini(5) ends with the example files of dist/man/examples, which the
# suite checks (tests/console/reference_test.cpp) against what explain shows.
file(GLOB KEYVANE_INI_EXAMPLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/dist/man/examples/*.ini)
keyvane_manpage(keyvane.ini 5 COMMAND settings --roff --examples ${CMAKE_SOURCE_DIR}/dist/man/examples
                DEPENDS ${KEYVANE_INI_EXAMPLES})
