# What `cmake --install` puts under the prefix: the shared library and its
# public headers, the command-line host, a CMake package
# (find_package(ordalis CONFIG) gives ordalis::ordalis), ordalis.pc and the
# host's man page generated from its help text.
include(CMakePackageConfigHelpers)

set(ORDALIS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ordalis)

install(TARGETS ordalis EXPORT ordalisTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/ordalis DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(EXPORT ordalisTargets NAMESPACE ordalis:: DESTINATION ${ORDALIS_CMAKE_DIR})

configure_package_config_file(cmake/ordalisConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/ordalisConfig.cmake
  INSTALL_DESTINATION ${ORDALIS_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ordalisConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ordalisConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/ordalisConfigVersion.cmake
  DESTINATION ${ORDALIS_CMAKE_DIR})

# Relative to its own place, so that the prefix given to `cmake --install` holds.
file(RELATIVE_PATH ORDALIS_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ORDALIS_PC_TO_PREFIX "${ORDALIS_PC_TO_PREFIX}")
configure_file(cmake/ordalis.pc.in ${CMAKE_CURRENT_BINARY_DIR}/ordalis.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ordalis.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The installed host finds the library relative to itself.
file(RELATIVE_PATH host_to_lib ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set_target_properties(ordalis_host PROPERTIES INSTALL_RPATH "$ORIGIN/${host_to_lib}")
install(TARGETS ordalis_host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

find_program(HELP2MAN help2man REQUIRED)
set(man_page ${CMAKE_CURRENT_BINARY_DIR}/ordalis.1)
add_custom_command(OUTPUT ${man_page}
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:ordalis_host> -DOUTPUT=${CMAKE_CURRENT_BINARY_DIR}/ordalis.h2m
          -P ${PROJECT_SOURCE_DIR}/cmake/ManPageCommands.cmake
  COMMAND ${HELP2MAN} --no-info --name "rate the calls of telephone exchanges stored in a database"
          --include ${CMAKE_CURRENT_BINARY_DIR}/ordalis.h2m --output ${man_page} $<TARGET_FILE:ordalis_host>
  DEPENDS ordalis_host ${PROJECT_SOURCE_DIR}/cmake/ManPageCommands.cmake
  COMMENT "Writing the ordalis man page from its help text")
add_custom_target(ordalis_man ALL DEPENDS ${man_page})
install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
