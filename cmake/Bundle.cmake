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

# zv_assemble_bundle(TARGET DIR HOST): the custom target TARGET assembles, at
# DIR, the folder around the executable of the target HOST.
function(zv_assemble_bundle target dir host)
  set(data_dir ${dir}/data)
  set(core_dir ${data_dir}/flutter_assets/assets/xray/windows)
  set(copy ${CMAKE_COMMAND} -E copy_if_different)
  set(assemble
    # The host makes its core folder "xray" beside itself when it runs: one
    # left by an earlier run must not reach the users' folder.
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir}/xray
    # Put there by earlier builds.
    COMMAND ${CMAKE_COMMAND} -E rm -f ${dir}/powershell.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${core_dir}
    COMMAND ${CMAKE_COMMAND} -E touch ${data_dir}/icudtl.dat ${data_dir}/app.so
    # Copied only when changed: Wine refuses to overwrite a running program.
    COMMAND ${copy} $<TARGET_FILE:${host}> ${dir}/zorvane.exe)
  set(parts ${host})
  if(TARGET flutter_windows)
    list(APPEND assemble COMMAND ${copy} $<TARGET_FILE:flutter_windows> ${dir}/)
    list(APPEND parts flutter_windows)
  endif()
  if(TARGET xray_standin)
    list(APPEND assemble
         COMMAND ${copy} $<TARGET_FILE:xray_standin> ${core_dir}/xray.exe)
    list(APPEND parts xray_standin)
  endif()
  add_custom_target(${target} ALL ${assemble}
                    COMMENT "Assembling the bundle in ${dir}")
  add_dependencies(${target} ${parts})
endfunction()

zv_assemble_bundle(bundle ${ZV_BUNDLE_DIR} zorvane)
# What the Wine suites that run the host use: the same folder, with the host
# whose Windows calls answer as Windows answers them. The packages are made
# from the bundle above.
if(TARGET zorvane_windows_rules)
  zv_assemble_bundle(test_bundle ${ZV_TEST_BUNDLE_DIR} zorvane_windows_rules)
endif()

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
