# Makes one manual page (cmake/manpages.cmake): copies SOURCE, or runs
# CONSOLE with CONSOLE_ARGS and keeps what it prints, to PAGE; checks that
# the result is a manual page; compresses it to PAGE.gz when GZIP is given.
#   cmake -DPAGE=out.5 (-DSOURCE=page.1 | -DCONSOLE=prog -DCONSOLE_ARGS=a;b) [-DGZIP=gzip] -P make_manpage.cmake
get_filename_component(dir ${PAGE} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
if(DEFINED SOURCE)
  configure_file(${SOURCE} ${PAGE} COPYONLY)
else()
  # The console gets a scratch terminal root of its own inside the build tree.
  execute_process(
    COMMAND ${CONSOLE} --root ${dir}/terminal ${CONSOLE_ARGS}
    OUTPUT_FILE ${PAGE}.new
    ERROR_VARIABLE errors
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    file(REMOVE ${PAGE}.new)
    message(FATAL_ERROR "${CONSOLE} ${CONSOLE_ARGS} failed (${rc}): ${errors}")
  endif()
  file(RENAME ${PAGE}.new ${PAGE})
endif()
file(STRINGS ${PAGE} heading LIMIT_COUNT 1 REGEX "^\\.TH ")
if(NOT heading)
  file(REMOVE ${PAGE})
  message(FATAL_ERROR "${PAGE} is not a manual page (no .TH line)")
endif()
if(GZIP)
  execute_process(COMMAND ${GZIP} -9nf ${PAGE} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot compress ${PAGE}")
  endif()
endif()
