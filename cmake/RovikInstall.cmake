# Installing the suite as Linux software (cmake --install, scripts/install-user, scripts/package):
#   <prefix>/lib/rovik/               the program folder: every program and the suite's shared
#                                     libraries together, found through $ORIGIN, as in build/bin
#   <prefix>/bin/                     rovik, rovik-alarm, rovik-send: relative symbolic links into it
#   <prefix>/include/rovik/           the C headers of libQXPlayDll.so and libQXDll.so
#   <prefix>/lib/pkgconfig/           rovik-qxplay.pc and rovik-qx.pc
#   <prefix>/share/applications/      desktop entries of the launcher and the monitor
#   <prefix>/share/icons/hicolor/     the suite's icon
#   <prefix>/share/doc/rovik/         copyright and changelog
#   <prefix>/share/man/man1/          manual pages of the commands
# Two install components: "suite", what a user installs (the Debian package holds exactly this;
# with it the peer-to-peer library libP2PAPI.so the session library was built with, without which
# libQXDll.so neither loads nor links), and "standins", the stand-ins the tests and the demo use
# (camsim, pushsim, RovikClient), which go into the same program folder. The areas install their own targets
# with rovik_install().

set(ROVIK_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/install/rovik_version.h.in ${ROVIK_GENERATED_DIR}/rovik_version.h @ONLY)

set(ROVIK_INSTALL_PROGRAM_DIR lib/rovik)
set(ROVIK_INSTALL_INCLUDE_DIR include/rovik)
set(ROVIK_INSTALL_PKGCONFIG_DIR lib/pkgconfig)

# rovik_install(COMPONENT suite|standins TARGETS ...): programs and shared libraries into the
# program folder.
function(rovik_install)
  cmake_parse_arguments(I "" "COMPONENT" "TARGETS" ${ARGN})
  install(TARGETS ${I_TARGETS}
    RUNTIME DESTINATION ${ROVIK_INSTALL_PROGRAM_DIR} COMPONENT ${I_COMPONENT}
    LIBRARY DESTINATION ${ROVIK_INSTALL_PROGRAM_DIR} COMPONENT ${I_COMPONENT})
endfunction()

# rovik_install_library_interface(HEADER file PKGCONFIG template): a library's C header into
# <prefix>/include/rovik and its pkg-config file (a template using @PROJECT_VERSION@ and
# @ROVIK_INSTALL_PROGRAM_DIR@) into <prefix>/lib/pkgconfig.
function(rovik_install_library_interface)
  cmake_parse_arguments(I "" "HEADER;PKGCONFIG" "" ${ARGN})
  get_filename_component(name ${I_PKGCONFIG} NAME_WLE)
  configure_file(${I_PKGCONFIG} ${ROVIK_GENERATED_DIR}/pkgconfig/${name} @ONLY)
  install(FILES ${I_HEADER} DESTINATION ${ROVIK_INSTALL_INCLUDE_DIR} COMPONENT suite)
  install(FILES ${ROVIK_GENERATED_DIR}/pkgconfig/${name} DESTINATION ${ROVIK_INSTALL_PKGCONFIG_DIR} COMPONENT suite)
endfunction()

# rovik_install_desktop_entry(TEMPLATE file): a desktop entry into <prefix>/share/applications.
# It is written at install time, so that its Exec= names the command under the prefix really
# installed into (@ROVIK_COMMAND_DIR@), whatever --prefix or DESTDIR says.
function(rovik_install_desktop_entry)
  cmake_parse_arguments(I "" "TEMPLATE" "" ${ARGN})
  get_filename_component(name ${I_TEMPLATE} NAME_WLE)
  install(CODE "
    set(ROVIK_COMMAND_DIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
    set(entry \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/${name}\")
    message(STATUS \"Installing: \${entry}\")
    configure_file(\"${I_TEMPLATE}\" \"\${entry}\" @ONLY)
    file(CHMOD \"\${entry}\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)"
    COMPONENT suite)
endfunction()

# The commands: relative links, so the tree works wherever it is unpacked. The programs find
# their folder through /proc/self/exe, which names the link's target.
set(commands "rovik=Rovik" "rovik-alarm=RovikAlarm" "rovik-send=rovik-send")
file(MAKE_DIRECTORY ${ROVIK_GENERATED_DIR}/bin)
foreach(command ${commands})
  string(REPLACE "=" ";" parts ${command})
  list(GET parts 0 name)
  list(GET parts 1 program)
  file(CREATE_LINK ../${ROVIK_INSTALL_PROGRAM_DIR}/${program} ${ROVIK_GENERATED_DIR}/bin/${name} SYMBOLIC)
  install(FILES ${ROVIK_GENERATED_DIR}/bin/${name} DESTINATION bin COMPONENT suite)
endforeach()

# Copyright and changelog, as a Debian package carries them (the changelog compressed without a
# time stamp, so that builds of one source give one package).
configure_file(${CMAKE_CURRENT_LIST_DIR}/install/changelog ${ROVIK_GENERATED_DIR}/doc/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${ROVIK_GENERATED_DIR}/doc/changelog
  OUTPUT_FILE ${ROVIK_GENERATED_DIR}/doc/changelog.gz RESULT_VARIABLE gzipResult)
if(NOT gzipResult EQUAL 0)
  message(FATAL_ERROR "RovikInstall: gzip failed on the changelog")
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/install/copyright ${ROVIK_GENERATED_DIR}/doc/changelog.gz
  DESTINATION share/doc/rovik COMPONENT suite)

# Manual pages of the commands, compressed the same way.
foreach(command rovik rovik-alarm rovik-send)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/install/man/${command}.1 ${ROVIK_GENERATED_DIR}/man/${command}.1 @ONLY)
  execute_process(COMMAND gzip -9nc ${ROVIK_GENERATED_DIR}/man/${command}.1
    OUTPUT_FILE ${ROVIK_GENERATED_DIR}/man/${command}.1.gz RESULT_VARIABLE gzipResult)
  if(NOT gzipResult EQUAL 0)
    message(FATAL_ERROR "RovikInstall: gzip failed on the manual page ${command}.1")
  endif()
  install(FILES ${ROVIK_GENERATED_DIR}/man/${command}.1.gz DESTINATION share/man/man1 COMPONENT suite)
endforeach()

# The Debian package (scripts/package): the suite component only, installed under /usr, its
# dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rovik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Rovik")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "home camera alarm monitor and camera client launcher")
# The summary is the first line of the package's description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The Rovik desktop suite: RovikAlarm receives the cameras' alarms from the
push service, keeps them in a local history and shows them; Rovik opens the
camera client and installs its upgrades. The player and camera session
libraries come with C headers and pkg-config files for other clients.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Rovik developers <developers@rovik.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plug-ins are loaded at run time, out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-zenhei, fonts-liberation2")
# One package of the "suite" component alone (build folder, project, component, sub-folder).
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};suite;/")
set(CPACK_STRIP_FILES ON)
# Installed with DESTDIR, so that install-time files (the desktop entries) name /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
