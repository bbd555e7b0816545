# What `cmake --install` puts under the prefix: the program, its desktop entry,
# its icon in the hicolor theme and its AppStream metainfo. The desktop, the
# software centre and the autostart entry all find the program by these names.
set(PEALIX_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

install(TARGETS pealix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PEALIX_DATA_DIR}/${PEALIX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PEALIX_DATA_DIR}/icons/${PEALIX_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PEALIX_DATA_DIR}/${PEALIX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
