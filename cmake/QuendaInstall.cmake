# What `cmake --install` lays out beside bin/quenda: the desktop entry, the AppStream metainfo,
# the icons, the man page, and (optional component "server") the bundled speech server in
# share/quenda/bin/, where the installed quenda looks for it first.
# Paths under share/quenda are literal: the program finds them relative to its executable.

set(QUENDA_APP_ID app.quenda.Quenda)
set(quenda_packaging ${PROJECT_SOURCE_DIR}/packaging)

install(FILES ${quenda_packaging}/${QUENDA_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${quenda_packaging}/${QUENDA_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${quenda_packaging}/icons/${QUENDA_APP_ID}.svg
        DESTINATION share/icons/hicolor/scalable/apps)
# Rendered from the SVG with `rsvg-convert -w 256 -h 256` (librsvg2-bin) and checked in.
install(FILES ${quenda_packaging}/icons/${QUENDA_APP_ID}.png
        DESTINATION share/icons/hicolor/256x256/apps)

# The man page, compressed as Debian ships man pages (-n: no time stamp, so builds repeat).
set(quenda_manpage ${PROJECT_BINARY_DIR}/packaging/quenda.1.gz)
add_custom_command(OUTPUT ${quenda_manpage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${quenda_packaging}/quenda.1 > ${quenda_manpage}
    DEPENDS ${quenda_packaging}/quenda.1
    VERBATIM)
add_custom_target(quenda_manpage ALL DEPENDS ${quenda_manpage})
install(FILES ${quenda_manpage} DESTINATION share/man/man1)

# The speech server, when one was built for this tree: from the folder named by
# QUENDA_BUNDLED_SERVER_DIR in the install's environment (scripts/package names a portable
# build there), else from the one scripts/install-whisper-server fills by default
# (<build>/share/quenda/bin). Without a server the install goes on without one.
install(CODE "set(quenda_tree_server_dir [==[${PROJECT_BINARY_DIR}/share/quenda/bin]==])
              set(quenda_strip [==[${CMAKE_STRIP}]==])"
        COMPONENT server)
install(CODE [==[
  set(quenda_server_dir "$ENV{QUENDA_BUNDLED_SERVER_DIR}")
  if(quenda_server_dir STREQUAL "")
    set(quenda_server_dir "${quenda_tree_server_dir}")
  endif()
  if(EXISTS "${quenda_server_dir}/whisper-server")
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/quenda/bin" TYPE PROGRAM
         FILES "${quenda_server_dir}/whisper-server")
    # Stripped with the rest when the install strips (cpack does).
    if(CMAKE_INSTALL_DO_STRIP AND quenda_strip)
      execute_process(COMMAND "${quenda_strip}"
                      "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/quenda/bin/whisper-server")
    endif()
    # The installer's note of the server's version, which `quenda --cli doctor` shows.
    if(EXISTS "${quenda_server_dir}/whisper-server.build")
      file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/quenda/bin" TYPE FILE
           FILES "${quenda_server_dir}/whisper-server.build")
    endif()
  else()
    message(STATUS "No speech server in ${quenda_server_dir}: installed without one")
  endif()
]==] COMPONENT server)
