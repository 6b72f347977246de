# How a part of the program is built. Each subsystem is two static libraries: velda_<name>, its logic
# (no widgets), from the files in its folder, and velda_<name>_ui, its forms, from the files in its ui/
# folder. Both compile with the settings every target shares (velda_settings).
#
#   velda_add_subsystem(<name>
#       LOGIC  <files in src/<name>/>
#       UI     <files in src/<name>/ui/>          (none: no ui library)
#       USES   <subsystems or floors the logic builds on: core, transfer, library, ...>
#       UI_USES <subsystems whose forms the forms build on; core's are always there>
#       LINKS  <outside libraries the logic alone needs>)
#
# USES names only what the code includes; the order of the floors (which may include which) is checked
# by scripts/check-layers.py, not here.
function(velda_add_subsystem name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LOGIC;UI;USES;UI_USES;LINKS")
    list(TRANSFORM arg_USES PREPEND velda_)
    add_library(velda_${name} STATIC ${arg_LOGIC})
    target_link_libraries(velda_${name} PUBLIC ${arg_USES} Qt6::Core Qt6::Sql velda_settings PRIVATE ${arg_LINKS})
    if(arg_UI)
        list(TRANSFORM arg_UI PREPEND ui/)
        list(TRANSFORM arg_UI_USES APPEND _ui)
        list(TRANSFORM arg_UI_USES PREPEND velda_)
        if(NOT name STREQUAL "core")
            list(APPEND arg_UI_USES velda_core_ui)
        endif()
        add_library(velda_${name}_ui STATIC ${arg_UI})
        target_link_libraries(velda_${name}_ui PUBLIC velda_${name} ${arg_UI_USES} Qt6::Widgets velda_settings)
    endif()
endfunction()
