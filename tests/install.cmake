# Installing on a desktop: the launcher entry, the software centre's entry and the manual pages, each
# checked by the tool distributions check them with; an install into a scratch prefix; the Debian package.
set(data ${CMAKE_SOURCE_DIR}/data)
set(app_id io.github.quenmar.Tavelo)

add_test(NAME desktop_entry COMMAND desktop-file-validate ${data}/${app_id}.desktop)
add_test(NAME appstream_metainfo COMMAND appstreamcli validate --no-net --strict ${data}/${app_id}.metainfo.xml)
foreach(page tavelo tavelo-scan)
    add_test(NAME man_${page} COMMAND groff -man -ww -z ${data}/${page}.1)
endforeach()
# These tools report hints and warnings without failing: anything they print is a failure.
set_tests_properties(desktop_entry man_tavelo man_tavelo-scan PROPERTIES FAIL_REGULAR_EXPRESSION ".")

# Both install the build tree (and write its install_manifest.txt): one at a time.
set(install_check ${CMAKE_CURRENT_SOURCE_DIR}/support/install_check.sh)
add_test(NAME install_tree COMMAND bash ${install_check} tree ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
add_test(NAME debian_package COMMAND bash ${install_check} deb ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
set_tests_properties(install_tree debian_package PROPERTIES RESOURCE_LOCK install_manifest TIMEOUT 300
    ENVIRONMENT "CMAKE=${CMAKE_COMMAND};CPACK=${CMAKE_CPACK_COMMAND}")
