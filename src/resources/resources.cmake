# Compiled-in resources of kelvra_gui:
#   :/resources/icon.ico, :/resources/copy.png   rendered from the SVG artwork here
#   :qdarkstyle/light, :qdarkstyle/dark          the two looks, taken from the
#                                                installed QDarkStyleSheet
# The bundles are registered by kelvra::interface::register_resources().
# Installed: the program's icon for the desktop's icon theme, in
# share/icons/hicolor/ of the installation (scripts/install.sh copies it into
# the user's theme).

# QDarkStyleSheet ships its sheets with their .qrc files (Debian:
# python3-qdarkstyle); they are compiled from where the package put them.
execute_process(
    COMMAND python3 -c "import importlib.util as u; s = u.find_spec('qdarkstyle'); print(s.submodule_search_locations[0] if s else '')"
    OUTPUT_VARIABLE kelvra_qdarkstyle_hint OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
find_path(KELVRA_QDARKSTYLE_DIR NAMES dark/darkstyle.qrc light/lightstyle.qrc
          HINTS ${kelvra_qdarkstyle_hint}
          PATHS /usr/lib/python3/dist-packages/qdarkstyle
          NO_DEFAULT_PATH)
if(NOT KELVRA_QDARKSTYLE_DIR)
    message(FATAL_ERROR "QDarkStyleSheet not found: install python3-qdarkstyle "
                        "(scripts/install-deps.sh), or set KELVRA_QDARKSTYLE_DIR to its "
                        "qdarkstyle folder")
endif()

set(kelvra_artwork_dir ${CMAKE_CURRENT_LIST_DIR})
set(kelvra_resources_dir ${CMAKE_CURRENT_BINARY_DIR}/resources)
configure_file(${kelvra_artwork_dir}/kelvra.qrc ${kelvra_resources_dir}/kelvra.qrc COPYONLY)

# The images; the renderer runs during the build, so sanitizer builds must not
# fail it over the toolkit's leaks at exit.
function(kelvra_render_image svg output size)
    add_custom_command(
        OUTPUT ${kelvra_resources_dir}/${output}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                $<TARGET_FILE:kelvra_icon_render> ${kelvra_artwork_dir}/${svg}
                ${kelvra_resources_dir}/${output} ${size}
        DEPENDS kelvra_icon_render ${kelvra_artwork_dir}/${svg}
        COMMENT "Rendering ${output}"
        VERBATIM)
endfunction()
kelvra_render_image(kelvra.svg icon.ico 256)
kelvra_render_image(copy.svg copy.png 32)

# The icon theme's sizes: the artwork itself, and the two sizes that menus
# and launchers without an SVG loader take.
kelvra_render_image(kelvra.svg kelvra-48.png 48)
kelvra_render_image(kelvra.svg kelvra-256.png 256)
add_custom_target(kelvra_theme_icons ALL
    DEPENDS ${kelvra_resources_dir}/kelvra-48.png ${kelvra_resources_dir}/kelvra-256.png)
install(FILES ${kelvra_artwork_dir}/kelvra.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 48 256)
    install(FILES ${kelvra_resources_dir}/kelvra-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME kelvra.png)
endforeach()

qt5_add_resources(kelvra_resource_sources
    ${kelvra_resources_dir}/kelvra.qrc
    ${KELVRA_QDARKSTYLE_DIR}/light/lightstyle.qrc
    ${KELVRA_QDARKSTYLE_DIR}/dark/darkstyle.qrc)
target_sources(kelvra_gui PRIVATE ${kelvra_resource_sources})
