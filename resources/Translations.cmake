# Compiles the translation sources into <build>/translations/Controller_<lang>.qm.
#
#   include(resources/Translations.cmake)
#   controller_add_translations(<target-name>)
#
# creates the custom target <target-name>, built by `all`, with the lrelease that
# belongs to the Qt chosen by CONTROLLER_QT_MAJOR (5 or 6). Afterwards the
# variable CONTROLLER_QM_FILES and the target property CONTROLLER_QM_FILES list
# the .qm files, for install rules and tests.

set(CONTROLLER_TRANSLATION_LANGUAGES zh_CN de)
set(_controller_translations_dir "${CMAKE_CURRENT_LIST_DIR}/translations")

# Finds lrelease next to the Qt in use; the unversioned one on PATH may belong to the other Qt.
function(_controller_find_lrelease out_var)
  set(qt Qt${CONTROLLER_QT_MAJOR})
  find_package(${qt} QUIET COMPONENTS LinguistTools)
  if(TARGET ${qt}::lrelease)
    set(${out_var} ${qt}::lrelease PARENT_SCOPE)
    return()
  endif()
  # Debian's own folders, then the one next to qmake or Qt's reported binaries.
  # lrelease runs on the build machine, so a cross build never looks in the target's multiarch folder.
  set(_hints /usr/lib/qt${CONTROLLER_QT_MAJOR}/bin)
  if(CMAKE_LIBRARY_ARCHITECTURE AND NOT CMAKE_CROSSCOMPILING)
    list(APPEND _hints /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/qt${CONTROLLER_QT_MAJOR}/bin)
  endif()
  if(TARGET ${qt}::qmake)
    get_target_property(_qmake ${qt}::qmake IMPORTED_LOCATION)
    get_filename_component(_qt_bin "${_qmake}" DIRECTORY)
    list(PREPEND _hints "${_qt_bin}")
  endif()
  if(QT6_INSTALL_PREFIX AND QT6_INSTALL_BINS)
    list(PREPEND _hints "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}")
  endif()
  set(_names lrelease lrelease-qt${CONTROLLER_QT_MAJOR})

  find_program(CONTROLLER_LRELEASE_QT${CONTROLLER_QT_MAJOR}
    NAMES ${_names}
    HINTS ${_hints}
    NO_DEFAULT_PATH
    DOC "lrelease of Qt ${CONTROLLER_QT_MAJOR}")
  if(NOT CONTROLLER_LRELEASE_QT${CONTROLLER_QT_MAJOR})
    message(FATAL_ERROR "lrelease of Qt ${CONTROLLER_QT_MAJOR} not found (looked in ${_hints}); "
                        "install the Qt ${CONTROLLER_QT_MAJOR} linguist tools (scripts/install-deps.sh)")
  endif()
  set(${out_var} "${CONTROLLER_LRELEASE_QT${CONTROLLER_QT_MAJOR}}" PARENT_SCOPE)
endfunction()

function(controller_add_translations target)
  _controller_find_lrelease(lrelease)
  set(qm_dir "${CMAKE_BINARY_DIR}/translations")
  set(qm_files)
  foreach(lang IN LISTS CONTROLLER_TRANSLATION_LANGUAGES)
    set(ts "${_controller_translations_dir}/Controller_${lang}.ts")
    set(qm "${qm_dir}/Controller_${lang}.qm")
    add_custom_command(
      OUTPUT "${qm}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${qm_dir}"
      COMMAND ${lrelease} -silent "${ts}" -qm "${qm}"
      DEPENDS "${ts}"
      COMMENT "Compiling translation Controller_${lang}.qm"
      VERBATIM)
    list(APPEND qm_files "${qm}")
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${qm_files})
  set_property(TARGET ${target} PROPERTY CONTROLLER_QM_FILES ${qm_files})
  set(CONTROLLER_QM_FILES ${qm_files} PARENT_SCOPE)
endfunction()
