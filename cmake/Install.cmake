# Installs the program the way desktop menus expect it, and packs it as a Debian package.
# The executable finds its side files in its own folder, so it lives with them in
# lib/vocorda-call-recorder; bin/ holds a relative link to it.
set(VOCORDA_PROGRAM_DIR lib/vocorda-call-recorder)
set(VOCORDA_APP_ID org.kerrimand.VocordaCallRecorder)

install(TARGETS vocorda-call-recorder RUNTIME DESTINATION ${VOCORDA_PROGRAM_DIR})
install(FILES resources/HAND-M.CUR DESTINATION ${VOCORDA_PROGRAM_DIR})
if(EXISTS "${PROJECT_SOURCE_DIR}/resources/Help Video")
    install(DIRECTORY "resources/Help Video" DESTINATION ${VOCORDA_PROGRAM_DIR})
endif()

set(link ${PROJECT_BINARY_DIR}/install-link/vocorda-call-recorder)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/install-link)
file(CREATE_LINK ../${VOCORDA_PROGRAM_DIR}/vocorda-call-recorder ${link} SYMBOLIC)
install(FILES ${link} DESTINATION bin)

install(FILES resources/desktop/${VOCORDA_APP_ID}.desktop DESTINATION share/applications)
install(FILES resources/desktop/${VOCORDA_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(DIRECTORY resources/icons/hicolor DESTINATION share/icons)

# The embedded encoder is written out and run, so the libraries it loads are ours to depend on.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(FILE_PROGRAM file)
set(shlibs ${PROJECT_BINARY_DIR}/encoder-shlibs)
file(WRITE ${shlibs}/debian/control "Source: encoder\n\nPackage: encoder\nArchitecture: any\n")
execute_process(COMMAND ${DPKG_SHLIBDEPS} -O -e${LAME_EXECUTABLE}
    WORKING_DIRECTORY ${shlibs} OUTPUT_VARIABLE encoder_depends RESULT_VARIABLE rc ERROR_QUIET)
string(REGEX REPLACE "^shlibs:Depends=" "" encoder_depends "${encoder_depends}")
string(STRIP "${encoder_depends}" encoder_depends)

# A package without its dependencies installs and then cannot start: packing refuses instead.
set(VOCORDA_PACKAGE_PROBLEM "")
if(NOT EXISTS "${DPKG_SHLIBDEPS}" OR NOT EXISTS "${FILE_PROGRAM}")
    set(VOCORDA_PACKAGE_PROBLEM "dpkg-shlibdeps and file are needed to work out its dependencies "
        "(Debian: apt-get install dpkg-dev file), then configure again")
elseif(NOT encoder_depends)
    set(VOCORDA_PACKAGE_PROBLEM "the dependencies of the encoder ${LAME_EXECUTABLE} could not be "
        "worked out")
endif()
string(JOIN "" VOCORDA_PACKAGE_PROBLEM ${VOCORDA_PACKAGE_PROBLEM})
configure_file(cmake/PackageCheck.cmake.in ${PROJECT_BINARY_DIR}/PackageCheck.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/PackageCheck.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vocorda-call-recorder)
set(CPACK_PACKAGE_VENDOR Kerrimand)
set(CPACK_PACKAGE_CONTACT "Vocorda developers <vocorda.support@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Record both sides of a voice call into one MP3 file")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins (the window system's, offscreen) at run time: no library links them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${encoder_depends}, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, fonts-liberation")
include(CPack)
