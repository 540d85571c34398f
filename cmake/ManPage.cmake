# Man pages made at build time by help2man from each program's --help output, so
# the page and --help come from the same option table; installed gzipped into
# share/man/man1.
# Included by each directory that makes a page (GNUInstallDirs sets directory
# variables).
include(GNUInstallDirs)
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found (scripts/deps.sh installs it): no man pages")
endif()

# orva_man_page(<program target> <one-line description for the NAME section>)
# A page goes into the package that installs its program (the root's
# ORVA_PROGRAMS_<package> lists).
function(orva_man_page target description)
  if(NOT HELP2MAN)
    return()
  endif()
  set(component)
  foreach(package IN LISTS ORVA_PACKAGES)
    if(target IN_LIST ORVA_PROGRAMS_${package})
      set(component ${package})
    endif()
  endforeach()
  if(NOT component)
    message(FATAL_ERROR "${target} is in no package's ORVA_PROGRAMS list")
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  add_custom_command(
    OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            --name=${description} --output=${page} $<TARGET_FILE:${target}>
    COMMAND gzip -9nkf ${page}
    DEPENDS ${target}
    COMMENT "Man page ${target}(1)"
    VERBATIM)
  add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
