# The Windows build: cross-built with mingw-w64 on Debian (make windows), its tests run under Wine
# (make windows-test). Included by the top CMakeLists.txt when WIN32, before any find_package.
#
# What the Windows build makes is listed here, in one place, so that porting a module is one word:
#   PELLORY_WINDOWS_MODULES         the folders of src/ built for Windows (in dependency order);
#   PELLORY_WINDOWS_TEST_FOLDERS    the folders of tests/ built and run under Wine;
#   PELLORY_WINDOWS_SKIPPED_TESTS   test executables of those folders that are not built for Windows
#                                   because they need a pseudo-terminal or Linux devices.
# A module being ported can be tried without changing them: configure with
# -DPELLORY_WINDOWS_EXTRA_MODULES="charset;platform" (and PELLORY_WINDOWS_EXTRA_TEST_FOLDERS).
set(PELLORY_WINDOWS_MODULES protocol charset platform link vprinter receipt jobs web imaging widgets pages history
    cli app)
# The window's tests press keys through Qt Test, which the Qt kit for mingw-w64 leaves out.
set(PELLORY_WINDOWS_TEST_FOLDERS protocol charset platform link vprinter receipt jobs web imaging widgets pages
    history cli)
set(PELLORY_WINDOWS_SKIPPED_TESTS)
set(PELLORY_WINDOWS_EXTRA_MODULES "" CACHE STRING "More folders of src/ to build for Windows")
set(PELLORY_WINDOWS_EXTRA_TEST_FOLDERS "" CACHE STRING "More folders of tests/ to build for Windows")
list(APPEND PELLORY_WINDOWS_MODULES ${PELLORY_WINDOWS_EXTRA_MODULES})
list(APPEND PELLORY_WINDOWS_TEST_FOLDERS ${PELLORY_WINDOWS_EXTRA_TEST_FOLDERS})

# The libraries Debian has no mingw package of (tools/windows/build-deps.sh PREFIX).
set(PELLORY_WINDEPS "" CACHE PATH "The prefix of the cross-built libraries (tools/windows/build-deps.sh)")
if(NOT PELLORY_WINDEPS OR NOT EXISTS "${PELLORY_WINDEPS}/.pellory-deps")
  message(FATAL_ERROR "PELLORY_WINDEPS must name a prefix made by tools/windows/build-deps.sh "
                      "(make windows makes one in build-windows/deps)")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${PELLORY_WINDEPS}")
# cpp-httplib is one header there; its Debian pkg-config file is the Linux build's.
find_path(PELLORY_HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
if(NOT TARGET PkgConfig::CPPHTTPLIB)
  add_library(PkgConfig::CPPHTTPLIB INTERFACE IMPORTED GLOBAL)
  set_target_properties(PkgConfig::CPPHTTPLIB PROPERTIES
                        INTERFACE_INCLUDE_DIRECTORIES "${PELLORY_HTTPLIB_INCLUDE_DIR}"
                        INTERFACE_LINK_LIBRARIES "ws2_32;crypt32")
endif()

# Windows 10 and later; the sockets library every networked module needs.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00)
link_libraries(ws2_32)

# The Linux build's optimisation (-O2): GCC 12's -O3 warns falsely (-Wrestrict) inside the
# standard library's strings, and warnings are errors.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")

# No benchmarks and no fuzzers for Windows.
set(PELLORY_BENCH OFF CACHE BOOL "" FORCE)
set(PELLORY_FUZZ OFF CACHE BOOL "" FORCE)

# Every program and test in one folder, bin/, with what it needs at run time beside it (as
# windeployqt would lay it out): Qt's DLLs and plugins, the mingw runtime, the DLLs of the
# libraries above, and the receipt renderer's fonts under fonts/.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(PELLORY_WINDOWS_BIN ${PROJECT_BINARY_DIR}/bin)

set(PELLORY_WINDOWS_QT_DLLS)
set(PELLORY_WINDOWS_QT_PLUGINS)
set(PELLORY_WINDOWS_RUNTIME_DLLS)
set(PELLORY_WINDOWS_FONTS)

# pellory_windows_runtime(): finds the files above (after find_package(Qt6)) and copies them into
# bin/ now; the packages install the same lists (cmake/WindowsPackaging.cmake).
function(pellory_windows_runtime)
  get_target_property(core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
  if(NOT core_dll)
    get_target_property(core_dll Qt6::Core IMPORTED_LOCATION)
  endif()
  get_filename_component(qt_bin "${core_dll}" DIRECTORY)
  get_filename_component(qt_root "${qt_bin}" DIRECTORY)
  set(qt_dlls)
  foreach(module Core Gui Widgets)
    list(APPEND qt_dlls ${qt_bin}/Qt6${module}.dll)
  endforeach()
  set(plugins)
  foreach(plugin platforms/qwindows platforms/qoffscreen platforms/qminimal styles/qwindowsvistastyle
                 imageformats/qgif imageformats/qico imageformats/qjpeg)
    list(APPEND plugins ${qt_root}/plugins/${plugin}.dll)
  endforeach()
  set(runtime)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll zlib1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(path "${path}" ABSOLUTE)
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${dll} not found beside ${CMAKE_CXX_COMPILER}")
    endif()
    list(APPEND runtime ${path})
  endforeach()
  file(GLOB deps_dlls ${PELLORY_WINDEPS}/bin/*.dll)
  list(APPEND runtime ${deps_dlls})
  set(fonts)
  foreach(font dejavu/DejaVuSansMono.ttf dejavu/DejaVuSans.ttf tlwg/TlwgMono.ttf wqy/wqy-zenhei.ttc)
    if(NOT EXISTS /usr/share/fonts/truetype/${font})
      message(FATAL_ERROR "/usr/share/fonts/truetype/${font} is missing: make windows installs its package")
    endif()
    list(APPEND fonts /usr/share/fonts/truetype/${font})
  endforeach()
  foreach(file ${qt_dlls} ${runtime} ${plugins} ${fonts})
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "${file} is missing")
    endif()
  endforeach()

  file(COPY ${qt_dlls} ${runtime} DESTINATION ${PELLORY_WINDOWS_BIN})
  foreach(plugin ${plugins})
    get_filename_component(kind_dir "${plugin}" DIRECTORY)
    get_filename_component(kind "${kind_dir}" NAME)
    file(COPY ${plugin} DESTINATION ${PELLORY_WINDOWS_BIN}/${kind})
  endforeach()
  file(COPY ${fonts} DESTINATION ${PELLORY_WINDOWS_BIN}/fonts)

  set(PELLORY_WINDOWS_QT_DLLS ${qt_dlls} PARENT_SCOPE)
  set(PELLORY_WINDOWS_QT_PLUGINS ${plugins} PARENT_SCOPE)
  set(PELLORY_WINDOWS_RUNTIME_DLLS ${runtime} PARENT_SCOPE)
  set(PELLORY_WINDOWS_FONTS ${fonts} PARENT_SCOPE)
endfunction()
