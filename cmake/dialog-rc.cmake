# Writes the configuration dialog's resource script for the Windows program
# from the table the Linux platform builds the same dialog from, so the
# dialog is written down once:
#   cmake -DSOURCE_DIR=<project> -DOUTPUT=<file.rc> -P dialog-rc.cmake
# It reads src/host/dialog_template.cpp (the frame and one control per line),
# src/host/dialog_template.h (how many controls there are) and
# src/host/host_entry.h (the template's number). A line it cannot read stops
# the build rather than leave a control out. OUTPUT is rewritten only when
# its text changes, so an unrelated edit of the table recompiles nothing.
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR OR NOT OUTPUT)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<project> -DOUTPUT=<file.rc> -P dialog-rc.cmake")
endif()

# The lines of a file as a list. Semicolons and square brackets would upset
# CMake's list splitting, so they are stood in for before the split and put
# back in each line read.
string(ASCII 1 semicolon)
string(ASCII 2 openBracket)
string(ASCII 3 closeBracket)
function(read_lines path out)
  file(READ ${path} text)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "[" "${openBracket}" text "${text}")
  string(REPLACE "]" "${closeBracket}" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
function(restore line out)
  string(REPLACE "${semicolon}" ";" line "${line}")
  string(REPLACE "${openBracket}" "[" line "${line}")
  string(REPLACE "${closeBracket}" "]" line "${line}")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# A C string's contents as a resource script's: \" becomes "". Any other
# escape, or a bare quote, is refused.
function(rc_text text where out)
  string(REPLACE "\\\"" "" bare "${text}")
  if(bare MATCHES "[\"\\\\]")
    message(FATAL_ERROR "${where}: the text \"${text}\" holds an escape other than \\\"")
  endif()
  string(REPLACE "\\\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(READ ${SOURCE_DIR}/src/host/host_entry.h entry)
if(NOT entry MATCHES "kConfigDialogTemplateId = ([0-9]+);")
  message(FATAL_ERROR "host_entry.h: no kConfigDialogTemplateId")
endif()
set(templateId ${CMAKE_MATCH_1})

file(READ ${SOURCE_DIR}/src/host/dialog_template.h header)
if(NOT header MATCHES "kConfigControlCount = ([0-9]+);")
  message(FATAL_ERROR "dialog_template.h: no kConfigControlCount")
endif()
set(expectedCount ${CMAKE_MATCH_1})

# What each kind of control is in a resource script: its class and the style
# bits beyond the WS_CHILD | WS_VISIBLE every CONTROL gets (styleOf in the
# table's file gives the same bits).
set(class_DefaultPushButton BUTTON)
set(style_DefaultPushButton "WS_TABSTOP | BS_DEFPUSHBUTTON")
set(class_PushButton BUTTON)
set(style_PushButton "WS_TABSTOP | BS_PUSHBUTTON")
set(class_Edit EDIT)
set(style_Edit "WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL")
set(class_Label STATIC)
set(style_Label "WS_GROUP | SS_LEFT")
set(class_GroupBox BUTTON)
set(style_GroupBox "BS_GROUPBOX")
# The table's names of the dialog's own style bits.
set(bit_kStylePopup WS_POPUP)
set(bit_kStyleCaption WS_CAPTION)
set(bit_kStyleSysMenu WS_SYSMENU)
set(bit_kDialogModalFrame DS_MODALFRAME)
set(bit_kDialogSetFont DS_SETFONT)

set(table ${SOURCE_DIR}/src/host/dialog_template.cpp)
read_lines(${table} lines)
set(controls "")
set(count 0)
set(frameLine -1)
set(lineNumber 0)
foreach(raw IN LISTS lines)
  math(EXPR lineNumber "${lineNumber} + 1")
  restore("${raw}" line)
  set(where "dialog_template.cpp:${lineNumber}")
  if(line MATCHES "^ *control\\(")
    if(NOT line MATCHES "^ *control\\(([A-Za-z]+), (-?[0-9]+), \"(.*)\", (-?[0-9]+), (-?[0-9]+), ([0-9]+), ([0-9]+)\\),$")
      message(FATAL_ERROR "${where}: not control(Kind, id, \"caption\", x, y, width, height),")
    endif()
    set(kind ${CMAKE_MATCH_1})
    set(id ${CMAKE_MATCH_2})
    set(caption "${CMAKE_MATCH_3}")
    set(box "${CMAKE_MATCH_4}, ${CMAKE_MATCH_5}, ${CMAKE_MATCH_6}, ${CMAKE_MATCH_7}")
    if(NOT DEFINED class_${kind})
      message(FATAL_ERROR "${where}: unknown control kind ${kind}")
    endif()
    rc_text("${caption}" ${where} caption)
    string(APPEND controls
           "    CONTROL \"${caption}\", ${id}, \"${class_${kind}}\", ${style_${kind}}, ${box}\n")
    math(EXPR count "${count} + 1")
  elseif(line MATCHES "^const DialogTemplate configDialogTemplate = {$")
    set(frameLine ${lineNumber})
  elseif(frameLine GREATER 0)
    math(EXPR offset "${lineNumber} - ${frameLine}")
    if(offset EQUAL 1)
      if(NOT line MATCHES "^ *\"(.*)\", (-?[0-9]+), (-?[0-9]+), ([0-9]+), ([0-9]+), \"(.*)\", ([0-9]+),$")
        message(FATAL_ERROR "${where}: not \"caption\", x, y, width, height, \"font\", points,")
      endif()
      set(frameBox "${CMAKE_MATCH_2}, ${CMAKE_MATCH_3}, ${CMAKE_MATCH_4}, ${CMAKE_MATCH_5}")
      set(fontPoints ${CMAKE_MATCH_7})
      rc_text("${CMAKE_MATCH_1}" ${where} frameCaption)
      rc_text("${CMAKE_MATCH_6}" ${where} fontName)
    elseif(offset EQUAL 2)
      if(NOT line MATCHES "^ *(k[A-Za-z]+( \\| k[A-Za-z]+)*),$")
        message(FATAL_ERROR "${where}: not the dialog's style bits, k... | k...,")
      endif()
      string(REPLACE " | " ";" bits "${CMAKE_MATCH_1}")
      set(frameStyle "")
      foreach(bit IN LISTS bits)
        if(NOT DEFINED bit_${bit})
          message(FATAL_ERROR "${where}: no resource script name for ${bit}")
        endif()
        list(APPEND frameStyle ${bit_${bit}})
      endforeach()
      string(REPLACE ";" " | " frameStyle "${frameStyle}")
    elseif(offset EQUAL 3)
      # A DIALOG statement has no extended style.
      if(NOT line MATCHES "^ *0,$")
        message(FATAL_ERROR "${where}: the dialog's extended style must be 0")
      endif()
      set(frameLine -1)
    endif()
  endif()
endforeach()

if(NOT DEFINED frameStyle)
  message(FATAL_ERROR "dialog_template.cpp: no configDialogTemplate frame")
endif()
if(NOT count EQUAL expectedCount)
  message(FATAL_ERROR "dialog_template.cpp: ${count} control lines, kConfigControlCount says ${expectedCount}")
endif()

set(rc "// Made at build time by cmake/dialog-rc.cmake from src/host/dialog_template.cpp.
${templateId} DIALOG ${frameBox}
STYLE ${frameStyle}
CAPTION \"${frameCaption}\"
FONT ${fontPoints}, \"${fontName}\"
BEGIN
${controls}END
")
file(WRITE ${OUTPUT}.new "${rc}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
