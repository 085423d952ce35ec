# What "cmake --install" puts where. The program, its database tool, the metafile helpers and the
# scanner's manager library sit together in one folder (the program finds its helpers beside
# itself, as in the build tree); the commands in bin/ are links into it. The desktop entry, the
# icons and the AppStream data go where the desktop looks for them.
include(GNUInstallDirs)
# A private folder: lib/tenemark under any prefix, also where GNUInstallDirs would pick the
# multiarch folder (prefix /usr on Debian).
set(TENEMARK_INSTALL_DIR lib/tenemark)
# Folders the install makes are 755 whatever the umask, as a package needs them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tenemark tenemark-db tenemark-wmf-render tenemark-emf-render
    RUNTIME DESTINATION ${TENEMARK_INSTALL_DIR})
install(TARGETS tenemark-twaindsm LIBRARY DESTINATION ${TENEMARK_INSTALL_DIR})

install(DIRECTORY DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(command tenemark tenemark-db)
    install(CODE "
        set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        file(RELATIVE_PATH target \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\"
             \"\${CMAKE_INSTALL_PREFIX}/${TENEMARK_INSTALL_DIR}/${command}\")
        message(STATUS \"Installing: \${bin}/${command} -> \${target}\")
        file(CREATE_LINK \"\${target}\" \"\${bin}/${command}\" SYMBOLIC)")
endforeach()

set(TENEMARK_APP_ID example.tenemark.Tenemark)
set(TENEMARK_DESKTOP_DIR ${CMAKE_SOURCE_DIR}/resources/desktop)
set(TENEMARK_ICON_SIZES 16 22 24 32 48 64 128 256)
set(TENEMARK_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(TENEMARK_ICON_FILES)
foreach(size ${TENEMARK_ICON_SIZES})
    list(APPEND TENEMARK_ICON_FILES ${TENEMARK_ICON_DIR}/${size}x${size}/${TENEMARK_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${TENEMARK_ICON_FILES}
    COMMAND tenemark-icon-render ${TENEMARK_DESKTOP_DIR}/${TENEMARK_APP_ID}.svg ${TENEMARK_ICON_DIR}
            ${TENEMARK_APP_ID} ${TENEMARK_ICON_SIZES}
    DEPENDS tenemark-icon-render ${TENEMARK_DESKTOP_DIR}/${TENEMARK_APP_ID}.svg
    COMMENT "Drawing the application icon")
add_custom_target(tenemark-icons ALL DEPENDS ${TENEMARK_ICON_FILES})

foreach(size ${TENEMARK_ICON_SIZES})
    install(FILES ${TENEMARK_ICON_DIR}/${size}x${size}/${TENEMARK_APP_ID}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${TENEMARK_DESKTOP_DIR}/${TENEMARK_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TENEMARK_DESKTOP_DIR}/${TENEMARK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TENEMARK_DESKTOP_DIR}/${TENEMARK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
