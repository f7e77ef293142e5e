# Packages (cpack, or `cpack --preset default` / `cpack --preset windows`):
#   host build: keyvane_<version>_<arch>.deb and keyvane-<version>-Linux-<arch>.tar.gz
#   Windows build: Keyvane-<version>-win64.zip
set(CPACK_PACKAGE_NAME keyvane)
set(CPACK_PACKAGE_VENDOR "Keyvane developers")
set(CPACK_PACKAGE_CONTACT "Keyvane developers <keyvane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Keyvane-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME keyvane-${PROJECT_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION
"keyvane is a resident barcode keyboard wedge: it reads barcodes from the scan
engine while the scan key is held and delivers them as keystrokes into the
focused application or as framed bytes on a serial port, as its settings
file Keyvane.ini says. This package runs it on the host terminal, a Linux
emulation of a handheld terminal, driven and inspected by the console
keyvane-terminal, which also runs scenario files that check settings files.")
endif()
include(CPack)
