# Packages made by CPack from an installed tree: a .deb from the native
# build (cpack -G DEB), a zip of the DLLs and the signature library from the
# Windows build (cpack -G ZIP).
set(CPACK_PACKAGE_NAME hound)
set(CPACK_PACKAGE_VENDOR "hound developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find and extract files embedded in disk images and other byte streams")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The DLLs go beside the host that loads them; a short text says so.
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/README-windows.txt DESTINATION . RENAME README.txt)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME hound-${PROJECT_VERSION}-win32)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION share/doc/hound)
  set(CPACK_GENERATOR DEB)
  set(HOUND_PACKAGE_MAINTAINER "hound developers" CACHE STRING "Maintainer named in the .deb")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${HOUND_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Dependencies from the libraries that hound and the plug-ins link, and
  # the one it loads when it first checks a media item.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(HOUND_AV_PACKAGE)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS ${HOUND_AV_PACKAGE})
  endif()
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"find and extract files embedded in disk images and other byte streams
 hound scans files and block devices with detector plug-ins (JPEG marker
 walks and user-written signatures), lists the items they find as a table,
 JSON lines or DFXML, and extracts them.")
endif()

include(CPack)
