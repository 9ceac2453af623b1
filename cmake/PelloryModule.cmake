# pellory_module_headers(<target> <folder>)
# Lets <target>, and whatever links it, include the headers of src/<folder> as
# #include "<folder>/x.h", and no other part of src/. Each library has an include folder of its
# own in the build tree, include/<target>/, holding one entry named after its module: a link to
# src/<folder>. A library therefore sees its own headers and those of the libraries it links, so
# an include of a module it does not depend on fails to build (tests/architecture/ checks the
# whole graph). <folder> may be a part of a module ("pages/core").
#
# Where a link to a folder cannot be made (Windows without the right to make links), the headers
# are copied there instead; configure_file copies them again whenever they change.
function(pellory_module_headers target folder)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  set(entry ${root}/${folder})
  set(source ${PROJECT_SOURCE_DIR}/src/${folder})
  if(IS_SYMLINK ${entry})
    file(READ_SYMLINK ${entry} points_to)
    if(NOT points_to STREQUAL source)
      file(REMOVE ${entry})
    endif()
  endif()
  if(NOT EXISTS ${entry})
    get_filename_component(parent ${entry} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${source} ${entry} RESULT failed SYMBOLIC)
  endif()
  if(NOT IS_SYMLINK ${entry})
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${source} ${source}/*.h)
    foreach(header ${headers})
      configure_file(${source}/${header} ${entry}/${header} COPYONLY)
    endforeach()
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# pellory_module(<target> <folder> [EXCLUDE <file>...] [EXTRA <source>...])
# The static library of a module: the .cpp files of src/<folder> (without the EXCLUDE ones, a
# program's main say) and the EXTRA sources, exposing the headers of src/<folder> as
# pellory_module_headers() does. A module with no source yet gets an empty one.
function(pellory_module target folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "EXCLUDE;EXTRA")
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
  foreach(name ${arg_EXCLUDE})
    list(REMOVE_ITEM sources ${PROJECT_SOURCE_DIR}/src/${folder}/${name})
  endforeach()
  if(NOT sources AND NOT arg_EXTRA)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${target} STATIC ${sources} ${arg_EXTRA})
  pellory_module_headers(${target} ${folder})
endfunction()

# pellory_check_include_paths(): fails the configuration when any target puts the whole of src/
# on an include path (target_include_directories(... ${PROJECT_SOURCE_DIR}/src)): its includes of
# any module would then build, and so would those of everything linking it. Call it once, at the
# end of the top-level CMakeLists.txt.
function(pellory_check_include_paths)
  set(folders ${PROJECT_SOURCE_DIR})
  set(whole ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/src/)
  while(folders)
    list(POP_FRONT folders folder)
    get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    list(APPEND folders ${subfolders})
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      set(properties INTERFACE_INCLUDE_DIRECTORIES)
      if(NOT type STREQUAL "INTERFACE_LIBRARY")
        list(APPEND properties INCLUDE_DIRECTORIES)
      endif()
      foreach(property ${properties})
        get_target_property(paths ${target} ${property})
        foreach(path ${paths})
          if(path IN_LIST whole)
            message(FATAL_ERROR "${target} puts all of src/ on its include path; give a library its own "
                                "headers with pellory_module_headers() (cmake/PelloryModule.cmake)")
          endif()
        endforeach()
      endforeach()
    endforeach()
  endwhile()
endfunction()
