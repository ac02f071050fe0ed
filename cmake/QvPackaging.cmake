# Installation and the Debian package. An installation keeps the programs together in lib/qv/bin (each finds
# the others beside itself: the service, the MOF compiler) and the library in lib/qv/lib (zmrmc loads
# ../lib/libZmrMC.so); the administrators' commands get links in bin. Machine profiles, the schema and the
# documentation go to share/.
include(GNUInstallDirs)

set(QV_INSTALL_PROGRAMS lib/qv/bin)
set(QV_INSTALL_LIBRARY lib/qv/lib)
foreach(program zmrdtct vrxBIOS winmgmt mofcomp wmi zmrmc qvpwdctl)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${QV_INSTALL_PROGRAMS} COMPONENT programs)
  endif()
endforeach()
install(TARGETS ZmrMC LIBRARY DESTINATION ${QV_INSTALL_LIBRARY} COMPONENT programs)
foreach(command zmrmc wmi)
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK ../${QV_INSTALL_PROGRAMS}/${command}
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${command}\" SYMBOLIC)" COMPONENT programs)
endforeach()
file(GLOB QV_PACKAGED_PROFILES ${CMAKE_SOURCE_DIR}/platform/machine/profiles/*.json)
install(FILES ${QV_PACKAGED_PROFILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/qv/profiles COMPONENT programs)
file(GLOB QV_PACKAGED_MOF ${CMAKE_SOURCE_DIR}/mof/*.mof)
install(FILES ${QV_PACKAGED_MOF} DESTINATION ${CMAKE_INSTALL_DATADIR}/qv/mof COMPONENT programs)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/architecture.md
        ${CMAKE_SOURCE_DIR}/docs/machine-profiles.md ${CMAKE_SOURCE_DIR}/docs/performance.md
        ${CMAKE_SOURCE_DIR}/docs/reliability.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qv-instrumented-bios COMPONENT programs)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/wmi.1 ${CMAKE_SOURCE_DIR}/docs/man/zmrmc.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qv-instrumented-bios)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QV Labs <firmware@qv.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware settings through WMI: the BIOS access library, its provider and tools")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_COMPONENTS_ALL programs)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # debugging information stays in the build tree
include(CPack)
