# Viewer sources that need no Windows API: built into the viewer and also
# tested natively under the sanitizers. One file per line.
set(FERNWOOD_PORTABLE_SOURCES
  record/timer_rules.cpp
  record/disk_rules.cpp
  record/avi_repair.cpp
  settings/save_paths.cpp
  still/bmp_picture.cpp
  settings/settings_rules.cpp
  view/layout_geometry.cpp
  capture/selection_rules.cpp
  capture/format_choice.cpp
  state/messages.cpp
)

# Tests of portable code: natively under the sanitizers, or under Wine in the
# Windows build, one CTest test per gtest case either way.
function(fernwood_add_portable_tests target)
  if(WIN32)
    fernwood_add_wine_tests(${target} ${ARGN})
  else()
    gtest_discover_tests(${target})
  endif()
endfunction()
