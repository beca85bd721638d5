# Compiled-in resources of kelvra_gui:
#   :/resources/icon.ico, :/resources/copy.png   rendered from the SVG artwork here
#   :qdarkstyle/light, :qdarkstyle/dark          the two looks, taken from the
#                                                installed QDarkStyleSheet
# The bundles are registered by kelvra::interface::register_resources().

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

qt5_add_resources(kelvra_resource_sources
    ${kelvra_resources_dir}/kelvra.qrc
    ${KELVRA_QDARKSTYLE_DIR}/light/lightstyle.qrc
    ${KELVRA_QDARKSTYLE_DIR}/dark/darkstyle.qrc)
target_sources(kelvra_gui PRIVATE ${kelvra_resource_sources})
