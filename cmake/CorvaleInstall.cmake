# What "cmake --install" (and so the Debian package) puts where. The programs keep
# their folder, /usr/lib/corvale, with the web pages and sounds they look for beside
# themselves; /usr/bin has links to them.
set(CORVALE_PROGRAM_DIR lib/corvale)
set(CORVALE_SYSTEMD_UNIT_DIR "" CACHE STRING
    "Folder for corvale.service (default: <prefix>/lib/systemd/system; the environment variable of the same name overrides it at install time)")

install(TARGETS corvale corvale-service corvale-msg corvale-plugin-runner RUNTIME DESTINATION ${CORVALE_PROGRAM_DIR})
# The plug-ins built with the program, and the header for those of others.
install(TARGETS CorvaleDNS CorvaleNTP LIBRARY DESTINATION ${CORVALE_PROGRAM_DIR}/Plugins)
install(FILES ${CMAKE_SOURCE_DIR}/plugins/corvale_plugin.h ${CMAKE_SOURCE_DIR}/plugins/README.md
        DESTINATION share/corvale/plugin-sdk)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/webserver/ DESTINATION ${CORVALE_PROGRAM_DIR}/webserver)
file(GLOB corvale_sounds ${CMAKE_SOURCE_DIR}/sounds/*.wav)
install(FILES ${corvale_sounds} DESTINATION ${CORVALE_PROGRAM_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/hosts.cvlp DESTINATION share/corvale)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/corvale.1 ${CMAKE_SOURCE_DIR}/packaging/corvale-msg.1
        DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/corvale-service.8 DESTINATION share/man/man8)

set(corvale_service_program $<TARGET_FILE:corvale-service>)
install(CODE "
  set(dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(MAKE_DIRECTORY \"\${dest}/bin\")
  foreach(program corvale corvale-service corvale-msg)
    file(CREATE_LINK ../${CORVALE_PROGRAM_DIR}/\${program} \"\${dest}/bin/\${program}\" SYMBOLIC)
  endforeach()
  # The unit comes from the supervisor itself, so it is the one /INSTALL writes.
  set(unit_dir \"${CORVALE_SYSTEMD_UNIT_DIR}\")
  if(DEFINED ENV{CORVALE_SYSTEMD_UNIT_DIR})
    set(unit_dir \"\$ENV{CORVALE_SYSTEMD_UNIT_DIR}\")
  endif()
  if(unit_dir STREQUAL \"\")
    set(unit_dir \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
  endif()
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${unit_dir}\")
  execute_process(
    COMMAND \"${corvale_service_program}\" \"/UNITFILE=\${CMAKE_INSTALL_PREFIX}/${CORVALE_PROGRAM_DIR}/corvale-service\"
    OUTPUT_FILE \"\$ENV{DESTDIR}\${unit_dir}/corvale.service\"
    RESULT_VARIABLE unit_result)
  if(NOT unit_result EQUAL 0)
    message(FATAL_ERROR \"corvale-service /UNITFILE failed: \${unit_result}\")
  endif()
  message(STATUS \"Installing: \$ENV{DESTDIR}\${unit_dir}/corvale.service\")
")
