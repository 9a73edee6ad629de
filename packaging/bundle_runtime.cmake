# Runs at install time (see CMakeLists.txt beside it). Copies the Qt plugins
# and every shared library that the executables and plugins load, apart from
# the C and C++ runtime that every Linux system has, into the install folder,
# and points each at its neighbours. Libraries are copied as plain files under
# the name they are loaded by: the folder often lives on exFAT or NTFS disks,
# which hold no symbolic links.
set(dest "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# The system's own runtime: glibc, the dynamic loader, libstdc++ and libgcc.
set(base_libraries
    "^ld-linux.*\\.so"
    "^libc\\.so"
    "^libm\\.so"
    "^libdl\\.so"
    "^libpthread\\.so"
    "^librt\\.so"
    "^libresolv\\.so"
    "^libutil\\.so"
    "^libanl\\.so"
    "^libstdc\\+\\+\\.so"
    "^libgcc_s\\.so"
)

set(installed_executables)
foreach(executable IN LISTS VELMORA_EXECUTABLES)
    get_filename_component(name "${executable}" NAME)
    list(APPEND installed_executables "${dest}/${name}")
endforeach()

set(installed_plugins)
foreach(plugin IN LISTS VELMORA_PLUGINS)
    get_filename_component(name "${plugin}" NAME)
    get_filename_component(folder "${plugin}" DIRECTORY)
    get_filename_component(kind "${folder}" NAME)
    file(MAKE_DIRECTORY "${dest}/plugins/${kind}")
    file(COPY_FILE "${plugin}" "${dest}/plugins/${kind}/${name}" ONLY_IF_DIFFERENT)
    list(APPEND installed_plugins "${dest}/plugins/${kind}/${name}")
endforeach()

# Resolved from the built executables and the system's plugins, so that a
# folder installed before (whose files look into lib/) resolves the same way.
file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES ${VELMORA_EXECUTABLES}
    LIBRARIES ${VELMORA_LOADED_LIBRARIES}
    MODULES ${VELMORA_PLUGINS}
    RESOLVED_DEPENDENCIES_VAR resolved
    UNRESOLVED_DEPENDENCIES_VAR unresolved
    PRE_EXCLUDE_REGEXES ${base_libraries}
)
if(unresolved)
    message(FATAL_ERROR "Libraries the programs load were not found: ${unresolved}")
endif()

file(MAKE_DIRECTORY "${dest}/lib")
set(installed_libraries)
foreach(library IN LISTS resolved VELMORA_LOADED_LIBRARIES)
    get_filename_component(name "${library}" NAME)
    file(REAL_PATH "${library}" real)
    file(COPY_FILE "${real}" "${dest}/lib/${name}" ONLY_IF_DIFFERENT)
    list(APPEND installed_libraries "${dest}/lib/${name}")
endforeach()
list(LENGTH installed_libraries count)
message(STATUS "Bundled ${count} libraries into ${dest}/lib")

function(velmora_run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${ARGN}: ${error}")
    endif()
endfunction()

# Strip first: changing the search path afterwards keeps it intact.
foreach(file IN LISTS installed_executables)
    velmora_run("${VELMORA_STRIP}" --strip-all "${file}")
endforeach()
foreach(file IN LISTS installed_libraries installed_plugins)
    velmora_run("${VELMORA_STRIP}" --strip-unneeded "${file}")
endforeach()
foreach(file IN LISTS installed_libraries)
    velmora_run("${VELMORA_PATCHELF}" --set-rpath "$ORIGIN" "${file}")
endforeach()
foreach(file IN LISTS installed_plugins)
    velmora_run("${VELMORA_PATCHELF}" --set-rpath "$ORIGIN/../../lib" "${file}")
endforeach()
