# The images of the bundle, as resource paths without ".png". The generator in
# imagegen/ paints exactly these; the style sheet and the window refer to them.

set(DATALOGGER_IMAGES)

# Arrows of the dark theme: scroll bars, spin boxes, combo boxes, tab scrollers,
# the side bar and the time columns. "_focus" is the hover look.
foreach(dir up down left right)
    foreach(variant "" _disabled _focus _pressed)
        list(APPEND DATALOGGER_IMAGES dark/arrow_${dir}${variant})
    endforeach()
endforeach()

# Branch marks of the channel tree.
list(APPEND DATALOGGER_IMAGES
    dark/branch_closed dark/branch_closed_focus
    dark/branch_open dark/branch_open_focus
    dark/branch_more dark/branch_end)

# Check boxes (tree items) and radio buttons (settings page).
foreach(state checked unchecked indeterminate)
    foreach(variant "" _disabled _focus _pressed)
        list(APPEND DATALOGGER_IMAGES dark/checkbox_${state}${variant})
    endforeach()
endforeach()
foreach(state checked unchecked)
    foreach(variant "" _disabled _focus _pressed)
        list(APPEND DATALOGGER_IMAGES dark/radio_${state}${variant})
    endforeach()
endforeach()

# Icons of the logging button, the export button and the two tabs.
list(APPEND DATALOGGER_IMAGES
    image/start image/stop image/derive image/confChannel image/DataNetwork)
