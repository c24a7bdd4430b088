# Runs at install time (from packaging/CMakeLists.txt): installs the files that belong under the
# system configuration folder and the systemd unit, with the paths of the prefix given now.
# In: vantel_packaging (this folder), vantel_generated (a scratch folder), vantel_bindir (the
# programs' folder, relative to the prefix), vantel_files (pairs SOURCE;DESTINATION below the
# configuration folder), optionally vantel_unit (a unit whose SOURCE.in names @VANTEL_BIN@ and
# @VANTEL_ETC@).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(VANTEL_ETC /etc)
else()
    set(VANTEL_ETC ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(VANTEL_BIN ${CMAKE_INSTALL_PREFIX}/${vantel_bindir})

while(vantel_files)
    list(POP_FRONT vantel_files source destination)
    get_filename_component(folder ${destination} DIRECTORY)
    get_filename_component(name ${destination} NAME)
    file(INSTALL ${vantel_packaging}/${source} DESTINATION ${VANTEL_ETC}/${folder}
        RENAME ${name})
endwhile()

if(vantel_unit)
    configure_file(${vantel_packaging}/${vantel_unit}.in ${vantel_generated}/${vantel_unit} @ONLY)
    file(INSTALL ${vantel_generated}/${vantel_unit}
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
