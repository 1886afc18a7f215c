# The folder Windows users get, assembled at ${ZV_BUNDLE_DIR} by every build:
#   zorvane.exe, flutter_windows.dll, powershell.exe
#   data\icudtl.dat, data\app.so, data\flutter_assets\...
#   data\flutter_assets\assets\xray\windows\xray.exe  (the shipped core)
# Here the DLL, PowerShell and the core are our stand-ins and the engine's
# files placeholders. Included after every folder, so that the targets of
# the stand-ins can be asked for.
if(NOT TARGET zorvane)
  return()
endif()

set(data_dir ${ZV_BUNDLE_DIR}/data)
set(core_dir ${data_dir}/flutter_assets/assets/xray/windows)
set(copy ${CMAKE_COMMAND} -E copy_if_different)
set(assemble
  # The host makes its core folder "xray" beside itself when it runs: one
  # left by an earlier run must not reach the users' folder.
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZV_BUNDLE_DIR}/xray
  COMMAND ${CMAKE_COMMAND} -E make_directory ${core_dir}
  COMMAND ${CMAKE_COMMAND} -E touch ${data_dir}/icudtl.dat ${data_dir}/app.so
  # Copied only when changed: Wine refuses to overwrite a running program.
  COMMAND ${copy} $<TARGET_FILE:zorvane> ${ZV_BUNDLE_DIR}/)
set(parts zorvane)
if(TARGET flutter_windows)
  list(APPEND assemble
       COMMAND ${copy} $<TARGET_FILE:flutter_windows> ${ZV_BUNDLE_DIR}/)
  list(APPEND parts flutter_windows)
endif()
if(TARGET powershell_standin)
  list(APPEND assemble
       COMMAND ${copy} $<TARGET_FILE:powershell_standin>
               ${ZV_BUNDLE_DIR}/powershell.exe)
  list(APPEND parts powershell_standin)
endif()
if(TARGET xray_standin)
  list(APPEND assemble
       COMMAND ${copy} $<TARGET_FILE:xray_standin> ${core_dir}/xray.exe)
  list(APPEND parts xray_standin)
endif()

add_custom_target(bundle ALL ${assemble}
                  COMMENT "Assembling the bundle in ${ZV_BUNDLE_DIR}")
add_dependencies(bundle ${parts})
