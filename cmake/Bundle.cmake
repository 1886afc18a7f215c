# The folder Windows users get, assembled at ${ZV_BUNDLE_DIR} by every build,
# exactly the product and the engine's files:
#   zorvane.exe, flutter_windows.dll
#   data\icudtl.dat, data\app.so, data\flutter_assets\...
#   data\flutter_assets\assets\xray\windows\xray.exe  (the shipped core)
# Here the DLL and the core are our stand-ins and the engine's files
# placeholders. The stand-in PowerShell never goes in: Windows looks for a
# program in the application's folder first, so the host would run it rather
# than the system's (the tests put it where Windows keeps PowerShell).
# Included after every folder, so that the targets of the stand-ins can be
# asked for.
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
  # Put there by earlier builds.
  COMMAND ${CMAKE_COMMAND} -E rm -f ${ZV_BUNDLE_DIR}/powershell.exe
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
if(TARGET xray_standin)
  list(APPEND assemble
       COMMAND ${copy} $<TARGET_FILE:xray_standin> ${core_dir}/xray.exe)
  list(APPEND parts xray_standin)
endif()

add_custom_target(bundle ALL ${assemble}
                  COMMENT "Assembling the bundle in ${ZV_BUNDLE_DIR}")
add_dependencies(bundle ${parts})

# The product never links a stand-in: walk zorvane's link libraries, direct
# and inherited, and stop the configuration at a stand-in's target.
set(zv_standin_targets flutter_windows xray_standin powershell_standin)
function(zv_refuse_standin_links target chain)
  foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(libraries ${target} ${property})
    if(NOT libraries)
      continue()
    endif()
    foreach(library IN LISTS libraries)
      foreach(standin IN LISTS zv_standin_targets)
        # Also inside generator expressions such as $<TARGET_NAME_IF_EXISTS:>.
        if(library MATCHES "(^|[:<,;])${standin}($|[>,;])")
          string(REPLACE ";" " -> " path "${chain};${library}")
          message(FATAL_ERROR "${path}: the product links a stand-in")
        endif()
      endforeach()
      if(TARGET ${library} AND NOT library IN_LIST chain)
        zv_refuse_standin_links(${library} "${chain};${library}")
      endif()
    endforeach()
  endforeach()
endfunction()
zv_refuse_standin_links(zorvane zorvane)
