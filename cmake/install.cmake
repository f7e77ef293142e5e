# Installation, following GNUInstallDirs:
#   bin/keyvane, bin/keyvane-terminal
#   lib[/<multiarch>]/keyvane/libDecoder.so   the stand-in decoder library
#   lib[/<multiarch>]/keyvane/libDecoderPictures.so   its picture reading, loaded on first use
#   lib[/<multiarch>]/keyvane/keyvane-reader  its image reader process
#   share/man/man1/keyvane.1, keyvane-terminal.1; man5/keyvane.ini.5
#   share/bash-completion/completions/keyvane-terminal
#   share/keyvane/web/                        the page keyvane-terminal serve serves
#   share/doc/keyvane/README.md and samples/ (terminal/, sync/, scenarios/)
# The Windows program installs flat: Keyvane.exe, Decoder.dll, the sample
# settings and a short text on running it (packaged as a .zip).
if(NOT DEFINED CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/keyvane" CACHE PATH "Documentation (share/doc/keyvane)")
endif()
include(GNUInstallDirs)

if(WIN32)
  # A release Keyvane.exe carries no debug information (the static C++
  # runtime brings most of it): it is moved into Keyvane.exe.debug beside the
  # program, which a debugger finds through the program's debug link. The
  # package strips what it installs (CPACK_STRIP_FILES), Decoder.dll too.
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$" AND CMAKE_OBJCOPY AND CMAKE_STRIP)
    add_custom_command(TARGET keyvane POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:keyvane> $<TARGET_FILE_NAME:keyvane>.debug
      COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:keyvane>
      COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:keyvane>.debug $<TARGET_FILE_NAME:keyvane>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:keyvane>
      COMMENT "Moving the debug information of $<TARGET_FILE_NAME:keyvane> into a separate file"
      VERBATIM)
  endif()
  install(TARGETS keyvane Decoder RUNTIME DESTINATION .
          ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_SOURCE_DIR}/samples/terminal/Zentrova/Keyvane.ini
                ${CMAKE_SOURCE_DIR}/samples/terminal/Zentrova/DecodeSettings.Vqf
          DESTINATION Zentrova)
  install(FILES ${CMAKE_SOURCE_DIR}/dist/windows/README.txt DESTINATION .)
  return()
endif()

install(TARGETS keyvane keyvane-terminal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(KEYVANE_INSTALL_DECODERDIR ${CMAKE_INSTALL_LIBDIR}/keyvane)
install(TARGETS Decoder DecoderPictures LIBRARY DESTINATION ${KEYVANE_INSTALL_DECODERDIR})
install(TARGETS keyvane-reader RUNTIME DESTINATION ${KEYVANE_INSTALL_DECODERDIR})

# The programs find the installed decoder library relative to themselves, so
# that an installation works under any prefix (and unpacked anywhere).
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_BINDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE _bindir)
cmake_path(ABSOLUTE_PATH KEYVANE_INSTALL_DECODERDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE _decoderdir)
file(RELATIVE_PATH KEYVANE_DECODER_FROM_BINDIR ${_bindir} ${_decoderdir})
set_property(SOURCE ${CMAKE_SOURCE_DIR}/platform/host/loader.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS KEYVANE_DECODER_FROM_BINDIR="${KEYVANE_DECODER_FROM_BINDIR}")

# The console's served page: plain files under share/keyvane/web, found by
# the console relative to itself (in the build tree: <build>/web).
set(KEYVANE_INSTALL_WEBDIR ${CMAKE_INSTALL_DATADIR}/keyvane/web)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/dist/web/ DESTINATION ${KEYVANE_INSTALL_WEBDIR})
cmake_path(ABSOLUTE_PATH KEYVANE_INSTALL_WEBDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE _webdir)
file(RELATIVE_PATH KEYVANE_WEB_FROM_BINDIR ${_bindir} ${_webdir})
set_property(SOURCE ${CMAKE_SOURCE_DIR}/tools/terminal/serve.cpp TARGET_DIRECTORY keyvane-terminal APPEND PROPERTY
  COMPILE_DEFINITIONS KEYVANE_WEB_FROM_BINDIR="${KEYVANE_WEB_FROM_BINDIR}")

include(manpages)
install(FILES ${CMAKE_SOURCE_DIR}/dist/bash-completion/keyvane-terminal
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/samples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/samples)
