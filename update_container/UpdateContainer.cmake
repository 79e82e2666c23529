# tarvik_add_update_container(TARGET <target> OUTPUT_NAME <file name> TABLES_SOURCE <tables.cpp>
#                             [OUTPUT_DIRECTORY <directory>])
#
# Builds one update container: the shared object <directory>/<file name> (default directory: the
# build's lib directory) made of the container logic (src/update_container.cpp) and one tables
# source that defines everything src/tables.h declares: update matrix, package table, CID and
# TPID lists, supported platforms, product numbers, revision, interface version and the user
# interaction word. The packages of the table are generated at build time by a small program
# (tools/package_gen.cpp, linked with the same tables source) and embedded into the library.
# Only the ten Uc... functions are exported.
#
# Any component can build a container with its own tables, for example a test container:
#   include(${CMAKE_SOURCE_DIR}/update_container/UpdateContainer.cmake)
#   tarvik_add_update_container(TARGET my_test_container
#                               OUTPUT_NAME libmy_test_container.dll
#                               TABLES_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/tests/my_tables.cpp)
# and make the tests that load it depend on the target (add_dependencies).
include_guard(GLOBAL)

function(tarvik_add_update_container)
  cmake_parse_arguments(PARSE_ARGV 0 UC "" "TARGET;OUTPUT_NAME;TABLES_SOURCE;OUTPUT_DIRECTORY" "")
  if(NOT UC_TARGET OR NOT UC_OUTPUT_NAME OR NOT UC_TABLES_SOURCE)
    message(FATAL_ERROR "tarvik_add_update_container needs TARGET, OUTPUT_NAME and TABLES_SOURCE")
  endif()
  if(NOT UC_OUTPUT_DIRECTORY)
    set(UC_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
  endif()
  set(uc_dir ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  get_filename_component(tables ${UC_TABLES_SOURCE} ABSOLUTE)
  set(gen_dir ${CMAKE_CURRENT_BINARY_DIR}/${UC_TARGET}_packages)
  file(MAKE_DIRECTORY ${gen_dir})

  # The generator knows the table; it writes the package files and the source that embeds them.
  set(generator ${UC_TARGET}_package_gen)
  add_executable(${generator} ${uc_dir}/tools/package_gen.cpp ${tables})
  target_compile_definitions(${generator} PRIVATE UC_PACKAGE_GENERATOR)
  set_target_properties(${generator} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${gen_dir})
  add_custom_command(OUTPUT ${gen_dir}/packages.cpp
    COMMAND ${generator} ${gen_dir}
    DEPENDS ${generator}
    COMMENT "Generating the packages of ${UC_OUTPUT_NAME}"
    VERBATIM)

  add_library(${UC_TARGET} SHARED ${uc_dir}/src/update_container.cpp ${tables}
    ${gen_dir}/packages.cpp)
  target_compile_definitions(${UC_TARGET} PRIVATE UC_BUILDING_CONTAINER)
  target_compile_options(${UC_TARGET} PRIVATE -fno-exceptions -fno-rtti)
  set_target_properties(${UC_TARGET} PROPERTIES
    PREFIX "" SUFFIX "" OUTPUT_NAME ${UC_OUTPUT_NAME}
    LIBRARY_OUTPUT_DIRECTORY ${UC_OUTPUT_DIRECTORY}
    LINK_DEPENDS ${uc_dir}/exports.map)
  target_link_options(${UC_TARGET} PRIVATE -Wl,--version-script=${uc_dir}/exports.map
    -Wl,--as-needed)
  if(NOT TARVIK_SANITIZE)
    target_link_options(${UC_TARGET} PRIVATE -Wl,-z,defs)
  endif()
endfunction()
