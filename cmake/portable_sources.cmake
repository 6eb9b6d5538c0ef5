# Viewer sources that need no Windows API: built into the viewer and also
# tested natively under the sanitizers. One file per line.
set(FERNWOOD_PORTABLE_SOURCES
  record/timer_spec.cpp
  record/movie_file.cpp
  settings/settings_rules.cpp
  capture/selection_rules.cpp
)
