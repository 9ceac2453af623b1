# pellory_add_test(<source.cpp> LIBS <libs...> [QT] [TIMEOUT seconds])
# Builds one GoogleTest executable from one test source and registers it with ctest.
# QT marks tests that need a Qt platform; they run with the offscreen platform plugin.
#
# Every test runs with a home of its own inside the build folder: HOME, the XDG folders and
# TMPDIR point into <build>/test-home/<test>, so that nothing a test or Qt writes (settings such
# as the file dialogs' last folders in QtProject.conf, caches, temporary folders) reaches the
# user's real home or the shared temporary folder, and tests running side by side do not meet.
# PELLORY_TEST_ROOT names that folder for the tests that check it.
function(pellory_test_home name out_env)
  set(home ${CMAKE_BINARY_DIR}/test-home/${name})
  foreach(sub config data cache state tmp)
    file(MAKE_DIRECTORY ${home}/${sub})
  endforeach()
  # Qt refuses a runtime folder that others can read.
  file(MAKE_DIRECTORY ${home}/runtime)
  file(CHMOD ${home}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(${out_env}
      "PELLORY_TEST_ROOT=${home}"
      "HOME=${home}"
      "XDG_CONFIG_HOME=${home}/config"
      "XDG_DATA_HOME=${home}/data"
      "XDG_CACHE_HOME=${home}/cache"
      "XDG_STATE_HOME=${home}/state"
      "XDG_RUNTIME_DIR=${home}/runtime"
      "TMPDIR=${home}/tmp"
      PARENT_SCOPE)
endfunction()

function(pellory_add_test source)
  cmake_parse_arguments(T "QT" "TIMEOUT" "LIBS" ${ARGN})
  get_filename_component(name ${source} NAME_WE)
  get_filename_component(dir ${source} DIRECTORY)
  get_filename_component(sub ${dir} NAME)
  set(target ${sub}_${name})
  # Windows leaves out the tests that need a pseudo-terminal or Linux devices (cmake/Windows.cmake).
  if(WIN32 AND target IN_LIST PELLORY_WINDOWS_SKIPPED_TESTS)
    return()
  endif()
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # The headers of src/ come with the libraries the test links (its module and the modules below);
  # tests/ holds support/ and the other folders' test helpers.
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${target} COMMAND ${target})
  set_property(GLOBAL APPEND PROPERTY PELLORY_TESTS_${sub} ${target})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  pellory_test_home(${target} env)
  list(APPEND env "PELLORY_TEST=1")
  if(T_QT)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  set_tests_properties(${target} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()

# pellory_add_tests(LIBS <libs...> [QT]): one test per test_*.cpp file of the calling folder.
function(pellory_add_tests)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(source ${sources})
    pellory_add_test(${source} ${ARGN})
  endforeach()
endfunction()
