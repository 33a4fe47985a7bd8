# Warnings and sanitizers in one place: every target links hound_settings.
# Warnings are errors in the presets and the test command (HOUND_WERROR),
# never in a user's own build, where a newer compiler may warn anew.
add_library(hound_settings INTERFACE)
target_compile_options(hound_settings INTERFACE -Wall -Wextra)
if(HOUND_WERROR)
  target_compile_options(hound_settings INTERFACE -Werror)
endif()
# Windows programs carry their C and C++ runtimes, so they need no DLL but
# the system's.
if(WIN32)
  target_link_options(hound_settings INTERFACE -static -static-libgcc -static-libstdc++)
endif()
if(HOUND_SANITIZE)
  target_compile_options(hound_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(hound_settings INTERFACE -fsanitize=address,undefined)
endif()

# Code that ends up inside a plug-in: no exceptions, nothing exported by default.
add_library(hound_plugin_code INTERFACE)
target_compile_options(hound_plugin_code INTERFACE -fno-exceptions)
set(HOUND_PLUGIN_EXPORTS_DEF ${PROJECT_SOURCE_DIR}/contract/kx_exports.def)
set(HOUND_PLUGIN_EXPORTS_MAP ${PROJECT_SOURCE_DIR}/contract/kx_exports.map)

# Installed layout: the plug-ins and the signature library together in one
# folder (markhound reads signs.ini beside itself), lib/hound on Linux and
# the top of the package on Windows, where they are dropped beside a host.
if(WIN32)
  set(HOUND_INSTALL_PLUGIN_DIR .)
else()
  set(HOUND_INSTALL_PLUGIN_DIR lib/hound)
endif()

# hound_add_plugin(name sources...): a module without the lib prefix, in the
# shared output folder, exporting KX_QueryInterface alone.
function(hound_add_plugin name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${HOUND_OUTPUT_DIR})
  target_link_libraries(${name} PRIVATE contract hound_settings hound_plugin_code)
  if(WIN32)
    target_sources(${name} PRIVATE ${HOUND_PLUGIN_EXPORTS_DEF})
    target_link_options(${name} PRIVATE -Wl,--kill-at -static -static-libgcc -static-libstdc++)
  else()
    target_link_options(${name} PRIVATE -Wl,--version-script=${HOUND_PLUGIN_EXPORTS_MAP})
    # Every symbol resolved at link time; clang's sanitizer runtime is left
    # to the program that loads the module.
    if(NOT HOUND_SANITIZE)
      target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${HOUND_PLUGIN_EXPORTS_MAP})
  endif()
  install(TARGETS ${name} LIBRARY DESTINATION ${HOUND_INSTALL_PLUGIN_DIR})
endfunction()
