# End-to-end: corvel started with a display (Xvfb) shows its main window; the
# picture of it is kept as build/test-artefacts/console_window.png.
find_program(XVFB_RUN xvfb-run)
find_program(XWININFO xwininfo)
if(TARGET corvel AND TARGET server_console AND XVFB_RUN AND XWININFO AND CORVEL_TESTS)
  add_test(NAME console_window_e2e
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/console_window.sh $<TARGET_FILE:corvel>
            ${CMAKE_BINARY_DIR}/test-artefacts/console_window.png
            ${CMAKE_BINARY_DIR}/test-artefacts/console_window_home)
endif()
