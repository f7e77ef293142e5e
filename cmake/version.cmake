# The project's version in the programs. keyvane_version.h gives it to code
# that prints it; every shipped binary carries a what-string
# "@(#)<name> <version>" that `keyvane-terminal --version` (or what(1),
# strings(1)) reads from the file without running or loading it; on Windows
# the programs carry a version resource as well.
set(KEYVANE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/keyvane_version.h.in ${KEYVANE_GENERATED_DIR}/keyvane_version.h @ONLY)

# Adds the what-string "@(#)<name> <version>" to `target`.
function(keyvane_version_mark target name)
  set(KEYVANE_MARK_NAME ${name})
  string(MAKE_C_IDENTIFIER ${target} KEYVANE_MARK_ID)
  set(source ${KEYVANE_GENERATED_DIR}/version_mark_${KEYVANE_MARK_ID}.cpp)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version_mark.cpp.in ${source} @ONLY)
  target_sources(${target} PRIVATE ${source})
endfunction()

# Adds a Windows version resource to `target` (type APP or DLL).
function(keyvane_version_resource target type description)
  set(KEYVANE_RC_TYPE VFT_${type})
  set(KEYVANE_RC_DESCRIPTION ${description})
  string(MAKE_C_IDENTIFIER ${target} id)
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(KEYVANE_RC_NAME ${output_name})
  if(type STREQUAL "APP")
    set(KEYVANE_RC_FILE ${output_name}.exe)
  else()
    set(KEYVANE_RC_FILE ${output_name}.dll)
  endif()
  set(script ${KEYVANE_GENERATED_DIR}/version_${id}.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in ${script} @ONLY)
  target_sources(${target} PRIVATE ${script})
endfunction()

keyvane_version_mark(keyvane keyvane)
keyvane_version_mark(Decoder Decoder)
if(TARGET keyvane-reader)
  keyvane_version_mark(keyvane-reader keyvane-reader)
endif()
if(WIN32)
  keyvane_version_resource(keyvane APP "Keyvane barcode keyboard wedge")
  keyvane_version_resource(Decoder DLL "Keyvane stand-in decoder library")
else()
  target_include_directories(keyvane PRIVATE ${KEYVANE_GENERATED_DIR})
  target_include_directories(keyvane-terminal PRIVATE ${KEYVANE_GENERATED_DIR})
endif()
if(TARGET tests_console)
  target_include_directories(tests_console PRIVATE ${KEYVANE_GENERATED_DIR})
endif()
