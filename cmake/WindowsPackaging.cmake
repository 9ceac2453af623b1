# Installation and packages for Windows (make windows-package):
#   cmake --install build-windows --prefix P      a folder laid out as the packages install it
#   cd build-windows && cpack                       a 64-bit NSIS installer and a zip
# The layout is flat, as windeployqt makes it: the programs with Qt's and the runtime's DLLs in
# the installation folder, Qt's plugins in platforms/, styles/ and imageformats/ beside them, and
# the receipt renderer's fonts in fonts/ with their licences.
set(PELLORY_WINDOWS_PROGRAMS)
foreach(program pellory pellory-cli)
  if(TARGET ${program})
    list(APPEND PELLORY_WINDOWS_PROGRAMS ${program})
  endif()
endforeach()
if(PELLORY_WINDOWS_PROGRAMS)
  install(TARGETS ${PELLORY_WINDOWS_PROGRAMS} RUNTIME DESTINATION .)
endif()
install(FILES ${PELLORY_WINDOWS_QT_DLLS} ${PELLORY_WINDOWS_RUNTIME_DLLS} DESTINATION .)
foreach(plugin ${PELLORY_WINDOWS_QT_PLUGINS})
  get_filename_component(kind_dir "${plugin}" DIRECTORY)
  get_filename_component(kind "${kind_dir}" NAME)
  install(FILES ${plugin} DESTINATION ${kind})
endforeach()
install(FILES ${PELLORY_WINDOWS_FONTS} ${PROJECT_SOURCE_DIR}/res/windows/FONTS.txt DESTINATION fonts)
foreach(package fonts-dejavu-core fonts-tlwg-mono-ttf fonts-wqy-zenhei)
  install(FILES /usr/share/doc/${package}/copyright DESTINATION fonts RENAME copyright-${package}.txt)
endforeach()
install(FILES /usr/share/common-licenses/GPL-2 DESTINATION fonts RENAME GPL-2.txt)
install(FILES ${PROJECT_SOURCE_DIR}/res/package/copyright DESTINATION . RENAME COPYRIGHT.txt)

set(CPACK_GENERATOR "NSIS64;ZIP")
set(CPACK_PACKAGE_NAME "Pellory")
set(CPACK_PACKAGE_VENDOR "Pellory")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test and set up ORVA58 and ORVA80 receipt printers")
set(CPACK_PACKAGE_FILE_NAME "pellory-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Pellory")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Pellory")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/res/package/copyright)
set(CPACK_STRIP_FILES ON)
set(CPACK_ZIP_COMPONENT_INSTALL OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

# NSIS: 64-bit, into Program Files, with a Start menu folder and an uninstaller.
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Pellory ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Pellory")
set(CPACK_NSIS_URL_INFO_ABOUT "${PELLORY_HOMEPAGE}")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
if(TARGET pellory)
  set(CPACK_PACKAGE_EXECUTABLES "pellory" "Pellory")
endif()
set(CPACK_NSIS_MENU_LINKS "fonts/FONTS.txt" "Fonts and their licences")

# CMake's NSIS script makes a 32-bit installer that writes the 32-bit registry view; ours is
# made from it with the 64-bit target and the 64-bit registry view (an installer with the 32-bit
# stub does nothing under a 64-bit-only Wine, yet exits with 0).
set(nsis_template_dir ${PROJECT_BINARY_DIR}/cpack-nsis)
find_file(PELLORY_CMAKE_NSIS_TEMPLATE NSIS.template.in
          PATHS ${CMAKE_ROOT}/Modules/Internal/CPack ${CMAKE_ROOT}/Modules NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT PELLORY_CMAKE_NSIS_TEMPLATE)
  message(FATAL_ERROR "CMake's NSIS.template.in not found under ${CMAKE_ROOT}/Modules")
endif()
file(READ ${PELLORY_CMAKE_NSIS_TEMPLATE} nsis_template)
foreach(anchor "!define VERSION" "Function .onInit\n" "Function un.onInit\n")
  string(FIND "${nsis_template}" "${anchor}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PELLORY_CMAKE_NSIS_TEMPLATE}: no \"${anchor}\" to make the installer 64-bit at")
  endif()
endforeach()
string(REPLACE "  !define VERSION" "  Target amd64-unicode\n  !define VERSION" nsis_template "${nsis_template}")
string(REPLACE "Function .onInit\n" "Function .onInit\n  SetRegView 64\n" nsis_template "${nsis_template}")
string(REPLACE "Function un.onInit\n" "Function un.onInit\n  SetRegView 64\n" nsis_template "${nsis_template}")
file(WRITE ${nsis_template_dir}/NSIS.template.in "${nsis_template}")
configure_file(${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.InstallOptions.ini.in
               ${nsis_template_dir}/NSIS.InstallOptions.ini.in COPYONLY)
list(PREPEND CMAKE_MODULE_PATH ${nsis_template_dir})
include(CPack)
