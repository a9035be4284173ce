# Tests written as shell scripts: the launcher's rules, the Debian package, and the run command
# without a display. They check scripts and packaging, not memory use, so the sanitizer tree
# leaves them out.
if(NOT TAVIO_SANITIZE)
    add_test(NAME packaging_launcher
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/test_launcher.sh $<TARGET_FILE:tavio-localservices>)
    add_test(NAME packaging_package
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/test_package.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    add_test(NAME scripts_run_headless
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/test_run_headless.sh ${CMAKE_BINARY_DIR})
    # COST: rough seconds, so that parallel runs start the long ones first.
    set_tests_properties(packaging_launcher PROPERTIES LABELS packaging TIMEOUT 120 COST 3)
    set_tests_properties(packaging_package PROPERTIES LABELS packaging TIMEOUT 300 COST 15)
    set_tests_properties(scripts_run_headless PROPERTIES LABELS scripts TIMEOUT 180 COST 18)
endif()

# The desktop companion on a private desktop: an X server, a tray host and a notification daemon
# (the same test program also runs offscreen on its own).
add_test(NAME ui_desktop
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ui/on-desktop.sh $<TARGET_FILE:ui_tst_MuDesktopCompanion>)
set_tests_properties(ui_desktop PROPERTIES LABELS ui TIMEOUT 120 COST 5 SKIP_RETURN_CODE 77
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${TAVIO_LSAN_SUPPRESSIONS};ASAN_OPTIONS=${TAVIO_ASAN_OPTIONS}")
